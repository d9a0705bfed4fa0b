#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>
#include <vector>

#include <unistd.h>

#include "median.hpp"
#include "output_file.hpp"
#include "stack_median.hpp"
#include "test_support.hpp"
#include "testkit.hpp"

using hedm::CodedMedian;
using hedm::pixelvalue;
using hedm::quick_select;
using hedm::StackMedian;

namespace {

// The lower median of column p of n rows `stride` pixels apart.
pixelvalue column_median(const std::vector<pixelvalue>& rows, std::size_t stride, int n, std::size_t p) {
  std::vector<pixelvalue> column(static_cast<std::size_t>(n));
  for (int f = 0; f < n; ++f) column[static_cast<std::size_t>(f)] = rows[static_cast<std::size_t>(f) * stride + p];
  std::nth_element(column.begin(), column.begin() + (n - 1) / 2, column.end());
  return column[static_cast<std::size_t>((n - 1) / 2)];
}

// Frames in memory handed over a slice at a time, as a file's are read;
// the call numbered failAt (from 0) finds nothing.
CodedMedian::Slice slices_of(const std::vector<pixelvalue>& rows, std::size_t stride, int* calls, int failAt = -1) {
  return [&rows, stride, calls, failAt](std::int64_t f) -> const pixelvalue* {
    if ((*calls)++ == failAt) return nullptr;
    return rows.data() + static_cast<std::size_t>(f) * stride;
  };
}

}  // namespace

TEST(QuickSelect, ReturnsLowerMedianAndLeavesItsOrder) {
  struct Case {
    std::vector<pixelvalue> in;
    pixelvalue median;
    std::vector<pixelvalue> after;  // empty: not checked
  };
  const std::vector<Case> cases = {
      {{7}, 7, {7}},
      {{9, 4}, 4, {4, 9}},
      {{4, 9}, 4, {4, 9}},
      {{3, 1, 2}, 2, {1, 2, 3}},
      {{10, 40, 20, 30}, 20, {}},
      {{5, 1, 4, 2, 3}, 3, {}},
      {{65535, 1, 2}, 2, {}},
      {{6, 6, 6, 6, 6, 6}, 6, {6, 6, 6, 6, 6, 6}},
  };
  for (const Case& c : cases) {
    std::vector<pixelvalue> a = c.in;
    EXPECT_EQ(quick_select(a.data(), static_cast<int>(a.size())), c.median);
    if (!c.after.empty()) {
      EXPECT_EQ(a, c.after);
    }
  }
}

TEST(QuickSelect, EqualsSortedElementOnRandomArraysWithTies) {
  std::mt19937 rng(7);
  for (int n = 1; n <= 64; ++n) {
    for (int trial = 0; trial < 50; ++trial) {
      std::vector<pixelvalue> a(static_cast<std::size_t>(n));
      const int spread = trial % 3 == 0 ? 3 : 65536;  // many ties, or few
      for (auto& v : a) v = static_cast<pixelvalue>(rng() % spread == 0 ? 65535 : rng() % spread);
      std::vector<pixelvalue> sorted = a;
      std::sort(sorted.begin(), sorted.end());
      const int k = (n - 1) / 2;
      ASSERT_EQ(quick_select(a.data(), n), sorted[k]) << "n=" << n;
      EXPECT_EQ(a[k], sorted[k]);
      for (int i = 0; i < n; ++i) EXPECT_TRUE(i <= k ? a[i] <= a[k] : a[i] >= a[k]);
      std::sort(a.begin(), a.end());
      EXPECT_EQ(a, sorted) << "not a permutation, n=" << n;
    }
  }
}

TEST(QuickSelect, EmptyArrayReadsNothing) { EXPECT_EQ(quick_select(nullptr, 0), 0); }

