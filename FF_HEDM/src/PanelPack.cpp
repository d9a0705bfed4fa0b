// PanelPack: converts the numbered float images <stem>NNNNN.<ext> into
// one-frame detector frame files <stem>NNNNN.ge3 beside them, each image
// scaled so that its brightest pixel becomes 14000.
//
// Exit status: 1 after every completed run that converted at least one
// image (scripts of long standing test for it) and when START is after END
// (nothing to convert); 2 for a wrong command line (the argument count, a
// number that is not one, padding, extension, step), for an output that
// could not be written or would have replaced a stack, and for a run in
// which not one image was converted.

#include <cstdio>
#include <string>
#include <tuple>

#include <sys/stat.h>

#include "command_line.hpp"
#include "float_convert.hpp"
#include "frame_file.hpp"
#include "input_file.hpp"
#include "memory.hpp"
#include "output_file.hpp"
#include "report.hpp"
#include "same_file.hpp"
#include "stack.hpp"

using namespace hedm;

namespace {

const char kHelp[] = R"(Usage: PanelPack STEM START END PADDING EXT SKIP
  STEM     path and name before the number, e.g. /data/run7/scan_
  START    first number
  END      last number
  PADDING  digits of the number in the names: 5, the only width written
  EXT      extension of the float images, without the dot (anything but ge3)
  SKIP     step from one number to the next, 1 or more
Converts STEM<NNNNN>.EXT (2048 x 2048 floats) into STEM<NNNNN>.ge3, the
brightest pixel scaled to 14000. A completed run ends with status 1; a wrong
command line, an output that could not be written, or a run that converted
no image at all ends with 2.
Example: PanelPack /data/run7/scan_ 1 100 5 raw 1
Manual: man PanelPack
)";

// A completed run ends with 1, the status that scripts of long standing test
// for; 2 is a wrong command line, a refused run or an output that could not
// be written, so that no mistake passes for a completed run.
constexpr int kCompleted = 1, kUsageStatus = 2, kFailed = 2;
const char kUsage[] =
    "Usage: ./PanelPack InFileStem StartNr EndNr Padding InExt skip(if files are not "
    "continuous).\nRight now works for padding 5 only.\nWill always save .ge3 files as output.";
// A refused run says so: nothing was converted.
const Ending kEnding{kUsage, kUsageStatus, kFailed, "Nothing done."};
constexpr std::size_t kSlicePixels = 1u << 19;  // 1 MiB of output at a time

std::string numbered_name(const std::string& stem, std::int64_t nr, const std::string& ext) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%05d", static_cast<int>(nr));
  return stem + digits + "." + ext;
}

bool exists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

// Writes the frame file for one image: the zero header, then the converted
// pixels, converted and written a slice at a time so that each slice is
// still in the cache when the kernel copies it out.
Status write_converted(const std::string& path, const float* image, float maxVal, pixelvalue* slice) {
  static const unsigned char skipContent[kHeaderBytes] = {};
  OutputFile out;
  Status s = out.create(path);
  if (s) s = out.write(skipContent, kHeaderBytes);
  for (std::size_t p = 0; s && p < kPixelsPerFrame; p += kSlicePixels) {
    convert_image(image + p, kSlicePixels, maxVal, slice);
    s = out.write(slice, kSlicePixels * sizeof(pixelvalue));
  }
  return s ? out.commit() : s;
}

// What became of one number of the series.
enum class Outcome {
  Converted,
  Passed,  // its image could not be read: said, and the run goes on as complete
  Failed,  // refused, or its frame file could not be written: the run fails
};

// A number that is not converted: its message, and the run goes on.
Outcome skip(Outcome o, const std::string& why) {
  say(why + " Continuing to the next file.");
  return o;
}

