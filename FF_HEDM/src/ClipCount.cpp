// ClipCount: for every whole frame of a numbered series of detector frame
// files, the number of pixels at or above the saturation intensity, less the
// number a frame of the dark file shows, and the processor time used.

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "band_runner.hpp"
#include "command_line.hpp"
#include "frame_file.hpp"
#include "memory.hpp"
#include "processor_time.hpp"
#include "progress.hpp"
#include "report.hpp"
#include "saturation.hpp"
#include "stack.hpp"
#include "stack_median.hpp"

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
              an HDF5 stack or frame (.h5, .hdf5, .nxs, .hdf, optionally
              ::/DATASET) too, such as a median StackCollapse wrote
  SATURATION  intensity from which a pixel counts as saturated
Reads FOLDER/STEM_<number>EXT and prints, per frame, the saturated pixels
less those of a dark frame.
Example: ClipCount /data/run7 scan 5 1 100 .ge3 dark_median.ge3 14000
Manual: man ClipCount
)";

// One frame's pixels at a time, 16- or 32-bit as the stack's are, in a
// buffer that grows to the largest frame read: huge pages, counted in one
// pass.
class FrameBuffer {
 public:
  // Room for `pixels` values of T; nullptr when memory cannot be had.
  template <class T>
  T* get(std::uint64_t pixels) {
    if (pixels * sizeof(T) > bytes_) {
      p_.reset();
      bytes_ = 0;
      p_ = allocate_huge_array<unsigned char>(pixels * sizeof(T));
      if (!p_) return nullptr;
      bytes_ = pixels * sizeof(T);
    }
    return reinterpret_cast<T*>(p_.get());
  }

 private:
  AlignedPtr<unsigned char> p_;
  std::uint64_t bytes_ = 0;
};

template <class T>
Result<std::uint64_t> count_frame(Stack& stack, std::uint64_t f, std::int32_t satInt, FrameBuffer& buf) {
  T* pixels = buf.get<T>(stack.pixels());
  if (!pixels) return out_of_memory(stack.pixels() * sizeof(T));
  if (Status s = stack.read_frame(f, pixels); !s) return s.error();
  return count_saturated(pixels, static_cast<std::size_t>(stack.pixels()), satInt);
}

// Saturated pixels in each whole frame of a stack, one count per frame;
// with `partialToo`, the pixels past its last whole frame (a frame file
// cut short) get a count of their own, appended after the whole frames'.
// `read` hears of each frame as its share of the file's bytes.
Result<std::vector<std::uint64_t>> count_frames(Stack& stack, std::int32_t satInt, bool partialToo, FrameBuffer& buf,
                                                ProgressCounter* read = nullptr, std::uint64_t fileBytes = 0) {
  const std::uint64_t frames = stack.frames();
  std::vector<std::uint64_t> counts(frames);
  // A stack that reads on several threads at once (compressed HDF5 chunks
  // that this process decodes) has its frames counted on every thread, each
  // with a frame buffer of its own; others, one frame after another.
  const unsigned threads =
      stack.reads_in_parallel() ? static_cast<unsigned>(std::min<std::uint64_t>(worker_threads(), frames)) : 1;
  std::vector<FrameBuffer> own(threads > 1 ? threads : 0);
  auto work = [&](unsigned t, std::size_t f) -> Status {
    FrameBuffer& b = threads > 1 ? own[t] : buf;
    const Result<std::uint64_t> n = stack.pixel_bytes() == 2 ? count_frame<std::uint16_t>(stack, f, satInt, b)
                                                             : count_frame<std::uint32_t>(stack, f, satInt, b);
    if (!n) return n.error();
    counts[f] = *n;
    return ok();
  };
  auto done = [&](std::size_t first, std::size_t end) -> Status {
    return read ? read->add(fileBytes * end / frames - fileBytes * first / frames) : ok();
  };
  if (frames > 0)
    if (Status s = run_bands(std::max(threads, 1u), static_cast<std::size_t>(frames), work, done); !s) return s.error();
  if (partialToo && stack.tail_pixels() > 0) {
    std::uint16_t* tail = buf.get<std::uint16_t>(stack.tail_pixels());
    if (!tail) return out_of_memory(stack.tail_pixels() * sizeof(std::uint16_t));
    if (Status s = stack.read_tail(tail); !s) return s.error();
    counts.push_back(count_saturated(tail, static_cast<std::size_t>(stack.tail_pixels()), satInt));
  }
  return counts;
}

// The saturated pixels of all counts divided by the whole frames, truncated.
Result<long long> per_frame(const Result<std::vector<std::uint64_t>>& counts, std::uint64_t nFrames) {
  if (!counts) return counts.error();
  std::uint64_t total = 0;
  for (std::uint64_t c : *counts) total += c;
  return static_cast<long long>(total / nFrames);
}

// The dark count: the saturated pixels of the whole dark stack (a frame
// file's trailing partial frame included) divided by its whole frames.
Result<long long> dark_count(const std::string& darkfilename, std::int32_t satInt, FrameBuffer& buf) {
  Result<std::unique_ptr<Stack>> dark =
      open_stack(darkfilename, StackRole{"The dark file", "Could not read the dark file: " + darkfilename + "."});
  if (!dark) return dark.error();
  return per_frame(count_frames(**dark, satInt, true, buf), (*dark)->frames());
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

// Reads one data stack and prints its frame lines; `read` hears of the
// bytes of its file as its frames are counted.
Status report_file(const std::string& filename, std::int32_t satInt, long long NrSatPxDark, FrameBuffer& buf,
                   ProgressCounter& read) {
  Result<std::unique_ptr<Stack>> stack =
      open_stack(filename, StackRole{"The data file", "Could not read the input file: " + filename + "."});
  if (!stack) return stack.error();
  sayf("Reading file: %s\n", filename.c_str());
  if (std::string warning = (*stack)->warning(); !warning.empty()) say(warning);
  const Result<std::vector<std::uint64_t>> counts =
      count_frames(**stack, satInt, false, buf, &read, file_bytes((*stack)->file()));
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
    return argument_error("Padding " + std::to_string(n.Padding) +
                          " is outside 2 to 9: no data file name can be formed.");
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

  FrameBuffer Image;
  // A dark name from the root is the file itself; any other is inside folder.
  const std::string darkPath = darkName.starts_with('/') ? darkName : folder + "/" + darkName;
  const Result<long long> NrSatPxDark = dark_count(darkPath, satInt, Image);
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
    const std::uint64_t bytes = file_bytes(StackName::parse(name).file);
    if (bytes == 0) break;
    seriesBytes += bytes;
  }
  ProgressCounter read(watcher, seriesBytes);
  for (std::int64_t i = startNr; i <= endNr; ++i)
    if (Status s = report_file(name_of(i), satInt, *NrSatPxDark, Image, read); !s) return fail(s.error(), kEnding);
  progress.clear();
  Image = FrameBuffer();
  sayf("Time elapsed: %f s.\n", processor_seconds(start, std::clock()));
  return kCompleted;
}

int main(int argc, char** argv) { return run_guarded(run, argc, argv, kEnding); }
