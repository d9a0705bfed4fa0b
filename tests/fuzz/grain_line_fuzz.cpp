// Fuzz target: grain lines of any bytes.  The program's scanner must read
// exactly what the C library's scanner reads from the same line.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "grain_line.hpp"
#include "quaternion.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  char line[1000];
  const std::size_t n = size < 999 ? size : 999;
  std::memcpy(line, data, n);
  line[n] = '\0';
  hedm::Grain fast, ref;
  fast.GrainID = ref.GrainID = 12345;
  const int got = hedm::scan_grain_line(line, &fast);
  char w[4][1000];
  double* M = ref.OrientMatrix;
  double* L = ref.LatC;
  int expect = hedm::is_blank(line) ? -1
               : std::sscanf(line,
                             "%d %lf %lf %lf %lf %lf %lf %lf %lf %lf %999s %999s %999s %lf %lf %lf %lf "
                             "%lf %lf %999s %999s %999s %999s",
                             &ref.GrainID, &M[0], &M[1], &M[2], &M[3], &M[4], &M[5], &M[6], &M[7],
                             &M[8], w[0], w[1], w[2], &L[0], &L[1], &L[2], &L[3], &L[4], &L[5], w[0],
                             w[1], w[2], w[3]);
  if (got != expect || fast.GrainID != ref.GrainID ||
      std::memcmp(fast.OrientMatrix, ref.OrientMatrix, sizeof ref.OrientMatrix) != 0 ||
      std::memcmp(fast.LatC, ref.LatC, sizeof ref.LatC) != 0)
    __builtin_trap();
  double q[4];
  hedm::OrientMat2Quat(fast.OrientMatrix, q);
  return 0;
}
