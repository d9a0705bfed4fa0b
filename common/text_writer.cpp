#include "text_writer.hpp"

#include <algorithm>
#include <cstring>

#include "text_format.hpp"

namespace hedm {

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

}  // namespace hedm
