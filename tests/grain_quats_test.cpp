// GrainQuats as a user runs it: grain lists to seed orientation files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>

#include "testkit.hpp"

using namespace testkit;

namespace {

// Standard output with its last line, the processor-time line, checked and cut off.
std::string without_time(const std::string& out, const std::string& label) {
  return cut_time_line(out, label + " ", " [s]\n");
}

}  // namespace

TEST(GrainQuats, ConvertsGrainLinesToSeedOrientations) {
  TempDir dir;
  write_file(dir / "grains.txt",
             "%GrainID O11 O12 ...\n"
             "7 0.36 0.48 -0.8 -0.8 0.6 0 0.48 0.64 0.6 a b c 4.08 4.08 4.08 90 90 90 w x y z\n"
             "\n"
             "   \t\r\n"
             " %8 1 0 0 0 -0.939693 0.342020 0 -0.342020 -0.939693 a b c 1 2 3 4 5 6 w x y z\n"
             "9 1 0 0 0 1 0 0 0 1 a b c 3.1\n"
             "10 1 0 0 0 1 0 0 0 1 a b c 3 3 3 90 90 120\n");
  RunResult r = run("GrainQuats", {dir / "grains.txt", dir / "seeds.csv"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(without_time(r.out, "Time elapsed in making diffraction spots:"),
            "Line 5 of " + (dir / "grains.txt") + " has fewer than the 19 fields of a grain (identifier, nine "
            "matrix values, three words, six lattice parameters): skipped.\n"
            "Line 6 of " + (dir / "grains.txt") + " has fewer than the 19 fields of a grain (identifier, nine "
            "matrix values, three words, six lattice parameters): skipped.\n"
            "Number of seed orientations: 2\n");
  EXPECT_EQ(read_file(dir / "seeds.csv"),
            "0.800000,0.200000,-0.400000,-0.400000,4.080000,4.080000,4.080000,90.000000,90.000000,90.000000,7\n"
            "1.000000,0.000000,0.000000,0.000000,3.000000,3.000000,3.000000,90.000000,90.000000,120.000000,10\n");
}

// A line is one line however long: a comment stays a comment to its end,
// and a grain line's fields after the 23rd are ignored, wherever the
// reader's 999-character pieces fall.
TEST(GrainQuats, LongLinesAreOneLineEach) {
  TempDir dir;
  const std::string grain = "7 0.36 0.48 -0.8 -0.8 0.6 0 0.48 0.64 0.6 a b c 4.08 4.08 4.08 90 90 90 w x y z";
  const std::string seed =
      "0.800000,0.200000,-0.400000,-0.400000,4.080000,4.080000,4.080000,90.000000,90.000000,90.000000,7\n";
  // Text of exactly n characters: `head`, then `fill` repeated and cut.
  auto line_of = [](std::size_t n, const std::string& head, const std::string& fill) {
    std::string s = head;
    while (s.size() < n) s += fill;
    return s.substr(0, n) + "\n";
  };
  for (const std::size_t n : {1000u, 2000u, 5000u}) {
    const std::string numbers = " 1 0 0 0 1 0 0 0 1 a b c 3 3 3 90 90 90 w x y z";
    const std::string list =
        line_of(n, "%", numbers) +                                  // a comment full of grain-like numbers
        line_of(n, grain, " 5") +                                   // fields after the 23rd
        line_of(n, "9 1 0 0 0 1 0 0 0 1 a " + std::string(n - 100, 'b') + " c 3 3 3", " 90 90 120 w x y z ") +
        line_of(n, std::string(n - 60, ' ') + "8", " 1 0 0 0 1 0 0 0 1 a b c 2 2 2 60 60 60") +  // fields past the limit
        line_of(n, "%%", " ");
    write_file(dir / "grains.txt", list);
    RunResult r = run("GrainQuats", {dir / "grains.txt", dir / "seeds.csv"});
    EXPECT_EQ(r.status, 0) << n;
    EXPECT_EQ(without_time(r.out, "Time elapsed in making diffraction spots:"), "Number of seed orientations: 3\n")
        << n;
    EXPECT_EQ(read_file(dir / "seeds.csv"),
              seed +
                  "1.000000,0.000000,0.000000,0.000000,3.000000,3.000000,3.000000,90.000000,90.000000,120.000000,9\n"
                  "1.000000,0.000000,0.000000,0.000000,2.000000,2.000000,2.000000,60.000000,60.000000,60.000000,8\n")
        << n;
  }
}

// Skipped lines are listed up to the twentieth; the rest are counted in
// one closing line.  A line whose fields run on past the length limit is
// named as such.
TEST(GrainQuats, SkippedLinesListedUpToTwenty) {
  TempDir dir;
  std::string list = "7 1 " + std::string(std::size_t{1} << 20, 'x') + "\n";
  for (int i = 0; i < 24; ++i) list += "junk line\n";
  list += "7 1 0 0 0 1 0 0 0 1 a b c 3 3 3 90 90 90 w x y z\n";
  write_file(dir / "grains.txt", list);
  RunResult r = run("GrainQuats", {dir / "grains.txt", dir / "seeds.csv"});
  EXPECT_EQ(r.status, 0);
  std::string expect = "Line 1 of " + (dir / "grains.txt") + " runs to more than 1048576 characters before its 19th field: skipped.\n";
  for (int line = 2; line <= 20; ++line)
    expect += "Line " + std::to_string(line) + " of " + (dir / "grains.txt") +
              " has fewer than the 19 fields of a grain (identifier, nine matrix values, three words, six lattice "
              "parameters): skipped.\n";
  expect += "5 more lines of " + (dir / "grains.txt") + " skipped as well (only the first 20 are listed).\n"
            "Number of seed orientations: 1\n";
  EXPECT_EQ(without_time(r.out, "Time elapsed in making diffraction spots:"), expect);
}
