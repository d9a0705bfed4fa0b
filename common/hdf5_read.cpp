// Reading an opened HDF5 stack: a window of frames and flat pixel
// positions, as HDF5 blocks of rows, member by member of a series.
#include "hdf5_stack.hpp"

#ifdef HEDM_HAVE_HDF5

#include <cstring>

#include "hdf5_detail.hpp"

namespace hedm {

using namespace hdf5_detail;

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

// One dataset's part of a read: its dataset and dataspace, its rank, and
// the frames of it read (in its own numbering).
struct Part {
  hid_t dset, space;
  int rank;
  std::uint64_t f0, n;
};

// The dataset of member i, opened if it is not the one open: the first
// stays open, any other until a read moves on to another member.
bool member_part(Hdf5Stack::Handles& h, std::size_t i, Part* part) {
  if (i != 0 && h.current != i) {
    h.currentSpace.reset();
    h.currentSet.reset();
    h.current = 0;
    Id dset(H5Dopen2(h.file.get(), h.members[i].path.c_str(), h.access.get()), H5Dclose);
    Id space(dset ? H5Dget_space(dset.get()) : H5I_INVALID_HID, H5Sclose);
    if (!space) return false;
    h.currentSet = std::move(dset);
    h.currentSpace = std::move(space);
    h.current = i;
  }
  part->dset = i == 0 ? h.dset.get() : h.currentSet.get();
  part->space = i == 0 ? h.fileSpace.get() : h.currentSpace.get();
  part->rank = h.members[i].rank;
  return true;
}

// Frames part.f0 .. part.f0 + part.n - 1 of one dataset, pixels p0 ..
// p0 + count - 1 of each, to `base` (slices `stride` values apart).  Each
// read's memory selection has the shape of its file selection: HDF5 then
// maps chunks to memory block by block (other shapes it maps pixel by
// pixel, many times slower).  The memory space starts at the block's place
// in the first slice; HDF5 touches only selected pixels.
bool read_part(const Part& part, hid_t memType, std::size_t width, std::uint64_t columns, std::uint64_t p0,
               std::uint64_t count, char* base, std::uint64_t stride) {
  auto read_block = [&](std::uint64_t f, std::uint64_t frames, const Block& b, std::uint64_t memRows,
                        std::uint64_t memColumns, void* to) {
    // A two-dimensional dataset is one frame: its selections drop the frames.
    const int skip = part.rank == 3 ? 0 : 1;
    const hsize_t fileStart[3] = {f, b.row, b.column}, size[3] = {frames, b.rows, b.columns};
    const hsize_t memDims[3] = {frames, memRows, memColumns}, memStart[3] = {0, 0, 0};
    Id mem(H5Screate_simple(part.rank, memDims + skip, nullptr), H5Sclose);
    return mem &&
           H5Sselect_hyperslab(part.space, H5S_SELECT_SET, fileStart + skip, nullptr, size + skip, nullptr) >= 0 &&
           H5Sselect_hyperslab(mem.get(), H5S_SELECT_SET, memStart + skip, nullptr, size + skip, nullptr) >= 0 &&
           H5Dread(part.dset, memType, mem.get(), part.space, H5P_DEFAULT, to) >= 0;
  };
  const std::uint64_t C = columns, n = part.n;
  for (const Block& b : blocks_of(p0, count, C)) {
    char* to = base + b.at * width;
    if (b.rows == 1) {  // slices of one row part each: (frames, 1, stride)
      if (!read_block(part.f0, n, b, 1, stride, to)) return false;
    } else if (stride % C == 0 || n == 1) {  // whole rows, slices a whole number of rows apart
      if (!read_block(part.f0, n, b, n == 1 ? b.rows : stride / C, C, to)) return false;
    } else {  // whole rows, a frame at a time
      for (std::uint64_t i = 0; i < n; ++i)
        if (!read_block(part.f0 + i, 1, b, b.rows, C, to + i * stride * width)) return false;
    }
  }
  return true;
}

// A signed stack's values read as they are (HDF5 would turn a negative
// value into 0 on its way to an unsigned type), checked here.
Status check_signs(const StackInfo& info, const std::uint32_t* v, std::uint64_t f0, std::uint64_t n,
                   std::uint64_t p0, std::uint64_t count, std::uint64_t stride) {
  for (std::uint64_t i = 0; i < n; ++i)
    for (std::uint64_t k = 0; k < count; ++k)
      if (v[i * stride + k] & 0x80000000u) {
        std::int32_t value;
        std::memcpy(&value, &v[i * stride + k], sizeof value);
        const std::uint64_t p = p0 + k;
        return input_error(where(info.file, info.dataset) + "frame " + std::to_string(f0 + i) + ", pixel " +
                           std::to_string(p) + " (row " + std::to_string(p / info.columns) + ", column " +
                           std::to_string(p % info.columns) + ") is " + std::to_string(value) +
                           ": a stack of signed pixels must have no negative one.");
      }
  return ok();
}

Status check_window(const StackInfo& info, std::uint64_t f0, std::uint64_t n, std::uint64_t p0, std::uint64_t count,
                    std::uint64_t stride, bool wide) {
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
  return ok();
}

}  // namespace

static Status read_range(Hdf5Stack::Handles& h, const StackInfo& info, std::uint64_t f0, std::uint64_t n,
                         std::uint64_t p0, std::uint64_t count, void* dst, std::uint64_t stride, bool wide) {
  if (Status s = check_window(info, f0, n, p0, count, stride, wide); !s) return s;
  if (n == 0 || count == 0) return ok();
  if (stride == 0) stride = count;
  if (h.raw.in) return read_in_place(h, f0, n, p0, count, dst, stride, wide);
  if (!h.chunks.empty()) {
    // A signed stack's values decoded as they are stored, checked as the
    // library's are below.
    const Status s = read_decoded(h, info, f0, n, p0, count, dst, stride, wide);
    if (!s || !info.isSigned) return s;
    return check_signs(info, static_cast<const std::uint32_t*>(dst), f0, n, p0, count, stride);
  }
  Lock lock;
  const hid_t memType = info.isSigned ? H5T_NATIVE_INT32 : wide ? H5T_NATIVE_UINT32 : H5T_NATIVE_UINT16;
  const std::size_t width = wide ? 4 : 2;
  for (std::size_t i = 0; i < h.members.size(); ++i) {
    const Hdf5Member& m = h.members[i];
    const std::uint64_t from = std::max(f0, m.first), to = std::min(f0 + n, m.first + m.frames);
    if (from >= to) continue;
    Part part{};
    bool read = member_part(h, i, &part);
    if (read) {
      part.f0 = from - m.first, part.n = to - from;
      char* base = static_cast<char*>(dst) + (from - f0) * stride * width;
      read = read_part(part, memType, width, info.columns, p0, count, base, stride);
    }
    if (!read)
      return input_error(where(info.file, h.members.size() > 1 ? m.path : info.dataset) + "could not read frames " +
                         std::to_string(from) + " to " + std::to_string(to - 1) + ": " + hdf5_says() + ".");
  }
  if (info.isSigned) return check_signs(info, static_cast<const std::uint32_t*>(dst), f0, n, p0, count, stride);
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

#endif
