// StackCollapse: collapses all complete frames of one detector frame file into
// a single frame holding the per-pixel median, written behind the input's own
// header.
//
// The stack is read in bands of neighbouring pixels, one slice of every frame
// per band, on one thread per processor the run may use, and the medians are
// written in order as soon as they are known, so memory stays within 64 MiB
// for one thread and 32 MiB per further thread whatever the number of
// frames.  The
// output is a temporary until the last band is written: a run that fails
// part way leaves the earlier output as it was.  An output name that holds
// a stack of frames is refused: the arguments were given the wrong way round.

#include <algorithm>
#include <cstdio>
#include <string>

#include "command_line.hpp"
#include "frame_file.hpp"
#include "input_file.hpp"
#include "output_file.hpp"
#include "report.hpp"
#include "same_file.hpp"
#include "stack_median.hpp"

using namespace hedm;

namespace {

// No caller reads the status of a completed run; 0 says it completed.
constexpr int kCompleted = 0, kFailed = 1;
const Ending kEnding{"Not enough arguments, exiting.", kFailed, kFailed};

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
  if (argc != 3) return fail(usage_error(), kEnding);
  const std::string inFN = argv[1], outFN = argv[2];
  if (std::string clash = same_file_clash({inFN}, {outFN}); !clash.empty())
    return fail(Error{ErrorKind::Output, clash + " Nothing written."}, kEnding);
  if (std::string stack = stack_in_the_way(outFN); !stack.empty())
    return fail(Error{ErrorKind::Output, stack + " Nothing written."}, kEnding);

  InputFile in;
  if (Status s = in.open(inFN); !s) return fail(s.error(), kEnding);
  const FrameLayout layout = frame_layout(in.size());
  if (layout.nFrames == 0) return fail(no_whole_frame("The input file", inFN, in.size()), kEnding);
  alignas(64) static unsigned char skipContent[kHeaderBytes];
  if (Status s = in.read_at(skipContent, kHeaderBytes, 0); !s) return fail(s.error(), kEnding);

  say("Read file " + inFN + ".");
  if (std::string warning = partial_frame_warning(inFN, layout); !warning.empty()) say(warning);
  OutputFile out;
  Status s = out.create(outFN);
  if (s) s = out.write(skipContent, kHeaderBytes);
  if (!s) return fail(s.error(), kEnding);
  auto write_band = [&out](std::size_t, const pixelvalue* medians, std::size_t count) {
    return out.write(medians, count * sizeof(pixelvalue));
  };
  if (Status m = median_of_file(in, layout.nFrames, write_band); !m) return fail(m.error(), kEnding);
  if (Status c = out.commit(); !c) return fail(c.error(), kEnding);
  return kCompleted;
}

int main(int argc, char** argv) { return run_guarded(run, argc, argv, kEnding); }
