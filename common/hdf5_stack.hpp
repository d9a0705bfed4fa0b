// HDF5 stacks: a three-dimensional dataset (frames, rows, columns) of
// unsigned 16-bit or unsigned 32-bit pixels (or signed 32-bit ones that are
// never negative), as today's detectors write them, a two-dimensional one
// (rows, columns) as a stack of one frame, or a series: a group holding
// data_000001, data_000002, ... (a NeXus/Eiger master file, whose links
// lead to its data files), read as the frames of all of them in name
// order.  Read in the same terms as detector frame files: frame f, flat
// pixel position k = row * columns + column.  Also the writing of one frame
// (a median) as an HDF5 file, and of a made-up stack for the samples.
//
// A stack is named "FILE" or "FILE::/group/dataset" (the URL form of the
// silx/fabio family), or "FILE::/group" for a series; without a name, the
// one series or three-dimensional dataset in the file is taken (groups
// walked, soft and external links followed, an object reached by several
// paths counted once), else its one two-dimensional dataset of pixels.
//
// Threads: Debian's libhdf5 is built without thread safety.  Every function
// here takes one lock around its HDF5 calls, so calls from several threads
// are safe but run one at a time; nothing else in the process may call
// HDF5 concurrently with them.  Frames that need no library to be read
// take no lock: an unfiltered dataset's frames, read where they lie, and
// chunks of the filters this process decodes itself (deflate, shuffle,
// LZ4, bitshuffle/LZ4), read with pread and decoded on the caller's thread.
// HEDM_HDF5_THROUGH_LIBRARY=1 in the environment sends every read through
// the library instead (the tests compare both).
//
// Without libhdf5 at build time (HEDM_HAVE_HDF5 undefined) the functions
// are there all the same and refuse every HDF5 path with a message saying
// that this build reads detector frame files only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "error.hpp"
#include "stack.hpp"

namespace hedm {

// Whether this build can read and write HDF5 at all.
bool hdf5_available();

// True when the file part of `arg` (before an optional "::dataset") ends in
// .h5, .hdf5, .nxs or .hdf, in any case.
bool is_hdf5_path(const std::string& arg);

// "scan.h5::/entry/data/data" as file and dataset, as StackName::parse
// reads it.
struct StackPath {
  std::string file;
  std::string dataset;
};
StackPath split_stack_path(const std::string& arg);

// A filter of the dataset's pipeline, and whether this process can decode it.
struct Hdf5Filter {
  int id = 0;          // 1 deflate, 2 shuffle, 32004 LZ4, 32008 bitshuffle, ...
  std::string name;    // a short name for the known ids, else the name stored in the file
  bool available = false;
};

struct StackInfo {
  std::string file;     // as given
  std::string dataset;  // as named or as found; a series: its group
  std::uint64_t frames = 0, rows = 0, columns = 0;
  unsigned pixelBytes = 2;  // 2 or 4
  bool isSigned = false;    // signed 32-bit: values are checked as they are read
  std::vector<std::uint64_t> chunk;  // (frames, rows, columns) of a chunk (frames 1 for a 2-D dataset); empty when not chunked
  std::vector<Hdf5Filter> filters;   // in pipeline order; empty when uncompressed
  // A series: its members' dataset paths, in frame order; the files they
  // lie in (as HDF5 opened them).  Empty for one dataset.
  std::vector<std::string> members, memberFiles;
  std::uint64_t pixels() const { return rows * columns; }
};

// How a stack is opened.  The chunk cache holds, by default, the chunks of
// one band of chunk rows across the frame (twice that where a chunk holds
// less than half the frame's rows), at least one chunk and otherwise at
// most 64 MiB; 0 asks for that default.  Unfiltered datasets get no cache,
// so that a part of a chunk is read without the rest of it.
struct StackOptions {
  std::size_t chunkCacheBytes = 0;
};

// An opened stack.  Moved, not copied; closed when destroyed.  The chunk
// settings, filters and first dataset are those of a series' first member.
class Hdf5Stack final : public Stack {
 public:
  // Opens the stack named by `arg` ("FILE" or "FILE::DATASET").  Refused,
  // with an Input error naming the file, the dataset and the reason: a file
  // that is missing, not HDF5 or truncated; a dataset that is missing, not
  // found, or one of several; a rank other than 2 or 3, another pixel type;
  // a filter that this process cannot find; a series member whose data
  // file cannot be opened, or whose frames differ in shape or type from
  // the first member's.
  static Result<Hdf5Stack> open(const std::string& arg, const StackOptions& options = {});

  Hdf5Stack(Hdf5Stack&&) noexcept;
  Hdf5Stack& operator=(Hdf5Stack&&) noexcept;
  ~Hdf5Stack() override;

  const StackInfo& info() const;

