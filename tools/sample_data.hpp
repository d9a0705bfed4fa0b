// Sample inputs for the demo and the benchmarks: detector frame stacks,
// float images with spots, grain lists and reconstruction result files.
// Each writer returns the error that stopped it.
#pragma once

#include <string>

#include "hdf5_stack_writer.hpp"

namespace sample {

using hedm::Status;

// A dark-like stack: per-pixel levels of about 100 to 2000 with noise and a
// few hot pixels at 65535 in every frame.  The header is zeros, as PanelPack
// writes it, or a byte pattern.
Status write_dark_stack(const std::string& path, int nFrames, unsigned seed, bool patternedHeader);

// A dark-like stack of any frame shape and pixel width as the HDF5 dataset
// /entry/data/data: the same levels and noise (32-bit levels 40 times
// higher, past the 16-bit range), hot pixels at the width's largest value.
Status write_hdf5_dark_stack(const std::string& path, const hedm::StackShape& shape, unsigned seed);

// A data-like stack: the dark-like background with diffraction spots that
// light up for a few frames each, drifting as the sample rotates.
Status write_scan_stack(const std::string& path, int nFrames, unsigned seed, bool patternedHeader);

// Float images <stem>NNNNN.<ext> for numbers first..last: Gaussian spots on a
// noisy background.  Image number `clipped` (if in range) has spots whose
// tops are cut flat at the image's maximum, as on an overexposed detector.
Status write_float_images(const std::string& stem, int first, int last, const std::string& ext,
                        int clipped);

// A binary result file of `rows` rows of 11 doubles and <path>.AllMatches of
// rows of 4 * nSaves + 7 doubles.
Status write_result_files(const std::string& path, long rows, int nSaves);

// A grain list of `lines` grains with random orientations, after a comment line.
Status write_grain_list(const std::string& path, long lines);

}  // namespace sample
