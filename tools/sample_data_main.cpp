// hedm-sample-data: sample inputs for trying the programs, the demo, the
// tests and the benchmarks.
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "command_line.hpp"
#include "output_file.hpp"
#include "report.hpp"
#include "sample_data.hpp"

namespace {

const char kHelp[] = R"(Usage: hedm-sample-data KIND OUTPUT ...
  stack OUT.ge3 FRAMES [SEED] [--patterned-header]
        a dark-like stack of FRAMES frames: fixed levels, noise, hot pixels
  h5 OUT.h5 FRAMES [SEED] [--bits 16|32] [--rows R] [--columns C]
     [--chunks frame|tile|contiguous] [--filter none|deflate|bitshuffle]
        a dark-like stack as the HDF5 dataset /entry/data/data (default:
        16-bit, 2048 x 2048, one frame a chunk, uncompressed)
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
Only new names are written: a name that exists, or a symbolic link, is refused.
Example: hedm-sample-data stack dark_stack.ge3 10
Manual: man hedm-sample-data
)";

using hedm::Result;
using hedm::Status;

// The number `text` read whole as `what`, `least` or more: an error for a
// slip such as "ten" or "1x", or a value below `least`.
Result<std::int32_t> whole(const char* text, const char* what, std::int32_t least) {
  const Result<std::int32_t> v = hedm::read_whole_number(text, what);
  if (!v || *v >= least) return v;
  return hedm::argument_error(std::string(what) + " \"" + text + "\" must be " + std::to_string(least) + " or more.");
}

// The number args[i] as whole() reads it; absent, `fallback`.
Result<std::int32_t> number(const std::vector<const char*>& args, std::size_t i, const char* what,
                            std::int32_t fallback, std::int32_t least) {
  if (i >= args.size()) return fallback;
  return whole(args[i], what, least);
}

// The h5 kind's options, each with its value: an error for an unknown value.
Status stack_option(const std::string& name, const char* value, hedm::StackShape* shape) {
  const std::string v = value;
  if (name == "--bits" || name == "--rows" || name == "--columns") {
    const Result<std::int32_t> n =
        name == "--bits" ? whole(value, "BITS", INT32_MIN) : whole(value, name == "--rows" ? "ROWS" : "COLUMNS", 1);
    if (!n) return n.error();
    if (name == "--rows") shape->rows = static_cast<std::uint64_t>(*n);
    if (name == "--columns") shape->columns = static_cast<std::uint64_t>(*n);
    if (name != "--bits") return hedm::ok();
    if (*n != 16 && *n != 32) return hedm::argument_error("BITS \"" + v + "\" must be 16 or 32.");
    shape->pixelBytes = static_cast<unsigned>(*n / 8);
    return hedm::ok();
  }
  using C = hedm::StackShape::Chunks;
  using F = hedm::StackShape::Filter;
  if (name == "--chunks" && (v == "frame" || v == "tile" || v == "contiguous"))
    return shape->chunks = v == "frame" ? C::Frame : v == "tile" ? C::Tile : C::Contiguous, hedm::ok();
  if (name == "--filter" && (v == "none" || v == "deflate" || v == "bitshuffle"))
    return shape->filter = v == "none" ? F::None : v == "deflate" ? F::Deflate : F::Bitshuffle, hedm::ok();
  return hedm::argument_error("Unknown " + name.substr(2) + " \"" + v + "\".");
}

// Sample data goes to new names only: a name that exists (most likely real
// data, a dark stack that cannot be taken again) is never replaced, nor the
// file a symbolic link points at.  A character device or a FIFO (/dev/null)
// replaces nothing and is written as before.  An Output error names the
// first name in the way.
Status all_new(const std::vector<std::string>& paths) {
  for (const std::string& p : paths) {
    struct stat info;
    if (::lstat(p.c_str(), &info) != 0) continue;
    if (S_ISLNK(info.st_mode))
      return hedm::output_error(p + " is a symbolic link (to " + hedm::resolve_links(p) +
                                "): hedm-sample-data never writes through one. Nothing written.");
    if (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode)) continue;
    return hedm::output_error(
        p + " exists: hedm-sample-data writes new files only and never replaces one. Nothing written.");
  }
  return hedm::ok();
}

