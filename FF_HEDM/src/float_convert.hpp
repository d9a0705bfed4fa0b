// Float images (2048 x 2048 single-precision values, no header) to detector
// frames: each image scaled so that its brightest pixel becomes 14000, zero
// and negative pixels 0, truncated to 16 bits.
#pragma once

#include <cstddef>

#include "frame_file.hpp"

namespace hedm {

inline constexpr std::size_t kFloatImageBytes = kPixelsPerFrame * sizeof(float);  // 16,777,216
inline constexpr double kScaleCeiling = 14000.0;

// The largest value of the image, never below 0; NaN values are passed over.
// *nInfinite, when given, is set to the number of infinite values (either sign).
float image_maximum(const float* image, std::size_t n, std::size_t* nInfinite = nullptr);

// out[k] = the low 16 bits of trunc((double)v / (double)maxVal * 14000), with
// v the pixel clamped at 0 from below; a product that is not a number gives 0.
void convert_image(const float* image, std::size_t n, float maxVal, pixelvalue* out);

}  // namespace hedm
