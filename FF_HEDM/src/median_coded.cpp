// The coded selection: CodedMedian, which codes a deep stack's band a byte
// per value against each pixel's window, searches the codes 32 pixels at a
// time, and hands its exception pixels to StackMedian.
#include <immintrin.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "median.hpp"
#include "median_simd.hpp"

namespace hedm {

namespace {

using namespace median_kernels;

// The last-level cache's size as the C library reads it off the processor;
// 0 where it cannot tell.
std::size_t last_level_cache_bytes() {
  long bytes = 0;
#ifdef _SC_LEVEL3_CACHE_SIZE
  bytes = std::max(sysconf(_SC_LEVEL2_CACHE_SIZE), sysconf(_SC_LEVEL3_CACHE_SIZE));
#endif
  return bytes > 0 ? static_cast<std::size_t>(bytes) : 0;
}

// A frame's slice of a deep stack's band coded against its pixels'
// windows, tile by tile (the tiles' rows `tileStride` codes apart): the code
// is clamp(value - base + 1, 0, 255), flipped to signed for the search
// (less 128), computed as clamp(value - base - 127, -128, 127) by
// saturating 16-bit arithmetic on the flipped values (whose differences
// are the values' own) and a saturating pack to bytes.  Written with
// non-temporal stores where asked (codes that would not stay in the cache).
__attribute__((target("avx2"))) void encode_slice_avx2(const pixelvalue* in, const std::int16_t* base,
                                                       std::size_t tiles, std::int8_t* out,
                                                       std::size_t tileStride, bool stream) {
  const __m256i flip = _mm256_set1_epi16(INT16_MIN), shift = _mm256_set1_epi16(1 + INT8_MIN);
  for (std::size_t t = 0; t < tiles; ++t, in += W, base += W, out += tileStride) {
    __m256i c[W / 32];
    for (int h = 0; h < W / 32; ++h) {
      __m256i d[2];
      for (int q = 0; q < 2; ++q) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 32 * h + 16 * q));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + 32 * h + 16 * q));
        d[q] = _mm256_adds_epi16(_mm256_subs_epi16(_mm256_xor_si256(x, flip), b), shift);
      }
      // The pack interleaves the two 128-bit halves; the permutation puts
      // the codes back in pixel order.
      c[h] = _mm256_permute4x64_epi64(_mm256_packs_epi16(d[0], d[1]), 0xD8);
    }
    __m256i* o = reinterpret_cast<__m256i*>(out);
    for (int h = 0; h < W / 32; ++h) {
      if (stream)
        _mm256_stream_si256(o + h, c[h]);
      else
        _mm256_store_si256(o + h, c[h]);
    }
  }
}

void encode_slice_sse2(const pixelvalue* in, const std::int16_t* base, std::size_t tiles, std::int8_t* out,
                       std::size_t tileStride, bool stream) {
  const __m128i flip = _mm_set1_epi16(INT16_MIN), shift = _mm_set1_epi16(1 + INT8_MIN);
  for (std::size_t t = 0; t < tiles; ++t, in += W, base += W, out += tileStride) {
    for (int h = 0; h < W / 16; ++h) {
      __m128i d[2];
      for (int q = 0; q < 2; ++q) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16 * h + 8 * q));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + 16 * h + 8 * q));
        d[q] = _mm_adds_epi16(_mm_subs_epi16(_mm_xor_si128(x, flip), b), shift);
      }
      const __m128i c = _mm_packs_epi16(d[0], d[1]);
      __m128i* o = reinterpret_cast<__m128i*>(out + 16 * h);
      if (stream)
        _mm_stream_si128(o, c);
      else
        _mm_store_si128(o, c);
    }
  }
}

// 32 signed codes.  Their counts, and any 16-bit arithmetic on them, go in
// two halves of 16 lanes (v16, one register: wider vectors are split lane
// by lane where they compare or narrow); counts are signed, as they stay
// below 32768 and signed ones compare in one instruction.
typedef std::int8_t c8v __attribute__((vector_size(32), aligned(32)));
typedef std::uint8_t u8v __attribute__((vector_size(32), aligned(32)));
constexpr int kCodeVecs = W / 32;
// Lanes 0-15 or 16-31 of 32 byte lanes widened to 16 bits (zero- or
// sign-extended as the bytes are unsigned or signed), and two halves
// narrowed back to their low bytes; macros, as vmin and vmax are.
#define widen_half(x, half)                                                                                     \
  __builtin_convertvector((half) ? __builtin_shufflevector(x, x, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, \
                                                           28, 29, 30, 31)                                      \
                                 : __builtin_shufflevector(x, x, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, \
                                                           14, 15),                                             \
                          v16)
