#include "stack_median.hpp"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "band_runner.hpp"
#include "median.hpp"
#include "memory.hpp"

namespace hedm {

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

// One thread's reader of frames lying in a file, with pread: the page
// cache's pages are copied from the kernel's own mapping of them, at the
// same speed whatever size of page the cache holds the file in (a mapping
// of the file in this process reads it at the speed of its page-table
// walks, several times slower where the cache holds small pages, and
// counts the whole file in the process's resident memory).  Where the page
// cache does not hold a band's slices (a file not read lately), the
// thread's next band's slices are asked for ahead, so that the disk reads
// them while this band is selected, many at a time, rather than one slice
// at a time as each is needed.
class FileFrames {
 public:
  FileFrames(InputFile& in, const FramesInFile& frames) : in_(&in), frames_(frames) {}
  std::uint64_t frames() const { return frames_.nFrames; }
  bool wide() const { return frames_.pixelBytes == 4; }
  Status read(std::uint64_t f, std::size_t p0, std::size_t count, pixelvalue* dst) {
    const std::size_t bytes = count * sizeof(pixelvalue);
    const std::size_t got = in_->read_cached(dst, bytes, offset(f, p0));
    if (got == bytes) return ok();
    ++uncached_;
    return in_->read_at(reinterpret_cast<char*>(dst) + got, bytes - got, offset(f, p0) + got);
  }
  Status read(std::uint64_t f, std::size_t p0, std::size_t count, std::uint32_t* dst) {
    return in_->read_at(dst, count * 4, offset(f, p0));
  }
  // Where more than an eighth of the band just read had to come from the
  // disk, the next band's slices are asked for now.  A file the page cache
  // holds gives nearly every slice at once, and asking for a cached band
  // ahead would cost a system call per frame for nothing; a file read cold
  // misses on most slices.  An eighth tells the two apart with room for
  // the few pages another reader or the system dropped meanwhile.
  void ahead(std::size_t p0, std::size_t count) {
    if (uncached_ > frames_.nFrames / 8)
      for (std::uint64_t f = 0; f < frames_.nFrames; ++f)
        in_->prefetch(offset(f, p0), count * std::uint64_t{frames_.pixelBytes});
    uncached_ = 0;
  }

 private:
  std::uint64_t offset(std::uint64_t f, std::size_t p0) const { return frames_.offset(f, p0); }
  InputFile* in_;
  FramesInFile frames_;
  std::uint64_t uncached_ = 0;  // slices of the band being read that the disk had to give
};

// One thread's reader of a stack that reads bands of pixels on every
// thread at once (its chunks decoded a few blocks at a time).
class BandFrames {
 public:
  explicit BandFrames(Stack& stack) : stack_(&stack) {}
  std::uint64_t frames() const { return stack_->frames(); }
  bool wide() const { return stack_->pixel_bytes() == 4; }
  template <class T>
  Status read(std::uint64_t f, std::size_t p0, std::size_t count, T* dst) {
    return stack_->read(f, 1, p0, count, dst);
  }
  void ahead(std::size_t, std::size_t) {}

