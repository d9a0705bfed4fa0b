// BuildTriMesh, SolutionDump and GrainQuats as a user runs them.
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

std::string doubles(const std::vector<double>& v) {
  return std::string(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(double));
}

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

TEST(BuildTriMesh, WritesTheGridOfTheWorkedExample) {
  TempDir dir;
  write_file(dir / "params.txt", "GridSize 2\nRsample 1\nDataDirectory " + dir.path().string() +
                                     "\nOtherProgramKey 5\n");
  RunResult r = run("BuildTriMesh", {dir / "params.txt", "ignored", "args"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(without_time(r.out, "Time elapsed in making TriMesh:"), "Number of grid points: 6.\n");
  EXPECT_EQ(read_file(dir / "grid.txt"),
            "6\n"
            "1.154701 0.577350 -1.000000 -0.577350 1.000000\n"
            "0.577350 1.154701 0.000000 -1.154701 1.000000\n"
            "1.154701 0.577350 1.000000 -0.577350 1.000000\n"
            "0.577350 1.154701 -1.000000 1.154701 1.000000\n"
            "1.154701 0.577350 0.000000 0.577350 1.000000\n"
            "0.577350 1.154701 1.000000 1.154701 1.000000\n");
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
      {"GridSize 0\nRsample 1\nDataDirectory " + d + "\n", {p},
       "GridSize is 0: triangles of no size cannot cover the sample. Exiting.\n", 1, d},
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
  // No points: a grid.txt of the count alone, also where the row count
  // overflows to minus infinity.
  for (const char* negative : {"GridSize 2\nRsample -1", "GridSize -1e-300\nRsample 1e300",
                               "GridSize -1e-320\nRsample 5", "GridSize 2\nRsample -inf"}) {
    write_file(p, std::string(negative) + "\nDataDirectory " + d + "\n");
    RunResult r = run("BuildTriMesh", {p});
    EXPECT_EQ(r.status, 0) << negative;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "Number of grid points: 0.") << negative;
    EXPECT_EQ(read_file(d + "/grid.txt"), "0\n") << negative;
  }
}

TEST(BuildTriMesh, FullDiskLeavesNoHalfWrittenGrid) {
  TempDir dir;
  write_file(dir / "p.txt", "GridSize 0.1\nRsample 5\nDataDirectory " + dir.path().string() + "\n");
  RunResult r = run("BuildTriMesh", {dir / "p.txt"}, "", Limits{.fileSize = 100000});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Number of grid points: 20184.\nCould not write " + (dir / "grid.txt") +
                       ": File too large. Exiting.\n");
  EXPECT_FALSE(exists(dir / "grid.txt"));
}

