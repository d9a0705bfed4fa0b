// The frames of a Python series one at a time, each a native C-contiguous
// 2-D array of the first frame's shape and type: what median() spills and
// saturated_counts() counts.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <optional>
#include <string>

namespace hedm_python {

namespace py = pybind11;

// The frames of a series one after another, each checked against the first:
// by index where the series has a length (a 3-D array, an h5py dataset, a
// sequence), else by iterating it (a generator, a fabio series' frames()).
// A 2-D array (or dataset) is a series of one frame.
class FrameWalker {
 public:
  // `what` names the argument in messages: "frames", "dark".
  FrameWalker(py::handle frames, const std::string& what);
  std::optional<std::size_t> length() const { return length_; }
  std::size_t count() const { return next_; }
  // The next frame, native and C-contiguous, of the first frame's shape and
  // type; nullopt after the last.
  std::optional<py::array> next();
  // The frame last handed as the series gave it (a view into a memmap, say).
  const py::array& source() const { return source_; }

 private:
  void check(const py::array& frame);

  py::object series_, iterator_;
  std::optional<std::size_t> length_;
  std::size_t next_ = 0;
  std::string first_;
  py::array source_;
};

// Whether an array's pixels are 16- or 32-bit unsigned, of either byte order.
bool pixel_type(const py::array& a);

// The numpy memmap whose file `a`'s memory is mapped from (a memmap, or a
// view of one), or None.
py::object memmap_base(py::handle a);

// Frames read from a file mapped into memory (a numpy memmap shared with its
// file) leave the pages they were read from resident; they are handed back
// once the frame is taken, so that a memmap of any length is read in the
// memory of one frame.  Pages of a private mapping (mode "c"), which may
// hold the caller's changes, are kept.
void release_mapped_pages(const py::array& frame);

}  // namespace hedm_python
