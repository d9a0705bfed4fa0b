// What only the tests use: the median's kernels reached one by one, and
// plain reference versions of computations the programs do fast.  A
// library of its own (hedm_test_support) that no program links.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "frame_file.hpp"
#include "median.hpp"

namespace hedm {

// Which way a StackMedian selects: the selection network (and its
// comparators), or the value search with its bracket found from a sample
// of the frames.
struct StackMedianProbe {
  static bool uses_network(const StackMedian& s) { return s.useNetwork_; }
  static std::size_t comparators(const StackMedian& s) { return s.network_.size(); }
  static bool uses_sample(const StackMedian& s) { return s.sampled_; }
};

// The coding kernel on its own: `tiles` tiles of kTile values against their
// flipped window bases, out[p] = clamp(in[p] - base + 1, 0, 255) - 128, by
// the AVX2 kernel or the baseline one, with ordinary or non-temporal
// stores; out 32-byte aligned.  False when the processor lacks AVX2 and it
// was asked for.
bool encode_tile_rows(const pixelvalue* in, const std::int16_t* base, std::size_t tiles, std::int8_t* out,
                      bool baseline, bool nontemporal);

// The float conversion done the plain way, in two passes over the image:
// find the maximum while clearing negative pixels in place, then scale each
// pixel.  The tests hold convert_image to it.
void convert_image_reference(float* image, std::size_t n, pixelvalue* out);

// A square frame of `side` x `side` pixels as a 16-bit PGM file, and as the
// 8-bit view between lo and hi.
std::string pgm16(const pixelvalue* frame, std::size_t side);
std::string pgm8_view(const pixelvalue* frame, std::size_t side, pixelvalue lo, pixelvalue hi);

}  // namespace hedm
