#include "param_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "line_reader.hpp"

namespace hedm {

namespace {

// A number that ends at line[end] followed at once by a comma and a digit:
// "1,5", a decimal comma, which the scan would read as 1.
bool decimal_comma(const char* line, int end) {
  return line[end] == ',' && line[end + 1] >= '0' && line[end + 1] <= '9';
}

}  // namespace

const ParamKey* apply_param_line(const char* line, std::span<ParamKey> keys) {
  const std::size_t len = std::strlen(line);
  for (ParamKey& k : keys) {
    if (len < k.key.size() || std::memcmp(line, k.key.data(), k.key.size()) != 0) continue;
    char dummy[1000];
    int end = 0;
    if (int** i = std::get_if<int*>(&k.dest)) {
      int v;
      if (std::sscanf(line, "%999s %d%n", dummy, &v, &end) == 2) {
        if (decimal_comma(line, end)) return &k;
        **i = v;
        k.set = true;
      }
    } else if (double** d = std::get_if<double*>(&k.dest)) {
      double v;
      if (std::sscanf(line, "%999s %lf%n", dummy, &v, &end) == 2) {
        if (decimal_comma(line, end)) return &k;
        **d = v;
        k.set = true;
      }
    } else {
      char word[1000];
      if (std::sscanf(line, "%999s %999s", dummy, word) == 2) {
        *std::get<std::string*>(k.dest) = word;
        k.set = true;
      }
    }
    return nullptr;  // the first matching key takes the line
  }
  return nullptr;
}

Status read_param_file(const std::string& path, std::span<ParamKey> keys) {
  LineReader lines;
  if (Status s = lines.open(path, "the parameter file"); !s) return s;
  const char* line;
  std::size_t length;
  while (lines.next(&line, &length)) {
    if (const ParamKey* k = apply_param_line(line, keys)) {
      std::string text(line);
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      return input_error(std::string(k->key.substr(0, k->key.size() - 1)) + " on line " + std::to_string(lines.line()) +
                         " of " + path + " (\"" + text + "\") has a decimal comma: write the number with a point.");
    }
  }
  return lines.status();
}

std::string missing_keys(std::span<const ParamKey> keys) {
  std::string out;
  for (const ParamKey& k : keys) {
    if (k.set || !k.required) continue;
    if (!out.empty()) out += ", ";
    out += k.key.substr(0, k.key.size() - 1);
  }
  return out;
}

}  // namespace hedm
