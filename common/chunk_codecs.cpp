// Chunk decoders, from the formats the filters write.
#include "chunk_codecs.hpp"

#include <cstring>
#include <memory>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#ifdef HEDM_HAVE_LZ4
#include <lz4.h>
#endif
#ifdef HEDM_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace hedm {

namespace {

// The byte shuffle undone: byte j of every element lies in the j-th run of
// n bytes; bytes past the last whole element stay where they are.
void unshuffle(const unsigned char* in, unsigned char* out, std::size_t size, unsigned e) {
  const std::size_t n = size / e;
  for (unsigned j = 0; j < e; ++j)
    for (std::size_t i = 0; i < n; ++i) out[i * e + j] = in[j * n + i];
  std::memcpy(out + n * e, in + n * e, size - n * e);
}

#ifdef HEDM_HAVE_LZ4
std::uint64_t big_endian(const unsigned char* p, unsigned bytes) {
  std::uint64_t v = 0;
  for (unsigned i = 0; i < bytes; ++i) v = v << 8 | p[i];
  return v;
}

// One LZ4 block of exactly `size` decoded bytes.
bool lz4_block(const unsigned char* in, std::size_t inSize, unsigned char* out, std::size_t size) {
  if (inSize > 0x7fffffff || size > 0x7fffffff) return false;
  const int got = LZ4_decompress_safe(reinterpret_cast<const char*>(in), reinterpret_cast<char*>(out),
                                      static_cast<int>(inSize), static_cast<int>(size));
  return got >= 0 && static_cast<std::size_t>(got) == size;
}

// The LZ4 filter: the decoded size (8 bytes) and block size (4), big-endian,
// then each block's stored size (4) and its bytes, LZ4 or, where they take
// the block's decoded size, as they are.
bool lz4_filter(const std::vector<unsigned char>& in, std::vector<unsigned char>& out, std::string* why) {
  if (in.size() < 12) return *why = "shorter than its header", false;
  const std::uint64_t total = big_endian(in.data(), 8), block = big_endian(in.data() + 8, 4);
  if (block == 0 || total > (std::uint64_t{1} << 40)) return *why = "its header is corrupt", false;
  out.resize(total);
  std::size_t at = 12;
  for (std::uint64_t done = 0; done < total;) {
    const std::uint64_t size = std::min(block, total - done);
    if (in.size() - at < 4) return *why = "it ends early", false;
    const std::uint64_t stored = big_endian(in.data() + at, 4);
    at += 4;
    if (stored > in.size() - at) return *why = "it ends early", false;
    if (stored == size) std::memcpy(out.data() + done, in.data() + at, size);
    else if (!lz4_block(in.data() + at, stored, out.data() + done, size)) return *why = "an LZ4 block is corrupt", false;
    at += stored, done += size;
  }
  return true;
}

// Bitshuffle with LZ4, the whole chunk.
bool bitshuffle_filter(unsigned e, const std::vector<unsigned char>& in, std::vector<unsigned char>& out,
                       std::string* why) {
  BitshuffleBlocks index;
  if (!index_bitshuffle(in.data(), in.size(), e, &index, why)) return false;
  out.resize(index.elements * e);
  return decode_bitshuffle(index, e, in.data() + index.first_byte(0, e), 0, index.elements, out.data(), why);
}
#endif

#ifdef HEDM_HAVE_LIBDEFLATE
bool inflate(const std::vector<unsigned char>& in, std::size_t expected, std::vector<unsigned char>& out,
             std::string* why) {
  struct Free {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
  };
  thread_local std::unique_ptr<libdeflate_decompressor, Free> d(libdeflate_alloc_decompressor());
  if (!d) return *why = "no memory for its decoder", false;
  out.resize(expected);
  std::size_t got = 0;
  if (libdeflate_zlib_decompress(d.get(), in.data(), in.size(), out.data(), out.size(), &got) != LIBDEFLATE_SUCCESS)
    return *why = "its deflate stream is corrupt", false;
  out.resize(got);
  return true;
}
#endif

}  // namespace

bool chunk_filter_available(int id) {
  switch (id) {
    case kShuffle: return true;
#ifdef HEDM_HAVE_LIBDEFLATE
    case kDeflate: return true;
#endif
#ifdef HEDM_HAVE_LZ4
    case kLz4:
    case kBitshuffle: return true;
#endif
    default: return false;
  }
}

