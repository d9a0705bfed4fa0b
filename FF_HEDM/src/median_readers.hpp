// The readers of a stack's slices that the median's bands are selected
// from, one per thread: frames lying in a file (FileFrames), a stack that
// reads bands itself (BandFrames), and over either, Slices, which selects
// 32-bit frames by their clamped values and then, exactly, the pixels whose
// median reaches 65535.  Internal to stack_median.cpp.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "input_file.hpp"
#include "median.hpp"
#include "memory.hpp"
#include "stack.hpp"

namespace hedm::median_readers {

// One thread's reader of frames lying in a file, with pread: the page
// cache's pages are copied from the kernel's own mapping of them, at the
// same speed whatever size of page the cache holds the file in (a mapping
// of the file in this process reads it at the speed of its page-table
// walks, several times slower where the cache holds small pages, and
// counts the whole file in the process's resident memory).  Where the page
// cache does not hold a band's slices (a file not read lately), the
// thread's next band's slices are asked for ahead, so that the disk reads
// them while this band is selected, many at a time, rather than one slice
// at a time as each is needed.
class FileFrames {
 public:
  FileFrames(InputFile& in, const FramesInFile& frames) : in_(&in), frames_(frames) {}
  std::uint64_t frames() const { return frames_.nFrames; }
  bool wide() const { return frames_.pixelBytes == 4; }
  Status read(std::uint64_t f, std::size_t p0, std::size_t count, pixelvalue* dst) {
    const std::size_t bytes = count * sizeof(pixelvalue);
    const std::size_t got = in_->read_cached(dst, bytes, offset(f, p0));
    if (got == bytes) return ok();
    ++uncached_;
    return in_->read_at(reinterpret_cast<char*>(dst) + got, bytes - got, offset(f, p0) + got);
  }
  Status read(std::uint64_t f, std::size_t p0, std::size_t count, std::uint32_t* dst) {
    return in_->read_at(dst, count * 4, offset(f, p0));
  }
  // Where more than an eighth of the band just read had to come from the
  // disk, the next band's slices are asked for now.  A file the page cache
  // holds gives nearly every slice at once, and asking for a cached band
  // ahead would cost a system call per frame for nothing; a file read cold
  // misses on most slices.  An eighth tells the two apart with room for
  // the few pages another reader or the system dropped meanwhile.
  void ahead(std::size_t p0, std::size_t count) {
    if (uncached_ > frames_.nFrames / 8)
      for (std::uint64_t f = 0; f < frames_.nFrames; ++f)
        in_->prefetch(offset(f, p0), count * std::uint64_t{frames_.pixelBytes});
    uncached_ = 0;
  }

 private:
  std::uint64_t offset(std::uint64_t f, std::size_t p0) const { return frames_.offset(f, p0); }
  InputFile* in_;
  FramesInFile frames_;
  std::uint64_t uncached_ = 0;  // slices of the band being read that the disk had to give
};

// One thread's reader of a stack that reads bands of pixels on every
// thread at once (its chunks decoded a few blocks at a time).
class BandFrames {
 public:
  explicit BandFrames(Stack& stack) : stack_(&stack) {}
  std::uint64_t frames() const { return stack_->frames(); }
  bool wide() const { return stack_->pixel_bytes() == 4; }
  template <class T>
  Status read(std::uint64_t f, std::size_t p0, std::size_t count, T* dst) {
    return stack_->read(f, 1, p0, count, dst);
  }
  void ahead(std::size_t, std::size_t) {}

