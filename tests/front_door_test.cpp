// What a newcomer meets first: --help and --version on every command, the
// old texts for every other wrong command line, and PNG previews that a real
// decoder reads back.
#include <gtest/gtest.h>

#include <filesystem>

#include "testkit.hpp"

using namespace testkit;

namespace {

const std::string kPrograms[] = {"StackCollapse", "PanelPack",    "ClipCount",        "BuildTriMesh",
                                 "GrainQuats",    "SolutionDump", "FramePreview",     "hedm-sample-data",
                                 "hedm-share",    "hedm-far-field-share", "hedm-merge-counts",
                                 "hedm-slurm-far-field", "hedm-slurm-dark", "hedm-far-field-submit",
                                 "hedm-far-field-resume", "hedm-far-field-status"};

}  // namespace

TEST(FrontDoor, EveryCommandAnswersHelpAndVersion) {
  for (const std::string& p : kPrograms) {
    SCOPED_TRACE(p);
    RunResult help = run(p, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: ", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("\nExample: "), std::string::npos) << help.out;
    EXPECT_TRUE(help.out.find("man " + p) != std::string::npos || help.out.find(p + "(1)") != std::string::npos)
        << "no pointer to the manual page:\n" << help.out;
    RunResult version = run(p, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, p + " (HEDM reduction) " + HEDM_VERSION + "\n");
  }
}

// The options count only alone: with anything beside them, every program
// does what it always did with those arguments.
TEST(FrontDoor, OtherCommandLinesBehaveAsBefore) {
  TempDir dir;
  struct Case {
    std::string program;
    std::vector<std::string> args;
    int status;
    std::string out;
  };
  const std::string panelUsage =
      "Usage: ./PanelPack InFileStem StartNr EndNr Padding InExt skip(if files are not continuous).\n"
      "Right now works for padding 5 only.\nWill always save .ge3 files as output.\n";
  const Case cases[] = {
      {"StackCollapse", {}, 1, "Not enough arguments, exiting.\n"},
      {"StackCollapse", {"--help", "x", "y"}, 1, "Not enough arguments, exiting.\n"},
      {"PanelPack", {"--version", "1"}, 2, panelUsage},
      {"ClipCount", {"--help", "a"}, 1,
       "Usage: ClipCount <folder> <filestem> <padding> <startnr> <endnr> <ext> <darkname> <saturationIntensity>\n"},
      {"GrainQuats", {"--help", "out.csv", "x"}, 1,
       "GrainQuats usage: ./GrainQuats <OringinalFile> <OutputFile>. Please provide full path.\n"},
      {"BuildTriMesh", {}, 1, "Usage: BuildTriMesh <parameter file>. No parameter file given, exiting.\n"},
      {"SolutionDump", {}, 1, "Usage: SolutionDump <parameter file>. No parameter file given, exiting.\n"},
      {"BuildTriMesh", {"--help", "x"}, 1,
       "Could not open the parameter file --help: No such file or directory. Exiting.\n"},
      {"FramePreview", {}, 1,
       "Usage: FramePreview <frame file> <output> [frame, from 1] [low percentile] [high percentile] [--log] "
       "[--bin N] [--raw FILE]\nWrites <output> as an 8-bit PNG (or PGM) view stretched between the percentiles, 1 "
       "and 99.5 by default; FramePreview --help tells more.\n"},
      {"FramePreview", {"--version", "x"}, 1, "Could not open --version: No such file or directory. Exiting.\n"},
      {"hedm-far-field-resume", {"x", "y"}, 1, "hedm-far-field-resume: x holds no far-field run (no run.txt).\n"},
  };
  for (const Case& c : cases) {
    RunResult r = run(c.program, c.args, dir.path().string());
    EXPECT_EQ(r.status, c.status) << c.program;
    EXPECT_EQ(r.out, c.out) << c.program;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 0);
}
