// Parameter files: text lines that start with a key (a word and one blank)
// followed by a value.  Lines that match no key are passed over, a value that
// cannot be read leaves its setting as it was, and a later line overrides an
// earlier one; a number written with a decimal comma stops the reading.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "error.hpp"

namespace hedm {

struct ParamKey {
  std::string_view key;  // the key word and its one blank, e.g. "GridSize "
  std::variant<int*, double*, std::string*> dest;
  bool required = true;  // false: the destination holds a value of its own
  bool set = false;      // some line gave a readable value
};

// Applies one line (at most 999 characters, as read into a 1000-byte line
// buffer) to the first key that stands at its first byte.  A number of that
// key followed at once by a comma and a digit (a decimal comma, "1,5",
// which would read as 1) sets nothing: that key is returned, else nullptr.
const ParamKey* apply_param_line(const char* line, std::span<ParamKey> keys);

// Reads the whole file named by path; an Input error naming the file and
// the reason when it cannot be opened or read, or naming the key and the
// line of a number written with a decimal comma.
Status read_param_file(const std::string& path, std::span<ParamKey> keys);

// The key words (without their blank) of the required keys that no line
// set, joined by ", "; empty when every required key was set.
std::string missing_keys(std::span<const ParamKey> keys);

}  // namespace hedm
