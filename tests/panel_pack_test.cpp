// PanelPack as a user runs it.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "float_convert.hpp"
#include "testkit.hpp"

using namespace testkit;

namespace {

// A float image whose pixels are all `fill` but for a few set ones.
std::string float_image(float fill, const std::vector<std::pair<std::size_t, float>>& set,
                        std::size_t bytes = hedm::kFloatImageBytes) {
  std::vector<float> v(hedm::kPixelsPerFrame, fill);
  for (auto [k, x] : set) v[k] = x;
  std::string s(reinterpret_cast<const char*>(v.data()), hedm::kFloatImageBytes);
  s.resize(bytes, '\0');
  return s;
}

const char* kUsage =
    "Usage: ./PanelPack InFileStem StartNr EndNr Padding InExt skip(if files are not continuous).\n"
    "Right now works for padding 5 only.\nWill always save .ge3 files as output.\n";

}  // namespace

TEST(PanelPack, ConvertsEveryNumberFromStartToEndInSteps) {
  TempDir dir;
  const std::string stem = dir / "scan_";
  write_file(stem + "00001.raw", float_image(1.0f, {{0, 2.5f}, {1, 1.25f}, {2, -3.0f}}));
  write_file(stem + "00005.raw", float_image(0.0f, {{7, 3.0f}, {8, 1.0f}, {9, 2.0f}}) + "ignored tail");
  for (const char* endNr : {"6", "5"}) {
    RunResult r = run("PanelPack", {stem, "1", endNr, "5", "raw", "2"});
    EXPECT_EQ(r.status, 1) << "a complete run ends with 1";
    EXPECT_EQ(r.out, "Read file " + stem + "00001.raw.\nCould not read " + stem +
                         "00003.raw. Continuing to the next file.\nRead file " + stem + "00005.raw.\nWarning: " +
                         stem + "00005.raw is larger than one image (16777216 bytes): its last 12 bytes are passed over.\n");
    EXPECT_FALSE(exists(stem + "00003.ge3"));
    const std::string one = read_file(stem + "00001.ge3"), five = read_file(stem + "00005.ge3");
    ASSERT_EQ(one.size(), hedm::kOneFrameFileBytes);
    ASSERT_EQ(five.size(), hedm::kOneFrameFileBytes);
    EXPECT_EQ(one.substr(0, hedm::kHeaderBytes), std::string(hedm::kHeaderBytes, '\0'));
    // Each image scaled by its own brightest pixel (the values: FloatConvert's tests).
    EXPECT_EQ(pixel_at(one, 0, 0), 14000);
    EXPECT_EQ(pixel_at(five, 0, 7), 14000);
  }
}

TEST(PanelPack, NamesCarryFiveDigitsOrMore) {
  TempDir dir;
  struct Case {
    const char* nr;
    const char* name;
  };
  for (Case c : {Case{"42", "s00042.raw"}, Case{"123456", "s123456.raw"}, Case{"-7", "s-0007.raw"}}) {
    RunResult r = run("PanelPack", {dir / "s", c.nr, c.nr, "5", "raw", "1"});
    EXPECT_EQ(r.out, "Could not read " + (dir / c.name) + ". Continuing to the next file.\nNo image was converted.\n");
    EXPECT_EQ(r.status, 2);
  }
}

// Counting up to the largest 32-bit number converts it and ends there: the
// step past it does not wrap around to negative numbers.
TEST(PanelPack, CountsUpToTheLargestNumber) {
  TempDir dir;
  write_file(dir / "s2147483647.raw", float_image(1.0f, {}));
  for (const char* skip : {"1", "2", "1000"}) {
    RunResult r = run("PanelPack", {dir / "s", "2147483645", "2147483647", "5", "raw", skip});
    EXPECT_EQ(r.status, std::string(skip) == "1000" ? 2 : 1) << "only the run that converted nothing fails";
    const std::string last = "Read file " + (dir / "s2147483647.raw") + ".\n";
    if (std::string(skip) == "1") {
      EXPECT_EQ(r.out, "Could not read " + (dir / "s2147483645.raw") + ". Continuing to the next file.\nCould not read " +
                           (dir / "s2147483646.raw") + ". Continuing to the next file.\n" + last);
    } else {
      EXPECT_EQ(r.out, "Could not read " + (dir / "s2147483645.raw") + ". Continuing to the next file.\n" +
                           (std::string(skip) == "2" ? last : "No image was converted.\n"));
    }
  }
  EXPECT_EQ(read_file(dir / "s2147483647.ge3").size(), hedm::kOneFrameFileBytes);
}

