// The stack layer on detector frame files as the frame-file writer lays
// them out: shape, frames and slices in either width, the header and the
// pixels past the last whole frame; the front door's refusals in the
// caller's words; and the rule that no one-frame output replaces a stack.
#include <gtest/gtest.h>

#include <cstring>

#include "stack.hpp"
#include "testkit.hpp"

using namespace testkit;
using hedm::kPixelsPerFrame;
using hedm::pixelvalue;

namespace {

std::string with_bytes(const std::string& start, std::size_t size) {
  std::string bytes(size, 'A');
  bytes.replace(0, start.size(), start);
  return bytes;
}

}  // namespace

TEST(FrameFileStack, ReadsFramesSlicesHeaderAndTail) {
  TempDir dir;
  std::string header(hedm::kHeaderBytes, '\0');
  for (std::size_t i = 0; i < header.size(); ++i) header[i] = static_cast<char>(i * 7);
  std::vector<std::vector<pixelvalue>> frames;
  for (pixelvalue f = 0; f < 3; ++f)
    frames.push_back(frame_with(static_cast<pixelvalue>(10 * f), {{0, 65535}, {2048, f}, {kPixelsPerFrame - 1, 4660}}));
  const std::string tail = "\x01\x02\x03\x04\x05";  // two pixels and a byte
  const std::string path = dir / "s.ge3";
  write_file(path, frame_file_bytes(header, frames, tail));

  auto s = hedm::open_stack(path, {"The input file", ""});
  ASSERT_TRUE(s) << s.error().text;
  hedm::Stack& stack = **s;
  EXPECT_EQ(std::vector<std::uint64_t>({stack.frames(), stack.rows(), stack.columns(), stack.pixel_bytes()}),
            std::vector<std::uint64_t>({3, 2048, 2048, 2}));
  EXPECT_EQ(stack.file(), path);
  EXPECT_EQ(stack.dataset(), "");
  EXPECT_EQ(stack.files(), std::vector<std::string>{path});
  ASSERT_NE(stack.raw_frames(), nullptr);
  EXPECT_EQ(stack.raw_frames()->frames.first, hedm::kHeaderBytes);
  EXPECT_EQ(stack.raw_frames()->frames.nFrames, 3u);

  // Frames 1 and 2, their last two pixels and the first of the next row,
  // slices 5 apart, 16- and 32-bit.
  std::vector<pixelvalue> narrow(10, 7);
  std::vector<std::uint32_t> wide(10, 7);
  ASSERT_TRUE(stack.read(1, 2, kPixelsPerFrame - 2, 2, narrow.data(), 5));
  ASSERT_TRUE(stack.read(1, 2, kPixelsPerFrame - 2, 2, wide.data(), 5));
  const std::vector<pixelvalue> want = {10, 4660, 7, 7, 7, 20, 4660, 7, 7, 7};
  EXPECT_EQ(narrow, want);
  EXPECT_EQ(wide, std::vector<std::uint32_t>(want.begin(), want.end()));
  hedm::Frame frame;
  ASSERT_TRUE(stack.read_frame(2, frame));
  ASSERT_NE(frame.narrow(), nullptr);
  EXPECT_TRUE(*frame.narrow() == frames[2]);
  EXPECT_EQ(stack.read(3, 1, 0, 1, narrow.data()).error().kind, hedm::ErrorKind::Argument);
  EXPECT_EQ(stack.read(0, 1, kPixelsPerFrame, 1, narrow.data()).error().kind, hedm::ErrorKind::Argument);

  std::string gotHeader(hedm::kHeaderBytes, '\0');
  ASSERT_TRUE(stack.read_header(reinterpret_cast<unsigned char*>(gotHeader.data())));
  EXPECT_TRUE(gotHeader == header);
  ASSERT_EQ(stack.tail_pixels(), 2u);
  pixelvalue tailPixels[2];
  ASSERT_TRUE(stack.read_tail(tailPixels));
  EXPECT_EQ(tailPixels[0], 0x0201);
  EXPECT_EQ(tailPixels[1], 0x0403);
  EXPECT_EQ(stack.warning(), "Warning: " + path + " ends in a partial frame: its last 5 bytes are passed over.");
}

