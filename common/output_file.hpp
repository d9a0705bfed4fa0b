// Output files that replace their destination whole or not at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "error.hpp"

namespace hedm {

// An output file that replaces its destination whole or not at all.  The
// bytes go to a temporary file in the destination's own folder (an unnamed
// O_TMPFILE where the file system offers it, else a hidden ".NAME.XXXXXX"),
// and only commit() puts the finished file under the final name, with one
// rename.  A reader of the final name therefore sees the earlier file or the
// complete new one, never a part, whenever and however the process ends; a
// failed run leaves the earlier file as it was.
//
// A destination that is not a regular file (/dev/null, a FIFO, a terminal),
// or that is named through /dev or /proc (/dev/stdout redirected to a file),
// is written in place.  A symbolic link stays: the file it points to is
// replaced.  A replaced file keeps its permission bits; a new one gets
// 0666 less the umask, as creating it directly would.
class OutputFile {
 public:
  // How the temporary is made: Unnamed falls back to Named by itself where
  // the file system refuses unnamed files; Named is there for the tests.
  enum class Temporary { Unnamed, Named };

  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() { discard(); }

  // Output errors: "Could not create <path>: <reason>."
  Status create(const std::string& path, Temporary how = Temporary::Unnamed);
  // "Could not write <path>: <reason>.", and the temporary is dropped.
  Status write(const void* data, std::size_t n);
  // Closes the file and puts it under its final name; an error (the
  // temporary dropped, the destination untouched) when that fails.
  Status commit();
  // Drops what was written; the destination stays as it was.
  void discard();

 private:
  enum class Kind { InPlace, Unnamed, Named };
  Error fail_write(int e);

  int fd_ = -1;
  Kind kind_ = Kind::InPlace;
  std::string path_;    // as the caller named it, for messages
  std::string target_;  // the file that is replaced: path_ with its links followed
  std::string temp_;    // the named temporary, while there is one
};

// An existing file changed through a copy of it, for a library that changes
// files by name (HDF5 adds a dataset to a file in place): the copy is made
// beside the file, as a hidden ".NAME.XXXXXX" with the file's owner and
// permission bits; the caller changes it through copy(); commit() syncs it
// to the disk and puts it over the file with one rename.  A run that fails,
// fills the disk or is killed leaves the file as it was (a killed run, at
// most the hidden copy beside it).  A symbolic link stays: the file it
// points to is replaced.
class FileCopy {
 public:
  FileCopy() = default;
  FileCopy(const FileCopy&) = delete;
  FileCopy& operator=(const FileCopy&) = delete;
  ~FileCopy() { discard(); }

  // Copies path: "Could not create <path>: <reason>." when the copy cannot
  // be made, "Could not write <path>: <reason>." when it cannot be filled.
  Status create(const std::string& path);
  // The copy's name, to be changed.
  const std::string& copy() const { return temp_; }
  // Takes the disk space for `bytes` more behind the copy's end, so that
  // what the caller adds cannot find the disk full: "Could not write
  // <path>: <reason>." (the copy dropped) where the space cannot be had.
  // A library that writes the copy by name sees a longer file; HDF5 cuts
  // it back to its own end when it closes the file.
  Status reserve(std::uint64_t bytes);
  // "Could not write <path>: <reason>." (the copy dropped) when the copy
  // cannot be synced or put in place.
  Status commit();
  // Drops the copy; the file stays as it was.
  void discard();

 private:
  int fd_ = -1;
  std::string path_, target_, temp_;
};

// A fresh name "<folder>/.<name>.XXXXXX" beside target: hidden, and on
// target's file system, so that the final rename stays within it.  For
// writers that must name their temporary file (HDF5 creates files by name).
std::string hidden_temporary_name(const std::string& target);

// The file a path stands for, with symbolic links followed as far as they
// go (up to 40 of them); a link that points at nothing yields the path it
// points at.  A relative link is taken relative to the link's own folder.
std::string resolve_links(const std::string& path);

// The folder a path names its file in: "." for a bare name.
std::string folder_of(const std::string& path);

}  // namespace hedm
