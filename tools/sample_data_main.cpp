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

// The h5 kind's options, each with its value: false with *err for an
// unknown value.
bool stack_option(const std::string& name, const char* value, hedm::StackShape* shape, std::string* err) {
  const std::string v = value;
  std::int32_t n = 0;
  auto whole = [&](const char* what, std::int32_t least) {
    const hedm::Result<std::int32_t> r = hedm::read_whole_number(value, what);
    if (!r) {
      *err = r.error().text;
      return false;
    }
    n = *r;
    if (n >= least) return true;
    *err = std::string(what) + " \"" + v + "\" must be " + std::to_string(least) + " or more.";
    return false;
  };
  if (name == "--bits") {
    if (!whole("BITS", INT32_MIN)) return false;
    if (n == 16 || n == 32) return shape->pixelBytes = static_cast<unsigned>(n / 8), true;
    *err = "BITS \"" + v + "\" must be 16 or 32.";
    return false;
  }
  if (name == "--rows") return whole("ROWS", 1) && (shape->rows = static_cast<std::uint64_t>(n), true);
  if (name == "--columns") return whole("COLUMNS", 1) && (shape->columns = static_cast<std::uint64_t>(n), true);
  using C = hedm::StackShape::Chunks;
  using F = hedm::StackShape::Filter;
  if (name == "--chunks" && (v == "frame" || v == "tile" || v == "contiguous"))
    return shape->chunks = v == "frame" ? C::Frame : v == "tile" ? C::Tile : C::Contiguous, true;
  if (name == "--filter" && (v == "none" || v == "deflate" || v == "bitshuffle"))
    return shape->filter = v == "none" ? F::None : v == "deflate" ? F::Deflate : F::Bitshuffle, true;
  *err = "Unknown " + name.substr(2) + " \"" + v + "\".";
  return false;
}

// Sample data goes to new names only: a name that exists (most likely real
// data, a dark stack that cannot be taken again) is never replaced, nor the
// file a symbolic link points at.  A character device or a FIFO (/dev/null)
// replaces nothing and is written as before.  False with *err naming the
// first name in the way.
bool all_new(const std::vector<std::string>& paths, std::string* err) {
  for (const std::string& p : paths) {
    struct stat info;
    if (::lstat(p.c_str(), &info) != 0) continue;
    if (S_ISLNK(info.st_mode)) {
      *err = p + " is a symbolic link (to " + hedm::resolve_links(p) +
             "): hedm-sample-data never writes through one. Nothing written.";
      return false;
    }
    if (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode)) continue;
    *err = p + " exists: hedm-sample-data writes new files only and never replaces one. Nothing written.";
    return false;
  }
  return true;
}

// all_new for the names the floats kind writes: STEM<NNNNN>.EXT for FIRST
// to LAST.
bool floats_new(const std::string& stem, std::int32_t first, std::int32_t last, const std::string& ext,
                std::string* err) {
  for (std::int64_t i = first; i <= last; ++i) {
    char nr[32];
    std::snprintf(nr, sizeof nr, "%05d.", static_cast<int>(i));
    if (!all_new({stem + nr + ext}, err)) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (const int s = hedm::answer_help_or_version(argc, argv, "hedm-sample-data", kHelp); s >= 0) return s;
  std::vector<const char*> args;
  bool patterned = false;
  hedm::StackShape shape{.rows = 2048, .columns = 2048};
  std::string err;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--patterned-header") {
      patterned = true;
    } else if (a == "--bits" || a == "--rows" || a == "--columns" || a == "--chunks" || a == "--filter") {
      if (i + 1 >= argc) {
        hedm::sayf("%s", kHelp);
        return 1;
      }
      if (!stack_option(a, argv[++i], &shape, &err)) {
        hedm::say(err);
        return 1;
      }
    } else {
      args.push_back(argv[i]);
    }
  }
  const std::string what = args.size() > 0 ? args[0] : "";
  const std::size_t n = args.size();
  std::int32_t a = 0, b = 0, c = 0;
  bool ok = false;
  if ((what == "stack" || what == "scan") && n >= 3) {
    ok = number(args, 2, "FRAMES", 0, 1, &a, &err) && number(args, 3, "SEED", 1, INT32_MIN, &b, &err) &&
         all_new({args[1]}, &err) &&
         (what == "stack" ? sample::write_dark_stack(args[1], a, static_cast<unsigned>(b), patterned, &err)
                          : sample::write_scan_stack(args[1], a, static_cast<unsigned>(b), patterned, &err));
  } else if (what == "h5" && n >= 3) {
    ok = number(args, 2, "FRAMES", 0, 1, &a, &err) && number(args, 3, "SEED", 1, INT32_MIN, &b, &err) &&
         all_new({args[1]}, &err);
    shape.frames = static_cast<std::uint64_t>(a);
    ok = ok && sample::write_hdf5_dark_stack(args[1], shape, static_cast<unsigned>(b), &err);
  } else if (what == "floats" && n >= 4) {
    ok = number(args, 2, "FIRST", 0, INT32_MIN, &a, &err) && number(args, 3, "LAST", 0, INT32_MIN, &b, &err) &&
         number(args, 5, "CLIPPED", -1, INT32_MIN, &c, &err) &&
         floats_new(args[1], a, b, n > 4 ? args[4] : "raw", &err) &&
         sample::write_float_images(args[1], a, b, n > 4 ? args[4] : "raw", c, &err);
  } else if (what == "results" && n >= 3) {
    ok = number(args, 2, "ROWS", 0, 0, &a, &err) && number(args, 3, "SAVED", 1, 0, &b, &err) &&
         all_new({args[1], std::string(args[1]) + ".AllMatches"}, &err) &&
         sample::write_result_files(args[1], a, b, &err);
  } else if (what == "grains" && n >= 3) {
    ok = number(args, 2, "LINES", 0, 0, &a, &err) && all_new({args[1]}, &err) && sample::write_grain_list(args[1], a, &err);
  } else {
    hedm::sayf("%s", kHelp);
    return 1;
  }
  if (!ok) hedm::say(err);
  return ok ? 0 : 1;
}
