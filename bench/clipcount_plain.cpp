// The straightforward saturated-pixel count, for the benchmark: each file read
// whole with one fread into malloc'ed memory and counted pixel by pixel.
//   clipcount_plain <file> [file ...] <satInt>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "frame_file.hpp"

using namespace hedm;

int main(int argc, char** argv) {
  if (argc < 3) return 1;
  const int satInt = std::atoi(argv[argc - 1]);
  for (int a = 1; a < argc - 1; ++a) {
    std::FILE* f = std::fopen(argv[a], "r");
    if (!f) return 1;
    std::fseek(f, 0, SEEK_END);
    long sz = std::ftell(f) - static_cast<long>(kHeaderBytes);
    std::fseek(f, kHeaderBytes, SEEK_SET);
    auto* image = static_cast<pixelvalue*>(std::malloc(static_cast<std::size_t>(sz)));
    if (std::fread(image, 1, static_cast<std::size_t>(sz), f) != static_cast<std::size_t>(sz)) return 1;
    std::fclose(f);
    long n = sz / 2, count = 0;
    for (long p = 0; p < n; ++p) {
      if (image[p] >= satInt) ++count;
      if ((p + 1) % static_cast<long>(kPixelsPerFrame) == 0) {
        std::printf("Frame %03ld %ld.\n", (p + 1) / static_cast<long>(kPixelsPerFrame), count);
        count = 0;
      }
    }
    std::free(image);
  }
  return 0;
}
