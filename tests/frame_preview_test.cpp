// FramePreview as a user runs it: the images of the chosen frame.
#include <gtest/gtest.h>

#include "testkit.hpp"

using namespace testkit;

TEST(FramePreview, WritesBothImagesOfTheChosenFrame) {
  TempDir dir;
  write_file(dir / "two.ge3", frame_file_bytes("", {frame_with(7), frame_with(300, {{0, 1000}})}));
  RunResult r = run("FramePreview", {dir / "two.ge3", dir / "view", "2"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Frame 2 of " + (dir / "two.ge3") + ": " + (dir / "view") + ".pgm (16-bit), " + (dir / "view") +
                       "_view.pgm (8-bit, 300 to 300).\n");
  const std::string full = read_file(dir / "view.pgm"), view = read_file(dir / "view_view.pgm");
  EXPECT_EQ(full.substr(0, 17), "P5\n2048 2048\n6553");
  EXPECT_EQ(full.size(), 19 + 2 * hedm::kPixelsPerFrame);
  EXPECT_EQ(full.substr(19, 4), std::string("\x03\xe8\x01\x2c", 4));  // 1000, 300, big-endian
  EXPECT_EQ(view.size(), 17 + hedm::kPixelsPerFrame);

  r = run("FramePreview", {dir / "two.ge3", dir / "v3", "3"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, (dir / "two.ge3") + " has 2 whole frame(s); there is no frame 3. Exiting.\n");
  EXPECT_FALSE(exists(dir / "v3.pgm"));
}
