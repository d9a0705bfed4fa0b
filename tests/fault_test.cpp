// Every program against the faults a real run meets: missing, empty,
// truncated and misnamed inputs, outputs that cannot be created or fill the
// disk, too little memory, and garbage in text inputs.  Each case checks the
// message, the exit status, and that nothing was left half-written and no
// input was changed.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "testkit.hpp"

using namespace testkit;
namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kFrameFile = hedm::kOneFrameFileBytes;

// Contents of every regular file below dir, by path.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) files[e.path().string()] = read_file(e.path().string());
  return files;
}

struct Case {
  std::string name;
  std::function<void(const TempDir&)> setup;
  std::string program;
  std::vector<std::string> args;  // "@" stands for the scratch directory
  int status;
  std::string says;               // expected somewhere in standard output
  bool unchanged = true;          // no file created, changed or removed
  Limits limits = {};
  bool needsRealMemoryLimit = false;
  std::string earlier = {};       // an output already there from an earlier run, kept byte for byte
};

// The same case run over an earlier output of that name.
Case over(const std::string& earlier, Case c) {
  c.earlier = earlier;
  return c;
}

void file(const TempDir& d, const std::string& name, const std::string& bytes) { write_file(d / name, bytes); }
std::string zeros(std::uint64_t n) { return std::string(n, '\0'); }
const std::string kLong(300, 'x');  // longer than a file name may be

bool sanitized() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#else
  return false;
#endif
}

void check(const Case& c) {
  SCOPED_TRACE(c.program + ": " + c.name);
  if (c.needsRealMemoryLimit && sanitized()) return;  // the sanitizer's shadow memory needs the address space
  TempDir dir;
  if (c.setup) c.setup(dir);
  auto place = [&dir](std::string a) {
    for (std::size_t at; (at = a.find('@')) != std::string::npos;) a.replace(at, 1, dir.path().string());
    return a;
  };
  std::vector<std::string> args;
  for (const std::string& a : c.args) args.push_back(place(a));
  const std::string says = place(c.says);
  if (!c.earlier.empty()) write_file(place(c.earlier), "an earlier run's output\n");
  const auto before = snapshot(dir.path());
  RunResult r = run(c.program, args, "", c.limits);
  EXPECT_EQ(r.status, c.status);
  EXPECT_NE(r.out.find(says), std::string::npos) << "standard output:\n" << r.out;
  EXPECT_EQ(r.err, "");
  if (c.unchanged) {
    EXPECT_TRUE(snapshot(dir.path()) == before) << "files changed";
  }
}

}  // namespace

TEST(Faults, StackCollapse) {
  auto frames = [](std::uint64_t bytes) { return [bytes](const TempDir& d) { file(d, "in.ge3", zeros(bytes)); }; };
  const Case cases[] = {
      over("@/out.ge3", {"missing input", nullptr, "StackCollapse", {"@/in.ge3", "@/out.ge3"}, 1, "Could not open @"}),
      {"empty input", frames(0), "StackCollapse", {"@/in.ge3", "@/out.ge3"}, 1, "The input file @/in.ge3 holds no whole frame (0 bytes"},
      {"inside the header", frames(100), "StackCollapse", {"@/in.ge3", "@/out.ge3"}, 1, "holds no whole frame (100 bytes"},
      {"one byte into a frame", frames(8193), "StackCollapse", {"@/in.ge3", "@/out.ge3"}, 1, "holds no whole frame (8193"},
      {"one byte short of a frame", frames(kFrameFile - 1), "StackCollapse", {"@/in.ge3", "@/out.ge3"}, 1, "holds no whole frame (8396799"},
      {"directory as input", [](const TempDir& d) { fs::create_directory(d / "in.ge3"); }, "StackCollapse",
       {"@/in.ge3", "@/out.ge3"}, 1, "/in.ge3: Is a directory."},
      {"name too long", nullptr, "StackCollapse", {"@/" + kLong, "@/out.ge3"}, 1, "File name too long."},
      {"output in a missing directory", frames(kFrameFile), "StackCollapse", {"@/in.ge3", "@/no/out.ge3"}, 1,
       "Could not create @"},
      {"output is a directory", [](const TempDir& d) { file(d, "in.ge3", zeros(kFrameFile)); fs::create_directory(d / "out"); },
       "StackCollapse", {"@/in.ge3", "@/out"}, 1, "/out: Is a directory."},
      over("@/out.ge3", {"disk full", frames(kFrameFile), "StackCollapse", {"@/in.ge3", "@/out.ge3"}, 1, "/out.ge3: File too large.",
       true, Limits{.fileSize = 1 << 20}}),
      {"/dev/full", frames(kFrameFile), "StackCollapse", {"@/in.ge3", "/dev/full"}, 1, "No space left on device."},
      {"too little memory", frames(kFrameFile), "StackCollapse", {"@/in.ge3", "@/out.ge3"}, 1,
       "Could not obtain", true, Limits{.addressSpace = 10 << 20}, true},
      {"spaces and non-ASCII in names", [](const TempDir& d) { file(d, "dark stack é.ge3", zeros(kFrameFile)); },
       "StackCollapse", {"@/dark stack é.ge3", "@/médian out.ge3"}, 0, "Read file @/dark stack é.ge3.", false},
  };
  for (const Case& c : cases) check(c);
}

