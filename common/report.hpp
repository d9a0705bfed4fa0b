// Everything a program tells its user goes to standard output through these
// calls, flushed at once, so that a log holds every line even when the run
// ends early: a report line, a formatted report line, a failure with its
// exit status, a usage text with its exit status.
#pragma once

#include <string>

namespace hedm {

// One line (a newline is appended).
void say(const std::string& line);
// A line formatted as printf formats it (the format carries its newline),
// for the reports whose digits are C's ("%f", "%03d").
void sayf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// say(message), then the exit status of the failed run.
inline int fail(const std::string& message, int status = 1) {
  say(message);
  return status;
}
// The usage text (a newline is appended), then the status for a wrong
// command line.
int usage(const char* text, int status);

// Runs a program's body.  Memory that cannot be had anywhere inside it ends
// the run with a message and exit status failStatus, instead of an abort.
int run_guarded(int (*body)(int, char**), int argc, char** argv, int failStatus = 1);

}  // namespace hedm
