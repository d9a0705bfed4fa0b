// The triangle grid: equilateral triangles of edge GridSize covering a
// regular hexagon centred on the origin, one record of five numbers per
// triangle (offset from the row's outer edge, offset from its inner edge,
// x, y, half the edge length).
#pragma once

#include <cstdint>
#include <string>

#include "error.hpp"

namespace hedm {

// The grid's records in order, rows of triangles from the bottom of the
// hexagon (row -NrHex) to the top, left to right within a row: emit(rec) for
// each record of five doubles, as it is computed, so that no grid need be
// held.  The order of each expression is deliberate: it decides the last
// digits, the -0.000000 of some offsets among them.
template <class Emit>
void TriMesh(double GridSize, double NrHex, double HtTriangle, double ALast, Emit&& emit) {
  if (!(NrHex >= 1)) return;  // no rows; also keeps -inf and NaN out of the int conversions
  // Multiplied by the printed constants, not divided by 3: the last digits differ.
  const double ysmall = HtTriangle * 0.3333333333333333;
  const double ybig = HtTriangle * 0.6666666666666666;
  for (int i = static_cast<int>(-NrHex); static_cast<double>(i) <= NrHex; ++i) {
    if (i == 0) continue;
    const double di = i, absi = di < 0 ? -di : di;
    double ynext = i < 0 ? ybig : ysmall;
    // Triangles in this row: 2 (2 NrHex - |i|) + 1.
    const int NrRowElements = static_cast<int>(2 * ((NrHex + NrHex) - absi) + 1);
    const double ythis = HtTriangle * di;
    const double xstart = (GridSize * absi) * 0.5 - ALast;
    double rec[5];
    for (int j = 0; j < NrRowElements; ++j) {
      rec[0] = ynext;
      rec[1] = ynext == ybig ? ysmall : ybig;
      rec[2] = (j * GridSize) * 0.5 + xstart;
      rec[3] = ythis - (ynext * di) / absi;
      rec[4] = GridSize * 0.5;
      emit(static_cast<const double*>(rec));
      ynext = rec[1];
    }
  }
}

inline constexpr double kSqrt3 = 1.7320508075688772;
inline constexpr double kMaxNrHex = 18918;  // 6 * NrHex^2 must stay a 32-bit count

// The grid's dimensions as derived from the edge length and sample radius.
struct GridDimensions {
  double HtTriangle = 0;  // height of one triangle
  double NrHex = 0;       // triangle rows on each side of the centre line
  double ALast = 0;       // half the length of the centre line
};
GridDimensions grid_dimensions(double GridSize, double Rsample);

// Whether a grid of NrHex rows per side can be built (the edge length and
// the sample radius positive finite numbers, the point count within 32
// bits); if not, an Input error says why.
Status grid_size_ok(double GridSize, double Rsample, double NrHex);

// The number of triangles for NrHex rows per side (6 * NrHex^2), summed row
// pair by row pair; 0 for NrHex of 0 or below.
std::int32_t grid_point_count(double NrHex);

}  // namespace hedm