TEST(Faults, PanelPack) {
  auto image = [](std::uint64_t bytes) { return [bytes](const TempDir& d) { file(d, "s00001.raw", zeros(bytes)); }; };
  const std::uint64_t kImage = 16777216;
  const Case cases[] = {
      {"missing input", nullptr, "PanelPack", {"@/s", "1", "1", "5", "raw", "1"}, 2,
       "Could not read @/s00001.raw. Continuing to the next file."},
      {"empty input", image(0), "PanelPack", {"@/s", "1", "1", "5", "raw", "1"}, 2, "it holds 0 of 16777216 bytes"},
      {"one byte short", image(kImage - 1), "PanelPack", {"@/s", "1", "1", "5", "raw", "1"}, 2,
       "it holds 16777215 of 16777216 bytes. No output written for it."},
      {"directory as input", [](const TempDir& d) { fs::create_directory(d / "s00001.raw"); }, "PanelPack",
       {"@/s", "1", "1", "5", "raw", "1"}, 2, "Could not read @/s00001.raw."},
      {"name too long", nullptr, "PanelPack", {"@/" + kLong, "1", "1", "5", "raw", "1"}, 2, "Could not read"},
      {"output is a directory", [](const TempDir& d) { file(d, "s00001.raw", zeros(kImage)); fs::create_directory(d / "s00001.ge3"); },
       "PanelPack", {"@/s", "1", "1", "5", "raw", "1"}, 2, "Could not create @/s00001.ge3: Is a directory."},
      over("@/s00001.ge3", {"disk full", image(kImage), "PanelPack", {"@/s", "1", "1", "5", "raw", "1"}, 2,
       "Could not write @/s00001.ge3: File too large.", true, Limits{.fileSize = 1 << 20}}),
      over("@/s00001.ge3", {"short input", image(kImage - 1), "PanelPack", {"@/s", "1", "1", "5", "raw", "1"}, 2,
       "No output written for it."}),
      {"too little memory", image(kImage), "PanelPack", {"@/s", "1", "1", "5", "raw", "1"}, 2, "Could not obtain",
       true, Limits{.addressSpace = 16 << 20}, true},
      {"spaces and non-ASCII in names", [](const TempDir& d) { file(d, "scan é 00001.raw", zeros(kImage)); },
       "PanelPack", {"@/scan é ", "1", "1", "5", "raw", "1"}, 1, "Read file @/scan é 00001.raw.", false},
  };
  for (const Case& c : cases) check(c);
}