// The fast selection must give, pixel for pixel, the value quick_select
// returns: random stacks of every length, with ties, 0 and 65535, a pixel
// count that is not a whole number of tiles and rows with a gap between them.
TEST(StackMedian, MatchesQuickSelectForEveryStackLength) {
  std::mt19937 rng(11);
  std::vector<int> lengths;
  for (int n = 1; n <= 70; ++n) lengths.push_back(n);
  for (int n : {99, 100, 101, 255, 256, 1000}) lengths.push_back(n);
  for (int n : lengths) {
    const std::size_t count = 64 * 9 + 37, stride = count + 40;
    std::vector<pixelvalue> rows(static_cast<std::size_t>(n) * stride, 0xABCD);
    for (int f = 0; f < n; ++f)
      for (std::size_t p = 0; p < count; ++p) {
        pixelvalue v;
        switch (p % 4) {
          case 0: v = static_cast<pixelvalue>(rng() % 4); break;  // heavy ties
          case 1: v = static_cast<pixelvalue>(65534 + rng() % 2); break;  // top of range
          case 2: v = static_cast<pixelvalue>(rng() % 3 == 0 ? 65535 : 1000 + rng() % 64); break;
          default: v = static_cast<pixelvalue>(rng()); break;
        }
        if (p % 97 == 5) v = rng() % 2 ? 0 : 65535;  // whole columns near the extremes
        rows[static_cast<std::size_t>(f) * stride + p] = v;
      }
    StackMedian selector(n);
    ASSERT_TRUE(selector.ok());
    std::vector<pixelvalue> out(count + 1, 0x5A5A);
    selector.collapse(rows.data(), stride, count, out.data());
    EXPECT_EQ(out[count], 0x5A5A) << "wrote past the end, n=" << n;
    std::vector<pixelvalue> column(static_cast<std::size_t>(n));
    for (std::size_t p = 0; p < count; ++p) {
      for (int f = 0; f < n; ++f) column[f] = rows[static_cast<std::size_t>(f) * stride + p];
      ASSERT_EQ(out[p], quick_select(column.data(), n)) << "n=" << n << " pixel " << p;
    }
  }
}

TEST(StackMedian, ShortStacksUseAPrunedNetwork) {
  for (int n = 1; n <= hedm::kNetworkFrames; ++n) {
    StackMedian s(n);
    EXPECT_TRUE(hedm::StackMedianProbe::uses_network(s));
    // Pruning keeps only what decides the median: fewer than a full sort.
    if (n == 24) {
      EXPECT_LT(hedm::StackMedianProbe::comparators(s), 120u);
    }
  }
  EXPECT_FALSE(hedm::StackMedianProbe::uses_network(StackMedian(hedm::kNetworkFrames + 1)));
  EXPECT_FALSE(StackMedian(0).ok());
  EXPECT_FALSE(StackMedian(std::int64_t{INT32_MAX} + 1).ok());
}

// Tiles of quiet pixels, noise about a level however high or low, with an
// outlier in the first or the last frame: the bounds are narrow and sit at
// either end of the value range.
TEST(StackMedian, QuietPixelsAtEitherEndOfTheRange) {
  std::mt19937 rng(17);
  const int levels[] = {0, 3, 1000, 30000, 65535 - 240, 65535};
  const int spreads[] = {0, 1, 5, 60, 120};
  for (int n : {25, 26, 40, 99, 100, 101, 150, 199}) {
    SCOPED_TRACE("n=" + std::to_string(n));
    const std::size_t count = 64 * 4 + 9, stride = count + 5;
    std::vector<pixelvalue> rows(static_cast<std::size_t>(n) * stride);
    for (std::size_t p = 0; p < count; ++p) {
      const int level = levels[p % std::size(levels)], spread = spreads[p / 7 % std::size(spreads)];
      for (int f = 0; f < n; ++f) {
        int v = level + static_cast<int>(rng() % static_cast<unsigned>(2 * spread + 1)) - spread;
        if (p % 3 == 0 && f == 0) v = 0;  // outliers in the first and the last frame only
        if (p % 3 == 1 && f == n - 1) v = 65535;
        rows[static_cast<std::size_t>(f) * stride + p] = static_cast<pixelvalue>(std::clamp(v, 0, 65535));
      }
    }
    StackMedian selector(n);
    ASSERT_TRUE(selector.ok());
    std::vector<pixelvalue> out(count);
    selector.collapse(rows.data(), stride, count, out.data());
    for (std::size_t p = 0; p < count; ++p)
      ASSERT_EQ(out[p], column_median(rows, stride, n, p)) << "pixel " << p;
  }
}

