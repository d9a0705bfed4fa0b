// StackCollapse: collapses all complete frames of one detector frame file into
// a single frame holding the per-pixel median, written behind the input's own
// header.
//
// The stack is read in bands of neighbouring pixels, one slice of every frame
// per band, into one reused buffer, so memory stays between 19 and 36 MiB
// whatever the number of frames.  Both large buffers are offered huge pages:
// with 4 KiB pages, faulting in the 8 MiB output frame alone costs as much
// as reading ten frames.

#include <algorithm>
#include <cstdio>
#include <string>

#include "command_line.hpp"
#include "frame_file.hpp"
#include "input_file.hpp"
#include "memory.hpp"
#include "report.hpp"
#include "same_file.hpp"
#include "stack_median.hpp"

using namespace hedm;

namespace {

// No caller reads the status of a completed run; 0 says it completed.
constexpr int kCompleted = 0, kFailed = 1;

const char kHelp[] = R"(Usage: StackCollapse INPUT OUTPUT
  INPUT   detector frame file of one or more frames, as a rule a dark stack
  OUTPUT  frame file to write: INPUT's header, then the per-pixel median of its
          whole frames (the lower middle value for an even count)
Example: StackCollapse dark_stack.ge3 dark_median.ge3
Manual: man StackCollapse
)";

}  // namespace

int run(int argc, char** argv) {
  if (const int s = answer_help_or_version(argc, argv, "StackCollapse", kHelp); s >= 0) return s;
  if (argc != 3) return usage("Not enough arguments, exiting.", kFailed);
  const std::string inFN = argv[1], outFN = argv[2];
  if (std::string clash = same_file_clash({inFN}, {outFN}); !clash.empty())
    return fail(clash + " Nothing written. Exiting.", kFailed);

  std::string err;
  InputFile in;
  if (!in.open(inFN, &err)) return fail(err, kFailed);
  const FrameLayout layout = frame_layout(in.size());
  if (layout.nFrames == 0) return fail(no_complete_frame_message(inFN, in.size()), kFailed);
  alignas(64) static unsigned char skipContent[kHeaderBytes];
  if (!in.read_at(skipContent, kHeaderBytes, 0, &err)) return fail(err, kFailed);

  AlignedPtr<pixelvalue> median = allocate_huge_array<pixelvalue>(kPixelsPerFrame);
  if (!median) return fail(out_of_memory_message(kFrameBytes), kFailed);
  say("Read file " + inFN + ".");
  if (!median_of_file(in, layout.nFrames, median.get(), &err)) return fail(err, kFailed);

  if (!write_one_frame_file(outFN, skipContent, median.get(), &err)) return fail(err, kFailed);
  return kCompleted;
}

int main(int argc, char** argv) { return run_guarded(run, argc, argv, kFailed); }