#define narrow_halves(a, b)                                                                                       \
  __builtin_shufflevector(reinterpret_cast<c8v>(a), reinterpret_cast<c8v>(b), 0, 2, 4, 6, 8, 10, 12, 14, 16, 18, \
                          20, 22, 24, 26, 28, 30, 32, 34, 36, 38, 40, 42, 44, 46, 48, 50, 52, 54, 56, 58, 60, 62)
constexpr int kByteRun = 255;  // rows counted in bytes before the counts are widened

// Per pixel, the number of codes above each of P pivots (rising), and the
// pixel's interval [lo, hi] narrowed to the part between two pivots that
// holds the median.  The counts are kept in bytes for up to kByteRun rows
// at a time, then widened.
template <int P>
inline void split_interval(const c8v* t, std::size_t stride, int n, bool prefetchNext, const v16& allowedAbove,
                           const c8v (*q)[kCodeVecs], c8v* lo, c8v* hi) {
  // One vector's column at a time, so that its pivots and counts stay in
  // registers.
  v16 count[P][kCodeVecs][2] = {};
  for (int v = 0; v < kCodeVecs; ++v) {
    c8v pivot[P];
    for (int j = 0; j < P; ++j) pivot[j] = q[j][v];
    for (int f0 = 0; f0 < n; f0 += kByteRun) {
      const int f1 = std::min(n, f0 + kByteRun);
      u8v c[P] = {};
      for (int f = f0; f < f1; ++f) {
        const c8v* row = t + static_cast<std::size_t>(f) * stride;
        if (prefetchNext && v == 0) __builtin_prefetch(row + kCodeVecs, 0, 3);
        const c8v x = row[v];
        for (int j = 0; j < P; ++j) c[j] -= reinterpret_cast<u8v>(x > pivot[j]);
      }
      for (int j = 0; j < P; ++j) {
        count[j][v][0] += widen_half(c[j], 0);
        count[j][v][1] += widen_half(c[j], 1);
      }
    }
  }
  // The median is at or below pivot j where no more than n - 1 - k values
  // lie above it.  Walking down from the highest pivot: the lowest pivot
  // that fits becomes hi, and lo is one past the highest that does not.
  for (int v = 0; v < kCodeVecs; ++v) {
    c8v newLo = lo[v], newHi = hi[v];
    for (int j = P - 1; j >= 0; --j) {
      const c8v fits = narrow_halves(count[j][v][0] <= allowedAbove, count[j][v][1] <= allowedAbove);
      // q + 1 in unsigned arithmetic, which wraps by definition; it is
      // used only where the median lies above q, so below the top code.
      const c8v after = reinterpret_cast<c8v>(reinterpret_cast<u8v>(q[j][v]) + 1);
      newHi = fits ? q[j][v] : newHi;
      newLo = fits ? newLo : (newLo < after ? after : newLo);
    }
    lo[v] = newLo;
    hi[v] = newHi;
  }
}

