// FramePreview: one frame of a detector frame file as an image a person can
// look at in a browser or any viewer.
//   FramePreview FRAME_FILE OUTPUT [FRAME] [LOW%] [HIGH%] [--log] [--bin N] [--raw FILE]
// OUTPUT ending in .png (or .pgm) gets the 8-bit view; one named for another
// image format (.jpg, .tif, ...) is refused; any other OUTPUT is a
// stem for STEM.pgm (16-bit values) and STEM_view.pgm (8-bit view), as
// earlier versions wrote them.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "command_line.hpp"
#include "frame_file.hpp"
#include "hdf5_pixel_mask.hpp"
#include "hdf5_stack.hpp"
#include "memory.hpp"
#include "output_file.hpp"
#include "preview.hpp"
#include "report.hpp"
#include "same_file.hpp"
#include "stack.hpp"

using namespace hedm;

namespace {

const char kHelp[] = R"(Usage: FramePreview FRAME_FILE OUTPUT [FRAME] [LOW%] [HIGH%] [--log] [--bin N] [--raw FILE]
  FRAME_FILE  detector frame file, or an HDF5 stack (FILE.h5 or FILE.h5::/DATASET)
  OUTPUT      NAME.png (or NAME.pgm): an 8-bit view of the frame; a name with no
              image extension is a stem for STEM.pgm (16-bit values) and
              STEM_view.pgm (8-bit view); other image formats (.jpg, .tif) are refused
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

// The extension of an output name that names an image format FramePreview
// does not write (".jpg", ".tif", ...; ".PNG" too, as the stem rule reads
// only ".png" and ".pgm" in lower case), or empty.  Such a name would
// otherwise be taken as a stem and give two PGM files named ".jpg.pgm".
std::string foreign_image_extension(const std::string& output) {
  static const char* const kForeign[] = {"jpg", "jpeg", "jpe",  "jfif", "jp2", "j2k", "tif", "tiff", "gif",
                                         "bmp", "webp", "ppm",  "pbm",  "pnm", "pam", "tga", "ico",  "heic",
                                         "heif", "avif", "exr", "svg",  "png", "pgm"};
  const std::size_t dot = output.rfind('.');
  if (dot == std::string::npos || output.find('/', dot) != std::string::npos) return "";
  const std::string ext = output.substr(dot + 1);
  if (ext == "png" || ext == "pgm") return "";
  std::string lower = ext;
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  for (const char* f : kForeign)
    if (lower == f) return "." + ext;
  return "";
}

// What the command line asks for.
struct Options {
  std::string inFN, viewFN, rawFN;  // rawFN empty: no raw image
  std::int32_t frame = 1, bin = 1;
  double low = 1.0, high = 99.5;
  bool log = false;
};

Result<Options> read_options(int argc, char** argv) {
  Options o;
  std::vector<std::string> positional;
  std::string raw;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--log") {
      o.log = true;
    } else if (a == "--raw" && i + 1 < argc) {
      raw = argv[++i];
    } else if (a == "--bin" && i + 1 < argc) {
      const Result<std::int32_t> bin = read_whole_number(argv[++i], "--bin");
      if (!bin) return bin.error();
      o.bin = *bin;
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() < 2 || positional.size() > 5) return usage_error();
  o.inFN = positional[0];
  const std::string& output = positional[1];
  if (positional.size() > 2) {
    const Result<std::int32_t> frame = read_whole_number(positional[2].c_str(), "FRAME");
    if (!frame) return frame.error();
    o.frame = *frame;
  }
  const std::pair<const char*, double*> percentiles[] = {{"LOW%", &o.low}, {"HIGH%", &o.high}};
  for (std::size_t i = 3; i < positional.size(); ++i) {
    const Result<double> v = read_decimal_number(positional[i].c_str(), percentiles[i - 3].first);
    if (!v) return v.error();
    *percentiles[i - 3].second = *v;
  }
  if (!(o.low >= 0 && o.low < o.high && o.high <= 100))
    return argument_error("The percentiles must satisfy 0 <= low < high <= 100.");
  if (o.bin < 1 || o.bin > static_cast<int>(nrPixels))
    return argument_error("--bin " + std::to_string(o.bin) + " is outside 1 to 2048.");
  if (const std::string ext = foreign_image_extension(output); !ext.empty())
    return argument_error(output + ": FramePreview writes PNG (.png) and PGM (.pgm) images, not " + ext +
                          ". Name the output NAME.png or NAME.pgm.");
  const bool stem = !ends_with(output, ".png") && !ends_with(output, ".pgm");
  if (!raw.empty() && !ends_with(raw, ".png") && !ends_with(raw, ".pgm"))
    return argument_error("--raw " + raw + ": the name must end in .png or .pgm.");
  o.viewFN = stem ? output + "_view.pgm" : output;
  o.rawFN = stem ? output + ".pgm" : raw;
  if ((ends_with(o.viewFN, ".png") || ends_with(o.rawFN, ".png")) && !png_available())
    return argument_error(
        "This build of FramePreview writes no PNG (libpng was missing when it was built); "
        "name the output .pgm.");
  std::vector<std::string> outputs = {o.viewFN};
  if (!o.rawFN.empty()) outputs.push_back(o.rawFN);
  if (Status s = same_file_clash({StackName::parse(o.inFN).file}, outputs); !s)
    return followed_by(s.error(), " Nothing written.");
  return o;
}

