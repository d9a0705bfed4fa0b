#include "saturation.hpp"

namespace hedm {

namespace {
__attribute__((target_clones("arch=x86-64-v4", "avx2", "default"))) std::uint64_t count_at_least(
    const pixelvalue* p, std::size_t n, pixelvalue threshold) {
  // Blocks of 32768 pixels, each counted in a 32-bit sum (the vectorised
  // loop keeps 32-bit lane counts) and added to the 64-bit total: no count
  // can overflow, whatever the file's size.
  constexpr std::size_t kBlock = 32768;
  std::uint64_t total = 0;
  for (std::size_t k = 0; k < n; k += kBlock) {
    const std::size_t m = n - k < kBlock ? n - k : kBlock;
    std::uint32_t count = 0;
    for (std::size_t j = 0; j < m; ++j) count += p[k + j] >= threshold;
    total += count;
  }
  return total;
}
__attribute__((target_clones("avx2", "default"))) std::uint64_t count_at_least32(const std::uint32_t* p, std::size_t n,
                                                                                 std::uint32_t threshold) {
  std::uint64_t total = 0;
  for (std::size_t j = 0; j < n; ++j) total += p[j] >= threshold;
  return total;
}

}  // namespace

std::uint64_t count_saturated(const std::uint32_t* pixels, std::size_t n, std::int32_t satInt) {
  if (satInt <= 0) return n;  // every pixel is at least 0
  return count_at_least32(pixels, n, static_cast<std::uint32_t>(satInt));
}

std::uint64_t count_saturated(const pixelvalue* pixels, std::size_t n, std::int32_t satInt) {
  if (satInt <= 0) return n;  // every pixel is at least 0
  if (satInt > 65535) return 0;
  return count_at_least(pixels, n, static_cast<pixelvalue>(satInt));
}

}  // namespace hedm
