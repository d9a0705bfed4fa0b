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

// Bitshuffle's bit transpose undone on a block of n elements (n a multiple
// of 8) of elemBytes bytes: the block holds elemBytes * 8 rows of n bits,
// row 8 * j + b the bits b of byte j of every element, element i's at bit
// i % 8 of the row's byte i / 8.
void bit_untranspose(const unsigned char* in, unsigned char* out, std::size_t n, unsigned elemBytes);

}  // namespace hedm