TEST(Faults, ClipCount) {
  auto withDark = [](std::uint64_t darkBytes, std::uint64_t dataBytes) {
    return [=](const TempDir& d) {
      file(d, "dark.ge3", zeros(darkBytes));
      if (dataBytes) file(d, "s_00001.ge3", zeros(dataBytes));
    };
  };
  const std::vector<std::string> args = {"@", "s", "5", "1", "1", ".ge3", "dark.ge3", "100"};
  const Case cases[] = {
      {"missing dark file", nullptr, "ClipCount", args, 1, "Could not read the dark file: @/dark.ge3. Exiting."},
      {"empty dark file", withDark(0, 0), "ClipCount", args, 1, "holds no whole frame (0 bytes"},
      {"dark file inside its header", withDark(100, 0), "ClipCount", args, 1, "holds no whole frame (100 bytes"},
      {"dark file one byte short", withDark(kFrameFile - 1, 0), "ClipCount", args, 1, "holds no whole frame (8396799"},
      {"dark file is a directory", [](const TempDir& d) { fs::create_directory(d / "dark.ge3"); }, "ClipCount", args, 1,
       "Could not read the dark file"},
      {"missing data file", withDark(kFrameFile, 0), "ClipCount", args, 1, "Could not read the input file: @/s_00001.ge3. Exiting."},
      {"data file is a directory", [](const TempDir& d) { file(d, "dark.ge3", zeros(kFrameFile)); fs::create_directory(d / "s_00001.ge3"); },
       "ClipCount", args, 1, "Could not read the input file: @/s_00001.ge3."},
      {"data file one byte into its second frame: one frame line", withDark(kFrameFile, kFrameFile + 1), "ClipCount", args, 0,
       "Frame 001 of 1 0.\nTime elapsed"},
      {"data file inside its header", withDark(kFrameFile, 10), "ClipCount", args, 1,
       "The data file @/s_00001.ge3 holds no whole frame (10 bytes; one frame needs 8396800). Exiting."},
      {"name too long", withDark(kFrameFile, 0), "ClipCount", {"@", kLong, "5", "1", "1", ".ge3", "dark.ge3", "100"}, 1,
       "Could not read the input file"},
      {"spaces and non-ASCII in names", [](const TempDir& d) { file(d, "dark é.ge3", zeros(kFrameFile)); file(d, "s é_00001.ge3", zeros(kFrameFile)); },
       "ClipCount", {"@", "s é", "5", "1", "1", ".ge3", "dark é.ge3", "100"}, 0, "Frame 001 of 1 0."},
      {"too little memory", withDark(kFrameFile, kFrameFile), "ClipCount", args, 1, "Could not obtain", true,
       Limits{.addressSpace = 12 << 20}, true},
  };
  for (const Case& c : cases) check(c);
}

TEST(Faults, BuildTriMesh) {
  auto params = [](std::string text) {
    return [text](const TempDir& d) {
      std::string t = text;
      for (std::size_t at; (at = t.find('@')) != std::string::npos;) t.replace(at, 1, d.path().string());
      file(d, "p.txt", t);
    };
  };
  std::string garbage;
  for (int i = 0; i < 5000; ++i) garbage += static_cast<char>((i * 7919) % 256);
  const Case cases[] = {
      {"binary garbage", params(garbage), "BuildTriMesh", {"@/p.txt"}, 1,
       "gives no value for: GridSize, Rsample, DataDirectory. Exiting."},
      {"NUL bytes inside keys", params(std::string("GridSize\0 2\nRsample 1\nDataDirectory @\n", 38)), "BuildTriMesh",
       {"@/p.txt"}, 1, "gives no value for: GridSize. Exiting."},
      {"an overlong line hides nothing", params(std::string(5000, 'y') + "\nGridSize 2\nRsample 1\nDataDirectory @\n"),
       "BuildTriMesh", {"@/p.txt"}, 0, "Number of grid points: 6.", false},
      {"an infinite row count", params("GridSize 1e-300\nRsample 1e300\nDataDirectory @\n"), "BuildTriMesh", {"@/p.txt"}, 1,
       "need inf triangle rows per side"},
      {"not a number", params("GridSize nan\nRsample 1\nDataDirectory @\n"), "BuildTriMesh", {"@/p.txt"}, 1,
       "GridSize nan is not a positive finite number"},
      {"huge values print in full", params("GridSize 1e300\nRsample 1\nDataDirectory @\n"), "BuildTriMesh", {"@/p.txt"}, 0,
       "Number of grid points: 6.", false},
      {"grid.txt is a directory", [](const TempDir& d) { file(d, "p.txt", "GridSize 2\nRsample 1\nDataDirectory " + d.path().string() + "\n"); fs::create_directory(d / "grid.txt"); },
       "BuildTriMesh", {"@/p.txt"}, 1, "Cannot open file, @/grid.txt\n"},
      {"parameter file is a directory", [](const TempDir& d) { fs::create_directory(d / "p.txt"); }, "BuildTriMesh", {"@/p.txt"}, 1,
       "Could not read the parameter file @/p.txt: Is a directory."},
      over("@/grid.txt", {"disk full", params("GridSize 0.1\nRsample 5\nDataDirectory @\n"), "BuildTriMesh", {"@/p.txt"}, 1,
       "@/grid.txt: File too large. Exiting.", true, Limits{.fileSize = 4096}}),
      over("@/grid.txt", {"a refused grid size", params("GridSize 0\nRsample 5\nDataDirectory @\n"), "BuildTriMesh",
       {"@/p.txt"}, 1, "GridSize"}),
      // The grid is written as it is made: a grid far larger than the
      // address space allows is no fault.
      {"a grid larger than the memory", params("GridSize 0.5\nRsample 100\nDataDirectory @\n"), "BuildTriMesh",
       {"@/p.txt"}, 0, "Number of grid points: 320166.", false, Limits{.addressSpace = 24 << 20}, true},
  };
  for (const Case& c : cases) check(c);
}

