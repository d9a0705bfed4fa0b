// What the HDF5 layer's reading and writing share: the process-wide lock
// around HDF5 calls, identifiers closed by their own close function, and
// HDF5's word on its latest failure.  For the layer's own files only.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <hdf5.h>

#include "chunk_codecs.hpp"
#include "hdf5_library.hpp"
#include "hdf5_stack.hpp"
#include "input_file.hpp"

namespace hedm {
namespace hdf5_detail {

// One lock for every HDF5 call of the process (the library is built
// without thread safety); its first taking also stops HDF5 from printing
// its error stack: failures become our messages.
inline std::recursive_mutex& hdf5_mutex() {
  static std::recursive_mutex m;
  return m;
}
class Lock {
 public:
  Lock() : g_(hdf5_mutex()) {
    static const bool quiet = [] {
      return hdf5_library().failure.empty() && H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr) >= 0;
    }();
    (void)quiet;
  }

 private:
  std::lock_guard<std::recursive_mutex> g_;
};

// An HDF5 identifier closed with its own close function.
class Id {
 public:
  Id() = default;
  Id(hid_t v, herr_t (*close)(hid_t)) : v_(v), close_(close) {}
  Id(Id&& o) noexcept : v_(std::exchange(o.v_, H5I_INVALID_HID)), close_(o.close_) {}
  Id& operator=(Id&& o) noexcept {
    if (this != &o) {
      reset();
      v_ = std::exchange(o.v_, H5I_INVALID_HID);
      close_ = o.close_;
    }
    return *this;
  }
  ~Id() { reset(); }
  void reset() {
    if (v_ >= 0 && close_) close_(v_);
    v_ = H5I_INVALID_HID;
  }
  hid_t get() const { return v_; }
  // The identifier, no longer closed here: the caller closes it and learns
  // whether that worked.
  hid_t release() { return std::exchange(v_, H5I_INVALID_HID); }
  explicit operator bool() const { return v_ >= 0; }

