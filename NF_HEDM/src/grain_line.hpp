// Grain lines: the identifier, orientation matrix and lattice parameters of
// one grain, as a grain list holds them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

// Scans a line of any length as "%d %lf*9 %s %s %s %lf*6 %s %s %s %s" does,
// a word of any length being one field: fields in order up to the first that
// cannot be read, which leave the rest of *g as it was.  Returns the number
// of fields read (-1 for a line with none).
int scan_grain_line(const char* line, Grain* g);

// A grain line longer than one piece of a line reader, put together from
// its pieces.  Only what its 23 fields need is kept: the text stops after
// the white space that ends the 23rd field (what follows is ignored anyway)
// or at a zero byte (which ends a line for scanning, as in a short line).
// Fields that do not end within kMaxChars characters (no grain has such
// fields; a file without newlines might) are cut at the last white space
// before that, so that memory stays bounded whatever the file holds.
class LongGrainLine {
 public:
  static constexpr std::size_t kMaxChars = std::size_t{1} << 20;

  void start(const char* piece, std::size_t length);
  void add(const char* piece, std::size_t length);
  const char* text() const { return text_.c_str(); }
  // Whether the text was cut at kMaxChars before its 23rd field ended.
  bool cut() const { return cut_; }

 private:
  std::string text_;
  int fields_ = 0;
  bool inField_ = false, done_ = false, cut_ = false;
};

// Whether a line holds nothing but white space.
bool is_blank(const char* line);

}  // namespace hedm
