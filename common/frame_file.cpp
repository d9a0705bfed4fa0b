#include "frame_file.hpp"

#include "output_file.hpp"

namespace hedm {

FrameLayout frame_layout(std::uint64_t fileSize) {
  FrameLayout l;
  l.dataBytes = fileSize > kHeaderBytes ? fileSize - kHeaderBytes : 0;
  l.nPixels = l.dataBytes / sizeof(pixelvalue);
  l.nFrames = l.dataBytes / kFrameBytes;
  return l;
}

bool write_one_frame_file(const std::string& path, const void* header,
                          const pixelvalue* frame, std::string* err) {
  OutputFile out;
  if (!out.create(path, err)) return false;
  if (!out.write(header, kHeaderBytes, err)) return false;
  if (!out.write(frame, kFrameBytes, err)) return false;
  return out.commit(err);
}

}  // namespace hedm
