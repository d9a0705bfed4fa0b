// ClipCount, and the far-field chain PanelPack -> StackCollapse -> ClipCount.
#include <gtest/gtest.h>


#include "float_convert.hpp"

#include "testkit.hpp"

using namespace testkit;

namespace {

// A frame of 100s with `saturated` pixels of 60000 (and one of 59999).
std::vector<hedm::pixelvalue> frame_saturated(std::size_t saturated) {
  std::vector<std::pair<std::size_t, hedm::pixelvalue>> set;
  for (std::size_t k = 0; k < saturated; ++k) set.push_back({k * 1013, 60000});
  set.push_back({hedm::kPixelsPerFrame - 1, 59999});
  return frame_with(100, set);
}

std::string frames_file(const std::vector<std::size_t>& saturated, const std::string& tail = "") {
  std::vector<std::vector<hedm::pixelvalue>> frames;
  for (std::size_t s : saturated) frames.push_back(frame_saturated(s));
  return frame_file_bytes("", frames, tail);
}

// Standard output with the processor-time line checked and cut off.
std::string without_time(const std::string& out) { return cut_time_line(out, "Time elapsed: ", " s.\n"); }

const char* kUsage =
    "Usage: ClipCount <folder> <filestem> <padding> <startnr> <endnr> <ext> <darkname> "
    "<saturationIntensity>\n";

}  // namespace

TEST(ClipCount, FrameCountsLessTheDarkCount) {
  TempDir dir;
  // Dark: two whole frames with 10 saturated pixels, and a partial frame with 3 more.
  std::string partial(3 * 2, '\0');
  for (int i = 0; i < 3; ++i) partial[2 * i] = '\x60', partial[2 * i + 1] = '\xea';  // 60000
  write_file(dir / "dark.ge3", frames_file({6, 4}, partial));
  write_file(dir / "s_007.ge3", frames_file({7, 5, 2}));
  write_file(dir / "s_008.ge3", frames_file({9, 9}, std::string(4096, '\xff')));
  write_file(dir / "s_009.ge3", std::string(100, '\0'));  // no pixels at all
  RunResult r = run("ClipCount", {dir.path().string(), "s", "3", "7", "9", ".ge3", "dark.ge3", "60000"});
  // A file with no whole frame (a gzipped or cut-off one) stops the run.
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "Number of saturated pixels per dark frame = 6.\n"  // 13 / 2, truncated
            "Reading file: " + (dir / "s_007.ge3") + "\n"
            "Number of saturated pixels more than the dark image in file: \n" + (dir / "s_007.ge3") + "\n"
            "Frame 001 of 3 1.\nFrame 002 of 3 -1.\nFrame 003 of 3 -4.\n"
            "Reading file: " + (dir / "s_008.ge3") + "\n"
            "Warning: " + (dir / "s_008.ge3") + " ends in a partial frame: its last 4096 bytes are passed over.\n"
            "Number of saturated pixels more than the dark image in file: \n" + (dir / "s_008.ge3") + "\n"
            "Frame 001 of 2 3.\nFrame 002 of 2 3.\n"
            "The data file " + (dir / "s_009.ge3") + " holds no whole frame (100 bytes; one frame needs 8396800). Exiting.\n");
}

TEST(ClipCount, SaturationIntensityBounds) {
  TempDir dir;
  write_file(dir / "dark.ge3", frames_file({2}));
  write_file(dir / "d_01.x", frames_file({5}));
  struct Case {
    const char* satInt;
    const char* dark;
    const char* frame;
  };
  // 59999 counts the extra pixel too; 0 or below counts every pixel; above 65535 none.
  for (Case c : {Case{"60000", "2", "3"}, Case{"59999", "3", "3"}, Case{"0", "4194304", "0"},
                 Case{"-4", "4194304", "0"}, Case{"65536", "0", "0"}}) {
    RunResult r = run("ClipCount", {dir.path().string(), "d", "2", "1", "1", ".x", "dark.ge3", c.satInt});
    EXPECT_EQ(r.status, 0);
    const std::string out = without_time(r.out);
    EXPECT_NE(out.find(std::string("per dark frame = ") + c.dark + ".\n"), std::string::npos) << out;
    EXPECT_NE(out.find(std::string("Frame 001 of 1 ") + c.frame + ".\n"), std::string::npos) << out;
  }
}

