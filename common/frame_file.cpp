#include "frame_file.hpp"

namespace hedm {

FrameLayout frame_layout(std::uint64_t fileSize) {
  FrameLayout l;
  l.dataBytes = fileSize > kHeaderBytes ? fileSize - kHeaderBytes : 0;
  l.nPixels = l.dataBytes / sizeof(pixelvalue);
  l.nFrames = l.dataBytes / kFrameBytes;
  return l;
}

Error no_whole_frame(const std::string& which, const std::string& path, std::uint64_t size) {
  return data_error(which + " " + path + " holds no whole frame (" + std::to_string(size) + " bytes; one frame needs " +
                    std::to_string(kOneFrameFileBytes) + ").");
}

std::string partial_frame_warning(const std::string& path, const FrameLayout& l) {
  const std::uint64_t passed = bytes_past_last_frame(l);
  if (passed == 0) return "";
  return "Warning: " + path + " ends in a partial frame: " +
         (passed == 1 ? "its last byte is" : "its last " + std::to_string(passed) + " bytes are") + " passed over.";
}

}  // namespace hedm
