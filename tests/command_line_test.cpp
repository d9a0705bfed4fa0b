// Numbers on the command line, read as atoi reads them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "command_line.hpp"
#include "frame_file.hpp"
#include "processor_time.hpp"
#include "text_format.hpp"

TEST(Atoi32, ReadsNumbersAsAtoiDoes) {
  const char* cases[] = {"42",  "  -7",  "+5x", "abc", "",       "12.9",      "2147483647",
                         "-2147483648", "2147483648", "99999999999", "-99999999999999999999",
                         "\t\n 3", "0x10", "- 4"};
  for (const char* s : cases) EXPECT_EQ(hedm::atoi32(s), std::atoi(s)) << '"' << s << '"';
}
