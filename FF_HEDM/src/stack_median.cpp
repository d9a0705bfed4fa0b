#include "stack_median.hpp"

#include <sched.h>
#include <setjmp.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

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
// (this one among them), each taking the next band that no thread has
// taken.  select(t, p0, count, dst, err) selects a band on thread t's own
// selector and buffers, its medians to dst: the band's place in `frame`
// where there is a frame, else (one thread only) the buffer `own`.  put
// takes the medians in pixel order, from one thread at a time: each band as
// it is selected with one thread, and with several, every run of bands
// whose bands before it are all selected.
//
// The first failure on any thread (select false, or put's error) is kept
// and stops every thread before its next band; an exception thrown on a
// thread (memory that ran out) is thrown again here once all have stopped.
// A thread that cannot be started leaves its bands to the others.
template <class Select>
Status run_bands(unsigned threads, std::size_t pixels, std::size_t band, pixelvalue* frame, pixelvalue* own,
                 Select&& select, const BandSink& put) {
  const std::size_t nBands = (pixels + band - 1) / band;
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  std::mutex failure, order;
  Error firstError{ErrorKind::Input, ""};
  std::exception_ptr thrown;
  std::vector<char> done(nBands, 0);
  std::size_t handed = 0;  // bands handed to put
  bool handing = false;    // a thread is handing bands to put
  auto fail = [&](Error error, std::exception_ptr e) {
    std::lock_guard<std::mutex> lock(failure);
    if (!stop.exchange(true)) {
      firstError = std::move(error);
      thrown = e;
    }
  };
  auto work = [&](unsigned t) {
    Error e{ErrorKind::Input, ""};
    try {
      for (std::size_t b; !stop.load(std::memory_order_relaxed) && (b = next.fetch_add(1)) < nBands;) {
        const std::size_t p0 = b * band, count = std::min(band, pixels - p0);
        pixelvalue* dst = frame ? frame + p0 : own;
        if (!select(t, p0, count, dst, &e)) return fail(e, nullptr);
        if (!frame) {
          if (!put) continue;
          if (Status s = put(p0, dst, count); !s) return fail(s.error(), nullptr);
          continue;
        }
        // The bands selected in order so far go to put from one thread at a
        // time, outside the lock: a thread that finds another handing them
        // on leaves its band to that one and selects its next band.
        std::unique_lock<std::mutex> lock(order);
        done[b] = 1;
        if (handing) continue;
        handing = true;
        for (;;) {
          std::size_t end = handed;
          while (end < nBands && done[end]) ++end;
          if (end == handed || !put || stop.load()) break;
          const std::size_t first = handed * band, last = std::min(end * band, pixels);
          handed = end;
          lock.unlock();
          const Status handedOn = put(first, frame + first, last - first);
          lock.lock();
          if (!handedOn) {
            handing = false;
            lock.unlock();
            return fail(handedOn.error(), nullptr);
          }
        }
        handing = false;
      }
    } catch (...) {
      fail(Error{ErrorKind::Memory, ""}, std::current_exception());
    }
  };
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) {
    try {
      pool.emplace_back(work, t);
    } catch (const std::system_error&) {
      break;  // no more threads to be had: the started ones take all bands
    }
  }
  work(0);
  for (std::thread& th : pool) th.join();
  if (thrown) std::rethrow_exception(thrown);
  if (stop) return firstError;
  return ok();
}

