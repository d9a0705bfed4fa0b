// Small helpers the programs share: numbers read from the command line and
// the processor-clock timing report.
#pragma once

#include <cstdint>
#include <ctime>

namespace hedm {

// Reads a number the way atoi does: leading white space, an optional sign,
// decimal digits up to the first other character, 0 when there are none.
// Values beyond 32 bits wrap as the C library's atoi does here (its result is
// the 64-bit strtol value cut to 32 bits), without undefined behaviour.
std::int32_t atoi32(const char* s);

// Runs a program's body.  Memory that cannot be had anywhere inside it ends
// the run with a message on standard output and exit status failStatus,
// instead of an abort.
int run_guarded(int (*body)(int, char**), int argc, char** argv, int failStatus = 1);

// Processor time between two clock() readings, in seconds.
double processor_seconds(std::clock_t start, std::clock_t end);

}  // namespace hedm