// Deep stacks start from a bracket taken from a sample of the frames (every
// n/32-th); the result must be exact whether the sample's bracket encloses
// the median, misses it below or above, or is degenerate.  Each pixel of a
// tile gets another arrangement, so one tile mixes lanes that fall back with
// lanes that do not.
TEST(StackMedian, DeepStacksAreExactWhateverTheSampleShows) {
  std::mt19937 rng(5);
  const std::vector<int> depths = {hedm::kNetworkFrames, hedm::kNetworkFrames + 1,
                                   hedm::kSampledFrames - 1, hedm::kSampledFrames,
                                   hedm::kSampledFrames + 1, 400, 1440};
  enum Shape { Encloses, SampleLow, SampleHigh, AllEqual, TwoValues, Sorted, Reversed, Noise, kShapes };
  for (int n : depths) {
    SCOPED_TRACE("n=" + std::to_string(n));
    const std::size_t count = 64 * 3 + 5, stride = count + 7;
    std::vector<pixelvalue> rows(static_cast<std::size_t>(n) * stride);
    std::vector<bool> sampled(static_cast<std::size_t>(n), false);
    for (int i = 0; i < hedm::kSamples; ++i) sampled[static_cast<std::size_t>(static_cast<long>(i) * n / hedm::kSamples)] = true;
    for (std::size_t p = 0; p < count; ++p) {
      const Shape shape = static_cast<Shape>(p % kShapes);
      for (int f = 0; f < n; ++f) {
        const bool inSample = sampled[static_cast<std::size_t>(f)];
        pixelvalue v = 0;
        switch (shape) {
          case Encloses: v = static_cast<pixelvalue>(1000 + rng() % 64); break;
          // The sampled frames hold the outliers: all low, or all high, so
          // their order statistics lie on one side of the median.
          case SampleLow: v = inSample ? static_cast<pixelvalue>(rng() % 3) : static_cast<pixelvalue>(30000 + rng() % 50); break;
          case SampleHigh: v = inSample ? static_cast<pixelvalue>(65533 + rng() % 3) : static_cast<pixelvalue>(30000 + rng() % 50); break;
          case AllEqual: v = 4660; break;
          case TwoValues: v = rng() % 2 ? 0 : 65535; break;
          case Sorted: v = static_cast<pixelvalue>(f * 65535 / n); break;
          case Reversed: v = static_cast<pixelvalue>((n - 1 - f) * 65535 / n); break;
          default: v = static_cast<pixelvalue>(rng()); break;
        }
        rows[static_cast<std::size_t>(f) * stride + p] = v;
      }
    }
    StackMedian selector(n);
    ASSERT_TRUE(selector.ok());
    EXPECT_EQ(hedm::StackMedianProbe::uses_sample(selector), n >= hedm::kSampledFrames);
    std::vector<pixelvalue> out(count);
    selector.collapse(rows.data(), stride, count, out.data());
    for (std::size_t p = 0; p < count; ++p)
      ASSERT_EQ(out[p], column_median(rows, stride, n, p)) << "pixel " << p << ", shape " << p % kShapes;
  }
}

// Stacks deeper than the fast kernels' 16-bit counts (256 GiB of frames and
// more) are selected a pixel at a time, with the same result.
TEST(StackMedian, StacksBeyondTheFastKernelsAreExactToo) {
  const int n = hedm::kMaxFastFrames + 1;
  const std::size_t count = 64;
  std::mt19937 rng(9);
  std::vector<pixelvalue> rows(static_cast<std::size_t>(n) * count);
  for (std::size_t i = 0; i < rows.size(); ++i)
    rows[i] = static_cast<pixelvalue>(i % count == 0 ? 7 : i % count == 1 ? rng() % 2 * 65535 : rng());
  StackMedian selector(n);
  ASSERT_TRUE(selector.ok());
  EXPECT_FALSE(hedm::StackMedianProbe::uses_network(selector));
  std::vector<pixelvalue> out(count);
  selector.collapse(rows.data(), count, count, out.data());
  for (std::size_t p = 0; p < count; ++p)
    ASSERT_EQ(out[p], column_median(rows, count, n, p)) << "pixel " << p;
}

