// The median frame of a whole stack, a band of pixels at a time: one slice
// of every frame per band, read into one reused buffer whose slices lie a
// cache line more than their size apart (rows a frame apart would all fall
// into the same cache sets), so that memory stays bounded whatever the
// depth.  Frames come from a file (StackCollapse) or from memory (the
// Python module), with the same selection and the same result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "frame_file.hpp"
#include "input_file.hpp"

namespace hedm {

// How large a band may be: slices of sliceBytes per frame where the buffer
// allows, the buffer between minBytes and maxBytes.
struct BandBudget {
  std::size_t minBytes, maxBytes, sliceBytes;
};

// For files: deep stacks get slices of 16 KiB, so that they are read in few
// calls, up to a buffer of 24 MiB (1440 frames: 16 KiB slices, 23 MiB);
// shallow ones a buffer of 8 MiB.  Larger buffers fall out of the
// last-level cache between being read and being selected, smaller slices
// cost more calls: measured at 1440 frames, 8 to 64 KiB slices took 3.4 to
// 4.2 s, these the least.
inline constexpr BandBudget kFileBands{8u << 20, 24u << 20, 16u << 10};
// For stacks in memory: a buffer of 8 MiB at most.
inline constexpr BandBudget kMemoryBands{8u << 20, 8u << 20, 16u << 10};

// What a stack file of no whole frame is told: "Input file <path> holds no
// complete frame (<size> bytes; ...). Exiting."
std::string no_complete_frame_message(const std::string& path, std::uint64_t size);

// The median frame of the whole frames of an opened frame file, as
// StackCollapse writes it.  False with *err naming the file when it cannot
// be read, or with an out-of-memory message.
bool median_of_file(InputFile& in, std::uint64_t nFrames, pixelvalue* out, std::string* err);

// The median frame of nFrames frames of `pixels` pixels in memory, frame f
// at stack + f * pixels.  False only when memory cannot be had.
bool median_of_stack(const pixelvalue* stack, std::uint64_t nFrames, std::size_t pixels, pixelvalue* out);

}  // namespace hedm
