#include "float_convert.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace hedm {

namespace {
constexpr std::size_t kBlock = 1024;  // fixed-size blocks the compiler vectorises

// The largest value's bit pattern, and the number of infinite values (+inf
// and -inf) in *nInfinite.
__attribute__((target_clones("arch=x86-64-v4", "avx2", "default"))) std::int32_t max_bits(const float* image,
                                                                         std::size_t n,
                                                                         std::size_t* nInfinite) {
  // Non-negative floats order as their bit patterns read as integers; every
  // negative value (and -0.0) reads as a negative integer and never beats 0.
  // Bit patterns above +infinity are NaN and are taken as 0.
  constexpr std::int32_t kInf = 0x7f800000;
  std::int32_t best = 0;
  std::size_t infinite = 0;
  std::size_t k = 0;
  for (; k + kBlock <= n; k += kBlock) {
    std::int32_t blockBest = 0;
    std::uint32_t blockInfinite = 0;
    for (std::size_t j = 0; j < kBlock; ++j) {
      std::int32_t b;
      std::memcpy(&b, image + k + j, sizeof b);
      blockInfinite += (b & 0x7fffffff) == kInf;
      b = b > kInf ? 0 : b;
      blockBest = std::max(blockBest, b);
    }
    best = std::max(best, blockBest);
    infinite += blockInfinite;
  }
  for (; k < n; ++k) {
    std::int32_t b;
    std::memcpy(&b, image + k, sizeof b);
    infinite += (b & 0x7fffffff) == kInf;
    best = std::max(best, b > kInf ? 0 : b);
  }
  *nInfinite = infinite;
  return best;
}

__attribute__((target_clones("arch=x86-64-v4", "avx2", "default"))) void scale_pixels(const float* image,
                                                                     std::size_t n, double m,
                                                                     pixelvalue* out) {
  for (std::size_t k = 0; k < n; ++k) {
    // Quotient first, then the product, both in double precision.  Every
    // value is at most the maximum, so the product is at most 14000; a
    // negative pixel gives a product of 0 or below (it counts as 0), and NaN
    // products fail the comparison and give 0 too.
    double q = static_cast<double>(image[k]) / m * kScaleCeiling;
    double c = q > 0.0 ? std::min(q, kScaleCeiling) : 0.0;
    out[k] = static_cast<pixelvalue>(static_cast<std::int32_t>(c));
  }
}
}  // namespace

float image_maximum(const float* image, std::size_t n, std::size_t* nInfinite) {
  std::size_t infinite = 0;
  std::int32_t b = max_bits(image, n, &infinite);
  if (nInfinite) *nInfinite = infinite;
  float v;
  std::memcpy(&v, &b, sizeof v);
  return v;
}

void convert_image(const float* image, std::size_t n, float maxVal, pixelvalue* out) {
  scale_pixels(image, n, static_cast<double>(maxVal), out);
}

}  // namespace hedm