namespace {

// Rows 8j .. 8j + 7 at bytes g .. end - 1 undone, one byte g at a time:
// bit t of byte b is bit b of byte j of element 8g + t, so an 8 x 8
// transpose of the bits makes it bit b of byte t.
void untranspose_scalar(const unsigned char* in, unsigned char* out, std::size_t row, unsigned e, std::size_t g0) {
  for (std::size_t g = g0; g < row; ++g)
    for (unsigned j = 0; j < e; ++j) {
      std::uint64_t x = 0;
      for (unsigned b = 0; b < 8; ++b) x |= std::uint64_t{in[(8 * j + b) * row + g]} << (8 * b);
      std::uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAull;
      x ^= t ^ (t << 7);
      t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCull;
      x ^= t ^ (t << 14);
      t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ull;
      x ^= t ^ (t << 28);
      for (unsigned k = 0; k < 8; ++k) out[(8 * g + k) * e + j] = static_cast<unsigned char>(x >> (8 * k));
    }
}

#ifdef __SSE2__
// The same 8 x 8 bit transpose on both 64-bit halves of a vector.
inline __m128i transpose_bits(__m128i x) {
  auto swap = [&x](int shift, long long mask) {
    const __m128i t = _mm_and_si128(_mm_xor_si128(x, _mm_srli_epi64(x, shift)), _mm_set1_epi64x(mask));
    x = _mm_xor_si128(x, _mm_xor_si128(t, _mm_slli_epi64(t, shift)));
  };
  swap(7, 0x00AA00AA00AA00AAll);
  swap(14, 0x0000CCCC0000CCCCll);
  swap(28, 0x00000000F0F0F0F0ll);
  return x;
}

// Rows 8j .. 8j + 7 at bytes g .. g + 15 as eight vectors, vector h's
// halves the bytes g + 2h and g + 2h + 1 of the eight rows (byte b of a
// half from row 8j + b), each half's bits then transposed: half h's byte k
// is byte j of element 8(g + h) + k.
inline void gather_rows(const unsigned char* in, std::size_t row, unsigned j, std::size_t g, __m128i v[8]) {
  __m128i r[8];
  for (unsigned b = 0; b < 8; ++b)
    r[b] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + (8 * j + b) * row + g));
  __m128i p[8], q[8];
  for (unsigned b = 0; b < 4; ++b) {  // bytes of rows 2b, 2b + 1 side by side
    p[2 * b] = _mm_unpacklo_epi8(r[2 * b], r[2 * b + 1]);
    p[2 * b + 1] = _mm_unpackhi_epi8(r[2 * b], r[2 * b + 1]);
  }
  for (unsigned b = 0; b < 2; ++b)  // of rows 4b .. 4b + 3
    for (unsigned s = 0; s < 2; ++s) {
      q[4 * b + 2 * s] = _mm_unpacklo_epi16(p[4 * b + s], p[4 * b + 2 + s]);
      q[4 * b + 2 * s + 1] = _mm_unpackhi_epi16(p[4 * b + s], p[4 * b + 2 + s]);
    }
  for (unsigned s = 0; s < 4; ++s) {  // of all eight rows
    v[2 * s] = transpose_bits(_mm_unpacklo_epi32(q[s], q[4 + s]));
    v[2 * s + 1] = transpose_bits(_mm_unpackhi_epi32(q[s], q[4 + s]));
  }
}

// Elements of 2 or 4 bytes, 128 at a time (16 bytes of each row): each
// byte's vectors interleaved into whole elements.  Bytes past the last 16
// are left to the scalar loop; returns where it stopped.
std::size_t untranspose_sse2(const unsigned char* in, unsigned char* out, std::size_t row, unsigned e) {
  std::size_t g = 0;
  for (; g + 16 <= row; g += 16) {
    __m128i v[4][8];
    for (unsigned j = 0; j < e; ++j) gather_rows(in, row, j, g, v[j]);
    auto* to = reinterpret_cast<__m128i*>(out + 8 * g * e);
    for (unsigned h = 0; h < 8; ++h) {  // elements 8(g + 2h) .. 8(g + 2h) + 15
      if (e == 2) {
        _mm_storeu_si128(to + 2 * h, _mm_unpacklo_epi8(v[0][h], v[1][h]));
        _mm_storeu_si128(to + 2 * h + 1, _mm_unpackhi_epi8(v[0][h], v[1][h]));
        continue;
      }
      const __m128i lo01 = _mm_unpacklo_epi8(v[0][h], v[1][h]), hi01 = _mm_unpackhi_epi8(v[0][h], v[1][h]);
      const __m128i lo23 = _mm_unpacklo_epi8(v[2][h], v[3][h]), hi23 = _mm_unpackhi_epi8(v[2][h], v[3][h]);
      _mm_storeu_si128(to + 4 * h, _mm_unpacklo_epi16(lo01, lo23));
      _mm_storeu_si128(to + 4 * h + 1, _mm_unpackhi_epi16(lo01, lo23));
      _mm_storeu_si128(to + 4 * h + 2, _mm_unpacklo_epi16(hi01, hi23));
      _mm_storeu_si128(to + 4 * h + 3, _mm_unpackhi_epi16(hi01, hi23));
    }
  }
  return g;
}
#endif

}  // namespace

void bit_untranspose(const unsigned char* in, unsigned char* out, std::size_t n, unsigned e) {
  const std::size_t row = n / 8;  // bytes a row of bits
  std::size_t done = 0;
#ifdef __SSE2__
  if (e == 2 || e == 4) done = untranspose_sse2(in, out, row, e);
#endif
  untranspose_scalar(in, out, row, e, done);
}

