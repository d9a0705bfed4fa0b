// The formats a stack is read from, each opened by the front door
// (open_stack) alone: a new format is one more opener here.
#pragma once

#include <memory>

#include "stack.hpp"

namespace hedm {

// A detector frame file: 2048 x 2048 16-bit frames behind an 8192-byte
// header, their count by the file's size.  Refused with `role` as
// open_stack says when it cannot be opened or holds no whole frame.
Result<std::unique_ptr<Stack>> open_frame_file_stack(const StackName& name, const StackRole& role);

// An HDF5 dataset or series (hdf5_stack.hpp); refused with the HDF5
// reader's reason, or as holding no frame.
Result<std::unique_ptr<Stack>> open_hdf5_stack(const StackName& name, const StackRole& role);

}  // namespace hedm
