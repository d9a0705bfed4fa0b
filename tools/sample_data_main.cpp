// hedm-sample-data: sample inputs for trying the programs, the demo, the
// tests and the benchmarks.
#include <cstdio>
#include <cstdint>
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

// The number args[i] (absent: `fallback`), read whole; false with *err set
// for a slip such as "ten" or "1x", or a value below `least`.
bool number(const std::vector<const char*>& args, std::size_t i, const char* what, std::int32_t fallback,
            std::int32_t least, std::int32_t* value, std::string* err) {
  *value = fallback;
  if (i >= args.size()) return true;
  const hedm::Result<std::int32_t> v = hedm::read_whole_number(args[i], what);
  if (!v) {
    *err = v.error().text;
    return false;
  }
  *value = *v;
  if (*value >= least) return true;
  *err = std::string(what) + " \"" + args[i] + "\" must be " + std::to_string(least) + " or more.";
  return false;
}

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
  std::int32_t a = 0, b = 0, c = 0;
  bool ok = false;
  if ((what == "stack" || what == "scan") && n >= 3) {
    ok = number(args, 2, "FRAMES", 0, 1, &a, &err) && number(args, 3, "SEED", 1, INT32_MIN, &b, &err) &&
         (what == "stack" ? sample::write_dark_stack(args[1], a, static_cast<unsigned>(b), patterned, &err)
                          : sample::write_scan_stack(args[1], a, static_cast<unsigned>(b), patterned, &err));
  } else if (what == "floats" && n >= 4) {
    ok = number(args, 2, "FIRST", 0, INT32_MIN, &a, &err) && number(args, 3, "LAST", 0, INT32_MIN, &b, &err) &&
         number(args, 5, "CLIPPED", -1, INT32_MIN, &c, &err) &&
         sample::write_float_images(args[1], a, b, n > 4 ? args[4] : "raw", c, &err);
  } else if (what == "results" && n >= 3) {
    ok = number(args, 2, "ROWS", 0, 0, &a, &err) && number(args, 3, "SAVED", 1, 0, &b, &err) &&
         sample::write_result_files(args[1], a, b, &err);
  } else if (what == "grains" && n >= 3) {
    ok = number(args, 2, "LINES", 0, 0, &a, &err) && sample::write_grain_list(args[1], a, &err);
  } else {
    hedm::sayf("%s", kHelp);
    return 1;
  }
  if (!ok) hedm::say(err);
  return ok ? 0 : 1;
}