// Bands over all `pixels` on `threads` threads (0: worker_threads()), thread
// t reading its slices through sources[t]: fill(f, p0, count, dst, err)
// copies frame f's pixels p0 .. p0 + count - 1 to dst; view(f, p0, count,
// err) gives them where they can be read (in memory, or copied into a
// buffer of its own), nullptr on failure; ahead(p0, count) hears of the band
// the thread is likely to take after the one it is about to select.  The
// medians go to `out` (all pixels) where it is given, and to put in pixel
// order.
template <class Source>
Status collapse_in_bands(std::uint64_t nFrames, std::size_t pixels, const BandBudget& budget, unsigned threads,
                         std::vector<Source>& sources, pixelvalue* out, const BandSink& put) {
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
  for (unsigned t = 0; t < threads; ++t) sources[t].share(t, threads);
  const std::size_t stepBands = threads;  // bands the other threads take before a thread's next one
  if (coded) {
    // Deep stacks: a slice of every frame at a time, coded as it comes.
    std::vector<std::unique_ptr<CodedMedian>> selectors;
    for (unsigned t = 0; t < threads; ++t) {
      selectors.push_back(std::make_unique<CodedMedian>(static_cast<std::int64_t>(nFrames), band, threads));
      if (!selectors.back()->ok() || !sources[t].reserve(band)) return out_of_memory(nFrames * band);
    }
    auto select = [&](unsigned t, std::size_t p0, std::size_t count, pixelvalue* dst, Error* e) {
      Source& source = sources[t];
      if (p0 + stepBands * band < pixels)
        source.ahead(p0 + stepBands * band, std::min(band, pixels - p0 - stepBands * band));
      // Made here, outside the guarded reads: a jump back from a faulting
      // read skips no object with a destructor.
      const CodedMedian::Slice slice = [&](std::int64_t f) {
        return source.view(static_cast<std::uint64_t>(f), p0, count, e);
      };
      return source.guarded([&] { return selectors[t]->collapse(count, slice, dst); });
    };
    return run_bands(threads, pixels, band, out, own.get(), select, put);
  }
  const std::size_t stride = band + 32;
  struct Shallow {
    AlignedPtr<pixelvalue> slices;
    StackMedian selector;
  };
  std::vector<std::unique_ptr<Shallow>> shallow;
  for (unsigned t = 0; t < threads; ++t) {
    shallow.push_back(std::make_unique<Shallow>(
        Shallow{allocate_huge_array<pixelvalue>(nFrames * stride), StackMedian(static_cast<std::int64_t>(nFrames))}));
    if (!shallow.back()->slices || !shallow.back()->selector.ok())
      return out_of_memory(nFrames * stride * sizeof(pixelvalue));
  }
  auto select = [&](unsigned t, std::size_t p0, std::size_t count, pixelvalue* dst, Error* e) {
    Source& source = sources[t];
    Shallow& s = *shallow[t];
    if (p0 + stepBands * band < pixels)
      source.ahead(p0 + stepBands * band, std::min(band, pixels - p0 - stepBands * band));
    return source.guarded([&] {
      for (std::uint64_t f = 0; f < nFrames; ++f)
        if (!source.fill(f, p0, count, s.slices.get() + f * stride, e)) return false;
      s.selector.collapse(s.slices.get(), stride, count, dst);
      return true;
    });
  };
  return run_bands(threads, pixels, band, out, own.get(), select, put);
}

// Reading a mapped file that has been cut short since it was opened (or a
// page the disk cannot give) raises SIGBUS.  While a thread selects a band
// from the mapping it arms a jump back to where the band began; the band is
// then read again with pread, which fails with a message that says why.
// The handler is in place while any run reads a mapping; a SIGBUS that is
// not such a read is left to the handler that was there before.
thread_local sigjmp_buf* tArmed = nullptr;
std::mutex gBusMutex;
int gBusUsers = 0;
struct sigaction gBusBefore;

extern "C" void on_bus_error(int sig, siginfo_t* info, void* context) {
  if (sigjmp_buf* jump = tArmed) {
    tArmed = nullptr;
    siglongjmp(*jump, 1);
  }
  if ((gBusBefore.sa_flags & SA_SIGINFO) && gBusBefore.sa_sigaction) return gBusBefore.sa_sigaction(sig, info, context);
  if (!(gBusBefore.sa_flags & SA_SIGINFO) && gBusBefore.sa_handler != SIG_DFL && gBusBefore.sa_handler != SIG_IGN)
    return gBusBefore.sa_handler(sig);
  ::signal(SIGBUS, SIG_DFL);  // the faulting read runs again and ends the process as it would have
}

class BusGuard {
 public:
  BusGuard() {
    std::lock_guard<std::mutex> lock(gBusMutex);
    if (gBusUsers++ > 0) return;
    struct sigaction sa = {};
    sa.sa_sigaction = on_bus_error;
    sa.sa_flags = SA_SIGINFO;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGBUS, &sa, &gBusBefore);
  }
  ~BusGuard() {
    std::lock_guard<std::mutex> lock(gBusMutex);
    if (--gBusUsers == 0) ::sigaction(SIGBUS, &gBusBefore, nullptr);
  }
  BusGuard(const BusGuard&) = delete;
  BusGuard& operator=(const BusGuard&) = delete;
};

