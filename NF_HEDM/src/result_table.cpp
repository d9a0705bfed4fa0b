#include "result_table.hpp"

#include <cstring>
#include <vector>

#include "text_format.hpp"

namespace hedm {

std::int64_t saves_that_fit(std::uint64_t size, std::uint64_t nrRows, std::int32_t nSaves) {
  if (nrRows == 0) return -1;
  const std::int64_t nCols = all_matches_columns(nSaves);
  if (nCols >= 1) {
    const std::uint64_t rowBytes = static_cast<std::uint64_t>(nCols) * sizeof(double);
    if (size % rowBytes == 0 && size / rowBytes == nrRows) return -1;
  }
  // nrRows rows of 4 s + 7 values each.
  if (size % (nrRows * sizeof(double)) != 0) return -1;
  const std::uint64_t width = size / (nrRows * sizeof(double));
  if (width < 7 || (width - 7) % 4 != 0) return -1;
  const std::uint64_t saves = (width - 7) / 4;
  return saves == static_cast<std::uint64_t>(nSaves) || saves > INT32_MAX ? -1 : static_cast<std::int64_t>(saves);
}

std::string partial_row_warning(const std::string& path, std::uint64_t size, std::uint64_t rowBytes) {
  const std::uint64_t passed = size % rowBytes;
  if (passed == 0) return "";
  return "Warning: " + path + " ends in a partial row: " +
         (passed == 1 ? "its last byte is" : "its last " + std::to_string(passed) + " bytes are") + " passed over.";
}

void write_table_header(TextWriter& out, const TableHeader& h, bool allMatches) {
  out.put("%TriEdgeSize ");
  out.fixed6(h.TriEdgeSize);
  out.put("\n%NumPhases ");
  out.integer(h.NumPhases);
  out.put("\n%GlobalPosition ");
  out.fixed6(h.GlobalPosition);
  out.put("\n%RowNr\tNrMatches\tRunTime\tX\tY\tTriEdgeSize\tUpDown\tEul1\tEul2\tEul3\tConfidence\t");
  if (allMatches) out.put("...\t...\t...\t...\t...\t...\t");
  out.put("PhaseNr\n");
}

Result<std::int64_t> write_table_rows(InputFile& in, std::int64_t nCols, int PhaseNr, TextWriter& out) {
  if (nCols < 1) return 0;
  const std::uint64_t rowBytes = static_cast<std::uint64_t>(nCols) * sizeof(double);
  const std::uint64_t nRows = in.size() / rowBytes;
  const std::uint64_t total = nRows * static_cast<std::uint64_t>(nCols);  // values to write
  constexpr std::size_t kChunk = 1 << 17;  // values read at a time
  std::vector<double> buf(kChunk);
  char phase[24];
  const std::size_t phaseLen = static_cast<std::size_t>(format_int(phase, PhaseNr) - phase);
  std::int64_t col = 0;
  for (std::uint64_t v = 0; v < total; v += kChunk) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, total - v));
    if (Status s = in.read_at(buf.data(), n * sizeof(double), v * sizeof(double)); !s) return s.error();
    for (std::size_t i = 0; i < n; ++i) {
      out.fixed6(buf[i]);
      out.put('\t');
      if (++col == nCols) {
        out.put(std::string_view(phase, phaseLen));
        out.put('\n');
        col = 0;
      }
    }
  }
  return static_cast<std::int64_t>(nRows);
}

}  // namespace hedm
