// The median frame of any stack, exact like that of a frame file.
//
// The median reads a stack's frames in bands of pixels: from a file, with
// pread, where they lie there as plain pixels (a frame file, an
// uncompressed HDF5 dataset, contiguous or in chunks of whole frames); from
// the stack itself, on every thread, where its chunks are compressed in
// small blocks that each band decodes its own of (bitshuffle/LZ4); any
// other stack's (deflate in chunks of a whole frame, say, which would
// otherwise be decoded whole again for every band) decoded once, chunks on
// every thread where the codec is known, into an unnamed spill file in a
// folder the caller names.  16-bit stacks are selected as frame files are,
// on the same threads; 32-bit ones (photon-counting detectors) by the same
// selection on their values clamped to 65535, which keeps their order, and
// the pixels whose clamped median is 65535 again by their own values: the
// lower median, the value at index (n - 1) / 2 of the pixel's sorted
// values, either way.  A spill file needs frames x pixels x pixel width
// bytes of disk for the run's length and leaves nothing behind, however the
// run ends; anonymous memory stays that of the selection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "error.hpp"
#include "progress.hpp"
#include "stack.hpp"
#include "stack_median.hpp"

namespace hedm {

// An unnamed file in `folder` for frames spilled there (a named one,
// unlinked at once, where the file system offers no unnamed files): gone
// with its descriptor; -1 with errno set when none can be made.
int spill_file(const std::string& folder);
// Writes all n bytes to fd: false with errno set (ENOSPC for a write that
// stops short).
bool write_all(int fd, const void* data, std::size_t n);

// How a median is taken: where a stack that must be decoded is spilled,
// on how many threads (0: one per processor the process may run on), and
// who hears of the progress (the bytes decoded, where they are, then the
// bytes selected: a decoded stack counts its bytes twice).
struct MedianRun {
  std::string spillFolder;
  unsigned threads = 0;
  ProgressFn progress;
};

// The median frame of every frame of `stack`, of its frame shape and pixel
// width.  Errors: the stack's own (a frame that cannot be read), Output
// for a spill file that cannot be written (a full disk), Memory, Data for
// a stack of no frame.
Result<Frame> median_frame(Stack& stack, const MedianRun& run);

// The medians of a 16-bit stack handed to `sink` in pixel order as they
// are known (StackCollapse writes a frame file as they come); an Argument
// error for a 32-bit stack.
Status median_bands(Stack& stack, const MedianRun& run, const BandSink& sink);

// The lower median of each of `pixels` columns of nFrames frames of 32-bit
// values in memory, frame f at stack + f * pixels.
Status median32_of_stack(const std::uint32_t* stack, std::uint64_t nFrames, std::size_t pixels, std::uint32_t* out,
                         unsigned threads = 0);

}  // namespace hedm
