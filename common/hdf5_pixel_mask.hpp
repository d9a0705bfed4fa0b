// The detector's own map of the pixels it cannot use, as Eiger and NeXus
// files keep it beside the frames: a (rows, columns) dataset named
// pixel_mask, nonzero where a pixel is masked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hedm {

struct PixelMask {
  std::string dataset;               // where it was found; empty when the file has none
  std::vector<std::uint8_t> masked;  // rows x columns, 1 where masked; empty when none is used
  std::string warning;               // why a mask that was found is not used, else empty
};

// The pixel_mask of the stack `dataset` of the HDF5 file `file`, for frames
// of rows x columns.  Looked for in the stack's entry (the first group of
// its path, /entry as a rule), under instrument/DETECTOR/pixel_mask, then
// instrument/DETECTOR/detectorSpecific/pixel_mask (Eiger's), for each
// group DETECTOR of the instrument in name order; the first found is the
// mask.  One that is not integers of the frame's shape, or cannot be read,
// is not used, and `warning` says why.  A build without HDF5 finds none.
PixelMask read_pixel_mask(const std::string& file, const std::string& dataset, std::uint64_t rows,
                          std::uint64_t columns);

}  // namespace hedm
