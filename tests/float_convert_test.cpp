// The conversion of float images: scaled to 14000 at the brightest pixel, truncated, exact.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "float_convert.hpp"
#include "preview.hpp"
#include "saturation.hpp"
#include "test_support.hpp"

using hedm::pixelvalue;

namespace {

std::vector<pixelvalue> convert(std::vector<float> image) {
  std::vector<pixelvalue> out(image.size());
  hedm::convert_image(image.data(), image.size(), hedm::image_maximum(image.data(), image.size()),
                      out.data());
  return out;
}

}  // namespace

TEST(FloatConvert, ScalesTheBrightestPixelTo14000AndTruncates) {
  struct Case {
    std::vector<float> image;
    std::vector<pixelvalue> frame;
  };
  const Case cases[] = {
      {{2.5f, 1.25f, -3.0f}, {14000, 7000, 0}},
      {{3.0f, 1.0f, 2.0f}, {14000, 4666, 9333}},
      {{1.0f, 0.7f}, {14000, 9799}},
      {{0.0f, -1.0f, -0.0f}, {0, 0, 0}},  // nothing above 0: all zero
      {{std::numeric_limits<float>::infinity(), 5.0f}, {0, 0}},  // inf / inf is no number
      {{std::numeric_limits<float>::quiet_NaN(), 2.0f, 1.0f}, {0, 14000, 7000}},
  };
  for (const Case& c : cases) EXPECT_EQ(convert(c.image), c.frame);
}

// Byte-identical to the plain two-pass conversion on images full of awkward
// values: NaN of both signs, infinities, -0.0, subnormals, a maximum of 0.
TEST(FloatConvert, MatchesThePlainConversionOnAwkwardImages) {
  std::mt19937 rng(3);
  const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                            -std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(),
                            -0.0f,
                            0.0f,
                            std::numeric_limits<float>::denorm_min(),
                            -std::numeric_limits<float>::denorm_min(),
                            std::numeric_limits<float>::min() / 3,
                            std::numeric_limits<float>::max(),
                            -std::numeric_limits<float>::max()};
  for (int trial = 0; trial < 300; ++trial) {
    const std::size_t n = 1 + rng() % 3000;
    std::vector<float> image(n);
    for (float& v : image) {
      switch (trial % 5) {
        case 0: v = std::ldexp(static_cast<float>(rng() % 10000), static_cast<int>(rng() % 40) - 20); break;
        case 1: v = -static_cast<float>(rng() % 100); break;  // a maximum of 0
        case 2: v = std::numeric_limits<float>::denorm_min() * static_cast<float>(rng() % 50); break;
        default: {
          std::uint32_t bits = static_cast<std::uint32_t>(rng());
          std::memcpy(&v, &bits, sizeof v);
        }
      }
      if (rng() % 20 == 0 && trial % 7 != 0) v = specials[rng() % std::size(specials)];
    }
    std::size_t infinite = 0, expectInfinite = 0;
    hedm::image_maximum(image.data(), n, &infinite);
    for (float v : image) expectInfinite += std::isinf(v);
    ASSERT_EQ(infinite, expectInfinite) << "trial " << trial;  // the count PanelPack refuses images by
    std::vector<float> copy = image;
    std::vector<pixelvalue> expect(n);
    hedm::convert_image_reference(copy.data(), n, expect.data());
    ASSERT_EQ(convert(image), expect) << "trial " << trial;
  }
}
