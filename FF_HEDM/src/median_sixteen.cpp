// The 16-bit selection: quick_select, the selection networks, and
// StackMedian, which selects a tile of pixels at a time, by network for
// short stacks and by a per-pixel search on the value for longer ones.
#include <algorithm>
#include <climits>
#include <cstring>

#include "median.hpp"
#include "median_simd.hpp"

namespace hedm {

HEDM_KERNEL_CLONES void clamp_to_sixteen(const std::uint32_t* in, std::size_t n, pixelvalue* out) {
  for (std::size_t k = 0; k < n; ++k) out[k] = static_cast<pixelvalue>(std::min<std::uint32_t>(in[k], 0xffff));
}

HEDM_KERNEL_CLONES void above_sixteen(const std::uint32_t* in, std::size_t n, pixelvalue* out) {
  for (std::size_t k = 0; k < n; ++k)
    out[k] = static_cast<pixelvalue>(std::min<std::uint32_t>(std::max<std::uint32_t>(in[k], 0xffff) - 0xffff, 0xffff));
}

HEDM_KERNEL_CLONES void split_sixteen(const std::uint32_t* in, std::size_t n, pixelvalue* clamped,
                                      pixelvalue* above) {
  for (std::size_t k = 0; k < n; ++k) {
    clamped[k] = static_cast<pixelvalue>(std::min<std::uint32_t>(in[k], 0xffff));
    above[k] = static_cast<pixelvalue>(std::min<std::uint32_t>(std::max<std::uint32_t>(in[k], 0xffff) - 0xffff, 0xffff));
  }
}

pixelvalue quick_select(pixelvalue* a, int n) {
  if (n <= 0) return 0;
  int low = 0, high = n - 1;
  const int median = (low + high) / 2;
  auto swap = [a](int i, int j) {
    pixelvalue temp = a[i];
    a[i] = a[j];
    a[j] = temp;
  };
  for (;;) {
    if (high <= low) return a[median];
    if (high == low + 1) {
      if (a[low] > a[high]) swap(low, high);
      return a[median];
    }
    const int middle = (low + high) / 2;
    if (a[middle] > a[high]) swap(middle, high);
    if (a[low] > a[high]) swap(low, high);
    if (a[middle] > a[low]) swap(middle, low);
    swap(middle, low + 1);
    int ll = low + 1, hh = high;
    for (;;) {
      do ++ll;
      while (a[low] > a[ll]);
      do --hh;
      while (a[hh] > a[low]);
      if (hh < ll) break;
      swap(ll, hh);
    }
    swap(low, hh);
    if (hh <= median) low = ll;
    if (hh >= median) high = hh - 1;
  }
}

// Batcher's odd-even merge sort on the next power of two of wires; the
// wires from n upwards stand for +infinity, so comparators touching them
// change nothing and are left out.  Walking backwards from wire k keeps only
// the comparators whose results reach it.
std::vector<StackMedian::Comparator> selection_network(int n, int k) {
  return selection_network(n, std::vector<int>{k});
}

std::vector<StackMedian::Comparator> selection_network(int n, const std::vector<int>& wires) {
  std::vector<std::pair<int, int>> all;
  int size = 1;
  while (size < n) size *= 2;
  for (int p = 1; p < size; p *= 2)
    for (int q = p; q >= 1; q /= 2)
      for (int j = q % p; j + q < size; j += 2 * q)
        for (int i = 0; i < std::min(q, size - j - q); ++i)
          if ((i + j) / (2 * p) == (i + j + q) / (2 * p)) {
            int a = i + j, b = i + j + q;
            if (b < n) all.emplace_back(a, b);
          }
  std::vector<char> needed(static_cast<std::size_t>(std::max(n, 1)), 0);
  if (n > 0)
    for (int k : wires) needed[static_cast<std::size_t>(k)] = 1;
  std::vector<StackMedian::Comparator> kept;
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    auto [a, b] = *it;
    if (!needed[a] && !needed[b]) continue;
    kept.push_back({static_cast<std::uint16_t>(a), static_cast<std::uint16_t>(b),
                    static_cast<std::uint8_t>(needed[a]), static_cast<std::uint8_t>(needed[b])});
    needed[a] = needed[b] = 1;
  }
  std::reverse(kept.begin(), kept.end());
  return kept;
}

