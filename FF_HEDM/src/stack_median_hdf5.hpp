// The median frame of an HDF5 stack, exact like that of a frame file.
//
// The stack's frames are decoded once, in order, into an unnamed spill file
// in a folder the caller names: a stack compressed a frame a chunk would
// otherwise be decoded again for every band of pixels.  The medians are
// then selected from the spill file, read back in bands as frame files
// are: 16-bit stacks by the same selection as frame files, on the same
// threads; 32-bit ones (photon-counting detectors) by the same selection
// while all their values fit in 16 bits (spilled as 16-bit values), else by a
// per-pixel selection of the same lower median, the value at index
// (n - 1) / 2 of the pixel's sorted values.  The spill file needs frames x pixels x pixel width bytes
// of disk for the run's length and leaves nothing behind, however the run
// ends; anonymous memory stays that of the selection.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "error.hpp"
#include "hdf5_stack.hpp"
#include "progress.hpp"

namespace hedm {

// One frame of rows x columns pixels, row by row, of the stack's width:
// `narrow` for 16-bit stacks, `wide` for 32-bit ones.
struct MedianFrame {
  std::uint64_t rows = 0, columns = 0;
  unsigned pixelBytes = 2;
  std::vector<std::uint16_t> narrow;
  std::vector<std::uint32_t> wide;
};

// The median frame of every frame of `stack`, spilled into spillFolder, on
// `threads` threads (0: one per processor the process may run on);
// `progress` hears of the bytes decoded and then selected, out of twice the
// stack's size.
// Errors: the stack's own (a frame that cannot be read), Output for a spill
// file that cannot be written (a full disk), Memory, Data for a stack of no
// frame.
Result<MedianFrame> median_of_hdf5(Hdf5Stack& stack, const std::string& spillFolder, unsigned threads = 0,
                                   const ProgressFn& progress = {});

// The lower median of each of `pixels` columns of nFrames frames of 32-bit
// values, frame f at stack + f * pixels.
Status median32_of_stack(const std::uint32_t* stack, std::uint64_t nFrames, std::size_t pixels, std::uint32_t* out,
                         unsigned threads = 0);

}  // namespace hedm
