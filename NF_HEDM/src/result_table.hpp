// The reconstruction's binary result files (rows of little-endian doubles)
// as tab-separated text tables.
#pragma once

#include <cstdint>
#include <string>

#include "input_file.hpp"
#include "text_writer.hpp"

namespace hedm {

inline constexpr int kResultColumns = 11;
inline constexpr std::uint64_t kEdgeBytes = 6 * sizeof(double);  // TriEdgeSize is value 5 of row 0

// The row width of the all-matches file: 4 * nSaves + 7 values.
inline std::int64_t all_matches_columns(std::int32_t nSaves) {
  return 4 * static_cast<std::int64_t>(nSaves) + 7;
}

struct TableHeader {
  double TriEdgeSize = 0;
  int NumPhases = 0;
  double GlobalPosition = 0;
};

// The four header lines; the column line of the all-matches table ends in
// six "..." fields whatever the row width.
void write_table_header(TextWriter& out, const TableHeader& h, bool allMatches);

// Writes the rows of a binary file as text, each value as "%lf\t" and each
// row closed by PhaseNr and a newline.  Reads the file in pieces; a trailing
// part of a row is ignored.  Returns the rows written, or the read error.
Result<std::int64_t> write_table_rows(InputFile& in, std::int64_t nCols, int PhaseNr, TextWriter& out);

}  // namespace hedm