// The chosen frame, and the pixels the detector cannot use, which its
// percentiles leave out.
struct Shown {
  Frame frame;
  std::vector<std::uint8_t> masked = {};  // 1 where masked; empty when none is
  std::string maskLine = {}, maskWarning = {};  // what is masked, and why a pixel_mask is not used
};

Error no_such_frame(const Options& o, std::uint64_t frames) {
  return input_error(o.inFN + " has " + std::to_string(frames) + " whole frame(s); there is no frame " +
                     std::to_string(o.frame) + ".");
}

// The pixels of an HDF5 stack's frame that the detector cannot use: in
// 32-bit frames those at the type's largest value, its mark for them; and
// those that the file's pixel_mask masks.
void mask_frame(const StackInfo& info, Shown* shown) {
  PixelMask mask = read_pixel_mask(info.file, info.dataset, info.rows, info.columns);
  shown->maskWarning = mask.warning;
  shown->masked = std::move(mask.masked);
  const bool found = !shown->masked.empty();
  std::uint64_t count = std::count(shown->masked.begin(), shown->masked.end(), 1);
  std::string what = found ? "nonzero in " + mask.dataset : "";
  if (const auto* wide = std::get_if<1>(&shown->frame.values)) {
    const std::uint32_t mark = info.isSigned ? std::numeric_limits<std::int32_t>::max()
                                             : std::numeric_limits<std::uint32_t>::max();
    count = mark_masked(wide->data(), wide->size(), mark, &shown->masked);
    what = "the value " + std::to_string(mark) + (found ? ", or " + what : "");
  }
  if (count == 0 && !found) {
    shown->masked.clear();
    return;
  }
  char line[160];
  std::snprintf(line, sizeof line, ": %llu of %llu (%.2f%%), left out of the percentiles.",
                static_cast<unsigned long long>(count), static_cast<unsigned long long>(shown->masked.size()),
                100.0 * static_cast<double>(count) / static_cast<double>(shown->masked.size()));
  shown->maskLine = "Masked pixels (" + what + ")" + line;
}

