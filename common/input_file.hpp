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

  // The whole file mapped for reading (kept until the file is closed), so
  // that its pages are read where the page cache holds them, not copied;
  // nullptr where it cannot be mapped.  Reading a page that the file no
  // longer holds (a file cut short since it was opened) raises SIGBUS.
  const unsigned char* mapping();
  // Maps the n bytes at offset of the mapping ahead of their reads, from
  // the page cache where it holds them (read from the disk where not); a
  // hint: false where it cannot be done, and the reads map them as they go.
  bool populate(std::uint64_t offset, std::uint64_t n);
  // Whether the n bytes at offset (their first 64 pages at most) are all in
  // the page cache; false where the system cannot tell or they lie beyond
  // the mapping.
  bool resident(std::uint64_t offset, std::size_t n) const;

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
  std::string path_;
  void* map_ = nullptr;
};

}  // namespace hedm
