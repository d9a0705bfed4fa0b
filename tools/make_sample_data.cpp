// Writes sample inputs for the demo and the benchmarks:
//   make_sample_data stack <out.ge3> <nFrames> [seed]
//   make_sample_data scan <out.ge3> <nFrames> [seed]
//   make_sample_data floats <stem> <first> <last> [ext] [clipped number]
//   make_sample_data results <path> <rows> [nSaves]
//   make_sample_data grains <path> <lines>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sample_data.hpp"

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  std::string err;
  bool ok = false;
  if (what == "stack" && argc >= 4)
    ok = sample::write_dark_stack(argv[2], std::atoi(argv[3]),
                                  argc > 4 ? static_cast<unsigned>(std::atoi(argv[4])) : 1, &err);
  else if (what == "scan" && argc >= 4)
    ok = sample::write_scan_stack(argv[2], std::atoi(argv[3]),
                                  argc > 4 ? static_cast<unsigned>(std::atoi(argv[4])) : 1, &err);
  else if (what == "floats" && argc >= 5)
    ok = sample::write_float_images(argv[2], std::atoi(argv[3]), std::atoi(argv[4]),
                                    argc > 5 ? argv[5] : "raw", argc > 6 ? std::atoi(argv[6]) : -1, &err);
  else if (what == "results" && argc >= 4)
    ok = sample::write_result_files(argv[2], std::atol(argv[3]), argc > 4 ? std::atoi(argv[4]) : 1, &err);
  else if (what == "grains" && argc >= 4)
    ok = sample::write_grain_list(argv[2], std::atol(argv[3]), &err);
  else {
    std::puts(
        "usage: make_sample_data stack <out.ge3> <nFrames> [seed]\n"
        "       make_sample_data scan <out.ge3> <nFrames> [seed]\n"
        "       make_sample_data floats <stem> <first> <last> [ext] [clipped number]\n"
        "       make_sample_data results <path> <rows> [nSaves]\n"
        "       make_sample_data grains <path> <lines>");
    return 1;
  }
  if (!ok) std::puts(err.c_str());
  return ok ? 0 : 1;
}
