// The command line: numbers read whole, and the options every program
// answers, --help and --version, taken only when the option is the
// program's single argument, so that every other command line (a file that
// happens to be called --help, given with others) is handled exactly as it
// always was.
#pragma once

#include <cstdint>
#include <string>

#include "error.hpp"

namespace hedm {

// Reads a whole number given on the command line.  Apart from white space
// around it, the text must be an optional sign and decimal digits, or a
// decimal spelling with a point or an exponent whose value is exactly a
// whole number ("14000.0", "1.4e4"), within the signed 32-bit range.
// Anything else ("14k", "1x", "", "0x10", "nan", "1.5") is refused: a
// slip of the keyboard must not become another number.  The refusal is an
// Argument error naming the argument `what` and quoting the text.
Result<std::int32_t> read_whole_number(const char* text, const char* what);

// Reads a decimal number that may have a fraction (a percentile): the same
// spelling as above, any finite value.  Hexadecimal, "inf", "nan" and text
// after the number are refused, as above.
Result<double> read_decimal_number(const char* text, const char* what);

// The suite's version, as the build was told it.
const char* version();

// With argv[1] "--help": prints `help` (a usage line per argument, an
// example, the manual page) and returns 0.  With argv[1] "--version":
// prints "<program> (HEDM reduction) <version>" and returns 0.  Otherwise
// returns -1 and prints nothing.
int answer_help_or_version(int argc, char** argv, const char* program, const char* help);

}  // namespace hedm
