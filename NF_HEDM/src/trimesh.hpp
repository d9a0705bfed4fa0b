// The triangle grid: equilateral triangles of edge GridSize covering a
// regular hexagon centred on the origin, one record of five numbers per
// triangle (offset from the row's outer edge, offset from its inner edge,
// x, y, half the edge length).
#pragma once

#include <cstdint>
#include <string>

namespace hedm {

// A table of nrows rows of ncols doubles, addressed through row pointers.
// The rows share one block (rows stay addressable as XY[r][c]); null when
// memory cannot be had.  Values are not initialised.
double** allocMatrix(int nrows, int ncols);
void FreeMemMatrix(double** mat, int nrows);

// Fills rows 0 .. 6 * NrHex^2 - 1 of XY, rows of triangles from the bottom of
// the hexagon (row -NrHex) to the top, left to right within a row.
void TriMesh(double GridSize, double Rsample, double NrHex, double HtTriangle, double ALast,
             double** XY);

inline constexpr double kSqrt3 = 1.7320508075688772;
inline constexpr double kMaxNrHex = 18918;  // 6 * NrHex^2 must stay a 32-bit count

// The grid's dimensions as derived from the edge length and sample radius.
struct GridDimensions {
  double HtTriangle = 0;  // height of one triangle
  double NrHex = 0;       // triangle rows on each side of the centre line
  double ALast = 0;       // half the length of the centre line
};
GridDimensions grid_dimensions(double GridSize, double Rsample);

// Whether a grid of NrHex rows per side can be built; if not, *why says so.
bool grid_size_ok(double GridSize, double Rsample, double NrHex, std::string* why);

// The number of triangles for NrHex rows per side (6 * NrHex^2), summed row
// pair by row pair; 0 for NrHex of 0 or below.
std::int32_t grid_point_count(double NrHex);

}  // namespace hedm
