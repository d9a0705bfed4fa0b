#include "hdf5_stack.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

namespace hedm {

bool is_hdf5_path(const std::string& arg) {
  std::string file = split_stack_path(arg).file;
  std::transform(file.begin(), file.end(), file.begin(), [](unsigned char c) { return std::tolower(c); });
  for (const std::string_view ext : {".h5", ".hdf5", ".nxs", ".hdf"})
    if (file.size() > ext.size() && file.ends_with(ext)) return true;
  return false;
}

StackPath split_stack_path(const std::string& arg) {
  const std::size_t sep = arg.find("::");
  if (sep == std::string::npos) return {arg, ""};
  StackPath p{arg.substr(0, sep), ""};
  const char* name = arg.c_str() + sep + 2;
  if (*name && *name != '/') p.dataset.push_back('/');
  p.dataset.append(name);
  return p;
}

}  // namespace hedm

#ifdef HEDM_HAVE_HDF5

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <set>
#include <unistd.h>
#include <utility>

#include "hdf5_detail.hpp"

#include "input_file.hpp"
#include "output_file.hpp"

namespace hedm {

using namespace hdf5_detail;

namespace {

Error input_error(const std::string& text) { return Error{ErrorKind::Input, text}; }

// Every dataset that the file's groups and links reach, once each.
struct Walk {
  std::set<std::string> seen;
  std::vector<std::string> all;     // summaries, in walking order
  std::vector<std::string> stacks;  // paths of the three-dimensional ones
};

void walk_group(hid_t group, const std::string& prefix, Walk& w, int depth) {
  for (const std::string& name : link_names(group)) {
    const std::string path = prefix + "/" + name;
    H5O_type_t type = H5O_TYPE_UNKNOWN;
    const std::string id = identity(group, name.c_str(), &type);
    if (id.empty()) {
      H5Eclear2(H5E_DEFAULT);
      w.all.push_back(path + " (a link to nothing that can be opened)");
      continue;
    }
    if (!w.seen.insert(id).second) continue;
    if (type == H5O_TYPE_GROUP && depth < 64) {
      Id sub(H5Gopen2(group, name.c_str(), H5P_DEFAULT), H5Gclose);
      if (sub) walk_group(sub.get(), path, w, depth + 1);
    } else if (type == H5O_TYPE_DATASET) {
      Id dset(H5Dopen2(group, name.c_str(), H5P_DEFAULT), H5Dclose);
      if (!dset) continue;
      std::size_t rank = 0;
      w.all.push_back(dataset_summary(dset.get(), path, &rank));
      if (rank == 3) w.stacks.push_back(path);
    }
  }
  H5Eclear2(H5E_DEFAULT);
}

std::string listing(const Walk& w) {
  if (w.all.empty()) return " It holds no dataset.";
  std::string s = " It holds: ";
  const std::size_t shown = std::min<std::size_t>(w.all.size(), 20);
  for (std::size_t i = 0; i < shown; ++i) s += (i ? ", " : "") + w.all[i];
  if (w.all.size() > shown) s += ", and " + std::to_string(w.all.size() - shown) + " more";
  return s + ".";
}

// The one three-dimensional dataset of the file.
Result<std::string> find_stack(hid_t file, const std::string& path) {
  Walk w;
  Id root(H5Gopen2(file, "/", H5P_DEFAULT), H5Gclose);
  if (root) walk_group(root.get(), "", w, 0);
  if (w.stacks.size() == 1) return w.stacks[0];
  if (w.stacks.empty())
    return input_error("Input file " + path + " holds no three-dimensional dataset (frames, rows, columns)." +
                       listing(w));
  return input_error("Input file " + path + " holds " + std::to_string(w.stacks.size()) +
                     " three-dimensional datasets; name one as " + path + "::/DATASET." + listing(w));
}

std::string filter_name(H5Z_filter_t id, const char* stored) {
  switch (id) {
    case H5Z_FILTER_DEFLATE: return "deflate";
    case H5Z_FILTER_SHUFFLE: return "shuffle";
    case H5Z_FILTER_FLETCHER32: return "fletcher32";
    case H5Z_FILTER_SZIP: return "szip";
    case H5Z_FILTER_NBIT: return "nbit";
    case H5Z_FILTER_SCALEOFFSET: return "scaleoffset";
    case 307: return "bzip2";
    case 32000: return "LZF";
    case 32001: return "blosc";
    case 32004: return "LZ4";
    case 32008: return "bitshuffle";
    case 32015: return "zstd";
    default: return stored && *stored ? stored : "unknown";
  }
}

std::vector<Hdf5Filter> filters_of(hid_t dcpl) {
  std::vector<Hdf5Filter> out;
  const int n = H5Pget_nfilters(dcpl);
  for (int i = 0; i < n; ++i) {
    unsigned flags = 0, config = 0;
    std::size_t nValues = 0;
    char name[256] = "";
    const H5Z_filter_t id = H5Pget_filter2(dcpl, static_cast<unsigned>(i), &flags, &nValues, nullptr, sizeof name,
                                           name, &config);
    if (id < 0) continue;
    // H5Zfilter_avail looks in the plugin path for a filter not yet loaded.
    const htri_t avail = H5Zfilter_avail(id);
    out.push_back({static_cast<int>(id), filter_name(id, name), avail > 0});
  }
  H5Eclear2(H5E_DEFAULT);
  return out;
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

}  // namespace


bool hdf5_available() { return hdf5_library().failure.empty(); }

Result<Hdf5Stack> Hdf5Stack::open(const std::string& arg, const StackOptions& options) {
  const StackPath sp = split_stack_path(arg);
  if (!hdf5_available()) return input_error("Could not read " + sp.file + ": " + hdf5_library().failure + ".");
  {
    int fd = -1;
    if (const int e = open_for_reading(sp.file, &fd); e != 0)
      return input_error("Could not open " + sp.file + ": " + std::strerror(e) + ".");
    ::close(fd);
  }
  Lock lock;
  if (H5Fis_hdf5(sp.file.c_str()) <= 0) {
    H5Eclear2(H5E_DEFAULT);
    return input_error("Input file " + sp.file + " is not an HDF5 file.");
  }
  Hdf5Stack s;
  s.h_ = std::make_unique<Handles>();
  Handles& h = *s.h_;
  h.file = Id(H5Fopen(sp.file.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT), H5Fclose);
  if (!h.file) return input_error("Input file " + sp.file + " could not be read as HDF5: " + hdf5_says() + ".");

  std::string name = sp.dataset;
  if (name.empty()) {
    Result<std::string> found = find_stack(h.file.get(), sp.file);
    if (!found) return found.error();
    name = *found;
  }
  const std::string at = where(sp.file, name);
  H5O_type_t type = H5O_TYPE_UNKNOWN;
  if (H5Lexists(h.file.get(), name.c_str(), H5P_DEFAULT) > 0 && identity(h.file.get(), name.c_str(), &type).empty())
    return input_error(at + "its link leads nowhere that can be opened: " + hdf5_says() + ".");
  if (type == H5O_TYPE_UNKNOWN) {
    H5Eclear2(H5E_DEFAULT);
    Walk w;
    Id root(H5Gopen2(h.file.get(), "/", H5P_DEFAULT), H5Gclose);
    if (root) walk_group(root.get(), "", w, 0);
    return input_error("Input file " + sp.file + " has no dataset " + name + "." + listing(w));
  }
  if (type != H5O_TYPE_DATASET) return input_error(at + "this is a group or a named type, not a dataset.");

  Id dset(H5Dopen2(h.file.get(), name.c_str(), H5P_DEFAULT), H5Dclose);
  if (!dset) return input_error(at + "could not be opened: " + hdf5_says() + ".");
  StackInfo& info = s.info_;
  info.file = sp.file;
  info.dataset = name;
  const std::vector<hsize_t> dims = dims_of(dset.get());
  if (dims.size() != 3)
    return input_error(at + "it is " + (dims.empty() ? std::string("a scalar") : shape_text(dims)) +
                       ", not a stack of frames (frames x rows x columns).");
  info.frames = dims[0], info.rows = dims[1], info.columns = dims[2];
  {
    Id t(H5Dget_type(dset.get()), H5Tclose);
    const bool integer = t && H5Tget_class(t.get()) == H5T_INTEGER;
    const std::size_t size = t ? H5Tget_size(t.get()) : 0;
    const bool isSigned = integer && H5Tget_sign(t.get()) != H5T_SGN_NONE;
    if (integer && size == 2 && !isSigned) h.fileType = H5T_NATIVE_UINT16;
    else if (integer && size == 4) h.fileType = isSigned ? H5T_NATIVE_INT32 : H5T_NATIVE_UINT32;
    else
      return input_error(at + "its pixels are " + (t ? type_text(t.get()) : "of an unknown type") +
                         "; a stack holds unsigned 16-bit or 32-bit integers (or signed 32-bit ones, never "
                         "negative).");
    info.pixelBytes = static_cast<unsigned>(size);
    info.isSigned = isSigned;
  }
  Id dcpl(H5Dget_create_plist(dset.get()), H5Pclose);
  const H5D_layout_t layout = H5Pget_layout(dcpl.get());
  if (layout == H5D_VIRTUAL)
    return input_error(at + "it is a virtual dataset, which is not read (a missing source file would read "
                            "as fill values); name its source datasets instead.");
  std::uint64_t chunkBytes = 0;
  if (layout == H5D_CHUNKED) {
    hsize_t c[3] = {1, 1, 1};
    H5Pget_chunk(dcpl.get(), 3, c);
    info.chunk = {c[0], c[1], c[2]};
    chunkBytes = c[0] * c[1] * c[2] * info.pixelBytes;
  }
  info.filters = filters_of(dcpl.get());
  for (const Hdf5Filter& f : info.filters)
    if (!f.available)
      return input_error(at + "it is compressed with filter " + std::to_string(f.id) + " (" + f.name +
                         "), which this HDF5 library cannot find: install its plugin (Debian: bitshuffle, "
                         "hdf5-filter-plugin) or name the plugins' folder in HDF5_PLUGIN_PATH.");

  // The chunk cache: decoded chunks stay while the reads go on through the
  // same band of chunk rows, so that each is decoded once; undecoded ones
  // are read in place, no more of them than asked for.
  Id dapl = plist(H5P_DATASET_ACCESS);
  if (layout == H5D_CHUNKED) {
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
    H5Pset_chunk_cache(dapl.get(), slots, bytes, 0.75);
  }
  dset.reset();
  h.dset = Id(H5Dopen2(h.file.get(), name.c_str(), dapl.get()), H5Dclose);
  h.fileSpace = Id(h.dset ? H5Dget_space(h.dset.get()) : H5I_INVALID_HID, H5Sclose);
  if (!h.dset || !h.fileSpace) return input_error(at + "could not be opened: " + hdf5_says() + ".");
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

namespace {

// A flat range of a frame as HDF5 blocks of (rows, columns): a part of a
// row, whole rows, a part of a row.  `at` is where the block's first pixel
// goes in each frame's slice.
struct Block {
  std::uint64_t row, rows, column, columns, at;
};
std::vector<Block> blocks_of(std::uint64_t p0, std::uint64_t count, std::uint64_t columns) {
  const std::uint64_t end = p0 + count;  // one past the last
  const std::uint64_t r0 = p0 / columns, c0 = p0 % columns, r1 = (end - 1) / columns, c1 = (end - 1) % columns;
  if (r0 == r1) return {{r0, 1, c0, c1 - c0 + 1, 0}};
  std::vector<Block> b;
  const std::uint64_t fullFrom = c0 == 0 ? r0 : r0 + 1, fullTo = c1 == columns - 1 ? r1 + 1 : r1;  // [from, to)
  if (c0 != 0) b.push_back({r0, 1, c0, columns - c0, 0});
  if (fullTo > fullFrom) b.push_back({fullFrom, fullTo - fullFrom, 0, columns, fullFrom * columns - p0});
  if (c1 != columns - 1) b.push_back({r1, 1, 0, c1 + 1, r1 * columns - p0});
  return b;
}

}  // namespace

static Status read_range(Hdf5Stack::Handles& h, const StackInfo& info, std::uint64_t f0, std::uint64_t n,
                         std::uint64_t p0, std::uint64_t count, void* dst, std::uint64_t stride, bool wide) {
  const std::string at = where(info.file, info.dataset);
  if (f0 > info.frames || n > info.frames - f0 || p0 > info.pixels() || count > info.pixels() - p0 ||
      (stride != 0 && stride < count))
    return Error{ErrorKind::Argument, at + "no frames " + std::to_string(f0) + " + " + std::to_string(n) +
                                          ", pixels " + std::to_string(p0) + " + " + std::to_string(count) +
                                          " (stride " + std::to_string(stride) + ") in a stack of " +
                                          std::to_string(info.frames) + " frames of " +
                                          std::to_string(info.pixels()) + " pixels."};
  if (!wide && info.pixelBytes == 4)
    return Error{ErrorKind::Argument, at + "its 32-bit pixels cannot be read as 16-bit ones."};
  if (n == 0 || count == 0) return ok();
  if (stride == 0) stride = count;
  Lock lock;
  auto failed = [&] {
    return input_error(at + "could not read frames " + std::to_string(f0) + " to " + std::to_string(f0 + n - 1) +
                       ": " + hdf5_says() + ".");
  };
  // Signed pixels are read as they are (HDF5 would turn a negative value
  // into 0 on its way to an unsigned type) and checked below.
  const hid_t memType = info.isSigned ? H5T_NATIVE_INT32 : wide ? H5T_NATIVE_UINT32 : H5T_NATIVE_UINT16;
  const std::size_t width = wide ? 4 : 2;
  char* const base = static_cast<char*>(dst);
  // Each read's memory selection has the shape of its file selection:
  // HDF5 then maps chunks to memory block by block (other shapes it maps
  // pixel by pixel, many times slower).  The memory space starts at the
  // block's place in the first slice; HDF5 touches only selected pixels.
  auto read_block = [&](std::uint64_t f, std::uint64_t frames, const Block& b, std::uint64_t memRows,
                        std::uint64_t memColumns, void* to) {
    const hsize_t fileStart[3] = {f, b.row, b.column}, size[3] = {frames, b.rows, b.columns};
    const hsize_t memDims[3] = {frames, memRows, memColumns}, memStart[3] = {0, 0, 0};
    Id mem(H5Screate_simple(3, memDims, nullptr), H5Sclose);
    return mem &&
           H5Sselect_hyperslab(h.fileSpace.get(), H5S_SELECT_SET, fileStart, nullptr, size, nullptr) >= 0 &&
           H5Sselect_hyperslab(mem.get(), H5S_SELECT_SET, memStart, nullptr, size, nullptr) >= 0 &&
           H5Dread(h.dset.get(), memType, mem.get(), h.fileSpace.get(), H5P_DEFAULT, to) >= 0;
  };
  const std::uint64_t C = info.columns;
  for (const Block& b : blocks_of(p0, count, C)) {
    char* to = base + b.at * width;
    if (b.rows == 1) {  // slices of one row part each: (frames, 1, stride)
      if (!read_block(f0, n, b, 1, stride, to)) return failed();
    } else if (stride % C == 0 || n == 1) {  // whole rows, slices a whole number of rows apart
      if (!read_block(f0, n, b, n == 1 ? b.rows : stride / C, C, to)) return failed();
    } else {  // whole rows, a frame at a time
      for (std::uint64_t i = 0; i < n; ++i)
        if (!read_block(f0 + i, 1, b, b.rows, C, to + i * stride * width)) return failed();
    }
  }
  if (info.isSigned) {
    const auto* v = static_cast<const std::uint32_t*>(dst);
    for (std::uint64_t i = 0; i < n; ++i)
      for (std::uint64_t k = 0; k < count; ++k)
        if (v[i * stride + k] & 0x80000000u) {
          std::int32_t value;
          std::memcpy(&value, &v[i * stride + k], sizeof value);
          const std::uint64_t p = p0 + k;
          return input_error(at + "frame " + std::to_string(f0 + i) + ", pixel " + std::to_string(p) + " (row " +
                             std::to_string(p / info.columns) + ", column " + std::to_string(p % info.columns) +
                             ") is " + std::to_string(value) +
                             ": a stack of signed pixels must have no negative one.");
        }
  }
  return ok();
}

Status Hdf5Stack::read(std::uint64_t f0, std::uint64_t n, std::uint64_t p0, std::uint64_t count,
                       std::uint16_t* dst, std::uint64_t stride) {
  return read_range(*h_, info_, f0, n, p0, count, dst, stride, false);
}
Status Hdf5Stack::read(std::uint64_t f0, std::uint64_t n, std::uint64_t p0, std::uint64_t count,
                       std::uint32_t* dst, std::uint64_t stride) {
  return read_range(*h_, info_, f0, n, p0, count, dst, stride, true);
}

}  // namespace hedm

#else  // no libhdf5: every HDF5 path is refused

namespace hedm {

namespace {
Error no_hdf5(const std::string& path) {
  return Error{ErrorKind::Input, "Input file " + path +
                                     " is HDF5, which this build cannot read: it reads detector frame files only "
                                     "(rebuild with libhdf5-dev installed)."};
}
}  // namespace

struct Hdf5Stack::Handles {};
bool hdf5_available() { return false; }
Result<Hdf5Stack> Hdf5Stack::open(const std::string& arg, const StackOptions&) {
  return no_hdf5(split_stack_path(arg).file);
}
Hdf5Stack::Hdf5Stack(Hdf5Stack&& o) noexcept = default;
Hdf5Stack& Hdf5Stack::operator=(Hdf5Stack&& o) noexcept = default;
Hdf5Stack::~Hdf5Stack() = default;
const StackInfo& Hdf5Stack::info() const { return info_; }
Status Hdf5Stack::read(std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t, std::uint16_t*, std::uint64_t) {
  return no_hdf5(info_.file);
}
Status Hdf5Stack::read(std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t, std::uint32_t*, std::uint64_t) {
  return no_hdf5(info_.file);
}

}  // namespace hedm

#endif
