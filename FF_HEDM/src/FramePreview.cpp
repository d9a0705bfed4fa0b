// FramePreview: one frame of a detector frame file as two PGM images,
// <stem>.pgm with the 16-bit values and <stem>_view.pgm, an 8-bit view
// stretched between two percentiles of the frame's values.
//   FramePreview <frame file> <output stem> [frame, from 1] [low %] [high %]

#include <cstdio>
#include <cstdlib>
#include <string>

#include "frame_file.hpp"
#include "io.hpp"
#include "preview.hpp"
#include "same_file.hpp"
#include "util.hpp"

using namespace hedm;

namespace {

bool write_whole(const std::string& path, const std::string& bytes, std::string* err) {
  OutputFile out;
  return out.create(path, err) && out.write(bytes.data(), bytes.size(), err) && out.commit(err);
}

}  // namespace

int run(int argc, char** argv) {
  if (argc < 3 || argc > 6)
    return fail("Usage: FramePreview <frame file> <output stem> [frame, from 1] [low percentile] "
                "[high percentile]\nWrites <stem>.pgm (16-bit) and <stem>_view.pgm (8-bit, "
                "stretched between the percentiles, 1 and 99.5 by default).");
  const std::string inFN = argv[1], stem = argv[2];
  const std::int32_t frame = argc > 3 ? atoi32(argv[3]) : 1;
  const double low = argc > 4 ? std::strtod(argv[4], nullptr) : 1.0;
  const double high = argc > 5 ? std::strtod(argv[5], nullptr) : 99.5;
  if (!(low >= 0 && low < high && high <= 100))
    return fail("The percentiles must satisfy 0 <= low < high <= 100. Exiting.");

  if (std::string clash = same_file_clash({inFN}, {stem + ".pgm", stem + "_view.pgm"}); !clash.empty())
    return fail(clash + " Nothing written. Exiting.");
  std::string err;
  InputFile in;
  if (!in.open(inFN, &err)) return fail(err + " Exiting.");
  const FrameLayout layout = frame_layout(in.size());
  if (frame < 1 || static_cast<std::uint64_t>(frame) > layout.nFrames)
    return fail(inFN + " has " + std::to_string(layout.nFrames) + " whole frame(s); there is no frame " +
                std::to_string(frame) + ". Exiting.");
  AlignedPtr<pixelvalue> pixels = allocate_array<pixelvalue>(kPixelsPerFrame);
  if (!pixels) return fail(out_of_memory_message(kFrameBytes));
  if (!in.read_at(pixels.get(), kFrameBytes, kHeaderBytes + (frame - 1) * std::uint64_t{kFrameBytes}, &err))
    return fail(err + " Exiting.");

  const pixelvalue lo = percentile_value(pixels.get(), kPixelsPerFrame, low);
  const pixelvalue hi = percentile_value(pixels.get(), kPixelsPerFrame, high);
  if (!write_whole(stem + ".pgm", pgm16(pixels.get(), nrPixels), &err) ||
      !write_whole(stem + "_view.pgm", pgm8_view(pixels.get(), nrPixels, lo, hi), &err))
    return fail(err + " Exiting.");
  std::printf("Frame %d of %s: %s.pgm (16-bit), %s_view.pgm (8-bit, %u to %u).\n", frame, inFN.c_str(),
              stem.c_str(), stem.c_str(), static_cast<unsigned>(lo), static_cast<unsigned>(hi));
  return 0;
}

int main(int argc, char** argv) { return run_guarded(run, argc, argv); }