// Deep stacks coded a byte per value against a window placed from a sample
// of the frames must give exactly the lower median whatever the window
// shows: the median inside it, below or above it (the sample unlike the
// rest), columns at either end of the value range where the window is
// clamped, codes at the window's own ends, and brackets wider than the
// window.  Each pixel of a tile gets another arrangement, so one tile mixes
// coded lanes with lanes selected from 16-bit values, and the last tile is
// partial.
TEST(CodedMedian, ExactWhateverTheWindowShows) {
  std::mt19937 rng(21);
  enum Shape {
    Narrow, SampleLow, SampleHigh, AllEqual, AllZero, AllTop, NearZero, NearTop, WindowWide,
    TwoLevels, TwoValues, Sorted, Reversed, Uniform, kShapes
  };
  for (int n : {1, 2, 31, 33, 199, 200, 201, 400, 1440}) {
    SCOPED_TRACE("n=" + std::to_string(n));
    const std::size_t count = 64 * 3 + 5, stride = count + 3;
    std::vector<bool> sampled(static_cast<std::size_t>(n), false);
    for (int i = 0; i < hedm::kSamples; ++i) sampled[static_cast<std::size_t>(static_cast<long>(i) * n / hedm::kSamples)] = true;
    std::vector<pixelvalue> rows(static_cast<std::size_t>(n) * stride);
    for (std::size_t p = 0; p < count; ++p)
      for (int f = 0; f < n; ++f) {
        const bool inSample = sampled[static_cast<std::size_t>(f)];
        pixelvalue v = 0;
        switch (static_cast<Shape>(p % kShapes)) {
          case Narrow: v = static_cast<pixelvalue>(1000 + rng() % 41); break;
          case SampleLow: v = inSample ? static_cast<pixelvalue>(rng() % 3) : static_cast<pixelvalue>(30000 + rng() % 50); break;
          case SampleHigh: v = inSample ? static_cast<pixelvalue>(65533 + rng() % 3) : static_cast<pixelvalue>(30000 + rng() % 50); break;
          case AllEqual: v = 4660; break;
          case AllZero: v = 0; break;
          case AllTop: v = 65535; break;
          case NearZero: v = static_cast<pixelvalue>(rng() % 5); break;
          case NearTop: v = static_cast<pixelvalue>(65535 - rng() % 5); break;
          case WindowWide: v = static_cast<pixelvalue>(20000 + rng() % 254); break;  // codes at both ends
          case TwoLevels: v = static_cast<pixelvalue>(rng() % 2 ? 500 : 700); break;  // median at a bracket end
          case TwoValues: v = rng() % 2 ? 0 : 65535; break;
          case Sorted: v = static_cast<pixelvalue>(f * 65535 / n); break;
          case Reversed: v = static_cast<pixelvalue>((n - 1 - f) * 65535 / n); break;
          default: v = static_cast<pixelvalue>(rng()); break;
        }
        rows[static_cast<std::size_t>(f) * stride + p] = v;
      }
    // A band of 256 pixels keeps its codes in the cache; one of 8192 at
    // 1440 frames writes them past it, laid out a tile at a time.
    for (std::size_t capacity : {256, 8192}) {
      CodedMedian selector(n, capacity);
      ASSERT_TRUE(selector.ok());
      int calls = 0;
      std::vector<pixelvalue> out(count + 1, 0x5A5A);
      ASSERT_TRUE(selector.collapse(count, slices_of(rows, stride, &calls), out.data()));
      EXPECT_EQ(out[count], 0x5A5A) << "wrote past the end";
      if (n >= 200) {  // both ways round the window were taken
        EXPECT_GT(selector.wide(), 0u);
        EXPECT_GT(selector.missed(), 0u);
      }
      for (std::size_t p = 0; p < count; ++p)
        ASSERT_EQ(out[p], column_median(rows, stride, n, p)) << "pixel " << p << ", shape " << p % kShapes << ", band " << capacity;
    }
  }
}

