#include "stack_median_hdf5.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "band_runner.hpp"
#include "input_file.hpp"
#include "stack_median.hpp"

namespace hedm {

namespace {

// An unnamed file in `folder` (a named one, unlinked at once, where the file
// system offers no unnamed files): gone with its descriptor.
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

Error spill_error(const std::string& folder, int e) {
  return Error{ErrorKind::Output,
               "Could not write the decoded frames to a spill file in " + folder + ": " + std::strerror(e) + "."};
}

// Every frame of the stack, in order, at the spill file's end.
template <class T>
Status spill_frames(Hdf5Stack& stack, int fd, const std::string& folder, ProgressCounter& decoded) {
  std::vector<T> frame(stack.info().pixels());
  for (std::uint64_t f = 0; f < stack.info().frames; ++f) {
    if (Status s = stack.read_frame(f, frame.data()); !s) return s;
    if (!write_all(fd, frame.data(), frame.size() * sizeof(T))) return spill_error(folder, errno);
    if (Status s = decoded.add(frame.size() * sizeof(T)); !s) return s;
  }
  return ok();
}

// A 32-bit stack spilled as 16-bit values while every value read fits in
// 16 bits, as the frames of a photon-counting detector's darks nearly
// always do: the fast 16-bit selection then gives the same medians.  The
// first value beyond 16 bits turns the spill into 32-bit values, the frames
// before it widened.  *narrow says which the spill holds.
Status spill_wide_frames(Hdf5Stack& stack, int fd, const std::string& folder, bool* narrow,
                         ProgressCounter& decoded) {
  const std::size_t pixels = static_cast<std::size_t>(stack.info().pixels());
  std::vector<std::uint32_t> frame(pixels);
  std::vector<std::uint16_t> low(pixels);
  *narrow = true;
  for (std::uint64_t f = 0; f < stack.info().frames; ++f) {
    if (Status s = stack.read_frame(f, frame.data()); !s) return s;
    if (*narrow && *std::max_element(frame.begin(), frame.end()) > 0xffff) {
      // Widen the frames spilled so far, in place from the last: each
      // widened frame ends where the narrow ones after it began.
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

Result<MedianFrame> median_of_hdf5(Hdf5Stack& stack, const std::string& spillFolder, unsigned threads,
                                   const ProgressFn& progress) {
  const StackInfo& info = stack.info();
  if (info.frames == 0)
    return Error{ErrorKind::Data, "Input file " + info.file + " holds no frame (dataset " + info.dataset + ")."};
  const int fd = spill_file(spillFolder);
  if (fd < 0) return spill_error(spillFolder, errno);
  InputFile spill;  // closes the spill file, and so removes it, however the run ends
  if (Status s = spill.adopt(fd, "the spill file of " + info.file); !s) return s.error();
  // Decoding and selecting each count the stack's bytes: the run's progress
  // is both, one after the other.
  const std::uint64_t pixels = info.pixels(), stackBytes = info.frames * pixels * info.pixelBytes;
  const ProgressFn decoding = progress_stage(progress, 0, 2 * stackBytes);
  ProgressCounter decoded(decoding, stackBytes);
  bool narrow = info.pixelBytes == 2;
  const Status spilled = narrow ? spill_frames<std::uint16_t>(stack, fd, spillFolder, decoded)
                                : spill_wide_frames(stack, fd, spillFolder, &narrow, decoded);
  if (!spilled) return spilled.error();
  MedianFrame m{info.rows, info.columns, info.pixelBytes, {}, {}};
  if (narrow) m.narrow.resize(pixels);
  else m.wide.resize(pixels);
  if (pixels == 0) return m;
  // The spill is read back in bands with pread, as frame files are: mapped,
  // its pages would count in the run's resident memory, all of them.
  const ProgressFn selected = progress_stage(progress, stackBytes, 2 * stackBytes);
  Status s = ok();
  if (narrow) {
    s = median_of_frames_in_file(spill, FramesInFile{0, info.frames, static_cast<std::size_t>(pixels)},
                                 m.narrow.data(), threads, selected);
  } else {
    auto fill = [&](std::uint64_t f, std::size_t p0, std::size_t count, std::uint32_t* dst) {
      return spill.read_at(dst, count * sizeof(std::uint32_t), (f * pixels + p0) * sizeof(std::uint32_t));
    };
    s = median32_in_bands(info.frames, static_cast<std::size_t>(pixels), m.wide.data(), threads, fill, selected);
  }
  if (!s) return s.error();
  if (narrow && info.pixelBytes == 4) {  // a 32-bit stack's medians, as 32-bit values
    m.wide.assign(m.narrow.begin(), m.narrow.end());
    m.narrow.clear();
  }
  return m;
}

}  // namespace hedm
