// Saturated pixels: those whose value, widened without sign, is at least the
// saturation intensity.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame_file.hpp"

namespace hedm {

std::uint64_t count_saturated(const pixelvalue* pixels, std::size_t n, std::int32_t satInt);
// The same for 32-bit pixels (photon-counting detectors), compared as they are.
std::uint64_t count_saturated(const std::uint32_t* pixels, std::size_t n, std::int32_t satInt);

}  // namespace hedm