// More pixels need their 16-bit values than the side rows hold (a band of
// 512 pixels keeps 64 columns): the rest are read again, a side's worth at
// a time, with the same result.  A slice that cannot be had fails the band
// whether it is a sampled frame's, a frame's being coded or one read again.
TEST(CodedMedian, ExceptionsBeyondTheSideRowsAndFailedSlices) {
  const int n = 300;
  const std::size_t count = 512;
  std::mt19937 rng(8);
  std::vector<pixelvalue> rows(static_cast<std::size_t>(n) * count);
  for (std::size_t i = 0; i < rows.size(); ++i)
    rows[i] = static_cast<pixelvalue>(i % count < 400 ? rng() : 3000 + rng() % 20);  // 400 wide pixels
  CodedMedian selector(n, count);
  ASSERT_TRUE(selector.ok());
  int calls = 0;
  std::vector<pixelvalue> out(count);
  ASSERT_TRUE(selector.collapse(count, slices_of(rows, count, &calls), out.data()));
  EXPECT_EQ(selector.wide(), 400u);
  EXPECT_GT(calls, 2 * n) << "the exceptions beyond the side rows were not read again";
  for (std::size_t p = 0; p < count; ++p) ASSERT_EQ(out[p], column_median(rows, count, n, p)) << "pixel " << p;
  const int total = calls;
  for (int failAt : {0, hedm::kSamples - 1, hedm::kSamples + 10, total - 1}) {
    int c = 0;
    EXPECT_FALSE(selector.collapse(count, slices_of(rows, count, &c, failAt), out.data())) << "failing call " << failAt;
  }
}

// A stack in memory deeper than the coded threshold, over several bands and
// a last band and tile that are partial, against the plain median.
TEST(CodedMedian, BandsOfAStackInMemory) {
  const int n = hedm::kMinCodedFrames + 3;
  const std::size_t pixels = 2 * 16384 + 77;
  std::mt19937 rng(4);
  std::vector<pixelvalue> stack(static_cast<std::size_t>(n) * pixels);
  for (std::size_t i = 0; i < stack.size(); ++i)
    stack[i] = static_cast<pixelvalue>(i % pixels % 5 == 0 ? rng() : 100 + rng() % 30);
  std::vector<pixelvalue> out(pixels);
  ASSERT_TRUE(hedm::median_of_stack(stack.data(), static_cast<std::uint64_t>(n), pixels, out.data()));
  for (std::size_t p = 0; p < pixels; ++p) ASSERT_EQ(out[p], column_median(stack, pixels, n, p)) << "pixel " << p;
}

// Both coding kernels (AVX2, and the baseline for processors without it),
// storing through the cache or around it, give every value its place in its
// window: the window's ends, one either side, and values and bases at both
// ends of the range.
TEST(CodedMedian, BothCodingKernelsCodeEveryValueAlike) {
  const std::size_t tiles = 40, count = tiles * StackMedian::kTile;
  std::mt19937 rng(2);
  std::vector<pixelvalue> in(count);
  std::vector<std::int16_t> base(count);
  const int offsets[] = {-65535, -30000, -2, -1, 0, 1, 2, 127, 253, 254, 255, 30000, 65535};
  for (std::size_t p = 0; p < count; ++p) {
    const int b = p % 3 == 0 ? 0 : p % 3 == 1 ? 65535 - 253 : static_cast<int>(rng() % 65536);
    int v = b + offsets[p % std::size(offsets)];
    if (p % 5 == 4) v = static_cast<int>(rng() % 65536);
    v = std::clamp(v, 0, 65535);
    in[p] = static_cast<pixelvalue>(v);
    base[p] = static_cast<std::int16_t>(b ^ 0x8000);
  }
  for (bool baseline : {false, true})
    for (bool nontemporal : {false, true}) {
      hedm::AlignedPtr<std::int8_t> out = hedm::allocate_array<std::int8_t>(count);  // rows are stored aligned
      if (!hedm::encode_tile_rows(in.data(), base.data(), tiles, out.get(), baseline, nontemporal))
        continue;  // no AVX2 here
      for (std::size_t p = 0; p < count; ++p) {
        const int b = static_cast<pixelvalue>(base[p]) ^ 0x8000;
        ASSERT_EQ(out[p], std::clamp(in[p] - b + 1, 0, 255) - 128)
            << (baseline ? "baseline" : "AVX2") << " kernel, " << (nontemporal ? "non-temporal" : "ordinary")
            << " stores, pixel " << p << " value " << in[p] << " base " << b;
      }
    }
}