 private:
  Stack* stack_;
};

// One thread's slices of frames read by `Frames` (FileFrames, BandFrames).
// 32-bit frames are selected by their values clamped to 65535 (kept in
// order, so that every median below 65535 is exact), and a band's pixels
// whose median reaches 65535 again, by their values from 65535 up (less
// 65535, clamped again), which a shallow band keeps beside its clamped
// slices as it reads them; the few whose median is 131070 or more (hot
// pixels, masked ones) are read again and selected by their own values.
// Every median of the band goes to wideOut.
template <class Frames>
class Slices {
 public:
  Slices(Frames frames, std::uint32_t* wideOut = nullptr) : frames_(std::move(frames)), wideOut_(wideOut) {}
  bool reserve(std::size_t pixels) {
    buffer_ = allocate_array<pixelvalue>(pixels);
    return buffer_ != nullptr;
  }
  // A shallow band's slices, frame after frame.
  Status fill(std::uint64_t f, std::size_t p0, std::size_t count, pixelvalue* dst) {
    if (!frames_.wide()) return frames_.read(f, p0, count, dst);
    if (wide_.size() < count) wide_.resize(count);
    if (Status s = frames_.read(f, p0, count, wide_.data()); !s) return s;
    if (f == 0) kept_ = Kept{p0, count, 0};
    if (kept_.p0 != p0 || kept_.count != count || kept_.frames != f) {  // not in order: not kept
      kept_.frames = 0;
      clamp_to_sixteen(wide_.data(), count, dst);
      return ok();
    }
    above_.resize(static_cast<std::size_t>(frames_.frames() * count));
    split_sixteen(wide_.data(), count, dst, above_.data() + f * count);
    ++kept_.frames;
    return ok();
  }
  // A coded band's slices, one at a time.
  Result<const pixelvalue*> view(std::uint64_t f, std::size_t p0, std::size_t count) {
    pixelvalue* dst = buffer_.get();
    Status s = frames_.wide() ? read_clamped(f, p0, count, dst) : frames_.read(f, p0, count, dst);
    if (!s) return s.error();
    return static_cast<const pixelvalue*>(dst);
  }
  void ahead(std::size_t p0, std::size_t count) { frames_.ahead(p0, count); }
  Status finish(std::size_t p0, std::size_t count, const pixelvalue* medians);

 private:
  Status read_clamped(std::uint64_t f, std::size_t p0, std::size_t count, pixelvalue* dst) {
    if (wide_.size() < count) wide_.resize(count);
    if (Status s = frames_.read(f, p0, count, wide_.data()); !s) return s;
    clamp_to_sixteen(wide_.data(), count, dst);
    return ok();
  }
  void select_kept();
  Status select_wide();
  void select_columns(std::size_t g0, std::size_t g1);
  // The 16-bit medians of `rows` (frames_.frames() rows of width values,
  // stride apart) to medians_; false where the selector could not be had.
  bool select_sixteen(const pixelvalue* rows, std::size_t stride, std::size_t width);