TEST(SolutionDump, WritesBothTables) {
  TempDir dir;
  std::vector<double> rows;
  for (int r = 0; r < 10; ++r)
    for (int c = 0; c < 11; ++c) rows.push_back(r * 100 + c + (c == 5 ? 0.25 : 0) + (r == 3 && c == 4 ? -1e-9 : 0));
  write_file(dir / "mic.bin", doubles(rows) + std::string(7, '\x11'));  // 887 bytes: 10 rows
  std::vector<double> all;
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 19; ++c) all.push_back(-(r * 1000 + c) - 0.5);
  write_file(dir / "mic.bin.AllMatches", doubles(all) + std::string(8, '\0'));
  write_file(dir / "p.txt", "PhaseNr 2\nNumPhases 3\nGlobalPosition 12.5\nMicFileBinary " + (dir / "mic.bin") +
                                "\nMicFileText " + (dir / "mic.txt") + "\nSaveNSolutions 3\nGridSize 9\n");
  RunResult r = run("SolutionDump", {dir / "p.txt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "NrRows: 10\n");
  const std::string header = "%TriEdgeSize 5.250000\n%NumPhases 3\n%GlobalPosition 12.500000\n";
  std::string expect = header +
      "%RowNr\tNrMatches\tRunTime\tX\tY\tTriEdgeSize\tUpDown\tEul1\tEul2\tEul3\tConfidence\tPhaseNr\n";
  for (int row = 0; row < 10; ++row) {
    for (int c = 0; c < 11; ++c) expect += fixed6(rows[row * 11 + c]) + "\t";
    expect += "2\n";
  }
  EXPECT_EQ(read_file(dir / "mic.txt"), expect);
  expect = header +
      "%RowNr\tNrMatches\tRunTime\tX\tY\tTriEdgeSize\tUpDown\tEul1\tEul2\tEul3\tConfidence\t"
      "...\t...\t...\t...\t...\t...\tPhaseNr\n";
  for (int row = 0; row < 2; ++row) {
    for (int c = 0; c < 19; ++c) expect += fixed6(all[row * 19 + c]) + "\t";
    expect += "2\n";
  }
  EXPECT_EQ(read_file(dir / "mic.txt.AllMatches"), expect);
}

TEST(SolutionDump, RowWidthsAndFailures) {
  TempDir dir;
  std::vector<double> one(11, 1.0);
  write_file(dir / "mic.bin", doubles(one));
  write_file(dir / "small.bin", std::string(47, '\0'));
  write_file(dir / "mic.bin.AllMatches", doubles(std::vector<double>(14, 7.0)));
  const std::string base = "PhaseNr 1\nNumPhases 1\nGlobalPosition 0\nMicFileText " + (dir / "out.txt") + "\n";
  const std::string header = "%TriEdgeSize 1.000000\n%NumPhases 1\n%GlobalPosition 0.000000\n%RowNr";
  struct Case {
    std::string params;
    int status;
    std::string out;
    int allMatchesRows;  // -1: no all-matches table
  };
  const Case cases[] = {
      {base + "MicFileBinary " + (dir / "mic.bin") + "\nSaveNSolutions 0\n", 0, "NrRows: 1\n", 2},  // 7 wide
      {base + "MicFileBinary " + (dir / "mic.bin") + "\n", 0, "NrRows: 1\n", 1},  // 11 wide
      {base + "MicFileBinary " + (dir / "mic.bin") + "\nSaveNSolutions -2\n", 0, "NrRows: 1\n", 0},
      {base + "MicFileBinary " + (dir / "mic.bin") + "\nSaveNSolutions 1073741824\n", 1,
       "SaveNSolutions 1073741824 makes an all-matches row wider than 2^31 values. Exiting.\n", -1},
      {base + "MicFileBinary " + (dir / "small.bin") + "\n", 1,
       "The result file " + (dir / "small.bin") +
           " holds 47 bytes, too few for the edge size of its first row (48 needed). Exiting.\n", -1},
      {base + "MicFileBinary " + (dir / "none.bin") + "\n", 1,
       "Could not open " + (dir / "none.bin") + ": No such file or directory. Exiting.\n", -1},
      {"MicFileBinary x\n", 1,
       "The parameter file " + (dir / "p.txt") + " gives no value for: PhaseNr, NumPhases, GlobalPosition, MicFileText. Exiting.\n", -1},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(dir / "out.txt");
    std::filesystem::remove(dir / "out.txt.AllMatches");
    write_file(dir / "p.txt", c.params);
    RunResult r = run("SolutionDump", {dir / "p.txt"});
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    if (c.allMatchesRows < 0) {
      EXPECT_FALSE(exists(dir / "out.txt"));
      EXPECT_FALSE(exists(dir / "out.txt.AllMatches"));
      continue;
    }
    const std::string table = read_file(dir / "out.txt.AllMatches");
    EXPECT_EQ(table.substr(0, header.size()), header);
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 4 + c.allMatchesRows) << table;
  }

  // A missing all-matches file: the complete result table stays.
  std::filesystem::remove(dir / "mic.bin.AllMatches");
  write_file(dir / "p.txt", base + "MicFileBinary " + (dir / "mic.bin") + "\n");
  RunResult r = run("SolutionDump", {dir / "p.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "NrRows: 1\nCould not open " + (dir / "mic.bin.AllMatches") +
                       ": No such file or directory. Exiting.\n");
  const std::string table = read_file(dir / "out.txt");
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 5);
  EXPECT_FALSE(exists(dir / "out.txt.AllMatches"));

  // A table that cannot be written: reported, nothing half-written left.
  write_file(dir / "p.txt", "PhaseNr 1\nNumPhases 1\nGlobalPosition 0\nMicFileText /dev/full\nMicFileBinary " +
                                (dir / "mic.bin") + "\n");
  r = run("SolutionDump", {dir / "p.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "NrRows: 1\nCould not write /dev/full: No space left on device. Exiting.\n");
}

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

TEST(GrainQuats, FailuresLeaveNoSeedFile) {
  TempDir dir;
  write_file(dir / "grains.txt", "1 1 0 0 0 1 0 0 0 1 a b c 1 1 1 90 90 90\n");
  std::filesystem::create_directory(dir / "adir");
  const char* usage = "GrainQuats usage: ./GrainQuats <OringinalFile> <OutputFile>. Please provide full path.\n";
  struct Case {
    std::vector<std::string> args;
    std::string out;
    std::string noFile;
  };
  const Case cases[] = {
      {{dir / "grains.txt"}, usage, ""},
      {{dir / "grains.txt", dir / "s.csv", "x"}, usage, dir / "s.csv"},
      {{dir / "none.txt", dir / "s.csv"},
       "Could not open the grain list " + (dir / "none.txt") + ": No such file or directory. Exiting.\n", dir / "s.csv"},
      {{dir / "adir", dir / "s.csv"},
       "Could not open the grain list " + (dir / "adir") + ": Is a directory. Exiting.\n", dir / "s.csv"},
      {{dir / "grains.txt", dir / "nodir/s.csv"},
       "Could not create " + (dir / "nodir/s.csv") + ": No such file or directory. Exiting.\n", ""},
      {{dir / "grains.txt", "/dev/full"}, "Could not write /dev/full: No space left on device. Exiting.\n", ""},
  };
  for (const Case& c : cases) {
    RunResult r = run("GrainQuats", c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, c.out);
    if (!c.noFile.empty()) {
      EXPECT_FALSE(exists(c.noFile));
    }
  }
}
