// Per-pixel median of a stack of frames.
//
// quick_select is the reference selection: partition-based, median-of-three
// pivot, in place.  StackMedian computes the same value for many pixels at a
// time: a selection network for short stacks and a per-pixel binary search on
// the value for long ones, both returning exactly the element at sorted index
// (n - 1) / 2, so the result is the value quick_select returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "frame_file.hpp"
#include "memory.hpp"

namespace hedm {

// The value at index (n - 1) / 2 of a sorted; a is left partitioned around it.
// For n <= 0 it reads nothing and returns 0.
pixelvalue quick_select(pixelvalue* a, int n);

class StackMedian {
 public:
  // Stacks of up to kMaxFastFrames frames are selected many pixels at a
  // time (the per-pixel counts are 16-bit); deeper ones, 256 GiB and more,
  // a pixel at a time with quick_select.
  static constexpr int kMaxFastFrames = 32767;
  static constexpr int kTile = 64;  // pixels selected together
  static constexpr int kNetworkFrames = 24;  // longest stack for the selection network
  // From this depth on, the search starts from a bracket taken from a
  // sample of kSamples frames: their kSampleLow-th and kSampleHigh-th
  // smallest values (from 0), which enclose the median of nearly every
  // pixel (a pixel they miss is found all the same, in more steps).  Below
  // it the robust bounds cost less than the sample (measured: 100 frames
  // took 19% longer with the sample, 400 frames 7% less).
  static constexpr int kSampledFrames = 200;
  static constexpr int kSamples = 32, kSampleLow = 5, kSampleHigh = 26;

  explicit StackMedian(std::int64_t nFrames);
  // False for no frames, more than 2^31 - 1, or memory that ran out.
  bool ok() const { return tile_ != nullptr || !column_.empty(); }

  // rows: nFrames rows of `count` pixels each, row f starting at
  // rows + f * rowStride.  out[p] becomes the median of the pixel's column.
  void collapse(const pixelvalue* rows, std::size_t rowStride, std::size_t count, pixelvalue* out);

  // Whether the selection network (rather than the value search) is used.
  bool uses_network() const { return useNetwork_; }
  bool uses_sample() const { return sampled_; }
  std::size_t comparators() const { return network_.size(); }

  struct Comparator {
    std::uint16_t lo, hi;  // wires; the minimum goes to lo
    std::uint8_t keepLo, keepHi;  // whether each result is used later
  };

 private:
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

// The comparators of a sorting network on n wires that decide wire k,
// in order, each marked with which of its two results is used later.
std::vector<StackMedian::Comparator> selection_network(int n, int k);
// The same for several wires at once.
std::vector<StackMedian::Comparator> selection_network(int n, const std::vector<int>& wires);

}  // namespace hedm
