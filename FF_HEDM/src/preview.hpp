// A detector frame as PGM images, which every image viewer opens: the full
// 16-bit values, and an 8-bit view stretched between two percentiles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "frame_file.hpp"

namespace hedm {

// The value below which `percent` of the pixels lie (nearest rank, 0 to 100).
pixelvalue percentile_value(const pixelvalue* pixels, std::size_t n, double percent);

// "P5" header and big-endian samples of a side x side frame.
std::string pgm16(const pixelvalue* frame, std::size_t side);
// 8-bit samples: lo and below black, hi and above white, linear between.
std::string pgm8_view(const pixelvalue* frame, std::size_t side, pixelvalue lo, pixelvalue hi);

}  // namespace hedm
