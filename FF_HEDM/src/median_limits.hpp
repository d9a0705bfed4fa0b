// Every threshold of the per-pixel median, in one place: the stack depths
// at which the selection changes, the sample that brackets deep pixels, the
// coded window, and how large a band each thread reads.  median.hpp maps
// what each regime does with them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hedm {

// Stacks of up to kMaxFastFrames frames are selected many pixels at a time
// (the per-pixel counts are 16-bit); deeper ones, 256 GiB and more, a pixel
// at a time with quick_select.
inline constexpr int kMaxFastFrames = 32767;

// Longest stack selected by a selection network (a pruned sorting network
// run on whole tiles); longer ones are searched for by value.
inline constexpr int kNetworkFrames = 24;

// From this depth on, the 16-bit search starts from a bracket taken from a
// sample of kSamples frames: their kSampleLow-th and kSampleHigh-th
// smallest values (from 0), which enclose the median of nearly every pixel
// (a pixel they miss is found all the same, in more steps), instead of the
// robust bounds (the extremes of the first and last halves of the stack).
// Stacks this deep are selected coded (kMinCodedFrames), so the sample now
// serves the coded selection's exception pixels, whose values spread
// widely.  Measured on stacks of such pixels (bench/exception_median.sh,
// callgrind): the exceptions' selection takes 13% fewer instructions with
// the sample at 400 frames (43.1 against 49.8 M) and 23% fewer at 1440
// (72.4 against 94.0 M); the whole median 2 to 8% fewer; wall times, noisy,
// agree in 5 of 6 pairs.  Below this depth the robust bounds cost less
// than the sample (100 frames took 19% longer with it).
inline constexpr int kSampledFrames = 200;
// The coded selection places each pixel's window with the same sample.
inline constexpr int kSamples = 32, kSampleLow = 5, kSampleHigh = 26;

// From this depth on bands are selected coded, a byte per value (any depth
// from 1 to kMaxFastFrames works); below it, the 16-bit search costs less
// (measured side by side on files: 100 frames took twice as long coded, 400
// frames about as long, 1440 frames a quarter less).
inline constexpr int kMinCodedFrames = 200;
// Values coded 1 .. kCodeWindow inside a pixel's window; 0 below, 255 above.
inline constexpr std::size_t kCodeWindow = 254;
// Coded bands whose codes take more than this are laid out for streaming
// past the cache (a tile at a time), as they would not stay in it anyway.
inline constexpr std::size_t kCachedCodeBytes = 8u << 20;
// Where slices of kMinCachedBandPixels pixels or more leave a band's codes
// in the cache (up to 510 frames), the band is as large as that allows, up
// to kMaxCodedBandPixels pixels; deeper stacks' bands are as large as their
// budget's codeBytes allow, kMaxCodedBandPixels at most.
inline constexpr std::size_t kMinCachedBandPixels = 16384, kMaxCodedBandPixels = 32768;

// How large a band may be.  Stacks of up to 199 frames (and beyond 32767)
// are read a band at a time into one buffer, slices of sliceBytes per frame
// where the buffer allows, the buffer between minBytes and maxBytes.
// Deeper stacks are coded a slice at a time, the band's codes (a byte per
// value) within codeBytes.  These are one thread's; with several threads
// each has a buffer of its own, and coded bands are made smaller so that
// all of them fit in 32 MiB and 32 MiB more per thread.  The buffered
// bands are a multiple of bandStep pixels.
struct BandBudget {
  std::size_t minBytes, maxBytes, sliceBytes, codeBytes, bandStep;
};

// For files, read with pread: shallow stacks' bands take slices of 64 KiB
// a frame, 1 to 16 MiB a band: smaller slices cost more calls than the
// cache saves (100 frames, 32 KiB slices: as much processor time, more
// wall time on a busy machine), larger ones leave the band in the last
// level cache only.  Coded bands keep their codes in the cache up to 510
// frames (slices of 32 to 64 KiB); deeper ones write them past it, and take
// slices of 64 KiB up to 1536 frames (1440 frames: 45 MiB of codes).
inline constexpr BandBudget kFileBands{1u << 20, 16u << 20, 64u << 10, 48u << 20, 2048};
// For stacks in memory, where a slice costs no call: 8 MiB at most, bands
// a tile of pixels apart.
inline constexpr BandBudget kMemoryBands{8u << 20, 8u << 20, 16u << 10, 8u << 20, 64};

// Threads a stack is selected with: one per processor the process may run
// on (its affinity mask, as `taskset` or a batch system's CPU binding set
// it), at most kMaxThreads, at least one.  The threads share the memory
// they read: on 2 cores two threads run 1.6 to 1.75 times as fast as one
// (100 and 1440 frames), and each thread of a deep stack moves about 6 GB/s
// through memory (1440 frames: 12 GB read, 6 GB of codes written and read
// back, in 4.7 s), so that 8 of them ask about what one socket of a server
// gives; more would also take 32 MiB each.
inline constexpr unsigned kMaxThreads = 8;

// What the map of regimes takes for granted.
static_assert(kMaxFastFrames <= INT16_MAX, "the fast regimes count a pixel's values in signed 16 bits");
static_assert(kNetworkFrames < kMinCodedFrames && kMinCodedFrames <= kMaxFastFrames, "regimes in order of depth");
static_assert(kSampleLow < kSampleHigh && kSampleHigh < kSamples && kSamples <= kSampledFrames,
              "the sample's bracket: two order statistics of distinct frames");
static_assert(kCodeWindow + 2 == 256, "codes 1 .. kCodeWindow, 0 below and 255 above, fill a byte");

}  // namespace hedm
