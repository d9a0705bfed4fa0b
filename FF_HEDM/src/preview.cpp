#include "preview.hpp"

#include <algorithm>
#include <cmath>

namespace hedm {

pixelvalue percentile_value(const pixelvalue* pixels, std::size_t n, double percent) {
  if (n == 0) return 0;
  std::vector<std::uint64_t> histogram(65536);
  for (std::size_t k = 0; k < n; ++k) ++histogram[pixels[k]];
  const double clamped = std::clamp(percent, 0.0, 100.0);
  const auto rank = static_cast<std::uint64_t>(std::ceil(clamped / 100.0 * static_cast<double>(n)));
  std::uint64_t seen = 0;
  for (std::size_t v = 0; v < histogram.size(); ++v) {
    seen += histogram[v];
    if (seen >= std::max<std::uint64_t>(rank, 1)) return static_cast<pixelvalue>(v);
  }
  return 65535;
}

std::string pgm16(const pixelvalue* frame, std::size_t side) {
  std::string s = "P5\n" + std::to_string(side) + " " + std::to_string(side) + "\n65535\n";
  const std::size_t at = s.size();
  s.resize(at + side * side * 2);
  for (std::size_t k = 0; k < side * side; ++k) {
    s[at + 2 * k] = static_cast<char>(frame[k] >> 8);
    s[at + 2 * k + 1] = static_cast<char>(frame[k] & 0xff);
  }
  return s;
}

std::string pgm8_view(const pixelvalue* frame, std::size_t side, pixelvalue lo, pixelvalue hi) {
  std::string s = "P5\n" + std::to_string(side) + " " + std::to_string(side) + "\n255\n";
  const std::size_t at = s.size();
  s.resize(at + side * side);
  const double span = hi > lo ? static_cast<double>(hi - lo) : 1.0;
  for (std::size_t k = 0; k < side * side; ++k) {
    const double t = (static_cast<double>(frame[k]) - lo) / span;
    s[at + k] = static_cast<char>(static_cast<unsigned char>(std::lround(std::clamp(t, 0.0, 1.0) * 255.0)));
  }
  return s;
}

}  // namespace hedm
