// Reads a whole HDF5 stack through the reading layer and prints a sum of
// its pixels (so that no read can be left out): frame by frame, or in bands
// of BAND pixels across every frame at once, as a median reads a stack.
// Pixels are read at the stack's own width, or as 32-bit ones with "wide".
//   hdf5_read STACK [BAND] [wide]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "hdf5_stack.hpp"

int main(int argc, char** argv) {
  if (argc < 2) return std::fprintf(stderr, "usage: hdf5_read STACK [BAND]\n"), 2;
  auto s = hedm::Hdf5Stack::open(argv[1]);
  if (!s) return std::printf("%s\n", s.error().text.c_str()), 1;
  const hedm::StackInfo& in = s->info();
  const std::uint64_t band = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 0;
  std::uint64_t sum = 0;
  const bool wide = in.pixelBytes == 4 || (argc > 3 && std::string(argv[3]) == "wide");
  auto frames = [&](auto* frame, std::size_t n) {
    for (std::uint64_t f = 0; f < in.frames; ++f) {
      if (auto r = s->read_frame(f, frame); !r) return std::printf("%s\n", r.error().text.c_str()), false;
      for (std::size_t k = 0; k < n; ++k) sum += frame[k];
    }
    return true;
  };
  if (band == 0 && wide) {
    std::vector<std::uint32_t> frame(in.pixels());
    if (!frames(frame.data(), frame.size())) return 1;
  } else if (band == 0) {
    std::vector<std::uint16_t> frame(in.pixels());
    if (!frames(frame.data(), frame.size())) return 1;
  } else {
    std::vector<std::uint16_t> slices(in.frames * band);
    for (std::uint64_t p0 = 0; p0 < in.pixels(); p0 += band) {
      const std::uint64_t count = std::min(band, in.pixels() - p0);
      if (auto r = s->read(0, in.frames, p0, count, slices.data()); !r)
        return std::printf("%s\n", r.error().text.c_str()), 1;
      for (std::uint64_t i = 0; i < in.frames * count; ++i) sum += slices[i];
    }
  }
  std::printf("%llu\n", static_cast<unsigned long long>(sum));
  return 0;
}
