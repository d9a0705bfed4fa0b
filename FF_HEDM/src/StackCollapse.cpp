// StackCollapse: collapses all complete frames of one detector frame file into
// a single frame holding the per-pixel median, written behind the input's own
// header.
//
// The stack is read in bands of neighbouring pixels, one slice of every frame
// per band, on one thread per processor the run may use, and the medians are
// written in order as soon as they are known, so memory stays within 64 MiB
// for one thread and 32 MiB per further thread whatever the number of
// frames; the file is read with pread, never mapped, so none of its pages
// counts in the run's resident memory.  The output is a temporary until the
// last band is written: a run that fails part way leaves the earlier output
// as it was.  An output name that holds
// a stack of frames is refused: the arguments were given the wrong way round.
//
// Any stack is collapsed: HDF5 stacks and series (today's detectors: any
// frame shape, 16- or 32-bit pixels) too, read where they lie when
// uncompressed, else decoded once into a spill file beside the output; and
// a median is written as HDF5 when the output's name
// says so: a file of its own, or a dataset added to an existing file
// (FILE.h5::/DATASET) whose other objects stay as they were.

#include <cstdio>
#include <string>

#include "command_line.hpp"
#include "frame_file.hpp"
#include "hdf5_stack.hpp"
#include "output_file.hpp"
#include "progress.hpp"
#include "report.hpp"
#include "same_file.hpp"
#include "stack.hpp"
#include "stack_median_spill.hpp"

using namespace hedm;

namespace {

// No caller reads the status of a completed run; 0 says it completed.
constexpr int kCompleted = 0, kFailed = 1;
const Ending kEnding{"Not enough arguments, exiting.", kFailed, kFailed};

const char kHelp[] = R"(Usage: StackCollapse INPUT OUTPUT
  INPUT   detector frame file of one or more frames, as a rule a dark stack;
          or an HDF5 stack, FILE.h5 or FILE.h5::/DATASET (16- or 32-bit; any
          HDF5 file is read as one, whatever its name; a detector's master
          file as the frames of all its data files)
  OUTPUT  frame file to write: INPUT's header, then the per-pixel median of its
          whole frames (the lower middle value for an even count); FILE.h5
          gets the median as an HDF5 file of its own; FILE.h5::/DATASET adds it
          to FILE, whose other objects stay as they were
Example: StackCollapse dark_stack.ge3 dark_median.ge3
Manual: man StackCollapse
)";

// The median as HDF5: into the dataset the output names, else as a file
// that holds it alone as /entry/data/data, which peers open without a path;
// chunked and filtered like the input's frames where it is HDF5.
Status collapse_to_hdf5(Stack& in, const StackName& out, const MedianRun& run) {
  const Result<Frame> m = median_frame(in, run);
  if (!m) return m.error();
  const std::string dataset = out.dataset.empty() ? kMedianDataset : out.dataset;
  const Hdf5Target target = out.dataset.empty() ? Hdf5Target::WholeFile : Hdf5Target::Dataset;
  const FrameOrigin origin{in.file(), in.dataset(), in.frames()};
  const auto* like = dynamic_cast<const Hdf5Stack*>(&in);
  return std::visit(
      [&](const auto& v) {
        return write_hdf5_frame(out.file, dataset, target, v.data(), m->rows, m->columns, origin, like);
      },
      m->values);
}

// The median as a frame file: the input's header (zeros for a stack that
// has none), then the medians as they are known.
Status collapse_to_frame_file(Stack& in, const std::string& outFN, const MedianRun& run) {
  alignas(64) static unsigned char header[kHeaderBytes];
  if (Status s = in.read_header(header); !s) return s;
  OutputFile out;
  Status s = out.create(outFN);
  if (s) s = out.write(header, kHeaderBytes);
  if (!s) return s;
  auto write_band = [&out](std::size_t, const pixelvalue* medians, std::size_t count) {
    return out.write(medians, count * sizeof(pixelvalue));
  };
  if (Status m = median_bands(in, run, write_band); !m) return m;
  return out.commit();
}

// Whether the median of `in` may be written to the output, before any work:
// not over an input, nor over a stack, nor as a frame file when it is
// none (a frame file holds 2048 x 2048 16-bit frames only).
Status output_free(const Stack& in, const StackName& out, bool hdf5Out) {
  if (Status s = same_file_clash(in.files(), {out.file}); !s) return followed_by(s.error(), " Nothing written.");
  if (hdf5Out)
    if (Status s = hdf5_frame_destination_free(out.given); !s) return s;
  if (Status s = stack_in_the_way(out); !s) return followed_by(s.error(), " Nothing written.");
  if (!hdf5Out && (in.rows() != nrPixels || in.columns() != nrPixels || in.pixel_bytes() != 2))
    return data_error("The median of " + in.file() + " is a frame of " + std::to_string(in.rows()) + " x " +
                      std::to_string(in.columns()) + " " + std::to_string(8 * in.pixel_bytes()) +
                      "-bit pixels; a detector frame file holds 2048 x 2048 16-bit ones: name the "
                      "output .h5. Nothing written.");
  return ok();
}

}  // namespace

int run(int argc, char** argv) {
  if (const int s = answer_help_or_version(argc, argv, "StackCollapse", kHelp); s >= 0) return s;
  if (argc != 3) return fail(usage_error(), kEnding);
  const std::string inFN = argv[1];
  const StackName out = StackName::parse(argv[2]);
  Result<std::unique_ptr<Stack>> in = open_stack(inFN, StackRole{"The input file", ""});
  if (!in) return fail(in.error(), kEnding);
  Stack& stack = **in;
  const bool hdf5Out = writes_hdf5(out);
  if (Status s = output_free(stack, out, hdf5Out); !s) return fail(s.error(), kEnding);
  say("Read file " + inFN + ".");
  if (std::string warning = stack.warning(); !warning.empty()) say(warning);
  // On a terminal, a line that says how far the run has come; any report
  // line clears it first.
  ProgressLine progress("StackCollapse");
  const MedianRun run{folder_of(out.file), 0, progress.watcher()};
  const Status s = hdf5Out ? collapse_to_hdf5(stack, out, run) : collapse_to_frame_file(stack, out.given, run);
  if (!s) return fail(s.error(), kEnding);
  return kCompleted;
}

int main(int argc, char** argv) { return run_guarded(run, argc, argv, kEnding); }
