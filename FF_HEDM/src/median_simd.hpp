// The vectors the median's kernels work on, shared by the 16-bit selection
// (median_sixteen.cpp) and the coded one (median_coded.cpp), and the one
// kernel both run.  Internal to those two files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "median.hpp"

// The median's kernels are built for AVX2 and for the baseline processor,
// the one to run chosen when the program starts (target_clones); a build
// with HEDM_BASELINE_KERNELS defined has the baseline kernels only, so
// that its tests run them on any processor.
#ifdef HEDM_BASELINE_KERNELS
#define HEDM_KERNEL_CLONES
#define HEDM_HAS_AVX2() false
#else
#define HEDM_KERNEL_CLONES __attribute__((target_clones("avx2", "default")))
#define HEDM_HAS_AVX2() __builtin_cpu_supports("avx2")
#endif

namespace hedm::median_kernels {

constexpr int W = StackMedian::kTile;

// 16 pixels per vector: one AVX2 register, or two SSE2 registers in the
// baseline build.  Loads and stores need only the pixels' own alignment.
// Copied tiles hold the pixels with the top bit flipped, so that the signed
// comparisons (one instruction each) order them as the unsigned values.
typedef std::uint16_t u16v __attribute__((vector_size(32), aligned(2)));
typedef std::int16_t v16 __attribute__((vector_size(32), aligned(2)));
constexpr int kVecs = W / 16;

// Element-wise minimum and maximum.  Macros, since functions taking vectors
// by value would pass them differently in the AVX2 and the baseline build;
// undefined again at the end of each file that includes this one.
#define vmin(a, b) ((a) < (b) ? (a) : (b))
#define vmax(a, b) ((a) < (b) ? (b) : (a))

// Whether any lane of a vector is set, in a few whole-word operations
// (lane by lane, the compiler extracts each lane on its own).
template <class V>
inline bool any_lane(const V& v) {
  std::uint64_t words[sizeof(V) / 8];
  std::memcpy(words, &v, sizeof words);
  std::uint64_t any = 0;
  for (std::uint64_t w : words) any |= w;
  return any != 0;
}

// The pruned network on one tile (n rows of kTile flipped values), in place.
void run_network(std::int16_t* tile, const StackMedian::Comparator* c, std::size_t nc);

}  // namespace hedm::median_kernels
