// Fuzz target: the arithmetic on file sizes and command-line numbers.  For
// any file size the frame counts must bound the data exactly, and a number
// read whole must be one that the text spells: only the characters of a
// decimal spelling, and the same value when its digits are read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "frame_file.hpp"
#include "command_line.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint64_t fileSize = 0;
  std::memcpy(&fileSize, data, size < 8 ? size : 8);
  const hedm::FrameLayout l = hedm::frame_layout(fileSize);
  const std::uint64_t data_ = fileSize > hedm::kHeaderBytes ? fileSize - hedm::kHeaderBytes : 0;
  if (l.dataBytes != data_ || l.nPixels * 2 > data_ || data_ - l.nPixels * 2 > 1 ||
      l.nFrames * hedm::kFrameBytes > data_ || data_ - l.nFrames * hedm::kFrameBytes >= hedm::kFrameBytes ||
      l.nFrames * hedm::kPixelsPerFrame > l.nPixels)
    __builtin_trap();

  const std::string text(reinterpret_cast<const char*>(data), size);
  const hedm::Result<std::int32_t> value = hedm::read_whole_number(text.c_str(), "N");
  if (value) {
    if (text.find_first_not_of(" \t\n\v\f\r+-.eE0123456789", 0, 21) < std::strlen(text.c_str())) __builtin_trap();
    const hedm::Result<std::int32_t> again = hedm::read_whole_number(std::to_string(*value).c_str(), "N");
    if (!again || *again != *value) __builtin_trap();
  } else if (value.error().text.empty()) {
    __builtin_trap();
  }
  return 0;
}
