// Writes float images (2048 x 2048 single-precision values, no header) with
// bright spots on a noisy background, for benchmarks:
//   make_floats <stem> <first> <last> [ext]   writes <stem>NNNNN.<ext>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "frame_file.hpp"
#include "io.hpp"

using namespace hedm;

int main(int argc, char** argv) {
  if (argc < 4) {
    std::puts("usage: make_floats <stem> <first> <last> [ext]");
    return 1;
  }
  const std::string stem = argv[1], ext = argc > 4 ? argv[4] : "raw";
  const int first = std::atoi(argv[2]), last = std::atoi(argv[3]);
  std::vector<float> img(kPixelsPerFrame);
  for (int i = first; i <= last; ++i) {
    std::mt19937 rng(static_cast<unsigned>(i));
    std::normal_distribution<float> noise(20.0f, 5.0f);
    for (float& v : img) v = noise(rng);
    for (int s = 0; s < 200; ++s) {  // Gaussian spots
      const int cx = static_cast<int>(rng() % 2040) + 4, cy = static_cast<int>(rng() % 2040) + 4;
      const float peak = 500.0f + static_cast<float>(rng() % 5000);
      for (int dy = -4; dy <= 4; ++dy)
        for (int dx = -4; dx <= 4; ++dx)
          img[static_cast<std::size_t>(cy + dy) * nrPixels + static_cast<std::size_t>(cx + dx)] +=
              peak * std::exp(-0.5f * static_cast<float>(dx * dx + dy * dy));
    }
    char name[32];
    std::snprintf(name, sizeof name, "%05d.", i);
    std::string err;
    OutputFile out;
    if (!out.create(stem + name + ext, &err) || !out.write(img.data(), img.size() * 4, &err) ||
        !out.commit(&err)) {
      std::puts(err.c_str());
      return 1;
    }
  }
  return 0;
}
