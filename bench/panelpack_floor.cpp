// What PanelPack cannot beat, and what it replaces, for the benchmark:
//   panelpack_floor io <stem> <first> <last>     read each <stem>NNNNN.raw into a
//       page-aligned buffer and write an 8,396,800-byte <stem>NNNNN.ge3 from one
//   panelpack_floor plain <stem> <first> <last>  the straightforward conversion:
//       fread into malloc'ed memory, a pass for the maximum and the negatives,
//       a pass for the scaling, fwrite
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "float_convert.hpp"
#include "frame_file.hpp"
#include "input_file.hpp"
#include "memory.hpp"
#include "output_file.hpp"
#include "test_support.hpp"

using namespace hedm;

int main(int argc, char** argv) {
  if (argc != 5) return 1;
  const bool plain = std::strcmp(argv[1], "plain") == 0;
  const std::string stem = argv[2];
  const int first = std::atoi(argv[3]), last = std::atoi(argv[4]);
  float* in = plain ? static_cast<float*>(std::malloc(kFloatImageBytes))
                    : static_cast<float*>(allocate_huge(kFloatImageBytes));
  auto* out = plain ? static_cast<pixelvalue*>(std::malloc(kFrameBytes))
                    : static_cast<pixelvalue*>(allocate_huge(kFrameBytes));
  static const unsigned char header[kHeaderBytes] = {};
  for (int i = first; i <= last; ++i) {
    char nr[16];
    std::snprintf(nr, sizeof nr, "%05d", i);
    std::FILE* f = std::fopen((stem + nr + ".raw").c_str(), "rb");
    std::FILE* o = std::fopen((stem + nr + ".ge3").c_str(), "wb");
    if (!f || !o) return 1;
    if (plain) {
      if (std::fread(in, 1, kFloatImageBytes, f) != kFloatImageBytes) return 1;
      convert_image_reference(in, kPixelsPerFrame, out);
      std::fwrite(header, 1, kHeaderBytes, o);
      std::fwrite(out, 1, kFrameBytes, o);
    } else {
      std::setvbuf(o, nullptr, _IONBF, 0);
      std::setvbuf(f, nullptr, _IONBF, 0);
      if (std::fread(in, 1, kFloatImageBytes, f) != kFloatImageBytes) return 1;
      std::fwrite(header, 1, kHeaderBytes, o);
      std::fwrite(out, 1, kFrameBytes, o);
    }
    std::fclose(f);
    if (std::fclose(o) != 0) return 1;
  }
  return 0;
}
