// Writes a dark-like detector frame file for benchmarks and demos: values of
// about 100 to 2000 with noise around a smooth per-pixel level, and a few hot
// pixels at 65535.
//   make_stack <out> <nFrames> [seed]
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "frame_file.hpp"
#include "io.hpp"

using namespace hedm;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::puts("usage: make_stack <out> <nFrames> [seed]");
    return 1;
  }
  const int nFrames = std::atoi(argv[2]);
  std::mt19937_64 rng(argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1);
  std::vector<pixelvalue> level(kPixelsPerFrame);
  for (std::size_t k = 0; k < kPixelsPerFrame; ++k)
    level[k] = static_cast<pixelvalue>(100 + (k * 7 + (k >> 11) * 13) % 1800 + rng() % 64);
  std::string err;
  OutputFile out;
  std::vector<unsigned char> header(kHeaderBytes);
  for (std::size_t i = 0; i < kHeaderBytes; ++i) header[i] = static_cast<unsigned char>(i * 31);
  if (!out.create(argv[1], &err) || !out.write(header.data(), header.size(), &err)) {
    std::puts(err.c_str());
    return 1;
  }
  std::vector<pixelvalue> frame(kPixelsPerFrame);
  for (int f = 0; f < nFrames; ++f) {
    for (std::size_t k = 0; k < kPixelsPerFrame; k += 4) {
      std::uint64_t r = rng();
      for (int j = 0; j < 4; ++j) {
        int noise = static_cast<int>((r >> (16 * j)) & 63) - 32;
        frame[k + j] = static_cast<pixelvalue>(level[k + j] + noise);
      }
    }
    for (int h = 0; h < 50; ++h) frame[rng() % kPixelsPerFrame] = 65535;
    if (!out.write(frame.data(), kFrameBytes, &err)) {
      std::puts(err.c_str());
      return 1;
    }
  }
  if (!out.commit(&err)) {
    std::puts(err.c_str());
    return 1;
  }
  return 0;
}
