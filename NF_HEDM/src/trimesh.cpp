#include "trimesh.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "memory.hpp"

namespace hedm {

double** allocMatrix(int nrows, int ncols) {
  const std::size_t rows = nrows > 0 ? static_cast<std::size_t>(nrows) : 0;
  const std::size_t cols = ncols > 0 ? static_cast<std::size_t>(ncols) : 0;
  // Large grids are offered huge pages: faulting in gigabytes of records a
  // 4 KiB page at a time costs more than computing them.
  if (cols && rows > SIZE_MAX / sizeof(double) / cols) return nullptr;
  auto** mat = static_cast<double**>(allocate_huge((rows ? rows : 1) * sizeof(double*)));
  if (!mat) return nullptr;
  if (rows == 0) return mat;
  auto* block = static_cast<double*>(allocate_huge(rows * (cols ? cols : 1) * sizeof(double)));
  if (!block) {
    std::free(mat);
    return nullptr;
  }
  for (std::size_t r = 0; r < rows; ++r) mat[r] = block + r * cols;
  return mat;
}

void FreeMemMatrix(double** mat, int nrows) {
  if (!mat) return;
  if (nrows > 0) std::free(mat[0]);
  std::free(mat);
}

void TriMesh(double GridSize, double /*Rsample*/, double NrHex, double HtTriangle, double ALast,
             double** XY) {
  std::int64_t counter = 0;
  TriMeshRecords(GridSize, NrHex, HtTriangle, ALast, [&](const double* rec) {
    std::copy(rec, rec + 5, XY[counter++]);
  });
}

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
