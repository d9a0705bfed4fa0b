// The median of a stack in memory whose pixels are nearly all exception
// pixels of the coded selection (the middle of their values spreads wider
// than the code window), on one thread: the 16-bit selection of those
// pixels is then most of the run.  Values: a level per pixel plus noise of
// the given spread (normal), the spots of a data-like stack left out.
//   exception_median <frames> <pixels> <sigma> [rounds]
// prints the share of exception pixels of the first band and the median
// wall time of the rounds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "median.hpp"
#include "stack_median.hpp"

using namespace hedm;

int main(int argc, char** argv) {
  if (argc < 4) {
    std::puts("usage: exception_median <frames> <pixels> <sigma> [rounds]");
    return 1;
  }
  const long n = std::atol(argv[1]);
  const std::size_t pixels = static_cast<std::size_t>(std::atol(argv[2])) / StackMedian::kTile * StackMedian::kTile;
  const double sigma = std::atof(argv[3]);
  const int rounds = argc > 4 ? std::atoi(argv[4]) : 5;
  if (n < 1 || pixels == 0 || rounds < 1) return 1;
  std::vector<pixelvalue> stack(static_cast<std::size_t>(n) * pixels);
  std::mt19937 rng(1);
  std::normal_distribution<double> noise(0, sigma);
  std::vector<double> level(pixels);
  for (double& l : level) l = 2000 + rng() % 20000;
  for (long f = 0; f < n; ++f)
    for (std::size_t p = 0; p < pixels; ++p)
      stack[static_cast<std::size_t>(f) * pixels + p] =
          static_cast<pixelvalue>(std::clamp(level[p] + noise(rng), 0.0, 65535.0));
  const std::size_t band = std::min<std::size_t>(pixels, 16384);
  CodedMedian coded(n, band);
  std::vector<pixelvalue> out(pixels);
  if (coded.ok()) {
    coded.collapse(band, [&](std::int64_t f) { return stack.data() + static_cast<std::size_t>(f) * pixels; },
                   out.data());
    std::printf("exception pixels: %.1f%% wide, %.1f%% missed\n", 100.0 * coded.wide() / band,
                100.0 * coded.missed() / band);
  }
  std::vector<double> times;
  for (int r = 0; r < rounds; ++r) {
    const auto t = std::chrono::steady_clock::now();
    if (!median_of_stack(stack.data(), static_cast<std::uint64_t>(n), pixels, out.data(), 1)) return 1;
    times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count());
  }
  std::sort(times.begin(), times.end());
  unsigned sum = 0;
  for (pixelvalue v : out) sum = sum * 31 + v;
  std::printf("%ld frames, %zu pixels: median %.1f ms (checksum %08x)\n", n, pixels, times[times.size() / 2] * 1e3,
              sum);
  return 0;
}
