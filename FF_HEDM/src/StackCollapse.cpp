// StackCollapse: collapses all complete frames of one detector frame file into
// a single frame holding the per-pixel median, written behind the input's own
// header.
//
// The stack is read in bands of neighbouring pixels, one slice of every frame
// per band, into one reused buffer, so memory stays between 19 and 36 MiB
// whatever the number of frames.  Both large buffers are offered huge pages: with 4 KiB
// pages, faulting in the 8 MiB output frame alone costs as much as reading
// ten frames.

#include <algorithm>
#include <cstdio>
#include <string>

#include "command_line.hpp"
#include "frame_file.hpp"
#include "input_file.hpp"
#include "median.hpp"
#include "memory.hpp"
#include "report.hpp"
#include "same_file.hpp"

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

// Bands of pixels: one slice of every frame per band, read into one reused
// buffer.  Deep stacks get slices of 16 KiB, so that they are read in few
// calls, up to a buffer of 24 MiB (1440 frames: 16 KiB slices, 23 MiB);
// shallow ones a buffer of 8 MiB.  Larger buffers fall out of the
// last-level cache between being read and being selected, smaller slices
// cost more calls: measured at 1440 frames, 8 to 64 KiB slices took 3.4 to
// 4.2 s, these the least.
constexpr std::size_t kSliceBytes = 16u << 10;
constexpr std::size_t kMinBandBytes = 8u << 20, kMaxBandBytes = 24u << 20;
constexpr std::size_t kBandStep = 2048;  // pixels: keeps every slice page-aligned in the file

// Pixels per band: as many as fit the budget over all frames.
std::size_t band_pixels(std::uint64_t nFrames) {
  const std::size_t budget = static_cast<std::size_t>(
      std::clamp<std::uint64_t>(nFrames * kSliceBytes, kMinBandBytes, kMaxBandBytes));
  const std::size_t band = budget / (sizeof(pixelvalue) * nFrames) / kBandStep * kBandStep;
  return std::clamp(band, kBandStep, kPixelsPerFrame);
}

// The slice of pixels p0 .. p0 + count - 1 of every frame, frame f's at
// slices + f * stride.
bool read_band(InputFile& in, std::uint64_t nFrames, std::size_t p0, std::size_t count, pixelvalue* slices,
               std::size_t stride, std::string* err) {
  for (std::uint64_t f = 0; f < nFrames; ++f) {
    const std::uint64_t offset = kHeaderBytes + f * kFrameBytes + p0 * sizeof(pixelvalue);
    if (!in.read_at(slices + f * stride, count * sizeof(pixelvalue), offset, err)) return false;
  }
  return true;
}

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
  if (layout.nFrames == 0)
    return fail("Input file " + inFN + " holds no complete frame (" + std::to_string(in.size()) +
                    " bytes; a frame file of one frame has " + std::to_string(kOneFrameFileBytes) + "). Exiting.",
                kFailed);
  alignas(64) static unsigned char skipContent[kHeaderBytes];
  if (!in.read_at(skipContent, kHeaderBytes, 0, &err)) return fail(err, kFailed);

  const std::uint64_t nFrames = layout.nFrames;
  const std::size_t band = band_pixels(nFrames);
  // Slices lie a cache line more than their size apart, so that the rows
  // of one tile do not all fall into the same cache sets.
  const std::size_t stride = band + 32;
  AlignedPtr<pixelvalue> slices = allocate_huge_array<pixelvalue>(nFrames * stride);
  AlignedPtr<pixelvalue> median = allocate_huge_array<pixelvalue>(kPixelsPerFrame);
  StackMedian selector(static_cast<std::int64_t>(nFrames));
  if (!slices || !median || !selector.ok())
    return fail(out_of_memory_message((nFrames * stride + kPixelsPerFrame) * sizeof(pixelvalue)), kFailed);
  say("Read file " + inFN + ".");

  for (std::size_t p0 = 0; p0 < kPixelsPerFrame; p0 += band) {
    const std::size_t count = std::min(band, kPixelsPerFrame - p0);
    if (!read_band(in, nFrames, p0, count, slices.get(), stride, &err)) return fail(err, kFailed);
    selector.collapse(slices.get(), stride, count, median.get() + p0);
  }

  if (!write_one_frame_file(outFN, skipContent, median.get(), &err)) return fail(err, kFailed);
  return kCompleted;
}

int main(int argc, char** argv) { return run_guarded(run, argc, argv, kFailed); }
