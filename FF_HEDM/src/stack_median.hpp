// The median frame of a whole stack, a band of pixels at a time: one slice
// of every frame per band, so that memory stays bounded whatever the depth.
// Shallow stacks' slices go into one reused buffer whose slices lie a cache
// line more than their size apart (rows a frame apart would all fall into
// the same cache sets); deep stacks' are coded one at a time as they are
// read (CodedMedian).  Frames come from a file (StackCollapse) or from
// memory (the Python module), with the same selection and the same result.
//
// The bands are shared out among threads, one per processor the process may
// run on: each thread takes the next band not yet taken and selects it with
// a selector and buffers of its own, so that every pixel goes through the
// same selection whichever thread selects it, and the medians are the same
// whatever the number of threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "frame_file.hpp"
#include "input_file.hpp"

namespace hedm {

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

// For files: shallow stacks fill a buffer of 8 MiB per band, of whole pages
// of each frame.  Coded bands keep their codes in the cache up to 512
// frames (slices of 32 to 64 KiB); deeper ones write them past it, and take
// slices of 64 KiB up to 1536 frames (1440 frames: 45 MiB of codes), few
// enough calls that reading the file this way costs about a quarter more
// than reading it whole in order (32 KiB slices: a half more).
inline constexpr BandBudget kFileBands{8u << 20, 24u << 20, 16u << 10, 48u << 20, 2048};
// For a mapped file, whose slices cost no call: shallow stacks' bands take
// 1 MiB, which stays in the second-level cache between the copy and the
// selection (100 frames, one thread: 230 to 270 ms against 267 to 316 ms
// with 8 MiB, side by side); coded bands as for files.
inline constexpr BandBudget kMappedBands{1u << 20, 1u << 20, 16u << 10, 48u << 20, 2048};
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
unsigned worker_threads();

// The median frame of the whole frames of an opened frame file, as
// StackCollapse writes it, on `threads` threads (0: worker_threads()).
// An Input error naming the file when it cannot be read, a Memory error
// when memory cannot be had; a failure on any thread stops them all and
// gives its one error.
Status median_of_file(InputFile& in, std::uint64_t nFrames, pixelvalue* out, unsigned threads = 0);
// The same, the medians handed to `sink` as soon as they and all before them
// are known, in pixel order (first, medians, count), from one thread at a
// time; an error from the sink stops the run and is the run's error.
// StackCollapse writes them out as they come.
using BandSink = std::function<Status(std::size_t, const pixelvalue*, std::size_t)>;
Status median_of_file(InputFile& in, std::uint64_t nFrames, const BandSink& sink, unsigned threads = 0);

// The median frame of nFrames frames of `pixels` pixels in memory, frame f
// at stack + f * pixels, on `threads` threads (0: worker_threads()).  A
// Memory error is the only failure.
Status median_of_stack(const pixelvalue* stack, std::uint64_t nFrames, std::size_t pixels, pixelvalue* out,
                       unsigned threads = 0);

}  // namespace hedm
