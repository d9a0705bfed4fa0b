#include "text_format.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace hedm {

namespace {

// "00" to "99": two digits at a time.
constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The decimal digits of v, most significant first, no leading zeros ("0"
// for 0).
char* put_unsigned(char* p, std::uint64_t v) {
  char buf[20];
  char* end = buf + sizeof buf;
  char* q = end;
  while (v >= 100) {
    const unsigned pair = static_cast<unsigned>(v % 100);
    v /= 100;
    q -= 2;
    std::memcpy(q, kPairs + 2 * pair, 2);
  }
  if (v >= 10) {
    q -= 2;
    std::memcpy(q, kPairs + 2 * v, 2);
  } else {
    *--q = static_cast<char>('0' + v);
  }
  std::memcpy(p, q, static_cast<std::size_t>(end - q));
  return p + (end - q);
}

// Six digits of v < 1,000,000, zeros in front.
char* put_six(char* p, unsigned v) {
  const unsigned hi = v / 10000, mid = v / 100 % 100, lo = v % 100;
  std::memcpy(p, kPairs + 2 * hi, 2);
  std::memcpy(p + 2, kPairs + 2 * mid, 2);
  std::memcpy(p + 4, kPairs + 2 * lo, 2);
  return p + 6;
}

// Below this magnitude the value times 10^6 fits 64 bits, and the whole
// rounding is done exactly in 128-bit integers.
constexpr double kFastLimit = 1e13;

}  // namespace

char* format_fixed6(char* p, double v) {
  if (!(std::fabs(v) < kFastLimit)) {  // large, infinite or not a number
    if (std::isnan(v)) {
      // glibc prints the sign of a NaN: "-nan" for one with its sign bit set.
      const char* s = std::signbit(v) ? "-nan" : "nan";
      const std::size_t n = std::strlen(s);
      std::memcpy(p, s, n);
      return p + n;
    }
    return std::to_chars(p, p + kMaxFixed6Chars, v, std::chars_format::fixed, 6).ptr;
  }
  // |v| = m * 2^e exactly; "%f" prints |v| * 10^6 rounded to the nearest
  // integer, ties to even, as N / 10^6 with six decimals.
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  const int biased = static_cast<int>(bits >> 52 & 0x7ff);
  std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
  int e;
  if (biased == 0) {
    e = -1074;  // subnormal (or zero)
  } else {
    m |= std::uint64_t{1} << 52;
    e = biased - 1075;
  }
  const unsigned __int128 scaled = static_cast<unsigned __int128>(m) * 1000000u;  // < 2^73
  std::uint64_t N;
  if (e >= 0) {
    N = static_cast<std::uint64_t>(scaled << e);  // |v| < 1e13: no bits lost
  } else if (e < -127) {
    N = 0;  // |v| * 10^6 < 2^73 * 2^-128: below one half
  } else {
    const int s = -e;
    const unsigned __int128 q = scaled >> s;
    const unsigned __int128 r = scaled - (q << s);
    const unsigned __int128 half = static_cast<unsigned __int128>(1) << (s - 1);
    N = static_cast<std::uint64_t>(q) + ((r > half || (r == half && (q & 1))) ? 1 : 0);
  }
  if (bits >> 63) *p++ = '-';  // "-0.000000" for every negative value that rounds to zero
  p = put_unsigned(p, N / 1000000);
  *p++ = '.';
  return put_six(p, static_cast<unsigned>(N % 1000000));
}

char* format_int(char* p, long long v) { return std::to_chars(p, p + 24, v).ptr; }

}  // namespace hedm
