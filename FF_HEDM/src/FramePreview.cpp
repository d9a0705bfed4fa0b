// FramePreview: one frame of a detector frame file as an image a person can
// look at in a browser or any viewer.
//   FramePreview FRAME_FILE OUTPUT [FRAME] [LOW%] [HIGH%] [--log] [--bin N] [--raw FILE]
// OUTPUT ending in .png (or .pgm) gets the 8-bit view; any other OUTPUT is a
// stem for STEM.pgm (16-bit values) and STEM_view.pgm (8-bit view), as
// earlier versions wrote them.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command_line.hpp"
#include "frame_file.hpp"
#include "input_file.hpp"
#include "memory.hpp"
#include "output_file.hpp"
#include "preview.hpp"
#include "report.hpp"
#include "same_file.hpp"

using namespace hedm;

namespace {

const char kHelp[] = R"(Usage: FramePreview FRAME_FILE OUTPUT [FRAME] [LOW%] [HIGH%] [--log] [--bin N] [--raw FILE]
  FRAME_FILE  detector frame file
  OUTPUT      NAME.png (or NAME.pgm): an 8-bit view of the frame; any other name
              is a stem for STEM.pgm (16-bit values) and STEM_view.pgm (8-bit view)
  FRAME       which frame, from 1 (default 1)
  LOW%, HIGH% percentiles shown black and white (default 1 and 99.5)
  --log       a logarithmic stretch between them, for faint and bright spots at once
  --bin N     average blocks of N x N pixels: a 2048 / N image
  --raw FILE  also the raw 16-bit values, as FILE.png or FILE.pgm
Example: FramePreview dark_median.ge3 dark_median.png --log --bin 2
Manual: man FramePreview
)";

const char kUsage[] =
    "Usage: FramePreview <frame file> <output> [frame, from 1] [low percentile] [high percentile] "
    "[--log] [--bin N] [--raw FILE]\nWrites <output> as an 8-bit PNG (or PGM) view stretched between "
    "the percentiles, 1 and 99.5 by default; FramePreview --help tells more.";

bool ends_with(const std::string& s, const char* tail) {
  const std::size_t n = std::strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// The encoded file for `path`, PNG or PGM by its name; empty when this
// build cannot write PNG.
template <class T>
std::string encoded(const std::string& path, const Image<T>& image) {
  return ends_with(path, ".png") ? png(image) : pgm(image);
}

bool write_whole(const std::string& path, const std::string& bytes, std::string* err) {
  OutputFile out;
  return out.create(path, err) && out.write(bytes.data(), bytes.size(), err) && out.commit(err);
}

}  // namespace

int run(int argc, char** argv) {
  if (const int s = answer_help_or_version(argc, argv, "FramePreview", kHelp); s >= 0) return s;
  std::vector<std::string> positional;
  bool log = false;
  std::int32_t bin = 1;
  std::string raw, err;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--log") {
      log = true;
    } else if ((a == "--bin" || a == "--raw") && i + 1 < argc) {
      if (a != "--bin") raw = argv[++i];
      else if (!read_whole_number(argv[++i], "--bin", &bin, &err)) return fail(err + " Exiting.");
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() < 2 || positional.size() > 5) return fail(kUsage);
  const std::string inFN = positional[0], output = positional[1];
  std::int32_t frame = 1;
  double low = 1.0, high = 99.5;
  if ((positional.size() > 2 && !read_whole_number(positional[2].c_str(), "FRAME", &frame, &err)) ||
      (positional.size() > 3 && !read_decimal_number(positional[3].c_str(), "LOW%", &low, &err)) ||
      (positional.size() > 4 && !read_decimal_number(positional[4].c_str(), "HIGH%", &high, &err)))
    return fail(err + " Exiting.");
  if (!(low >= 0 && low < high && high <= 100))
    return fail("The percentiles must satisfy 0 <= low < high <= 100. Exiting.");
  if (bin < 1 || bin > static_cast<int>(nrPixels))
    return fail("--bin " + std::to_string(bin) + " is outside 1 to 2048. Exiting.");
  const bool stem = !ends_with(output, ".png") && !ends_with(output, ".pgm");
  if (!raw.empty() && !ends_with(raw, ".png") && !ends_with(raw, ".pgm"))
    return fail("--raw " + raw + ": the name must end in .png or .pgm. Exiting.");
  const std::string viewFN = stem ? output + "_view.pgm" : output;
  const std::string rawFN = stem ? output + ".pgm" : raw;
  if ((ends_with(viewFN, ".png") || ends_with(rawFN, ".png")) && !png_available())
    return fail("This build of FramePreview writes no PNG (libpng was missing when it was built); "
                "name the output .pgm. Exiting.");
  std::vector<std::string> outputs = {viewFN};
  if (!rawFN.empty()) outputs.push_back(rawFN);
  if (std::string clash = same_file_clash({inFN}, outputs); !clash.empty())
    return fail(clash + " Nothing written. Exiting.");

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

  const Image<pixelvalue> shown = bin_image(pixels.get(), nrPixels, bin);
  const pixelvalue lo = percentile_value(shown.pixels.data(), shown.pixels.size(), low);
  const pixelvalue hi = percentile_value(shown.pixels.data(), shown.pixels.size(), high);
  if (!rawFN.empty()) {
    const Image<pixelvalue> values{nrPixels, nrPixels, std::vector<pixelvalue>(pixels.get(), pixels.get() + kPixelsPerFrame)};
    if (!write_whole(rawFN, encoded(rawFN, values), &err)) return fail(err + " Exiting.");
  }
  if (!write_whole(viewFN, encoded(viewFN, view8(shown, lo, hi, log)), &err)) return fail(err + " Exiting.");

  std::string report = "Frame " + std::to_string(frame) + " of " + inFN + ": ";
  if (!rawFN.empty()) report += rawFN + " (16-bit), ";
  report += viewFN + " (8-bit, " + std::to_string(lo) + " to " + std::to_string(hi);
  if (log) report += ", log";
  if (bin > 1) report += ", " + std::to_string(bin) + " x " + std::to_string(bin) + " bins";
  say(report + ").");
  return 0;
}

int main(int argc, char** argv) { return run_guarded(run, argc, argv); }
