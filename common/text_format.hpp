// Numbers as text with exactly the digits of the C library's "%f" and "%d".
#pragma once

namespace hedm {

// Largest text format_fixed6 writes: 309 integer digits of the largest double,
// a sign, the point and six decimals.
inline constexpr int kMaxFixed6Chars = 320;

// Writes v as "%f" does (fixed point, six decimals, "-0.000000", "inf",
// "-inf", "nan", "-nan") at p; returns the end.  No terminating zero.
char* format_fixed6(char* p, double v);
char* format_int(char* p, long long v);

}  // namespace hedm
