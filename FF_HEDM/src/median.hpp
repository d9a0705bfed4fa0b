// Per-pixel median of a stack of frames: the map.
//
// Every regime gives exactly the element at sorted index (n - 1) / 2 of a
// pixel's n values, the value quick_select returns; they differ in speed
// and memory only.  By stack depth n (thresholds in median_limits.hpp):
//
//   n <= 24 (kNetworkFrames)          StackMedian: selection network
//   25 .. 199                         StackMedian: 16-bit value search
//   200 (kMinCodedFrames) .. 32,767   CodedMedian: a byte per value
//   beyond 32,767 (kMaxFastFrames)    quick_select, a pixel at a time
//
// - Selection network (median_sixteen.cpp): Batcher's sorting network
//   pruned to the comparators that decide the median, run on a tile of 64
//   pixels (kTile) at once, a minimum and a maximum per comparator; the
//   cheapest while the network is short.
// - 16-bit value search (median_sixteen.cpp): per pixel, a bisection on the
//   value between bounds that enclose the median; each step counts, row by
//   row, the values above the middle, 16 pixels per vector.  The counts are
//   signed 16-bit, hence the limit of 32,767 frames for every fast regime.
// - Coded selection (median_coded.cpp): a sample of 32 frames (kSamples)
//   places each pixel's window of 254 values (kCodeWindow) around the
//   sample's 6th and 27th smallest values; each value is coded by its place
//   in the window in a byte, so a band takes half the memory and a search
//   step compares 32 pixels at once.  From 200 frames on it costs less than
//   the 16-bit search (at 100 frames, twice as much).
// - quick_select (median_sixteen.cpp): beyond 32,767 frames (256 GiB of
//   frames and more) each pixel's values are gathered and selected alone.
//
// An exception pixel is a pixel of a coded band whose median its codes
// cannot give: its sample's bracket is wider than the window ("wide"), or
// its median lies outside the window ("missed": a sample unlike the rest of
// the stack).  CodedMedian selects them from their 16-bit values with the
// 16-bit search, which at these depths starts from the sample's bracket
// (kSampledFrames) rather than from the robust bounds.
//
// Memory, per thread (stack_median.cpp reads the bands, each thread with a
// selector and buffers of its own; the budgets are kFileBands and
// kMemoryBands):
// - network and 16-bit search: a band of every frame's slice, 1 to 16 MiB
//   from a file (64 KiB a frame), 8 MiB from a stack in memory; copied
//   tiles, 128 KiB at most.  A 32-bit stack's band keeps as much again:
//   its values from 65535 up, for the pixels whose median reaches 65535.
// - coded: the band's codes, n x (band pixels + 64) bytes: 8 MiB at most up
//   to 510 frames (kCachedCodeBytes; they stay in the cache); deeper, up to
//   48 MiB with one thread (8 MiB for a stack in memory), less with several
//   so that all fit in 32 MiB and 32 MiB more per thread; the exceptions'
//   16-bit rows up to an eighth of that, and about 140 bytes per band pixel.
// - quick_select: a band of one band step per frame (2048 pixels, 4 KiB a
//   frame, from a file; 64 pixels, 128 bytes, from memory) and one column.
//
// median_simd.hpp holds the vectors and the kernel the two selections share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "frame_file.hpp"
#include "median_limits.hpp"
#include "memory.hpp"

namespace hedm {

// A 32-bit stack's values as the 16-bit selection takes them, n of them,
// both in the same order as the values (so that a median below 65535 is
// exact): clamp_to_sixteen, each value clamped to 65535; above_sixteen,
// each value from 65535 up less 65535, clamped again to 65535 (0 for the
// values below), where the median is 65535 or more; split_sixteen, both.
void clamp_to_sixteen(const std::uint32_t* in, std::size_t n, pixelvalue* out);
void above_sixteen(const std::uint32_t* in, std::size_t n, pixelvalue* out);
void split_sixteen(const std::uint32_t* in, std::size_t n, pixelvalue* clamped, pixelvalue* above);

// The value at index (n - 1) / 2 of a sorted; a is left partitioned around it.
// For n <= 0 it reads nothing and returns 0.
pixelvalue quick_select(pixelvalue* a, int n);

class StackMedian {
 public:
  static constexpr int kTile = 64;  // pixels selected together

  explicit StackMedian(std::int64_t nFrames);
  // False for no frames, more than 2^31 - 1, or memory that ran out.
  bool ok() const { return tile_ != nullptr || !column_.empty(); }

  // rows: nFrames rows of `count` pixels each, row f starting at
  // rows + f * rowStride.  out[p] becomes the median of the pixel's column.
  void collapse(const pixelvalue* rows, std::size_t rowStride, std::size_t count, pixelvalue* out);

  struct Comparator {
    std::uint16_t lo, hi;  // wires; the minimum goes to lo
    std::uint8_t keepLo, keepHi;  // whether each result is used later
  };

 private:
  friend struct StackMedianProbe;           // the tests' look at which way it selects
  static constexpr std::size_t kGroup = 8;  // most tiles copied from the frame rows together

  // select_tile works in place on a copied tile of n rows of kTile flipped
  // values and writes m results; select_deep_tile copies the rows of a deep
  // stack's tile (`stride` pixels apart) itself, while it checks the bracket.
  void select_tile(std::int16_t* tile, pixelvalue* out, std::size_t m);
  void select_deep_tile(const pixelvalue* rows, std::size_t stride, bool prefetchNext, pixelvalue* out);

