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
// part way leaves the earlier output as it was.

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

  say("Read file " + inFN + ".");
  OutputFile out;
  if (!out.create(outFN, &err) || !out.write(skipContent, kHeaderBytes, &err)) return fail(err, kFailed);
  auto write_band = [&out](std::size_t, const pixelvalue* medians, std::size_t count, std::string* e) {
    return out.write(medians, count * sizeof(pixelvalue), e);
  };
  if (!median_of_file(in, layout.nFrames, write_band, &err)) return fail(err, kFailed);
  if (!out.commit(&err)) return fail(err, kFailed);
  return kCompleted;
}

int main(int argc, char** argv) { return run_guarded(run, argc, argv, kFailed); }
