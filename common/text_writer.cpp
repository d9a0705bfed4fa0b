#include "text_writer.hpp"

#include <algorithm>
#include <cstring>

#include "text_format.hpp"

namespace hedm {

TextWriter::TextWriter(OutputFile& file) : file_(file), buf_(new char[kCapacity + kSlack]) {}

void TextWriter::drain() {
  if (failure_ && len_ > 0) failure_ = file_.write(buf_.get(), len_);
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

Status TextWriter::flush() {
  drain();
  return failure_;
}

}  // namespace hedm
