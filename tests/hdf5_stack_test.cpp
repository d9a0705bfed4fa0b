// HDF5 stacks: paths, and (with libhdf5) reading every layout h5py writes,
// and each refusal with its reason (hdf5_write_test.cpp: frames written).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "chunk_codecs.hpp"
#include "hdf5_stack.hpp"
#include "hdf5_files.hpp"
#include "testkit.hpp"

using namespace testkit;

TEST(Hdf5Path, NamesTheFileAndTheDataset) {
  struct Case {
    const char* arg;
    bool hdf5;
    const char* file;
    const char* dataset;
  };
  const Case cases[] = {
      {"scan.h5::/entry/data/data", true, "scan.h5", "/entry/data/data"},
      {"dir/scan.HDF5", true, "dir/scan.HDF5", ""},
      {"a.nxs::entry/data", true, "a.nxs", "/entry/data"},
      {"b.hdf::", true, "b.hdf", ""},
      {"dark.ge3", false, "dark.ge3", ""},
      {"notes.h5.txt", false, "notes.h5.txt", ""},
      {".h5", false, ".h5", ""},
      {"x.ge3::/d", false, "x.ge3", "/d"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hedm::is_hdf5_path(c.arg), c.hdf5) << c.arg;
    const hedm::StackPath p = hedm::split_stack_path(c.arg);
    EXPECT_EQ(p.file, c.file) << c.arg;
    EXPECT_EQ(p.dataset, c.dataset) << c.arg;
  }
}

#ifndef HEDM_HAVE_HDF5

TEST(Hdf5Stack, RefusedByABuildWithoutHdf5) {
  auto s = hedm::Hdf5Stack::open("scan.h5::/data");
  ASSERT_FALSE(s);
  EXPECT_NE(s.error().text.find("reads detector frame files only"), std::string::npos) << s.error().text;
}

#else

#include <hdf5.h>

namespace {

struct Layout {
  const char* name;
  std::uint64_t frames, rows, columns;
  unsigned bytes;
  std::vector<std::uint64_t> chunk;
  std::vector<int> filters;
  bool inPlace;  // read where the frames lie, without the library
};
const Layout kLayouts[] = {
    {"frame16_bitshuffle", 3, 1000, 1200, 2, {1, 1000, 1200}, {32008}, false},
    {"frame16_plain", 4, 50, 50, 2, {1, 50, 50}, {}, true},
    {"row32_deflate", 4, 1, 4099, 4, {1, 1, 4099}, {1}, false},
    {"tile16_deflate", 7, 33, 45, 2, {3, 8, 16}, {2, 1}, false},
    {"tile32_bitshuffle", 5, 40, 50, 4, {2, 16, 16}, {32008}, false},
    {"contiguous32", 5, 33, 45, 4, {}, {}, true},
    {"contiguous16_bigendian", 3, 64, 64, 2, {}, {}, false},
    {"signed32_lz4", 6, 20, 30, 4, {2, 20, 30}, {32004}, false},
    {"frames4_plain", 9, 20, 30, 2, {4, 20, 30}, {}, true},
    {"tile16_plain", 9, 100, 130, 2, {4, 64, 64}, {}, false},
    {"odd16_bitshuffle", 7, 77, 101, 2, {3, 77, 101}, {32008}, false},
    {"odd32_bitshuffle", 5, 33, 45, 4, {2, 33, 45}, {32008}, false},
};

// Sets HEDM_HDF5_THROUGH_LIBRARY for its life: every chunk read by the
// library, as a reference for the reader's own path.
class ThroughLibrary {
 public:
  explicit ThroughLibrary(bool on) {
    if (on) ::setenv("HEDM_HDF5_THROUGH_LIBRARY", "1", 1);
  }
  ~ThroughLibrary() { ::unsetenv("HEDM_HDF5_THROUGH_LIBRARY"); }
};

}  // namespace