TEST(OpenStack, RefusesInTheCallersWords) {
  TempDir dir;
  write_file(dir / "empty.ge3", "");
  write_file(dir / "short.ge3", std::string(hedm::kOneFrameFileBytes - 1, '\0'));
  write_file(dir / "z.ge3", with_bytes("\x1f\x8b\x08", hedm::kOneFrameFileBytes * 2));
  write_file(dir / "x.ge3", with_bytes("BZh9", 100));
  write_file(dir / "notes.h5", "not an HDF5 file\n");
  write_file(dir / "frame.ge3", std::string(hedm::kOneFrameFileBytes, '\0'));
  std::filesystem::create_directory(dir / "folder.ge3");
  struct Case {
    std::string arg, unopenable;
    hedm::ErrorKind kind;
    std::string says;
  };
  const std::string cannot = "Could not read the dark file: it.";
  const Case cases[] = {
      {"missing.ge3", "", hedm::ErrorKind::Input, "Could not open @/missing.ge3: No such file or directory."},
      {"missing.h5", cannot, hedm::ErrorKind::Input, cannot},
      {"folder.ge3", cannot, hedm::ErrorKind::Input, cannot},
      {"folder.ge3", "", hedm::ErrorKind::Input, "Could not open @/folder.ge3: Is a directory."},
      {"empty.ge3", "", hedm::ErrorKind::Data, "The dark file @/empty.ge3 holds no whole frame (0 bytes; one frame needs 8396800)."},
      {"short.ge3", cannot, hedm::ErrorKind::Data, "The dark file @/short.ge3 holds no whole frame (8396799 bytes"},
      {"z.ge3", "", hedm::ErrorKind::Data, "The dark file @/z.ge3 is compressed with gzip: decompress it first."},
      {"x.ge3::/d", "", hedm::ErrorKind::Data, "The dark file @/x.ge3 is compressed with bzip2: decompress it first."},
#ifdef HEDM_HAVE_HDF5
      // No HDF5 signature, but a name that says HDF5 or names a dataset: the HDF5 reader's reason.
      {"notes.h5", "", hedm::ErrorKind::Input, "Input file @/notes.h5 is not an HDF5 file."},
      {"frame.ge3::/entry/data/data", "", hedm::ErrorKind::Input, "Input file @/frame.ge3 is not an HDF5 file."},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arg);
    auto s = hedm::open_stack(dir / c.arg, {"The dark file", c.unopenable});
    ASSERT_FALSE(s);
    EXPECT_EQ(s.error().kind, c.kind);
    std::string says = c.says;
    if (const std::size_t at = says.find('@'); at != std::string::npos) says.replace(at, 1, dir.path().string());
    EXPECT_EQ(s.error().text.rfind(says, 0), 0u) << s.error().text;
  }
}

// What is at an output's name decides, not the name: a frame file by its
// whole frames, compressed or not; no file, a folder, a file of one frame
// are free.
TEST(StackInTheWay, CountsTheFramesOfWhatIsThere) {
  TempDir dir;
  const std::uint64_t frame = hedm::kOneFrameFileBytes;
  write_file(dir / "one.ge3", std::string(frame + hedm::kFrameBytes - 1, '\0'));
  write_file(dir / "two.ge3", std::string(frame + hedm::kFrameBytes, '\0'));
  write_file(dir / "two.gz", with_bytes("\x1f\x8b\x08", frame + hedm::kFrameBytes + 10));
  std::filesystem::create_directory(dir / "folder");
  const std::pair<std::string, std::string> cases[] = {
      {"missing.ge3", ""},
      {"folder", ""},
      {"one.ge3", ""},
      {"two.ge3", "@/two.ge3 holds 2 frames: it is a stack, and a one-frame output must not replace it."},
      {"two.gz", "@/two.gz holds 2 frames: it is a stack, and a one-frame output must not replace it."},
  };
  for (const auto& [name, says] : cases) {
    std::string want = says;
    if (!want.empty()) want.replace(0, 1, dir.path().string());
    EXPECT_EQ(testkit::error_text(hedm::stack_in_the_way(hedm::StackName::parse(dir / name))), want) << name;
  }
  EXPECT_FALSE(hedm::writes_hdf5(hedm::StackName::parse(dir / "two.ge3")));
  EXPECT_TRUE(hedm::writes_hdf5(hedm::StackName::parse(dir / "median.h5")));
  EXPECT_TRUE(hedm::writes_hdf5(hedm::StackName::parse(dir / "two.ge3::/median")));
}
