// ClipCount: for every whole frame of a numbered series of detector frame
// files, the number of pixels at or above the saturation intensity, less the
// number a frame of the dark file shows, and the processor time used.

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "command_line.hpp"
#include "file_kind.hpp"
#include "frame_file.hpp"
#include "hdf5_stack.hpp"
#include "input_file.hpp"
#include "memory.hpp"
#include "processor_time.hpp"
#include "progress.hpp"
#include "report.hpp"
#include "saturation.hpp"

using namespace hedm;

namespace {

// Every stop, the wrong argument count included, ends with 1: the series
// was not counted.
constexpr int kCompleted = 0, kFailed = 1;
const char kUsage[] =
    "Usage: ClipCount <folder> <filestem> <padding> <startnr> <endnr> <ext> <darkname> <saturationIntensity>";
const Ending kEnding{kUsage, kFailed, kFailed};

const char kHelp[] = R"(Usage: ClipCount FOLDER STEM PADDING START END EXT DARK SATURATION
  FOLDER      folder of the frame files
  STEM        name before the underscore and the number
  PADDING     digits of the zero-filled number, 2 to 9
  START, END  first and last number
  EXT         extension with its dot, e.g. .ge3; .h5 (or .h5::/DATASET) for
              HDF5 stacks of 16- or 32-bit frames of any shape
  DARK        dark frame file, a name inside FOLDER, or a path from / as it is;
              an HDF5 stack (.h5, .hdf5, .nxs, .hdf, optionally ::/DATASET) too
  SATURATION  intensity from which a pixel counts as saturated
Reads FOLDER/STEM_<number>EXT and prints, per frame, the saturated pixels
less those of a dark frame.
Example: ClipCount /data/run7 scan 5 1 100 .ge3 dark_median.ge3 14000
Manual: man ClipCount
)";

// Saturated pixels in each whole frame of a file, one count per frame; with
// `partialToo`, the pixels of a trailing partial frame get a count of their
// own, appended after the whole frames'.  Frames are read one at a time into
// buf.
Result<std::vector<std::uint64_t>> count_frames(InputFile& in, const FrameLayout& layout, std::int32_t satInt,
                                                bool partialToo, pixelvalue* buf, ProgressCounter* read = nullptr) {
  std::vector<std::uint64_t> counts;
  const std::uint64_t pixels = partialToo ? layout.nPixels : layout.nFrames * kPixelsPerFrame;
  for (std::uint64_t p = 0; p < pixels; p += kPixelsPerFrame) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kPixelsPerFrame, pixels - p));
    if (Status s = in.read_at(buf, n * sizeof(pixelvalue), kHeaderBytes + p * sizeof(pixelvalue)); !s)
      return s.error();
    counts.push_back(count_saturated(buf, n, satInt));
    if (read)
      if (Status s = read->add(n * sizeof(pixelvalue)); !s) return s.error();
  }
  return counts;
}

// Saturated pixels in each frame of an HDF5 stack (16- or 32-bit pixels,
// frames of any shape), read a frame at a time.
// `read` hears of each frame as its share of the file's bytes.
Result<std::vector<std::uint64_t>> count_stack_frames(Hdf5Stack& stack, std::int32_t satInt,
                                                      ProgressCounter* read = nullptr, std::uint64_t fileBytes = 0) {
  const StackInfo& info = stack.info();
  const std::size_t pixels = static_cast<std::size_t>(info.pixels());
  std::vector<std::uint64_t> counts;
  std::vector<std::uint16_t> narrow(info.pixelBytes == 2 ? pixels : 0);
  std::vector<std::uint32_t> wide(info.pixelBytes == 4 ? pixels : 0);
  for (std::uint64_t f = 0; f < info.frames; ++f) {
    const Status s = info.pixelBytes == 2 ? stack.read_frame(f, narrow.data()) : stack.read_frame(f, wide.data());
    if (!s) return s.error();
    counts.push_back(info.pixelBytes == 2 ? count_saturated(narrow.data(), pixels, satInt)
                                          : count_saturated(wide.data(), pixels, satInt));
    if (read)
      if (Status s = read->add(fileBytes * (f + 1) / info.frames - fileBytes * f / info.frames); !s) return s.error();
  }
  return counts;
}