// The median's code for each pixel of a coded tile (n rows of kTile
// codes), by a search that splits each pixel's interval several ways per
// pass over the rows: a few pivots per pass cost less than a pass each.
// The first pass's pivots are the sample's bracket and its thirds, which
// leave the median in a third of [low, high] for nearly every pixel (a
// pixel whose median lies beyond the bracket gets the codes on that side
// instead); each later pass splits the interval in four.
HEDM_KERNEL_CLONES void search_codes(const std::int8_t* tile, std::size_t rowStride, bool prefetchNext, int n, int k,
                                     const std::int8_t* low, const std::int8_t* high, std::int8_t* result) {
  const c8v* t = reinterpret_cast<const c8v*>(tile);
  const std::size_t stride = rowStride / sizeof(c8v);
  const v16 allowedAbove = v16{} + static_cast<std::int16_t>(n - 1 - k);  // values allowed above
  c8v lo[kCodeVecs], hi[kCodeVecs];
  {
    c8v q[4][kCodeVecs];
    for (int v = 0; v < kCodeVecs; ++v) {
      c8v l, h;
      std::memcpy(&l, low + 32 * v, sizeof l);
      std::memcpy(&h, high + 32 * v, sizeof h);
      lo[v] = c8v{} + INT8_MIN;
      hi[v] = c8v{} + INT8_MAX;
      // low - 1 + floor(width * j / 3), in 16 bits, a half at a time; low
      // lies above the lowest code, so low - 1 is a code.  For widths up
      // to 257, floor(w / 3) is (w * 171) >> 9, and floor(2w / 3) is w
      // less the ceiling of w / 3.
      v16 q0[2], q1[2], q2[2];
      for (int half = 0; half < 2; ++half) {
        const v16 l16 = widen_half(l, half), h16 = widen_half(h, half);
        const v16 width = h16 - l16 + 1;
        const v16 third = reinterpret_cast<v16>((reinterpret_cast<u16v>(width) * 171) >> 9);
        const v16 ceilThird = reinterpret_cast<v16>((reinterpret_cast<u16v>(width + 2) * 171) >> 9);
        q0[half] = l16 - 1;
        q1[half] = l16 - 1 + third;
        q2[half] = l16 - 1 + width - ceilThird;
      }
      q[0][v] = narrow_halves(q0[0], q0[1]);
      q[1][v] = narrow_halves(q1[0], q1[1]);
      q[2][v] = narrow_halves(q2[0], q2[1]);
      q[3][v] = h;
    }
    split_interval<4>(t, stride, n, prefetchNext, allowedAbove, q, lo, hi);
  }
  for (;;) {
    c8v open = {};
    for (int v = 0; v < kCodeVecs; ++v) open |= lo[v] != hi[v];
    if (!any_lane(open)) break;
    // Pivots lo - 1 + floor(width * j / 4), in 16 bits, at lo at least.
    c8v q[3][kCodeVecs];
    for (int v = 0; v < kCodeVecs; ++v) {
      v16 p[3][2];
      for (int half = 0; half < 2; ++half) {
        const v16 l = widen_half(lo[v], half), h = widen_half(hi[v], half);
        const v16 width = h - l + 1;
        for (int j = 0; j < 3; ++j) {
          const v16 at = l - 1 + ((width * static_cast<std::int16_t>(j + 1)) >> 2);
          p[j][half] = vmax(at, l);
        }
      }
      for (int j = 0; j < 3; ++j) q[j][v] = narrow_halves(p[j][0], p[j][1]);
    }
    split_interval<3>(t, stride, n, false, allowedAbove, q, lo, hi);
  }
  std::memcpy(result, lo, sizeof lo);
}

}  // namespace

CodedMedian::CodedMedian(std::int64_t nFrames, std::size_t bandPixels, unsigned sharers) : sixteen_(nFrames) {
  if (nFrames < 1 || nFrames > kMaxFastFrames || bandPixels == 0 || bandPixels % W != 0) return;
  n_ = static_cast<int>(nFrames);
  k_ = (n_ - 1) / 2;
  capacity_ = bandPixels;
  sideColumns_ = std::max<std::size_t>(W, capacity_ / 16 / W * W);
  const std::size_t rows = static_cast<std::size_t>(n_);
  network_ = selection_network(kSamples, {kSampleLow, kSampleHigh});
  // Codes that stay in the cache are laid out a frame's row at a time, so
  // that coding writes them in order (rows a line longer than a slice's
  // codes: rows a power of two apart would share cache sets), and the search
  // fetches the next tile's rows ahead.  Codes written past the cache are
  // laid out a tile at a time, so that the search reads each tile in order
  // from memory.
  streamed_ = rows * (capacity_ + W) > kCachedCodeBytes;
  // Streamed codes are stored around the cache where those of all threads
  // would take more than half of the last-level cache (the rest goes to the
  // slices read through it; they would evict one another before the search
  // reads them), and through it where it holds them easily.  On a processor
  // with a large last-level cache, non-temporal stores of a 1440-frame
  // band's 47 MB cost a fifth of the run; on one of 48 MiB, ordinary stores
  // cost an eighth more (4.55 against 5.14 s, one thread, side by side).
  nontemporal_ = streamed_ && 2 * std::size_t{std::max(sharers, 1u)} * rows * (capacity_ + W) > last_level_cache_bytes();
  frameStride_ = streamed_ ? W : capacity_ + W;
  tileStride_ = streamed_ ? rows * W : W;
  codes_ = allocate_huge_array<std::int8_t>(rows * (capacity_ + W));
  sample_ = allocate_array<std::int16_t>(kSamples * capacity_);
  raw_ = allocate_array<pixelvalue>(kSamples * capacity_);
  base_ = allocate_array<std::int16_t>(capacity_);
  low_ = allocate_array<std::int8_t>(capacity_);
  high_ = allocate_array<std::int8_t>(capacity_);
  wideFlag_ = allocate_array<std::uint8_t>(capacity_);
  side_ = allocate_huge_array<pixelvalue>(rows * sideColumns_);
  edge_ = allocate_array<pixelvalue>(W);
  sideOut_.resize(sideColumns_);
  ok_ = codes_ && sample_ && raw_ && base_ && low_ && high_ && wideFlag_ && side_ && edge_ && sixteen_.ok();
}

