#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "frame_file.hpp"
#include "text_format.hpp"
#include "util.hpp"

TEST(Atoi32, ReadsNumbersAsAtoiDoes) {
  const char* cases[] = {"42",  "  -7",  "+5x", "abc", "",       "12.9",      "2147483647",
                         "-2147483648", "2147483648", "99999999999", "-99999999999999999999",
                         "\t\n 3", "0x10", "- 4"};
  for (const char* s : cases) EXPECT_EQ(hedm::atoi32(s), std::atoi(s)) << '"' << s << '"';
}

TEST(FrameLayout, CountsCompleteFramesFromTheFileSize) {
  struct Case {
    std::uint64_t size, pixels, frames;
  };
  const Case cases[] = {
      {0, 0, 0},
      {8192, 0, 0},
      {8193, 0, 0},
      {8192 + 8388607, 4194303, 0},
      {8396800, 4194304, 1},
      {8192 + 2 * 8388608 + 100, 2 * 4194304 + 50, 2},
      {8192 + 2 * 8388608 + 101, 2 * 4194304 + 50, 2},
      {8192 + 300ull * 8388608, 300ull * 4194304, 300},  // beyond 2 GiB of data
  };
  for (const Case& c : cases) {
    hedm::FrameLayout l = hedm::frame_layout(c.size);
    EXPECT_EQ(l.nPixels, c.pixels) << c.size;
    EXPECT_EQ(l.nFrames, c.frames) << c.size;
  }
}

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
