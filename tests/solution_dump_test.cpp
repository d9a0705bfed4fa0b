// SolutionDump as a user runs it: binary result files to text tables.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>

#include "testkit.hpp"

using namespace testkit;

namespace {

std::string doubles(const std::vector<double>& v) {
  return std::string(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(double));
}

std::string fixed6(double v) {
  char buf[400];
  std::snprintf(buf, sizeof buf, "%lf", v);
  return buf;
}

}  // namespace

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
  EXPECT_EQ(r.out, "NrRows: 10\nWarning: " + (dir / "mic.bin") +
                       " ends in a partial row: its last 7 bytes are passed over.\nWarning: " +
                       (dir / "mic.bin.AllMatches") + " ends in a partial row: its last 8 bytes are passed over.\n");
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
      {base + "MicFileBinary " + (dir / "mic.bin") + "\n", 0,
       "NrRows: 1\nWarning: " + (dir / "mic.bin.AllMatches") + " ends in a partial row: its last 24 bytes are passed over.\n",
       1},  // 11 wide
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

// All-matches files written for 3 solutions a row, read with 1, 3 and 5:
// a file that holds exactly the result file's rows at another count is
// refused, naming both counts (the result table stays, the all-matches
// table is not written); at the right count it is converted.  Row counts
// chosen so that the file is a whole number of rows at the wrong count too
// (11 rows of 19 values are 19 rows of 11), and so that it is not (10 rows).
TEST(SolutionDump, AllMatchesWrittenForAnotherSolutionCount) {
  TempDir dir;
  for (const int nrRows : {10, 11}) {
    write_file(dir / "mic.bin", doubles(std::vector<double>(11 * nrRows, 0.5)));
    write_file(dir / "mic.bin.AllMatches", doubles(std::vector<double>(19 * nrRows, 2.5)));
    const std::string size = std::to_string(152 * nrRows), rows = std::to_string(nrRows);
    for (const int nSaves : {1, 3, 5}) {
      std::filesystem::remove(dir / "out.txt");
      std::filesystem::remove(dir / "out.txt.AllMatches");
      write_file(dir / "p.txt", "PhaseNr 1\nNumPhases 1\nGlobalPosition 0\nMicFileBinary " + (dir / "mic.bin") +
                                    "\nMicFileText " + (dir / "out.txt") + "\nSaveNSolutions " +
                                    std::to_string(nSaves) + "\n");
      RunResult r = run("SolutionDump", {dir / "p.txt"});
      const std::string at = "NrRows " + rows + ", SaveNSolutions " + std::to_string(nSaves);
      EXPECT_TRUE(exists(dir / "out.txt")) << at;
      if (nSaves == 3) {
        EXPECT_EQ(r.status, 0) << at;
        EXPECT_EQ(r.out, "NrRows: " + rows + "\n") << at;
        const std::string table = read_file(dir / "out.txt.AllMatches");
        EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 4 + nrRows) << at;
        continue;
      }
      const int rowBytes = 8 * (4 * nSaves + 7);
      const int whole = 152 * nrRows / rowBytes, rest = 152 * nrRows % rowBytes;
      EXPECT_EQ(r.status, 1) << at;
      EXPECT_EQ(r.out, "NrRows: " + rows + "\nThe all-matches file " + (dir / "mic.bin.AllMatches") + " holds " +
                           size + " bytes: at SaveNSolutions " + std::to_string(nSaves) + " (rows of " +
                           std::to_string(rowBytes) + " bytes) that is " + std::to_string(whole) + " rows" +
                           (rest ? " and " + std::to_string(rest) + " bytes" : "") +
                           ", but at SaveNSolutions 3 (rows of 152 bytes) exactly the " + rows +
                           " rows of the result file. Set SaveNSolutions 3 in " + (dir / "p.txt") +
                           "; the all-matches table is not written. Exiting.\n")
          << at;
      EXPECT_FALSE(exists(dir / "out.txt.AllMatches")) << at;
    }
  }
}
