#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "param_file.hpp"
#include "testkit.hpp"

using hedm::ParamKey;

namespace {

struct Settings {
  int PhaseNr = -1, nSaves = 1;
  double GlobalPosition = -1;
  std::string word = "unset";
};

Settings apply(const std::vector<std::string>& lines) {
  Settings s;
  ParamKey keys[] = {{"PhaseNr ", &s.PhaseNr},
                     {"GlobalPosition ", &s.GlobalPosition},
                     {"MicFileBinary ", &s.word},
                     {"SaveNSolutions ", &s.nSaves}};
  for (const std::string& l : lines) hedm::apply_param_line(l.c_str(), keys);
  return s;
}

}  // namespace

TEST(ParamFile, ReadingRules) {
  struct Case {
    std::vector<std::string> lines;
    int PhaseNr;
    double GlobalPosition;
    std::string word;
  };
  const Case cases[] = {
      {{"PhaseNr 3\n"}, 3, -1, "unset"},
      {{"PhaseNr    \t 4\n"}, 4, -1, "unset"},              // blanks and tabs before the value
      {{" PhaseNr 3\n", "phasenr 3\n", "PhaseNr\t3\n", "PhaseNr\n", "PhaseNrX 3\n", "#PhaseNr 3\n"},
       -1, -1, "unset"},                                      // nothing before the key, exact case, the blank
      {{"PhaseNr 12.9\n"}, 12, -1, "unset"},                  // an integer takes the digits before the point
      {{"PhaseNr abc\n"}, -1, -1, "unset"},                   // no value: unchanged
      {{"PhaseNr 5\n", "PhaseNr 6\n"}, 6, -1, "unset"},       // the later line wins
      {{"PhaseNr 5\n", "PhaseNr x\n"}, 5, -1, "unset"},       // ... unless it has no readable value
      {{"MicFileBinary a b # comment\n"}, -1, -1, "a"},       // a word ends at a blank
      {{"MicFileBinary /data/mic.bin\r\n"}, -1, -1, "/data/mic.bin"},  // CR is white space
      {{"GlobalPosition -1.5e2 mm\n"}, -1, -150, "unset"},
      {{"GlobalPosition\n", "GlobalPosition  \n"}, -1, -1, "unset"},
      {{""}, -1, -1, "unset"},
  };
  for (const Case& c : cases) {
    Settings s = apply(c.lines);
    EXPECT_EQ(s.PhaseNr, c.PhaseNr) << c.lines[0];
    EXPECT_EQ(s.GlobalPosition, c.GlobalPosition) << c.lines[0];
    EXPECT_EQ(s.word, c.word) << c.lines[0];
    EXPECT_EQ(s.nSaves, 1);
  }
}

// Lines longer than 999 characters are read in pieces, and a piece that
// begins with a key sets it; a key nobody sets is reported missing.
TEST(ParamFile, LongLinesAndMissingKeys) {
  testkit::TempDir dir;
  std::string longLine = "Comment " + std::string(991, 'x') + "PhaseNr 42\n";  // piece 2 starts at "PhaseNr"
  testkit::write_file(dir / "p.txt", longLine + "SaveNSolutions 3\nMicFileBinary out\n");
  Settings s;
  ParamKey keys[] = {{"PhaseNr ", &s.PhaseNr},
                     {"GlobalPosition ", &s.GlobalPosition},
                     {"MicFileBinary ", &s.word},
                     {"SaveNSolutions ", &s.nSaves}};
  ASSERT_TRUE(hedm::read_param_file(dir / "p.txt", keys));
  EXPECT_EQ(s.PhaseNr, 42);
  EXPECT_EQ(s.nSaves, 3);
  EXPECT_EQ(s.word, "out");
  EXPECT_EQ(hedm::missing_keys(keys), "GlobalPosition");

  const hedm::Status missing = hedm::read_param_file(dir / "none.txt", keys);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().text, "Could not open the parameter file " + (dir / "none.txt") + ": No such file or directory.");
}

// A number followed at once by a comma and a digit is a decimal comma
// ("1,5", which would read as 1): the line sets nothing and names its key.
// A comma after the number otherwise, or in a word, is no decimal comma.
TEST(ParamFile, DecimalCommaIsRefused) {
  struct Case {
    const char* line;
    const char* refusedKey;  // nullptr: the line is taken
    double GlobalPosition;
    int PhaseNr;
    std::string word;
  };
  const Case cases[] = {
      {"GlobalPosition 1,5\n", "GlobalPosition ", -1, -1, "unset"},
      {"GlobalPosition \t-0,25 mm\n", "GlobalPosition ", -1, -1, "unset"},
      {"PhaseNr 2,0\n", "PhaseNr ", -1, -1, "unset"},
      {"GlobalPosition 1, 5\n", nullptr, 1, -1, "unset"},
      {"GlobalPosition 1.5,x\n", nullptr, 1.5, -1, "unset"},
      {"PhaseNr 2,\n", nullptr, -1, 2, "unset"},
      {"MicFileBinary run1,5\n", nullptr, -1, -1, "run1,5"},
  };
  for (const Case& c : cases) {
    Settings s;
    ParamKey keys[] = {{"PhaseNr ", &s.PhaseNr}, {"GlobalPosition ", &s.GlobalPosition}, {"MicFileBinary ", &s.word}};
    const ParamKey* refused = hedm::apply_param_line(c.line, keys);
    EXPECT_EQ(refused ? refused->key : std::string_view(), std::string_view(c.refusedKey ? c.refusedKey : "")) << c.line;
    EXPECT_EQ(s.GlobalPosition, c.GlobalPosition) << c.line;
    EXPECT_EQ(s.PhaseNr, c.PhaseNr) << c.line;
    EXPECT_EQ(s.word, c.word) << c.line;
  }

  testkit::TempDir dir;
  testkit::write_file(dir / "p.txt", "PhaseNr 1\n% a comment\nGlobalPosition 1,5\r\n");
  Settings s;
  ParamKey keys[] = {{"PhaseNr ", &s.PhaseNr}, {"GlobalPosition ", &s.GlobalPosition}};
  const hedm::Status st = hedm::read_param_file(dir / "p.txt", keys);
  ASSERT_FALSE(st);
  EXPECT_EQ(st.error().text, "GlobalPosition on line 3 of " + (dir / "p.txt") +
                                 " (\"GlobalPosition 1,5\") has a decimal comma: write the number with a point.");
}
