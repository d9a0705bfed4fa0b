// Grain lines read as the C library's scanner reads them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "grain_line.hpp"

// The grain-line scanner gives what the C library's scanner gives, on plain
// lines and on awkward ones.
TEST(GrainLine, ScansAsTheCLibraryDoes) {
  const char* lines[] = {
      "7 0.36 0.48 -0.8 -0.8 0.6 0 0.48 0.64 0.6 a b c 4.08 4.08 4.08 90 90 90 w x y z\n",
      "7 1 2 3 4 5 6 7 8 9 a b c 1 2 3 4 5 6\n",
      "7 1 2 3 4 5 6 7 8 9 a b c 1 2 3\n",
      "  -12\t1e3 .5 -.25 1. 5E-3 6 7 8 9 a b c 1 2 3 4 5 6 w x y z extra fields\r\n",
      "+7 0x1p3 inf nan 4 5 6 7 8 9 a b c 1 2 3 4 5 6 w x y z\n",
      "7.5 1 2 3 4 5 6 7 8 9 a b c 1 2 3 4 5 6\n",
      "7 1e 2 3 4 5 6 7 8 9 a b c 1 2 3 4 5 6\n",
      "7 1-2 3 4 5 6 7 8 9 a b c 1 2 3 4 5 6\n",
      "99999999999 1 2 3 4 5 6 7 8 9 a b c 1 2 3 4 5 6\n",
      "2147483647 1 2 3 4 5 6 7 8 9 a b c 1 2 3 4 5 6\n",
      "-2147483648 1 2 3 4 5 6 7 8 9 a b c 1 2 3 4 5 6\n",
      "- 1 2 3 4 5 6 7 8 9 a b c 1 2 3 4 5 6\n",
      "7 - . -. 4 5 6 7 8 9 a b c 1 2 3 4 5 6\n",
      "7 1e400 1e-400 3 4 5 6 7 8 9 a b c 1 2 3 4 5 6\n",
      "abc 1 2\n",
      "7 1 2 x 4\n",
      " %7 1 2 3 4 5 6 7 8 9 a b c 1 2 3 4 5 6\n",
  };
  for (const char* line : lines) {
    hedm::Grain fast, ref;
    fast.GrainID = ref.GrainID = -5;
    for (int i = 0; i < 9; ++i) fast.OrientMatrix[i] = ref.OrientMatrix[i] = -i;
    for (int i = 0; i < 6; ++i) fast.LatC[i] = ref.LatC[i] = -i;
    const int got = hedm::scan_grain_line(line, &fast);
    char w[4][1000];
    double* M = ref.OrientMatrix;
    double* L = ref.LatC;
    const int expect = std::sscanf(
        line, "%d %lf %lf %lf %lf %lf %lf %lf %lf %lf %s %s %s %lf %lf %lf %lf %lf %lf %s %s %s %s",
        &ref.GrainID, &M[0], &M[1], &M[2], &M[3], &M[4], &M[5], &M[6], &M[7], &M[8], w[0], w[1],
        w[2], &L[0], &L[1], &L[2], &L[3], &L[4], &L[5], w[0], w[1], w[2], w[3]);
    EXPECT_EQ(got, expect) << line;
    EXPECT_EQ(fast.GrainID, ref.GrainID) << line;
    EXPECT_EQ(std::memcmp(fast.OrientMatrix, ref.OrientMatrix, sizeof ref.OrientMatrix), 0) << line;
    EXPECT_EQ(std::memcmp(fast.LatC, ref.LatC, sizeof ref.LatC), 0) << line;
  }
  hedm::Grain g;
  EXPECT_EQ(hedm::scan_grain_line(" \t\r\n", &g), -1);
  EXPECT_TRUE(hedm::is_blank(""));
  EXPECT_FALSE(hedm::is_blank(" x"));
}
