// hedm-sample-data: sample inputs for trying the programs, the demo, the
// tests and the benchmarks.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command_line.hpp"
#include "report.hpp"
#include "sample_data.hpp"

namespace {

const char kHelp[] = R"(Usage: hedm-sample-data KIND OUTPUT ...
  stack OUT.ge3 FRAMES [SEED] [--patterned-header]
        a dark-like stack of FRAMES frames: fixed levels, noise, hot pixels
  scan OUT.ge3 FRAMES [SEED] [--patterned-header]
        a data-like stack: the same background with diffraction spots
  floats STEM FIRST LAST [EXT] [CLIPPED]
        float images STEM<NNNNN>.EXT (default raw) for PanelPack; image CLIPPED
        has flat-topped spots
  results PATH ROWS [SAVED]
        a reconstruction's result file PATH and PATH.AllMatches for SolutionDump
  grains PATH LINES
        a grain list for GrainQuats
Frame files get a header of zeros, as PanelPack writes; --patterned-header
fills it with a byte pattern instead (to see it pass through StackCollapse).
Example: hedm-sample-data stack dark_stack.ge3 10
Manual: man hedm-sample-data
)";

}  // namespace

int main(int argc, char** argv) {
  if (const int s = hedm::answer_help_or_version(argc, argv, "hedm-sample-data", kHelp); s >= 0) return s;
  std::vector<const char*> args;
  bool patterned = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--patterned-header") == 0) patterned = true;
    else args.push_back(argv[i]);
  }
  const std::string what = args.size() > 0 ? args[0] : "";
  const std::size_t n = args.size();
  std::string err;
  bool ok = false;
  if ((what == "stack" || what == "scan") && n >= 3) {
    const unsigned seed = n > 3 ? static_cast<unsigned>(std::atoi(args[3])) : 1;
    ok = what == "stack" ? sample::write_dark_stack(args[1], std::atoi(args[2]), seed, patterned, &err)
                         : sample::write_scan_stack(args[1], std::atoi(args[2]), seed, patterned, &err);
  } else if (what == "floats" && n >= 4) {
    ok = sample::write_float_images(args[1], std::atoi(args[2]), std::atoi(args[3]), n > 4 ? args[4] : "raw",
                                    n > 5 ? std::atoi(args[5]) : -1, &err);
  } else if (what == "results" && n >= 3) {
    ok = sample::write_result_files(args[1], std::atol(args[2]), n > 3 ? std::atoi(args[3]) : 1, &err);
  } else if (what == "grains" && n >= 3) {
    ok = sample::write_grain_list(args[1], std::atol(args[2]), &err);
  } else {
    hedm::sayf("%s", kHelp);
    return 1;
  }
  if (!ok) hedm::say(err);
  return ok ? 0 : 1;
}
