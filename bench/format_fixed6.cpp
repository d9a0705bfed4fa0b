// "%f" three ways over the same values, written to /dev/null: fprintf, the
// standard library's std::to_chars with fixed precision, and the project's
// exact fixed-point formatter (format_fixed6, through TextWriter).
//   format_fixed6 [count]
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "output_file.hpp"
#include "text_writer.hpp"

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
  f = std::fopen("/dev/null", "w");
  std::vector<char> buf(1 << 20);
  std::size_t len = 0;
  for (double x : v) {
    if (len > buf.size() - 400) {
      std::fwrite(buf.data(), 1, len, f);
      len = 0;
    }
    len = static_cast<std::size_t>(std::to_chars(buf.data() + len, buf.data() + buf.size(), x, std::chars_format::fixed, 6).ptr - buf.data());
    buf[len++] = ' ';
  }
  std::fwrite(buf.data(), 1, len, f);
  std::fclose(f);
  auto t2 = clock::now();
  std::string err;
  hedm::OutputFile file;
  if (!file.create("/dev/null", &err)) return 1;
  {
    hedm::TextWriter out(file);
    for (double x : v) {
      out.fixed6(x);
      out.put(' ');
    }
    if (!out.flush(&err)) return 1;
  }
  if (!file.commit(&err)) return 1;
  auto t3 = clock::now();
  const double a = std::chrono::duration<double>(t1 - t0).count(), b = std::chrono::duration<double>(t2 - t1).count(),
               c = std::chrono::duration<double>(t3 - t2).count();
  std::printf("%zu values: fprintf %.0f ns/value, std::to_chars %.0f ns/value, format_fixed6 %.0f ns/value "
              "(%.1fx fprintf, %.1fx to_chars)\n",
              n, a / n * 1e9, b / n * 1e9, c / n * 1e9, a / c, b / c);
  return 0;
}
