#include "io.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "text_format.hpp"

namespace hedm {

namespace {
std::string reason(int e) { return std::strerror(e); }
}  // namespace

void* allocate_aligned(std::size_t bytes) {
  constexpr std::size_t kPage = 4096;
  if (bytes == 0) bytes = 1;
  if (bytes > SIZE_MAX - kPage) return nullptr;
  return std::aligned_alloc(kPage, (bytes + kPage - 1) / kPage * kPage);
}

void* allocate_huge(std::size_t bytes) {
  constexpr std::size_t kHuge = 2u << 20;
  if (bytes < kHuge) return allocate_aligned(bytes);
  if (bytes > SIZE_MAX - kHuge) return nullptr;
  const std::size_t rounded = (bytes + kHuge - 1) / kHuge * kHuge;
  void* p = std::aligned_alloc(kHuge, rounded);
  if (p) ::madvise(p, rounded, MADV_HUGEPAGE);  // a hint: without it the buffer still works
  return p;
}

std::string out_of_memory_message(std::size_t bytes) {
  return "Could not obtain " + std::to_string(bytes) + " bytes of memory. Exiting.";
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool InputFile::open(const std::string& path, std::string* err) {
  path_ = path;
  int fd;
  do fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    *err = "Could not open " + path + ": " + reason(errno) + ".";
    return false;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    int e = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd);
    *err = "Could not open " + path + ": " + reason(e) + ".";
    return false;
  }
  off_t end = S_ISREG(st.st_mode) ? st.st_size : ::lseek(fd, 0, SEEK_END);
  if (end < 0) {
    ::close(fd);
    *err = "Could not open " + path + ": its size cannot be found (not a regular file).";
    return false;
  }
  fd_ = fd;
  size_ = static_cast<std::uint64_t>(end);
  return true;
}

bool InputFile::read_upto(void* dst, std::size_t n, std::uint64_t offset, std::size_t* got,
                          std::string* err) {
  char* p = static_cast<char*>(dst);
  std::size_t done = 0;
  while (done < n) {
    ssize_t r = ::pread(fd_, p + done, n - done, static_cast<off_t>(offset + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      *err = "Could not read " + path_ + ": " + reason(errno) + ".";
      return false;
    }
    if (r == 0) break;
    done += static_cast<std::size_t>(r);
  }
  *got = done;
  return true;
}

bool InputFile::read_at(void* dst, std::size_t n, std::uint64_t offset, std::string* err) {
  std::size_t got = 0;
  if (!read_upto(dst, n, offset, &got, err)) return false;
  if (got < n) {
    *err = "Could not read " + path_ + " in full: it ended at byte " +
           std::to_string(offset + got) + " of " + std::to_string(offset + n) + ".";
    return false;
  }
  return true;
}

bool OutputFile::create(const std::string& path, std::string* err) {
  discard();
  path_ = path;
  int fd;
  do fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    *err = "Could not create " + path + ": " + reason(errno) + ".";
    return false;
  }
  struct stat st;
  removable_ = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  fd_ = fd;
  return true;
}

bool OutputFile::write(const void* data, std::size_t n, std::string* err) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t w = ::write(fd_, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      int e = w < 0 ? errno : ENOSPC;
      *err = "Could not write " + path_ + ": " + reason(e) + ".";
      discard();
      return false;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

bool OutputFile::commit(std::string* err) {
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    *err = "Could not write " + path_ + ": " + reason(errno) + ".";
    if (removable_) ::unlink(path_.c_str());
    return false;
  }
  return true;
}

void OutputFile::discard() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  if (removable_) ::unlink(path_.c_str());
}

TextWriter::TextWriter(OutputFile& file) : file_(file), buf_(new char[kCapacity + kSlack]) {}

void TextWriter::drain() {
  if (!failed_ && len_ > 0 && !file_.write(buf_.get(), len_, &err_)) failed_ = true;
  len_ = 0;
}

void TextWriter::put(std::string_view s) {
  while (!s.empty()) {
    reserve(1);
    std::size_t n = std::min(s.size(), kCapacity - len_);
    std::memcpy(buf_.get() + len_, s.data(), n);
    len_ += n;
    s.remove_prefix(n);
  }
}

void TextWriter::fixed6(double v) {
  reserve(kSlack);
  len_ = static_cast<std::size_t>(format_fixed6(buf_.get() + len_, v) - buf_.get());
}

void TextWriter::integer(long long v) {
  reserve(32);
  len_ = static_cast<std::size_t>(format_int(buf_.get() + len_, v) - buf_.get());
}

bool TextWriter::flush(std::string* err) {
  drain();
  if (failed_) *err = err_;
  return !failed_;
}

void say(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace hedm
