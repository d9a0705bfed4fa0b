// Grain lines read as the C library's scanner reads them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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

namespace {

// The C library's reading of a line of any length: words unbounded, into
// buffers as long as the line.
int c_library_scan(const std::string& line, hedm::Grain* g) {
  std::vector<char> w(line.size() + 1);
  double* M = g->OrientMatrix;
  double* L = g->LatC;
  char* s = w.data();
  return std::sscanf(line.c_str(),
                     "%d %lf %lf %lf %lf %lf %lf %lf %lf %lf %s %s %s %lf %lf %lf %lf %lf %lf %s %s %s %s",
                     &g->GrainID, &M[0], &M[1], &M[2], &M[3], &M[4], &M[5], &M[6], &M[7], &M[8], s, s, s, &L[0],
                     &L[1], &L[2], &L[3], &L[4], &L[5], s, s, s, s);
}

// A line put together from pieces of at most 999 characters, as a grain
// list is read; "(cut)" appended where it was cut at the limit.
std::string gathered(const std::string& line) {
  hedm::LongGrainLine g;
  g.start(line.data(), std::min<std::size_t>(999, line.size()));
  for (std::size_t at = 999; at < line.size(); at += 999)
    g.add(line.data() + at, std::min<std::size_t>(999, line.size() - at));
  return g.text() + std::string(g.cut() ? "(cut)" : "");
}

}  // namespace

// Lines longer than a piece: a word of any length is one field (where a
// bounded scan would split it), on the plain path and on the C library's.
TEST(GrainLine, LongLinesScanAsTheCLibraryDoes) {
  const std::string id = "7 ", fields = "1 0 0 0 1 0 0 0 1 ", lattice = " 4 5 6 90 90 120 w x y z";
  const std::string words(1500, 'a'), blanks(2000, ' '), nines(3000, '9'), zeros(1200, '0');
  const std::string lines[] = {
      id + fields + words + " b c" + lattice,
      id + fields.substr(0, 8) + "inf " + fields.substr(8) + words + " b c" + lattice,
      id + blanks + fields + "a b c" + lattice + " " + nines,
      id + "1." + zeros + "5 0 0 0 1 0 0 0 1 a b c" + lattice,
  };
  for (const std::string& line : lines) {
    hedm::Grain fast, ref;
    EXPECT_EQ(hedm::scan_grain_line(line.c_str(), &fast), c_library_scan(line, &ref)) << line.size();
    EXPECT_EQ(fast.GrainID, ref.GrainID);
    EXPECT_EQ(std::memcmp(fast.OrientMatrix, ref.OrientMatrix, sizeof ref.OrientMatrix), 0) << line.size();
    EXPECT_EQ(std::memcmp(fast.LatC, ref.LatC, sizeof ref.LatC), 0) << line.size();
  }
}

// A long line is kept up to the white space after its 23rd field, up to a
// zero byte, or, for fields that run on without end, up to the last white
// space within the limit.
TEST(GrainLine, LongLinesAreGatheredUpToTheirLastField) {
  const std::string grain = "7 1 0 0 0 1 0 0 0 1 a b c 4 5 6 90 90 120 w x y z";
  EXPECT_EQ(gathered(std::string(1200, ' ') + grain + " " + std::string(3000, '5') + "\n"),
            std::string(1200, ' ') + grain + " ");
  EXPECT_EQ(gathered(grain.substr(0, 20) + std::string(1, '\0') + std::string(2000, '1')), grain.substr(0, 20));

  EXPECT_EQ(gathered("7 1 " + std::string(hedm::LongGrainLine::kMaxChars + 5000, 'x')), "7 1 (cut)");
}