// Converts the image of one number, reporting what goes wrong.
Outcome convert_number(const std::string& FileName, const std::string& OutFileName, float* inimage,
                       pixelvalue* outimage) {
  const std::string notWritten = " No output written for it.";
  InputFile in;
  if (!in.open(FileName)) return skip(Outcome::Passed, "Could not read " + FileName + ".");
  if (Status s = same_file_clash({FileName}, {OutFileName}); !s)
    return skip(Outcome::Failed, s.error().text + notWritten);
  if (Status s = stack_in_the_way(StackName::parse(OutFileName)); !s)
    return skip(Outcome::Failed, s.error().text + notWritten);
  say("Read file " + FileName + ".");
  const Result<std::size_t> got = in.read_upto(inimage, kFloatImageBytes, 0);
  if (!got) return skip(Outcome::Passed, got.error().text + notWritten);
  if (*got < kFloatImageBytes)
    return skip(Outcome::Passed, "Could not read " + FileName + " in full: it holds " + std::to_string(*got) + " of " +
                                     std::to_string(kFloatImageBytes) + " bytes." + notWritten);
  std::size_t nInfinite = 0;
  const float maxVal = image_maximum(inimage, kPixelsPerFrame, &nInfinite);
  // An infinite pixel leaves no scale: +inf as the maximum would turn every
  // other pixel to 0, a blank frame that passes for an image.
  if (nInfinite > 0)
    return skip(Outcome::Failed, FileName + " holds " + std::to_string(nInfinite) +
                                     (nInfinite == 1 ? " infinite pixel" : " infinite pixels") +
                                     ": an image with infinite values cannot be scaled." + notWritten);
  if (in.size() > kFloatImageBytes)
    say("Warning: " + FileName + " is larger than one image (" + std::to_string(kFloatImageBytes) +
        " bytes): its last " + std::to_string(in.size() - kFloatImageBytes) + " bytes are passed over.");
  if (Status s = write_converted(OutFileName, inimage, maxVal, outimage); !s) return skip(Outcome::Failed, s.error().text);
  return Outcome::Converted;
}

// The numbers of the command line, read whole and checked.
struct Numbers {
  std::int32_t startNr = 0, endNr = 0, Padding = 0, skip = 0;
};

Result<Numbers> read_numbers(char** argv) {
  Numbers n;
  const std::tuple<int, const char*, std::int32_t*> wanted[] = {
      {2, "StartNr", &n.startNr}, {3, "EndNr", &n.endNr}, {4, "Padding", &n.Padding}, {6, "skip", &n.skip}};
  for (auto [i, name, dest] : wanted) {
    const Result<std::int32_t> v = read_whole_number(argv[i], name);
    if (!v) return v.error();
    *dest = *v;
  }
  if (n.Padding != 5)
    return argument_error("Padding " + std::to_string(n.Padding) +
                          " is not 5: the numbers in the file names are always five digits.");
  return n;
}

}  // namespace

int run(int argc, char** argv) {
  if (const int s = answer_help_or_version(argc, argv, "PanelPack", kHelp); s >= 0) return s;
  if (argc != 7) return fail(usage_error(), kEnding);
  const std::string inFStem = argv[1], inExt = argv[5];
  const Result<Numbers> numbers = read_numbers(argv);
  if (!numbers) return fail(numbers.error(), kEnding);
  const auto [startNr, endNr, Padding, skip] = *numbers;
  if (startNr > endNr) {
    say("StartNr " + std::to_string(startNr) + " is after EndNr " + std::to_string(endNr) + ": nothing to convert.");
    return kCompleted;
  }
  if (inExt == "ge3")
    return fail(argument_error("The input extension ge3 is the output extension: every input would be overwritten "
                               "by its own output."),
                kEnding);
  if (skip <= 0)
    return fail(
        argument_error("skip must be 1 or more, not " + std::to_string(skip) + ": the numbers would never pass EndNr."),
        kEnding);

  AlignedPtr<float> inimage = allocate_huge_array<float>(kPixelsPerFrame);
  AlignedPtr<pixelvalue> outimage = allocate_array<pixelvalue>(kSlicePixels);
  if (!inimage || !outimage) return fail(out_of_memory(kFloatImageBytes + kSlicePixels * sizeof(pixelvalue)), kEnding);

  int status = kCompleted;
  std::int64_t converted = 0;
  // A 64-bit counter: stepping past the largest 32-bit number ends the run.
  for (std::int64_t i = startNr; i <= endNr; i += skip) {
    const Outcome o = convert_number(numbered_name(inFStem, i, inExt), numbered_name(inFStem, i, "ge3"),
                                     inimage.get(), outimage.get());
    if (o == Outcome::Failed) status = kFailed;
    if (o == Outcome::Converted) ++converted;
  }
  if (converted == 0) {
    say("No image was converted.");
    // The commonest cause: the stem given without the underscore before
    // the number.
    const std::string underscored = numbered_name(inFStem + "_", startNr, inExt);
    if (!inFStem.empty() && inFStem.back() != '_' && exists(underscored))
      say(underscored + " exists: the stem goes up to the number, underscore included (" + inFStem + "_).");
    return kFailed;
  }
  return status;
}

int main(int argc, char** argv) { return run_guarded(run, argc, argv, kEnding); }
