#include "command_line.hpp"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "report.hpp"

namespace hedm {

namespace {

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A decimal spelling taken apart: value = (-1 if negative) * digits * 10^exponent.
struct Decimal {
  bool negative = false;
  std::string digits;         // the integer digits, then the fraction digits
  std::int64_t exponent = 0;  // saturates far beyond any 32-bit number
};

// Takes apart [space][sign](digits[.digits] | .digits)[(e|E)[sign]digits][space];
// false for anything else.
bool scan_decimal(const char* s, Decimal* d) {
  while (is_space(*s)) ++s;
  if (*s == '+' || *s == '-') d->negative = (*s++ == '-');
  std::int64_t fractionDigits = 0;
  while (is_digit(*s)) d->digits.push_back(*s++);
  if (*s == '.') {
    ++s;
    for (; is_digit(*s); ++fractionDigits) d->digits.push_back(*s++);
  }
  if (d->digits.empty()) return false;
  std::int64_t exponent = 0;
  if (*s == 'e' || *s == 'E') {
    ++s;
    bool negative = false;
    if (*s == '+' || *s == '-') negative = (*s++ == '-');
    if (!is_digit(*s)) return false;
    for (; is_digit(*s); ++s)
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (*s - '0');
    if (negative) exponent = -exponent;
  }
  while (is_space(*s)) ++s;
  if (*s != '\0') return false;
  d->exponent = exponent - fractionDigits;
  return true;
}

Error refused(const char* what, const char* text, const char* why) {
  return argument_error(std::string(what) + " \"" + text + "\" " + why);
}

}  // namespace

Result<std::int32_t> read_whole_number(const char* text, const char* what) {
  Decimal d;
  if (!scan_decimal(text, &d)) return refused(what, text, "is not a whole number.");
  // The significant digits, exactly: no rounding can make 1.00000000001 whole.
  const std::size_t first = d.digits.find_first_not_of('0');
  if (first == std::string::npos) return 0;
  std::size_t last = d.digits.size();
  std::int64_t exponent = d.exponent;
  for (; d.digits[last - 1] == '0'; --last) ++exponent;
  if (exponent < 0) return refused(what, text, "is not a whole number.");
  const std::int64_t nDigits = static_cast<std::int64_t>(last - first) + exponent;
  std::int64_t v = 0;
  if (nDigits <= 10) {
    for (std::size_t i = first; i < last; ++i) v = v * 10 + (d.digits[i] - '0');
    for (std::int64_t i = 0; i < exponent; ++i) v *= 10;
    if (d.negative) v = -v;
  }
  if (nDigits > 10 || v < INT32_MIN || v > INT32_MAX) return refused(what, text, "is outside -2147483648 to 2147483647.");
  return static_cast<std::int32_t>(v);
}

Result<double> read_decimal_number(const char* text, const char* what) {
  Decimal d;
  if (!scan_decimal(text, &d)) return refused(what, text, "is not a decimal number.");
  const double v = std::strtod(text, nullptr);
  if (!std::isfinite(v)) return refused(what, text, "is too large.");
  return v;
}

const char* version() { return HEDM_VERSION; }

int answer_help_or_version(int argc, char** argv, const char* program, const char* help) {
  if (argc != 2) return -1;
  if (std::strcmp(argv[1], "--help") == 0) {
    sayf("%s", help);
    return 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    sayf("%s (HEDM reduction) %s\n", program, version());
    return 0;
  }
  return -1;
}

}  // namespace hedm