  Frames frames_;
  std::uint32_t* wideOut_;
  AlignedPtr<pixelvalue> buffer_;  // one slice, for coded bands
  std::vector<std::uint32_t> wide_;  // one slice of 32-bit values
  std::vector<pixelvalue> above_;  // a shallow band's values from 65535 up, frame after frame
  struct Kept {
    std::size_t p0 = 0, count = 0;
    std::uint64_t frames = 0;  // the band's frames in above_ so far
  } kept_;
  std::vector<std::size_t> high_;  // the band's pixels whose clamped median is 65535
  std::vector<std::uint32_t> columns_;  // their values, frame by frame
  std::vector<std::uint32_t> column_;  // one pixel's values
  std::vector<pixelvalue> shifted_, medians_;  // values from 65535 up, frame by frame; their medians
  std::unique_ptr<StackMedian> highSelector_;
};

template <class Frames>
Status Slices<Frames>::finish(std::size_t p0, std::size_t count, const pixelvalue* medians) {
  if (!wideOut_) return ok();
  high_.clear();
  for (std::size_t k = 0; k < count; ++k) {
    wideOut_[p0 + k] = medians[k];
    if (medians[k] == 0xffff) high_.push_back(p0 + k);
  }
  const bool kept = kept_.p0 == p0 && kept_.count == count && kept_.frames == frames_.frames();
  kept_.frames = 0;
  if (kept && !high_.empty()) select_kept();
  return high_.empty() ? ok() : select_wide();
}

template <class Frames>
bool Slices<Frames>::select_sixteen(const pixelvalue* rows, std::size_t stride, std::size_t width) {
  if (!highSelector_) highSelector_ = std::make_unique<StackMedian>(static_cast<std::int64_t>(frames_.frames()));
  if (!highSelector_->ok()) return false;
  medians_.resize(width);
  highSelector_->collapse(rows, stride, width, medians_.data());
  return true;
}

// The pixels of high_ selected by their values from 65535 up, kept in
// above_: each median below 65535 there is the pixel's less 65535.  Those
// whose median is 65535 there too stay in high_.
template <class Frames>
void Slices<Frames>::select_kept() {
  const std::size_t n = static_cast<std::size_t>(frames_.frames()), width = high_.size(), stride = width + 32;
  shifted_.resize(n * stride);
  for (std::size_t f = 0; f < n; ++f) {
    const pixelvalue* from = above_.data() + f * kept_.count - kept_.p0;
    pixelvalue* to = shifted_.data() + f * stride;
    for (std::size_t i = 0; i < width; ++i) to[i] = from[high_[i]];
  }
  if (!select_sixteen(shifted_.data(), stride, width)) return;
  std::size_t left = 0;
  for (std::size_t i = 0; i < width; ++i) {
    if (medians_[i] < 0xffff) wideOut_[high_[i]] = 0xffff + std::uint32_t{medians_[i]};
    else high_[left++] = high_[i];
  }
  high_.resize(left);
}

// The medians of the band's pixels in high_ by their 32-bit values, read
// again, as many pixels at a time as 16 MiB of values hold: each frame read
// once per group of pixels, in runs from one pixel to the next where they
// lie close together (a row of masked pixels is one read).
template <class Frames>
Status Slices<Frames>::select_wide() {
  const std::uint64_t n = frames_.frames();
  const std::size_t group = static_cast<std::size_t>(std::max<std::uint64_t>(1, (std::size_t{4} << 20) / n));
  constexpr std::size_t kGap = 1024;  // pixels read between two of the group rather than read apart
  for (std::size_t g0 = 0; g0 < high_.size(); g0 += group) {
    const std::size_t g1 = std::min(high_.size(), g0 + group);
    columns_.resize((g1 - g0) * n);
    for (std::uint64_t f = 0; f < n; ++f)
      for (std::size_t i = g0; i < g1;) {
        std::size_t j = i + 1;  // pixels i .. j - 1 in one read
        while (j < g1 && high_[j] - high_[j - 1] <= kGap) ++j;
        const std::size_t first = high_[i], span = high_[j - 1] - first + 1;
        if (wide_.size() < span) wide_.resize(span);
        if (Status s = frames_.read(f, first, span, wide_.data()); !s) return s;
        for (; i < j; ++i) columns_[f * (g1 - g0) + i - g0] = wide_[high_[i] - first];
      }
    select_columns(g0, g1);
  }
  return ok();
}

// The medians of pixels g0 .. g1 - 1 of high_, their values frame by frame
// in columns_: by their values from 65535 up where that median is below
// 65535, else by their own values.
template <class Frames>
void Slices<Frames>::select_columns(std::size_t g0, std::size_t g1) {
  const std::size_t n = static_cast<std::size_t>(frames_.frames()), width = g1 - g0, stride = width + 32;
  shifted_.resize(n * stride);
  for (std::size_t f = 0; f < n; ++f) above_sixteen(columns_.data() + f * width, width, shifted_.data() + f * stride);
  const bool selected = select_sixteen(shifted_.data(), stride, width);
  const std::size_t k = (n - 1) / 2;
  for (std::size_t i = 0; i < width; ++i) {
    if (selected && medians_[i] < 0xffff) {
      wideOut_[high_[g0 + i]] = 0xffff + std::uint32_t{medians_[i]};
      continue;
    }
    column_.resize(n);
    for (std::size_t f = 0; f < n; ++f) column_[f] = columns_[f * width + i];
    std::nth_element(column_.begin(), column_.begin() + static_cast<std::ptrdiff_t>(k), column_.end());
    wideOut_[high_[g0 + i]] = column_[k];
  }
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
