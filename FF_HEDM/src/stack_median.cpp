#include "stack_median.hpp"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "band_runner.hpp"
#include "median.hpp"
#include "median_readers.hpp"
#include "memory.hpp"

namespace hedm {

using median_readers::BandFrames;
using median_readers::FileFrames;
using median_readers::Slices;

namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

// With several threads, bands of at most this many pixels (a multiple of
// step): four bands per thread at least, so that the last bands keep every
// thread busy to nearly the end.
std::size_t four_per_thread(std::size_t pixels, unsigned threads, std::size_t step) {
  const std::size_t share = (pixels + 4 * threads - 1) / (4 * threads);
  return (share + step - 1) / step * step;
}

// Pixels per band for a stack of nFrames frames of `pixels` pixels: a
// multiple of the budget's step (slices page-aligned in a file), all
// pixels at most.
std::size_t band_pixels(std::uint64_t nFrames, std::size_t pixels, const BandBudget& budget, unsigned threads) {
  const std::size_t bytes = static_cast<std::size_t>(
      std::clamp<std::uint64_t>(nFrames * budget.sliceBytes, budget.minBytes, budget.maxBytes));
  const std::size_t step = budget.bandStep;
  std::size_t band = bytes / (sizeof(pixelvalue) * nFrames) / step * step;
  if (threads > 1) band = std::min(band, four_per_thread(pixels, threads, step));
  return std::clamp(band, std::min(step, pixels), std::max<std::size_t>(pixels, 1));
}

// Each thread's codes where several threads select coded bands at once:
// as many as keep the whole run within 32 MiB and 32 MiB more per thread.
// Of that, 10 MiB go to what the threads share (the frame of medians, the
// program itself); each thread's other buffers take about 140 bytes per
// band pixel, its side rows up to an eighth of its codes, and 2 MiB may go
// to rounding to huge pages: 8 MiB set aside per thread covers them.
std::size_t code_bytes(const BandBudget& budget, unsigned threads) {
  if (threads <= 1) return budget.codeBytes;
  const std::size_t perThread = ((32 + 32 * std::size_t{threads} - 10) * kMiB) / threads - 8 * kMiB;
  return std::min(budget.codeBytes, perThread / 9 * 8);
}

// Pixels per coded band (a multiple of kTile, never many more than the
// frame holds).  Where slices of kMinCachedBandPixels or more leave the
// codes in the cache, the band is as large as that allows, up to
// kMaxCodedBandPixels; deeper stacks' codes go past the cache in any case,
// and their bands are as large as the budget allows (kMaxCodedBandPixels
// at most, one tile at least), for fewer and longer reads.
std::size_t coded_band_pixels(std::uint64_t nFrames, std::size_t pixels, const BandBudget& budget,
                              unsigned threads) {
  constexpr std::size_t kTile = StackMedian::kTile;
  const std::uint64_t rows = std::max<std::uint64_t>(nFrames, 1);
  // Each frame's codes take a line more than the band's pixels.
  const std::size_t cached = static_cast<std::size_t>(kCachedCodeBytes / rows) / kTile * kTile - kTile;
  const std::size_t budgeted = static_cast<std::size_t>(code_bytes(budget, threads) / rows) / kTile * kTile;
  std::size_t wanted = cached >= kMinCachedBandPixels ? std::min(cached, kMaxCodedBandPixels)
                                                     : std::clamp(budgeted, kTile, kMaxCodedBandPixels);
  if (threads > 1) wanted = std::min(wanted, four_per_thread(pixels, threads, kTile));
  return std::min(wanted, (pixels + kTile - 1) / kTile * kTile);
}

// Bands of `band` pixels over all `pixels`, selected on `threads` threads
// by the band runner: select(t, p0, count, dst) selects a band on
// thread t's own selector and buffers, its medians to dst: the band's place
// in `frame` where there is a frame, else (one thread only) the buffer
// `own`.  put takes the medians in pixel order: each band as it is selected
// with one thread, and with several, every run of bands whose bands before
// it are all selected.
template <class Select>
Status select_bands(unsigned threads, std::size_t pixels, std::size_t band, pixelvalue* frame, pixelvalue* own,
                    Select&& select, const BandSink& put) {
  const std::size_t nBands = (pixels + band - 1) / band;
  auto work = [&](unsigned t, std::size_t b) -> Status {
    const std::size_t p0 = b * band, count = std::min(band, pixels - p0);
    pixelvalue* dst = frame ? frame + p0 : own;
    if (Status s = select(t, p0, count, dst); !s) return s;
    if (!frame && put) return put(p0, dst, count);
    return ok();
  };
  BandsDone inOrder;
  if (frame && put)
    inOrder = [&](std::size_t first, std::size_t end) {
      const std::size_t p0 = first * band, last = std::min(end * band, pixels);
      return put(p0, frame + p0, last - p0);
    };
  return run_bands(threads, nBands, work, inOrder);
}

// What every band of a run shares: the stack's depth and pixels, the band,
// the threads, where the medians go (`out`, all pixels, or else each
// band's in `own`) and the count of the bytes selected.
struct BandRun {
  std::uint64_t nFrames;
  std::size_t pixels, band;
  unsigned threads;
  pixelvalue *out, *own;
  ProgressCounter* counter;

