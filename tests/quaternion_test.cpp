// Orientation matrices to quaternions.
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