// An HDF5 stack opened for counting; a stack of no frame is refused like a
// frame file of no whole frame.
Result<Hdf5Stack> open_stack(const std::string& which, const std::string& path) {
  Result<Hdf5Stack> stack = Hdf5Stack::open(path);
  if (stack && stack->info().frames == 0)
    return Error{ErrorKind::Data, which + " " + path + " holds no frame (dataset " + stack->info().dataset + ")."};
  return stack;
}

// The saturated pixels of all counts divided by the whole frames, truncated.
Result<long long> per_frame(const Result<std::vector<std::uint64_t>>& counts, std::uint64_t nFrames) {
  if (!counts) return counts.error();
  std::uint64_t total = 0;
  for (std::uint64_t c : *counts) total += c;
  return static_cast<long long>(total / nFrames);
}

// The dark count: the saturated pixels of the whole dark file (a trailing
// partial frame included) divided by its whole frames.
Result<long long> dark_count(const std::string& darkfilename, std::int32_t satInt, pixelvalue* buf) {
  const Result<FrameInput> form = frame_input_form("The dark file", darkfilename);
  if (!form) return form.error();
  if (*form == FrameInput::Hdf5) {
    Result<Hdf5Stack> stack = open_stack("The dark file", darkfilename);
    if (!stack) return stack.error();
    return per_frame(count_stack_frames(*stack, satInt), stack->info().frames);
  }
  InputFile dark;
  if (!dark.open(darkfilename)) return Error{ErrorKind::Input, "Could not read the dark file: " + darkfilename + "."};
  const FrameLayout layout = frame_layout(dark.size());
  if (layout.nFrames == 0) return no_whole_frame("The dark file", darkfilename, dark.size());
  return per_frame(count_frames(dark, layout, satInt, true, buf), layout.nFrames);
}

// Prints one data file's frame lines.
void report_counts(const std::string& filename, const std::vector<std::uint64_t>& counts, long long NrSatPxDark) {
  sayf("Number of saturated pixels more than the dark image in file: \n%s\n", filename.c_str());
  for (std::size_t f = 0; f < counts.size(); ++f)
    sayf("Frame %03lld of %lld %lld.\n", static_cast<long long>(f + 1), static_cast<long long>(counts.size()),
         static_cast<long long>(counts[f]) - NrSatPxDark);
}

// The size of a file, 0 where it has none to tell.
std::uint64_t file_bytes(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
}

// Reads one data file, frame file or HDF5 stack, and prints its frame lines;
// `read` hears of the bytes of its frames as they are counted.
Status report_file(const std::string& filename, std::int32_t satInt, long long NrSatPxDark, pixelvalue* buf,
                   ProgressCounter& read) {
  const Result<FrameInput> form = frame_input_form("The data file", filename);
  if (!form) return form.error();
  if (*form == FrameInput::Hdf5) {
    Result<Hdf5Stack> stack = open_stack("The data file", filename);
    if (!stack) return stack.error();
    sayf("Reading file: %s\n", filename.c_str());
    const Result<std::vector<std::uint64_t>> counts =
        count_stack_frames(*stack, satInt, &read, file_bytes(split_stack_path(filename).file));
    if (!counts) return counts.error();
    report_counts(filename, *counts, NrSatPxDark);
    return ok();
  }
  InputFile in;
  if (!in.open(filename)) return Error{ErrorKind::Input, "Could not read the input file: " + filename + "."};
  const FrameLayout layout = frame_layout(in.size());
  // A compressed or cut-off file: counting it would say nothing.
  if (layout.nFrames == 0) return no_whole_frame("The data file", filename, in.size());
  sayf("Reading file: %s\n", filename.c_str());
  if (std::string warning = partial_frame_warning(filename, layout); !warning.empty()) say(warning);
  const Result<std::vector<std::uint64_t>> counts = count_frames(in, layout, satInt, false, buf, &read);
  if (!counts) return counts.error();
  report_counts(filename, *counts, NrSatPxDark);
  return ok();
}

