// The median frame of a whole stack, a band of pixels at a time: one slice
// of every frame per band, so that memory stays bounded whatever the depth.
// Shallow stacks' slices go into one reused buffer whose slices lie a cache
// line more than their size apart (rows a frame apart would all fall into
// the same cache sets); deep stacks' are coded one at a time as they are
// read (CodedMedian).  Frames come from a file (StackCollapse) or from
// memory (the Python module), with the same selection and the same result;
// stack_median_spill.hpp takes them from any Stack.
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
#include "median_limits.hpp"
#include "progress.hpp"
#include "stack.hpp"

namespace hedm {

// The bands' budgets (BandBudget: kFileBands, kMemoryBands)
// and kMaxThreads are in median_limits.hpp.
//
// Threads a stack is selected with: one per processor the process may run
// on, at most kMaxThreads, at least one.
unsigned worker_threads();

// The median frame of frames lying in a file one after another (a frame
// file's, or a decoded stack's spill file), read in bands with pread, on
// `threads` threads (0: worker_threads()).  An Input error naming the file
// when it cannot be read, a Memory error when memory cannot be had; a
// failure on any thread stops them all and gives its one error.
// `progress` hears of the bytes selected so far out of all.
Status median_of_frames_in_file(InputFile& in, const FramesInFile& frames, pixelvalue* out, unsigned threads = 0,
                                const ProgressFn& progress = {});
// The same, the medians handed to `sink` as soon as they and all before them
// are known, in pixel order (first, medians, count), from one thread at a
// time; an error from the sink stops the run and is the run's error.
// StackCollapse writes them out as they come.
using BandSink = std::function<Status(std::size_t, const pixelvalue*, std::size_t)>;
Status median_of_frames_in_file(InputFile& in, const FramesInFile& frames, const BandSink& sink,
                                unsigned threads = 0, const ProgressFn& progress = {});

// The median frame of 32-bit frames lying in a file (frames.pixelBytes 4),
// the lower median of each pixel's values: selected as 16-bit frames are,
// on values clamped to 65535, and where a pixel's median reaches 65535,
// again by its own 32-bit values; errors as above.
Status median32_of_frames_in_file(InputFile& in, const FramesInFile& frames, std::uint32_t* out,
                                  unsigned threads = 0, const ProgressFn& progress = {});

// The same of a stack whose reads of a band of pixels cost about the
// band's share (Stack::reads_bands: its chunks decoded a few blocks at a
// time), read on every thread, with no spill file: a 16-bit stack's
// medians to out (all pixels) or else to the sink, a 32-bit stack's to
// out32.
Status median_of_stack_bands(Stack& stack, pixelvalue* out, const BandSink& sink, unsigned threads = 0,
                             const ProgressFn& progress = {});
Status median32_of_stack_bands(Stack& stack, std::uint32_t* out32, unsigned threads = 0,
                               const ProgressFn& progress = {});

// The median frame of nFrames frames of `pixels` pixels in memory, frame f
// at stack + f * pixels, on `threads` threads (0: worker_threads()).  A
// Memory error is the only failure.
Status median_of_stack(const pixelvalue* stack, std::uint64_t nFrames, std::size_t pixels, pixelvalue* out,
                       unsigned threads = 0);

}  // namespace hedm