 private:
  hid_t v_ = H5I_INVALID_HID;
  herr_t (*close_)(hid_t) = nullptr;
};
inline Id plist(hid_t cls) { return Id(H5Pcreate(cls), H5Pclose); }

// What HDF5 said of its latest failure (the innermost description on its
// error stack), and the stack cleared.
inline herr_t innermost(unsigned n, const H5E_error2_t* e, void* data) {
  auto* text = static_cast<std::string*>(data);
  if (text->empty() && e->desc && *e->desc) *text = e->desc;
  (void)n;
  return 0;
}
inline std::string hdf5_says() {
  std::string text;
  H5Ewalk2(H5E_DEFAULT, H5E_WALK_UPWARD, innermost, &text);
  H5Eclear2(H5E_DEFAULT);
  return text.empty() ? "HDF5 gave no reason" : text;
}

inline std::string shape_text(const std::vector<hsize_t>& dims) {
  if (dims.empty()) return "scalar";
  std::string s;
  for (std::size_t i = 0; i < dims.size(); ++i) s += (i ? " x " : "") + std::to_string(dims[i]);
  return s;
}

inline std::string type_text(hid_t type) {
  const std::size_t bits = H5Tget_size(type) * 8;
  switch (H5Tget_class(type)) {
    case H5T_INTEGER:
      return (H5Tget_sign(type) == H5T_SGN_NONE ? "uint" : "int") + std::to_string(bits);
    case H5T_FLOAT: return "float" + std::to_string(bits);
    case H5T_STRING: return "string";
    case H5T_COMPOUND: return "compound";
    case H5T_ENUM: return "enum";
    case H5T_ARRAY: return "array";
    default: return "other";
  }
}

inline std::vector<hsize_t> dims_of(hid_t dset) {
  Id space(H5Dget_space(dset), H5Sclose);
  const int rank = space ? H5Sget_simple_extent_ndims(space.get()) : -1;
  std::vector<hsize_t> dims(static_cast<std::size_t>(std::max(rank, 0)));
  if (rank > 0) H5Sget_simple_extent_dims(space.get(), dims.data(), nullptr);
  return dims;
}

// "/entry/data/data (400 x 2048 x 2048, uint16)"
inline std::string dataset_summary(hid_t dset, const std::string& path, std::size_t* rank) {
  const std::vector<hsize_t> dims = dims_of(dset);
  Id type(H5Dget_type(dset), H5Tclose);
  *rank = dims.size();
  return path + " (" + shape_text(dims) + ", " + (type ? type_text(type.get()) : "unknown type") + ")";
}

// An object's identity across the files that links reach: the name of its
// file and its address there (a file's number changes each time an external
// link opens it anew); "" where it cannot be opened.  Also its type, and
// the number of its attributes when asked.
inline std::string identity(hid_t loc, const char* name, H5O_type_t* type, hsize_t* attributes = nullptr) {
  Id obj(H5Oopen(loc, name, H5P_DEFAULT), H5Oclose);
  if (!obj) return "";
  char file[4096];
  const ssize_t n = H5Fget_name(obj.get(), file, sizeof file);
  if (n < 0) return "";
#if H5_VERSION_GE(1, 12, 0)
  H5O_info2_t oi;
  if (H5Oget_info3(obj.get(), &oi, H5O_INFO_BASIC | (attributes ? H5O_INFO_NUM_ATTRS : 0)) < 0) return "";
  *type = oi.type;
  if (attributes) *attributes = oi.num_attrs;
  return std::string(file, static_cast<std::size_t>(std::min<ssize_t>(n, sizeof file - 1))) + ":" +
         std::string(reinterpret_cast<const char*>(&oi.token), sizeof oi.token);
#else
  H5O_info_t oi;
  if (H5Oget_info2(obj.get(), &oi, H5O_INFO_BASIC | (attributes ? H5O_INFO_NUM_ATTRS : 0)) < 0) return "";
  *type = oi.type;
  if (attributes) *attributes = oi.num_attrs;
  return std::string(file, static_cast<std::size_t>(std::min<ssize_t>(n, sizeof file - 1))) + ":" +
         std::to_string(oi.addr);
#endif
}

// The names of a group's links, in name order.
inline herr_t collect_name(hid_t, const char* name, const H5L_info_t*, void* data) {
  static_cast<std::vector<std::string>*>(data)->push_back(name);
  return 0;
}
inline std::vector<std::string> link_names(hid_t group) {
  std::vector<std::string> names;
  if (H5Literate(group, H5_INDEX_NAME, H5_ITER_INC, nullptr, collect_name, &names) < 0) H5Eclear2(H5E_DEFAULT);
  return names;
}

// "Input file F, dataset D: "
inline std::string where(const std::string& file, const std::string& dataset) {
  return "Input file " + file + ", dataset " + dataset + ": ";
}
// "Input file F, series G: "
inline std::string series_where(const std::string& file, const std::string& group) {
  return "Input file " + file + ", series " + group + ": ";
}

// The pixels a stack may hold, by their stored type: the native type they
// are read as, their width and sign; nativeType -1 for any other type.
struct PixelType {
  hid_t nativeType = -1;
  unsigned bytes = 0;
  bool isSigned = false;
};
inline PixelType pixel_type(hid_t type) {
  const bool integer = H5Tget_class(type) == H5T_INTEGER;
  const std::size_t size = H5Tget_size(type);
  const bool isSigned = integer && H5Tget_sign(type) != H5T_SGN_NONE;
  if (integer && size == 2 && !isSigned) return {H5T_NATIVE_UINT16, 2, false};
  if (integer && size == 4) return {isSigned ? H5T_NATIVE_INT32 : H5T_NATIVE_UINT32, 4, isSigned};
  return {};
}

// The name of the file an object lies in, as HDF5 opened it (an external
// link's data file: its path from the folder of the file that links to it).
inline std::string file_of(hid_t obj) {
  char name[4096];
  const ssize_t n = H5Fget_name(obj, name, sizeof name);
  return n < 0 ? "" : std::string(name, static_cast<std::size_t>(std::min<ssize_t>(n, sizeof name - 1)));
}

// A series' member: a link named data_ and digits (data_000001).
bool is_series_member(const std::string& name);

// What a stack named without a dataset is: the path of the one series'
// group, or of the one dataset.
struct Found {
  std::string path;
  bool series = false;
};
Result<Found> find_stack(hid_t file, const std::string& path);

// " It holds: /a (3 x 4 x 5, uint16), ..." for a message.
std::string listing_of(hid_t file);

// The file an external link at `name` leads to, as the link names it; ""
// for any other link.
std::string link_target(hid_t loc, const std::string& name);
// The error for a link at `name` that leads nowhere (a data file missing),
// HDF5's word on it taken from the error stack: "<at>the data file F it
// links to cannot be opened: <reason>." for an external link.
Error unreachable(hid_t loc, const std::string& name, const std::string& at);

// A dataset's filters, in pipeline order, and whether each can be had.
std::vector<Hdf5Filter> filters_of(hid_t dcpl);

}  // namespace hdf5_detail

