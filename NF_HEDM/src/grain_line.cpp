#include "grain_line.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace hedm {

namespace {

inline bool space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A plain decimal number ("-12.0345": an optional minus, digits, at most
// one point) of at most 15 significant digits and 22 decimals, read exactly:
// its digits as an integer m < 10^15, exact as a double, divided by the
// power of ten of its decimals, also exact, is one correctly rounded
// division, the value strtod gives.  False for anything else (an exponent,
// more digits), which from_chars then reads.
bool read_plain_decimal(const char* p, const char* end, double* out) {
  static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                      1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  const bool negative = *p == '-';
  p += negative;
  std::uint64_t m = 0;
  int significant = 0, decimals = 0;
  bool point = false, digit = false;
  for (; p < end; ++p) {
    if (*p == '.' && !point) {
      point = true;
      continue;
    }
    if (*p < '0' || *p > '9') return false;
    digit = true;
    if (m == 0 && *p == '0') {  // a leading zero adds no significant digit
      decimals += point;
      continue;
    }
    if (++significant > 15) return false;
    m = m * 10 + static_cast<unsigned>(*p - '0');
    decimals += point;
  }
  if (!digit || decimals > 22) return false;
  const double v = static_cast<double>(m) / kPow10[decimals];
  *out = negative ? -v : v;
  return true;
}

// The field kinds of a grain line, in order: 'd' integer, 'f' real, 's' word.
constexpr char kFields[] = "dfffffffffsssffffffssss";
constexpr int kFieldCount = 23;

// The common case without the C library's scanner: every field a plain
// token that converts whole (digits for the integer, a decimal number for the
// reals).  Returns false, leaving *g untouched, for anything else; then the
// C library decides what the line holds.
bool scan_plain(const char* p, Grain* g, int* fields) {
  Grain out = *g;
  int n = 0;
  for (; n < kFieldCount; ++n) {
    while (space(*p)) ++p;
    if (!*p) break;
    const char* start = p;
    while (*p && !space(*p)) ++p;
    const char kind = kFields[n];
    if (kind == 's') continue;
    // Numbers must start with a digit or a point after an optional minus:
    // "inf", "nan", "+1" and the like go to the C library.
    const char* digits = start + (*start == '-');
    if (!((*digits >= '0' && *digits <= '9') || *digits == '.')) return false;
    if (kind == 'd') {
      if (p - start > 10) return false;  // keep clear of 32-bit overflow
      std::int64_t v = 0;
      for (const char* c = digits; c < p; ++c) {
        if (*c < '0' || *c > '9') return false;
        v = v * 10 + (*c - '0');
      }
      if (*start == '-') v = -v;
      if (v > INT32_MAX || v < INT32_MIN) return false;
      out.GrainID = static_cast<std::int32_t>(v);
    } else {
      double v;
      if (!read_plain_decimal(start, p, &v)) {
        auto r = std::from_chars(start, p, v);
        if (r.ec != std::errc() || r.ptr != p) return false;  // converts whole, in range
      }
      if (n <= 9) {
        out.OrientMatrix[n - 1] = v;  // fields 1 to 9: the matrix, row by row
      } else {
        out.LatC[n - 13] = v;  // fields 13 to 18: the lattice parameters
      }
    }
  }
  *g = out;
  *fields = n;
  return true;
}

// The C library's scanner, one field at a time, so that a word of any
// length is one field (a bounded "%999s" would split a longer one): each
// number converted as "%d" or "%lf" converts it, from where the field before
// stopped, each word passed over whole.  Returns what sscanf with the
// 23-field format returns: the fields converted, or -1 when the line ends
// before the first.
int scan_fields(const char* p, Grain* g) {
  int n = 0;
  for (; n < kFieldCount; ++n) {
    int used = 0, got = 0;
    switch (kFields[n]) {
      case 'd':
        got = std::sscanf(p, "%d%n", &g->GrainID, &used);
        break;
      case 'f':
        got = std::sscanf(p, "%lf%n", n <= 9 ? &g->OrientMatrix[n - 1] : &g->LatC[n - 13], &used);
        break;
      default:
        while (space(*p)) ++p;
        got = *p ? 1 : -1;
        while (*p && !space(*p)) ++p;
    }
    if (got != 1) return n == 0 ? got : n;
    p += used;
  }
  return n;
}

}  // namespace

int scan_grain_line(const char* line, Grain* g) {
  int fields = 0;
  if (is_blank(line)) return -1;
  if (scan_plain(line, g, &fields)) return fields;
  return scan_fields(line, g);
}

void LongGrainLine::start(const char* piece, std::size_t length) {
  text_.clear();
  fields_ = 0;
  inField_ = done_ = cut_ = false;
  add(piece, length);
}

void LongGrainLine::add(const char* piece, std::size_t length) {
  if (done_) return;
  const std::size_t n = ::strnlen(piece, length);  // a zero byte ends the line for scanning
  std::size_t take = n;
  for (std::size_t i = 0; i < n; ++i) {
    if (!space(piece[i])) {
      inField_ = true;
    } else if (inField_) {
      inField_ = false;
      if (++fields_ == kFieldCount) {
        take = i + 1;
        done_ = true;
        break;
      }
    }
  }
  text_.append(piece, take);
  done_ = done_ || n < length;
  if (text_.size() > kMaxChars) {
    std::size_t end = kMaxChars;
    while (end > 0 && !space(text_[end - 1])) --end;
    text_.resize(end);
    done_ = cut_ = true;
  }
}

bool is_blank(const char* line) {
  for (; *line; ++line)
    if (!space(*line)) return false;
  return true;
}

}  // namespace hedm
