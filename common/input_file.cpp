#include "input_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace hedm {

namespace {
std::string reason(int e) { return std::strerror(e); }
}  // namespace

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

int open_for_reading(const std::string& path, int* fd, struct stat* info) {
  int f;
  do f = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  while (f < 0 && errno == EINTR);
  if (f < 0) return errno;
  struct stat own;
  struct stat& st = info ? *info : own;
  const bool statted = ::fstat(f, &st) == 0;
  if (!statted || S_ISDIR(st.st_mode)) {
    const int e = statted ? EISDIR : errno;
    ::close(f);
    return e;
  }
  *fd = f;
  return 0;
}

Status InputFile::open(const std::string& path) {
  path_ = path;
  int fd = -1;
  struct stat st;
  if (const int e = open_for_reading(path, &fd, &st)) return input_error("Could not open " + path + ": " + reason(e) + ".");
  off_t end = S_ISREG(st.st_mode) ? st.st_size : ::lseek(fd, 0, SEEK_END);
  if (end < 0) {
    ::close(fd);
    return input_error("Could not open " + path + ": its size cannot be found (not a regular file).");
  }
  fd_ = fd;
  size_ = static_cast<std::uint64_t>(end);
  return ok();
}

Status InputFile::adopt(int fd, const std::string& name) {
  path_ = name;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int e = errno;
    ::close(fd);
    return input_error("Could not read " + name + ": " + reason(e) + ".");
  }
  fd_ = fd;
  size_ = static_cast<std::uint64_t>(st.st_size);
  return ok();
}

Result<std::size_t> InputFile::read_upto(void* dst, std::size_t n, std::uint64_t offset) {
  char* p = static_cast<char*>(dst);
  std::size_t done = 0;
  while (done < n) {
    ssize_t r = ::pread(fd_, p + done, n - done, static_cast<off_t>(offset + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      return input_error("Could not read " + path_ + ": " + reason(errno) + ".");
    }
    if (r == 0) break;
    done += static_cast<std::size_t>(r);
  }
  return done;
}

Status InputFile::read_at(void* dst, std::size_t n, std::uint64_t offset) {
  const Result<std::size_t> got = read_upto(dst, n, offset);
  if (!got) return got.error();
  if (*got < n)
    return input_error("Could not read " + path_ + " in full: it ended at byte " + std::to_string(offset + *got) +
                       " of " + std::to_string(offset + n) + ".");
  return ok();
}

std::size_t InputFile::read_cached(void* dst, std::size_t n, std::uint64_t offset) {
  struct iovec slice = {dst, n};
  const ssize_t r = ::preadv2(fd_, &slice, 1, static_cast<off_t>(offset), RWF_NOWAIT);
  return r > 0 ? static_cast<std::size_t>(r) : 0;
}

void InputFile::prefetch(std::uint64_t offset, std::uint64_t n) const {
  ::posix_fadvise(fd_, static_cast<off_t>(offset), static_cast<off_t>(n), POSIX_FADV_WILLNEED);
}

}  // namespace hedm