TEST(Faults, GrainQuats) {
  auto grains = [](std::string text) { return [text](const TempDir& d) { file(d, "g.txt", text); }; };
  std::string garbage;
  for (int i = 0; i < 3000; ++i) garbage += static_cast<char>((i * 104729) % 256);
  const std::string good = "1 1 0 0 0 1 0 0 0 1 a b c 4 4 4 90 90 90 w x y z\n";
  const Case cases[] = {
      {"binary garbage", grains(garbage), "GrainQuats", {"@/g.txt", "@/s.csv"}, 1,
       "@/g.txt holds no grain: not one of its lines is a grain line. Nothing written. Exiting."},
      {"NUL bytes", grains(std::string("1 1 0 0 0 1 0\0 0 0 1 a b c 4 4 4 90 90 90\n", 42) + good), "GrainQuats",
       {"@/g.txt", "@/s.csv"}, 0, "Line 1 of @/g.txt has fewer than the 19 fields", false},
      {"an overlong line is read in pieces", grains(std::string(2500, ' ') + "x\n" + good), "GrainQuats",
       {"@/g.txt", "@/s.csv"}, 0, "Number of seed orientations: 1", false},
      {"a line after an overlong one is named as an editor shows it", grains(std::string(2500, 'y') + "\n9 1 0\n" + good),
       "GrainQuats", {"@/g.txt", "@/s.csv"}, 0, "Line 2 of @/g.txt has fewer than the 19 fields", false},
      {"a line after a NUL byte is named as an editor shows it", grains(std::string("1 2\0 3\n", 7) + "9 1 0\n" + good),
       "GrainQuats", {"@/g.txt", "@/s.csv"}, 0, "Line 2 of @/g.txt has fewer than the 19 fields", false},
      {"huge and non-finite numbers", grains("99999999999 1e400 nan inf -inf 1 0 0 0 1 a b c 1e308 4 4 90 90 90\n"), "GrainQuats",
       {"@/g.txt", "@/s.csv"}, 0, "Number of seed orientations: 1", false},
      over("@/s.csv", {"missing grain list", nullptr, "GrainQuats", {"@/g.txt", "@/s.csv"}, 1, "Could not open the grain list @/g.txt"}),
      {"grain list is a directory", [](const TempDir& d) { fs::create_directory(d / "g.txt"); }, "GrainQuats",
       {"@/g.txt", "@/s.csv"}, 1, "Is a directory"},
      {"output in a missing directory", grains(good), "GrainQuats", {"@/g.txt", "@/no/s.csv"}, 1, "Could not create @/no/s.csv"},
      {"output is a directory", [good](const TempDir& d) { file(d, "g.txt", good); fs::create_directory(d / "s.csv"); },
       "GrainQuats", {"@/g.txt", "@/s.csv"}, 1, "Could not create @/s.csv: Is a directory."},
      over("@/s.csv", {"disk full", [good](const TempDir& d) { std::string t; for (int i = 0; i < 2000; ++i) t += good; file(d, "g.txt", t); },
       "GrainQuats", {"@/g.txt", "@/s.csv"}, 1, "Could not write @/s.csv: File too large.", true, Limits{.fileSize = 65536}}),
      {"/dev/full", grains(good), "GrainQuats", {"@/g.txt", "/dev/full"}, 1, "No space left on device."},
  };
  for (const Case& c : cases) check(c);
}

