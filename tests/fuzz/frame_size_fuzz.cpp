// Fuzz target: the arithmetic on file sizes and command-line numbers.  For
// any file size the frame counts must bound the data exactly, and numbers
// must be read as the C library's atoi reads them.
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
  const long wide = std::strtol(text.c_str(), nullptr, 10);
  if (hedm::atoi32(text.c_str()) != static_cast<std::int32_t>(static_cast<std::uint64_t>(wide)))
    __builtin_trap();
  return 0;
}
