// Files judged by their content before their name.  A detector frame file
// carries no signature of its own, but a compressed file does in its first
// bytes, and an HDF5 file in the first bytes of its superblock, which HDF5
// puts at byte 0, or behind a user block at byte 512, 1024, 2048, ...
// (doubling).  Every reader of frames asks here how to read what it was
// handed, so that a gzipped stack is never collapsed as pixels, nor an
// HDF5 file named .cxi or .ge3 read as a frame file.
#pragma once

#include <string>

#include "error.hpp"

namespace hedm {

enum class FileKind { Other, Hdf5, Gzip, Bzip2, Xz, Zstd };

// What the file at `path` is by its content: Other for anything without a
// signature known here (detector frame files included), for what is not a
// regular file (a FIFO, a pipe, a device) and for a file that cannot be
// read (its reader then says why).
FileKind file_kind(const std::string& path);

// How a file handed over as a frame file is read.
enum class FrameInput { FrameFile, Hdf5 };

// `arg` is "FILE" or "FILE::DATASET".  An HDF5 stack when FILE carries
// HDF5's signature, whatever its name; also when it carries none but its
// name says HDF5 (.h5, .hdf5, .nxs, .hdf, or a dataset named), so that the
// HDF5 reader says what is wrong with it.  Else a detector frame file.  A
// compressed FILE is refused with a Data error naming `which` ("The dark
// file"), the file and its format:
// "<which> FILE is compressed with gzip: decompress it first."
Result<FrameInput> frame_input_form(const std::string& which, const std::string& arg);

// Whether a frame written to `arg` goes in as HDF5: its name says so, or
// the file there is HDF5 already (whatever its name), so that it is never
// replaced by a detector frame file.
bool hdf5_output(const std::string& arg);

}  // namespace hedm
