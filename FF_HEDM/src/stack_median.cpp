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

// Pixels per coded band (a multiple of kTile, never many more than the
// frame holds).  Where slices of 16384 pixels or more leave the codes in
// the cache, the band is as large as that allows, up to 32768 pixels;
// deeper stacks' codes go past the cache in any case, and their bands are
// as large as the budget allows (32768 pixels at most, one tile at least),
// for fewer and longer reads.
std::size_t coded_band_pixels(std::uint64_t nFrames, std::size_t pixels, const BandBudget& budget) {
  constexpr std::size_t kTile = StackMedian::kTile, kMinCached = 16384, kMaxPixels = 32768;
  const std::uint64_t rows = std::max<std::uint64_t>(nFrames, 1);
  // Each frame's codes take a line more than the band's pixels.
  const std::size_t cached = static_cast<std::size_t>(CodedMedian::kCachedCodeBytes / rows) / kTile * kTile - kTile;
  const std::size_t budgeted = static_cast<std::size_t>(budget.codeBytes / rows) / kTile * kTile;
  const std::size_t wanted = cached >= kMinCached ? std::min(cached, kMaxPixels) : std::clamp(budgeted, kTile, kMaxPixels);
  return std::min(wanted, (pixels + kTile - 1) / kTile * kTile);
}

// Bands over all `pixels`.  fill(f, p0, count, dst) copies frame f's
// pixels p0 .. p0 + count - 1 to dst; view(f, p0, count) gives them where
// they can be read (in memory, or copied into a buffer it keeps), nullptr on
// failure; ahead(p0, count) hears of the band after the one about to be
// selected; put takes each band's medians.
template <class Fill, class View, class Ahead>
bool collapse_in_bands(std::uint64_t nFrames, std::size_t pixels, const BandBudget& budget, Fill&& fill,
                       View&& view, Ahead&& ahead, const BandSink& put, std::string* err) {
  if (nFrames >= CodedMedian::kMinFrames && nFrames <= StackMedian::kMaxFastFrames) {
    // Deep stacks: a slice of every frame at a time, coded as it comes.
    const std::size_t band = coded_band_pixels(nFrames, pixels, budget);
    AlignedPtr<pixelvalue> medians = allocate_array<pixelvalue>(band);
    CodedMedian selector(static_cast<std::int64_t>(nFrames), band);
    if (!medians || !selector.ok()) {
      *err = out_of_memory_message(nFrames * band);
      return false;
    }
    for (std::size_t p0 = 0; p0 < pixels; p0 += band) {
      const std::size_t count = std::min(band, pixels - p0);
      if (p0 + band < pixels) ahead(p0 + band, std::min(band, pixels - p0 - band));
      auto slice = [&](std::int64_t f) { return view(static_cast<std::uint64_t>(f), p0, count); };
      if (!selector.collapse(count, slice, medians.get())) return false;
      if (!put(p0, medians.get(), count, err)) return false;
    }
    return true;
  }
  const std::size_t band = band_pixels(nFrames, pixels, budget);
  const std::size_t stride = band + 32;
  AlignedPtr<pixelvalue> slices = allocate_huge_array<pixelvalue>(nFrames * stride);
  // The medians of a band take one huge page at least: filled afresh on
  // every run, a buffer of small pages costs a page fault per 4 KiB (at 10
  // frames, 200 of them, a tenth of the run).
  AlignedPtr<pixelvalue> medians =
      allocate_huge_array<pixelvalue>(std::max(band, kHugePageBytes / sizeof(pixelvalue)));
  StackMedian selector(static_cast<std::int64_t>(nFrames));
  if (!slices || !medians || !selector.ok()) {
    *err = out_of_memory_message(nFrames * stride * sizeof(pixelvalue));
    return false;
  }
  for (std::size_t p0 = 0; p0 < pixels; p0 += band) {
    const std::size_t count = std::min(band, pixels - p0);
    if (p0 + band < pixels) ahead(p0 + band, std::min(band, pixels - p0 - band));
    for (std::uint64_t f = 0; f < nFrames; ++f)
      if (!fill(f, p0, count, slices.get() + f * stride)) return false;
    selector.collapse(slices.get(), stride, count, medians.get());
    if (!put(p0, medians.get(), count, err)) return false;
  }
  return true;
}

// A sink that copies each band's medians into their place in `out`.
BandSink copy_to(pixelvalue* out) {
  return [out](std::size_t p0, const pixelvalue* medians, std::size_t count, std::string*) {
    std::memcpy(out + p0, medians, count * sizeof(pixelvalue));
    return true;
  };
}

}  // namespace

std::string no_complete_frame_message(const std::string& path, std::uint64_t size) {
  return "Input file " + path + " holds no complete frame (" + std::to_string(size) +
         " bytes; a frame file of one frame has " + std::to_string(kOneFrameFileBytes) + "). Exiting.";
}

bool median_of_file(InputFile& in, std::uint64_t nFrames, const BandSink& sink, std::string* err) {
  auto offset = [](std::uint64_t f, std::size_t p0) {
    return kHeaderBytes + f * kFrameBytes + p0 * sizeof(pixelvalue);
  };
  // Slices are read from the page cache where it holds them; where it does
  // not (a file not read lately), the next band's slices are asked for
  // ahead, so that the disk reads them while this band is selected, many
  // at a time, rather than one slice at a time as each is needed.
  std::uint64_t uncached = 0;  // slices of the band being read that the disk had to give
  auto fill = [&](std::uint64_t f, std::size_t p0, std::size_t count, pixelvalue* dst) {
    const std::size_t bytes = count * sizeof(pixelvalue);
    const std::size_t got = in.read_cached(dst, bytes, offset(f, p0));
    if (got == bytes) return true;
    ++uncached;
    return in.read_at(reinterpret_cast<char*>(dst) + got, bytes - got, offset(f, p0) + got, err);
  };
  auto ahead = [&](std::size_t p0, std::size_t count) {
    if (uncached > nFrames / 8)
      for (std::uint64_t f = 0; f < nFrames; ++f) in.prefetch(offset(f, p0), count * sizeof(pixelvalue));
    uncached = 0;
  };
  AlignedPtr<pixelvalue> buffer;  // one slice, for the coded bands
  auto view = [&](std::uint64_t f, std::size_t p0, std::size_t count) -> const pixelvalue* {
    if (!buffer) buffer = allocate_array<pixelvalue>(count);  // the first band is the largest
    if (!buffer) {
      *err = out_of_memory_message(count * sizeof(pixelvalue));
      return nullptr;
    }
    return fill(f, p0, count, buffer.get()) ? buffer.get() : nullptr;
  };
  return collapse_in_bands(nFrames, kPixelsPerFrame, kFileBands, fill, view, ahead, sink, err);
}

bool median_of_file(InputFile& in, std::uint64_t nFrames, pixelvalue* out, std::string* err) {
  return median_of_file(in, nFrames, copy_to(out), err);
}

bool median_of_stack(const pixelvalue* stack, std::uint64_t nFrames, std::size_t pixels, pixelvalue* out) {
  auto fill = [&](std::uint64_t f, std::size_t p0, std::size_t count, pixelvalue* dst) {
    std::memcpy(dst, stack + f * pixels + p0, count * sizeof(pixelvalue));
    return true;
  };
  auto view = [&](std::uint64_t f, std::size_t p0, std::size_t) { return stack + f * pixels + p0; };
  auto ahead = [](std::size_t, std::size_t) {};
  std::string err;
  return collapse_in_bands(nFrames, pixels, kMemoryBands, fill, view, ahead, copy_to(out), &err);
}

}  // namespace hedm
