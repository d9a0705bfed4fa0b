#include "test_support.hpp"

#include <immintrin.h>

#include <cmath>
#include <vector>

#include "float_convert.hpp"
#include "preview.hpp"

namespace hedm {

bool encode_tile_rows(const pixelvalue* in, const std::int16_t* base, std::size_t tiles, std::int8_t* out,
                      bool baseline, bool nontemporal) {
  const EncodeSlice encode = encode_kernel(baseline);
  if (!encode) return false;
  encode(in, base, tiles, out, StackMedian::kTile, nontemporal);
  if (nontemporal) _mm_sfence();
  return true;
}

void convert_image_reference(float* image, std::size_t n, pixelvalue* out) {
  float maxVal = 0;
  for (std::size_t k = 0; k < n; ++k) {
    if (image[k] > maxVal) maxVal = image[k];
    if (image[k] < 0) image[k] = 0;
  }
  for (std::size_t k = 0; k < n; ++k) {
    double product = static_cast<double>(image[k]) / static_cast<double>(maxVal) * kScaleCeiling;
    std::int32_t t = 0;
    if (!std::isnan(product)) t = static_cast<std::int32_t>(product);
    out[k] = static_cast<pixelvalue>(t & 0xffff);
  }
}

std::string pgm16(const pixelvalue* frame, std::size_t side) {
  return pgm(Image<pixelvalue>{side, side, std::vector<pixelvalue>(frame, frame + side * side)});
}

std::string pgm8_view(const pixelvalue* frame, std::size_t side, pixelvalue lo, pixelvalue hi) {
  return pgm(view8(Image<pixelvalue>{side, side, std::vector<pixelvalue>(frame, frame + side * side)}, lo, hi, false));
}

}  // namespace hedm
