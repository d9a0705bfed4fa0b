// Numbers on the command line, read whole or refused.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "command_line.hpp"

namespace {

// The rule read independently: only the characters of a decimal spelling
// between optional white space, strtold taking all of them, and a finite
// value that is whole and within 32 bits.
bool rule_accepts(const std::string& text, long double* value) {
  std::size_t b = 0, e = text.size();
  while (b < e && std::strchr(" \t\n\v\f\r", text[b])) ++b;
  while (e > b && std::strchr(" \t\n\v\f\r", text[e - 1])) --e;
  const std::string core = text.substr(b, e - b);
  if (core.empty() || core.find_first_not_of("+-.eE0123456789") != std::string::npos) return false;
  char* end = nullptr;
  *value = std::strtold(core.c_str(), &end);
  if (end != core.c_str() + core.size()) return false;
  // A tiny value that strtold rounds to zero is not zero.
  const std::string mantissa = core.substr(0, core.find_first_of("eE"));
  if (*value == 0 && mantissa.find_first_of("123456789") != std::string::npos) return false;
  return std::isfinite(*value) && *value == std::truncl(*value) && *value >= -2147483648.0L &&
         *value <= 2147483647.0L;
}

}  // namespace

TEST(ReadWholeNumber, AcceptsWholeSpellingsAndRefusesSlips) {
  struct Case {
    const char* text;
    bool ok;
    std::int32_t value;
  };
  const Case cases[] = {
      {"42", true, 42},          {"  -7 ", true, -7},       {"+5", true, 5},
      {"14000.0", true, 14000},  {"1.4e4", true, 14000},    {"1.4E+4", true, 14000},
      {"-0", true, 0},           {"000.000", true, 0},      {".5e1", true, 5},
      {"5.", true, 5},           {"2147483647", true, 2147483647},
      {"-2147483648", true, INT32_MIN},                     {"21474836470e-1", true, 2147483647},
      {"14k", false, 0},         {"1x", false, 0},          {"", false, 0},
      {"  ", false, 0},          {"0x10", false, 0},        {"nan", false, 0},
      {"inf", false, 0},         {"1.5", false, 0},         {"1.4e3.0", false, 0},
      {"1e", false, 0},          {"- 4", false, 0},         {"1 4", false, 0},
      {".", false, 0},           {"2147483648", false, 0},  {"-2147483649", false, 0},
      {"1e999999999999", false, 0},                         {"1.00000000001", false, 0},
      {"99999999999", false, 0}, {"1e-999999999999", false, 0},
  };
  for (const Case& c : cases) {
    const hedm::Result<std::int32_t> v = hedm::read_whole_number(c.text, "N");
    EXPECT_EQ(static_cast<bool>(v), c.ok) << '"' << c.text << '"';
    if (c.ok) {
      EXPECT_EQ(*v, c.value) << '"' << c.text << '"';
    } else {
      EXPECT_EQ(v.error().kind, hedm::ErrorKind::Argument);
      EXPECT_EQ(v.error().text.rfind(std::string("N \"") + c.text + "\" is ", 0), 0u) << v.error().text;
    }
  }
}

TEST(ReadWholeNumber, AgreesWithTheRuleOnRandomText) {
  std::mt19937 rng(7);
  const char alphabet[] = " +-.eE0123456789x";
  for (int i = 0; i < 200000; ++i) {
    std::string text(rng() % 12, ' ');
    for (char& ch : text) ch = alphabet[rng() % (sizeof alphabet - 1)];
    long double expected = 0;
    const bool accepts = rule_accepts(text, &expected);
    const hedm::Result<std::int32_t> v = hedm::read_whole_number(text.c_str(), "N");
    ASSERT_EQ(static_cast<bool>(v), accepts) << '"' << text << '"';
    if (accepts) {
      ASSERT_EQ(*v, expected) << '"' << text << '"';
    }
  }
}

TEST(ReadDecimalNumber, TakesWholeDecimalsOnly) {
  struct Case {
    const char* text;
    bool ok;
    double value;
  };
  const Case cases[] = {{"99.5", true, 99.5}, {" 1 ", true, 1.0},  {"1e-1", true, 0.1}, {"-.25", true, -0.25},
                        {"99.5%", false, 0},  {"0x1p3", false, 0}, {"nan", false, 0},   {"1e999", false, 0},
                        {"", false, 0}};
  for (const Case& c : cases) {
    const hedm::Result<double> v = hedm::read_decimal_number(c.text, "LOW%");
    EXPECT_EQ(static_cast<bool>(v), c.ok) << '"' << c.text << '"';
    if (c.ok) {
      EXPECT_EQ(*v, c.value);
    }
  }
}