TEST(ClipCount, StopsAtTheFirstFileThatCannotBeRead) {
  TempDir dir;
  write_file(dir / "dark.ge3", frames_file({0}));
  write_file(dir / "d_00001.ge3", frames_file({1}));
  write_file(dir / "d_00003.ge3", frames_file({1}));
  write_file(dir / "short.ge3", std::string(hedm::kOneFrameFileBytes - 2, '\0'));
  const std::string d = dir.path().string();
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
  };
  const Case cases[] = {
      {{d, "d", "5", "1"}, 1, kUsage},
      {{d, "d", "5", "1", "3", ".ge3", "dark.ge3", "1", "x"}, 1, kUsage},
      {{d, "d", "1", "1", "3", ".ge3", "dark.ge3", "60000"}, 1,
       "Padding 1 is outside 2 to 9: no data file name can be formed. Exiting.\n"},
      {{d, "d", "10", "1", "3", ".ge3", "dark.ge3", "60000"}, 1,
       "Padding 10 is outside 2 to 9: no data file name can be formed. Exiting.\n"},
      {{d, "d", "5", "1", "3", ".ge3", "nodark.ge3", "1"}, 1,
       "Could not read the dark file: " + d + "/nodark.ge3. Exiting.\n"},
      {{d, "d", "5", "1", "3", ".ge3", "short.ge3", "1"}, 1,
       "The dark file " + d + "/short.ge3 holds no whole frame (8396798 bytes; one frame needs 8396800). Exiting.\n"},
      {{d, "d", "5", "1", "3", ".ge3", "dark.ge3", "60000"}, 1,
       "Number of saturated pixels per dark frame = 0.\nReading file: " + d + "/d_00001.ge3\n"
       "Number of saturated pixels more than the dark image in file: \n" + d + "/d_00001.ge3\n"
       "Frame 001 of 1 1.\nCould not read the input file: " + d + "/d_00002.ge3. Exiting.\n"},
  };
  for (const Case& c : cases) {
    RunResult r = run("ClipCount", c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
  }
  // Start after end: the dark line and the time line only.
  RunResult r = run("ClipCount", {d, "d", "5", "3", "1", ".ge3", "dark.ge3", "60000"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(without_time(r.out), "Number of saturated pixels per dark frame = 0.\n");
}

// Float images through PanelPack, a dark stack through StackCollapse, then
// ClipCount over the converted series with the median as its dark file.
TEST(FarFieldChain, FloatImagesToSaturationCounts) {
  TempDir dir;
  for (int i = 1; i <= 2; ++i) {
    std::vector<float> img(hedm::kPixelsPerFrame, 10.0f);
    img[5] = 100.0f;  // the brightest pixel becomes 14000
    for (int s = 0; s < 3 * i; ++s) img[1000 + s] = 99.5f;  // 13930, also saturated at 13000
    write_file(dir / ("scan_0000" + std::to_string(i) + ".raw"),
               std::string(reinterpret_cast<const char*>(img.data()), hedm::kFloatImageBytes));
  }
  RunResult pack = run("PanelPack", {dir / "scan_", "1", "2", "5", "raw", "1"});
  ASSERT_EQ(pack.status, 1) << pack.out;

  // Dark stack: three frames; pixel 5 is hot in two of them, pixel 6 in one.
  write_file(dir / "darkstack.ge3",
             frame_file_bytes("", {frame_with(50, {{5, 14000}}), frame_with(50, {{5, 14000}, {6, 14000}}),
                                   frame_with(50)}));
  RunResult median = run("StackCollapse", {dir / "darkstack.ge3", dir / "dark_median.ge3"});
  ASSERT_EQ(median.status, 0) << median.out;

  RunResult count = run("ClipCount", {dir.path().string(), "scan", "5", "1", "2", ".ge3", "dark_median.ge3", "13000"});
  EXPECT_EQ(count.status, 0);
  const std::string d = dir.path().string();
  EXPECT_EQ(without_time(count.out),
            "Number of saturated pixels per dark frame = 1.\n"
            "Reading file: " + d + "/scan_00001.ge3\n"
            "Number of saturated pixels more than the dark image in file: \n" + d + "/scan_00001.ge3\n"
            "Frame 001 of 1 3.\n"
            "Reading file: " + d + "/scan_00002.ge3\n"
            "Number of saturated pixels more than the dark image in file: \n" + d + "/scan_00002.ge3\n"
            "Frame 001 of 1 6.\n");
}
