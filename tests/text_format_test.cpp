// Six-decimal and integer text with exactly the digits of C's printf.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "command_line.hpp"
#include "frame_file.hpp"
#include "processor_time.hpp"
#include "text_format.hpp"

namespace {

std::string printf_f(double v) {
  char buf[400];
  std::snprintf(buf, sizeof buf, "%f", v);
  return buf;
}

std::string fixed6(double v) {
  char buf[400];
  return std::string(buf, hedm::format_fixed6(buf, v));
}

}  // namespace

TEST(FormatFixed6, PrintsTheDigitsOfPercentF) {
  const double values[] = {0.0,
                           -0.0,
                           1.0,
                           -1.5,
                           0.0078125,   // a tie at the sixth decimal, exactly representable
                           0.0000005,   // just off a tie
                           2.5e-7,
                           -2.5e-7,     // rounds to -0.000000
                           0.1,
                           1.154700538379251,
                           123456789.123456789,
                           1e22,
                           1e300,
                           -std::numeric_limits<double>::max(),
                           std::numeric_limits<double>::min(),
                           std::numeric_limits<double>::denorm_min(),
                           std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN(),
                           -std::numeric_limits<double>::quiet_NaN(),
                           0.9999995,
                           999999.9999995,
                           4.0800000000000001};
  for (double v : values) {
    char expect[400], got[400];
    std::snprintf(expect, sizeof expect, "%f", v);
    char* end = hedm::format_fixed6(got, v);
    EXPECT_EQ(std::string(got, end), std::string(expect)) << v;
  }
  // Halves at the sixth decimal over a range of magnitudes.
  for (int i = 0; i < 20000; ++i) {
    double v = (i * 2 + 1) / 2e6 * (i % 2 ? 1 : -1) + (i % 7) * 1024.0;
    char expect[400], got[400];
    std::snprintf(expect, sizeof expect, "%f", v);
    char* end = hedm::format_fixed6(got, v);
    ASSERT_EQ(std::string(got, end), std::string(expect)) << v;
  }
}

TEST(FormatInt, PrintsTheDigitsOfPercentD) {
  for (long long v : {0LL, 7LL, -7LL, 2147483647LL, -2147483648LL, -9223372036854775807LL - 1}) {
    char expect[40], got[40];
    std::snprintf(expect, sizeof expect, "%lld", v);
    EXPECT_EQ(std::string(got, hedm::format_int(got, v)), expect);
  }
}

// The classes that break fixed-point formatters, each with its neighbours
// on both sides.
TEST(FormatFixed6, MatchesPrintfOnTheHardCases) {
  std::vector<double> cases = {0.0, -0.0, 5e-7, -5e-7, 4.9999999999999996e-7, 1.5e-6, 2.5e-6, 0.5, 1.5, 2.5,
                               1e13, 9999999999999.998, 1e13 - 0.5, 9007199254740992.0, 1.8446744073709552e19,
                               std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest(),
                               std::numeric_limits<double>::min(), std::numeric_limits<double>::denorm_min(),
                               std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN()};
  // Exact ties at the sixth decimal: odd multiples of 1/128 (times 10^6 they
  // end in .5), over many magnitudes, both signs.
  for (long k = 1; k < 200000; k += 2) cases.push_back(static_cast<double>(k) / 128);
  for (long k = 1; k < 4000; k += 2) cases.push_back(-static_cast<double>(k) * 1048576.0 / 128);
  // The last values before each power of ten, and the powers themselves.
  for (int e = -10; e <= 22; ++e) cases.push_back(std::pow(10.0, e));
  std::vector<double> all;
  for (double v : cases)
    for (double w : {std::nextafter(v, -INFINITY), v, std::nextafter(v, INFINITY)}) {
      all.push_back(w);
      all.push_back(-w);
    }
  for (double v : all) ASSERT_EQ(fixed6(v), printf_f(v)) << std::hexfloat << v;
}

TEST(FormatFixed6, MatchesPrintfOnRandomDoublesOfEveryMagnitude) {
  std::mt19937_64 rng(2024);
  std::uniform_real_distribution<double> decade(-12, 14), unit(-1, 1);
  for (int i = 0; i < 2000000; ++i) {
    double v;
    switch (i % 4) {
      case 0: {  // any bit pattern: every exponent, subnormals, inf and NaN
        const std::uint64_t bits = rng();
        std::memcpy(&v, &bits, sizeof v);
        break;
      }
      case 1: v = unit(rng) * std::pow(10.0, decade(rng)); break;  // the range that occurs
      case 2: v = std::round(unit(rng) * 1e9) / 1e6 + unit(rng) * 1e-9; break;  // near the sixth decimal
      default: v = static_cast<double>(static_cast<std::int64_t>(rng() % 2000001) - 1000000) / 2e6; break;  // halves of 1e-6
    }
    ASSERT_EQ(fixed6(v), printf_f(v)) << std::hexfloat << v;
  }
}
