// The front door every program shares: --help and --version, answered only
// when the option is the program's single argument, so that every other
// command line (a file that happens to be called --help given with others
// included) is handled exactly as it always was.
#pragma once

namespace hedm {

// The suite's version, as the build was told it.
const char* version();

// With argv[1] "--help": prints `help` (a usage line per argument, an
// example, the manual page) and returns 0.  With argv[1] "--version":
// prints "<program> <version>" and returns 0.  Otherwise returns -1 and
// prints nothing.
int answer_help_or_version(int argc, char** argv, const char* program, const char* help);

}  // namespace hedm