// all_new for the names the floats kind writes: STEM<NNNNN>.EXT for FIRST
// to LAST.
Status floats_new(const std::string& stem, std::int32_t first, std::int32_t last, const std::string& ext) {
  for (std::int64_t i = first; i <= last; ++i) {
    char nr[32];
    std::snprintf(nr, sizeof nr, "%05d.", static_cast<int>(i));
    if (Status s = all_new({stem + nr + ext}); !s) return s;
  }
  return hedm::ok();
}

// The numbers args[i] of `wanted` into their *value, each as number()
// reads it; the first error stops.
struct Wanted {
  std::size_t i;
  const char* what;
  std::int32_t fallback, least;
  std::int32_t* value;
};
Status read_numbers(const std::vector<const char*>& args, std::initializer_list<Wanted> wanted) {
  for (const Wanted& w : wanted) {
    const Result<std::int32_t> v = number(args, w.i, w.what, w.fallback, w.least);
    if (!v) return v.error();
    *w.value = *v;
  }
  return hedm::ok();
}

// Writes the KIND args[0] asks for: a usage error for a kind unknown or
// short of arguments.
Status make(const std::vector<const char*>& args, hedm::StackShape shape, bool patterned) {
  const std::string what = args.size() > 0 ? args[0] : "";
  const std::size_t n = args.size();
  std::int32_t a = 0, b = 0, c = 0;
  Status s = hedm::ok();
  if ((what == "stack" || what == "scan" || what == "h5") && n >= 3) {
    s = read_numbers(args, {{2, "FRAMES", 0, 1, &a}, {3, "SEED", 1, INT32_MIN, &b}});
    if (s) s = all_new({args[1]});
    shape.frames = static_cast<std::uint64_t>(a);
    if (!s) return s;
    if (what == "h5") return sample::write_hdf5_dark_stack(args[1], shape, static_cast<unsigned>(b));
    return what == "stack" ? sample::write_dark_stack(args[1], a, static_cast<unsigned>(b), patterned)
                           : sample::write_scan_stack(args[1], a, static_cast<unsigned>(b), patterned);
  }
  if (what == "floats" && n >= 4) {
    const std::string ext = n > 4 ? args[4] : "raw";
    s = read_numbers(
        args, {{2, "FIRST", 0, INT32_MIN, &a}, {3, "LAST", 0, INT32_MIN, &b}, {5, "CLIPPED", -1, INT32_MIN, &c}});
    if (s) s = floats_new(args[1], a, b, ext);
    return s ? sample::write_float_images(args[1], a, b, ext, c) : s;
  }
  if (what == "results" && n >= 3) {
    s = read_numbers(args, {{2, "ROWS", 0, 0, &a}, {3, "SAVED", 1, 0, &b}});
    if (s) s = all_new({args[1], std::string(args[1]) + ".AllMatches"});
    return s ? sample::write_result_files(args[1], a, b) : s;
  }
  if (what == "grains" && n >= 3) {
    s = read_numbers(args, {{2, "LINES", 0, 0, &a}});
    if (s) s = all_new({args[1]});
    return s ? sample::write_grain_list(args[1], a) : s;
  }
  return hedm::usage_error();
}

}  // namespace

int main(int argc, char** argv) {
  if (const int s = hedm::answer_help_or_version(argc, argv, "hedm-sample-data", kHelp); s >= 0) return s;
  std::vector<const char*> args;
  bool patterned = false;
  hedm::StackShape shape{.rows = 2048, .columns = 2048};
  Status s = hedm::ok();
  for (int i = 1; s && i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--patterned-header")
      patterned = true;
    else if (a == "--bits" || a == "--rows" || a == "--columns" || a == "--chunks" || a == "--filter")
      s = i + 1 < argc ? stack_option(a, argv[++i], &shape) : hedm::usage_error();
    else
      args.push_back(argv[i]);
  }
  if (s) s = make(args, shape, patterned);
  if (s) return 0;
  if (s.error().kind == hedm::ErrorKind::Usage)
    hedm::sayf("%s", kHelp);
  else
    hedm::say(s.error().text);
  return 1;
}
