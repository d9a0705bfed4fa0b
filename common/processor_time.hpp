// The processor-time report of the programs that give one.
#pragma once

#include <cstdint>
#include <ctime>

namespace hedm {

// Processor time between two clock() readings, in seconds: the tick count
// converted to double and divided by 1,000,000, in that order (a division
// by CLOCKS_PER_SEC or a multiplication by 1e-6 can differ in the last
// printed digit).
inline double processor_seconds(std::clock_t start, std::clock_t end) {
  return static_cast<double>(static_cast<std::int64_t>(end - start)) / 1000000.0;
}

}  // namespace hedm
