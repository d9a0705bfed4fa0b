// Buffered text output on an OutputFile, numbers with the digits of C's
// "%f" and "%d".
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "output_file.hpp"

namespace hedm {

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
  // Writes out what is buffered; the first write failure, if any.
  Status flush();

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
  Status failure_ = ok();
};

}  // namespace hedm
