// Grain lines: the identifier, orientation matrix and lattice parameters of
// one grain, as a grain list holds them.
#pragma once

#include <cstdint>

namespace hedm {

// The values of one grain line: identifier, orientation matrix (row by row)
// and six lattice parameters.
struct Grain {
  std::int32_t GrainID = 0;
  double OrientMatrix[9] = {};
  double LatC[6] = {};
};

// A grain line holds 23 white-space separated fields: the identifier, nine
// matrix values, three words, six lattice parameters and four words.  The
// first 19 carry values.
inline constexpr int kGrainValueFields = 19;

// Scans a line as "%d %lf*9 %s %s %s %lf*6 %s %s %s %s" does: fields in
// order up to the first that cannot be read, which leave the rest of *g as
// it was.  Returns the number of fields read (-1 for a line with none).
int scan_grain_line(const char* line, Grain* g);

// Whether a line holds nothing but white space.
bool is_blank(const char* line);

}  // namespace hedm
