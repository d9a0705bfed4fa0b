// SolutionDump: the reconstruction's binary result file and all-matches file
// (rows of doubles) as tab-separated text tables, with the paths and the
// values copied into the text taken from a parameter file.

#include <cstdio>
#include <string>

#include "command_line.hpp"
#include "input_file.hpp"
#include "output_file.hpp"
#include "param_file.hpp"
#include "report.hpp"
#include "result_table.hpp"
#include "same_file.hpp"
#include "text_writer.hpp"

using namespace hedm;

namespace {

constexpr int kCompleted = 0, kFailed = 1;
const Ending kEnding{"Usage: SolutionDump <parameter file>. No parameter file given, exiting.", kFailed, kFailed};

const char kHelp[] = R"(Usage: SolutionDump PARAMETER_FILE
  PARAMETER_FILE  text file with the lines "PhaseNr", "NumPhases",
                  "GlobalPosition", "MicFileBinary <file>", "MicFileText <file>"
                  and optionally "SaveNSolutions"
Writes MicFileText and MicFileText.AllMatches, tab-separated tables of the
rows of MicFileBinary and MicFileBinary.AllMatches.
Example: SolutionDump params.txt
Manual: man SolutionDump
)";

// Writes one text table from one binary file, whole or not at all: a table
// that cannot be written in full leaves an earlier one of that name as it was.
Status write_table(const std::string& outPath, InputFile& in, const TableHeader& header, bool allMatches,
                   std::int64_t nCols, int PhaseNr) {
  OutputFile file;
  if (Status s = file.create(outPath); !s) return s;
  TextWriter out(file);
  write_table_header(out, header, allMatches);
  if (Result<std::int64_t> rows = write_table_rows(in, nCols, PhaseNr, out); !rows) return rows.error();
  const Status s = out.flush();
  return s ? file.commit() : s;
}

}  // namespace

int run(int argc, char** argv) {
  if (const int s = answer_help_or_version(argc, argv, "SolutionDump", kHelp); s >= 0) return s;
  if (argc < 2) return fail(usage_error(), kEnding);
  const std::string ParamFN = argv[1];
  int PhaseNr = 0, NumPhases = 0, nSaves = 1;
  double GlobalPosition = 0;
  std::string inputfile, outputfile;
  ParamKey keys[] = {{"PhaseNr ", &PhaseNr},         {"NumPhases ", &NumPhases},
                     {"GlobalPosition ", &GlobalPosition}, {"MicFileBinary ", &inputfile},
                     {"MicFileText ", &outputfile},  {"SaveNSolutions ", &nSaves, false}};
  if (Status s = read_param_file(ParamFN, keys); !s) return fail(s.error(), kEnding);
  if (std::string missing = missing_keys(keys); !missing.empty())
    return fail(input_error("The parameter file " + ParamFN + " gives no value for: " + missing + "."), kEnding);
  const std::int64_t nCols = all_matches_columns(nSaves);
  if (nCols > INT32_MAX)
    return fail(
        input_error("SaveNSolutions " + std::to_string(nSaves) + " makes an all-matches row wider than 2^31 values."),
        kEnding);
  // The all-matches files sit beside the result file and the result table.
  const std::string inputfile2 = inputfile + ".AllMatches", outputfile2 = outputfile + ".AllMatches";
  if (Status s = same_file_clash({ParamFN, inputfile, inputfile2}, {outputfile, outputfile2}); !s)
    return fail(followed_by(s.error(), " Nothing written."), kEnding);

  InputFile results;
  if (Status s = results.open(inputfile); !s) return fail(s.error(), kEnding);
  if (results.size() < kEdgeBytes)
    return fail(input_error("The result file " + inputfile + " holds " + std::to_string(results.size()) +
                            " bytes, too few for the edge size of its first row (48 needed)."),
                kEnding);
  double firstValues[6];
  if (Status s = results.read_at(firstValues, kEdgeBytes, 0); !s) return fail(s.error(), kEnding);
  const TableHeader header{firstValues[5], NumPhases, GlobalPosition};
  const std::uint64_t NrRows = results.size() / kResultRowBytes;
  sayf("NrRows: %lld\n", static_cast<long long>(NrRows));
  if (std::string w = partial_row_warning(inputfile, results.size(), kResultRowBytes); !w.empty()) say(w);
  if (Status s = write_table(outputfile, results, header, false, kResultColumns, PhaseNr); !s)
    return fail(s.error(), kEnding);

  // The text result table is complete; it stays whatever happens below.
  InputFile allMatches;
  if (Status s = allMatches.open(inputfile2); !s) return fail(s.error(), kEnding);
  if (nCols >= 1) {
    const std::uint64_t size = allMatches.size(), rowBytes = static_cast<std::uint64_t>(nCols) * sizeof(double);
    // Written for another number of solutions: read at this one, every row
    // would mix the values of two.
    if (const std::int64_t fits = saves_that_fit(size, NrRows, nSaves); fits >= 0) {
      const std::string rows = std::to_string(size / rowBytes) + (size / rowBytes == 1 ? " row" : " rows");
      const std::string rest = size % rowBytes ? " and " + std::to_string(size % rowBytes) + " bytes" : "";
      return fail(
          data_error("The all-matches file " + inputfile2 + " holds " + std::to_string(size) +
                     " bytes: at SaveNSolutions " + std::to_string(nSaves) + " (rows of " + std::to_string(rowBytes) +
                     " bytes) that is " + rows + rest + ", but at SaveNSolutions " + std::to_string(fits) +
                     " (rows of " + std::to_string(size / NrRows) + " bytes) exactly the " + std::to_string(NrRows) +
                     " rows of the result file. Set SaveNSolutions " + std::to_string(fits) + " in " + ParamFN +
                     "; the all-matches table is not written."),
          kEnding);
    }
    if (std::string w = partial_row_warning(inputfile2, size, rowBytes); !w.empty()) say(w);
  }
  if (Status s = write_table(outputfile2, allMatches, header, true, nCols, PhaseNr); !s)
    return fail(s.error(), kEnding);
  return kCompleted;
}

int main(int argc, char** argv) { return run_guarded(run, argc, argv, kEnding); }