 private:
  Stack* stack_;
};

// One thread's slices of frames read by `Frames` (FileFrames, BandFrames).
// 32-bit frames are selected by their values clamped to 65535 (kept in
// order, so that every median below 65535 is exact), and a band's pixels
// whose median reaches 65535 again, by their values from 65535 up (less
// 65535, clamped again), which a shallow band keeps beside its clamped
// slices as it reads them; the few whose median is 131070 or more (hot
// pixels, masked ones) are read again and selected by their own values.
// Every median of the band goes to wideOut.
template <class Frames>
class Slices {
 public:
  Slices(Frames frames, std::uint32_t* wideOut = nullptr) : frames_(std::move(frames)), wideOut_(wideOut) {}
  bool reserve(std::size_t pixels) {
    buffer_ = allocate_array<pixelvalue>(pixels);
    return buffer_ != nullptr;
  }
  // A shallow band's slices, frame after frame.
  Status fill(std::uint64_t f, std::size_t p0, std::size_t count, pixelvalue* dst) {
    if (!frames_.wide()) return frames_.read(f, p0, count, dst);
    if (f == 0) kept_ = Kept{p0, count, 0};
    if (kept_.p0 != p0 || kept_.count != count || kept_.frames != f) {  // not in order: not kept
      kept_.frames = 0;
      return read_clamped(f, p0, count, dst);
    }
    if (wide_.size() < count) wide_.resize(count);
    if (Status s = frames_.read(f, p0, count, wide_.data()); !s) return s;
    above_.resize(static_cast<std::size_t>(frames_.frames() * count));
    split_sixteen(wide_.data(), count, dst, above_.data() + f * count);
    ++kept_.frames;
    return ok();
  }
  // A coded band's slices, one at a time.
  Result<const pixelvalue*> view(std::uint64_t f, std::size_t p0, std::size_t count) {
    pixelvalue* dst = buffer_.get();
    Status s = frames_.wide() ? read_clamped(f, p0, count, dst) : frames_.read(f, p0, count, dst);
    if (!s) return s.error();
    return static_cast<const pixelvalue*>(dst);
  }
  void ahead(std::size_t p0, std::size_t count) { frames_.ahead(p0, count); }
  Status finish(std::size_t p0, std::size_t count, const pixelvalue* medians);

 private:
  Status read_clamped(std::uint64_t f, std::size_t p0, std::size_t count, pixelvalue* dst) {
    if (wide_.size() < count) wide_.resize(count);
    if (Status s = frames_.read(f, p0, count, wide_.data()); !s) return s;
    clamp_to_sixteen(wide_.data(), count, dst);
    return ok();
  }
  void select_kept();
  Status select_wide();
  void select_columns(std::size_t g0, std::size_t g1);
  // The 16-bit medians of `rows` (frames_.frames() rows of width values,
  // stride apart) to medians_; false where the selector could not be had.
  bool select_sixteen(const pixelvalue* rows, std::size_t stride, std::size_t width);

