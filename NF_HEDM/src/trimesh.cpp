#include "trimesh.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>


namespace hedm {

GridDimensions grid_dimensions(double GridSize, double Rsample) {
  GridDimensions d;
  d.HtTriangle = (GridSize * kSqrt3) * 0.5;
  d.NrHex = std::ceil(((Rsample + Rsample) / kSqrt3) / GridSize);
  d.ALast = GridSize * d.NrHex;
  return d;
}

bool grid_size_ok(double GridSize, double Rsample, double NrHex, std::string* why) {
  if (GridSize == 0) {
    *why = "GridSize is 0: triangles of no size cannot cover the sample.";
    return false;
  }
  // NrHex of minus infinity (a negative GridSize or Rsample whose quotient
  // overflows) is a grid of 0 points like any other negative count.
  if (std::isnan(NrHex) || NrHex > kMaxNrHex) {
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "GridSize %g and Rsample %g need %g triangle rows per side; at most %.0f can be "
                  "written (6 * rows^2 grid points must stay below 2^31).",
                  GridSize, Rsample, NrHex, kMaxNrHex);
    *why = buf;
    return false;
  }
  return true;
}

std::int32_t grid_point_count(double NrHex) {
  std::int32_t count = 0;
  for (int i = 1; static_cast<double>(i) <= NrHex; ++i)
    count = static_cast<std::int32_t>(static_cast<double>(count) +
                                      2 * (2 * ((NrHex + NrHex) - i) + 1));
  return count;
}

}  // namespace hedm
