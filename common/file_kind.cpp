#include "file_kind.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "input_file.hpp"

namespace hedm {

namespace {

// Reads up to n bytes at offset: how many it read (fewer at the end of the
// file, none where the file cannot be read at an offset, as a pipe).
std::size_t read_upto(int fd, unsigned char* dst, std::size_t n, off_t offset) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t r = ::pread(fd, dst + done, n - done, offset + static_cast<off_t>(done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += static_cast<std::size_t>(r);
  }
  return done;
}

bool starts_with(const unsigned char* head, std::size_t have, const char* sig, std::size_t n) {
  return have >= n && std::memcmp(head, sig, n) == 0;
}

}  // namespace

FileKind file_kind(const std::string& path) {
  // Regular files only: opening a FIFO to look would wait for its writer.
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return FileKind::Other;
  int fd = -1;
  if (open_for_reading(path, &fd, &st) != 0) return FileKind::Other;
  unsigned char head[8] = {};
  const std::size_t have = read_upto(fd, head, sizeof head, 0);
  FileKind kind = FileKind::Other;
  static const char kHdf5[] = "\x89HDF\r\n\x1a\n";
  if (starts_with(head, have, "\x1f\x8b", 2)) kind = FileKind::Gzip;
  else if (starts_with(head, have, "BZh", 3)) kind = FileKind::Bzip2;
  else if (starts_with(head, have, "\xfd\x37\x7a\x58\x5a\x00", 6)) kind = FileKind::Xz;
  else if (starts_with(head, have, "\x28\xb5\x2f\xfd", 4)) kind = FileKind::Zstd;
  else if (starts_with(head, have, kHdf5, 8)) kind = FileKind::Hdf5;
  else {
    // Behind a user block: at 512 and every doubling, as far as the file goes.
    const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);  // below 2^63: the doubling cannot wrap
    for (std::uint64_t at = 512; at + 8 <= size; at *= 2) {
      unsigned char sig[8];
      if (read_upto(fd, sig, sizeof sig, static_cast<off_t>(at)) != sizeof sig) break;
      if (std::memcmp(sig, kHdf5, sizeof sig) == 0) {
        kind = FileKind::Hdf5;
        break;
      }
    }
  }
  ::close(fd);
  return kind;
}

}  // namespace hedm
