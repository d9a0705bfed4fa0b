// The decoders of the compressed chunks that detectors write, without the
// HDF5 library: deflate (HDF5 filter 1, zlib's format) through libdeflate,
// the byte shuffle (filter 2), LZ4 (filter 32004) and bitshuffle with LZ4
// (filter 32008) through liblz4.  Each is a pure function of its bytes, so
// that chunks are decoded on every thread at once.  A codec whose library
// was not found at build time is not available, and such chunks go through
// the HDF5 library as before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hedm {

// The filter ids decoded here.
enum ChunkFilter : int { kDeflate = 1, kShuffle = 2, kLz4 = 32004, kBitshuffle = 32008 };

// Whether this build decodes filter `id` itself.
bool chunk_filter_available(int id);

// Undoes filter `id` on `in` (elemBytes: the pixel width), the result in
// `out`, which is sized to hold `expected` bytes (a chunk's decoded size;
// every filter but the last one undone may give another size).  False,
// with a reason in *why, for data that do not decode.
bool undo_filter(int id, unsigned elemBytes, const std::vector<unsigned char>& in, std::size_t expected,
                 std::vector<unsigned char>& out, std::string* why);

// A bitshuffle/LZ4 chunk's blocks, found by walking their headers once, so
// that any run of its elements is decoded from its own blocks alone (a band
// of pixels, from every frame's chunk): block i's stored size (4 bytes,
// big-endian) at byte at[i], its LZ4 bytes after it, and its elements from
// i * block on; at[blocks] is where the elements past the last whole group
// of 8 lie as they are.
struct BitshuffleBlocks {
  std::uint64_t elements = 0, block = 0;  // the chunk's, and a block's (the last may hold fewer)
  std::vector<std::uint32_t> at;
  std::uint64_t blocks() const { return at.empty() ? 0 : at.size() - 1; }
  // The stored bytes [first, end) that elements lo .. hi - 1 are decoded from.
  std::uint64_t first_byte(std::uint64_t lo, unsigned elemBytes) const;
  std::uint64_t end_byte(std::uint64_t hi, unsigned elemBytes) const;
};
// The pixels a bitshuffle/LZ4 chunk's blocks hold, from its first 12 bytes
// (elemBytes: the pixel width).
std::uint64_t bitshuffle_block_pixels(const unsigned char* header, unsigned elemBytes);
// The blocks of the stored chunk `in` (elemBytes: the pixel width); false,
// with a reason in *why, where its headers do not hold together.
bool index_bitshuffle(const unsigned char* in, std::size_t size, unsigned elemBytes, BitshuffleBlocks* index,
                      std::string* why);
// Elements lo .. hi - 1 decoded to out, from `in`, the chunk's stored bytes
// from first_byte(lo) to end_byte(hi); false with *why for a corrupt block.
bool decode_bitshuffle(const BitshuffleBlocks& index, unsigned elemBytes, const unsigned char* in, std::uint64_t lo,
                       std::uint64_t hi, unsigned char* out, std::string* why);

// Bitshuffle's bit transpose undone on a block of n elements (n a multiple
// of 8) of elemBytes bytes: the block holds elemBytes * 8 rows of n bits,
// row 8 * j + b the bits b of byte j of every element, element i's at bit
// i % 8 of the row's byte i / 8.
void bit_untranspose(const unsigned char* in, unsigned char* out, std::size_t n, unsigned elemBytes);

}  // namespace hedm
