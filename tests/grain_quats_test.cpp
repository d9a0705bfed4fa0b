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
