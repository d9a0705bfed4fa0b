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
// HDF5 stacks (today's detectors: any frame shape, 16- or 32-bit pixels)
// are collapsed too, and a median is written as HDF5 when the output's name
// says so: a file of its own, or a dataset added to an existing file
// (FILE.h5::/DATASET) whose other objects stay as they were.

#include <algorithm>
#include <cstdio>
#include <string>

#include "command_line.hpp"
#include "file_kind.hpp"
#include "frame_file.hpp"
#include "hdf5_stack.hpp"
#include "input_file.hpp"
#include "output_file.hpp"
#include "progress.hpp"
#include "report.hpp"
#include "same_file.hpp"
#include "stack_median.hpp"
#include "stack_median_hdf5.hpp"

using namespace hedm;

namespace {

// No caller reads the status of a completed run; 0 says it completed.
constexpr int kCompleted = 0, kFailed = 1;
const Ending kEnding{"Not enough arguments, exiting.", kFailed, kFailed};

const char kHelp[] = R"(Usage: StackCollapse INPUT OUTPUT
  INPUT   detector frame file of one or more frames, as a rule a dark stack;
          or an HDF5 stack, FILE.h5 or FILE.h5::/DATASET (16- or 32-bit; any
          HDF5 file is read as one, whatever its name)
  OUTPUT  frame file to write: INPUT's header, then the per-pixel median of its
          whole frames (the lower middle value for an even count); FILE.h5
          gets the median as an HDF5 file of its own; FILE.h5::/DATASET adds it
          to FILE, whose other objects stay as they were
Example: StackCollapse dark_stack.ge3 dark_median.ge3
Manual: man StackCollapse
)";

// Writes the median frame: as HDF5 where the output's name or the file
// there says so (into the dataset named there, else as a file that holds
// it alone as /entry/data/data, which peers open without a path), else as
// a frame file, which holds 2048 x 2048 16-bit frames only.
Status write_median(const std::string& outFN, const MedianFrame& m, const FrameOrigin& origin, const Hdf5Stack* like) {
  if (hdf5_output(outFN)) {
    const StackPath out = split_stack_path(outFN);
    const std::string dataset = !out.dataset.empty() ? out.dataset : kMedianDataset;
    const Hdf5Target target = out.dataset.empty() ? Hdf5Target::WholeFile : Hdf5Target::Dataset;
    return m.pixelBytes == 2
               ? write_hdf5_frame(out.file, dataset, target, m.narrow.data(), m.rows, m.columns, origin, like)
               : write_hdf5_frame(out.file, dataset, target, m.wide.data(), m.rows, m.columns, origin, like);
  }
  if (m.rows != nrPixels || m.columns != nrPixels || m.pixelBytes != 2)
    return Error{ErrorKind::Data, "The median of " + origin.file + " is a frame of " + std::to_string(m.rows) + " x " +
                                      std::to_string(m.columns) + " " + std::to_string(8 * m.pixelBytes) +
                                      "-bit pixels; a detector frame file holds 2048 x 2048 16-bit ones: name the "
                                      "output .h5. Nothing written."};
  static const unsigned char zeros[kHeaderBytes] = {};
  OutputFile out;
  Status s = out.create(outFN);
  if (s) s = out.write(zeros, kHeaderBytes);
  if (s) s = out.write(m.narrow.data(), kFrameBytes);
  return s ? out.commit() : s;
}

// The median of an HDF5 stack, decoded once into a spill file beside the
// output, then written.
Status collapse_stack(const std::string& inFN, const std::string& outFN, const ProgressFn& progress) {
  Result<Hdf5Stack> stack = Hdf5Stack::open(inFN);
  if (!stack) return stack.error();
  say("Read file " + inFN + ".");
  const Result<MedianFrame> m = median_of_hdf5(*stack, folder_of(split_stack_path(outFN).file), 0, progress);
  if (!m) return m.error();
  const FrameOrigin origin{stack->info().file, stack->info().dataset, stack->info().frames};
  return write_median(outFN, *m, origin, &*stack);
}

// The median of a frame file, written as HDF5.
Status collapse_to_hdf5(InputFile& in, const std::string& inFN, std::uint64_t nFrames, const std::string& outFN,
                        const ProgressFn& progress) {
  MedianFrame m{nrPixels, nrPixels, 2, std::vector<std::uint16_t>(kPixelsPerFrame), {}};
  if (Status s = median_of_file(in, nFrames, m.narrow.data(), 0, progress); !s) return s;
  return write_median(outFN, m, FrameOrigin{inFN, "", nFrames}, nullptr);
}

}  // namespace

int run(int argc, char** argv) {
  if (const int s = answer_help_or_version(argc, argv, "StackCollapse", kHelp); s >= 0) return s;
  if (argc != 3) return fail(usage_error(), kEnding);
  const std::string inFN = argv[1], outFN = argv[2];
  const Result<FrameInput> form = frame_input_form("The input file", inFN);
  if (!form) return fail(form.error(), kEnding);
  const bool hdf5In = *form == FrameInput::Hdf5, hdf5Out = hdf5_output(outFN);
  if (std::string clash = same_file_clash({hdf5In ? split_stack_path(inFN).file : inFN},
                                          {hdf5Out ? split_stack_path(outFN).file : outFN});
      !clash.empty())
    return fail(Error{ErrorKind::Output, clash + " Nothing written."}, kEnding);
  if (std::string stack = hdf5Out ? "" : stack_in_the_way(outFN); !stack.empty())
    return fail(Error{ErrorKind::Output, stack + " Nothing written."}, kEnding);
  if (Status s = hdf5Out ? hdf5_frame_destination_free(outFN) : ok(); !s) return fail(s.error(), kEnding);
  // On a terminal, a line that says how far the run has come; any report
  // line clears it first.
  ProgressLine progress("StackCollapse");
  if (hdf5In) {
    if (Status s = collapse_stack(inFN, outFN, progress.watcher()); !s) return fail(s.error(), kEnding);
    return kCompleted;
  }

  InputFile in;
  if (Status s = in.open(inFN); !s) return fail(s.error(), kEnding);
  const FrameLayout layout = frame_layout(in.size());
  if (layout.nFrames == 0) return fail(no_whole_frame("The input file", inFN, in.size()), kEnding);
  alignas(64) static unsigned char skipContent[kHeaderBytes];
  if (Status s = in.read_at(skipContent, kHeaderBytes, 0); !s) return fail(s.error(), kEnding);

  say("Read file " + inFN + ".");
  if (std::string warning = partial_frame_warning(inFN, layout); !warning.empty()) say(warning);
  if (hdf5Out) {
    if (Status s = collapse_to_hdf5(in, inFN, layout.nFrames, outFN, progress.watcher()); !s)
      return fail(s.error(), kEnding);
    return kCompleted;
  }
  OutputFile out;
  Status s = out.create(outFN);
  if (s) s = out.write(skipContent, kHeaderBytes);
  if (!s) return fail(s.error(), kEnding);
  auto write_band = [&out](std::size_t, const pixelvalue* medians, std::size_t count) {
    return out.write(medians, count * sizeof(pixelvalue));
  };
  if (Status m = median_of_file(in, layout.nFrames, write_band, 0, progress.watcher()); !m)
    return fail(m.error(), kEnding);
  if (Status c = out.commit(); !c) return fail(c.error(), kEnding);
  return kCompleted;
}

int main(int argc, char** argv) { return run_guarded(run, argc, argv, kEnding); }
