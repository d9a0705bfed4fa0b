// An HDF5 stack's compressed chunks (a dataset's, or every member's of a
// series) read and decoded without the library: each chunk's place and
// stored size asked of the library once, when the stack is opened; then its
// bytes read with pread and decoded by this process's own decoders
// (chunk_codecs.hpp), on whichever thread asks, many at once, where the
// library would decode them one at a time under its lock.
#include "hdf5_stack.hpp"

#ifdef HEDM_HAVE_HDF5

#include <algorithm>
#include <cstring>

#include "chunk_codecs.hpp"
#include "hdf5_detail.hpp"

namespace hedm {
namespace hdf5_detail {

namespace {

// The filters in pipeline order, when every one is decoded here: bitshuffle
// only with LZ4 (its fifth value 2), as detectors write it.
bool decodable_filters(hid_t dcpl, std::vector<int>* ids) {
  const int n = H5Pget_nfilters(dcpl);
  for (int i = 0; i < n; ++i) {
    unsigned flags = 0, config = 0, values[8] = {};
    std::size_t nValues = 8;
    char name[64] = "";
    const H5Z_filter_t id =
        H5Pget_filter2(dcpl, static_cast<unsigned>(i), &flags, &nValues, values, sizeof name, name, &config);
    if (id < 0 || !chunk_filter_available(static_cast<int>(id))) return false;
    if (id == kBitshuffle && (nValues < 5 || values[4] != 2)) return false;
    ids->push_back(static_cast<int>(id));
  }
  return n > 0;
}

// Every chunk's place and stored size, in the order (frames, rows, columns)
// of chunk coordinates; false where one was never written.
bool locate_chunks(hid_t dset, bool flat, ChunkTable& t) {
  const std::uint64_t count = t.groups * t.down * t.across;
  if (count > (std::uint64_t{1} << 22)) return false;  // too many to list: the library reads them
  t.address.resize(count), t.size.resize(count), t.mask.resize(count);
  std::uint64_t i = 0;
  for (std::uint64_t g = 0; g < t.groups; ++g)
    for (std::uint64_t r = 0; r < t.down; ++r)
      for (std::uint64_t c = 0; c < t.across; ++c, ++i) {
        const hsize_t coord[3] = {g * t.dims[0], r * t.dims[1], c * t.dims[2]};
        haddr_t addr = HADDR_UNDEF;
        hsize_t size = 0;
        if (H5Dget_chunk_info_by_coord(dset, flat ? coord + 1 : coord, &t.mask[i], &addr, &size) < 0 ||
            addr == HADDR_UNDEF) {
          H5Eclear2(H5E_DEFAULT);
          return false;
        }
        t.address[i] = addr, t.size[i] = size;
      }
  return true;
}

// Whether the first chunk's bitshuffle blocks are small enough for bands
// to decode their own: at most 16384 pixels (a band reads at most two
// more blocks than it wants, of each frame).  Detectors and h5py write
// blocks of 8 KiB, 4096 16-bit pixels; a writer that made each chunk one
// block would have every band decode whole frames, and such a stack is
// decoded once instead.
bool small_blocks(ChunkTable& t, unsigned e) {
  unsigned char header[12];
  if (t.size[0] < sizeof header || !t.in.read_at(header, sizeof header, t.address[0])) return false;
  return bitshuffle_block_pixels(header, e) <= 16384;
}

// Member m's chunks listed in t, where this process decodes every one of
// its filters and reads its chunks where they lie; false otherwise.
bool list_member(hid_t dset, const Hdf5Member& m, const StackInfo& info, ChunkTable& t) {
  Id dcpl(H5Dget_create_plist(dset), H5Pclose);
  hsize_t dims[3] = {1, 1, 1};
  if (!dcpl || !stored_as_read(dset) || !decodable_filters(dcpl.get(), &t.filters) ||
      H5Pget_chunk(dcpl.get(), m.rank, m.rank == 2 ? dims + 1 : dims) != m.rank) {
    H5Eclear2(H5E_DEFAULT);
    return false;
  }
  t.dims = {dims[0], dims[1], dims[2]};
  t.first = m.first, t.frames = m.frames, t.path = m.path;
  t.groups = (m.frames + t.dims[0] - 1) / t.dims[0];
  t.down = (info.rows + t.dims[1] - 1) / t.dims[1];
  t.across = (info.columns + t.dims[2] - 1) / t.dims[2];
  if (!locate_chunks(dset, m.rank == 2, t) || !t.in.open(file_of(dset))) return false;
  for (std::size_t i = 0; i < t.address.size(); ++i)
    if (t.address[i] + t.size[i] > t.in.size()) return false;  // a file cut short: the library says so
  t.byBlocks = t.filters == std::vector<int>{kBitshuffle} && small_blocks(t, info.pixelBytes);
  if (t.byBlocks) {
    t.blocks.resize(t.address.size()), t.unindexed.resize(t.address.size());
    t.indexed = std::make_unique<std::once_flag[]>(t.address.size());
  }
  return true;
}

}  // namespace

void find_chunks_to_decode(Hdf5Stack::Handles& h, const StackInfo& info) {
  if (through_library() || h.raw.in || info.chunk.empty() || info.filters.empty() || info.frames == 0 ||
      !hdf5_reads_chunks_raw())
    return;
  std::vector<std::unique_ptr<ChunkTable>> tables;
  for (std::size_t i = 0; i < h.members.size(); ++i) {
    Id member;  // a series' members beyond the first, open while they are listed
    if (i > 0) member = Id(H5Dopen2(h.file.get(), h.members[i].path.c_str(), h.access.get()), H5Dclose);
    const hid_t dset = i > 0 ? member.get() : h.dset.get();
    tables.push_back(std::make_unique<ChunkTable>());
    if (dset < 0 || !list_member(dset, h.members[i], info, *tables.back())) {
      H5Eclear2(H5E_DEFAULT);
      return;
    }
  }
  h.chunks = std::move(tables);
}

namespace {

// Chunk i read and decoded into `out` (its frames, rows and columns whole,
// as stored, pixels of `e` bytes); false with *why.
bool decode_chunk(ChunkTable& t, std::size_t i, unsigned e, std::vector<unsigned char>& out,
                  std::string* why) {
  thread_local std::vector<unsigned char> stored, a, b;
  stored.resize(t.size[i]);
  if (Status s = t.in.read_at(stored.data(), stored.size(), t.address[i]); !s) return *why = s.error().text, false;
  const std::size_t bytes = t.dims[0] * t.dims[1] * t.dims[2] * e;
  std::vector<unsigned char>* from = &stored;
  for (std::size_t k = t.filters.size(); k-- > 0;) {
    if (t.mask[i] & (1u << k)) continue;  // a filter the writer skipped on this chunk
    std::vector<unsigned char>& to = from == &a ? b : a;
    if (!undo_filter(t.filters[k], e, *from, bytes, to, why)) return false;
    from = &to;
  }
  out.swap(*from);
  if (out.size() != bytes) return *why = "it holds " + std::to_string(out.size()) + " bytes, not " + std::to_string(bytes), false;
  return true;
}

template <class To, class From>
void copy_pixels(const unsigned char* src, std::size_t n, To* dst) {
  From v;
  for (std::size_t k = 0; k < n; ++k) {
    std::memcpy(&v, src + k * sizeof(From), sizeof(From));
    dst[k] = static_cast<To>(v);
  }
}

// Chunk i's blocks, indexed by the first read that wants them; false with
// *why where its stored bytes cannot be read or do not hold together.
bool index_chunk(ChunkTable& t, std::size_t i, unsigned e, std::string* why) {
  std::call_once(t.indexed[i], [&] {
    std::vector<unsigned char> stored(t.size[i]);
    if (Status s = t.in.read_at(stored.data(), stored.size(), t.address[i]); !s) t.unindexed[i] = s.error().text;
    else if (std::string reason; !index_bitshuffle(stored.data(), stored.size(), e, &t.blocks[i], &reason))
      t.unindexed[i] = reason.empty() ? "its blocks do not hold together" : reason;
  });
  return t.unindexed[i].empty() || (*why = t.unindexed[i], false);
}

// Elements lo .. hi - 1 of chunk i (in its own order: frames, rows,
// columns) decoded into `out`: from the chunk's own blocks where it is
// indexed by blocks, else the whole chunk decoded, lo 0 and hi its end.
bool decode_part(ChunkTable& t, std::size_t i, unsigned e, std::uint64_t* lo, std::uint64_t* hi,
                 std::vector<unsigned char>& out, std::string* why) {
  const std::uint64_t whole = t.dims[0] * t.dims[1] * t.dims[2];
  if (!t.byBlocks || (*lo == 0 && *hi == whole)) {
    *lo = 0, *hi = whole;
    return decode_chunk(t, i, e, out, why);
  }
  if (!index_chunk(t, i, e, why)) return false;
  const BitshuffleBlocks& index = t.blocks[i];
  if (index.elements != whole) return *why = "it holds " + std::to_string(index.elements * e) + " bytes, not " +
                                             std::to_string(whole * e), false;
  thread_local std::vector<unsigned char> stored;
  const std::uint64_t first = index.first_byte(*lo, e);
  stored.resize(index.end_byte(*hi, e) - first);
  if (Status s = t.in.read_at(stored.data(), stored.size(), t.address[i] + first); !s)
    return *why = s.error().text, false;
  out.resize((*hi - *lo) * e);
  return decode_bitshuffle(index, e, stored.data(), *lo, *hi, out.data(), why);
}

// Chunk (g, rc, cc) of t refused, naming its frames in the stack's
// numbering, and the member of a series it lies in.
Error undecodable(const StackInfo& info, bool series, std::uint64_t g, std::uint64_t rc, std::uint64_t cc,
                  const ChunkTable& t, const std::string& why) {
  const std::uint64_t a = t.first + g * t.dims[0], b = std::min(t.first + t.frames, a + t.dims[0]) - 1;
  return Error{ErrorKind::Input, where(info.file, series ? t.path : info.dataset) +
                                     (a == b ? "frame " + std::to_string(a)
                                             : "frames " + std::to_string(a) + " to " + std::to_string(b)) +
                                     " could not be decoded (the chunk at row " + std::to_string(rc * t.dims[1]) +
                                     ", column " + std::to_string(cc * t.dims[2]) + "): " + why + "."};
}

// Frames f0 .. f0 + n - 1 of one dataset (in its own numbering), as
// read_decoded.
Status read_table(ChunkTable& t, const StackInfo& info, bool series, std::uint64_t f0, std::uint64_t n,
                  std::uint64_t p0, std::uint64_t count, void* dst, std::uint64_t stride, bool wide) {
  const std::uint64_t C = info.columns, K = t.dims[0], R = t.dims[1], W = t.dims[2];
  const std::uint64_t r0 = p0 / C, r1 = (p0 + count - 1) / C, end = p0 + count;
  const unsigned e = info.pixelBytes;
  thread_local std::vector<unsigned char> chunk;
  for (std::uint64_t g = f0 / K; g <= (f0 + n - 1) / K; ++g)
    for (std::uint64_t rc = r0 / R; rc <= r1 / R; ++rc)
      for (std::uint64_t cc = 0; cc < t.across; ++cc) {
        const std::size_t i = static_cast<std::size_t>((g * t.down + rc) * t.across + cc);
        // The frames and rows of the chunk wanted, and the run of its
        // elements from the first of them to the last.
        const std::uint64_t fa = std::max(f0, g * K), fb = std::min(f0 + n, g * K + K);
        const std::uint64_t ra = std::max(r0, rc * R), rb = std::min({r1, rc * R + R - 1, info.rows - 1});
        std::uint64_t lo = ((fa - g * K) * R + (ra - rc * R)) * W, hi = ((fb - 1 - g * K) * R + (rb - rc * R) + 1) * W;
        if (std::string why; !decode_part(t, i, e, &lo, &hi, chunk, &why))
          return undecodable(info, series, g, rc, cc, t, why);
        for (std::uint64_t f = fa; f < fb; ++f)
          for (std::uint64_t r = ra; r <= rb; ++r) {
            const std::uint64_t from = std::max(p0, r * C + cc * W), to = std::min(end, r * C + std::min(C, cc * W + W));
            if (from >= to) continue;
            const std::uint64_t element = ((f - g * K) * R + (r - rc * R)) * W + (from - r * C - cc * W);
            const unsigned char* src = chunk.data() + (element - lo) * e;
            const std::uint64_t at = (f - f0) * stride + (from - p0);
            if (!wide) copy_pixels<std::uint16_t, std::uint16_t>(src, to - from, static_cast<std::uint16_t*>(dst) + at);
            else if (e == 2) copy_pixels<std::uint32_t, std::uint16_t>(src, to - from, static_cast<std::uint32_t*>(dst) + at);
            else copy_pixels<std::uint32_t, std::uint32_t>(src, to - from, static_cast<std::uint32_t*>(dst) + at);
          }
      }
  return ok();
}

}  // namespace

Status read_decoded(Hdf5Stack::Handles& h, const StackInfo& info, std::uint64_t f0, std::uint64_t n,
                    std::uint64_t p0, std::uint64_t count, void* dst, std::uint64_t stride, bool wide) {
  const bool series = h.chunks.size() > 1;
  const std::uint64_t width = wide ? 4 : 2;
  for (const std::unique_ptr<ChunkTable>& t : h.chunks) {
    const std::uint64_t from = std::max(f0, t->first), to = std::min(f0 + n, t->first + t->frames);
    if (from >= to) continue;
    void* at = static_cast<char*>(dst) + (from - f0) * stride * width;
    if (Status s = read_table(*t, info, series, from - t->first, to - from, p0, count, at, stride, wide); !s)
      return s;
  }
  return ok();
}

}  // namespace hdf5_detail

bool Hdf5Stack::reads_bands() const {
  return !h_->chunks.empty() &&
         std::all_of(h_->chunks.begin(), h_->chunks.end(), [](const auto& t) { return t->byBlocks; });
}
bool Hdf5Stack::reads_in_parallel() const { return h_->raw.in || !h_->chunks.empty(); }
std::uint64_t Hdf5Stack::frames_per_read() const { return h_->chunks.empty() ? 1 : h_->chunks[0]->dims[0]; }

}  // namespace hedm

#endif
