// What the module's functions share: errors turned into exceptions, the
// progress callback, the names of argument types, and a median frame handed
// to Python.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "error.hpp"
#include "progress.hpp"
#include "stack.hpp"

namespace hedm_python {

namespace py = pybind11;

// An error of the library as the exception of its kind: a file that cannot
// be had an OSError, an input or argument that is not what it must be a
// ValueError, memory a MemoryError.  The message is the programs' own,
// without their closing words.
[[noreturn]] inline void raise(const hedm::Error& e) {
  switch (e.kind) {
    case hedm::ErrorKind::Memory:
      throw std::bad_alloc();
    case hedm::ErrorKind::Input:
    case hedm::ErrorKind::Output:
      PyErr_SetString(PyExc_OSError, e.text.c_str());
      throw py::error_already_set();
    case hedm::ErrorKind::Usage:
    case hedm::ErrorKind::Argument:
    case hedm::ErrorKind::Data:
      break;
  }
  throw py::value_error(e.text);
}

// A Python callable as a run's watcher, progress(done, total) in bytes:
// called with the GIL held, from whichever thread selected the band; an
// exception it raises (KeyboardInterrupt too) stops the run and is raised
// again once the run has ended.
class PyProgress {
 public:
  explicit PyProgress(py::object fn) : fn_(std::move(fn)) {
    if (!fn_.is_none() && !PyCallable_Check(fn_.ptr()))
      throw py::type_error("progress must be a callable progress(done, total), or None");
  }
  hedm::ProgressFn watcher() {
    if (fn_.is_none()) return {};
    return [this](std::uint64_t done, std::uint64_t total) -> hedm::Status {
      py::gil_scoped_acquire gil;
      done_ = done;
      total_ = total;
      try {
        fn_(done, total);
      } catch (py::error_already_set& e) {
        raised_ = std::make_unique<py::error_already_set>(std::move(e));
        return hedm::Error{hedm::ErrorKind::Argument, "progress raised an exception"};
      }
      return hedm::ok();
    };
  }
  // With the GIL held: the callback's exception, if it raised one.
  void rethrow() {
    if (raised_) {
      py::error_already_set e = std::move(*raised_);
      raised_.reset();
      throw e;
    }
  }
  // With the GIL held, once a run has ended well: its last call says all
  // is done (a 32-bit stack selected as 16-bit values counts fewer bytes
  // than it was given as its total).
  void finish() {
    if (!fn_.is_none() && total_ > 0 && done_ < total_) {
      done_ = total_;
      fn_(total_, total_);
    }
  }
  // With the GIL held: the callback's exception if it raised one, else the
  // error's own.
  [[noreturn]] void raise_for(const hedm::Error& e) {
    rethrow();
    raise(e);
  }

 private:
  py::object fn_;
  std::unique_ptr<py::error_already_set> raised_;
  std::uint64_t done_ = 0, total_ = 0;  // the last call's
};

// The name of an argument's type, never its value: "numpy.ndarray", "list".
inline std::string type_name(py::handle value) { return Py_TYPE(value.ptr())->tp_name; }

// A frame (a median) as a new 2-D array of its pixel type.
inline py::array to_array(const hedm::Frame& m) {
  const std::vector<std::size_t> shape = {static_cast<std::size_t>(m.rows), static_cast<std::size_t>(m.columns)};
  return std::visit(
      [&](const auto& v) -> py::array {
        py::array_t<typename std::decay_t<decltype(v)>::value_type> out(shape);
        std::copy(v.begin(), v.end(), out.mutable_data());
        return out;
      },
      m.values);
}

// The spill folder of stacks that must be decoded or handed in by Python:
// $TMPDIR, else /tmp.
std::string spill_folder();

// The median frame of an open stack, with the GIL released; `stage` is the
// watcher of this part of the run.
py::array median_of_stack(hedm::Stack& stack, PyProgress& progress, const hedm::ProgressFn& stage);

// The median frame of a 3-D uint16 or uint32 array in memory (hedm_reduction.cpp).
py::array median_frame(const py::array& stack);

// The module's functions over series of frames (frame_series.cpp).
py::array median_file(const std::string& path, const py::object& progressFn);
void add_series_functions(py::module_& m);

}  // namespace hedm_python
