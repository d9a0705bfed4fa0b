// The chunk decoders on their own: the bit transpose, and stored bytes
// that do not decode.  Their agreement with the HDF5 library on real files
// is in hdf5_stack_test.cpp and hdf5_median_test.py.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "chunk_codecs.hpp"

namespace {

using Bytes = std::vector<unsigned char>;

// n elements of e bytes bit-transposed as bitshuffle stores a block
// (element i's bit b of byte j at bit i % 8 of byte i / 8 of row 8j + b).
Bytes transpose(const unsigned char* elements, std::size_t n, unsigned e) {
  Bytes rows(n * e, 0);
  for (std::size_t i = 0; i < n; ++i)
    for (unsigned j = 0; j < e; ++j)
      for (unsigned b = 0; b < 8; ++b)
        if (elements[i * e + j] >> b & 1) rows[(8 * j + b) * (n / 8) + i / 8] |= static_cast<unsigned char>(1u << (i % 8));
  return rows;
}

Bytes noise(std::size_t n) {
  Bytes v(n);
  std::uint32_t x = 12345;
  for (unsigned char& c : v) c = static_cast<unsigned char>((x = x * 1103515245u + 12345u) >> 23);
  return v;
}

void put_big_endian(Bytes& to, std::uint64_t v, unsigned bytes) {
  for (unsigned i = bytes; i-- > 0;) to.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

}  // namespace

// The bit transpose undone on blocks transposed by hand.
TEST(ChunkCodecs, UndoesTheBitTranspose) {
  // Blocks of a few elements, of whole vectors' worth (128) and more, with
  // a part vector's worth after them.
  for (const unsigned e : {1u, 2u, 4u, 8u})
    for (const std::size_t n : {64u, 128u, 4096u, 3 * 128u + 40u}) {
      const Bytes elements = noise(n * e), rows = transpose(elements.data(), n, e);
      Bytes back(n * e);
      hedm::bit_untranspose(rows.data(), back.data(), n, e);
      EXPECT_EQ(back, elements) << n << " elements of " << e << " bytes";
    }
}

// Stored bytes that are cut short or lie about their sizes are refused with
// a reason, never read past (AddressSanitizer watches).
TEST(ChunkCodecs, RefusesCorruptChunks) {
#define HEADER 0, 0, 0, 0, 0, 0, 0, 32, 0, 0, 0, 16  // 32 bytes decoded, blocks of 16
  struct Case {
    int filter;
    Bytes in;
    const char* why;
  };
  const Case cases[] = {
      {hedm::kLz4, {0, 0, 0}, "shorter than its header"},
      {hedm::kLz4, {HEADER}, "it ends early"},
      {hedm::kLz4, {HEADER, 0, 0, 1, 0, 9, 9}, "it ends early"},
      {hedm::kLz4, {HEADER, 0, 0, 0, 3, 0xff, 0xff, 0xff}, "an LZ4 block is corrupt"},
      {hedm::kBitshuffle, {HEADER, 0, 0, 0, 200}, "it ends early"},
      {hedm::kBitshuffle, {HEADER, 0, 0, 0, 3, 0xff, 0xff, 0xff, 0, 0, 0, 0}, "an LZ4 block is corrupt"},
      {hedm::kBitshuffle, {0, 0, 0, 0, 0, 0, 0, 32, 0, 0, 0, 6}, "its header is corrupt"},
      {hedm::kDeflate, {0x78, 0x9c, 1, 2, 3}, "its deflate stream is corrupt"},
  };
#undef HEADER
  for (const Case& c : cases) {
    if (!hedm::chunk_filter_available(c.filter)) continue;
    Bytes out;
    std::string why;
    EXPECT_FALSE(hedm::undo_filter(c.filter, 2, c.in, 32, out, &why)) << c.filter;
    EXPECT_EQ(why, c.why) << c.filter;
  }
}

// Any run of a bitshuffle chunk's elements decoded from its own blocks is
// that run of the whole chunk: runs within a block, across blocks, into
// the last, shorter block and into the elements stored as they are.  The
// blocks are LZ4 blocks of literals only, which every decoder reads.
TEST(ChunkCodecs, DecodesAnyRunOfABitshuffleChunk) {
  if (!hedm::chunk_filter_available(hedm::kBitshuffle)) GTEST_SKIP() << "built without liblz4";
  const unsigned e = 2;
  const std::uint64_t n = 1003, block = 64;  // 15 blocks of 64, one of 40, 3 elements as they are
  const Bytes elements = noise(n * e);
  Bytes chunk;
  put_big_endian(chunk, n * e, 8);
  put_big_endian(chunk, block * e, 4);
  for (std::uint64_t e0 = 0; e0 < n / 8 * 8; e0 += block) {
    const std::uint64_t m = std::min(block, n / 8 * 8 - e0), bytes = m * e;
    const Bytes rows = transpose(elements.data() + e0 * e, m, e);
    Bytes lz4;  // a token of 15 literals or more, their count's bytes, the literals
    lz4.reserve(bytes + bytes / 255 + 2);
    lz4.push_back(0xf0);
    for (std::uint64_t left = bytes - 15;; left -= 255) {
      lz4.push_back(static_cast<unsigned char>(std::min<std::uint64_t>(left, 255)));
      if (left < 255) break;
    }
    lz4.insert(lz4.end(), rows.begin(), rows.end());
    put_big_endian(chunk, lz4.size(), 4);
    chunk.insert(chunk.end(), lz4.begin(), lz4.end());
  }
  chunk.insert(chunk.end(), elements.end() - 3 * e, elements.end());
  hedm::BitshuffleBlocks index;
  std::string why;
  ASSERT_TRUE(hedm::index_bitshuffle(chunk.data(), chunk.size(), e, &index, &why)) << why;
  EXPECT_EQ(index.blocks(), 16u);
  const std::pair<std::uint64_t, std::uint64_t> runs[] = {{0, n}, {0, 1}, {5, 60}, {63, 65}, {100, 1000},
                                                          {960, 1000}, {990, 1002}, {1000, 1003}, {1001, 1002}};
  for (const auto& [lo, hi] : runs) {
    const std::uint64_t first = index.first_byte(lo, e);
    const Bytes stored(chunk.begin() + static_cast<std::ptrdiff_t>(first),
                       chunk.begin() + static_cast<std::ptrdiff_t>(index.end_byte(hi, e)));
    Bytes out((hi - lo) * e);
    ASSERT_TRUE(hedm::decode_bitshuffle(index, e, stored.data(), lo, hi, out.data(), &why)) << why;
    EXPECT_EQ(out, Bytes(elements.begin() + static_cast<std::ptrdiff_t>(lo * e),
                         elements.begin() + static_cast<std::ptrdiff_t>(hi * e)))
        << "elements " << lo << " to " << hi;
  }
}
