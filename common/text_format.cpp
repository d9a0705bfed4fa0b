#include "text_format.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

namespace hedm {

char* format_fixed6(char* p, double v) {
  if (std::isnan(v)) {
    // glibc prints the sign of a NaN: "-nan" for one with its sign bit set.
    const char* s = std::signbit(v) ? "-nan" : "nan";
    std::size_t n = std::strlen(s);
    std::memcpy(p, s, n);
    return p + n;
  }
  return std::to_chars(p, p + kMaxFixed6Chars, v, std::chars_format::fixed, 6).ptr;
}

char* format_int(char* p, long long v) { return std::to_chars(p, p + 24, v).ptr; }

}  // namespace hedm
