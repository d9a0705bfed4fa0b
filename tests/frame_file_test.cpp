// Frame counts from file sizes.
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
