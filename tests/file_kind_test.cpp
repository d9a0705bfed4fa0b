// Files judged by their content before their name: the signatures where
// they stand, and every reader of frames refusing a compressed file that
// would otherwise pass for whole frames.
#include <gtest/gtest.h>

#include "file_kind.hpp"
#include "testkit.hpp"

using namespace testkit;
using hedm::FileKind;

namespace {

const std::string kHdf5 = "\x89HDF\r\n\x1a\n";

// `size` bytes of 0x41 with `sig` at byte `at`.
std::string with_signature(const std::string& sig, std::size_t at, std::size_t size) {
  std::string bytes(size, 'A');
  bytes.replace(at, sig.size(), sig);
  return bytes;
}

}  // namespace

TEST(FileKind, SignaturesWhereTheyStand) {
  struct Case {
    const char* name;
    std::string bytes;
    FileKind kind;
  };
  const Case cases[] = {
      {"gzip", with_signature("\x1f\x8b", 0, 100), FileKind::Gzip},
      {"bzip2", with_signature("BZh", 0, 100), FileKind::Bzip2},
      {"xz", with_signature(std::string("\xfd\x37\x7a\x58\x5a\x00", 6), 0, 100), FileKind::Xz},
      {"zstd", with_signature("\x28\xb5\x2f\xfd", 0, 100), FileKind::Zstd},
      {"gzip's signature further in", with_signature("\x1f\x8b", 1, 100), FileKind::Other},
      {"a file of two bytes", "\x1f\x8b", FileKind::Gzip},
      {"HDF5 at 0", with_signature(kHdf5, 0, 600), FileKind::Hdf5},
      {"HDF5 behind a user block of 512", with_signature(kHdf5, 512, 600), FileKind::Hdf5},
      {"HDF5 at 8192", with_signature(kHdf5, 8192, 9000), FileKind::Hdf5},
      {"HDF5's signature at 768 (no place of a superblock)", with_signature(kHdf5, 768, 9000), FileKind::Other},
      {"HDF5's signature cut by the file's end", with_signature(kHdf5, 1024, 1032).substr(0, 1030),
       FileKind::Other},
      {"an empty file", "", FileKind::Other},
  };
  TempDir dir;
  for (const Case& c : cases) {
    write_file(dir / "f", c.bytes);
    EXPECT_EQ(hedm::file_kind(dir / "f"), c.kind) << c.name;
  }
  EXPECT_EQ(hedm::file_kind(dir / "missing"), FileKind::Other);
}

// A compressed file as long as a stack of whole frames, given to every
// reader of frames: refused naming its format, nothing written.
TEST(FileKind, EveryFrameReaderRefusesACompressedFile) {
  const std::pair<const char*, std::string> formats[] = {{"gzip", "\x1f\x8b\x08"},
                                                         {"bzip2", "BZh9"},
                                                         {"xz", std::string("\xfd\x37\x7a\x58\x5a\x00", 6)},
                                                         {"zstd", "\x28\xb5\x2f\xfd"}};
  for (const auto& [format, sig] : formats) {
    TempDir dir;
    const std::string stack = with_signature(sig, 0, hedm::kHeaderBytes + 2 * hedm::kFrameBytes);
    write_file(dir / "stack_00001.ge3", stack);
    write_file(dir / "dark.ge3", frame_file_bytes(std::string(hedm::kHeaderBytes, '\0'), {frame_with(0)}));
    struct Use {
      std::string program;
      std::vector<std::string> args;
      std::string which;  // how the message names the file
    };
    const Use uses[] = {
        {"StackCollapse", {"stack_00001.ge3", "median.ge3"}, "The input file stack_00001.ge3"},
        {"FramePreview", {"stack_00001.ge3", "view.png"}, "The input file stack_00001.ge3"},
        {"ClipCount", {".", "x", "5", "1", "1", ".ge3", "stack_00001.ge3", "100"}, "The dark file ./stack_00001.ge3"},
        {"ClipCount", {".", "stack", "5", "1", "1", ".ge3", "dark.ge3", "100"}, "The data file ./stack_00001.ge3"},
    };
    for (const Use& u : uses) {
      SCOPED_TRACE(u.program + " " + format);
      const RunResult r = run(u.program, u.args, dir.path().string());
      EXPECT_EQ(r.status, 1);
      EXPECT_NE(r.out.find(u.which + " is compressed with " + format + ": decompress it first."), std::string::npos)
          << r.out;
      EXPECT_EQ(r.out.find("Frame 001"), std::string::npos) << r.out;
      EXPECT_FALSE(exists(dir / "median.ge3") || exists(dir / "view.png"));
    }
  }
}