// One dataset of a stack: the stack's own, or a member of a series.
struct Hdf5Member {
  std::string path;
  std::uint64_t first = 0, frames = 0;  // its frames in the stack's numbering
  int rank = 3;                         // 2: a frame of its own
};

struct Hdf5Stack::Handles {
  hdf5_detail::Id file, dset, fileSpace;  // the (first member's) dataset, open for the stack's life
  std::vector<Hdf5Member> members;        // one for a single dataset
  hdf5_detail::Id access;                 // the members' dataset access properties (chunk cache)
  // The member beyond the first being read, open until a read moves on to
  // another: one member's chunk cache at a time, however many there are.
  std::size_t current = 0;
  hdf5_detail::Id currentSet, currentSpace;
  // Where the frames lie in their file, when they can be read there without
  // the library (hdf5_chunks.cpp): `in` open, raw.in set to it.
  InputFile in;
  RawFrames raw{nullptr, {0, 0, 0, 2, {}}};
  // A compressed dataset's chunks, where this process decodes them
  // (hdf5_decode.cpp).
  struct ChunkTable {
    std::vector<std::uint64_t> dims;  // frames, rows, columns of a chunk
    std::uint64_t groups = 0, down = 0, across = 0;  // chunks along frames, rows, columns
    std::vector<int> filters;  // the pipeline, in the order the writer applied it
    std::vector<std::uint64_t> address, size;  // each chunk's, (frames, rows, columns) in order
    std::vector<unsigned> mask;  // filters skipped on each chunk
    // Bitshuffle/LZ4 alone: each chunk's blocks, indexed when a read first
    // wants part of the chunk (a band of pixels), so that a band decodes
    // its own blocks only; `unindexed` says why a chunk's were not.
    bool byBlocks = false;
    std::vector<BitshuffleBlocks> blocks;
    std::vector<std::string> unindexed;
    std::unique_ptr<std::once_flag[]> indexed;
    InputFile in;  // the file the chunks lie in
    std::uint64_t first = 0, frames = 0;  // the dataset's frames in the stack's numbering
    std::string path;  // the dataset (a series' member)
  };
  // One table per dataset of the stack (a series' members, or the one
  // dataset), all or none: empty where the library decodes the chunks.
  std::vector<std::unique_ptr<ChunkTable>> chunks;
};

namespace hdf5_detail {
// Whether the environment asks for every chunk to go through the library
// (HEDM_HDF5_THROUGH_LIBRARY set and not "0"), for tests that compare both.
bool through_library();
using ChunkTable = Hdf5Stack::Handles::ChunkTable;
// Whether a dataset's pixels are stored as this process reads them:
// little-endian, in a file without a user block (whose addresses the
// library counts from the block's end).
bool stored_as_read(hid_t dset);
// Lists where a compressed stack's chunks lie (every member's of a
// series), when this process decodes each of their filters (h.chunks), the
// library's path otherwise.
void find_chunks_to_decode(Hdf5Stack::Handles& h, const StackInfo& info);
// A window of frames from chunks decoded here, as Stack::read; safe on
// several threads at once.
Status read_decoded(Hdf5Stack::Handles& h, const StackInfo& info, std::uint64_t f0, std::uint64_t n,
                    std::uint64_t p0, std::uint64_t count, void* dst, std::uint64_t stride, bool wide);
// Finds where an unfiltered dataset's frames lie in its file and sets
// h.raw to them, or leaves it unset where they cannot be read there (a
// series, filters, big-endian or signed pixels, chunks that split frames,
// chunks never written, a user block).  Called under the lock once open.
void find_frames_in_place(Hdf5Stack::Handles& h, const StackInfo& info);
// A window of frames read with pread from where they lie, as Stack::read.
Status read_in_place(Hdf5Stack::Handles& h, std::uint64_t f0, std::uint64_t n, std::uint64_t p0,
                     std::uint64_t count, void* dst, std::uint64_t stride, bool wide);
}  // namespace hdf5_detail

}  // namespace hedm