  // Counts a band's bytes as selected; the watcher's error where it stops
  // the run.
  Status count(std::size_t count) const { return counter->add(nFrames * count * sizeof(pixelvalue)); }
  // Tells a thread's source of the band it is likely to take after the one
  // at p0: the other threads take one each before it.
  template <class Source>
  void ahead(Source& source, std::size_t p0) const {
    const std::size_t next = p0 + std::size_t{threads} * band;
    if (next < pixels) source.ahead(next, std::min(band, pixels - next));
  }
};

// Deep stacks: a slice of every frame at a time, coded as it comes.
template <class Source>
Status select_coded(const BandRun& run, std::vector<Source>& sources, const BandSink& put) {
  std::vector<std::unique_ptr<CodedMedian>> selectors;
  for (unsigned t = 0; t < run.threads; ++t) {
    selectors.push_back(std::make_unique<CodedMedian>(static_cast<std::int64_t>(run.nFrames), run.band, run.threads));
    if (!selectors.back()->ok() || !sources[t].reserve(run.band)) return out_of_memory(run.nFrames * run.band);
  }
  auto select = [&](unsigned t, std::size_t p0, std::size_t count, pixelvalue* dst) -> Status {
    Source& source = sources[t];
    run.ahead(source, p0);
    Status failed = ok();  // why a slice could not be had
    const CodedMedian::Slice slice = [&](std::int64_t f) -> const pixelvalue* {
      Result<const pixelvalue*> v = source.view(static_cast<std::uint64_t>(f), p0, count);
      if (v) return *v;
      failed = v.error();
      return nullptr;
    };
    if (!selectors[t]->collapse(count, slice, dst)) return failed;
    if (Status s = source.finish(p0, count, dst); !s) return s;
    return run.count(count);
  };
  return select_bands(run.threads, run.pixels, run.band, run.out, run.own, select, put);
}

// Shallow stacks: a slice of every frame copied into one buffer, then selected.
template <class Source>
Status select_shallow(const BandRun& run, std::vector<Source>& sources, const BandSink& put) {
  const std::size_t stride = run.band + 32;
  struct Shallow {
    AlignedPtr<pixelvalue> slices;
    StackMedian selector;
  };
  std::vector<std::unique_ptr<Shallow>> shallow;
  for (unsigned t = 0; t < run.threads; ++t) {
    shallow.push_back(std::make_unique<Shallow>(Shallow{allocate_huge_array<pixelvalue>(run.nFrames * stride),
                                                        StackMedian(static_cast<std::int64_t>(run.nFrames))}));
    if (!shallow.back()->slices || !shallow.back()->selector.ok())
      return out_of_memory(run.nFrames * stride * sizeof(pixelvalue));
  }
  auto select = [&](unsigned t, std::size_t p0, std::size_t count, pixelvalue* dst) -> Status {
    Source& source = sources[t];
    Shallow& s = *shallow[t];
    run.ahead(source, p0);
    for (std::uint64_t f = 0; f < run.nFrames; ++f)
      if (Status got = source.fill(f, p0, count, s.slices.get() + f * stride); !got) return got;
    s.selector.collapse(s.slices.get(), stride, count, dst);
    if (Status s = source.finish(p0, count, dst); !s) return s;
    return run.count(count);
  };
  return select_bands(run.threads, run.pixels, run.band, run.out, run.own, select, put);
}

// Bands over all `pixels` on `threads` threads (0: worker_threads()), thread
// t reading its slices through sources[t]: fill(f, p0, count, dst) copies
// frame f's pixels p0 .. p0 + count - 1 to dst; view(f, p0, count) gives
// them where they can be read (in memory, or copied into a buffer of its
// own); each returns the error of a read that failed.  ahead(p0, count)
// hears of the band the thread is likely to take after the one it is about
// to select; finish(p0, count, medians) of a band's medians once selected.  The medians go to `out` (all pixels) where it is given, and
// to put in pixel order.
template <class Source>
Status collapse_in_bands(std::uint64_t nFrames, std::size_t pixels, const BandBudget& budget, unsigned threads,
                         std::vector<Source>& sources, pixelvalue* out, const BandSink& put,
                         const ProgressFn& progress) {
  if (threads == 0) threads = worker_threads();
  threads = std::min<unsigned>(threads, static_cast<unsigned>(sources.size()));
  const bool coded = nFrames >= kMinCodedFrames && nFrames <= kMaxFastFrames;
  const std::size_t band = coded ? coded_band_pixels(nFrames, pixels, budget, threads)
                                 : band_pixels(nFrames, pixels, budget, threads);
  threads = static_cast<unsigned>(std::min<std::size_t>(threads, (pixels + band - 1) / band));
  // One thread hands each band's medians on from a buffer of its own; with
  // several, bands are selected out of order into a whole frame.
  AlignedPtr<pixelvalue> frame, own;
  if (!out && threads > 1) {
    frame = allocate_huge_array<pixelvalue>(pixels);
    out = frame.get();
  }
  if (!out) {
    // A shallow stack's medians take one huge page at least: filled afresh
    // on every run, a buffer of small pages costs a page fault per 4 KiB
    // (at 10 frames, 200 of them, a tenth of the run).
    own = coded ? allocate_array<pixelvalue>(band)
                : allocate_huge_array<pixelvalue>(std::max(band, kHugePageBytes / sizeof(pixelvalue)));
    if (!own) return out_of_memory(band * sizeof(pixelvalue));
  }
  ProgressCounter counter(progress, nFrames * pixels * sizeof(pixelvalue));
  const BandRun run{nFrames, pixels, band, threads, out, own.get(), &counter};
  return coded ? select_coded(run, sources, put) : select_shallow(run, sources, put);
}

// A thread's reader of a stack in memory: slices are read where they lie.
class StackSlices {
 public:
  StackSlices(const pixelvalue* stack, std::size_t pixels) : stack_(stack), pixels_(pixels) {}
  bool reserve(std::size_t) { return true; }
  Status fill(std::uint64_t f, std::size_t p0, std::size_t count, pixelvalue* dst) {
    std::memcpy(dst, stack_ + f * pixels_ + p0, count * sizeof(pixelvalue));
    return ok();
  }
  Result<const pixelvalue*> view(std::uint64_t f, std::size_t p0, std::size_t) { return stack_ + f * pixels_ + p0; }
  void ahead(std::size_t, std::size_t) {}
  Status finish(std::size_t, std::size_t, const pixelvalue*) { return ok(); }

