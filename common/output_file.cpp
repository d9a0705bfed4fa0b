#include "output_file.hpp"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "input_file.hpp"

namespace hedm {

namespace {
std::string reason(int e) { return std::strerror(e); }
}  // namespace

std::string resolve_links(const std::string& path) {
  std::string p = path;
  for (int hop = 0; hop < 40; ++hop) {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(p.c_str(), buf, sizeof buf);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof buf) break;  // not a link (or no such file)
    std::string link(buf, static_cast<std::size_t>(n));
    if (link.empty()) break;
    if (link[0] != '/') {
      const std::size_t slash = p.rfind('/');
      if (slash != std::string::npos) link = p.substr(0, slash + 1) + link;
    }
    p = link;
  }
  return p;
}

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string hidden_temporary_name(const std::string& target) {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::random_device seed;
  static std::mt19937_64 rng(seed() ^ (static_cast<std::uint64_t>(::getpid()) << 32));
  const std::size_t slash = target.rfind('/');
  std::string name = slash == std::string::npos ? "." + target
                                                : target.substr(0, slash + 1) + "." + target.substr(slash + 1);
  name += '.';
  for (int i = 0; i < 6; ++i) name += kChars[rng() % (sizeof kChars - 1)];
  return name;
}

namespace {

// Creates a fresh hidden file beside target; retries on the rare name that
// is taken.
int open_hidden(const std::string& target, std::string* name) {
  for (int tries = 0; tries < 100; ++tries) {
    *name = hidden_temporary_name(target);
    int fd;
    do fd = ::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

bool link_hidden(int fd, const std::string& target, std::string* name) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  for (int tries = 0; tries < 100; ++tries) {
    *name = hidden_temporary_name(target);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name->c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    if (errno != EEXIST) break;
  }
  const int e = errno;
  name->clear();
  errno = e;
  return false;
}

}  // namespace

Status OutputFile::create(const std::string& path, Temporary how) {
  discard();
  path_ = path;
  target_ = resolve_links(path);
  auto refuse = [&](int e) { return output_error("Could not create " + path + ": " + reason(e) + "."); };
  struct stat st;
  const bool existed = ::stat(target_.c_str(), &st) == 0;
  if (existed && S_ISDIR(st.st_mode)) return refuse(EISDIR);
  // /dev/stdout, /dev/fd/N and the like name a file some other process
  // opened (a shell's redirection): written in place, never replaced under it.
  const bool device = path.rfind("/dev/", 0) == 0 || path.rfind("/proc/", 0) == 0;
  if (existed && (!S_ISREG(st.st_mode) || device)) {
    // A device, FIFO or terminal: there is nothing to replace, so write to it.
    int fd;
    do fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return refuse(errno);
    fd_ = fd;
    kind_ = Kind::InPlace;
    return ok();
  }
  // A file the caller may not write stays protected, as it was when outputs
  // were opened for writing directly.
  if (existed && ::access(target_.c_str(), W_OK) != 0) return refuse(errno);

  int fd = -1;
  if (how == Temporary::Unnamed && ::access("/proc/self/fd", X_OK) == 0) {
    do fd = ::open(folder_of(target_).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return refuse(errno);
    kind_ = Kind::Unnamed;
  }
  if (fd < 0) {
    fd = open_hidden(target_, &temp_);
    if (fd < 0) return refuse(errno);
    kind_ = Kind::Named;
  }
  fd_ = fd;
  if (existed) {
    // Keep the replaced file's owner where we may, and its permission bits.
    if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
    }
    if (::fchmod(fd, st.st_mode & 07777) != 0) {
    }
  }
  return ok();
}

Error OutputFile::fail_write(int e) {
  discard();
  return output_error("Could not write " + path_ + ": " + reason(e) + ".");
}

Status OutputFile::write(const void* data, std::size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t w = ::write(fd_, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return fail_write(w < 0 ? errno : ENOSPC);
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return ok();
}

Status OutputFile::commit() {
  // No fsync: the promise is about what readers and re-runs see.  Syncing
  // each file made a 20-image PanelPack series nearly twice as slow.
  if (kind_ == Kind::Unnamed && !link_hidden(fd_, target_, &temp_)) return fail_write(errno);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    const int e = errno;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
    return output_error("Could not write " + path_ + ": " + reason(e) + ".");
  }
  if (kind_ != Kind::InPlace && ::rename(temp_.c_str(), target_.c_str()) != 0) {
    const int e = errno;
    ::unlink(temp_.c_str());
    temp_.clear();
    return output_error("Could not write " + path_ + ": " + reason(e) + ".");
  }
  temp_.clear();
  return ok();
}

namespace {

// Copies the whole of `from` to `to` from their starts: 0, or the errno
// that stopped it.  The kernel copies where it can (a clone of the blocks
// on file systems that share them); plain reads and writes where it cannot.
int copy_all(int from, int to) {
  for (;;) {
    const ssize_t n = ::copy_file_range(from, nullptr, to, nullptr, std::size_t{1} << 30, 0);
    if (n > 0) continue;
    if (n == 0) return 0;
    if (errno == EINTR) continue;
    if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) break;
    return errno;
  }
  // Where the kernel cannot copy, it has copied nothing.
  if (::lseek(from, 0, SEEK_SET) < 0 || ::lseek(to, 0, SEEK_SET) < 0 || ::ftruncate(to, 0) != 0) return errno;
  std::vector<char> buf(std::size_t{1} << 20);
  for (;;) {
    ssize_t r = ::read(from, buf.data(), buf.size());
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return errno;
    if (r == 0) return 0;
    for (const char* p = buf.data(); r > 0;) {
      const ssize_t w = ::write(to, p, static_cast<std::size_t>(r));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return w < 0 ? errno : ENOSPC;
      p += w;
      r -= w;
    }
  }
}

}  // namespace