// The sampled frames' slices, a network per tile for the sample's two order
// statistics, and each pixel's window around them: centred on the bracket,
// kept inside 0 .. 65535.  A bracket wider than the window marks the pixel
// wide (low > high) and lists it for its 16-bit values.
bool CodedMedian::place_windows(std::size_t count, const Slice& slice) {
  const std::size_t tiles = (count + W - 1) / W;
  for (int i = 0; i < kSamples; ++i) {
    const pixelvalue* s = slice(sample_frame(i));
    if (!s) return false;
    pixelvalue* raw = raw_.get() + static_cast<std::size_t>(i) * capacity_;
    std::memcpy(raw, s, count * sizeof(pixelvalue));
    for (std::size_t p = count; p < tiles * W; ++p) raw[p] = raw[count / W * W];  // a last tile's padding
    for (std::size_t t = 0; t < tiles; ++t) {
      std::int16_t* row = sample_.get() + (t * kSamples + static_cast<std::size_t>(i)) * W;
      for (std::size_t j = 0; j < W; ++j) row[j] = static_cast<std::int16_t>(raw[t * W + j] ^ 0x8000);
    }
  }
  exceptions_.clear();
  for (std::size_t t = 0; t < tiles; ++t) {
    std::int16_t* tile = sample_.get() + t * kSamples * W;
    run_network(tile, network_.data(), network_.size());
    for (std::size_t j = 0; j < W; ++j) {
      const std::size_t p = t * W + j;
      const int lo = static_cast<pixelvalue>(tile[kSampleLow * W + j] ^ 0x8000);
      const int hi = static_cast<pixelvalue>(tile[kSampleHigh * W + j] ^ 0x8000);
      const int width = hi - lo + 1;
      if (width > static_cast<int>(kCodeWindow)) {
        base_[p] = static_cast<std::int16_t>(lo ^ 0x8000);
        low_[p] = INT8_MIN + 1;  // the whole window: searched like the rest, the result unused
        high_[p] = INT8_MAX - 1;
        wideFlag_[p] = 1;
        if (p < count) exceptions_.push_back(static_cast<std::uint32_t>(p));
        continue;
      }
      wideFlag_[p] = 0;
      const int base = std::clamp(lo - (static_cast<int>(kCodeWindow) - width) / 2, 0, 65536 - static_cast<int>(kCodeWindow));
      base_[p] = static_cast<std::int16_t>(base ^ 0x8000);
      low_[p] = static_cast<std::int8_t>(lo - base + 1 + INT8_MIN);
      high_[p] = static_cast<std::int8_t>(hi - base + 1 + INT8_MIN);
    }
  }
  wide_ = exceptions_.size();
  return true;
}