// Bands shared out among threads give the same medians whatever the number
// of threads (1, 2, 3 and 5: counts that do not divide the bands), on both
// sides of every boundary between ways of selecting: the selection network
// (24 frames), the coded bands (200), the pixel-at-a-time selection beyond
// the 16-bit counts (32767).
TEST(StackBands, SameMediansOnAnyNumberOfThreads) {
  std::mt19937 rng(23);
  for (int n : {1, 2, 24, 25, 199, 200, 1440, hedm::kMaxFastFrames, hedm::kMaxFastFrames + 1}) {
    SCOPED_TRACE("n=" + std::to_string(n));
    const std::size_t pixels = n > 10000 ? 64 * 8 + 37 : 64 * 40 + 37;
    std::vector<pixelvalue> stack(static_cast<std::size_t>(n) * pixels);
    for (std::size_t i = 0; i < stack.size(); ++i)  // quiet pixels, and every seventh anything at all
      stack[i] = static_cast<pixelvalue>(i % pixels % 7 == 0 ? rng() : 2000 + rng() % 90);
    std::vector<pixelvalue> expected(pixels);
    for (std::size_t p = 0; p < pixels; ++p) expected[p] = column_median(stack, pixels, n, p);
    for (unsigned threads : {1u, 2u, 3u, 5u}) {
      std::vector<pixelvalue> out(pixels, 0x5A5A);
      ASSERT_TRUE(hedm::median_of_stack(stack.data(), static_cast<std::uint64_t>(n), pixels, out.data(), threads));
      EXPECT_TRUE(out == expected) << threads << " threads";
    }
  }
}

// A stack file that ends early while it is read (cut in its last frame
// after it was opened): on any number of threads, whichever thread meets
// the end, the run fails with one message naming the file, the medians
// handed on before it are the frame's first pixels in order, and an output
// being written over an earlier one leaves that as it was.
TEST(StackBands, AReadFailingOnAnyThreadStopsTheRun) {
  testkit::TempDir dir;
  const std::string path = dir / "stack.ge3", target = dir / "median.ge3";
  testkit::write_file(target, "an earlier run's output\n");
  for (int n : {3, 200}) {  // a buffered and a coded stack, sparse: all zeros
    for (unsigned threads : {1u, 2u, 3u, 5u}) {
      SCOPED_TRACE("n=" + std::to_string(n) + ", " + std::to_string(threads) + " threads");
      const std::uint64_t whole = hedm::kHeaderBytes + std::uint64_t{hedm::kFrameBytes} * static_cast<std::uint64_t>(n);
      testkit::write_file(path, "");
      ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(whole)), 0);
      hedm::InputFile in;
      ASSERT_TRUE(in.open(path));
      ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(whole - hedm::kFrameBytes * 15 / 16)), 0);
      hedm::OutputFile out;
      ASSERT_TRUE(out.create(target));
      std::size_t handed = 0;
      bool inOrder = true;
      auto sink = [&](std::size_t first, const pixelvalue* medians, std::size_t count) {
        inOrder = inOrder && first == handed;
        handed += count;
        return out.write(medians, count * sizeof(pixelvalue));
      };
      const hedm::Status s = hedm::median_of_frames_in_file(in, {hedm::kHeaderBytes, static_cast<std::uint64_t>(n), hedm::kPixelsPerFrame}, sink, threads);
      ASSERT_FALSE(s);
      EXPECT_EQ(s.error().kind, hedm::ErrorKind::Input);
      const std::string err = s.error().text;
      EXPECT_EQ(err.rfind("Could not read " + path + " in full: it ended at byte ", 0), 0u) << err;
      EXPECT_EQ(err.find("Could not", 1), std::string::npos) << "more than one message: " << err;
      EXPECT_TRUE(inOrder);
      EXPECT_LT(handed, hedm::kPixelsPerFrame);
      out.discard();
      EXPECT_EQ(testkit::read_file(target), "an earlier run's output\n");
    }
  }
}
