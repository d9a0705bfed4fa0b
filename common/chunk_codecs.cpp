// Chunk decoders, from the formats the filters write.
#include "chunk_codecs.hpp"

#include <cstring>
#include <memory>

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

// Bitshuffle with LZ4: the decoded size (8 bytes) and the block size in
// bytes (4), big-endian; then blocks of whole groups of 8 elements, each
// its stored size (4) and an LZ4 block of bit-transposed elements; the
// elements past the last group of 8 as they are.
bool bitshuffle_filter(unsigned e, const std::vector<unsigned char>& in, std::vector<unsigned char>& out,
                       std::string* why) {
  if (in.size() < 12) return *why = "shorter than its header", false;
  const std::uint64_t total = big_endian(in.data(), 8), blockBytes = big_endian(in.data() + 8, 4);
  const std::uint64_t block = blockBytes / e, elements = total / e;
  if (block == 0 || block % 8 != 0 || total % e != 0 || total > (std::uint64_t{1} << 40))
    return *why = "its header is corrupt", false;
  out.resize(total);
  std::vector<unsigned char> transposed(block * e);
  std::size_t at = 12;
  std::uint64_t done = 0;  // elements
  for (; elements - done >= 8; ) {
    const std::uint64_t n = std::min(block, (elements - done) / 8 * 8);
    if (in.size() - at < 4) return *why = "it ends early", false;
    const std::uint64_t stored = big_endian(in.data() + at, 4);
    at += 4;
    if (stored > in.size() - at || !lz4_block(in.data() + at, stored, transposed.data(), n * e))
      return *why = "an LZ4 block is corrupt", false;
    bit_untranspose(transposed.data(), out.data() + done * e, n, e);
    at += stored, done += n;
  }
  const std::size_t rest = (elements - done) * e;
  if (in.size() - at < rest) return *why = "it ends early", false;
  std::memcpy(out.data() + done * e, in.data() + at, rest);
  return true;
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

void bit_untranspose(const unsigned char* in, unsigned char* out, std::size_t n, unsigned e) {
  const std::size_t row = n / 8;  // bytes a row of bits
  for (std::size_t g = 0; g < row; ++g)
    for (unsigned j = 0; j < e; ++j) {
      // Rows 8j .. 8j + 7 at byte g: bit t of byte b is bit b of byte j of
      // element 8g + t; an 8 x 8 transpose of the bits makes it bit b of
      // byte t.
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
