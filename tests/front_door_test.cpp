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
                                 "hedm-slurm-far-field", "hedm-slurm-dark", "hedm-far-field-submit"};

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
  };
  for (const Case& c : cases) {
    RunResult r = run(c.program, c.args, dir.path().string());
    EXPECT_EQ(r.status, c.status) << c.program;
    EXPECT_EQ(r.out, c.out) << c.program;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 0);
}

// Names that would be misread or would replace a file are refused before
// anything is written: hedm-sample-data makes new files only (neither
// replacing one nor writing through a link to one), and FramePreview takes
// no output named for an image format it does not write.
TEST(FrontDoor, OutputNamesTakenOrMisreadAreRefused) {
  TempDir dir;
  write_file(dir / "dark_stack.ge3", "real data");
  std::filesystem::create_symlink("dark_stack.ge3", dir / "link_stack.ge3");
  write_file(dir / "mic.bin.AllMatches", "real rows");
  struct Case {
    std::string program;
    std::vector<std::string> args;
    std::string out;
  };
  const Case cases[] = {
      {"hedm-sample-data", {"stack", "dark_stack.ge3", "3"},
       "dark_stack.ge3 exists: hedm-sample-data writes new files only and never replaces one. Nothing written.\n"},
      {"hedm-sample-data", {"stack", "link_stack.ge3", "3"},
       "link_stack.ge3 is a symbolic link (to dark_stack.ge3): hedm-sample-data never writes through one. Nothing "
       "written.\n"},
      {"hedm-sample-data", {"results", "mic.bin", "3"},
       "mic.bin.AllMatches exists: hedm-sample-data writes new files only and never replaces one. Nothing written.\n"},
      {"FramePreview", {"dark_stack.ge3", "view.jpg"},
       "view.jpg: FramePreview writes PNG (.png) and PGM (.pgm) images, not .jpg. Name the output NAME.png or "
       "NAME.pgm. Exiting.\n"},
      {"FramePreview", {"dark_stack.ge3", "out/view.TIFF", "--log"},
       "out/view.TIFF: FramePreview writes PNG (.png) and PGM (.pgm) images, not .TIFF. Name the output NAME.png or "
       "NAME.pgm. Exiting.\n"},
      {"FramePreview", {"dark_stack.ge3", "view.PNG"},
       "view.PNG: FramePreview writes PNG (.png) and PGM (.pgm) images, not .PNG. Name the output NAME.png or "
       "NAME.pgm. Exiting.\n"},
  };
  for (const Case& c : cases) {
    RunResult r = run(c.program, c.args, dir.path().string());
    EXPECT_EQ(r.status, 1) << c.args[1];
    EXPECT_EQ(r.out, c.out) << c.args[1];
  }
  EXPECT_EQ(read_file(dir / "dark_stack.ge3"), "real data");
  EXPECT_EQ(read_file(dir / "mic.bin.AllMatches"), "real rows");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3);
  // A device replaces nothing and is written as before.
  EXPECT_EQ(run("hedm-sample-data", {"grains", "/dev/null", "2"}).status, 0);
}
