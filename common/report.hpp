// Everything a program tells its user goes to standard output through these
// calls, flushed at once, so that a log holds every line even when the run
// ends early: a report line, a formatted report line, and a failed run's
// message with its exit status.
#pragma once

#include <string>

#include "error.hpp"

namespace hedm {

// One line (a newline is appended).
void say(const std::string& line);
// A line formatted as printf formats it (the format carries its newline),
// for the reports whose digits are C's ("%f", "%03d").
void sayf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// How a program ends a failed run: for a command line of the wrong shape its
// usage text, as it stands; for every other failure the error's text and
// the program's closing words.  And the exit status of each.
struct Ending {
  const char* usage;
  int usageStatus;
  int failStatus;
  const char* closing = "Exiting.";  // "" for none
};

// The one place where a failure becomes the line the user reads: prints it
// and returns the run's exit status.
int fail(const Error& e, const Ending& how);

// Runs a program's body.  Memory that cannot be had anywhere inside it ends
// the run as a failure of that kind, instead of an abort.
int run_guarded(int (*body)(int, char**), int argc, char** argv, const Ending& how);

}  // namespace hedm