namespace median_kernels {

// The pruned network on one tile (n rows of kTile flipped values), in place.
HEDM_KERNEL_CLONES void run_network(std::int16_t* tile, const StackMedian::Comparator* c, std::size_t nc) {
  v16* t = reinterpret_cast<v16*>(tile);
  for (std::size_t i = 0; i < nc; ++i) {
    v16* __restrict a = t + c[i].lo * kVecs;
    v16* __restrict b = t + c[i].hi * kVecs;
    if (c[i].keepLo && c[i].keepHi) {
      for (int v = 0; v < kVecs; ++v) {
        const v16 x = a[v], y = b[v];
        a[v] = vmin(x, y);
        b[v] = vmax(x, y);
      }
    } else if (c[i].keepLo) {
      for (int v = 0; v < kVecs; ++v) a[v] = vmin(a[v], b[v]);
    } else {
      for (int v = 0; v < kVecs; ++v) b[v] = vmax(a[v], b[v]);
    }
  }
}

}  // namespace median_kernels

namespace {

using namespace median_kernels;

// The robust bounds of a tile: lo = the larger of the minima of the first
// and of the last n - k frames, hi = the smaller of the maxima of the first
// and of the last k + 1 frames (any n - k values include one at or below the
// median, any k + 1 values one at or above it).
HEDM_KERNEL_CLONES void robust_bounds(const std::int16_t* tile, int n, int k, v16* lo, v16* hi) {
  const v16* t = reinterpret_cast<const v16*>(tile);
  v16 minFirst[kVecs], minLast[kVecs], maxFirst[kVecs], maxLast[kVecs];
  for (int v = 0; v < kVecs; ++v) {
    minFirst[v] = minLast[v] = v16{} + INT16_MAX;
    maxFirst[v] = maxLast[v] = v16{} + INT16_MIN;
  }
  for (int f = 0; f <= k; ++f)
    for (int v = 0; v < kVecs; ++v) maxFirst[v] = vmax(maxFirst[v], t[f * kVecs + v]);
  for (int f = 0; f < n - k; ++f)
    for (int v = 0; v < kVecs; ++v) minFirst[v] = vmin(minFirst[v], t[f * kVecs + v]);
  for (int f = k; f < n; ++f)
    for (int v = 0; v < kVecs; ++v) minLast[v] = vmin(minLast[v], t[f * kVecs + v]);
  for (int f = n - k - 1; f < n; ++f)
    for (int v = 0; v < kVecs; ++v) maxLast[v] = vmax(maxLast[v], t[f * kVecs + v]);
  for (int v = 0; v < kVecs; ++v) {
    lo[v] = vmax(minFirst[v], minLast[v]);
    hi[v] = vmin(maxFirst[v], maxLast[v]);
  }
}

// A deep stack's tile: its rows copied from the frame slices (`stride`
// pixels apart) into `tile`, flipped, where the bisection's passes then run
// from the cache; and, in the same pass, the guessed bracket [lo, hi]
// checked: a pixel whose median lies below lo (above hi) gets the whole
// range below lo (above hi) instead, so that [lo, hi] holds the median
// afterwards.  The pass also fetches the next tile's rows, which lie a frame
// apart, where no hardware prefetcher looks.
HEDM_KERNEL_CLONES void copy_and_check(const pixelvalue* rows, std::size_t stride, int n, int k, bool prefetchNext,
                                       std::int16_t* tile, v16* lo, v16* hi) {
  v16* out = reinterpret_cast<v16*>(tile);
  v16 below[kVecs], above[kVecs];
  for (int v = 0; v < kVecs; ++v) below[v] = above[v] = v16{};
  for (int f = 0; f < n; ++f) {
    const pixelvalue* r = rows + static_cast<std::size_t>(f) * stride;
    if (prefetchNext) {
      __builtin_prefetch(r + W, 0, 3);
      __builtin_prefetch(r + W + 32, 0, 3);
    }
    const v16* in = reinterpret_cast<const v16*>(r);
    for (int v = 0; v < kVecs; ++v) {
      const v16 x = in[v] ^ INT16_MIN;
      out[f * kVecs + v] = x;
      below[v] -= x < lo[v];
      above[v] -= x > hi[v];
    }
  }
  const std::int16_t rank = static_cast<std::int16_t>(k), fromTop = static_cast<std::int16_t>(n - 1 - k);
  for (int v = 0; v < kVecs; ++v) {
    const v16 low = below[v] > rank;      // more than k values under lo: the median is under lo
    const v16 high = above[v] > fromTop;  // more than n-1-k values over hi: the median is over hi
    // One step past a bound in unsigned arithmetic, which wraps by
    // definition: a lane at either end computes it too, and discards it.
    const v16 l = lo[v], h = hi[v];
    const v16 pastHi = reinterpret_cast<v16>(reinterpret_cast<u16v>(h) + 1);
    const v16 beforeLo = reinterpret_cast<v16>(reinterpret_cast<u16v>(l) - 1);
    lo[v] = low ? v16{} + INT16_MIN : high ? pastHi : l;
    hi[v] = low ? beforeLo : high ? v16{} + INT16_MAX : h;
  }
}

// Per pixel, the smallest value m with at least k + 1 values <= m, found by
// bisection between bounds that enclose it.  Each step counts, frame row by
// frame row, the values above mid: one compare and one subtract per row and
// vector.
HEDM_KERNEL_CLONES void bisect_tile(const std::int16_t* tile, int n, int k, v16* lo, v16* hi) {
  const v16* t = reinterpret_cast<const v16*>(tile);
  const std::int16_t above = static_cast<std::int16_t>(n - 1 - k);  // values allowed above
  for (;;) {
    v16 open = {};
    for (int v = 0; v < kVecs; ++v) open |= lo[v] != hi[v];
    if (!any_lane(open)) break;
    // lo + (hi - lo) / 2 and mid + 1 in unsigned arithmetic, which wraps by
    // definition and agrees with the flipped signed order here.
    v16 mid[kVecs], count[kVecs];
    for (int v = 0; v < kVecs; ++v) {
      const u16v l = reinterpret_cast<u16v>(lo[v]), h = reinterpret_cast<u16v>(hi[v]);
      mid[v] = reinterpret_cast<v16>(l + ((h - l) >> 1));
      count[v] = v16{};
    }
    for (int f = 0; f < n; ++f)
      for (int v = 0; v < kVecs; ++v) count[v] -= t[f * kVecs + v] > mid[v];
    for (int v = 0; v < kVecs; ++v) {
      const v16 fits = count[v] <= above;  // the median is at or below mid
      hi[v] = fits ? mid[v] : hi[v];
      lo[v] = fits ? lo[v] : reinterpret_cast<v16>(reinterpret_cast<u16v>(mid[v]) + 1);
    }
  }
}

void unflip(const void* values, pixelvalue* out, std::size_t m) {
  const std::int16_t* v = static_cast<const std::int16_t*>(values);
  for (std::size_t j = 0; j < m; ++j) out[j] = static_cast<pixelvalue>(v[j] ^ INT16_MIN);
}

}  // namespace

