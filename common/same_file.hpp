// Refusing a run that would write over its own input: an output path that
// names the same file as an input (or as another output of the run), through
// a symbolic link, a hard link or another spelling of the path.
#pragma once

#include <string>
#include <vector>

#include "error.hpp"

namespace hedm {

// Ok when every output is a file of its own; otherwise an Output error of
// one sentence that names both paths of the first clash, such as
// "The output b.ge3 is the same file as the input a.ge3."
// Paths that do not lead anywhere (a missing input, an output in a missing
// folder) clash with nothing: opening them reports them.
Status same_file_clash(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs);

}  // namespace hedm
