// Opening an HDF5 stack, phase by phase: the file (there, readable, HDF5),
// the object named or found in it (a dataset, or a series' group), the
// datasets that hold its frames (one, or a series' members, each checked
// against the first), and the access through which they are read.
#include "hdf5_stack.hpp"

#ifdef HEDM_HAVE_HDF5

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "hdf5_detail.hpp"
#include "input_file.hpp"

namespace hedm {

using namespace hdf5_detail;

namespace {

// What a stack's frames are read from: one dataset (`members` holds it
// alone) or a series (the group and its members' paths, in name order).
struct Located {
  std::string name;  // the dataset, or the series' group
  std::vector<std::string> members;
};

// Phase 1: the file, opened read-only.
Status open_file(const std::string& file, Hdf5Stack::Handles& h) {
  if (!hdf5_available()) return input_error("Could not read " + file + ": " + hdf5_library().failure + ".");
  int fd = -1;
  if (const int e = open_for_reading(file, &fd); e != 0)
    return input_error("Could not open " + file + ": " + std::strerror(e) + ".");
  ::close(fd);
  Lock lock;
  if (H5Fis_hdf5(file.c_str()) <= 0) {
    H5Eclear2(H5E_DEFAULT);
    return input_error("Input file " + file + " is not an HDF5 file.");
  }
  h.file = Id(H5Fopen(file.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT), H5Fclose);
  if (!h.file) return input_error("Input file " + file + " could not be read as HDF5: " + hdf5_says() + ".");
  return ok();
}

// The members of a series in `group`: its links data_<digits>, in name order.
std::vector<std::string> series_members(hid_t file, const std::string& group) {
  Id g(H5Gopen2(file, group.c_str(), H5P_DEFAULT), H5Gclose);
  if (!g) {
    H5Eclear2(H5E_DEFAULT);
    return {};
  }
  std::vector<std::string> members;
  for (const std::string& name : link_names(g.get()))
    if (is_series_member(name)) members.push_back((group == "/" ? "" : group) + "/" + name);
  return members;
}

// A series of one member is that member's dataset.
Located as_located(hid_t file, const std::string& name, bool group) {
  Located l{name, {}};
  if (group) l.members = series_members(file, name);
  if (!group || l.members.size() == 1) {
    if (group) l.name = l.members[0];
    l.members = {l.name};
  }
  return l;
}

// Phase 2: the object that `named` names, or, where it names none, the one
// stack the file holds.
Result<Located> locate(hid_t file, const std::string& path, const std::string& named) {
  if (named.empty()) {
    Result<Found> found = find_stack(file, path);
    if (!found) return found.error();
    return as_located(file, found->path, found->series);
  }
  const std::string at = where(path, named);
  H5O_type_t type = H5O_TYPE_UNKNOWN;
  if (H5Lexists(file, named.c_str(), H5P_DEFAULT) > 0 && identity(file, named.c_str(), &type).empty())
    return unreachable(file, named, at);
  if (type == H5O_TYPE_UNKNOWN) {
    H5Eclear2(H5E_DEFAULT);
    return input_error("Input file " + path + " has no dataset " + named + "." + listing_of(file));
  }
  if (type == H5O_TYPE_GROUP && !series_members(file, named).empty()) return as_located(file, named, true);
  if (type != H5O_TYPE_DATASET) return input_error(at + "this is a group or a named type, not a dataset.");
  return as_located(file, named, false);
}

// What a dataset holds: its shape as a stack and its pixels' type.
struct Shape {
  int rank = 3;
  std::uint64_t frames = 0, rows = 0, columns = 0;
  hid_t fileType = -1;
  unsigned pixelBytes = 2;
  bool isSigned = false;
  std::string typeText;
};

// A dataset's shape as a stack: (frames, rows, columns), or (rows, columns)
// as one frame; refused naming what it is where it is neither, or holds
// pixels of another type.
Result<Shape> shape_of(hid_t dset, const std::string& at) {
  Shape s;
  const std::vector<hsize_t> dims = dims_of(dset);
  if (dims.size() != 2 && dims.size() != 3)
    return input_error(at + "it is " + (dims.empty() ? std::string("a scalar") : shape_text(dims)) +
                       ", not a stack of frames (frames x rows x columns) nor a frame (rows x columns).");
  s.rank = static_cast<int>(dims.size());
  s.frames = s.rank == 3 ? dims[0] : 1;
  s.rows = dims[dims.size() - 2], s.columns = dims[dims.size() - 1];
  Id t(H5Dget_type(dset), H5Tclose);
  const PixelType p = t ? pixel_type(t.get()) : PixelType{};
  s.typeText = t ? type_text(t.get()) : "of an unknown type";
  if (p.nativeType < 0)
    return input_error(at + "its pixels are " + s.typeText +
                       "; a stack holds unsigned 16-bit or 32-bit integers (or signed 32-bit ones, never negative).");
  s.fileType = p.nativeType, s.pixelBytes = p.bytes, s.isSigned = p.isSigned;
  return s;
}

// A dataset's chunks and filters, into `info`; refused where it is virtual
// or compressed with a filter that cannot be found here.
Status storage_of(hid_t dset, const std::string& at, int rank, StackInfo& info) {
  Id dcpl(H5Dget_create_plist(dset), H5Pclose);
  const H5D_layout_t layout = H5Pget_layout(dcpl.get());
  if (layout == H5D_VIRTUAL)
    return input_error(at + "it is a virtual dataset, which is not read (a missing source file would read "
                            "as fill values); name its source datasets instead.");
  info.chunk.clear();
  if (layout == H5D_CHUNKED) {
    hsize_t c[3] = {1, 1, 1};
    H5Pget_chunk(dcpl.get(), rank, rank == 3 ? c : c + 1);
    info.chunk = {c[0], c[1], c[2]};
  }
  info.filters = filters_of(dcpl.get());
  for (const Hdf5Filter& f : info.filters)
    if (!f.available)
      return input_error(at + "it is compressed with filter " + std::to_string(f.id) + " (" + f.name +
                         "), which this HDF5 library cannot find: install its plugin (Debian: bitshuffle, "
                         "hdf5-filter-plugin) or name the plugins' folder in HDF5_PLUGIN_PATH.");
  return ok();
}

// A series member's frames against the first member's: the same frame
// shape and pixel type, else refused naming both.
Status agrees(const Shape& first, const Shape& s, const std::string& at, const std::string& firstName,
              const std::string& name) {
  if (s.rows == first.rows && s.columns == first.columns && s.fileType == first.fileType) return ok();
  auto frames_of = [](const Shape& x) {
    return std::to_string(x.rows) + " x " + std::to_string(x.columns) + " " + x.typeText;
  };
  return input_error(at + name + " holds frames of " + frames_of(s) + " pixels, " + firstName + " frames of " +
                     frames_of(first) + ": the frames of a series must agree in shape and pixel type.");
}

// A member's dataset, opened; refused naming its data file where the link
// to it leads nowhere (a data file missing).
Result<Id> open_member(hid_t file, const std::string& at, const std::string& member) {
  H5O_type_t type = H5O_TYPE_UNKNOWN;
  if (identity(file, member.c_str(), &type).empty()) return unreachable(file, member, at);
  if (type != H5O_TYPE_DATASET) return input_error(at + "this is a group or a named type, not a dataset.");
  Id dset(H5Dopen2(file, member.c_str(), H5P_DEFAULT), H5Dclose);
  if (!dset) return input_error(at + "could not be opened: " + hdf5_says() + ".");
  return dset;
}

// The last name of a path: "data_000002" of "/entry/data/data_000002".
std::string last_name(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Phase 3: every dataset that holds the stack's frames, checked, the first
// one's shape and storage as the stack's.
Status describe(Hdf5Stack::Handles& h, const Located& l, const std::string& path, StackInfo& info) {
  const bool series = l.members.size() > 1 || l.members[0] != l.name;
  Shape first;
  for (std::size_t i = 0; i < l.members.size(); ++i) {
    const std::string& member = l.members[i];
    const std::string at = series ? "Input file " + path + ", series " + l.name + ", member " + last_name(member) + ": "
                                  : where(path, member);
    Result<Id> dset = open_member(h.file.get(), at, member);
    if (!dset) return dset.error();
    Result<Shape> s = shape_of(dset->get(), at);
    if (!s) return s.error();
    StackInfo storage;
    if (Status st = storage_of(dset->get(), at, s->rank, storage); !st) return st;
    if (i == 0) {
      first = *s;
      info.rows = s->rows, info.columns = s->columns, info.pixelBytes = s->pixelBytes, info.isSigned = s->isSigned;
      info.chunk = storage.chunk, info.filters = storage.filters;
    } else if (Status st = agrees(first, *s, series_where(path, l.name), last_name(l.members[0]), last_name(member));
               !st) {
      return st;
    }
    h.members.push_back({member, info.frames, s->frames, s->rank});
    info.frames += s->frames;
    if (series) {
      info.members.push_back(member);
      info.memberFiles.push_back(file_of(dset->get()));
    }
  }
  info.dataset = l.name;
  return ok();
}

// A prime at least n, for the chunk cache's hash table.
std::size_t prime_at_least(std::size_t n) {
  auto prime = [](std::size_t p) {
    for (std::size_t d = 2; d * d <= p; ++d)
      if (p % d == 0) return false;
    return p >= 2;
  };
  while (!prime(n)) ++n;
  return n;
}

// Phase 4: the access the members are read through, and the first member
// opened with it.  The chunk cache: decoded chunks stay while the reads go
// on through the same band of chunk rows, so that each is decoded once;
// undecoded ones are read in place, no more of them than asked for.  Sized
// by the first member's chunks.
Status open_access(Hdf5Stack::Handles& h, const StackInfo& info, const StackOptions& options,
                   const std::string& at) {
  h.access = plist(H5P_DATASET_ACCESS);
  if (!info.chunk.empty()) {
    const std::uint64_t chunkBytes = info.chunk[0] * info.chunk[1] * info.chunk[2] * info.pixelBytes;
    std::size_t bytes = 0, slots = 521;
    if (!info.filters.empty()) {
      const std::uint64_t across = (info.columns + info.chunk[2] - 1) / info.chunk[2];
      const std::uint64_t bands = 2 * info.chunk[1] <= info.rows ? 2 : 1;
      std::uint64_t want = options.chunkCacheBytes ? options.chunkCacheBytes
                                                   : std::min<std::uint64_t>(chunkBytes * across * bands, 64u << 20);
      want = std::max<std::uint64_t>(want, chunkBytes);
      bytes = static_cast<std::size_t>(want);
      slots = prime_at_least(static_cast<std::size_t>(std::max<std::uint64_t>(100 * (want / chunkBytes), 521)));
    }
    H5Pset_chunk_cache(h.access.get(), slots, bytes, 0.75);
  }
  h.dset = Id(H5Dopen2(h.file.get(), h.members[0].path.c_str(), h.access.get()), H5Dclose);
  h.fileSpace = Id(h.dset ? H5Dget_space(h.dset.get()) : H5I_INVALID_HID, H5Sclose);
  if (!h.dset || !h.fileSpace) return input_error(at + "could not be opened: " + hdf5_says() + ".");
  return ok();
}

}  // namespace

bool hdf5_available() { return hdf5_library().failure.empty(); }

Result<Hdf5Stack> Hdf5Stack::open(const std::string& arg, const StackOptions& options) {
  const StackPath sp = split_stack_path(arg);
  Hdf5Stack s;
  s.h_ = std::make_unique<Handles>();
  Handles& h = *s.h_;
  if (Status st = open_file(sp.file, h); !st) return st.error();
  Lock lock;
  const Result<Located> located = locate(h.file.get(), sp.file, sp.dataset);
  if (!located) return located.error();
  s.info_.file = sp.file;
  if (Status st = describe(h, *located, sp.file, s.info_); !st) return st.error();
  if (Status st = open_access(h, s.info_, options, where(sp.file, h.members[0].path)); !st) return st.error();
  find_frames_in_place(h, s.info_);
  find_chunks_to_decode(h, s.info_);
  return s;
}

Hdf5Stack::Hdf5Stack(Hdf5Stack&& o) noexcept : h_(std::move(o.h_)), info_(std::move(o.info_)) {}
Hdf5Stack& Hdf5Stack::operator=(Hdf5Stack&& o) noexcept {
  if (this != &o) {
    if (h_) {
      Lock lock;
      h_.reset();
    }
    h_ = std::move(o.h_);
    info_ = std::move(o.info_);
  }
  return *this;
}
Hdf5Stack::~Hdf5Stack() {
  if (h_) {
    Lock lock;
    h_.reset();
  }
}

const StackInfo& Hdf5Stack::info() const { return info_; }

std::vector<std::string> Hdf5Stack::files() const {
  std::vector<std::string> all = {info_.file};
  for (const std::string& f : info_.memberFiles)
    if (std::find(all.begin(), all.end(), f) == all.end()) all.push_back(f);
  return all;
}

}  // namespace hedm

#endif