StackMedian::StackMedian(std::int64_t nFrames) {
  if (nFrames < 1 || nFrames > INT32_MAX) return;
  n_ = static_cast<int>(nFrames);
  k_ = (n_ - 1) / 2;
  if (n_ > kMaxFastFrames) {
    column_.resize(static_cast<std::size_t>(n_));
    return;
  }
  useNetwork_ = n_ <= kNetworkFrames;
  sampled_ = n_ >= kSampledFrames;
  if (useNetwork_) network_ = selection_network(n_, k_);
  if (sampled_) network_ = selection_network(kSamples, {kSampleLow, kSampleHigh});
  // Tiles copied together: as many as keep the copied rows within about
  // 128 KiB (one for deep stacks, whose tiles are copied while checked).
  group_ = sampled_ ? 1 : std::clamp<std::size_t>((128u << 10) / (static_cast<std::size_t>(n_) * W * 2), 1, kGroup);
  tile_ = allocate_array<std::int16_t>(static_cast<std::size_t>(n_) * W * group_ + (sampled_ ? kSamples * W : 0));
}

void StackMedian::select_tile(std::int16_t* tile, pixelvalue* out, std::size_t m) {
  if (useNetwork_) {
    run_network(tile, network_.data(), network_.size());
    unflip(tile + static_cast<std::size_t>(k_) * W, out, m);
    return;
  }
  v16 lo[kVecs], hi[kVecs];
  robust_bounds(tile, n_, k_, lo, hi);
  bisect_tile(tile, n_, k_, lo, hi);
  unflip(lo, out, m);
}

