// HDF5 frames written like the stack they are the median of: type, chunks
// and filters as h5py sees them, the source named, nothing left behind,
// and read back as a stack of one frame.
#include <gtest/gtest.h>

#ifdef HEDM_HAVE_HDF5

#include <cstdint>
#include <string>
#include <vector>

#include "hdf5_files.hpp"
#include "hdf5_stack.hpp"
#include "testkit.hpp"

using namespace testkit;

TEST_F(Hdf5Files, WritesAFrameLikeItsSource) {
  struct Case {
    const char* source;  // empty: written from a frame file
    const char* dataset;
    std::string h5py;  // h5py's type, shape and chunks of the written dataset
  };
  const Case cases[] = {
      {"frame16_bitshuffle", "/entry/data/data", "<u2 1x1000x1200 chunks=1x1000x1200"},
      {"tile16_deflate", "/entry/data/data", "<u2 1x33x45 chunks=1x8x16"},
      {"row32_deflate", "median", "<u4 1x1x4099 chunks=1x1x4099"},
      {"signed32_lz4", "/entry/data/data", "<i4 1x20x30 chunks=1x20x30"},
      {"contiguous16_bigendian", "/entry/data/data", "<u2 1x64x64 chunks=none"},
      {"", "/median", "<u2 1x7x9 chunks=none"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    TempDir out;
    const std::string path = out / "median.h5";
    std::vector<std::uint16_t> earlier(63, 7);  // an earlier median, which the new file replaces
    ASSERT_TRUE(hedm::write_hdf5_frame(path, "/earlier", hedm::Hdf5Target::WholeFile, earlier.data(), 7, 9,
                                       {"old.ge3", "", 3}));
    std::vector<std::uint32_t> frame(63);
    for (std::size_t k = 0; k < frame.size(); ++k) frame[k] = static_cast<std::uint32_t>(k * 1000);
    hedm::FrameOrigin origin{"dark.ge3", "", 5};
    std::string filters = "filters=none";  // as h5py lists them, with their values
    hedm::Status w = hedm::ok();
    if (*c.source) {
      const std::string source = at(std::string(c.source) + ".h5");
      auto s = hedm::Hdf5Stack::open(source);
      ASSERT_TRUE(s) << s.error().text;
      const hedm::StackInfo& in = s->info();
      origin = {in.file, in.dataset, in.frames};
      std::vector<std::uint32_t> stack;
      const std::string line = dump(source, in.dataset, &stack);
      filters = line.substr(line.find("filters="));
      filters = filters.substr(0, filters.find(' '));
      frame.assign(stack.begin() + in.pixels(), stack.begin() + 2 * in.pixels());  // frame 1
      std::vector<std::uint16_t> narrow(frame.begin(), frame.end());
      const auto whole = hedm::Hdf5Target::WholeFile;
      w = in.pixelBytes == 2
              ? hedm::write_hdf5_frame(path, c.dataset, whole, narrow.data(), in.rows, in.columns, origin, &*s)
              : hedm::write_hdf5_frame(path, c.dataset, whole, frame.data(), in.rows, in.columns, origin, &*s);
    } else {
      std::vector<std::uint16_t> narrow(frame.begin(), frame.end());
      w = hedm::write_hdf5_frame(path, c.dataset, hedm::Hdf5Target::WholeFile, narrow.data(), 7, 9, origin);
    }
    ASSERT_TRUE(w) << w.error().text;
    std::vector<std::uint32_t> got;
    const std::string source = origin.dataset.empty() ? "" : "source_dataset=" + origin.dataset + ",";
    EXPECT_EQ(dump(path, c.dataset, &got), c.h5py + " " + filters + " frames=" + std::to_string(origin.frames) +
                                               "," + source + "source_file=" + origin.file +
                                               ",written_by=StackCollapse\n");
    EXPECT_EQ(got, frame);
    auto back = hedm::Hdf5Stack::open(path + "::" + c.dataset);  // what is written is read as a stack of one frame
    ASSERT_TRUE(back) << back.error().text;
    std::vector<std::uint32_t> again(back->pixels());
    EXPECT_EQ(back->frames(), 1u);
    ASSERT_TRUE(back->read_frame(0, again.data()));
    EXPECT_EQ(again, frame);
    std::size_t files = 0;
    for (const auto& e : fs::directory_iterator(out.path())) files += e.path().filename() != "dump.bin";
    EXPECT_EQ(files, 1u) << "a temporary left behind";
  }
  // A 32-bit frame is not squeezed into a 16-bit stack's type.
  auto s = hedm::Hdf5Stack::open(at("frame16_plain.h5"));
  std::vector<std::uint32_t> wide(2500);
  const hedm::Status w =
      hedm::write_hdf5_frame(at("wide.h5"), "/d", hedm::Hdf5Target::WholeFile, wide.data(), 50, 50, {}, &*s);
  EXPECT_EQ(w.error().kind, hedm::ErrorKind::Argument);
  EXPECT_FALSE(exists(at("wide.h5")));
}

#endif