  const std::string& file() const override { return info_.file; }
  const std::string& dataset() const override { return info_.dataset; }
  std::uint64_t frames() const override { return info_.frames; }
  std::uint64_t rows() const override { return info_.rows; }
  std::uint64_t columns() const override { return info_.columns; }
  unsigned pixel_bytes() const override { return info_.pixelBytes; }
  std::vector<std::string> files() const override;
  // Where the frames lie in the file, for an unfiltered dataset of
  // little-endian unsigned pixels stored contiguous or in chunks of whole
  // frames (read there with pread, by the median and by read() alike);
  // nullptr for any other, read through the library.
  const RawFrames* raw_frames() const override;
  // Frames read in place, and chunks of the filters this process decodes
  // itself (deflate, shuffle, LZ4, bitshuffle/LZ4), are read without the
  // library: from several threads at once, best k frames at a time where a
  // chunk holds k frames.
  bool reads_in_parallel() const override;
  bool reads_bands() const override;
  std::uint64_t frames_per_read() const override;

  // As Stack::read.  A negative value of a signed stack fails the read,
  // naming its frame and pixel.  A chunk is decoded once per read while
  // the chunks that one frame's part of the read spans fit the cache: a
  // compressed stack of one frame a chunk is best read in whole frames or
  // large bands (a band of a frame decodes the whole frame; the cache
  // keeps it for the next band of the same frame only).  A read across a
  // series' members reads each member's part in turn.
  Status read(std::uint64_t f0, std::uint64_t n, std::uint64_t p0, std::uint64_t count, std::uint16_t* dst,
              std::uint64_t stride = 0) override;
  Status read(std::uint64_t f0, std::uint64_t n, std::uint64_t p0, std::uint64_t count, std::uint32_t* dst,
              std::uint64_t stride = 0) override;

  // The HDF5 identifiers, for this layer's own use (the writer copies a
  // stack's creation properties).
  struct Handles;
  const Handles& handles() const { return *h_; }

 private:
  Hdf5Stack() = default;
  std::unique_ptr<Handles> h_;
  StackInfo info_;
};

// Where a written frame came from, kept in its attributes "source_file",
// "source_dataset" (absent for a frame file) and "frames"; the attribute
// "written_by" ("StackCollapse") marks it as a median.
struct FrameOrigin {
  std::string file;
  std::string dataset;
  std::uint64_t frames = 0;
};

// Where a median written as a file of its own goes: where fabio and silx
// look first.  The file is a NeXus one: /entry an NXentry, /entry/data its
// NXdata whose signal is the median, each the default of the group above.
inline constexpr char kMedianDataset[] = "/entry/data/data";

// How a frame goes into an HDF5 file.  WholeFile ("FILE"): the file holds
// that dataset alone (in NeXus groups where it is /ENTRY/DATA/NAME, as
// kMedianDataset is); an existing file is replaced only where it holds
// nothing but earlier medians (datasets of one frame, (1, rows, columns)
// or (rows, columns), with the attributes above and no others, in groups
// without attributes but those NeXus ones the new file has too).  Dataset
// ("FILE::DATASET"): the dataset is added to an existing file, or replaces
// an earlier median of that name, and every other object of the file stays
// as it was.  Anything else in the way (another dataset, a group, a link,
// a file that is not HDF5) is refused with an Output error naming it and
// ending "Nothing written.".  An empty file counts as none.
enum class Hdf5Target { WholeFile, Dataset };

// Whether a frame may be written to `arg` ("FILE" for WholeFile,
// "FILE::DATASET" for Dataset): the refusal above, found before the frame
// is computed.  "FILE" is judged for a median at kMedianDataset.
Status hdf5_frame_destination_free(const std::string& arg);

// Writes one frame of rows x columns pixels as a stack of one frame, the
// dataset `dataset` of shape (1, rows, columns) (intermediate groups made)
// of the HDF5 file `path`, as `target` says.  With `like`, the dataset has
// its pixel type and is chunked and filtered as like's dataset is (each
// chunk clipped to one frame), filters this process cannot find left out;
// without, it is contiguous and of the pixels' type.  A new file is made in memory and
// written as one output file (see OutputFile); a dataset added to an
// existing file goes into a copy of it that replaces it (see FileCopy).
// Either way the file is replaced whole or not at all.
Status write_hdf5_frame(const std::string& path, const std::string& dataset, Hdf5Target target,
                        const std::uint16_t* pixels, std::uint64_t rows, std::uint64_t columns,
                        const FrameOrigin& origin, const Hdf5Stack* like = nullptr);
Status write_hdf5_frame(const std::string& path, const std::string& dataset, Hdf5Target target,
                        const std::uint32_t* pixels, std::uint64_t rows, std::uint64_t columns,
                        const FrameOrigin& origin, const Hdf5Stack* like = nullptr);

// The Output error of a build without libhdf5 asked to write HDF5 to path.
Error no_hdf5_output(const std::string& path);

}  // namespace hedm
