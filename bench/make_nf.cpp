// Writes near-field inputs for benchmarks and demos:
//   make_nf results <path> <rows> [nSaves]  a binary result file of <rows> rows of
//       11 doubles and <path>.AllMatches of rows of 4 * nSaves + 7 doubles
//   make_nf grains <path> <lines>           a grain list of random rotations
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "io.hpp"

using namespace hedm;

namespace {

bool write_doubles(const std::string& path, long rows, int cols, std::mt19937_64& rng) {
  std::string err;
  OutputFile out;
  if (!out.create(path, &err)) return std::puts(err.c_str()), false;
  std::uniform_real_distribution<double> u(-180, 180);
  std::vector<double> row(static_cast<std::size_t>(cols));
  for (long r = 0; r < rows; ++r) {
    row[0] = static_cast<double>(r);
    row[1] = static_cast<double>(rng() % 50);
    for (int c = 2; c < cols; ++c) row[c] = u(rng);
    row[5] = 0.5;  // TriEdgeSize
    if (!out.write(row.data(), row.size() * sizeof(double), &err)) return std::puts(err.c_str()), false;
  }
  return out.commit(&err) || (std::puts(err.c_str()), false);
}

bool write_grains(const std::string& path, long lines, std::mt19937_64& rng) {
  std::string err;
  OutputFile file;
  if (!file.create(path, &err)) return std::puts(err.c_str()), false;
  TextWriter out(file);
  out.put("%GrainID O11 O12 O13 O21 O22 O23 O31 O32 O33 X Y Z a b c alpha beta gamma DiffPos DiffOme DiffAngle Radius\n");
  std::normal_distribution<double> g;
  char line[512];
  for (long i = 1; i <= lines; ++i) {
    double w = g(rng), x = g(rng), y = g(rng), z = g(rng);
    const double n = std::sqrt(w * w + x * x + y * y + z * z);
    w /= n, x /= n, y /= n, z /= n;
    std::snprintf(line, sizeof line,
                  "%ld %.9f %.9f %.9f %.9f %.9f %.9f %.9f %.9f %.9f %.3f %.3f %.3f 4.0800 4.0800 4.0800 "
                  "90.0000 90.0000 90.0000 %.4f %.4f %.4f %.2f\n",
                  i, 1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y), 2 * (x * y + w * z),
                  1 - 2 * (x * x + z * z), 2 * (y * z - w * x), 2 * (x * z - w * y), 2 * (y * z + w * x),
                  1 - 2 * (x * x + y * y), g(rng) * 100, g(rng) * 100, g(rng) * 100, std::fabs(g(rng)),
                  std::fabs(g(rng)), std::fabs(g(rng)), 20 + std::fabs(g(rng)) * 10);
    out.put(line);
  }
  return (out.flush(&err) && file.commit(&err)) || (std::puts(err.c_str()), false);
}

}  // namespace

int main(int argc, char** argv) {
  std::mt19937_64 rng(42);
  if (argc >= 4 && std::strcmp(argv[1], "results") == 0) {
    const long rows = std::atol(argv[3]);
    const int nSaves = argc > 4 ? std::atoi(argv[4]) : 1;
    return write_doubles(argv[2], rows, 11, rng) &&
                   write_doubles(std::string(argv[2]) + ".AllMatches", rows, 4 * nSaves + 7, rng)
               ? 0
               : 1;
  }
  if (argc >= 4 && std::strcmp(argv[1], "grains") == 0)
    return write_grains(argv[2], std::atol(argv[3]), rng) ? 0 : 1;
  std::puts("usage: make_nf results <path> <rows> [nSaves] | make_nf grains <path> <lines>");
  return 1;
}
