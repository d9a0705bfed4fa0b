// The triangle grid: derived values, the worked example and the row shapes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "text_format.hpp"
#include "trimesh.hpp"

namespace {

std::string six(double v) {
  char buf[400];
  return std::string(buf, hedm::format_fixed6(buf, v));
}

std::vector<std::vector<double>> mesh(double GridSize, double Rsample) {
  hedm::GridDimensions d = hedm::grid_dimensions(GridSize, Rsample);
  std::vector<std::vector<double>> rows;
  hedm::TriMesh(GridSize, d.NrHex, d.HtTriangle, d.ALast, [&](const double* rec) { rows.emplace_back(rec, rec + 5); });
  EXPECT_EQ(rows.size(), static_cast<std::size_t>(hedm::grid_point_count(d.NrHex)));
  return rows;
}

}  // namespace

TEST(TriMesh, DerivedGridValues) {
  struct Case {
    double GridSize, Rsample, HtTriangle, NrHex, ALast;
    int points;
  };
  const Case cases[] = {
      {2, 1, 1.7320508075688772, 1, 2, 6},
      {2, 1.7320508075688772, 1.7320508075688772, 1, 2, 6},  // an exact multiple adds no row
      {1, 100, 0.8660254037844386, 116, 116, 80736},
      {2, 0, 1.7320508075688772, 0, 0, 0},
      {0.5, 3.4641016151377544, 0.4330127018922193, 8, 4, 384},
      {0.1, 1, 0.08660254037844387, 12, 1.2000000000000002, 864},
      {-1, 5, -0.8660254037844386, -5, 5, 0},  // negative sizes give no points
  };
  for (const Case& c : cases) {
    hedm::GridDimensions d = hedm::grid_dimensions(c.GridSize, c.Rsample);
    EXPECT_EQ(d.HtTriangle, c.HtTriangle);
    EXPECT_EQ(d.NrHex, c.NrHex);
    EXPECT_EQ(d.ALast, c.ALast);
    EXPECT_EQ(hedm::grid_point_count(d.NrHex), c.points);
  }
  EXPECT_EQ(hedm::grid_point_count(18918), 2147344344);
}

TEST(TriMesh, WorkedExampleAndRowShapes) {
  const char* expect[6] = {
      "1.154701 0.577350 -1.000000 -0.577350 1.000000", "0.577350 1.154701 0.000000 -1.154701 1.000000",
      "1.154701 0.577350 1.000000 -0.577350 1.000000",  "0.577350 1.154701 -1.000000 1.154701 1.000000",
      "1.154701 0.577350 0.000000 0.577350 1.000000",   "0.577350 1.154701 1.000000 1.154701 1.000000"};
  auto rows = mesh(2, 1);
  ASSERT_EQ(rows.size(), 6u);
  for (int r = 0; r < 6; ++r) {
    std::string line;
    for (int c = 0; c < 5; ++c) {
      if (c) line += ' ';
      line += six(rows[r][c]);
    }
    EXPECT_EQ(line, expect[r]);
  }

  // NrHex 2: rows of 5, 7, 7, 5; the last of row -2 and the first of row -1
  // both carry the larger offset; x and y of the first records of rows.
  rows = mesh(2, 3);
  ASSERT_EQ(rows.size(), 24u);
  EXPECT_EQ(rows[4][0], rows[5][0]);
  EXPECT_EQ(six(rows[0][2]) + " " + six(rows[0][3]), "-2.000000 -2.309401");
  EXPECT_EQ(six(rows[12][2]) + " " + six(rows[12][3]), "-3.000000 1.154701");

  // NrHex 3: rows of 7, 9, 11, 11, 9, 7; offsets alternate within a row and
  // column 1 is always the other offset; column 4 is half the edge.
  rows = mesh(1, 2.5);
  ASSERT_EQ(rows.size(), 54u);
  const double ht = hedm::grid_dimensions(1, 2.5).HtTriangle;
  const double ysmall = ht * 0.3333333333333333, ybig = ht * 0.6666666666666666;
  std::size_t r = 0;
  for (int len : {7, 9, 11, 11, 9, 7}) {
    for (int j = 0; j < len; ++j, ++r) {
      const bool below = r < 27;
      EXPECT_EQ(rows[r][0], (j % 2 == 0) == below ? ybig : ysmall) << r;
      EXPECT_EQ(rows[r][1], rows[r][0] == ybig ? ysmall : ybig);
      EXPECT_EQ(rows[r][4], 0.5);
    }
  }
}