// Reads windows of frames and flat positions of `s` against `want` (every
// pixel as uint32, frame-major): within a row, across rows from mid-row to
// mid-row, whole rows, one pixel, the whole stack; 16-bit stacks into both
// widths.  Windows outside the stack are refused.
void expect_reads(hedm::Stack& s, const std::vector<std::uint32_t>& want) {
  const std::uint64_t P = s.pixels(), F = s.frames(), C = s.columns();
  ASSERT_EQ(want.size(), P * F);
  struct Window {
    std::uint64_t f0, n, p0, count;
  };
  const Window windows[] = {{0, 1, 0, P},        {F - 1, 1, P - 1, 1},           {1 % F, F - 1 % F, C / 2, std::min(C, P - C / 2)},
                            {0, F, C - 1, P - C}, {F / 2, (F + 1) / 2, C, (P - C) / C * C}, {0, F, 0, P}};
  for (const Window& w : windows) {
    SCOPED_TRACE("frames " + std::to_string(w.f0) + " + " + std::to_string(w.n));
    const std::uint64_t stride = w.count + 3;  // slices apart, as the median's buffers lay them
    std::vector<std::uint32_t> got(w.n * stride, 0xABABABABu);
    const hedm::Status r = s.read(w.f0, w.n, w.p0, w.count, got.data(), stride);
    ASSERT_TRUE(r) << r.error().text;
    std::vector<std::uint16_t> narrow(w.n * w.count);
    if (s.pixel_bytes() == 2) {
      ASSERT_TRUE(s.read(w.f0, w.n, w.p0, w.count, narrow.data()));
    }
    for (std::uint64_t i = 0; i < w.n; ++i) {
      for (std::uint64_t k = 0; k < w.count; ++k) {
        const std::uint32_t v = want[(w.f0 + i) * P + w.p0 + k];
        ASSERT_EQ(got[i * stride + k], v) << "frame " << w.f0 + i << " pixel " << w.p0 + k;
        if (s.pixel_bytes() == 2) {
          ASSERT_EQ(narrow[i * w.count + k], v) << "frame " << w.f0 + i << " pixel " << w.p0 + k;
        }
      }
      for (std::uint64_t k = w.count; k < stride; ++k) ASSERT_EQ(got[i * stride + k], 0xABABABABu);
    }
  }
  std::vector<std::uint16_t> narrow(P);
  if (s.pixel_bytes() == 4) {
    EXPECT_EQ(s.read_frame(0, narrow.data()).error().kind, hedm::ErrorKind::Argument);
  }
  EXPECT_FALSE(s.read(F, 1, 0, 1, narrow.data()));
  EXPECT_FALSE(s.read(0, 1, P, 1, narrow.data()));
}

TEST_F(Hdf5Files, ReadsEveryLayoutAsH5pyWroteIt) {
  for (const bool library : {false, true})
  for (const Layout& l : kLayouts) {
    SCOPED_TRACE(std::string(l.name) + (library ? " through the library" : ""));
    const ThroughLibrary through(library);
    auto s = hedm::Hdf5Stack::open(at(std::string(l.name) + ".h5"));
    ASSERT_TRUE(s) << s.error().text;
    const hedm::StackInfo& info = s->info();
    EXPECT_EQ(info.dataset, "/entry/data/data");
    EXPECT_EQ(std::vector<std::uint64_t>({info.frames, info.rows, info.columns}),
              std::vector<std::uint64_t>({l.frames, l.rows, l.columns}));
    EXPECT_EQ(info.pixelBytes, l.bytes);
    EXPECT_EQ(info.chunk, l.chunk);
    std::vector<int> ids;
    for (const hedm::Hdf5Filter& f : info.filters) {
      ids.push_back(f.id);
      EXPECT_TRUE(f.available);
    }
    EXPECT_EQ(ids, l.filters);
    EXPECT_EQ(s->raw_frames() != nullptr, l.inPlace && !library);
    // Every filter here is decoded by this process where the build found
    // its codec.
    const bool decoded =
        !l.filters.empty() && std::all_of(l.filters.begin(), l.filters.end(), hedm::chunk_filter_available);
    EXPECT_EQ(s->reads_in_parallel(), (l.inPlace || decoded) && !library);
    expect_reads(*s, values(at(std::string(l.name) + ".bin")));
  }
}