void StackMedian::select_deep_tile(const pixelvalue* rows, std::size_t stride, bool prefetchNext,
                                   pixelvalue* out) {
  // Frames spread evenly over the stack, sorted far enough to give two
  // order statistics either side of the median.
  std::int16_t* sample = tile_.get() + static_cast<std::size_t>(n_) * W;
  for (int i = 0; i < kSamples; ++i) {
    const pixelvalue* r = rows + static_cast<std::size_t>(static_cast<long>(i) * n_ / kSamples) * stride;
    for (int j = 0; j < W; ++j) sample[i * W + j] = static_cast<std::int16_t>(r[j] ^ 0x8000);
  }
  run_network(sample, network_.data(), network_.size());
  v16 lo[kVecs], hi[kVecs];
  std::memcpy(lo, sample + kSampleLow * W, sizeof lo);
  std::memcpy(hi, sample + kSampleHigh * W, sizeof hi);
  copy_and_check(rows, stride, n_, k_, prefetchNext, tile_.get(), lo, hi);
  bisect_tile(tile_.get(), n_, k_, lo, hi);
  unflip(lo, out, W);
}

void StackMedian::collapse(const pixelvalue* rows, std::size_t rowStride, std::size_t count,
                           pixelvalue* out) {
  if (!column_.empty()) {  // beyond the counts' range: each pixel's values gathered and selected
    for (std::size_t p = 0; p < count; ++p) {
      for (int f = 0; f < n_; ++f) column_[static_cast<std::size_t>(f)] = rows[static_cast<std::size_t>(f) * rowStride + p];
      out[p] = quick_select(column_.data(), n_);
    }
    return;
  }
  const std::size_t tileSize = static_cast<std::size_t>(n_) * W;
  const std::size_t run = group_ * W;
  for (std::size_t p0 = 0; p0 < count; p0 += run) {
    const std::size_t m = std::min(run, count - p0);
    if (sampled_ && m == W) {  // a deep stack's whole tile: copied while its bracket is checked
      select_deep_tile(rows + p0, rowStride, p0 + 2 * W <= count, out + p0);
      continue;
    }
    // Copy a run of group_ tiles from each frame row at once, flipping the
    // top bit; the unused lanes of a short last run repeat its first pixel.
    for (int f = 0; f < n_; ++f) {
      const pixelvalue* src = rows + static_cast<std::size_t>(f) * rowStride + p0;
      std::int16_t* dst = tile_.get() + static_cast<std::size_t>(f) * W;
      if (m == run) {
        // The next run's pixels of this row, a frame away from the next
        // row's, where no hardware prefetcher looks.
        if (p0 + 2 * run <= count)
          for (std::size_t i = 0; i < run; i += 32) __builtin_prefetch(src + run + i, 0, 3);
        for (std::size_t t = 0; t < group_; ++t)
          for (int j = 0; j < W; ++j) dst[t * tileSize + j] = static_cast<std::int16_t>(src[t * W + j] ^ 0x8000);
      } else {
        for (std::size_t i = 0; i < run; ++i)
          dst[i / W * tileSize + i % W] = static_cast<std::int16_t>(src[i < m ? i : 0] ^ 0x8000);
      }
    }
    for (std::size_t t = 0; t * W < m; ++t)
      select_tile(tile_.get() + t * tileSize, out + p0 + t * W, std::min<std::size_t>(W, m - t * W));
  }
}

#undef vmin
#undef vmax

}  // namespace hedm
