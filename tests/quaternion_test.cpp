// Orientation matrices to quaternions, and the grain lines they come on.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "quaternion.hpp"
#include "text_format.hpp"
#include "trimesh.hpp"

namespace {

std::string six(double v) {
  char buf[400];
  return std::string(buf, hedm::format_fixed6(buf, v));
}

}  // namespace

TEST(OrientMat2Quat, WorkedExamples) {
  struct Case {
    double m[9];
    const char* quat;
  };
  const Case cases[] = {
      {{1, 0, 0, 0, 1, 0, 0, 0, 1}, "1.000000,0.000000,0.000000,0.000000"},
      {{0.36, 0.48, -0.8, -0.8, 0.6, 0, 0.48, 0.64, 0.6}, "0.800000,0.200000,-0.400000,-0.400000"},
      {{0, -1, 0, 1, 0, 0, 0, 0, 1}, "0.707107,0.000000,0.000000,0.707107"},
      {{1, 0, 0, 0, -1, 0, 0, 0, -1}, "0.000000,1.000000,0.000000,0.000000"},
      {{-1, 0, 0, 0, 1, 0, 0, 0, -1}, "0.000000,0.000000,1.000000,0.000000"},
      {{-1, 0, 0, 0, -1, 0, 0, 0, 1}, "0.000000,0.000000,0.000000,1.000000"},
      {{0, 1, 0, 1, 0, 0, 0, 0, -1}, "0.000000,0.707107,0.707107,0.000000"},  // tie m00 = m11
      {{1, 0, 0, 0, -0.939693, 0.342020, 0, -0.342020, -0.939693}, "0.173648,-0.984808,-0.000000,-0.000000"},
      {{0, 0, 0, 0, 0, 0, 0, 0, 0}, "0.000000,0.000000,0.000000,1.000000"},
      {{NAN, 0, 0, 0, 1, 0, 0, 0, 1}, "nan"},  // not a number in, NaN out
  };
  for (const Case& c : cases) {
    double q[4];
    hedm::OrientMat2Quat(c.m, q);
    std::string s = six(q[0]) + "," + six(q[1]) + "," + six(q[2]) + "," + six(q[3]);
    if (std::isnan(q[0])) {  // the sign of a NaN depends on how it arose: compare without it
      for (double v : q) EXPECT_TRUE(std::isnan(v));
      continue;
    }
    EXPECT_EQ(s, c.quat);
  }
}

TEST(OrientMat2Quat, UnitQuaternionWithNonNegativeScalarForRandomRotations) {
  std::mt19937_64 rng(1);
  std::normal_distribution<double> g;
  for (int t = 0; t < 10000; ++t) {
    double w = g(rng), x = g(rng), y = g(rng), z = g(rng);
    const double n = std::sqrt(w * w + x * x + y * y + z * z);
    w /= n, x /= n, y /= n, z /= n;
    const double m[9] = {1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y),
                         2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x),
                         2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)};
    double q[4];
    hedm::OrientMat2Quat(m, q);
    EXPECT_GE(q[0], 0);
    EXPECT_NEAR(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3], 1.0, 1e-12);
    const double sign = w < 0 ? -1 : 1;  // q and -q are the same rotation
    EXPECT_NEAR(q[0], sign * w, 1e-9);
    EXPECT_NEAR(q[1], sign * x, 1e-9);
    EXPECT_NEAR(q[3], sign * z, 1e-9);
  }
}

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
