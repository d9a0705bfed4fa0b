// A stack of frames, whatever holds it: a detector frame file, an HDF5
// dataset (three-dimensional, or two-dimensional as a stack of one frame),
// or an HDF5 series (a detector's master file whose data group links to its
// data files, data_000001, data_000002, ...).
//
// A stack is named once, at the front door (open_stack), as "FILE" or
// "FILE::DATASET"; what FILE is, is told by its content.  Once open, it
// knows its frame count, its frame shape and its pixel width (16 or 32
// bits), and reads frames, or slices of frames, into memory; every reader
// of frames (ClipCount, FramePreview, StackCollapse, the Python module)
// asks it, never the file name.  Each format is an implementation of Stack;
// a new one is added to open_stack and to nothing else.
//
// Frame f's pixel k (flat position k = row * columns + column) is the same
// detector pixel in every frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "error.hpp"

namespace hedm {

class InputFile;

// "scan.h5::/entry/data/data" as its file and its dataset: the dataset
// empty when none is named, given a leading "/" when it has none.
struct StackName {
  std::string given;    // as given
  std::string file;
  std::string dataset;
  bool separated = false;  // "::" was given, with or without a dataset after it
  static StackName parse(const std::string& arg);
};

// One frame of either pixel width, row by row: the frame of a stack, or
// the median of one.
struct Frame {
  std::uint64_t rows = 0, columns = 0;
  std::variant<std::vector<std::uint16_t>, std::vector<std::uint32_t>> values;

  Frame() = default;
  // rows x columns pixels of pixelBytes (2 or 4) bytes, all 0.
  Frame(std::uint64_t rows, std::uint64_t columns, unsigned pixelBytes);
  unsigned pixel_bytes() const { return values.index() == 0 ? 2 : 4; }
  std::uint64_t pixels() const { return rows * columns; }
  const std::vector<std::uint16_t>* narrow() const { return std::get_if<0>(&values); }
  const std::vector<std::uint32_t>* wide() const { return std::get_if<1>(&values); }
};

// Frames lying in a file as little-endian pixels (a detector frame file, an
// uncompressed HDF5 dataset, or a decoded stack's spill file): what the
// median reads in bands with pread.  Frames lie one after another from
// byte `first` on, or each where `starts` says (an HDF5 dataset's chunks
// lie wherever the library put them); pixelBytes 2 for 16-bit pixels, 4
// for 32-bit ones.
struct FramesInFile {
  FramesInFile(std::uint64_t first_, std::uint64_t nFrames_, std::size_t pixels_, unsigned pixelBytes_ = 2,
               std::vector<std::uint64_t> starts_ = {})
      : first(first_), nFrames(nFrames_), pixels(pixels_), pixelBytes(pixelBytes_), starts(std::move(starts_)) {}
  std::uint64_t first;
  std::uint64_t nFrames;
  std::size_t pixels;
  unsigned pixelBytes = 2;
  std::vector<std::uint64_t> starts;  // frame f's first byte; empty: one after another from `first`
  // The byte of frame f's pixel p.
  std::uint64_t offset(std::uint64_t f, std::uint64_t p) const {
    return (starts.empty() ? first + f * pixels * pixelBytes : starts[f]) + p * pixelBytes;
  }
};
struct RawFrames {
  InputFile* in;
  FramesInFile frames;
};

class Stack {
 public:
  virtual ~Stack() = default;

  // The file that holds the stack (a series: its master file) and the
  // dataset within it ("" for a frame file; a series: its data group).
  virtual const std::string& file() const = 0;
  virtual const std::string& dataset() const = 0;
  virtual std::uint64_t frames() const = 0;
  virtual std::uint64_t rows() const = 0;
  virtual std::uint64_t columns() const = 0;
  virtual unsigned pixel_bytes() const = 0;  // 2 or 4
  std::uint64_t pixels() const { return rows() * columns(); }
  // Every file the frames are read from: the stack's own, and a series'
  // data files.
  virtual std::vector<std::string> files() const { return {file()}; }

