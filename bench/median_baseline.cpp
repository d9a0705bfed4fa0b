// The straightforward per-pixel median, kept as the benchmark baseline for
// StackCollapse: the whole file read with one fread into malloc'ed memory,
// each pixel's values gathered with a stride of one frame, then quick_select.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "frame_file.hpp"
#include "median.hpp"

using namespace hedm;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::puts("usage: median_baseline <in> <out>");
    return 1;
  }
  std::FILE* in = std::fopen(argv[1], "rb");
  if (!in) return 1;
  static unsigned char header[kHeaderBytes];
  if (std::fread(header, 1, kHeaderBytes, in) != kHeaderBytes) return 1;
  std::fseek(in, 0, SEEK_END);
  std::uint64_t sz = static_cast<std::uint64_t>(std::ftell(in)) - kHeaderBytes;
  std::fseek(in, kHeaderBytes, SEEK_SET);
  std::int64_t nElements = static_cast<std::int64_t>(sz / 2);
  int nFrames = static_cast<int>(nElements / static_cast<std::int64_t>(kPixelsPerFrame));
  auto* image = static_cast<pixelvalue*>(std::malloc(sz));
  if (!image || nFrames < 1) return 1;
  if (std::fread(image, 2, static_cast<std::size_t>(nElements), in) !=
      static_cast<std::size_t>(nElements))
    return 1;
  std::vector<pixelvalue> subArr(static_cast<std::size_t>(nFrames));
  std::vector<pixelvalue> median(kPixelsPerFrame);
  for (std::size_t k = 0; k < kPixelsPerFrame; ++k) {
    for (int f = 0; f < nFrames; ++f) subArr[f] = image[f * kPixelsPerFrame + k];
    median[k] = quick_select(subArr.data(), nFrames);
  }
  std::FILE* out = std::fopen(argv[2], "wb");
  if (!out) return 1;
  std::fwrite(header, 1, kHeaderBytes, out);
  std::fwrite(median.data(), 2, kPixelsPerFrame, out);
  return std::fclose(out) == 0 ? 0 : 1;
}
