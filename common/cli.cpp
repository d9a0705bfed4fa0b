#include "cli.hpp"

#include <cstdio>
#include <cstring>

namespace hedm {

const char* version() { return HEDM_VERSION; }

int answer_help_or_version(int argc, char** argv, const char* program, const char* help) {
  if (argc != 2) return -1;
  if (std::strcmp(argv[1], "--help") == 0) {
    std::fputs(help, stdout);
    return 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("%s (HEDM reduction) %s\n", program, version());
    return 0;
  }
  return -1;
}

}  // namespace hedm
