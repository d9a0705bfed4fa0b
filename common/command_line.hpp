// The command line: numbers read as atoi reads them, and the options every
// program answers, --help and --version, taken only when the option is the
// program's single argument, so that every other command line (a file that
// happens to be called --help, given with others) is handled exactly as it
// always was.
#pragma once

#include <cstdint>

namespace hedm {

// Reads a number the way atoi does: leading white space, an optional sign,
// decimal digits up to the first other character, 0 when there are none.
// Values beyond 32 bits wrap as the C library's atoi does here (its result is
// the 64-bit strtol value cut to 32 bits), without undefined behaviour.
std::int32_t atoi32(const char* s);

// The suite's version, as the build was told it.
const char* version();

// With argv[1] "--help": prints `help` (a usage line per argument, an
// example, the manual page) and returns 0.  With argv[1] "--version":
// prints "<program> (HEDM reduction) <version>" and returns 0.  Otherwise
// returns -1 and prints nothing.
int answer_help_or_version(int argc, char** argv, const char* program, const char* help);

}  // namespace hedm
