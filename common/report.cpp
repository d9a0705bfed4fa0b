#include "report.hpp"

#include <cstdarg>
#include <cstdio>
#include <new>

namespace hedm {

void say(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void sayf(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
}

int usage(const char* text, int status) {
  say(text);
  return status;
}

int run_guarded(int (*body)(int, char**), int argc, char** argv, int failStatus) {
  try {
    return body(argc, argv);
  } catch (const std::bad_alloc&) {
    say("Could not obtain the memory this run needs. Exiting.");
    return failStatus;
  }
}

}  // namespace hedm