TEST(Faults, SolutionDump) {
  auto setup = [](std::string params, std::uint64_t resultBytes) {
    return [=](const TempDir& d) {
      std::string t = params;
      for (std::size_t at; (at = t.find('@')) != std::string::npos;) t.replace(at, 1, d.path().string());
      file(d, "p.txt", t);
      if (resultBytes) {
        file(d, "r.bin", std::string(resultBytes, '\x01'));
        file(d, "r.bin.AllMatches", std::string(resultBytes, '\x02'));
      }
    };
  };
  const std::string keys = "PhaseNr 1\nNumPhases 1\nGlobalPosition 0\nMicFileBinary @/r.bin\n";
  const Case cases[] = {
      {"binary garbage", setup(std::string(2000, '\xfe'), 0), "SolutionDump", {"@/p.txt"}, 1,
       "gives no value for: PhaseNr, NumPhases, GlobalPosition, MicFileBinary, MicFileText"},
      over("@/t.txt", {"missing result file", setup(keys + "MicFileText @/t.txt\n", 0), "SolutionDump", {"@/p.txt"}, 1, "Could not open @/r.bin"}),
      {"result file is a directory", [keys, setup](const TempDir& d) { setup(keys + "MicFileText @/t.txt\n", 0)(d); fs::create_directory(d / "r.bin"); },
       "SolutionDump", {"@/p.txt"}, 1, "@/r.bin: Is a directory."},
      {"result file of 47 bytes", setup(keys + "MicFileText @/t.txt\n", 47), "SolutionDump", {"@/p.txt"}, 1, "holds 47 bytes"},
      {"table in a missing directory", setup(keys + "MicFileText @/no/t.txt\n", 880), "SolutionDump", {"@/p.txt"}, 1,
       "Could not create @/no/t.txt"},
      over("@/t.txt", {"disk full", setup(keys + "MicFileText @/t.txt\n", 880000), "SolutionDump", {"@/p.txt"}, 1,
       "Could not write @/t.txt: File too large.", true, Limits{.fileSize = 65536}}),
      {"huge SaveNSolutions", setup(keys + "MicFileText @/t.txt\nSaveNSolutions 2147483647\n", 880), "SolutionDump",
       {"@/p.txt"}, 1, "wider than 2^31 values"},
  };
  for (const Case& c : cases) check(c);
}

// An output that is an input of the same run, or another output of it, under
// any name: refused before anything is written.
TEST(Faults, SameFileInAndOut) {
  auto files = [](std::vector<std::pair<std::string, std::string>> made,
                  std::vector<std::pair<std::string, std::string>> links = {}, bool hard = false) {
    return [=](const TempDir& d) {
      for (auto [name, bytes] : made) {
        for (std::size_t at; (at = bytes.find('@')) != std::string::npos;) bytes.replace(at, 1, d.path().string());
        file(d, name, bytes);
      }
      for (const auto& [link, to] : links) {
        if (hard) fs::create_hard_link(d.path() / to, d.path() / link);
        else fs::create_symlink(to, d.path() / link);
      }
    };
  };
  const std::string stack = zeros(kFrameFile), grain = "1 1 0 0 0 1 0 0 0 1 a b c 4 4 4 90 90 90\n";
  const std::string solution = "PhaseNr 1\nNumPhases 1\nGlobalPosition 0\nMicFileBinary @/r.bin\n";
  const std::string results = std::string(880, '\x01');
  const std::string kNothing = " Nothing written. Exiting.";
  const Case cases[] = {
      {"one name", files({{"s.ge3", stack}}), "StackCollapse", {"@/s.ge3", "@/s.ge3"}, 1,
       "The output @/s.ge3 is the same file as the input @/s.ge3." + kNothing},
      {"a symbolic link", files({{"s.ge3", stack}}, {{"l.ge3", "s.ge3"}}), "StackCollapse", {"@/s.ge3", "@/l.ge3"}, 1,
       "The output @/l.ge3 is the same file as the input @/s.ge3." + kNothing},
      {"a hard link", files({{"s.ge3", stack}}, {{"h.ge3", "s.ge3"}}, true), "StackCollapse", {"@/h.ge3", "@/s.ge3"}, 1,
       "The output @/s.ge3 is the same file as the input @/h.ge3." + kNothing},
      {"another spelling", files({{"g.txt", grain}}), "GrainQuats", {"@/g.txt", "@/./g.txt"}, 1,
       "The output @/./g.txt is the same file as the input @/g.txt." + kNothing},
      {"a symbolic link", files({{"g.txt", grain}}, {{"seeds.csv", "g.txt"}}), "GrainQuats", {"@/g.txt", "@/seeds.csv"}, 1,
       "The output @/seeds.csv is the same file as the input @/g.txt." + kNothing},
      {"the parameter file is grid.txt", files({{"grid.txt", "GridSize 2\nRsample 1\nDataDirectory @\n"}}), "BuildTriMesh",
       {"@/grid.txt"}, 1, "The output @/grid.txt is the same file as the input @/grid.txt." + kNothing},
      {"the table is the result file", files({{"p.txt", solution + "MicFileText @/r.bin\n"}, {"r.bin", results}, {"r.bin.AllMatches", results}}),
       "SolutionDump", {"@/p.txt"}, 1, "The output @/r.bin is the same file as the input @/r.bin." + kNothing},
      {"the table is the parameter file", files({{"p.txt", solution + "MicFileText @/p.txt\n"}, {"r.bin", results}}),
       "SolutionDump", {"@/p.txt"}, 1, "The output @/p.txt is the same file as the input @/p.txt." + kNothing},
      {"the all-matches table is the result file",
       files({{"p.txt", solution + "MicFileText @/t.txt\n"}, {"r.bin", results}}, {{"t.txt.AllMatches", "r.bin"}}),
       "SolutionDump", {"@/p.txt"}, 1, "The output @/t.txt.AllMatches is the same file as the input @/r.bin." + kNothing},
      {"both tables are one file", files({{"p.txt", solution + "MicFileText @/t.txt\n"}, {"r.bin", results}}, {{"t.txt.AllMatches", "t.txt"}}),
       "SolutionDump", {"@/p.txt"}, 1, "The outputs @/t.txt and @/t.txt.AllMatches are the same file." + kNothing},
      {"the preview is the frame file", files({{"f.pgm", stack}}), "FramePreview", {"@/f.pgm", "@/f"}, 1,
       "The output @/f.pgm is the same file as the input @/f.pgm." + kNothing},
  };
  for (const Case& c : cases) check(c);
}