// A detector's master file as the frames of all its data files, named as
// the file or as its data group; one member named alone is that member.
// The data files lie beside the master, wherever it is run from.
TEST_F(Hdf5Files, ReadsASeriesAsTheFramesOfAllItsFiles) {
  struct Case {
    const char* arg;
    const char* dataset;
    std::uint64_t frames, rows, columns;
    unsigned bytes;
    const char* bin;
    std::uint64_t firstFrame;  // of the .bin's frames
    std::vector<std::string> files;
  };
  const std::vector<std::string> two = {"series2.h5", "s2_data_000001.h5", "s2_data_000002.h5"};
  const Case cases[] = {
      {"series2.h5", "/entry/data", 5, 6, 7, 2, "series2.bin", 0, two},
      {"series2.h5::/entry/data", "/entry/data", 5, 6, 7, 2, "series2.bin", 0, two},
      {"series2.h5::entry/data", "/entry/data", 5, 6, 7, 2, "series2.bin", 0, two},
      {"series2.h5::/entry/data/data_000002", "/entry/data/data_000002", 2, 6, 7, 2, "series2.bin", 3, {"series2.h5"}},
      {"run/series3.h5", "/entry/data", 6, 40, 50, 4, "series3.bin", 0,
       {"run/series3.h5", "run/s3_data_000001.h5", "run/s3_data_000002.h5", "run/s3_data_000003.h5"}},
  };
  // Every member's chunks decoded here, on any thread, and by the library.
  for (const bool library : {false, true})
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.arg) + (library ? " through the library" : ""));
    ThroughLibrary env(library);
    auto s = hedm::Hdf5Stack::open(at(c.arg));
    ASSERT_TRUE(s) << s.error().text;
    EXPECT_EQ(s->reads_in_parallel(), !library);
    EXPECT_EQ(s->dataset(), c.dataset);
    EXPECT_EQ(std::vector<std::uint64_t>({s->frames(), s->rows(), s->columns(), s->pixel_bytes()}),
              std::vector<std::uint64_t>({c.frames, c.rows, c.columns, c.bytes}));
    std::vector<std::string> files;
    for (const std::string& f : s->files()) files.push_back(fs::path(f).lexically_relative(dir_->path()).string());
    EXPECT_EQ(files, c.files);
    const std::vector<std::uint32_t> all = values(at(c.bin));
    const std::uint64_t P = c.rows * c.columns;
    expect_reads(*s, std::vector<std::uint32_t>(all.begin() + c.firstFrame * P,
                                                 all.begin() + (c.firstFrame + c.frames) * P));
  }
}

// What StackCollapse writes (a frame as a two-dimensional dataset) and
// what a file holds alone: a stack of one frame.
TEST_F(Hdf5Files, ATwoDimensionalDatasetIsAStackOfOneFrame) {
  std::vector<std::uint32_t> want(120);
  for (std::size_t k = 0; k < want.size(); ++k) want[k] = static_cast<std::uint32_t>(k);
  for (const char* arg : {"none.h5", "none.h5::/image", "none.h5::image"}) {
    SCOPED_TRACE(arg);
    auto s = hedm::Hdf5Stack::open(at(arg));
    ASSERT_TRUE(s) << s.error().text;
    EXPECT_EQ(s->dataset(), "/image");
    EXPECT_EQ(std::vector<std::uint64_t>({s->frames(), s->rows(), s->columns()}),
              std::vector<std::uint64_t>({1, 10, 12}));
    expect_reads(*s, want);
  }
}

TEST_F(Hdf5Files, FollowsExternalLinks) {
  // The soft link to the same data is one dataset, not a second candidate.
  for (const char* name : {"master.h5", "master.h5::/entry/instrument/detector/data"}) {
    auto s = hedm::Hdf5Stack::open(at(name));
    ASSERT_TRUE(s) << s.error().text;
    EXPECT_EQ(s->info().frames, 2u);
    std::vector<std::uint16_t> got(2 * 42);
    ASSERT_TRUE(s->read(0, 2, 0, 42, got.data()));
    for (std::size_t k = 0; k < got.size(); ++k) ASSERT_EQ(got[k], k);
  }
  EXPECT_EQ(hedm::Hdf5Stack::open(at("master.h5"))->info().dataset, "/entry/data/data_000001");
}

