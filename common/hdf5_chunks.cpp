// An HDF5 dataset's frames read where they lie in its file, without the
// library: an unfiltered dataset stores each frame's pixels one after
// another, contiguous in the file or in chunks of whole frames, so a band
// of pixels of frame f is one pread at the frame's first byte plus the
// band's offset, as in a detector frame file.
#include "hdf5_stack.hpp"

#ifdef HEDM_HAVE_HDF5

#include <cstdlib>
#include <cstring>

#include "hdf5_detail.hpp"

namespace hedm {
namespace hdf5_detail {

bool through_library() {
  const char* v = std::getenv("HEDM_HDF5_THROUGH_LIBRARY");
  return v && *v && std::strcmp(v, "0") != 0;
}

bool stored_as_read(hid_t dset) {
  Id type(H5Dget_type(dset), H5Tclose);
  if (!type || H5Tget_order(type.get()) != H5T_ORDER_LE) return false;
  Id file(H5Iget_file_id(dset), H5Fclose);
  Id fcpl(file ? H5Fget_create_plist(file.get()) : H5I_INVALID_HID, H5Pclose);
  hsize_t userBlock = 1;
  return fcpl && H5Pget_userblock(fcpl.get(), &userBlock) >= 0 && userBlock == 0;
}

namespace {

// Frame f's first byte in a dataset chunked in whole frames (k frames a
// chunk): each chunk's address, asked of the library.  Empty where a chunk
// was never written or is not whole.
std::vector<std::uint64_t> chunk_starts(const Hdf5Stack::Handles& h, const StackInfo& info) {
  const std::uint64_t k = info.chunk[0], frameBytes = info.pixels() * info.pixelBytes;
  if (!hdf5_reads_chunks_raw() || info.chunk[1] != info.rows || info.chunk[2] != info.columns || k == 0)
    return {};
  std::vector<std::uint64_t> starts(info.frames);
  const bool flat = h.members[0].rank == 2;
  for (std::uint64_t f0 = 0; f0 < info.frames; f0 += k) {
    const hsize_t coord[3] = {f0, 0, 0};
    unsigned mask = 0;
    haddr_t addr = HADDR_UNDEF;
    hsize_t size = 0;
    if (H5Dget_chunk_info_by_coord(h.dset.get(), flat ? coord + 1 : coord, &mask, &addr, &size) < 0 ||
        addr == HADDR_UNDEF || size != k * frameBytes) {
      H5Eclear2(H5E_DEFAULT);
      return {};
    }
    for (std::uint64_t f = f0; f < std::min(f0 + k, info.frames); ++f) starts[f] = addr + (f - f0) * frameBytes;
  }
  return starts;
}

}  // namespace

void find_frames_in_place(Hdf5Stack::Handles& h, const StackInfo& info) {
  // A dataset of its own (not a series), unfiltered unsigned pixels: the
  // median reads them where they lie, with no check of their sign.
  if (through_library() || info.frames == 0 || info.isSigned || !info.filters.empty() || h.members.size() != 1 ||
      !stored_as_read(h.dset.get()))
    return;
  const std::uint64_t frameBytes = info.pixels() * info.pixelBytes;
  FramesInFile frames{0, info.frames, static_cast<std::size_t>(info.pixels()), info.pixelBytes, {}};
  if (info.chunk.empty()) {
    const haddr_t addr = H5Dget_offset(h.dset.get());
    if (addr == HADDR_UNDEF) {
      H5Eclear2(H5E_DEFAULT);
      return;
    }
    frames.first = addr;
  } else {
    frames.starts = chunk_starts(h, info);
    if (frames.starts.empty()) return;
  }
  // The file the dataset lies in (an external link's target, say), and
  // every frame within it: else the library reads, and says what is wrong.
  if (!h.in.open(file_of(h.dset.get()))) return;
  for (std::uint64_t f = 0; f < info.frames; ++f)
    if (frames.offset(f, 0) + frameBytes > h.in.size()) return;
  h.raw = RawFrames{&h.in, std::move(frames)};
}

Status read_in_place(Hdf5Stack::Handles& h, std::uint64_t f0, std::uint64_t n, std::uint64_t p0,
                     std::uint64_t count, void* dst, std::uint64_t stride, bool wide) {
  const FramesInFile& frames = h.raw.frames;
  const unsigned width = wide ? 4 : 2;
  std::vector<std::uint16_t> part;
  if (wide && frames.pixelBytes == 2) part.resize(std::min<std::uint64_t>(count, std::uint64_t{1} << 19));
  for (std::uint64_t i = 0; i < n; ++i) {
    char* to = static_cast<char*>(dst) + i * stride * width;
    if (part.empty()) {  // the stored width
      if (Status s = h.in.read_at(to, count * width, frames.offset(f0 + i, p0)); !s) return s;
      continue;
    }
    auto* wideTo = reinterpret_cast<std::uint32_t*>(to);
    for (std::uint64_t k = 0; k < count; k += part.size()) {  // 16-bit pixels widened
      const std::uint64_t m = std::min<std::uint64_t>(part.size(), count - k);
      if (Status s = h.in.read_at(part.data(), m * 2, frames.offset(f0 + i, p0 + k)); !s) return s;
      std::copy(part.begin(), part.begin() + static_cast<std::ptrdiff_t>(m), wideTo + k);
    }
  }
  return ok();
}

}  // namespace hdf5_detail

const RawFrames* Hdf5Stack::raw_frames() const { return h_->raw.in ? &h_->raw : nullptr; }

}  // namespace hedm

#endif