  Frames frames_;
  std::uint32_t* wideOut_;
  AlignedPtr<pixelvalue> buffer_;  // one slice, for coded bands
  std::vector<std::uint32_t> wide_;  // one slice of 32-bit values
  std::vector<pixelvalue> above_;  // a shallow band's values from 65535 up, frame after frame
  struct Kept {
    std::size_t p0 = 0, count = 0;
    std::uint64_t frames = 0;  // the band's frames in above_ so far
  } kept_;
  std::vector<std::size_t> high_;  // the band's pixels whose clamped median is 65535
  std::vector<std::uint32_t> columns_;  // their values, frame by frame
  std::vector<std::uint32_t> column_;  // one pixel's values
  std::vector<pixelvalue> shifted_, medians_;  // values from 65535 up, frame by frame; their medians
  std::unique_ptr<StackMedian> highSelector_;
};

template <class Frames>
Status Slices<Frames>::finish(std::size_t p0, std::size_t count, const pixelvalue* medians) {
  if (!wideOut_) return ok();
  high_.clear();
  for (std::size_t k = 0; k < count; ++k) {
    wideOut_[p0 + k] = medians[k];
    if (medians[k] == 0xffff) high_.push_back(p0 + k);
  }
  const bool kept = kept_.p0 == p0 && kept_.count == count && kept_.frames == frames_.frames();
  kept_.frames = 0;
  if (kept && !high_.empty()) select_kept();
  return high_.empty() ? ok() : select_wide();
}

template <class Frames>
bool Slices<Frames>::select_sixteen(const pixelvalue* rows, std::size_t stride, std::size_t width) {
  if (!highSelector_) highSelector_ = std::make_unique<StackMedian>(static_cast<std::int64_t>(frames_.frames()));
  if (!highSelector_->ok()) return false;
  medians_.resize(width);
  highSelector_->collapse(rows, stride, width, medians_.data());
  return true;
}

// The pixels of high_ selected by their values from 65535 up, kept in
// above_: each median below 65535 there is the pixel's less 65535.  Those
// whose median is 65535 there too stay in high_.
template <class Frames>
void Slices<Frames>::select_kept() {
  const std::size_t n = static_cast<std::size_t>(frames_.frames()), width = high_.size(), stride = width + 32;
  shifted_.resize(n * stride);
  for (std::size_t f = 0; f < n; ++f) {
    const pixelvalue* from = above_.data() + f * kept_.count - kept_.p0;
    pixelvalue* to = shifted_.data() + f * stride;
    for (std::size_t i = 0; i < width; ++i) to[i] = from[high_[i]];
  }
  if (!select_sixteen(shifted_.data(), stride, width)) return;
  std::size_t left = 0;
  for (std::size_t i = 0; i < width; ++i) {
    if (medians_[i] < 0xffff) wideOut_[high_[i]] = 0xffff + std::uint32_t{medians_[i]};
    else high_[left++] = high_[i];
  }
  high_.resize(left);
}

// The medians of the band's pixels in high_ by their 32-bit values, read
// again, as many pixels at a time as 16 MiB of values hold: each frame read
// once per group of pixels, in runs from one pixel to the next where they
// lie close together (a row of masked pixels is one read).
template <class Frames>
Status Slices<Frames>::select_wide() {
  const std::uint64_t n = frames_.frames();
  const std::size_t group = static_cast<std::size_t>(std::max<std::uint64_t>(1, (std::size_t{4} << 20) / n));
  constexpr std::size_t kGap = 1024;  // pixels read between two of the group rather than read apart
  for (std::size_t g0 = 0; g0 < high_.size(); g0 += group) {
    const std::size_t g1 = std::min(high_.size(), g0 + group);
    columns_.resize((g1 - g0) * n);
    for (std::uint64_t f = 0; f < n; ++f)
      for (std::size_t i = g0; i < g1;) {
        std::size_t j = i + 1;  // pixels i .. j - 1 in one read
        while (j < g1 && high_[j] - high_[j - 1] <= kGap) ++j;
        const std::size_t first = high_[i], span = high_[j - 1] - first + 1;
        if (wide_.size() < span) wide_.resize(span);
        if (Status s = frames_.read(f, first, span, wide_.data()); !s) return s;
        for (; i < j; ++i) columns_[f * (g1 - g0) + i - g0] = wide_[high_[i] - first];
      }
    select_columns(g0, g1);
  }
  return ok();
}

// The medians of pixels g0 .. g1 - 1 of high_, their values frame by frame
// in columns_: by their values from 65535 up where that median is below
// 65535, else by their own values.
template <class Frames>
void Slices<Frames>::select_columns(std::size_t g0, std::size_t g1) {
  const std::size_t n = static_cast<std::size_t>(frames_.frames()), width = g1 - g0, stride = width + 32;
  shifted_.resize(n * stride);
  for (std::size_t f = 0; f < n; ++f) above_sixteen(columns_.data() + f * width, width, shifted_.data() + f * stride);
  const bool selected = select_sixteen(shifted_.data(), stride, width);
  const std::size_t k = (n - 1) / 2;
  for (std::size_t i = 0; i < width; ++i) {
    if (selected && medians_[i] < 0xffff) {
      wideOut_[high_[g0 + i]] = 0xffff + std::uint32_t{medians_[i]};
      continue;
    }
    column_.resize(n);
    for (std::size_t f = 0; f < n; ++f) column_[f] = columns_[f * width + i];
    std::nth_element(column_.begin(), column_.begin() + static_cast<std::ptrdiff_t>(k), column_.end());
    wideOut_[high_[g0 + i]] = column_[k];
  }
}

}  // namespace hedm::median_readers
