#include "quaternion.hpp"

#include <cmath>

namespace hedm {

void OrientMat2Quat(const double OrientMat[9], double Quat[4]) {
  const double* m = OrientMat;
  // Sums in this order, left to right, here and below: another grouping can
  // change the last bit, and with it a printed digit.
  const double trace = (m[0] + m[4]) + m[8];
  if (trace > 0) {
    const double s = 0.5 / std::sqrt(trace + 1.0);
    Quat[0] = 0.25 / s;
    Quat[1] = (m[7] - m[5]) * s;
    Quat[2] = (m[2] - m[6]) * s;
    Quat[3] = (m[3] - m[1]) * s;
  } else if (m[0] > m[4] && m[0] > m[8]) {
    const double r = std::sqrt(((1.0 + m[0]) - m[4]) - m[8]);
    const double s = r + r;
    Quat[0] = (m[7] - m[5]) / s;
    Quat[1] = 0.25 * s;
    Quat[2] = (m[1] + m[3]) / s;
    Quat[3] = (m[2] + m[6]) / s;
  } else if (m[4] > m[8]) {
    const double r = std::sqrt(((1.0 + m[4]) - m[0]) - m[8]);
    const double s = r + r;
    Quat[0] = (m[2] - m[6]) / s;
    Quat[1] = (m[1] + m[3]) / s;
    Quat[2] = 0.25 * s;
    Quat[3] = (m[5] + m[7]) / s;
  } else {
    const double r = std::sqrt(((1.0 + m[8]) - m[0]) - m[4]);
    const double s = r + r;
    Quat[0] = (m[3] - m[1]) / s;
    Quat[1] = (m[2] + m[6]) / s;
    Quat[2] = (m[5] + m[7]) / s;
    Quat[3] = 0.25 * s;
  }
  if (Quat[0] < 0)
    for (int i = 0; i < 4; ++i) Quat[i] = -Quat[i];
  const double QNorm =
      std::sqrt(((Quat[0] * Quat[0] + Quat[1] * Quat[1]) + Quat[2] * Quat[2]) + Quat[3] * Quat[3]);
  for (int i = 0; i < 4; ++i) Quat[i] /= QNorm;
}

}  // namespace hedm
