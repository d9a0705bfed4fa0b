// The reconstruction's binary result files (rows of little-endian doubles)
// as tab-separated text tables.
#pragma once

#include <cstdint>
#include <string>

#include "input_file.hpp"
#include "text_writer.hpp"

namespace hedm {

inline constexpr int kResultColumns = 11;
inline constexpr std::uint64_t kResultRowBytes = kResultColumns * sizeof(double);  // 88
inline constexpr std::uint64_t kEdgeBytes = 6 * sizeof(double);  // TriEdgeSize is value 5 of row 0

// The row width of the all-matches file: 4 * nSaves + 7 values.
inline std::int64_t all_matches_columns(std::int32_t nSaves) {
  return 4 * static_cast<std::int64_t>(nSaves) + 7;
}

// The SaveNSolutions value, other than nSaves, at which an all-matches file
// of `size` bytes holds exactly nrRows whole rows, the result file's count:
// a file written for that value.  -1 when there is none, when nrRows is 0,
// or when the file holds nrRows whole rows at nSaves already.
std::int64_t saves_that_fit(std::uint64_t size, std::uint64_t nrRows, std::int32_t nSaves);

// "Warning: <path> ends in a partial row: its last N bytes are passed over.",
// or empty for a file of whole rows of rowBytes each.
std::string partial_row_warning(const std::string& path, std::uint64_t size, std::uint64_t rowBytes);

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