  int n_ = 0;
  int k_ = 0;
  bool useNetwork_ = false;
  bool sampled_ = false;
  std::vector<pixelvalue> column_;  // a pixel's values, for stacks beyond kMaxFastFrames
  std::size_t group_ = 1;
  std::vector<Comparator> network_;  // the median's network, or the sample's
  // group_ copied tiles of n_ rows of kTile flipped values, then the sample's rows
  AlignedPtr<std::int16_t> tile_;
};

// Deep stacks, a band of pixels at a time, at one byte per value.  Each
// pixel's window of 254 consecutive values is placed around the bracket
// that a sample of its frames gives (StackMedian's sample), and every value
// is coded by its place in the window: 1 to 254 inside, 0 below, 255 above.
// The codes keep the pixel's order, so the median's code gives the median
// itself whenever it lies inside the window; the band's codes fit in half
// the memory of its values, and each step of the search compares 32 of
// them at once.  A pixel whose bracket is wider than the window, or whose
// median falls outside it (a sample unlike the rest of the stack), is
// selected from its 16-bit values, read again if need be.
//
// The frames' slices come one at a time from a callback, so that a file's
// band is read a slice at a time into a buffer that stays in the cache.
class CodedMedian {
 public:
  // slice(f) gives frame f's `count` pixels of the band being selected,
  // valid until the next call, or nullptr when they cannot be had.
  using Slice = std::function<const pixelvalue*(std::int64_t frame)>;

  // nFrames from 1 to kMaxFastFrames; bands of up to
  // bandPixels pixels (a multiple of kTile); `sharers` selectors (threads)
  // run at once, their codes sharing the last-level cache.
  CodedMedian(std::int64_t nFrames, std::size_t bandPixels, unsigned sharers = 1);
  bool ok() const { return ok_; }

  // out[p] becomes the median of the band's pixel p, p < count <=
  // bandPixels; false when a slice could not be had.
  bool collapse(std::size_t count, const Slice& slice, pixelvalue* out);

  // Pixels of the last band selected from their 16-bit values: with a
  // bracket wider than the window, and with a median outside it.
  std::size_t wide() const { return wide_; }
  std::size_t missed() const { return missed_; }

 private:
  static constexpr int W = StackMedian::kTile;
  // The frame of the i-th sample: spread evenly over the stack, as in StackMedian.
  std::int64_t sample_frame(int i) const { return static_cast<std::int64_t>(i) * n_ / kSamples; }
  bool place_windows(std::size_t count, const Slice& slice);
  bool encode_all(std::size_t count, std::size_t gathered, const Slice& slice);
  bool select_exceptions(const Slice& slice, std::size_t gathered, pixelvalue* out);

  int n_ = 0, k_ = 0;
  bool ok_ = false;
  bool streamed_ = false;  // codes written past the cache (large bands)
  bool nontemporal_ = false;  // streamed codes too many for the last-level cache: stored around it
  std::size_t capacity_ = 0, sideColumns_ = 0;
  std::size_t frameStride_ = 0, tileStride_ = 0;  // between the codes of two frames, of two tiles
  std::size_t wide_ = 0, missed_ = 0;
  std::vector<StackMedian::Comparator> network_;  // the sample's two order statistics
  AlignedPtr<std::int8_t> codes_;      // the band's codes, flipped to signed: kTile per frame and tile
  AlignedPtr<std::int16_t> sample_;    // per tile: kSamples rows of kTile flipped values
  AlignedPtr<pixelvalue> raw_;         // the sampled frames' slices as read
  AlignedPtr<std::int16_t> base_;      // per pixel: the value coded 1, flipped
  AlignedPtr<std::int8_t> low_, high_; // per pixel: the sample's bracket, as flipped codes
  AlignedPtr<std::uint8_t> wideFlag_;  // per pixel: bracket wider than the window
  AlignedPtr<pixelvalue> side_;        // 16-bit values of exceptions: n rows of up to sideColumns_
  AlignedPtr<pixelvalue> edge_;        // a last tile's pixels, padded to kTile
  std::vector<std::uint32_t> exceptions_;  // pixels selected from 16-bit values
  std::vector<pixelvalue> sideOut_;
  StackMedian sixteen_;  // selects the exceptions
};

// The coded selection's coding kernel: `tiles` tiles of kTile values
// against their flipped window bases, out[p] = clamp(in[p] - base + 1, 0,
// 255) - 128, the tiles' codes tileStride apart (out 32-byte aligned), with
// non-temporal stores where `stream` (an _mm_sfence before the codes are
// read).
using EncodeSlice = void (*)(const pixelvalue* in, const std::int16_t* base, std::size_t tiles, std::int8_t* out,
                             std::size_t tileStride, bool stream);
// The baseline (SSE2) kernel, or the AVX2 one: nullptr where the processor
// lacks AVX2 (or the build has the baseline kernels only).
EncodeSlice encode_kernel(bool baseline);

// The comparators of a sorting network on n wires that decide wire k,
// in order, each marked with which of its two results is used later.
std::vector<StackMedian::Comparator> selection_network(int n, int k);
// The same for several wires at once.
std::vector<StackMedian::Comparator> selection_network(int n, const std::vector<int>& wires);

}  // namespace hedm
