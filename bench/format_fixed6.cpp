// "%f" through fprintf against the project's to_chars formatting, writing the
// same values to /dev/null:  format_fixed6 [count]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "io.hpp"

int main(int argc, char** argv) {
  const std::size_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 20000000;
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> u(-200, 200);
  std::vector<double> v(n);
  for (double& x : v) x = u(rng);
  using clock = std::chrono::steady_clock;

  auto t0 = clock::now();
  std::FILE* f = std::fopen("/dev/null", "w");
  for (double x : v) std::fprintf(f, "%f ", x);
  std::fclose(f);
  auto t1 = clock::now();
  std::string err;
  hedm::OutputFile file;
  if (!file.create("/dev/null", &err)) return 1;
  {
    hedm::TextWriter out(file);
    for (double x : v) out.fixed6(x), out.put(' ');
    if (!out.flush(&err)) return 1;
  }
  file.commit(&err);
  auto t2 = clock::now();
  const double a = std::chrono::duration<double>(t1 - t0).count(), b = std::chrono::duration<double>(t2 - t1).count();
  std::printf("%zu values: fprintf %.3f s (%.0f ns/value), to_chars %.3f s (%.0f ns/value), %.1fx\n", n, a,
              a / n * 1e9, b, b / n * 1e9, a / b);
  return 0;
}
