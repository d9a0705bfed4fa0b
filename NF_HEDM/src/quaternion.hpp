// Orientation matrices to unit quaternions.
#pragma once

namespace hedm {

// OrientMat: a 3 x 3 rotation matrix, row by row.  Quat: the unit quaternion,
// scalar part first and never negative.  Nothing is checked: a matrix that is
// no rotation can give NaN components.
void OrientMat2Quat(const double OrientMat[9], double Quat[4]);

}  // namespace hedm
