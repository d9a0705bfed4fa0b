#include "frame_walker.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "py_support.hpp"

namespace hedm_python {

namespace {

// Frame i's shape and type in messages: "100 x 120 uint16", or "a
// 3-dimensional array of uint16".
std::string describe(const py::array& a) {
  const std::string type = py::str(a.dtype());
  if (a.ndim() == 2) return std::to_string(a.shape(0)) + " x " + std::to_string(a.shape(1)) + " " + type;
  return "a " + std::to_string(a.ndim()) + "-dimensional array of " + type;
}

// A series item as its 2-D array: an array itself, a fabio image's or
// frame's `data`, or anything numpy takes as an array.
py::array frame_array(py::handle item, std::size_t index) {
  if (py::isinstance<py::array>(item)) return py::reinterpret_borrow<py::array>(item);
  if (py::hasattr(item, "data")) {
    py::object data = item.attr("data");
    if (py::isinstance<py::array>(data)) return data;
  }
  if (py::hasattr(item, "__array__")) return py::module_::import("numpy").attr("asarray")(item);
  throw py::type_error("frame " + std::to_string(index) + " is a " + type_name(item) + ", not a 2-D array");
}

}  // namespace

bool pixel_type(const py::array& a) {
  return a.dtype().kind() == 'u' && (a.itemsize() == 2 || a.itemsize() == 4);
}

py::object memmap_base(py::handle a) {
  static const py::object memmap = py::module_::import("numpy").attr("memmap");
  py::object base = py::reinterpret_borrow<py::object>(a);
  while (!base.is_none() && !py::isinstance(base, memmap)) {
    if (!py::hasattr(base, "base")) return py::none();
    base = base.attr("base");
  }
  return base;
}

void release_mapped_pages(const py::array& frame) {
  const py::object base = memmap_base(frame);
  if (base.is_none() || base.attr("mode").cast<std::string>() == "c" || frame.ndim() != 2) return;
  if (frame.strides(0) < 0 || frame.strides(1) < 0 || frame.size() == 0) return;
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(frame.data());
  const std::uintptr_t end = start + static_cast<std::uintptr_t>((frame.shape(0) - 1) * frame.strides(0) +
                                                                 (frame.shape(1) - 1) * frame.strides(1) + frame.itemsize());
  const std::uintptr_t from = (start + page - 1) / page * page, to = end / page * page;
  if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);  // a hint; refused, nothing lost
}

FrameWalker::FrameWalker(py::handle frames, const std::string& what)
    : series_(py::reinterpret_borrow<py::object>(frames)) {
  // A fabio image of many frames, or a fabio file series: its frames().
  if (!py::isinstance<py::array>(series_) && py::hasattr(series_, "frames") && py::hasattr(series_, "nframes"))
    series_ = series_.attr("frames")();
  if (py::hasattr(series_, "ndim") && py::hasattr(series_, "shape")) {
    const int ndim = series_.attr("ndim").cast<int>();
    if (ndim == 2) series_ = py::make_tuple(py::module_::import("numpy").attr("asarray")(series_));
    else if (ndim != 3)
      throw py::value_error(what + " must have 3 dimensions (frames, rows, columns), not " + std::to_string(ndim));
  }
  if (py::hasattr(series_, "__len__") && py::hasattr(series_, "__getitem__")) {
    length_ = py::len(series_);
  } else if (py::hasattr(series_, "__iter__")) {
    iterator_ = series_.attr("__iter__")();
  } else {
    throw py::type_error(what + " must be an array, a sequence or iterable of 2-D arrays, or a path, not a " +
                         type_name(series_));
  }
}

std::optional<py::array> FrameWalker::next() {
  py::object item;
  if (length_) {
    if (next_ == *length_) return std::nullopt;
    item = series_[py::int_(next_)];
  } else {
    PyObject* got = PyIter_Next(iterator_.ptr());
    if (!got) {
      if (PyErr_Occurred()) throw py::error_already_set();
      return std::nullopt;
    }
    item = py::reinterpret_steal<py::object>(got);
  }
  py::array frame = frame_array(item, next_);
  check(frame);
  ++next_;
  source_ = frame;
  if (frame.itemsize() == 2) return py::array_t<std::uint16_t, py::array::c_style | py::array::forcecast>::ensure(frame);
  return py::array_t<std::uint32_t, py::array::c_style | py::array::forcecast>::ensure(frame);
}

void FrameWalker::check(const py::array& frame) {
  const std::string at = "frame " + std::to_string(next_);
  if (next_ == 0) {
    if (frame.ndim() != 2) throw py::value_error(at + " is " + describe(frame) + ": a frame has 2 dimensions (rows, columns)");
    if (!pixel_type(frame)) throw py::type_error(at + " is " + describe(frame) + ": frames must be uint16 or uint32");
    first_ = describe(frame);
    return;
  }
  const std::string d = describe(frame);
  if (d != first_) throw py::value_error(at + " is " + d + "; frame 0 is " + first_);
}

}  // namespace hedm_python