TEST(PanelPack, RefusalsTouchNoFile) {
  TempDir dir;
  const std::string stem = dir / "scan_";
  const std::string image = float_image(1.0f, {});
  write_file(stem + "00001.ge3", image);  // also an input when the extension is ge3
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;  // the start of standard output
  };
  const Case cases[] = {
      // A wrong command line is not the completed run's status.
      {{stem, "1", "1", "5", "raw"}, 2, kUsage},
      {{stem, "1", "1", "5", "raw", "1", "x"}, 2, kUsage},
      {{stem, "1", "2", "5", "raw", "1x"}, 2, "skip \"1x\" is not a whole number. Nothing done.\n"},
      {{stem, "1", "2", "5", "raw", "2147483648"}, 2, "skip \"2147483648\" is outside -2147483648 to 2147483647."},
      {{stem, "1", "1", "5.0", "ge3", "1"}, 2, "The input extension ge3"},  // 5.0 is read as 5
      {{stem, "2", "1", "5", "ge3", "1"}, 1, "StartNr 2 is after EndNr 1: nothing to convert.\n"},
      // A refused padding is a failure, not the completed run's status.
      {{stem, "1", "1", "4", "ge3", "1"}, 2,
       "Padding 4 is not 5: the numbers in the file names are always five digits. Nothing done.\n"},
      {{stem, "1", "1", "6", "raw", "1"}, 2, "Padding 6 is not 5"},
      {{stem, "1", "1", "5", "ge3", "1"}, 2, "The input extension ge3 is the output extension"},
      {{stem, "1", "3", "5", "raw", "0"}, 2, "skip must be 1 or more, not 0"},
      {{stem, "1", "3", "5", "raw", "-1"}, 2, "skip must be 1 or more, not -1"},
  };
  for (const Case& c : cases) {
    RunResult r = run("PanelPack", c.args);
    EXPECT_EQ(r.status, c.status) << c.args[4] << c.args.size();
    EXPECT_EQ(r.out.substr(0, c.out.size()), c.out);
    if (c.out.empty()) {
      EXPECT_EQ(r.out, "");
    }
    EXPECT_TRUE(read_file(stem + "00001.ge3") == image);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
  }
}

TEST(PanelPack, ShortInputIsReportedAndSkipped) {
  TempDir dir;
  const std::string stem = dir / "p";
  write_file(stem + "00001.raw", float_image(1.0f, {}, hedm::kFloatImageBytes - 1));
  write_file(stem + "00002.raw", float_image(1.0f, {}));
  RunResult r = run("PanelPack", {stem, "1", "2", "5", "raw", "1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Read file " + stem + "00001.raw.\nCould not read " + stem +
                       "00001.raw in full: it holds 16777215 of 16777216 bytes. No output written "
                       "for it. Continuing to the next file.\nRead file " + stem + "00002.raw.\n");
  EXPECT_FALSE(exists(stem + "00001.ge3"));
  EXPECT_EQ(read_file(stem + "00002.ge3").size(), hedm::kOneFrameFileBytes);
}

TEST(PanelPack, OutputThatCannotBeWrittenKeepsTheEarlierOneAndTheRunGoesOn) {
  TempDir dir;
  const std::string stem = dir / "p";
  write_file(stem + "00001.raw", float_image(1.0f, {}));
  write_file(stem + "00002.raw", float_image(1.0f, {}));
  write_file(stem + "00001.ge3", "earlier frame file");
  RunResult r = run("PanelPack", {stem, "1", "2", "5", "raw", "1"}, "", Limits{.fileSize = 1 << 20});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "Read file " + stem + "00001.raw.\nCould not write " + stem +
                       "00001.ge3: File too large. Continuing to the next file.\nRead file " + stem +
                       "00002.raw.\nCould not write " + stem +
                       "00002.ge3: File too large. Continuing to the next file.\nNo image was converted.\n");
  EXPECT_EQ(read_file(stem + "00001.ge3"), "earlier frame file");
  EXPECT_FALSE(exists(stem + "00002.ge3"));
}

// An infinite pixel leaves no scale (+inf as the maximum would blank the
// frame): the number is skipped with the count of such pixels, an earlier
// output of it stays, and the run ends with 2.
TEST(PanelPack, ImagesWithInfinitePixelsAreNotConverted) {
  TempDir dir;
  const std::string stem = dir / "p";
  const float inf = std::numeric_limits<float>::infinity();
  write_file(stem + "00001.raw", float_image(1.0f, {{5, inf}}));
  write_file(stem + "00002.raw", float_image(1.0f, {{0, -inf}, {4194303, inf}, {9, 2.0f}}));
  write_file(stem + "00003.raw", float_image(1.0f, {{9, 2.0f}}));
  write_file(stem + "00001.ge3", "earlier frame file");
  RunResult r = run("PanelPack", {stem, "1", "3", "5", "raw", "1"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "Read file " + stem + "00001.raw.\n" + stem +
                       "00001.raw holds 1 infinite pixel: an image with infinite values cannot be scaled. No output "
                       "written for it. Continuing to the next file.\nRead file " + stem + "00002.raw.\n" + stem +
                       "00002.raw holds 2 infinite pixels: an image with infinite values cannot be scaled. No output "
                       "written for it. Continuing to the next file.\nRead file " + stem + "00003.raw.\n");
  EXPECT_EQ(read_file(stem + "00001.ge3"), "earlier frame file");
  EXPECT_FALSE(exists(stem + "00002.ge3"));
  EXPECT_EQ(pixel_at(read_file(stem + "00003.ge3"), 0, 9), 14000);
}
