// Counting saturated pixels, widened without sign.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "float_convert.hpp"
#include "preview.hpp"
#include "saturation.hpp"

using hedm::pixelvalue;

TEST(CountSaturated, CountsPixelsAtOrAboveTheIntensity) {
  std::vector<pixelvalue> p = {0, 1, 100, 65534, 65535, 100, 99};
  struct Case {
    std::int32_t satInt;
    std::uint64_t count;
  };
  const Case cases[] = {{-5, 7}, {0, 7}, {1, 6}, {100, 4}, {101, 2}, {65535, 1}, {65536, 0}, {1 << 30, 0}};
  for (const Case& c : cases) EXPECT_EQ(hedm::count_saturated(p.data(), p.size(), c.satInt), c.count) << c.satInt;

  std::mt19937 rng(5);
  std::vector<pixelvalue> big(100000 + 17);
  for (auto& v : big) v = static_cast<pixelvalue>(rng());
  std::uint64_t expect = 0;
  for (auto v : big) expect += v >= 40000;
  EXPECT_EQ(hedm::count_saturated(big.data(), big.size(), 40000), expect);
}