 private:
  const pixelvalue* stack_;
  std::size_t pixels_;
};

}  // namespace

unsigned worker_threads() {
  // The mask's set grows until it holds every processor the system numbers.
  for (int cpus = CPU_SETSIZE; cpus <= (1 << 20); cpus *= 2) {
    cpu_set_t* set = CPU_ALLOC(cpus);
    if (!set) return 1;
    const std::size_t size = CPU_ALLOC_SIZE(cpus);
    const int got = sched_getaffinity(0, size, set);
    const int count = got == 0 ? CPU_COUNT_S(size, set) : 0;
    CPU_FREE(set);
    if (got == 0) return std::clamp<unsigned>(static_cast<unsigned>(count), 1, kMaxThreads);
    if (errno != EINVAL) return 1;
  }
  return 1;
}

namespace {

// The medians of frames read by `frames` (one copy a thread), 16-bit ones
// to out or the sink, 32-bit ones clamped into out and exactly to wideOut.
template <class Frames>
Status collapse(const Frames& frames, std::size_t pixels, pixelvalue* out, const BandSink& sink, unsigned threads,
                const ProgressFn& progress, std::uint32_t* wideOut = nullptr) {
  std::vector<Slices<Frames>> sources;
  for (unsigned t = 0; t < kMaxThreads; ++t) sources.emplace_back(frames, wideOut);
  return collapse_in_bands(frames.frames(), pixels, kFileBands, threads, sources, out, sink, progress);
}

// 32-bit frames: selected on their clamped values, then the pixels whose
// clamped median is 65535 by their own.
template <class Frames>
Status collapse32(const Frames& frames, std::size_t pixels, std::uint32_t* out, unsigned threads,
                  const ProgressFn& progress) {
  AlignedPtr<pixelvalue> clamped = allocate_huge_array<pixelvalue>(pixels);
  if (!clamped) return out_of_memory(pixels * sizeof(pixelvalue));
  // The bytes selected are counted as the frames' own, of 32 bits each.
  ProgressFn wide;
  if (progress) wide = [&progress](std::uint64_t done, std::uint64_t total) { return progress(2 * done, 2 * total); };
  return collapse(frames, pixels, clamped.get(), nullptr, threads, wide, out);
}

}  // namespace