  // Reads frames f0 .. f0 + n - 1, flat pixel positions p0 .. p0 + count - 1
  // of each, into dst: frame f0 + i's pixels at dst + i * stride (stride 0:
  // count).  A 16-bit stack reads into either width; a 32-bit one into
  // 32-bit values only.  An Argument error for a window outside the stack,
  // an Input error naming the file for one that cannot be read.
  virtual Status read(std::uint64_t f0, std::uint64_t n, std::uint64_t p0, std::uint64_t count, std::uint16_t* dst,
                      std::uint64_t stride = 0) = 0;
  virtual Status read(std::uint64_t f0, std::uint64_t n, std::uint64_t p0, std::uint64_t count, std::uint32_t* dst,
                      std::uint64_t stride = 0) = 0;
  // Frame f whole: pixels() values.
  Status read_frame(std::uint64_t f, std::uint16_t* dst) { return read(f, 1, 0, pixels(), dst); }
  Status read_frame(std::uint64_t f, std::uint32_t* dst) { return read(f, 1, 0, pixels(), dst); }
  // Frame f into `frame`, made of the stack's shape and width.
  Status read_frame(std::uint64_t f, Frame& frame);

  // Where the frames lie in a file as they are (a frame file), for the
  // median to read in bands; nullptr where they must be decoded first.
  virtual const RawFrames* raw_frames() const { return nullptr; }
  // Whether read() may be called from several threads at once, and how
  // many frames it reads best at a time (those that one stored piece holds).
  virtual bool reads_in_parallel() const { return false; }
  virtual std::uint64_t frames_per_read() const { return 1; }
  // Whether read() of a band of pixels costs about the band's share of the
  // frames (compressed in small blocks, each decoded alone), so that the
  // median reads bands from the stack on every thread, with no spill file;
  // reads_in_parallel() too where it does.
  virtual bool reads_bands() const { return false; }
  // The 8192 bytes that a frame file written from this stack starts with:
  // a frame file's own header, zeros for a stack that has none.
  virtual Status read_header(unsigned char* dst);
  // Whole pixels after the last whole frame (a frame file cut short), and
  // their values; formats of whole frames only have none.
  virtual std::uint64_t tail_pixels() const { return 0; }
  virtual Status read_tail(std::uint16_t*) { return ok(); }
  // What a reader tells the user of the stack it reads ("Warning: ... ends
  // in a partial frame ..."), or empty.
  virtual std::string warning() const { return ""; }
};

// Opens the stack named by `arg`.  `which` names it in the refusals that
// are the caller's ("The dark file"):
// - a file that cannot be opened: "Could not open FILE: <reason>.", or the
//   caller's `unopenable` text when one is given (a whole line);
// - a compressed file: "<which> FILE is compressed with gzip: decompress
//   it first." (bzip2, xz, zstd);
// - a stack of no whole frame: "<which> FILE holds no whole frame (N
//   bytes; one frame needs 8396800)." for a frame file, "<which> ARG holds
//   no frame (dataset D)." for HDF5.
// An HDF5 file is read as HDF5 whatever its name; a file that does not
// carry HDF5's signature is read as a frame file unless its name says HDF5
// (.h5, .hdf5, .nxs, .hdf) or names a dataset, and then refused by the
// HDF5 reader with its reason.
struct StackRole {
  std::string which;
  std::string unopenable;
};
Result<std::unique_ptr<Stack>> open_stack(const std::string& arg, const StackRole& role);

// Whether a frame written to `name` goes in as HDF5: the name says so (or
// names a dataset), or the file there is HDF5 already, whatever its name,
// so that an HDF5 file is never replaced by a detector frame file.
bool writes_hdf5(const StackName& name);

// A one-frame output never replaces a stack of more than one frame: a
// swapped pair of arguments would otherwise turn a dark stack, which cannot
// be taken again, into its median.  Ok when `name` is free of one (no
// file, a stack of one frame, a file that is no stack), else the Output
// error "NAME holds N frames: it is a stack, and a one-frame output must not
// replace it." (NAME as given).  A file without HDF5's signature counts its
// whole frames as a frame file does, compressed or not.
Status stack_in_the_way(const StackName& name);

}  // namespace hedm