// Every frame's slice coded into the tiles, with the values of the first
// `gathered` wide pixels (as many as the side rows hold) gathered on the way.
bool CodedMedian::encode_all(std::size_t count, std::size_t gathered, const Slice& slice) {
  static const EncodeSlice encode_slice = encode_kernel(!HEDM_HAS_AVX2());
  const std::size_t full = count / W;
  for (int f = 0, next = 0; f < n_; ++f) {
    // The sampled frames' slices are at hand already.
    const bool sampled = next < kSamples && sample_frame(next) == f;
    const pixelvalue* s = sampled ? raw_.get() + static_cast<std::size_t>(next) * capacity_ : slice(f);
    if (!s) return false;
    while (next < kSamples && sample_frame(next) <= f) ++next;
    std::int8_t* codes = codes_.get() + static_cast<std::size_t>(f) * frameStride_;
    encode_slice(s, base_.get(), full, codes, tileStride_, nontemporal_);
    if (full * W < count) {  // a last, partial tile: its pixels padded with the first
      const std::size_t m = count - full * W;
      for (std::size_t j = 0; j < W; ++j) edge_[j] = s[full * W + (j < m ? j : 0)];
      encode_slice(edge_.get(), base_.get() + full * W, 1, codes + full * tileStride_, tileStride_, nontemporal_);
    }
    pixelvalue* side = side_.get() + static_cast<std::size_t>(f) * gathered;
    for (std::size_t w = 0; w < gathered; ++w) side[w] = s[exceptions_[w]];
  }
  if (nontemporal_) _mm_sfence();
  return true;
}

// The exceptions' medians from their 16-bit values: those gathered with the
// codes first, then the rest, a side's worth at a time, read again.  The
// side rows are as long as the exceptions they hold, so that few
// exceptions touch little memory.
bool CodedMedian::select_exceptions(const Slice& slice, std::size_t gathered, pixelvalue* out) {
  auto select = [&](std::size_t first, std::size_t m) {
    sixteen_.collapse(side_.get(), m, m, sideOut_.data());
    for (std::size_t w = 0; w < m; ++w) out[exceptions_[first + w]] = sideOut_[w];
  };
  if (gathered) select(0, gathered);
  for (std::size_t done = gathered; done < exceptions_.size();) {
    const std::size_t m = std::min(sideColumns_, exceptions_.size() - done);
    for (int f = 0; f < n_; ++f) {
      const pixelvalue* s = slice(f);
      if (!s) return false;
      pixelvalue* side = side_.get() + static_cast<std::size_t>(f) * m;
      for (std::size_t w = 0; w < m; ++w) side[w] = s[exceptions_[done + w]];
    }
    select(done, m);
    done += m;
  }
  return true;
}

bool CodedMedian::collapse(std::size_t count, const Slice& slice, pixelvalue* out) {
  if (count == 0) return true;
  if (!place_windows(count, slice)) return false;
  const std::size_t gathered = std::min(exceptions_.size(), sideColumns_);
  if (!encode_all(count, gathered, slice)) return false;
  const std::size_t tiles = (count + W - 1) / W;
  alignas(32) std::int8_t result[W];
  missed_ = 0;
  for (std::size_t t = 0; t < tiles; ++t) {
    search_codes(codes_.get() + t * tileStride_, frameStride_, !streamed_ && t + 1 < tiles, n_, k_,
                 low_.get() + t * W, high_.get() + t * W, result);
    const std::size_t m = std::min<std::size_t>(W, count - t * W);
    for (std::size_t j = 0; j < m; ++j) {
      const std::size_t p = t * W + j;
      if (wideFlag_[p]) continue;  // selected with the exceptions
      const int code = result[j] - INT8_MIN;
      if (code == 0 || code == 255) {  // the median lies outside the window
        exceptions_.push_back(static_cast<std::uint32_t>(p));
        ++missed_;
        continue;
      }
      out[p] = static_cast<pixelvalue>((static_cast<pixelvalue>(base_[p]) ^ 0x8000) + code - 1);
    }
  }
  return select_exceptions(slice, gathered, out);
}

// The other kernels are one source built for each processor, the one to
// run picked when the program starts (target_clones).  The coding kernel is
// two sources, AVX2 intrinsics and SSE2 ones, which target_clones cannot
// make of one: it is picked by hand, here, once, and the tests call both
// (on a processor with AVX2) through this one door.
EncodeSlice encode_kernel(bool baseline) {
  if (baseline) return encode_slice_sse2;
  return HEDM_HAS_AVX2() ? encode_slice_avx2 : nullptr;
}

#undef vmin
#undef vmax
#undef widen_half
#undef narrow_halves

}  // namespace hedm
