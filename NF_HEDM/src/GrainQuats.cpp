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

// Lines skipped are reported one by one up to this many; the rest are
// counted in one closing line (another kind of file, a binary one, would
// otherwise fill the screen with one line for each of its "lines").
constexpr int kListedSkips = 20;

// Converts the grain lines of a grain list, one seed line on `out` each.
class GrainConverter {
 public:
  GrainConverter(const std::string& GrainFN, TextWriter& out) : GrainFN_(GrainFN), out_(out) {}

  // One whole line of the list (not a comment) and its line number; `cut`
  // for a line cut short at LongGrainLine::kMaxChars.
  void line(const char* text, long long lineNr, bool cut) {
    if (is_blank(text) && !cut) return;
    Grain next = grain_;
    if (scan_grain_line(text, &next) < kGrainValueFields) {
      if (++nSkipped_ > kListedSkips) return;
      if (cut)
        sayf("Line %lld of %s runs to more than %zu characters before its 19th field: skipped.\n", lineNr,
             GrainFN_.c_str(), LongGrainLine::kMaxChars);
      else
        sayf("Line %lld of %s has fewer than the 19 fields of a grain (identifier, nine matrix "
             "values, three words, six lattice parameters): skipped.\n",
             lineNr, GrainFN_.c_str());
      return;
    }
    grain_ = next;
    write_seed(out_, grain_);
    ++nOrientations_;
  }

  // The closing line for the skipped lines not listed, if any.
  void close() const {
    if (nSkipped_ > kListedSkips)
      sayf("%lld more lines of %s skipped as well (only the first %d are listed).\n", nSkipped_ - kListedSkips,
           GrainFN_.c_str(), kListedSkips);
  }

  int nOrientations() const { return nOrientations_; }
  long long nSkipped() const { return nSkipped_; }

 private:
  const std::string& GrainFN_;
  TextWriter& out_;
  Grain grain_;  // the last grain line's values: a short line keeps the rest
  int nOrientations_ = 0;
  long long nSkipped_ = 0;
};

// Every line of the grain list, however long, as one line: a comment
// (first character "%") stays a comment to its end, and a grain line is
// scanned whole, the pieces after its 23rd field passed over.  A line that
// fits one piece of the reader is scanned where it lies.
void convert_grains(LineReader& grains, GrainConverter& convert) {
  LongGrainLine longLine;
  long long longLineNr = 0;
  enum { None, Gathering, Passing } rest = None;  // what the pieces after the first are for
  const char* piece;
  std::size_t length;
  while (grains.next(&piece, &length)) {
    const bool ends = piece[length - 1] == '\n';
    if (grains.continued()) {
      if (rest == Gathering) {
        longLine.add(piece, length);
        if (ends) convert.line(longLine.text(), longLineNr, longLine.cut());
      }
      if (ends) rest = None;
      continue;
    }
    if (piece[0] == '%') {
      rest = ends ? None : Passing;
    } else if (ends) {
      convert.line(piece, grains.line(), false);
    } else {
      longLine.start(piece, length);
      longLineNr = grains.line();
      rest = Gathering;
    }
  }
  // A last line without a newline.
  if (rest == Gathering) convert.line(longLine.text(), longLineNr, longLine.cut());
}

}  // namespace

int run(int argc, char** argv) {
  if (const int s = answer_help_or_version(argc, argv, "GrainQuats", kHelp); s >= 0) return s;
  if (argc != 3) return fail(usage_error(), kEnding);
  const std::clock_t start0 = std::clock();
  const std::string GrainFN = argv[1], outfilename = argv[2];
  if (Status s = same_file_clash({GrainFN}, {outfilename}); !s)
    return fail(followed_by(s.error(), " Nothing written."), kEnding);

  LineReader grains;
  if (Status s = grains.open(GrainFN, "the grain list"); !s) return fail(s.error(), kEnding);
  OutputFile file;
  if (Status s = file.create(outfilename); !s) return fail(s.error(), kEnding);
  TextWriter out(file);

  GrainConverter convert(GrainFN, out);
  convert_grains(grains, convert);
  convert.close();
  const int nOrientations = convert.nOrientations();

  // A failed read: the unfinished seed file is dropped; an earlier one stays.
  if (Status s = grains.status(); !s) return fail(s.error(), kEnding);
  // Lines that were all skipped: another kind of file (the arguments the
  // wrong way round), not a run that found no grains.  The seed file is
  // not written; an earlier one stays.
  if (nOrientations == 0 && convert.nSkipped() > 0)
    return fail(input_error(GrainFN + " holds no grain: not one of its lines is a grain line. Nothing written."),
                kEnding);
  Status s = out.flush();
  if (s) s = file.commit();
  if (!s) return fail(s.error(), kEnding);
  sayf("Number of seed orientations: %d\n", nOrientations);
  sayf("Time elapsed in making diffraction spots: %f [s]\n", processor_seconds(start0, std::clock()));
  return kCompleted;
}

int main(int argc, char** argv) { return run_guarded(run, argc, argv, kEnding); }
