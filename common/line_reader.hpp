// Text inputs (parameter files, grain lists) read line by line in pieces of
// at most 999 characters, as a 1000-byte line buffer takes them: a longer
// line comes as several pieces, and continued() tells the pieces after the
// first apart, so that a reader can take them as the rest of their line
// (grain lists) or as lines of their own (parameter files).  Files that are
// not regular (a FIFO, a process substitution) read as well.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "error.hpp"

namespace hedm {

class LineReader {
 public:
  static constexpr std::size_t kPieceChars = 999;

  LineReader() = default;
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  ~LineReader();

  // Opens path, named in messages as `what` and path ("the grain list
  // g.txt"): an Input error "Could not open WHAT PATH: REASON." when it
  // cannot be, "Could not read WHAT PATH: Is a directory." for a folder
  // (it opens, but holds no lines).
  Status open(const std::string& path, const std::string& what);

  // The next piece: up to and including the next newline, at most
  // kPieceChars characters, followed by a zero byte (a zero byte inside the
  // line ends it early for C-string parsing, as with fgets).  False at the
  // end of the file, or when reading failed (status() then says why).
  bool next(const char** piece, std::size_t* length);

  // The line of the file the last piece came from, from 1, counted by the
  // newlines read: the number an editor shows.
  long long line() const { return line_; }
  // Whether the last piece continues the line of the piece before it (that
  // piece held kPieceChars characters and no newline).
  bool continued() const { return continued_; }
  // Ok, or the Input error "Could not read WHAT PATH: REASON." of a read
  // that failed.
  Status status() const;

 private:
  bool fill();

  std::string name_;  // WHAT PATH, for messages
  int fd_ = -1;
  std::unique_ptr<char[]> buf_;
  std::size_t pos_ = 0, len_ = 0;
  char piece_[kPieceChars + 1];
  long long line_ = 0, nextLine_ = 1;
  int error_ = 0;
  bool continued_ = false, midLine_ = false;
};

}  // namespace hedm