// One thread's reader of a frame file's slices: from the file's mapping
// where there is one (the page cache's pages read where they lie, no call
// and no copy per slice), else with pread.  Where the page cache does not
// hold a band's slices (a file not read lately), the thread's next band's
// slices are asked for ahead, so that the disk reads them while this band
// is selected, many at a time, rather than one slice at a time as each is
// needed.
class FileSlices {
 public:
  FileSlices(InputFile& in, std::uint64_t nFrames, const unsigned char* map)
      : in_(&in), nFrames_(nFrames), map_(map) {}
  bool reserve(std::size_t pixels) {
    buffer_ = allocate_array<pixelvalue>(pixels);
    return buffer_ != nullptr;
  }
  // select() run with reads from the mapping guarded: where one faults,
  // select() again with pread.
  template <class Select>
  bool guarded(Select&& select) {
    if (!map_) return select();
    sigjmp_buf jump;
    if (sigsetjmp(jump, 1) == 0) {
      tArmed = &jump;
      const bool ok = select();
      tArmed = nullptr;
      return ok;
    }
    map_ = nullptr;
    return select();
  }
  bool fill(std::uint64_t f, std::size_t p0, std::size_t count, pixelvalue* dst, Error* err) {
    const std::size_t bytes = count * sizeof(pixelvalue);
    if (map_) {
      std::memcpy(dst, map_ + offset(f, p0), bytes);
      return true;
    }
    const std::size_t got = in_->read_cached(dst, bytes, offset(f, p0));
    if (got == bytes) return true;
    ++uncached_;
    const Status s = in_->read_at(reinterpret_cast<char*>(dst) + got, bytes - got, offset(f, p0) + got);
    if (!s) *err = s.error();
    return static_cast<bool>(s);
  }
  const pixelvalue* view(std::uint64_t f, std::size_t p0, std::size_t count, Error* err) {
    if (map_) return reinterpret_cast<const pixelvalue*>(map_ + offset(f, p0));
    return fill(f, p0, count, buffer_.get(), err) ? buffer_.get() : nullptr;
  }
  // Thread t of `threads`: where the file is in the page cache, the
  // thread's share of the mapping is mapped in one go before its first band
  // (its pages then cost no fault each; 1440 frames, one thread: 0.2 to 0.3
  // s of processor time less).
  void share(unsigned t, unsigned threads) {
    share_ = {t, threads};
  }
  void ahead(std::size_t p0, std::size_t count) {
    const std::size_t bytes = count * sizeof(pixelvalue);
    if (map_ && share_.second) {
      const std::uint64_t first = nFrames_ * share_.first / share_.second, end = nFrames_ * (share_.first + 1) / share_.second;
      share_ = {};
      if (warm()) in_->populate(offset(first, 0), (end - first) * kFrameBytes);
    }
    // Read from the mapping, one slice of the band is looked up in the page
    // cache, a frame further on each time; read with pread, the band just
    // read tells.
    const bool cold = map_ ? !in_->resident(offset(probes_++ * 7919 % nFrames_, p0), bytes) : uncached_ > nFrames_ / 8;
    if (cold)
      for (std::uint64_t f = 0; f < nFrames_; ++f) in_->prefetch(offset(f, p0), bytes);
    uncached_ = 0;
  }

 private:
  static std::uint64_t offset(std::uint64_t f, std::size_t p0) {
    return kHeaderBytes + f * kFrameBytes + p0 * sizeof(pixelvalue);
  }
  // Whether the page cache holds the file, as 16 of its pages tell.
  bool warm() const {
    for (std::uint64_t i = 0; i < 16; ++i)
      if (!in_->resident(offset(nFrames_ * i / 16, kPixelsPerFrame * i / 16), 1)) return false;
    return true;
  }
  std::pair<unsigned, unsigned> share_ = {};
  InputFile* in_;
  std::uint64_t nFrames_;
  const unsigned char* map_;
  std::uint64_t probes_ = 0;
  std::uint64_t uncached_ = 0;  // slices of the band being read that the disk had to give
  AlignedPtr<pixelvalue> buffer_;  // one slice, for coded bands read with pread
};

// A thread's reader of a stack in memory: slices are read where they lie.
class StackSlices {
 public:
  StackSlices(const pixelvalue* stack, std::size_t pixels) : stack_(stack), pixels_(pixels) {}
  bool reserve(std::size_t) { return true; }
  void share(unsigned, unsigned) {}
  template <class Select>
  bool guarded(Select&& select) {
    return select();
  }
  bool fill(std::uint64_t f, std::size_t p0, std::size_t count, pixelvalue* dst, Error*) {
    std::memcpy(dst, stack_ + f * pixels_ + p0, count * sizeof(pixelvalue));
    return true;
  }
  const pixelvalue* view(std::uint64_t f, std::size_t p0, std::size_t, Error*) {
    return stack_ + f * pixels_ + p0;
  }
  void ahead(std::size_t, std::size_t) {}

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

Status collapse_file(InputFile& in, std::uint64_t nFrames, pixelvalue* out, const BandSink& sink, unsigned threads) {
  BusGuard guard;
  const unsigned char* map = in.mapping();

  std::vector<FileSlices> sources;
  for (unsigned t = 0; t < kMaxThreads; ++t) sources.emplace_back(in, nFrames, map);
  return collapse_in_bands(nFrames, kPixelsPerFrame, map ? kMappedBands : kFileBands, threads, sources, out, sink);
}

}  // namespace

Status median_of_file(InputFile& in, std::uint64_t nFrames, const BandSink& sink, unsigned threads) {
  return collapse_file(in, nFrames, nullptr, sink, threads);
}

Status median_of_file(InputFile& in, std::uint64_t nFrames, pixelvalue* out, unsigned threads) {
  return collapse_file(in, nFrames, out, nullptr, threads);
}

Status median_of_stack(const pixelvalue* stack, std::uint64_t nFrames, std::size_t pixels, pixelvalue* out,
                       unsigned threads) {
  std::vector<StackSlices> sources(kMaxThreads, StackSlices(stack, pixels));
  return collapse_in_bands(nFrames, pixels, kMemoryBands, threads, sources, out, nullptr);
}

}  // namespace hedm
