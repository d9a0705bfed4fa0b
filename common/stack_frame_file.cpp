// Detector frame files as stacks: frames read where they lie, with pread.
#include <algorithm>
#include <vector>

#include "frame_file.hpp"
#include "input_file.hpp"
#include "stack_formats.hpp"

namespace hedm {

namespace {

class FrameFileStack final : public Stack {
 public:
  explicit FrameFileStack(const std::string& path) : path_(path) {}

  Status open(const StackRole& role) {
    if (Status s = in_.open(path_); !s) return role.unopenable.empty() ? s : input_error(role.unopenable);
    layout_ = frame_layout(in_.size());
    if (layout_.nFrames == 0) return no_whole_frame(role.which, path_, in_.size());
    raw_ = RawFrames{&in_, FramesInFile{kHeaderBytes, layout_.nFrames, kPixelsPerFrame, 2, {}}};
    return ok();
  }

  const std::string& file() const override { return path_; }
  const std::string& dataset() const override {
    static const std::string none;
    return none;
  }
  std::uint64_t frames() const override { return layout_.nFrames; }
  std::uint64_t rows() const override { return nrPixels; }
  std::uint64_t columns() const override { return nrPixels; }
  unsigned pixel_bytes() const override { return 2; }

  Status read(std::uint64_t f0, std::uint64_t n, std::uint64_t p0, std::uint64_t count, std::uint16_t* dst,
              std::uint64_t stride) override {
    if (Status s = check(f0, n, p0, count, stride); !s) return s;
    if (stride == 0) stride = count;
    for (std::uint64_t i = 0; i < n; ++i)
      if (Status s = in_.read_at(dst + i * stride, count * sizeof(pixelvalue), offset(f0 + i, p0)); !s) return s;
    return ok();
  }
  // Widened a frame's part at a time, through a buffer of at most 1 MiB.
  Status read(std::uint64_t f0, std::uint64_t n, std::uint64_t p0, std::uint64_t count, std::uint32_t* dst,
              std::uint64_t stride) override {
    if (Status s = check(f0, n, p0, count, stride); !s) return s;
    if (stride == 0) stride = count;
    std::vector<pixelvalue> part(std::min<std::uint64_t>(count, std::uint64_t{1} << 19));
    for (std::uint64_t i = 0; i < n; ++i)
      for (std::uint64_t k = 0; k < count; k += part.size()) {
        const std::uint64_t m = std::min<std::uint64_t>(part.size(), count - k);
        if (Status s = in_.read_at(part.data(), m * sizeof(pixelvalue), offset(f0 + i, p0 + k)); !s) return s;
        std::copy(part.begin(), part.begin() + static_cast<std::ptrdiff_t>(m), dst + i * stride + k);
      }
    return ok();
  }

  const RawFrames* raw_frames() const override { return &raw_; }
  Status read_header(unsigned char* dst) override { return in_.read_at(dst, kHeaderBytes, 0); }
  std::uint64_t tail_pixels() const override { return layout_.nPixels - layout_.nFrames * kPixelsPerFrame; }
  Status read_tail(std::uint16_t* dst) override {
    return in_.read_at(dst, tail_pixels() * sizeof(pixelvalue), offset(layout_.nFrames, 0));
  }
  std::string warning() const override { return partial_frame_warning(path_, layout_); }

 private:
  std::uint64_t offset(std::uint64_t f, std::uint64_t p) const {
    return kHeaderBytes + (f * kPixelsPerFrame + p) * sizeof(pixelvalue);
  }
  Status check(std::uint64_t f0, std::uint64_t n, std::uint64_t p0, std::uint64_t count, std::uint64_t stride) const {
    if (f0 <= frames() && n <= frames() - f0 && p0 <= kPixelsPerFrame && count <= kPixelsPerFrame - p0 &&
        (stride == 0 || stride >= count))
      return ok();
    return argument_error(path_ + ": no frames " + std::to_string(f0) + " + " + std::to_string(n) + ", pixels " +
                          std::to_string(p0) + " + " + std::to_string(count) + " in a stack of " +
                          std::to_string(frames()) + " frames.");
  }

  std::string path_;
  InputFile in_;
  FrameLayout layout_;
  RawFrames raw_{nullptr, {0, 0, 0, 2, {}}};
};

}  // namespace

Result<std::unique_ptr<Stack>> open_frame_file_stack(const StackName& name, const StackRole& role) {
  auto s = std::make_unique<FrameFileStack>(name.file);
  if (Status st = s->open(role); !st) return st.error();
  return std::unique_ptr<Stack>(std::move(s));
}

}  // namespace hedm
