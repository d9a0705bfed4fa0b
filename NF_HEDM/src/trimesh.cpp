#include "trimesh.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <utility>


namespace hedm {

GridDimensions grid_dimensions(double GridSize, double Rsample) {
  GridDimensions d;
  d.HtTriangle = (GridSize * kSqrt3) * 0.5;
  d.NrHex = std::ceil(((Rsample + Rsample) / kSqrt3) / GridSize);
  d.ALast = GridSize * d.NrHex;
  return d;
}

Status grid_size_ok(double GridSize, double Rsample, double NrHex) {
  // The edge length and the sample radius are lengths: a grid of no
  // triangles, or of infinitely many, is no grid of the sample.
  const std::pair<const char*, double> lengths[] = {{"GridSize", GridSize}, {"Rsample", Rsample}};
  for (const auto& [key, v] : lengths) {
    if (v > 0 && std::isfinite(v)) continue;
    char buf[128];
    std::snprintf(buf, sizeof buf, "%s %g is not a positive finite number: it is a length. grid.txt is not written.",
                  key, v);
    return input_error(buf);
  }
  if (std::isnan(NrHex) || NrHex > kMaxNrHex) {
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "GridSize %g and Rsample %g need %g triangle rows per side; at most %.0f can be "
                  "written (6 * rows^2 grid points must stay below 2^31).",
                  GridSize, Rsample, NrHex, kMaxNrHex);
    return input_error(buf);
  }
  return ok();
}

std::int32_t grid_point_count(double NrHex) {
  std::int32_t count = 0;
  for (int i = 1; static_cast<double>(i) <= NrHex; ++i)
    count = static_cast<std::int32_t>(static_cast<double>(count) +
                                      2 * (2 * ((NrHex + NrHex) - i) + 1));
  return count;
}

}  // namespace hedm
