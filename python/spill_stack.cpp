#include "spill_stack.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "stack_median_spill.hpp"

namespace hedm {

namespace {

Error spill_error(const std::string& folder, int e) {
  return Error{ErrorKind::Output, "Could not write the frames to a spill file in " + folder + ": " + std::strerror(e) + "."};
}

}  // namespace

SpillStack::SpillStack(std::string folder, std::uint64_t rows, std::uint64_t columns, unsigned pixelBytes, int fd)
    : folder_(std::move(folder)), name_("the spill file in " + folder_), rows_(rows), columns_(columns),
      pixelBytes_(pixelBytes), fd_(fd) {}

SpillStack::~SpillStack() {
  if (!finished_ && fd_ >= 0) ::close(fd_);
}

Result<std::unique_ptr<SpillStack>> SpillStack::create(const std::string& folder, std::uint64_t rows,
                                                       std::uint64_t columns, unsigned pixelBytes) {
  const int fd = spill_file(folder);
  if (fd < 0) return spill_error(folder, errno);
  return std::unique_ptr<SpillStack>(new SpillStack(folder, rows, columns, pixelBytes, fd));
}

Status SpillStack::append(const void* frame) {
  if (finished_) return Error{ErrorKind::Argument, "A frame was appended to " + name_ + " after its last."};
  if (!write_all(fd_, frame, static_cast<std::size_t>(pixels() * pixelBytes_))) return spill_error(folder_, errno);
  ++frames_;
  return ok();
}

Status SpillStack::finish() {
  if (finished_) return ok();
  finished_ = true;  // the InputFile owns the descriptor from here on, however adopting ends
  if (Status s = in_.adopt(fd_, name_); !s) return s;
  raw_ = RawFrames{&in_, FramesInFile{0, frames_, static_cast<std::size_t>(pixels())}};
  return ok();
}

Status SpillStack::window(std::uint64_t f0, std::uint64_t n, std::uint64_t p0, std::uint64_t count) const {
  if (!finished_) return Error{ErrorKind::Argument, "Frames were read from " + name_ + " before its last was written."};
  if (f0 > frames_ || n > frames_ - f0 || p0 > pixels() || count > pixels() - p0)
    return Error{ErrorKind::Argument, "A window outside the frames of " + name_ + " was asked for."};
  return ok();
}

// Each frame's window read at once when the widths agree, else through a
// buffer of the stack's width, widened.
template <class T>
Status SpillStack::read_as(std::uint64_t f0, std::uint64_t n, std::uint64_t p0, std::uint64_t count, T* dst,
                           std::uint64_t stride) {
  if (Status s = window(f0, n, p0, count); !s) return s;
  if (sizeof(T) < pixelBytes_) return Error{ErrorKind::Argument, "The 32-bit frames of " + name_ + " were read as 16-bit."};
  if (stride == 0) stride = count;
  std::vector<std::uint16_t> narrow(sizeof(T) == pixelBytes_ ? 0 : count);
  for (std::uint64_t i = 0; i < n; ++i) {
    const std::uint64_t at = ((f0 + i) * pixels() + p0) * pixelBytes_;
    T* out = dst + i * stride;
    if (narrow.empty()) {
      if (Status s = in_.read_at(out, count * sizeof(T), at); !s) return s;
      continue;
    }
    if (Status s = in_.read_at(narrow.data(), count * 2, at); !s) return s;
    std::copy(narrow.begin(), narrow.end(), out);
  }
  return ok();
}

Status SpillStack::read(std::uint64_t f0, std::uint64_t n, std::uint64_t p0, std::uint64_t count, std::uint16_t* dst,
                        std::uint64_t stride) {
  return read_as(f0, n, p0, count, dst, stride);
}

Status SpillStack::read(std::uint64_t f0, std::uint64_t n, std::uint64_t p0, std::uint64_t count, std::uint32_t* dst,
                        std::uint64_t stride) {
  return read_as(f0, n, p0, count, dst, stride);
}

}  // namespace hedm
