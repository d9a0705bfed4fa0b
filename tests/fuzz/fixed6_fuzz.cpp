// Fuzz target: the six-decimal formatter against the C library's "%f", on
// the double made of the input's first eight bytes, and on that double's
// neighbours and scaled copies, which land near ties and powers of ten.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "text_format.hpp"

namespace {
void check(double v) {
  char want[400], got[400];
  const int n = std::snprintf(want, sizeof want, "%f", v);
  const char* end = hedm::format_fixed6(got, v);
  if (end - got != n || std::memcmp(want, got, static_cast<std::size_t>(n)) != 0) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, data, size < 8 ? size : 8);
  double v;
  std::memcpy(&v, &bits, sizeof v);
  check(v);
  if (std::isfinite(v)) {
    check(std::nextafter(v, INFINITY));
    check(std::nextafter(v, -INFINITY));
    const int exponent = size > 8 ? data[8] % 40 - 20 : 0;
    check(std::ldexp(std::fmod(std::fabs(v), 1.0), exponent));
  }
  return 0;
}
