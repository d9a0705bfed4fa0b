// GrainQuats: turns a grain list (identifier, orientation matrix and lattice
// parameters per line) into a seed orientation file: per grain one line of
// the unit quaternion, the six lattice parameters and the identifier.

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "cli.hpp"
#include "io.hpp"
#include "quaternion.hpp"
#include "same_file.hpp"
#include "util.hpp"

using namespace hedm;

namespace {

const char kHelp[] =
    "Usage: GrainQuats GRAIN_LIST SEED_FILE\n"
    "  GRAIN_LIST  text file, one grain per line: identifier, orientation matrix,\n"
    "              three words, six lattice parameters\n"
    "  SEED_FILE   file to write: per grain the unit quaternion, the lattice\n"
    "              parameters and the identifier\n"
    "Example: GrainQuats grains.txt seeds.csv\n"
    "Manual: man GrainQuats\n";

void usage() {
  std::puts("GrainQuats usage: ./GrainQuats <OringinalFile> <OutputFile>. Please provide full path.");
}


void write_seed(TextWriter& out, const Grain& g) {
  double Quaternion[4];
  OrientMat2Quat(g.OrientMatrix, Quaternion);
  for (double q : Quaternion) out.fixed6(q), out.put(',');
  for (double l : g.LatC) out.fixed6(l), out.put(',');
  out.integer(g.GrainID);
  out.put('\n');
}

}  // namespace

int run(int argc, char** argv) {
  if (const int s = answer_help_or_version(argc, argv, "GrainQuats", kHelp); s >= 0) return s;
  if (argc != 3) {
    usage();
    return 1;
  }
  const std::clock_t start0 = std::clock();
  const std::string GrainFN = argv[1], outfilename = argv[2];
  if (std::string clash = same_file_clash({GrainFN}, {outfilename}); !clash.empty())
    return fail(clash + " Nothing written. Exiting.");

  std::FILE* grains = std::fopen(GrainFN.c_str(), "r");
  struct stat st;
  if (!grains || (::fstat(::fileno(grains), &st) == 0 && S_ISDIR(st.st_mode))) {
    const int e = grains ? EISDIR : errno;
    if (grains) std::fclose(grains);
    return fail("Could not open the grain list " + GrainFN + ": " + std::strerror(e) + ". Exiting.");
  }
  std::string err;
  OutputFile file;
  if (!file.create(outfilename, &err)) {
    std::fclose(grains);
    return fail(err + " Exiting.");
  }
  TextWriter out(file);

  int nOrientations = 0;
  long long nextLine = 1;  // the line of the file the next piece starts on
  Grain grain;
  // Lines are read in pieces of at most 999 characters; a warning names the
  // line of the file, counted by the newlines read, as an editor shows it.
  // fgets ends a piece with a zero byte, and a line may hold zero bytes of
  // its own: with the buffer filled with 'x' beforehand, the last zero byte
  // in it is the end of the piece.
  char aline[1000];
  std::memset(aline, 'x', sizeof aline);
  std::size_t pieceLength = 0;
  while (std::memset(aline, 'x', pieceLength + 1), std::fgets(aline, sizeof aline, grains)) {
    pieceLength = static_cast<std::size_t>(static_cast<const char*>(::memrchr(aline, 0, sizeof aline)) - aline);
    const long long lineNr = nextLine;
    if (pieceLength > 0 && aline[pieceLength - 1] == '\n') ++nextLine;
    if (aline[0] == '%' || is_blank(aline)) continue;
    Grain next = grain;
    if (scan_grain_line(aline, &next) < kGrainValueFields) {
      std::printf("Line %lld of %s has fewer than the 19 fields of a grain (identifier, nine matrix "
                  "values, three words, six lattice parameters): skipped.\n",
                  lineNr, GrainFN.c_str());
      continue;
    }
    grain = next;
    write_seed(out, grain);
    ++nOrientations;
  }
  const bool readFailed = std::ferror(grains);
  const int readErrno = errno;
  std::fclose(grains);
  if (readFailed)
    return fail("Could not read the grain list " + GrainFN + ": " + std::strerror(readErrno) +
                ". Exiting.");  // the unfinished seed file is removed
  if (!out.flush(&err) || !file.commit(&err)) return fail(err + " Exiting.");

  std::printf("Number of seed orientations: %d\n", nOrientations);
  const std::clock_t end = std::clock();
  std::printf("Time elapsed in making diffraction spots: %f [s]\n", processor_seconds(start0, end));
  return 0;
}

int main(int argc, char** argv) { return run_guarded(run, argc, argv); }
