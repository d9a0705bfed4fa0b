#include "command_line.hpp"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "report.hpp"

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

const char* version() { return HEDM_VERSION; }

int answer_help_or_version(int argc, char** argv, const char* program, const char* help) {
  if (argc != 2) return -1;
  if (std::strcmp(argv[1], "--help") == 0) {
    sayf("%s", help);
    return 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    sayf("%s (HEDM reduction) %s\n", program, version());
    return 0;
  }
  return -1;
}

}  // namespace hedm
