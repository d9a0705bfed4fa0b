// Input files read exactly or not at all, every failure named.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <sys/stat.h>

#include "error.hpp"

namespace hedm {

// Opens path for reading, the one way every input is opened: 0 and *fd set
// (and *info, when given, to what fstat says of it), or the errno that says
// why not (EISDIR for a folder, which opens but holds no data).
int open_for_reading(const std::string& path, int* fd, struct stat* info = nullptr);

// A file opened for reading, with its size.  Directories are refused.
class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  // An Input error "Could not open <path>: <reason>." when it cannot be.
  Status open(const std::string& path);
  // Takes an open descriptor (a spill file's) as the file to read, its
  // size as it is now; `name` names it in messages.
  Status adopt(int fd, const std::string& name);
  std::uint64_t size() const { return size_; }

  // Reads exactly n bytes at offset; a file that ends early is a failure.
  Status read_at(void* dst, std::size_t n, std::uint64_t offset);
  // Reads what of n bytes at offset the page cache holds already, without
  // waiting for the disk: the number of bytes read, 0 where none were at
  // hand (or where the system cannot tell).
  std::size_t read_cached(void* dst, std::size_t n, std::uint64_t offset);
  // Asks the system to start reading n bytes at offset from the disk, so
  // that a later read finds them; a hint, ignored where refused.
  void prefetch(std::uint64_t offset, std::uint64_t n) const;
  // Reads up to n bytes at offset, fewer only at the end of the file: the
  // number read, or the read error.
  Result<std::size_t> read_upto(void* dst, std::size_t n, std::uint64_t offset);

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
  std::string path_;
};

}  // namespace hedm
