// A stack whose frames are handed in one at a time (by a Python series of
// frames: a list, a generator, an h5py dataset read frame by frame) and
// written one after another into an unnamed file in a spill folder, so that
// the median reads them back in bands as it reads a frame file: memory
// stays that of one frame whatever the series' length.  The file needs
// frames x pixels x pixel width bytes of disk while the stack lives and is
// gone with it, however the run ends.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "error.hpp"
#include "input_file.hpp"
#include "stack.hpp"

namespace hedm {

class SpillStack : public Stack {
 public:
  // An empty stack of rows x columns frames of pixelBytes (2 or 4) bytes,
  // spilled into `folder`; an Output error naming the folder when no file
  // can be made there.
  static Result<std::unique_ptr<SpillStack>> create(const std::string& folder, std::uint64_t rows,
                                                    std::uint64_t columns, unsigned pixelBytes);
  ~SpillStack() override;

  // Appends one frame of pixels() values of the stack's width, row by row.
  Status append(const void* frame);
  // Ends the appending: the frames are read from here on.
  Status finish();

  const std::string& file() const override { return name_; }
  const std::string& dataset() const override { return dataset_; }
  std::uint64_t frames() const override { return frames_; }
  std::uint64_t rows() const override { return rows_; }
  std::uint64_t columns() const override { return columns_; }
  unsigned pixel_bytes() const override { return pixelBytes_; }
  Status read(std::uint64_t f0, std::uint64_t n, std::uint64_t p0, std::uint64_t count, std::uint16_t* dst,
              std::uint64_t stride = 0) override;
  Status read(std::uint64_t f0, std::uint64_t n, std::uint64_t p0, std::uint64_t count, std::uint32_t* dst,
              std::uint64_t stride = 0) override;
  // 16-bit frames lie as a frame file's do: the median reads them where they are.
  const RawFrames* raw_frames() const override { return finished_ && pixelBytes_ == 2 ? &raw_ : nullptr; }

 private:
  SpillStack(std::string folder, std::uint64_t rows, std::uint64_t columns, unsigned pixelBytes, int fd);
  Status window(std::uint64_t f0, std::uint64_t n, std::uint64_t p0, std::uint64_t count) const;
  template <class T>
  Status read_as(std::uint64_t f0, std::uint64_t n, std::uint64_t p0, std::uint64_t count, T* dst,
                 std::uint64_t stride);

  std::string folder_, name_, dataset_;
  std::uint64_t rows_, columns_, frames_ = 0;
  unsigned pixelBytes_;
  int fd_;  // while frames are appended; then the InputFile's
  bool finished_ = false;
  InputFile in_;
  RawFrames raw_{nullptr, {0, 0, 0}};
};

}  // namespace hedm
