// The chunk decoders on their own: the bit transpose, and stored bytes
// that do not decode.  Their agreement with the HDF5 library on real files
// is in hdf5_stack_test.cpp and hdf5_median_test.py.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chunk_codecs.hpp"

// The bit transpose undone on a block made by transposing known elements
// (element i's bit b of byte j at bit i % 8 of byte i / 8 of row 8j + b).
TEST(ChunkCodecs, UndoesTheBitTranspose) {
  for (const unsigned e : {2u, 4u}) {
    const std::size_t n = 64;
    std::vector<unsigned char> elements(n * e), rows(n * e, 0), back(n * e);
    for (std::size_t k = 0; k < elements.size(); ++k) elements[k] = static_cast<unsigned char>(k * 37 + 11);
    for (std::size_t i = 0; i < n; ++i)
      for (unsigned j = 0; j < e; ++j)
        for (unsigned b = 0; b < 8; ++b)
          if (elements[i * e + j] >> b & 1) rows[(8 * j + b) * (n / 8) + i / 8] |= static_cast<unsigned char>(1u << (i % 8));
    hedm::bit_untranspose(rows.data(), back.data(), n, e);
    EXPECT_EQ(back, elements) << e << "-byte elements";
  }
}

// Stored bytes that are cut short or lie about their sizes are refused with
// a reason, never read past (AddressSanitizer watches).
TEST(ChunkCodecs, RefusesCorruptChunks) {
  using Bytes = std::vector<unsigned char>;
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
      {hedm::kBitshuffle, {HEADER, 0, 0, 0, 200}, "an LZ4 block is corrupt"},
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