Status median_of_frames_in_file(InputFile& in, const FramesInFile& frames, const BandSink& sink, unsigned threads,
                                const ProgressFn& progress) {
  return collapse(FileFrames(in, frames), frames.pixels, nullptr, sink, threads, progress);
}

Status median_of_frames_in_file(InputFile& in, const FramesInFile& frames, pixelvalue* out, unsigned threads,
                                const ProgressFn& progress) {
  return collapse(FileFrames(in, frames), frames.pixels, out, nullptr, threads, progress);
}

Status median_of_stack(const pixelvalue* stack, std::uint64_t nFrames, std::size_t pixels, pixelvalue* out,
                       unsigned threads) {
  std::vector<StackSlices> sources(kMaxThreads, StackSlices(stack, pixels));
  return collapse_in_bands(nFrames, pixels, kMemoryBands, threads, sources, out, nullptr, ProgressFn{});
}

Status median32_of_frames_in_file(InputFile& in, const FramesInFile& frames, std::uint32_t* out, unsigned threads,
                                  const ProgressFn& progress) {
  if (frames.pixelBytes != 4)
    return Error{ErrorKind::Argument, "The 32-bit median asked of 16-bit frames."};
  return collapse32(FileFrames(in, frames), frames.pixels, out, threads, progress);
}

Status median_of_stack_bands(Stack& stack, pixelvalue* out, const BandSink& sink, unsigned threads,
                             const ProgressFn& progress) {
  if (stack.pixel_bytes() != 2) return Error{ErrorKind::Argument, "The 16-bit median asked of 32-bit frames."};
  return collapse(BandFrames(stack), static_cast<std::size_t>(stack.pixels()), out, sink, threads, progress);
}

Status median32_of_stack_bands(Stack& stack, std::uint32_t* out, unsigned threads, const ProgressFn& progress) {
  if (stack.pixel_bytes() != 4) return Error{ErrorKind::Argument, "The 32-bit median asked of 16-bit frames."};
  return collapse32(BandFrames(stack), static_cast<std::size_t>(stack.pixels()), out, threads, progress);
}

}  // namespace hedm
