// BuildTriMesh as a user runs it: parameter files, grid.txt and the messages.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>

#include "testkit.hpp"

using namespace testkit;

namespace {

std::string fixed6(double v) {
  char buf[400];
  std::snprintf(buf, sizeof buf, "%lf", v);
  return buf;
}

// grid.txt as the program wrote it when it filled a matrix of the whole
// grid first: the matrix code kept here as it was, every value printed with
// the C library's "%f".
std::string grid_from_matrix(double GridSize, double Rsample) {
  const double HtTriangle = (GridSize * 1.7320508075688772) * 0.5;
  const double NrHex = std::ceil(((Rsample + Rsample) / 1.7320508075688772) / GridSize);
  const double ALast = GridSize * NrHex;
  std::vector<std::vector<double>> XY;
  const double ysmall = HtTriangle * 0.3333333333333333;
  const double ybig = HtTriangle * 0.6666666666666666;
  for (int i = static_cast<int>(-NrHex); static_cast<double>(i) <= NrHex; ++i) {
    if (i == 0) continue;
    const double di = i, absi = std::abs(di);
    double ynext = i < 0 ? ybig : ysmall;
    const int NrRowElements = static_cast<int>(2 * ((NrHex + NrHex) - absi) + 1);
    const double ythis = HtTriangle * di;
    const double xstart = (GridSize * absi) * 0.5 - ALast;
    for (int j = 0; j < NrRowElements; ++j) {
      std::vector<double> rec(5);
      rec[0] = ynext;
      rec[1] = ynext == ybig ? ysmall : ybig;
      rec[2] = (j * GridSize) * 0.5 + xstart;
      rec[3] = ythis - (ynext * di) / absi;
      rec[4] = GridSize * 0.5;
      ynext = rec[1];
      XY.push_back(rec);
    }
  }
  std::string text = std::to_string(XY.size()) + "\n";
  for (const auto& rec : XY)
    text += fixed6(rec[0]) + " " + fixed6(rec[1]) + " " + fixed6(rec[2]) + " " + fixed6(rec[3]) + " " + fixed6(rec[4]) + "\n";
  return text;
}

}  // namespace

// The records are written as they are made, never held as a whole grid; the
// bytes are those of the grid filled whole.
TEST(BuildTriMesh, StreamedGridEqualsTheGridFilledWhole) {
  TempDir dir;
  const std::pair<double, double> sizes[] = {{2, 1}, {0.1, 5}, {1, 100}, {0.3, 7.7}, {1e-3, 0.05}, {123.456, 9876.5}};
  for (auto [GridSize, Rsample] : sizes) {
    char params[200];
    std::snprintf(params, sizeof params, "GridSize %.17g\nRsample %.17g\nDataDirectory %s\n", GridSize, Rsample,
                  dir.path().c_str());
    write_file(dir / "p.txt", params);
    RunResult r = run("BuildTriMesh", {dir / "p.txt"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(read_file(dir / "grid.txt") == grid_from_matrix(GridSize, Rsample)) << params;
  }
}

TEST(BuildTriMesh, OrderOfArithmeticShowsAsNegativeZeros) {
  TempDir dir;
  write_file(dir / "p.txt", "GridSize 0.1\nRsample 1\nDataDirectory " + dir.path().string() + "/\n");
  RunResult r = run("BuildTriMesh", {dir / "p.txt"});
  EXPECT_EQ(r.status, 0);
  std::istringstream grid(read_file(dir / "grid.txt"));
  std::string line, a, b, x;
  std::getline(grid, line);
  EXPECT_EQ(line, "864");
  int lines = 0, negativeZeros = 0;
  while (std::getline(grid, line)) {
    ++lines;
    std::istringstream(line) >> a >> b >> x;
    negativeZeros += x == "-0.000000";
  }
  EXPECT_EQ(lines, 864);
  EXPECT_EQ(negativeZeros, 16);
}

TEST(BuildTriMesh, FailuresNameTheCauseAndWriteNoGrid) {
  TempDir dir;
  const std::string d = dir.path().string();
  struct Case {
    std::string params;  // empty: no parameter file
    std::vector<std::string> args;
    std::string out;
    int status;
    std::string gridDir;  // where no grid.txt may appear
  };
  const std::string p = dir / "p.txt";
  const Case cases[] = {
      {"", {}, "Usage: BuildTriMesh <parameter file>. No parameter file given, exiting.\n", 1, d},
      {"", {dir / "none.txt"},
       "Could not open the parameter file " + (dir / "none.txt") + ": No such file or directory. Exiting.\n", 1, d},
      {"GridSize 2\nRsample x\n", {p},
       "The parameter file " + p + " gives no value for: Rsample, DataDirectory. Exiting.\n", 1, d},
      {"GridSize 0.001\nRsample 1000\nDataDirectory " + d + "\n", {p},
       "GridSize 0.001 and Rsample 1000 need 1.1547e+06 triangle rows per side; at most 18918 can be "
       "written (6 * rows^2 grid points must stay below 2^31). Exiting.\n", 1, d},
      {"GridSize 2\nRsample 1\nDataDirectory " + d + "/missing\n", {p},
       "Number of grid points: 6.\nCannot open file, " + d + "/missing/grid.txt\n", 1, d + "/missing"},
  };
  for (const Case& c : cases) {
    if (!c.params.empty()) write_file(p, c.params);
    std::vector<std::string> args = c.args;
    RunResult r = run("BuildTriMesh", args);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.status, c.status);
    EXPECT_FALSE(exists(c.gridDir + "/grid.txt"));
  }
  // Lengths that are no positive finite numbers, and a decimal comma: each
  // named, and an earlier grid.txt stays byte for byte.
  write_file(d + "/grid.txt", "earlier grid\n");
  const std::pair<std::string, std::string> refused[] = {
      {"GridSize -5\nRsample 1", "GridSize -5 is not a positive finite number"},
      {"GridSize 0\nRsample 1", "GridSize 0 is not a positive finite number"},
      {"GridSize 2\nRsample 0", "Rsample 0 is not a positive finite number"},
      {"GridSize 2\nRsample -1", "Rsample -1 is not a positive finite number"},
      {"GridSize -1e-300\nRsample 1e300", "GridSize -1e-300 is not a positive finite number"},
      {"GridSize 2\nRsample -inf", "Rsample -inf is not a positive finite number"},
      {"GridSize nan\nRsample 1", "GridSize nan is not a positive finite number"},
      {"GridSize 2\nRsample 1e999", "Rsample inf is not a positive finite number"},
  };
  for (const auto& [params, why] : refused) {
    write_file(p, params + "\nDataDirectory " + d + "\n");
    RunResult r = run("BuildTriMesh", {p});
    EXPECT_EQ(r.status, 1) << params;
    EXPECT_EQ(r.out, why + ": it is a length. grid.txt is not written. Exiting.\n") << params;
  }
  write_file(p, "GridSize 2\n# the sample\nRsample 1,5\nDataDirectory " + d + "\n");
  RunResult r = run("BuildTriMesh", {p});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Rsample on line 3 of " + p + " (\"Rsample 1,5\") has a decimal comma: write the number with a point. Exiting.\n");
  EXPECT_EQ(read_file(d + "/grid.txt"), "earlier grid\n");
}
