// Percentiles and the PGM images of a frame.
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
#include "testkit.hpp"

using hedm::pixelvalue;

TEST(FramePreview, PercentilesAndImages) {
  std::vector<pixelvalue> px(100);
  for (int i = 0; i < 100; ++i) px[i] = static_cast<pixelvalue>(i * 10);  // 0, 10, ..., 990
  EXPECT_EQ(hedm::percentile_value(px.data(), px.size(), 0), 0);
  EXPECT_EQ(hedm::percentile_value(px.data(), px.size(), 1), 0);
  EXPECT_EQ(hedm::percentile_value(px.data(), px.size(), 50), 490);
  EXPECT_EQ(hedm::percentile_value(px.data(), px.size(), 99.5), 990);
  EXPECT_EQ(hedm::percentile_value(px.data(), px.size(), 100), 990);

  const pixelvalue frame[4] = {0x1234, 100, 200, 65535};
  EXPECT_EQ(hedm::pgm16(frame, 2), std::string("P5\n2 2\n65535\n\x12\x34\x00\x64\x00\xc8\xff\xff", 21));
  EXPECT_EQ(hedm::pgm8_view(frame, 2, 100, 200), std::string("P5\n2 2\n255\n\xff\x00\xff\xff", 15));
}

// An image the encoder refuses is an error, and then no image of the run is
// written: the earlier files of those names stay as they were.
TEST(FramePreview, AnImageThatCannotBeEncodedWritesNothing) {
  testkit::TempDir dir;
  testkit::write_file(dir / "view.png", "earlier view");
  const hedm::Result<std::string> empty = hedm::png(hedm::Image<std::uint8_t>{});  // 0 x 0: no PNG
  ASSERT_FALSE(empty);
  EXPECT_EQ(empty.error().kind, hedm::ErrorKind::Output);
  EXPECT_EQ(empty.error().text.rfind(hedm::png_available() ? "The PNG encoder failed: " : "This build writes no PNG", 0), 0u)
      << empty.error().text;

  std::vector<std::pair<std::string, hedm::Result<std::string>>> images;
  images.emplace_back(dir / "raw.pgm", hedm::pgm(hedm::Image<pixelvalue>{1, 1, {7}}));
  images.emplace_back(dir / "view.png", empty);
  const hedm::Status s = hedm::write_images(images);
  ASSERT_FALSE(s);
  EXPECT_EQ(s.error().text, empty.error().text);
  EXPECT_FALSE(testkit::exists(dir / "raw.pgm"));
  EXPECT_EQ(testkit::read_file(dir / "view.png"), "earlier view");
}

// Masked pixels (the 32-bit mark, or a pixel_mask already there) are left
// out of a block's mean, a block with no other pixel is masked itself, and
// the percentiles see the unmasked blocks alone.
TEST(FramePreview, MaskedPixelsLeftOutOfBlocks) {
  constexpr std::uint32_t M = 0xffffffffu;
  const std::uint32_t frame[6] = {10, 20, M,  // a 3 x 2 frame in 2 x 2 blocks: the right one at the edge
                                  31, M, M};
  std::vector<std::uint8_t> masked;
  EXPECT_EQ(hedm::mark_masked(frame, 6, M, &masked), 3u);
  EXPECT_EQ(masked, (std::vector<std::uint8_t>{0, 0, 1, 0, 1, 1}));
  std::vector<std::uint8_t> blocksMasked;
  const hedm::Image<std::uint32_t> blocks = hedm::bin_image(frame, 3, 2, 2, masked.data(), &blocksMasked);
  EXPECT_EQ(blocks.pixels, (std::vector<std::uint32_t>{20, M}));  // (10 + 20 + 31) / 3, rounded
  EXPECT_EQ(blocksMasked, (std::vector<std::uint8_t>{0, 1}));
  EXPECT_EQ(hedm::unmasked_values(blocks, blocksMasked), (std::vector<std::uint32_t>{20}));
  std::vector<std::uint8_t> pixelMask = {1, 0, 0, 0, 0, 0};
  EXPECT_EQ(hedm::mark_masked(frame, 6, M, &pixelMask), 4u);
  EXPECT_EQ(hedm::bin_image(frame, 3, 2, 2, pixelMask.data(), &blocksMasked).pixels,
            (std::vector<std::uint32_t>{26, M}));  // (20 + 31) / 2, rounded half up
}