// The chosen frame of the stack: 16-bit pixels (frame files, most HDF5
// stacks) or 32-bit ones (photon-counting detectors), row by row; and, in
// an HDF5 stack, its masked pixels.
Result<Shown> read_frame(const Options& o) {
  Result<std::unique_ptr<Stack>> stack = open_stack(o.inFN, StackRole{"The input file", ""});
  if (!stack) return stack.error();
  const std::uint64_t frames = (*stack)->frames();
  if (o.frame < 1 || static_cast<std::uint64_t>(o.frame) > frames) return no_such_frame(o, frames);
  Shown shown;
  if (Status s = (*stack)->read_frame(static_cast<std::uint64_t>(o.frame - 1), shown.frame); !s) return s.error();
  if (const auto* h = dynamic_cast<const Hdf5Stack*>(stack->get())) mask_frame(h->info(), &shown);
  return shown;
}

// The encoded file for `path`, PNG or PGM by its name.
template <class T>
Result<std::string> encoded(const std::string& path, const Image<T>& image) {
  if (!ends_with(path, ".png")) return pgm(image);
  Result<std::string> bytes = png(image);
  if (!bytes) return output_error("Could not write " + path + ": " + bytes.error().text);
  return bytes;
}

// The images of one frame and the report line's account of them.
struct Views {
  std::vector<std::pair<std::string, Result<std::string>>> images;
  std::string shown;  // "<view> (8-bit, lo to hi...)"
};

template <class T>
Result<Views> render(const Options& o, const std::vector<T>& pixels, std::size_t width, std::size_t height,
                     const std::vector<std::uint8_t>& masked) {
  std::vector<std::uint8_t> shownMasked;
  const Image<T> shown = bin_image(pixels.data(), width, height, o.bin, masked.empty() ? nullptr : masked.data(),
                                   &shownMasked);
  const std::vector<T> kept = shownMasked.empty() ? std::vector<T>{} : unmasked_values(shown, shownMasked);
  const std::vector<T>& values = shownMasked.empty() ? shown.pixels : kept;
  const T lo = percentile_value(values.data(), values.size(), o.low);
  const T hi = percentile_value(values.data(), values.size(), o.high);
  Views v;
  if (!o.rawFN.empty()) {
    if constexpr (sizeof(T) > 2) {
      return data_error(o.inFN + " holds 32-bit values, which a 16-bit image (" + o.rawFN +
                        ") cannot hold: ask for the 8-bit view alone (an output name ending in .png or .pgm, "
                        "without --raw). Nothing written.");
    } else {
      v.images.emplace_back(o.rawFN, encoded(o.rawFN, Image<T>{width, height, pixels}));
    }
  }
  v.images.emplace_back(o.viewFN, encoded(o.viewFN, view8(shown, lo, hi, o.log)));
  v.shown = o.viewFN + " (8-bit, " + std::to_string(lo) + " to " + std::to_string(hi);
  return v;
}

const Ending kEnding{kUsage, 1, 1};

}  // namespace

int run(int argc, char** argv) {
  if (const int s = answer_help_or_version(argc, argv, "FramePreview", kHelp); s >= 0) return s;
  const Result<Options> options = read_options(argc, argv);
  if (!options) return fail(options.error(), kEnding);
  const Options& o = *options;

  const Result<Shown> shown = read_frame(o);
  if (!shown) return fail(shown.error(), kEnding);

  if (!shown->maskWarning.empty()) say(shown->maskWarning);
  const Result<Views> views = std::visit(
      [&](const auto& pixels) { return render(o, pixels, shown->frame.columns, shown->frame.rows, shown->masked); },
      shown->frame.values);
  if (!views) return fail(views.error(), kEnding);
  if (Status s = write_images(views->images); !s) return fail(s.error(), kEnding);
  if (!shown->maskLine.empty()) say(shown->maskLine);

  std::string report = "Frame " + std::to_string(o.frame) + " of " + o.inFN + ": ";
  if (!o.rawFN.empty()) report += o.rawFN + " (16-bit), ";
  report += views->shown;
  if (o.log) report += ", log";
  if (o.bin > 1) report += ", " + std::to_string(o.bin) + " x " + std::to_string(o.bin) + " bins";
  say(report + ").");
  return 0;
}

int main(int argc, char** argv) { return run_guarded(run, argc, argv, kEnding); }
