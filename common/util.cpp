#include "util.hpp"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <new>

namespace hedm {

std::int32_t atoi32(const char* s) {
  while (std::isspace(static_cast<unsigned char>(*s))) ++s;
  bool negative = false;
  if (*s == '+' || *s == '-') negative = (*s++ == '-');
  // Accumulate like strtol into a saturating 64-bit magnitude.
  std::uint64_t mag = 0;
  bool saturated = false;
  for (; *s >= '0' && *s <= '9'; ++s) {
    unsigned d = static_cast<unsigned>(*s - '0');
    if (mag > (UINT64_MAX - d) / 10) saturated = true;
    if (!saturated) mag = mag * 10 + d;
  }
  std::uint64_t bits;  // two's complement of the strtol result
  if (negative) {
    if (saturated || mag > (std::uint64_t{1} << 63)) mag = std::uint64_t{1} << 63;  // LONG_MIN
    bits = ~mag + 1;
  } else {
    if (saturated || mag > static_cast<std::uint64_t>(INT64_MAX)) mag = INT64_MAX;  // LONG_MAX
    bits = mag;
  }
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
}

int run_guarded(int (*body)(int, char**), int argc, char** argv, int failStatus) {
  try {
    return body(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("Could not obtain the memory this run needs. Exiting.\n", stdout);
    std::fflush(stdout);
    return failStatus;
  }
}

double processor_seconds(std::clock_t start, std::clock_t end) {
  return static_cast<double>(static_cast<std::int64_t>(end - start)) / 1000000.0;
}

}  // namespace hedm