// The numbers of the command line, read whole.
struct Numbers {
  std::int32_t Padding = 0, startNr = 0, endNr = 0, satInt = 0;
};

Result<Numbers> read_numbers(char** argv) {
  Numbers n;
  const std::pair<int, std::int32_t*> wanted[] = {{3, &n.Padding}, {4, &n.startNr}, {5, &n.endNr}, {8, &n.satInt}};
  const char* names[] = {"", "", "", "padding", "startnr", "endnr", "", "", "saturationIntensity"};
  for (auto [i, dest] : wanted) {
    const Result<std::int32_t> v = read_whole_number(argv[i], names[i]);
    if (!v) return v.error();
    *dest = *v;
  }
  if (n.Padding < 2 || n.Padding > 9)
    return Error{ErrorKind::Argument,
                 "Padding " + std::to_string(n.Padding) + " is outside 2 to 9: no data file name can be formed."};
  return n;
}

}  // namespace

int run(int argc, char** argv) {
  const std::clock_t start = std::clock();  // the processor time reported covers the whole run
  if (const int s = answer_help_or_version(argc, argv, "ClipCount", kHelp); s >= 0) return s;
  if (argc != 9) return fail(usage_error(), kEnding);
  const std::string folder = argv[1], filestem = argv[2], ext = argv[6], darkName = argv[7];
  const Result<Numbers> numbers = read_numbers(argv);
  if (!numbers) return fail(numbers.error(), kEnding);
  const auto [Padding, startNr, endNr, satInt] = *numbers;

  AlignedPtr<pixelvalue> Image = allocate_huge_array<pixelvalue>(kPixelsPerFrame);
  if (!Image) return fail(out_of_memory(kFrameBytes), kEnding);
  // A dark name from the root is the file itself; any other is inside folder.
  const std::string darkPath = darkName.starts_with('/') ? darkName : folder + "/" + darkName;
  const Result<long long> NrSatPxDark = dark_count(darkPath, satInt, Image.get());
  if (!NrSatPxDark) return fail(NrSatPxDark.error(), kEnding);
  sayf("Number of saturated pixels per dark frame = %lld.\n", *NrSatPxDark);

  auto name_of = [&](std::int64_t i) {
    char number[32];
    std::snprintf(number, sizeof number, "%0*d", static_cast<int>(Padding), static_cast<int>(i));
    return folder + "/" + filestem + "_" + number + ext;
  };
  // On a terminal, a line that says how far the series has been read, by
  // the files' sizes (up to the first that is missing: the run stops
  // there); every report line clears it first.
  ProgressLine progress("ClipCount");
  const ProgressFn watcher = progress.watcher();
  std::uint64_t seriesBytes = 0;
  for (std::int64_t i = startNr; watcher && i <= endNr; ++i) {
    const std::string name = name_of(i);
    const std::uint64_t bytes = file_bytes(is_hdf5_path(name) ? split_stack_path(name).file : name);
    if (bytes == 0) break;
    seriesBytes += bytes;
  }
  ProgressCounter read(watcher, seriesBytes);
  for (std::int64_t i = startNr; i <= endNr; ++i)
    if (Status s = report_file(name_of(i), satInt, *NrSatPxDark, Image.get(), read); !s)
      return fail(s.error(), kEnding);
  progress.clear();
  Image.reset();
  sayf("Time elapsed: %f s.\n", processor_seconds(start, std::clock()));
  return kCompleted;
}

int main(int argc, char** argv) { return run_guarded(run, argc, argv, kEnding); }
