// Files judged by their content before their name.  A detector frame file
// carries no signature of its own, but a compressed file does in its first
// bytes, and an HDF5 file in the first bytes of its superblock, which HDF5
// puts at byte 0, or behind a user block at byte 512, 1024, 2048, ...
// (doubling).  The front door of stacks (stack.hpp) asks here how to read
// what it was handed, so that a gzipped stack is never collapsed as
// pixels, nor an HDF5 file named .cxi or .ge3 read as a frame file.
#pragma once

#include <string>

namespace hedm {

enum class FileKind { Other, Hdf5, Gzip, Bzip2, Xz, Zstd };

// What the file at `path` is by its content: Other for anything without a
// signature known here (detector frame files included), for what is not a
// regular file (a FIFO, a pipe, a device) and for a file that cannot be
// read (its reader then says why).
FileKind file_kind(const std::string& path);

}  // namespace hedm