TEST_F(Hdf5Files, RefusesWithTheReason) {
  struct Case {
    std::string arg;
    std::vector<std::string> says;
  };
  const Case cases[] = {
      {"two.h5", {"holds 2 three-dimensional datasets; name one as", "/a (3 x 4 x 5, uint16), /b/c (2 x 4 x 5, uint32)"}},
      {"nothing.h5",
       {"holds no three-dimensional dataset (frames, rows, columns). It holds: /angles (5, float64), /energy "
        "(scalar, float64), /flatfield (10 x 12, float32)."}},
      {"images.h5",
       {"holds no three-dimensional dataset (frames, rows, columns) but 2 frames (rows, columns); name one as",
        "/a (10 x 12, uint16), /b (10 x 12, uint32)"}},
      {"series_differ.h5",
       {"series_differ.h5, series /entry/data: data_000002 holds frames of 6 x 7 uint32 pixels, data_000001 frames "
        "of 6 x 7 uint16: the frames of a series must agree in shape and pixel type."}},
      {"series_shape.h5::/entry/data", {"data_000002 holds frames of 6 x 8 uint16 pixels, data_000001 frames of 6 x 7"}},
      {"series_missing.h5",
       {"series /entry/data, member data_000002: the data file gone_data_000002.h5 it links to cannot be opened: "}},
      {"two.h5::/", {"dataset /: this is a group"}},
      {"series2.h5::/entry/data/data", {"dataset /entry/data/data: it is a virtual dataset, which is not read"}},
      {"dangling.h5",
       {"dataset /entry/data/data_000002: the data file missing.h5 it links to cannot be opened: "}},
      {"dangling.h5::/entry/data/data_000002", {"data_000002: the data file missing.h5 it links to cannot be opened"}},
      {"two.h5::/nothing", {"has no dataset /nothing. It holds: /a"}},
      {"two.h5::/b", {"dataset /b: this is a group"}},
      {"types.h5::/float32", {"dataset /float32: its pixels are float32"}},
      {"types.h5::int16", {"dataset /int16: its pixels are int16"}},
      {"types.h5::/uint64", {"its pixels are uint64"}},
      {"types.h5::/rank4", {"it is 2 x 2 x 3 x 4, not a stack of frames (frames x rows x columns) nor a frame"}},
      {"nothing.h5::/angles", {"it is 5, not a stack"}},
      {"nothing.h5::/flatfield", {"its pixels are float32"}},
      {"none.h5::/energy", {"it is a scalar, not a stack"}},
      {"truncated.h5", {"could not be read as HDF5: truncated file"}},
      {"notes.h5", {"is not an HDF5 file"}},
      {"missing.h5", {"Could not open", "missing.h5: No such file or directory."}},
  };
  for (const Case& c : cases) {
    auto s = hedm::Hdf5Stack::open(at(c.arg));
    ASSERT_FALSE(s) << c.arg;
    const std::string& text = s.error().text;
    EXPECT_EQ(s.error().kind, hedm::ErrorKind::Input);
    EXPECT_NE(text.find(at(hedm::split_stack_path(c.arg).file)), std::string::npos) << text;
    for (const std::string& part : c.says) EXPECT_NE(text.find(part), std::string::npos) << c.arg << ": " << text;
    EXPECT_EQ(text.find("Exiting"), std::string::npos) << text;
  }
}

// The front door reads a file as its content says, whatever its name, and
// counts the frames of what stands at an output's name as the stack there
// holds them; a name where no one stack can be found is left to the writer.
TEST_F(Hdf5Files, TheFrontDoorAsksTheStack) {
  fs::copy_file(at("frame16_plain.h5"), at("plain.ge3"), fs::copy_options::overwrite_existing);
  struct Case {
    const char* arg;
    std::uint64_t frames;  // 0: refused
    std::string inTheWay;  // what stack_in_the_way says of it as an output, after the name
  };
  const std::string stack = " frames: it is a stack, and a one-frame output must not replace it.";
  const Case cases[] = {
      {"plain.ge3", 4, " holds 4" + stack},
      {"series2.h5", 5, " holds 5" + stack},
      {"series2.h5::/entry/data/data_000002", 2, " holds 2" + stack},
      {"master.h5", 2, " holds 2" + stack},
      {"none.h5", 1, ""},
      {"none.h5::/image", 1, ""},
      {"two.h5::/a", 3, " holds 3" + stack},
      {"two.h5", 0, ""},
      {"nothing.h5", 0, ""},
      {"series_missing.h5", 0, ""},
      {"two.h5::/new/median", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arg);
    auto s = hedm::open_stack(at(c.arg), {"The input file", ""});
    EXPECT_EQ(s ? (*s)->frames() : 0, c.frames) << (s ? "" : s.error().text);
    if (s) {
      EXPECT_NE(dynamic_cast<hedm::Hdf5Stack*>(s->get()), nullptr);
    }
    const hedm::StackName name = hedm::StackName::parse(at(c.arg));
    EXPECT_EQ(testkit::error_text(hedm::stack_in_the_way(name)), c.inTheWay.empty() ? "" : at(c.arg) + c.inTheWay);
    EXPECT_TRUE(hedm::writes_hdf5(name));
  }
  auto empty = hedm::open_stack(at("empty.h5"), {"The data file", ""});
  ASSERT_FALSE(empty);
  EXPECT_EQ(empty.error().text, "The data file " + at("empty.h5") + " holds no frame (dataset /entry/data/data).");
}

