// BuildTriMesh: reads the triangle edge length, the sample radius and an
// output directory from a parameter file, builds the triangle grid that
// covers a hexagon around the sample and writes it to <directory>/grid.txt.

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "command_line.hpp"
#include "output_file.hpp"
#include "param_file.hpp"
#include "processor_time.hpp"
#include "report.hpp"
#include "same_file.hpp"
#include "text_format.hpp"
#include "text_writer.hpp"
#include "trimesh.hpp"

using namespace hedm;

namespace {

// Every stop ends with 1, a grid.txt that cannot be opened included: a
// pipeline must never take a grid that was not written for one that was.
constexpr int kCompleted = 0, kFailed = 1;
const Ending kEnding{"Usage: BuildTriMesh <parameter file>. No parameter file given, exiting.", kFailed, kFailed};

const char kHelp[] = R"(Usage: BuildTriMesh PARAMETER_FILE
  PARAMETER_FILE  text file with the lines "GridSize <edge>", "Rsample <radius>"
                  and "DataDirectory <folder>"; other lines are passed over
Writes <folder>/grid.txt: the triangle grid that covers the sample.
Example: BuildTriMesh params.txt
Manual: man BuildTriMesh
)";

// The last two distinct values of one grid column with their text.  Within a
// row of triangles the offsets, y and the half edge take only two values, so
// most numbers of grid.txt are formatted once and copied after that.
class ColumnText {
 public:
  std::string_view get(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (int s = 0; s < 2; ++s)
      if (len_[s] && bits_[s] == bits) return {text_[s], len_[s]};
    const int s = next_;
    next_ ^= 1;
    bits_[s] = bits;
    len_[s] = static_cast<std::size_t>(format_fixed6(text_[s], v) - text_[s]);
    return {text_[s], len_[s]};
  }

 private:
  std::uint64_t bits_[2] = {};
  std::size_t len_[2] = {};
  char text_[2][kMaxFixed6Chars];
  int next_ = 0;
};

// grid.txt at `path`: the count, then the records as TriMesh makes them
// (the count is known first, so no grid need be held: memory stays the
// same whatever its size).  Created here and put in place only when whole;
// one that cannot be created is said in the words scripts have long read.
Status write_grid(const std::string& path, double GridSize, const GridDimensions& dims, std::int32_t NrGridElements) {
  OutputFile file;
  if (!file.create(path)) return Error{ErrorKind::Output, "Cannot open file, " + path, true};
  TextWriter out(file);
  out.integer(NrGridElements);
  out.put('\n');
  ColumnText columns[5];
  TriMesh(GridSize, dims.NrHex, dims.HtTriangle, dims.ALast, [&](const double* rec) {
    for (int c = 0; c < 5; ++c) {
      out.put(columns[c].get(rec[c]));
      out.put(c < 4 ? ' ' : '\n');
    }
  });
  const Status s = out.flush();
  return s ? file.commit() : s;
}

}  // namespace

int run(int argc, char** argv) {
  if (const int s = answer_help_or_version(argc, argv, "BuildTriMesh", kHelp); s >= 0) return s;
  const std::clock_t start = std::clock();
  if (argc < 2) return fail(usage_error(), kEnding);
  const std::string ParamFN = argv[1];
  double GridSize = 0, Rsample = 0;
  std::string direct;
  ParamKey keys[] = {{"GridSize ", &GridSize}, {"Rsample ", &Rsample}, {"DataDirectory ", &direct}};
  if (Status s = read_param_file(ParamFN, keys); !s) return fail(s.error(), kEnding);
  if (std::string missing = missing_keys(keys); !missing.empty())
    return fail(input_error("The parameter file " + ParamFN + " gives no value for: " + missing + "."), kEnding);
  const std::string fn = direct + "/grid.txt";
  if (Status s = same_file_clash({ParamFN}, {fn}); !s)
    return fail(followed_by(s.error(), " Nothing written."), kEnding);

  const GridDimensions dims = grid_dimensions(GridSize, Rsample);
  if (Status s = grid_size_ok(GridSize, Rsample, dims.NrHex); !s) return fail(s.error(), kEnding);
  const std::int32_t NrGridElements = grid_point_count(dims.NrHex);
  sayf("Number of grid points: %d.\n", NrGridElements);

  if (Status s = write_grid(fn, GridSize, dims, NrGridElements); !s) return fail(s.error(), kEnding);
  sayf("Time elapsed in making TriMesh: %f [s]\n", processor_seconds(start, std::clock()));
  return kCompleted;
}

int main(int argc, char** argv) { return run_guarded(run, argc, argv, kEnding); }
