// File input and output with every failure reported: inputs that are read
// exactly or not at all, page-aligned buffers, and output files that are
// removed again when they could not be written in full.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

namespace hedm {

// A page-aligned heap block.  The kernel copies file data markedly faster
// into a page-aligned destination than into one a few bytes off.
struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using AlignedPtr = std::unique_ptr<T[], FreeDeleter>;

void* allocate_aligned(std::size_t bytes);  // nullptr when memory cannot be had
template <class T>
AlignedPtr<T> allocate_array(std::size_t count) {
  if (count > SIZE_MAX / sizeof(T)) return AlignedPtr<T>();
  return AlignedPtr<T>(static_cast<T*>(allocate_aligned(count * sizeof(T))));
}

// A block for a large working buffer that is walked with long strides: 2 MiB
// aligned and offered huge pages, so that the walk needs few TLB entries.
void* allocate_huge(std::size_t bytes);
template <class T>
AlignedPtr<T> allocate_huge_array(std::size_t count) {
  if (count > SIZE_MAX / sizeof(T)) return AlignedPtr<T>();
  return AlignedPtr<T>(static_cast<T*>(allocate_huge(count * sizeof(T))));
}

std::string out_of_memory_message(std::size_t bytes);

// A file opened for reading, with its size.  Directories are refused.
class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  // On failure *err reads "Could not open <path>: <reason>."
  bool open(const std::string& path, std::string* err);
  std::uint64_t size() const { return size_; }
  const std::string& path() const { return path_; }

  // Reads exactly n bytes at offset; a file that ends early is a failure.
  bool read_at(void* dst, std::size_t n, std::uint64_t offset, std::string* err);
  // Reads up to n bytes at offset, fewer only at the end of the file.
  // Returns false on a read error.
  bool read_upto(void* dst, std::size_t n, std::uint64_t offset, std::size_t* got,
                 std::string* err);

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
  std::string path_;
};

// An output file that replaces its destination whole or not at all.  The
// bytes go to a temporary file in the destination's own folder (an unnamed
// O_TMPFILE where the file system offers it, else a hidden ".NAME.XXXXXX"),
// and only commit() puts the finished file under the final name, with one
// rename.  A reader of the final name therefore sees the earlier file or the
// complete new one, never a part, whenever and however the process ends; a
// failed run leaves the earlier file as it was.
//
// A destination that is not a regular file (/dev/null, a FIFO, a terminal)
// is written in place.  A symbolic link stays: the file it points to is
// replaced.  A replaced file keeps its permission bits; a new one gets
// 0666 less the umask, as creating it directly would.
class OutputFile {
 public:
  // How the temporary is made: Unnamed falls back to Named by itself where
  // the file system refuses unnamed files; Named is there for the tests.
  enum class Temporary { Unnamed, Named };

  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() { discard(); }

  // On failure *err reads "Could not create <path>: <reason>."
  bool create(const std::string& path, std::string* err, Temporary how = Temporary::Unnamed);
  // On failure *err reads "Could not write <path>: <reason>." and the
  // temporary is dropped.
  bool write(const void* data, std::size_t n, std::string* err);
  // Closes the file and puts it under its final name; false (the temporary
  // dropped, the destination untouched) when that fails.
  bool commit(std::string* err);
  // Drops what was written; the destination stays as it was.
  void discard();

 private:
  enum class Kind { InPlace, Unnamed, Named };
  bool fail_write(int e, std::string* err);

  int fd_ = -1;
  Kind kind_ = Kind::InPlace;
  std::string path_;    // as the caller named it, for messages
  std::string target_;  // the file that is replaced: path_ with its links followed
  std::string temp_;    // the named temporary, while there is one
};

// The file a path stands for, with symbolic links followed as far as they
// go (up to 40 of them); a link that points at nothing yields the path it
// points at.  A relative link is taken relative to the link's own folder.
std::string resolve_links(const std::string& path);

// Buffered text output on an OutputFile; numbers formatted with the digits
// of "%f" and "%d".
class TextWriter {
 public:
  explicit TextWriter(OutputFile& file);
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;

  void put(std::string_view s);
  void put(char c) {
    reserve(1);
    buf_[len_++] = c;
  }
  void fixed6(double v);      // as "%f"
  void integer(long long v);  // as "%d"/"%lld"
  // Writes out what is buffered; false with *err after any write failure.
  bool flush(std::string* err);

 private:
  static constexpr std::size_t kCapacity = 1 << 20;
  static constexpr std::size_t kSlack = 512;  // room for one formatted number
  void reserve(std::size_t n) {
    if (len_ + n > kCapacity) drain();
  }
  void drain();

  OutputFile& file_;
  std::unique_ptr<char[]> buf_;
  std::size_t len_ = 0;
  bool failed_ = false;
  std::string err_;
};

// Prints one line (a newline is appended) on standard output and flushes it.
void say(const std::string& line);
// say(message), then the exit status of a failed run.
inline int fail(const std::string& message, int status = 1) {
  say(message);
  return status;
}

}  // namespace hedm
