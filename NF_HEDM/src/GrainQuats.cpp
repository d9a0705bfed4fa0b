// GrainQuats: turns a grain list (identifier, orientation matrix and lattice
// parameters per line) into a seed orientation file: per grain one line of
// the unit quaternion, the six lattice parameters and the identifier.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "command_line.hpp"
#include "grain_line.hpp"
#include "line_reader.hpp"
#include "output_file.hpp"
#include "processor_time.hpp"
#include "quaternion.hpp"
#include "report.hpp"
#include "same_file.hpp"
#include "text_writer.hpp"

using namespace hedm;

namespace {

const char kHelp[] = R"(Usage: GrainQuats GRAIN_LIST SEED_FILE
  GRAIN_LIST  text file, one grain per line: identifier, orientation matrix,
              three words, six lattice parameters
  SEED_FILE   file to write: per grain the unit quaternion, the lattice
              parameters and the identifier
Example: GrainQuats grains.txt seeds.csv
Manual: man GrainQuats
)";

constexpr int kCompleted = 0, kFailed = 1;
const char kUsage[] = "GrainQuats usage: ./GrainQuats <OringinalFile> <OutputFile>. Please provide full path.";
const Ending kEnding{kUsage, kFailed, kFailed};

void write_seed(TextWriter& out, const Grain& g) {
  double Quaternion[4];
  OrientMat2Quat(g.OrientMatrix, Quaternion);
  for (double q : Quaternion) {
    out.fixed6(q);
    out.put(',');
  }
  for (double l : g.LatC) {
    out.fixed6(l);
    out.put(',');
  }
  out.integer(g.GrainID);
  out.put('\n');
}

// A seed line on `out` for every grain line; comment and blank lines are
// passed over, lines with fewer than 19 fields reported by their line number
// and skipped (counted in *nSkipped).  Returns the number of seeds written.
int convert_grains(LineReader& grains, const std::string& GrainFN, TextWriter& out, int* nSkipped) {
  int nOrientations = 0;
  *nSkipped = 0;
  Grain grain;
  const char* aline;
  std::size_t length;
  while (grains.next(&aline, &length)) {
    if (aline[0] == '%' || is_blank(aline)) continue;
    Grain next = grain;
    if (scan_grain_line(aline, &next) < kGrainValueFields) {
      sayf("Line %lld of %s has fewer than the 19 fields of a grain (identifier, nine matrix "
           "values, three words, six lattice parameters): skipped.\n",
           grains.line(), GrainFN.c_str());
      ++*nSkipped;
      continue;
    }
    grain = next;
    write_seed(out, grain);
    ++nOrientations;
  }
  return nOrientations;
}

Error input(const std::string& text) { return Error{ErrorKind::Input, text}; }

}  // namespace

int run(int argc, char** argv) {
  if (const int s = answer_help_or_version(argc, argv, "GrainQuats", kHelp); s >= 0) return s;
  if (argc != 3) return fail(usage_error(), kEnding);
  const std::clock_t start0 = std::clock();
  const std::string GrainFN = argv[1], outfilename = argv[2];
  if (std::string clash = same_file_clash({GrainFN}, {outfilename}); !clash.empty())
    return fail(Error{ErrorKind::Output, clash + " Nothing written."}, kEnding);

  LineReader grains;
  if (const int e = grains.open(GrainFN))
    return fail(input("Could not open the grain list " + GrainFN + ": " + std::strerror(e) + "."), kEnding);
  OutputFile file;
  if (Status s = file.create(outfilename); !s) return fail(s.error(), kEnding);
  TextWriter out(file);

  int nSkipped = 0;
  const int nOrientations = convert_grains(grains, GrainFN, out, &nSkipped);

  if (grains.error())  // the unfinished seed file is dropped; an earlier one stays
    return fail(input("Could not read the grain list " + GrainFN + ": " + std::strerror(grains.error()) + "."),
                kEnding);
  // Lines that were all skipped: another kind of file (the arguments the
  // wrong way round), not a run that found no grains.  The seed file is
  // not written; an earlier one stays.
  if (nOrientations == 0 && nSkipped > 0)
    return fail(input(GrainFN + " holds no grain: not one of its lines is a grain line. Nothing written."), kEnding);
  Status s = out.flush();
  if (s) s = file.commit();
  if (!s) return fail(s.error(), kEnding);
  sayf("Number of seed orientations: %d\n", nOrientations);
  sayf("Time elapsed in making diffraction spots: %f [s]\n", processor_seconds(start0, std::clock()));
  return kCompleted;
}

int main(int argc, char** argv) { return run_guarded(run, argc, argv, kEnding); }
