#include "stack_median_hdf5.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

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

// The spill file's descriptor and mapping, released together.
struct Spill {
  int fd = -1;
  void* map = MAP_FAILED;
  std::size_t bytes = 0;
  ~Spill() {
    if (map != MAP_FAILED) ::munmap(map, bytes);
    if (fd >= 0) ::close(fd);
  }
};

Error spill_error(const std::string& folder, int e) {
  return Error{ErrorKind::Output,
               "Could not write the decoded frames to a spill file in " + folder + ": " + std::strerror(e) + "."};
}

// Every frame of the stack, in order, at the spill file's end.
template <class T>
Status spill_frames(Hdf5Stack& stack, int fd, const std::string& folder) {
  std::vector<T> frame(stack.info().pixels());
  for (std::uint64_t f = 0; f < stack.info().frames; ++f) {
    if (Status s = stack.read_frame(f, frame.data()); !s) return s;
    if (!write_all(fd, frame.data(), frame.size() * sizeof(T))) return spill_error(folder, errno);
  }
  return ok();
}

// A 32-bit stack spilled as 16-bit values while every value read fits in
// 16 bits, as the frames of a photon-counting detector's darks nearly
// always do: the fast 16-bit selection then gives the same medians.  The
// first value beyond 16 bits turns the spill into 32-bit values, the frames
// before it widened.  *narrow says which the spill holds.
Status spill_wide_frames(Hdf5Stack& stack, int fd, const std::string& folder, bool* narrow) {
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
  }
  return ok();
}

}  // namespace

Status median32_of_stack(const std::uint32_t* stack, std::uint64_t nFrames, std::size_t pixels, std::uint32_t* out,
                         unsigned threads) {
  if (threads == 0) threads = worker_threads();
  // Bands of pixels whose columns take at most 8 MiB, copied out of the
  // frames a row at a time, then each column selected on its own.
  const std::size_t band =
      std::clamp<std::size_t>((std::size_t{8} << 20) / (sizeof(std::uint32_t) * std::max<std::uint64_t>(nFrames, 1)),
                              1, std::max<std::size_t>(pixels, 1));
  const std::size_t nBands = (pixels + band - 1) / band;
  const std::size_t k = static_cast<std::size_t>((nFrames - 1) / 2);
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    std::vector<std::uint32_t> columns(band * nFrames), column(nFrames);
    for (std::size_t b; (b = next.fetch_add(1)) < nBands;) {
      const std::size_t p0 = b * band, count = std::min(band, pixels - p0);
      for (std::uint64_t f = 0; f < nFrames; ++f)
        std::memcpy(columns.data() + f * count, stack + f * pixels + p0, count * sizeof(std::uint32_t));
      for (std::size_t p = 0; p < count; ++p) {
        for (std::uint64_t f = 0; f < nFrames; ++f) column[f] = columns[f * count + p];
        std::nth_element(column.begin(), column.begin() + static_cast<std::ptrdiff_t>(k), column.end());
        out[p0 + p] = column[k];
      }
    }
  };
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads && t < nBands; ++t) {
    try {
      pool.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // the started threads take every band
    }
  }
  work();
  for (std::thread& th : pool) th.join();
  return ok();
}

Result<MedianFrame> median_of_hdf5(Hdf5Stack& stack, const std::string& spillFolder, unsigned threads) {
  const StackInfo& info = stack.info();
  if (info.frames == 0)
    return Error{ErrorKind::Data, "Input file " + info.file + " holds no frame (dataset " + info.dataset + ")."};
  Spill spill;
  spill.fd = spill_file(spillFolder);
  if (spill.fd < 0) return spill_error(spillFolder, errno);
  bool narrow = info.pixelBytes == 2;
  const Status spilled = narrow ? spill_frames<std::uint16_t>(stack, spill.fd, spillFolder)
                                : spill_wide_frames(stack, spill.fd, spillFolder, &narrow);
  if (!spilled) return spilled.error();
  const std::size_t pixels = static_cast<std::size_t>(info.pixels());
  spill.bytes = static_cast<std::size_t>(info.frames * pixels * (narrow ? 2 : 4));
  if (spill.bytes > 0) {
    spill.map = ::mmap(nullptr, spill.bytes, PROT_READ, MAP_SHARED, spill.fd, 0);
    if (spill.map == MAP_FAILED) return Error{ErrorKind::Memory, "Could not map the spill file of " + info.file + "."};
  }
  MedianFrame m{info.rows, info.columns, info.pixelBytes, {}, {}};
  if (narrow) m.narrow.resize(pixels);
  else m.wide.resize(pixels);
  if (pixels == 0) return m;
  const Status s =
      narrow ? median_of_stack(static_cast<const std::uint16_t*>(spill.map), info.frames, pixels, m.narrow.data(), threads)
             : median32_of_stack(static_cast<const std::uint32_t*>(spill.map), info.frames, pixels, m.wide.data(), threads);
  if (!s) return s.error();
  if (narrow && info.pixelBytes == 4) {  // a 32-bit stack's medians, as 32-bit values
    m.wide.assign(m.narrow.begin(), m.narrow.end());
    m.narrow.clear();
  }
  return m;
}

}  // namespace hedm
