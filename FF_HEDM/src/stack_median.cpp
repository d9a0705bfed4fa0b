#include "stack_median.hpp"

#include <algorithm>
#include <cstring>

#include "median.hpp"
#include "memory.hpp"

namespace hedm {

namespace {

constexpr std::size_t kBandStep = 2048;  // pixels

// Pixels per band for a stack of nFrames frames of `pixels` pixels: a
// multiple of 2048 (slices page-aligned in a file), all pixels at most.
std::size_t band_pixels(std::uint64_t nFrames, std::size_t pixels, const BandBudget& budget) {
  const std::size_t bytes = static_cast<std::size_t>(
      std::clamp<std::uint64_t>(nFrames * budget.sliceBytes, budget.minBytes, budget.maxBytes));
  const std::size_t band = bytes / (sizeof(pixelvalue) * nFrames) / kBandStep * kBandStep;
  return std::clamp(band, std::min(kBandStep, pixels), std::max<std::size_t>(pixels, 1));
}

// Bands over all `pixels`: read(p0, count, slices, stride) fills the slices
// of pixels p0 .. p0 + count - 1, frame f's at slices + f * stride.
template <class Read>
bool collapse_in_bands(std::uint64_t nFrames, std::size_t pixels, const BandBudget& budget, Read&& read,
                       pixelvalue* out, std::string* err) {
  const std::size_t band = band_pixels(nFrames, pixels, budget);
  const std::size_t stride = band + 32;
  AlignedPtr<pixelvalue> slices = allocate_huge_array<pixelvalue>(nFrames * stride);
  StackMedian selector(static_cast<std::int64_t>(nFrames));
  if (!slices || !selector.ok()) {
    *err = out_of_memory_message(nFrames * stride * sizeof(pixelvalue));
    return false;
  }
  for (std::size_t p0 = 0; p0 < pixels; p0 += band) {
    const std::size_t count = std::min(band, pixels - p0);
    if (!read(p0, count, slices.get(), stride)) return false;
    selector.collapse(slices.get(), stride, count, out + p0);
  }
  return true;
}

}  // namespace

std::string no_complete_frame_message(const std::string& path, std::uint64_t size) {
  return "Input file " + path + " holds no complete frame (" + std::to_string(size) +
         " bytes; a frame file of one frame has " + std::to_string(kOneFrameFileBytes) + "). Exiting.";
}

bool median_of_file(InputFile& in, std::uint64_t nFrames, pixelvalue* out, std::string* err) {
  auto read = [&](std::size_t p0, std::size_t count, pixelvalue* slices, std::size_t stride) {
    for (std::uint64_t f = 0; f < nFrames; ++f) {
      const std::uint64_t offset = kHeaderBytes + f * kFrameBytes + p0 * sizeof(pixelvalue);
      if (!in.read_at(slices + f * stride, count * sizeof(pixelvalue), offset, err)) return false;
    }
    return true;
  };
  return collapse_in_bands(nFrames, kPixelsPerFrame, kFileBands, read, out, err);
}

bool median_of_stack(const pixelvalue* stack, std::uint64_t nFrames, std::size_t pixels, pixelvalue* out) {
  auto read = [&](std::size_t p0, std::size_t count, pixelvalue* slices, std::size_t stride) {
    for (std::uint64_t f = 0; f < nFrames; ++f)
      std::memcpy(slices + f * stride, stack + f * pixels + p0, count * sizeof(pixelvalue));
    return true;
  };
  std::string err;
  return collapse_in_bands(nFrames, pixels, kMemoryBands, read, out, &err);
}

}  // namespace hedm
