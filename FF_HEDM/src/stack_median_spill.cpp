#include "stack_median_spill.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "band_runner.hpp"
#include "input_file.hpp"

namespace hedm {

int spill_file(const std::string& folder) {
  int fd;
  do fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  while (fd < 0 && errno == EINTR);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  std::string name = folder + "/.hedm-spill.XXXXXX";
  fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) ::unlink(name.c_str());
  return fd;
}

bool write_all(int fd, const void* data, std::size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = ENOSPC;
      return false;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

namespace {

Error spill_error(const std::string& folder, int e) {
  return Error{ErrorKind::Output,
               "Could not write the decoded frames to a spill file in " + folder + ": " + std::strerror(e) + "."};
}

// Every frame of the stack, in order, at the spill file's end.
template <class T>
Status spill_frames(Stack& stack, int fd, const std::string& folder, ProgressCounter& decoded) {
  std::vector<T> frame(stack.pixels());
  for (std::uint64_t f = 0; f < stack.frames(); ++f) {
    if (Status s = stack.read_frame(f, frame.data()); !s) return s;
    if (!write_all(fd, frame.data(), frame.size() * sizeof(T))) return spill_error(folder, errno);
    if (Status s = decoded.add(frame.size() * sizeof(T)); !s) return s;
  }
  return ok();
}

bool pwrite_all(int fd, const unsigned char* p, std::size_t n, std::uint64_t at) {
  while (n > 0) {
    const ssize_t w = ::pwrite(fd, p, n, static_cast<off_t>(at));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = ENOSPC;
      return false;
    }
    p += w, at += static_cast<std::uint64_t>(w);
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

// Every frame of a stack that reads on several threads at once (its chunks
// decoded by this process), decoded as many frames at a time as a chunk
// holds, on the run's threads, each group written at its place in the
// spill file in the stack's own width.
Status spill_in_parallel(Stack& stack, int fd, const MedianRun& run, ProgressCounter& decoded) {
  const std::uint64_t k = std::max<std::uint64_t>(1, stack.frames_per_read()), frames = stack.frames();
  const std::size_t pixels = static_cast<std::size_t>(stack.pixels());
  const unsigned e = stack.pixel_bytes(), threads = run.threads ? run.threads : worker_threads();
  std::vector<std::vector<unsigned char>> buffers(threads);
  auto work = [&](unsigned t, std::size_t g) -> Status {
    const std::uint64_t f0 = g * k, n = std::min(k, frames - f0);
    const std::size_t bytes = static_cast<std::size_t>(n * pixels * e);
    buffers[t].resize(bytes);
    const Status read = e == 2 ? stack.read(f0, n, 0, pixels, reinterpret_cast<std::uint16_t*>(buffers[t].data()))
                               : stack.read(f0, n, 0, pixels, reinterpret_cast<std::uint32_t*>(buffers[t].data()));
    if (!read) return read;
    if (!pwrite_all(fd, buffers[t].data(), bytes, f0 * pixels * e)) return spill_error(run.spillFolder, errno);
    return decoded.add(bytes);
  };
  return run_bands(threads, static_cast<std::size_t>((frames + k - 1) / k), work);
}

// A 32-bit stack spilled as 16-bit values while every value read fits in
// 16 bits, as the frames of a photon-counting detector's darks nearly
// always do: the fast 16-bit selection then gives the same medians.  The
// first value beyond 16 bits turns the spill into 32-bit values, the frames
// before it widened.  *narrow says which the spill holds.
Status spill_wide_frames(Stack& stack, int fd, const std::string& folder, bool* narrow, ProgressCounter& decoded) {
  const std::size_t pixels = static_cast<std::size_t>(stack.pixels());
  std::vector<std::uint32_t> frame(pixels);
  std::vector<std::uint16_t> low(pixels);
  *narrow = true;
  for (std::uint64_t f = 0; f < stack.frames(); ++f) {
    if (Status s = stack.read_frame(f, frame.data()); !s) return s;
    if (*narrow && *std::max_element(frame.begin(), frame.end()) > 0xffff) {
      // Widen the frames spilled so far, in place, from the last to the
      // first: wide frame g takes the bytes of narrow frames 2g and 2g + 1,
      // which are frame g itself (read into memory before it is written)
      // or frames after it, already widened and moved.
      *narrow = false;
      for (std::uint64_t g = f; g-- > 0;) {
        const off_t from = static_cast<off_t>(g * pixels * 2), to = static_cast<off_t>(g * pixels * 4);
        if (::pread(fd, low.data(), pixels * 2, from) != static_cast<ssize_t>(pixels * 2)) return spill_error(folder, EIO);
        std::vector<std::uint32_t> wide(low.begin(), low.end());
        if (::pwrite(fd, wide.data(), pixels * 4, to) != static_cast<ssize_t>(pixels * 4))
          return spill_error(folder, errno);
      }
      if (::lseek(fd, static_cast<off_t>(f * pixels * 4), SEEK_SET) < 0) return spill_error(folder, errno);
    }
    bool written;
    if (*narrow) {
      std::copy(frame.begin(), frame.end(), low.begin());
      written = write_all(fd, low.data(), pixels * 2);
    } else {
      written = write_all(fd, frame.data(), pixels * 4);
    }
    if (!written) return spill_error(folder, errno);
    if (Status s = decoded.add(pixels * 4); !s) return s;
  }
  return ok();
}

// The lower median of each of `pixels` columns of nFrames frames of 32-bit
// values, frame f's pixels p0 .. p0 + count - 1 copied to dst by
// fill(f, p0, count, dst) (an error stops the run).  Bands of pixels whose
// columns take at most 8 MiB are copied out of the frames a row at a time,
// then each column selected on its own, on `threads` threads.
template <class Fill>
Status median32_in_bands(std::uint64_t nFrames, std::size_t pixels, std::uint32_t* out, unsigned threads,
                         Fill&& fill, const ProgressFn& progress) {
  if (threads == 0) threads = worker_threads();
  const std::size_t band =
      std::clamp<std::size_t>((std::size_t{8} << 20) / (sizeof(std::uint32_t) * std::max<std::uint64_t>(nFrames, 1)),
                              1, std::max<std::size_t>(pixels, 1));
  const std::size_t nBands = (pixels + band - 1) / band;
  const std::size_t k = static_cast<std::size_t>((nFrames - 1) / 2);
  ProgressCounter counter(progress, nFrames * pixels * sizeof(std::uint32_t));
  // Each thread's columns and column, made when it takes its first band.
  std::vector<std::vector<std::uint32_t>> columns(threads), column(threads);
  auto work = [&](unsigned t, std::size_t b) -> Status {
    if (column[t].empty()) {
      columns[t].resize(band * nFrames);
      column[t].resize(nFrames);
    }
    const std::size_t p0 = b * band, count = std::min(band, pixels - p0);
    for (std::uint64_t f = 0; f < nFrames; ++f)
      if (Status s = fill(f, p0, count, columns[t].data() + f * count); !s) return s;
    for (std::size_t p = 0; p < count; ++p) {
      for (std::uint64_t f = 0; f < nFrames; ++f) column[t][f] = columns[t][f * count + p];
      std::nth_element(column[t].begin(), column[t].begin() + static_cast<std::ptrdiff_t>(k), column[t].end());
      out[p0 + p] = column[t][k];
    }
    return counter.add(nFrames * count * sizeof(std::uint32_t));
  };
  return run_bands(threads, nBands, work);
}

}  // namespace

Status median32_of_stack(const std::uint32_t* stack, std::uint64_t nFrames, std::size_t pixels, std::uint32_t* out,
                         unsigned threads) {
  auto fill = [&](std::uint64_t f, std::size_t p0, std::size_t count, std::uint32_t* dst) {
    std::memcpy(dst, stack + f * pixels + p0, count * sizeof(std::uint32_t));
    return ok();
  };
  return median32_in_bands(nFrames, pixels, out, threads, fill, ProgressFn{});
}

namespace {

// A stack's frames where the median reads them in bands.
struct Bands {
  InputFile spill;  // the spill file they were decoded into, if they were (closing it removes it)
  RawFrames raw{nullptr, {0, 0, 0}};  // the frames: where they lie, or in the spill file
  bool wide = false;  // 32-bit values
  Stack* direct = nullptr;  // a stack read in bands on every thread, neither in place nor spilled
  ProgressFn selected;  // the selection's share of the run's progress
};

// Where the median reads `stack`'s frames: where they lie (a frame file),
// or decoded once into a spill file in run.spillFolder.
Status place_frames(Stack& stack, const MedianRun& run, Bands& b) {
  if (stack.frames() == 0)
    return Error{ErrorKind::Data, "Input file " + stack.file() + " holds no frame (dataset " + stack.dataset() + ")."};
  if (const RawFrames* raw = stack.raw_frames()) {
    b.raw = *raw;
    b.wide = raw->frames.pixelBytes == 4;
    b.selected = run.progress;
    return ok();
  }
  if (stack.reads_bands()) {
    b.direct = &stack;
    b.wide = stack.pixel_bytes() == 4;
    b.selected = run.progress;
    return ok();
  }
  const int fd = spill_file(run.spillFolder);
  if (fd < 0) return spill_error(run.spillFolder, errno);
  if (Status s = b.spill.adopt(fd, "the spill file of " + stack.file()); !s) return s;
  // Decoding and selecting each count the stack's bytes: the run's progress
  // is both, one after the other.
  const std::uint64_t pixels = stack.pixels(), stackBytes = stack.frames() * pixels * stack.pixel_bytes();
  ProgressCounter decoded(progress_stage(run.progress, 0, 2 * stackBytes), stackBytes);
  bool narrow = stack.pixel_bytes() == 2;
  const Status spilled = stack.reads_in_parallel() ? spill_in_parallel(stack, fd, run, decoded)
                         : narrow                  ? spill_frames<std::uint16_t>(stack, fd, run.spillFolder, decoded)
                                                   : spill_wide_frames(stack, fd, run.spillFolder, &narrow, decoded);
  if (!spilled) return spilled;
  b.wide = !narrow;
  b.raw = RawFrames{&b.spill, FramesInFile{0, stack.frames(), static_cast<std::size_t>(pixels), narrow ? 2u : 4u}};
  b.selected = progress_stage(run.progress, stackBytes, 2 * stackBytes);
  return ok();
}

}  // namespace

Result<Frame> median_frame(Stack& stack, const MedianRun& run) {
  Bands b;
  if (Status s = place_frames(stack, run, b); !s) return s.error();
  Frame m(stack.rows(), stack.columns(), stack.pixel_bytes());
  if (m.pixels() == 0) return m;
  if (b.wide) {
    // 32-bit values, where they lie, in the spill file, or read in bands.
    std::uint32_t* out = std::get<1>(m.values).data();
    const Status s = b.direct ? median32_of_stack_bands(*b.direct, out, run.threads, b.selected)
                              : median32_of_frames_in_file(*b.raw.in, b.raw.frames, out, run.threads, b.selected);
    if (!s) return s.error();
    return m;
  }
  // 16-bit values: a 32-bit stack's, once selected, widened.
  std::vector<std::uint16_t> narrow;
  std::uint16_t* out = m.pixel_bytes() == 2 ? std::get<0>(m.values).data() : (narrow.resize(m.pixels()), narrow.data());
  const Status s = b.direct ? median_of_stack_bands(*b.direct, out, nullptr, run.threads, b.selected)
                            : median_of_frames_in_file(*b.raw.in, b.raw.frames, out, run.threads, b.selected);
  if (!s) return s.error();
  if (!narrow.empty()) std::copy(narrow.begin(), narrow.end(), std::get<1>(m.values).begin());
  return m;
}

Status median_bands(Stack& stack, const MedianRun& run, const BandSink& sink) {
  if (stack.pixel_bytes() != 2)
    return Error{ErrorKind::Argument, "The median of " + stack.file() + " holds 32-bit pixels: it is taken whole."};
  Bands b;
  if (Status s = place_frames(stack, run, b); !s) return s;
  if (b.direct) return median_of_stack_bands(*b.direct, nullptr, sink, run.threads, b.selected);
  return median_of_frames_in_file(*b.raw.in, b.raw.frames, sink, run.threads, b.selected);
}

}  // namespace hedm
