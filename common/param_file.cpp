#include "param_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "line_reader.hpp"

namespace hedm {

void apply_param_line(const char* line, std::span<ParamKey> keys) {
  const std::size_t len = std::strlen(line);
  for (ParamKey& k : keys) {
    if (len < k.key.size() || std::memcmp(line, k.key.data(), k.key.size()) != 0) continue;
    char dummy[1000];
    if (int** i = std::get_if<int*>(&k.dest)) {
      int v;
      if (std::sscanf(line, "%999s %d", dummy, &v) == 2) {
        **i = v;
        k.set = true;
      }
    } else if (double** d = std::get_if<double*>(&k.dest)) {
      double v;
      if (std::sscanf(line, "%999s %lf", dummy, &v) == 2) {
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
    return;  // the first matching key takes the line
  }
}

Status read_param_file(const std::string& path, std::span<ParamKey> keys) {
  LineReader lines;
  if (const int e = lines.open(path)) {
    // A folder opens but holds no lines: said as a read failure, as ever.
    return Error{ErrorKind::Input, std::string(e == EISDIR ? "Could not read" : "Could not open") +
                                       " the parameter file " + path + ": " + std::strerror(e) + "."};
  }
  const char* line;
  std::size_t length;
  while (lines.next(&line, &length)) apply_param_line(line, keys);
  if (lines.error())
    return Error{ErrorKind::Input, "Could not read the parameter file " + path + ": " + std::strerror(lines.error()) + "."};
  return ok();
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