#ifdef HEDM_HAVE_LZ4
// The header: the decoded size (8 bytes) and the block size in bytes (4),
// big-endian; then blocks of whole groups of 8 elements, each its stored
// size (4) and an LZ4 block of bit-transposed elements; the elements past
// the last group of 8 as they are.
bool index_bitshuffle(const unsigned char* in, std::size_t size, unsigned e, BitshuffleBlocks* index,
                      std::string* why) {
  if (size < 12) return *why = "shorter than its header", false;
  const std::uint64_t total = big_endian(in, 8), block = bitshuffle_block_pixels(in, e);
  if (block == 0 || block % 8 != 0 || total % e != 0 || total > (std::uint64_t{1} << 40) || size > 0xffffffffu)
    return *why = "its header is corrupt", false;
  index->elements = total / e, index->block = block;
  index->at.clear();
  const std::uint64_t grouped = index->elements / 8 * 8;
  std::size_t at = 12;
  for (std::uint64_t done = 0; done < grouped; done += block) {
    if (size - at < 4) return *why = "it ends early", false;
    const std::uint64_t stored = big_endian(in + at, 4);
    if (stored > size - at - 4) return *why = "it ends early", false;
    index->at.push_back(static_cast<std::uint32_t>(at));
    at += 4 + stored;
  }
  index->at.push_back(static_cast<std::uint32_t>(at));
  if (size - at < (index->elements - grouped) * e) return *why = "it ends early", false;
  return true;
}

bool decode_bitshuffle(const BitshuffleBlocks& index, unsigned e, const unsigned char* in, std::uint64_t lo,
                       std::uint64_t hi, unsigned char* out, std::string* why) {
  const std::uint64_t grouped = index.elements / 8 * 8, base = index.first_byte(lo, e);
  thread_local std::vector<unsigned char> transposed, part;
  for (std::uint64_t b = lo / index.block; lo < grouped && b < index.blocks() && b * index.block < hi; ++b) {
    const std::uint64_t e0 = b * index.block, n = std::min(index.block, grouped - e0);
    const unsigned char* header = in + (index.at[b] - base);
    transposed.resize(n * e);
    // The stored size as indexed: the bytes in hand were read to that end.
    if (!lz4_block(header + 4, index.at[b + 1] - index.at[b] - 4, transposed.data(), n * e))
      return *why = "an LZ4 block is corrupt", false;
    // A block wholly wanted is undone where it goes; one cut by lo or hi
    // aside, and its wanted part copied.
    const std::uint64_t from = std::max(lo, e0), to = std::min(hi, e0 + n);
    if (from == e0 && to == e0 + n) {
      bit_untranspose(transposed.data(), out + (e0 - lo) * e, n, e);
      continue;
    }
    part.resize(n * e);
    bit_untranspose(transposed.data(), part.data(), n, e);
    std::memcpy(out + (from - lo) * e, part.data() + (from - e0) * e, (to - from) * e);
  }
  if (hi > grouped) {
    const std::uint64_t from = std::max(lo, grouped);
    std::memcpy(out + (from - lo) * e, in + (index.at.back() + (from - grouped) * e - base), (hi - from) * e);
  }
  return true;
}
#else
bool index_bitshuffle(const unsigned char*, std::size_t, unsigned, BitshuffleBlocks*, std::string* why) {
  return *why = "bitshuffle is not decoded here", false;
}
bool decode_bitshuffle(const BitshuffleBlocks&, unsigned, const unsigned char*, std::uint64_t, std::uint64_t,
                       unsigned char*, std::string* why) {
  return *why = "bitshuffle is not decoded here", false;
}
#endif

std::uint64_t bitshuffle_block_pixels(const unsigned char* header, unsigned e) {
  std::uint64_t bytes = 0;
  for (unsigned i = 8; i < 12; ++i) bytes = bytes << 8 | header[i];
  return bytes / e;
}

std::uint64_t BitshuffleBlocks::first_byte(std::uint64_t lo, unsigned e) const {
  const std::uint64_t grouped = elements / 8 * 8;
  return lo < grouped ? at[lo / block] : at.back() + (lo - grouped) * e;
}

std::uint64_t BitshuffleBlocks::end_byte(std::uint64_t hi, unsigned e) const {
  const std::uint64_t grouped = elements / 8 * 8;
  if (hi > grouped) return at.back() + (hi - grouped) * e;
  return at[(hi + block - 1) / block];
}

bool undo_filter(int id, unsigned e, const std::vector<unsigned char>& in, std::size_t expected,
                 std::vector<unsigned char>& out, std::string* why) {
  switch (id) {
    case kShuffle:
      out.resize(in.size());
      unshuffle(in.data(), out.data(), in.size(), e);
      return true;
#ifdef HEDM_HAVE_LIBDEFLATE
    case kDeflate: return inflate(in, expected, out, why);
#endif
#ifdef HEDM_HAVE_LZ4
    case kLz4: return lz4_filter(in, out, why);
    case kBitshuffle: return bitshuffle_filter(e, in, out, why);
#endif
    default:
      (void)expected;
      *why = "filter " + std::to_string(id) + " is not decoded here";
      return false;
  }
}

}  // namespace hedm
