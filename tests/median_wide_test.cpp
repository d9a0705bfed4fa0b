// Medians of 32-bit stacks (photon-counting detectors), and of stacks read
// in bands from the stack itself: exact against each pixel's sorted values,
// whatever the depth (shallow bands, coded bands), the threads, and where
// the medians lie: below 65535, from 65535 to 131069, at 131070 and above
// (hot pixels at 2^32 - 1, and pixels masked in just over half the frames).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "input_file.hpp"
#include "stack.hpp"
#include "stack_median.hpp"
#include "stack_median_spill.hpp"
#include "testkit.hpp"

namespace {

constexpr std::size_t kPixels = 64 * 40 + 37;
constexpr std::uint32_t kHot = 0xffffffffu;

// n frames of kPixels pixels, frame after frame: pixel p's kind is p % 7.
std::vector<std::uint32_t> wide_stack(std::uint64_t n, std::mt19937& rng) {
  std::vector<std::uint32_t> v(n * kPixels);
  for (std::uint64_t f = 0; f < n; ++f)
    for (std::size_t p = 0; p < kPixels; ++p) {
      std::uint32_t& x = v[f * kPixels + p];
      switch (p % 7) {
        case 0: x = rng() % 65535; break;                      // all below the clamp
        case 1: x = 65535 + rng() % 65535; break;              // medians from 65535 to 131069
        case 2: x = static_cast<std::uint32_t>(rng()); break;  // anything at all
        case 3: x = kHot; break;                               // hot
        case 4: x = f <= n / 2 ? kHot : rng() % 1000; break;   // masked in just over half the frames
        case 5: x = 131068 + rng() % 5; break;                 // about twice the clamp
        default: x = 65533 + rng() % 4; break;                 // about the clamp
      }
    }
  return v;
}

template <class T>
std::vector<T> lower_medians(const std::vector<T>& stack, std::uint64_t n) {
  std::vector<T> out(kPixels), column(n);
  for (std::size_t p = 0; p < kPixels; ++p) {
    for (std::uint64_t f = 0; f < n; ++f) column[f] = stack[f * kPixels + p];
    std::nth_element(column.begin(), column.begin() + static_cast<std::ptrdiff_t>((n - 1) / 2), column.end());
    out[p] = column[(n - 1) / 2];
  }
  return out;
}

// A stack in memory that the median reads in bands on every thread, as it
// does a stack whose chunks decode a few blocks at a time.
class BandStack : public hedm::Stack {
 public:
  template <class T>
  BandStack(const std::vector<T>& v, std::uint64_t n) : n_(n), bytes_(sizeof(T)), wide_(v.begin(), v.end()) {}
  const std::string& file() const override { return name_; }
  const std::string& dataset() const override { return name_; }
  std::uint64_t frames() const override { return n_; }
  std::uint64_t rows() const override { return 1; }
  std::uint64_t columns() const override { return kPixels; }
  unsigned pixel_bytes() const override { return bytes_; }
  bool reads_bands() const override { return true; }
  bool reads_in_parallel() const override { return true; }
  hedm::Status read(std::uint64_t f0, std::uint64_t n, std::uint64_t p0, std::uint64_t count, std::uint16_t* dst,
                    std::uint64_t stride) override {
    return copy(f0, n, p0, count, dst, stride);
  }
  hedm::Status read(std::uint64_t f0, std::uint64_t n, std::uint64_t p0, std::uint64_t count, std::uint32_t* dst,
                    std::uint64_t stride) override {
    return copy(f0, n, p0, count, dst, stride);
  }

 private:
  template <class T>
  hedm::Status copy(std::uint64_t f0, std::uint64_t n, std::uint64_t p0, std::uint64_t count, T* dst,
                    std::uint64_t stride) {
    for (std::uint64_t i = 0; i < n; ++i)
      for (std::uint64_t k = 0; k < count; ++k)
        dst[i * (stride ? stride : count) + k] = static_cast<T>(wide_[(f0 + i) * kPixels + p0 + k]);
    return hedm::ok();
  }
  std::string name_ = "band stack";
  std::uint64_t n_;
  unsigned bytes_;
  std::vector<std::uint32_t> wide_;
};

}  // namespace

TEST(WideMedian, ExactFromAFileAndFromAStackReadInBands) {
  std::mt19937 rng(31);
  testkit::TempDir dir;
  const std::string path = dir / "wide.bin";
  for (const std::uint64_t n : {1u, 2u, 9u, 30u, 250u}) {  // 250: coded bands
    const std::vector<std::uint32_t> stack = wide_stack(n, rng);
    const std::vector<std::uint32_t> want = lower_medians(stack, n);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(stack.data()), static_cast<std::streamsize>(stack.size() * 4));
    hedm::InputFile in;
    ASSERT_TRUE(in.open(path));
    BandStack bands(stack, n);
    for (const unsigned threads : {1u, 3u}) {
      SCOPED_TRACE(std::to_string(n) + " frames, " + std::to_string(threads) + " threads");
      std::vector<std::uint32_t> got(kPixels, 0x5a5a5a5a);
      ASSERT_TRUE(hedm::median32_of_frames_in_file(in, {0, n, kPixels, 4}, got.data(), threads));
      EXPECT_TRUE(got == want) << "from the file";
      hedm::Result<hedm::Frame> m = hedm::median_frame(bands, {dir.path().string(), threads, {}});
      ASSERT_TRUE(m);
      EXPECT_TRUE(*m->wide() == want) << "read in bands";
    }
  }
}

// A 16-bit stack read in bands gives its medians in pixel order to a sink.
TEST(WideMedian, SixteenBitStacksReadInBandsHandTheirMediansOn) {
  std::mt19937 rng(37);
  for (const std::uint64_t n : {3u, 250u}) {
    std::vector<std::uint16_t> stack(n * kPixels);
    for (std::uint16_t& v : stack) v = static_cast<std::uint16_t>(rng() % 7 == 0 ? rng() : 2000 + rng() % 90);
    BandStack bands(stack, n);
    std::vector<std::uint16_t> got;
    auto sink = [&](std::size_t first, const std::uint16_t* medians, std::size_t count) {
      EXPECT_EQ(first, got.size());
      got.insert(got.end(), medians, medians + count);
      return hedm::ok();
    };
    ASSERT_TRUE(hedm::median_bands(bands, {"", 2, {}}, sink));
    EXPECT_TRUE(got == lower_medians(stack, n)) << n << " frames";
  }
}