// PanelPack decides per number: the number whose output is its own input is
// skipped with the message, the others are converted, and the run says so.
TEST(Faults, PanelPackSkipsANumberWhoseOutputIsItsInput) {
  TempDir dir;
  const std::string image(16777216, '\0');
  file(dir, "s00001.raw", image);
  file(dir, "s00002.raw", image);
  fs::create_symlink("s00001.raw", dir.path() / "s00001.ge3");
  RunResult r = run("PanelPack", {dir / "s", "1", "2", "5", "raw", "1"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "The output " + (dir / "s00001.ge3") + " is the same file as the input " + (dir / "s00001.raw") +
                       ". No output written for it. Continuing to the next file.\nRead file " + (dir / "s00002.raw") +
                       ".\n");
  EXPECT_EQ(read_file(dir / "s00001.raw"), image);
  EXPECT_EQ(read_file(dir / "s00002.ge3").size(), kFrameFile);
}

// HDF5 stacks of either pixel width under too little memory and on a disk
// that fills while their frames are decoded: the message, status 1, and the
// earlier median and every other file as they were (the spill file gone).
TEST(Faults, StackCollapseOfHdf5Stacks) {
  for (const char* bits : {"16", "32"}) {
    auto stack = [bits](const TempDir& d) {
      const RunResult made = run("hedm-sample-data", {"h5", d / "dark.h5", "5", "--bits", bits});
      ASSERT_EQ(made.status, 0) << made.out;
      ASSERT_EQ(run("StackCollapse", {d / "dark.h5", d / "median.h5"}).status, 0);  // the earlier median
    };
    // (A build without libhdf5 says it cannot write HDF5, and has no such stacks.)
    if (run("hedm-sample-data", {"h5", "/dev/null/x.h5", "1"}).out.find("cannot write HDF5") == std::string::npos) {
      const std::string b = bits;
      const Case cases[] = {
          {b + "-bit, too little memory", stack, "StackCollapse", {"@/dark.h5", "@/median.h5"}, 1, "Exiting.", true,
           Limits{.addressSpace = 30 << 20}, true},
          {b + "-bit, a disk that fills while the frames are decoded", stack, "StackCollapse",
           {"@/dark.h5", "@/median.h5"}, 1, "File too large.", true, Limits{.fileSize = 8 << 20}},
      };
      for (const Case& c : cases) check(c);
    }
  }
}
