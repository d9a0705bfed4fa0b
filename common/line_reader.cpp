#include "line_reader.hpp"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "input_file.hpp"

namespace hedm {

namespace {
constexpr std::size_t kBufferBytes = 1 << 16;
}  // namespace

LineReader::~LineReader() {
  if (fd_ >= 0) ::close(fd_);
}

Status LineReader::open(const std::string& path, const std::string& what) {
  name_ = what + " " + path;
  if (const int e = open_for_reading(path, &fd_))
    return input_error(std::string(e == EISDIR ? "Could not read " : "Could not open ") + name_ + ": " +
                       std::strerror(e) + ".");
  buf_.reset(new char[kBufferBytes]);
  return ok();
}

Status LineReader::status() const {
  if (error_ == 0) return ok();
  return input_error("Could not read " + name_ + ": " + std::strerror(error_) + ".");
}

bool LineReader::fill() {
  pos_ = len_ = 0;
  for (;;) {
    const ssize_t r = ::read(fd_, buf_.get(), kBufferBytes);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) error_ = errno;
    if (r <= 0) return false;
    len_ = static_cast<std::size_t>(r);
    return true;
  }
}

bool LineReader::next(const char** piece, std::size_t* length) {
  if (fd_ < 0 || error_) return false;
  std::size_t n = 0;
  bool ended = false;
  while (n < kPieceChars && !ended) {
    if (pos_ == len_ && !fill()) break;
    const std::size_t room = std::min(kPieceChars - n, len_ - pos_);
    const char* start = buf_.get() + pos_;
    const char* nl = static_cast<const char*>(std::memchr(start, '\n', room));
    const std::size_t take = nl ? static_cast<std::size_t>(nl - start) + 1 : room;
    std::memcpy(piece_ + n, start, take);
    n += take;
    pos_ += take;
    ended = nl != nullptr;
  }
  if (n == 0 || error_) return false;
  piece_[n] = '\0';
  line_ = nextLine_;
  if (ended) ++nextLine_;
  continued_ = midLine_;
  midLine_ = !ended;
  *piece = piece_;
  *length = n;
  return true;
}

}  // namespace hedm