TEST_F(Hdf5Files, RefusesAFilterItCannotFind) {
  // As in a process whose plugin folder lacks bitshuffle.
  ASSERT_GE(H5PLset_loading_state(0), 0);
  H5Zunregister(32008);
  auto s = hedm::Hdf5Stack::open(at("tile32_bitshuffle.h5"));
  ASSERT_FALSE(s);
  EXPECT_NE(s.error().text.find("dataset /entry/data/data: it is compressed with filter 32008 (bitshuffle), which "
                                "this HDF5 library cannot find"),
            std::string::npos)
      << s.error().text;
  H5PLset_loading_state(H5PL_ALL_PLUGIN);
  EXPECT_TRUE(hedm::Hdf5Stack::open(at("tile32_bitshuffle.h5")));

  // The sample writer, told of an empty plugin folder, refuses too.
  TempDir empty;
  const RunResult r = run("/usr/bin/env", {"HDF5_PLUGIN_PATH=" + empty.path().string(),
                                           std::string(HEDM_BIN_DIR) + "/hedm-sample-data", "h5", at("s.h5"), "2",
                                           "--rows", "4", "--filter", "bitshuffle"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Could not create " + at("s.h5") +
                       ": the bitshuffle filter (HDF5 filter 32008) cannot be found: install Debian's bitshuffle, "
                       "or name its folder in HDF5_PLUGIN_PATH.\n");
  EXPECT_FALSE(exists(at("s.h5")));
}

// Read by the library, and (compressed) decoded here.
TEST_F(Hdf5Files, RefusesANegativeSignedPixelWhereItIsRead) {
  for (const std::string dataset : {"/data", "/lz4"}) {
    auto s = hedm::Hdf5Stack::open(at("negative.h5") + "::" + dataset);
    ASSERT_TRUE(s) << s.error().text;
    EXPECT_TRUE(s->info().isSigned);
    EXPECT_EQ(s->reads_in_parallel(), dataset == "/lz4" && hedm::chunk_filter_available(hedm::kLz4));
    std::vector<std::uint32_t> got(3 * 20);
    EXPECT_TRUE(s->read(0, 2, 0, 20, got.data()));
    EXPECT_TRUE(s->read(2, 1, 0, 19, got.data()));
    const hedm::Status bad = s->read(0, 3, 0, 20, got.data());
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().text, "Input file " + at("negative.h5") + ", dataset " + dataset +
                                    ": frame 2, pixel 19 (row 3, column 4) is -5: a stack of signed "
                                    "pixels must have no negative one.");
  }
}

TEST_F(Hdf5Files, SampleStacksReadAsH5pyReadsThem) {
  const char* layouts[][3] = {{"tile", "bitshuffle", "32"}, {"frame", "deflate", "16"}, {"contiguous", "none", "16"}};
  for (const auto& l : layouts) {
    SCOPED_TRACE(std::string(l[0]) + " " + l[1] + " " + l[2]);
    const std::string path = at(std::string("sample_") + l[0] + ".h5");  // a new name: sample data replaces no file
    const RunResult r = run("hedm-sample-data", {"h5", path, "5", "9", "--rows", "37", "--columns", "300",
                                                 "--chunks", l[0], "--filter", l[1], "--bits", l[2]});
    ASSERT_EQ(r.status, 0) << r.out;
    std::vector<std::uint32_t> want;
    dump(path, "/entry/data/data", &want);
    auto s = hedm::Hdf5Stack::open(path);
    ASSERT_TRUE(s) << s.error().text;
    std::vector<std::uint32_t> got(want.size());
    ASSERT_TRUE(s->read(0, 5, 0, 37 * 300, got.data()));
    EXPECT_EQ(got, want);
  }
}

#endif
