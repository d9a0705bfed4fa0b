// Detector frame files: an opaque 8192-byte header, then frames of
// 2048 x 2048 unsigned 16-bit pixels, least significant byte first, with no
// count or size field.  The number of frames follows from the file size.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>

#include "error.hpp"

namespace hedm {

using pixelvalue = std::uint16_t;

// Pixels are stored little-endian; the readers use them in place.
static_assert(std::endian::native == std::endian::little,
              "detector frame files are read in place: a little-endian host is required");

inline constexpr std::size_t kHeaderBytes = 8192;
inline constexpr std::size_t nrPixels = 2048;  // frame side
inline constexpr std::size_t kPixelsPerFrame = nrPixels * nrPixels;  // 4,194,304
inline constexpr std::size_t kFrameBytes = kPixelsPerFrame * sizeof(pixelvalue);  // 8,388,608
inline constexpr std::uint64_t kOneFrameFileBytes = kHeaderBytes + kFrameBytes;  // 8,396,800

// What a file of a given size holds after its header.
struct FrameLayout {
  std::uint64_t dataBytes = 0;  // bytes after the header (0 for a file shorter than the header)
  std::uint64_t nPixels = 0;    // whole pixels after the header: an odd last byte is no pixel
  std::uint64_t nFrames = 0;    // complete frames; a trailing partial frame is not counted
};

FrameLayout frame_layout(std::uint64_t fileSize);

// Bytes after the last whole frame (a stack cut short, or a file that is no
// frame file at all): passed over by every reader of frames.
inline std::uint64_t bytes_past_last_frame(const FrameLayout& l) { return l.dataBytes - l.nFrames * kFrameBytes; }

// The Data error for a file too short to hold one whole frame (a
// compressed or cut-off file): "<which> <path> holds no whole frame (N
// bytes; one frame needs 8396800)."
Error no_whole_frame(const std::string& which, const std::string& path, std::uint64_t size);

// The warning for a file that ends in a partial frame, naming it and the
// bytes passed over; empty when the file ends with a whole frame.
std::string partial_frame_warning(const std::string& path, const FrameLayout& l);

}  // namespace hedm