Status FileCopy::create(const std::string& path) {
  discard();
  path_ = path;
  target_ = resolve_links(path);
  auto refuse = [&](const char* what, int e) {
    return output_error(std::string(what) + " " + path + ": " + reason(e) + ".");
  };
  int in = -1;
  struct stat st;
  if (const int e = open_for_reading(target_, &in, &st)) return refuse("Could not create", e);
  // A file the caller may not write stays protected.
  if (::access(target_.c_str(), W_OK) != 0) {
    const int e = errno;
    ::close(in);
    return refuse("Could not create", e);
  }
  fd_ = open_hidden(target_, &temp_);
  if (fd_ < 0) {
    const int e = errno;
    ::close(in);
    temp_.clear();
    return refuse("Could not create", e);
  }
  if (::fchown(fd_, st.st_uid, st.st_gid) != 0) {
  }
  if (::fchmod(fd_, st.st_mode & 07777) != 0) {
  }
  const int e = copy_all(in, fd_);
  ::close(in);
  if (e != 0) {
    discard();
    return refuse("Could not write", e);
  }
  return ok();
}

Status FileCopy::reserve(std::uint64_t bytes) {
  struct stat st;
  int e = ::fstat(fd_, &st) == 0 ? 0 : errno;
  if (e == 0) e = ::posix_fallocate(fd_, st.st_size, static_cast<off_t>(bytes));
  if (e != 0) {
    discard();
    return output_error("Could not write " + path_ + ": " + reason(e) + ".");
  }
  return ok();
}

Status FileCopy::commit() {
  // Synced before the rename: the file's name never stands for a copy
  // whose blocks a crash of the machine could still lose.
  int e = 0;
  if (::fsync(fd_) != 0) e = errno;
  if (e == 0 && ::rename(temp_.c_str(), target_.c_str()) != 0) e = errno;
  if (e != 0) {
    discard();
    return output_error("Could not write " + path_ + ": " + reason(e) + ".");
  }
  temp_.clear();
  discard();
  return ok();
}

void FileCopy::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

void OutputFile::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

}  // namespace hedm
