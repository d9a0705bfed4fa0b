#include "report.hpp"

#include <cstdarg>
#include <cstdio>
#include <new>

#include "progress.hpp"

namespace hedm {

void say(const std::string& line) {
  clear_progress_line();
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void sayf(const char* format, ...) {
  std::va_list args;
  clear_progress_line();
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
}

int fail(const Error& e, const Ending& how) {
  if (e.kind == ErrorKind::Usage) {
    say(how.usage);
    return how.usageStatus;
  }
  say(*how.closing && !e.whole ? e.text + " " + how.closing : e.text);
  return how.failStatus;
}

int run_guarded(int (*body)(int, char**), int argc, char** argv, const Ending& how) {
  try {
    return body(argc, argv);
  } catch (const std::bad_alloc&) {
    return fail(memory_error("Could not obtain the memory this run needs."), how);
  }
}

}  // namespace hedm
