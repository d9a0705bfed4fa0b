// hedm_reduction: the programs' exact far-field kernels for numpy users, on
// arrays in memory and on detector frame files, without a detour through
// files.  Every function computes what the corresponding program writes,
// byte for byte.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "file_kind.hpp"
#include "float_convert.hpp"
#include "frame_file.hpp"
#include "hdf5_stack.hpp"
#include "input_file.hpp"
#include "saturation.hpp"
#include "stack_median.hpp"
#include "stack_median_hdf5.hpp"

namespace py = pybind11;
using hedm::pixelvalue;

namespace {

// A C-contiguous array of T: the caller's own when it is one (no copy), else
// one copy of it.  Arrays of another element type are refused, not cast.
template <class T>
py::array_t<T, py::array::c_style> contiguous(const py::array& a, int ndim, const char* what, const char* type) {
  if (!a.dtype().is(py::dtype::of<T>()))
    throw py::type_error(std::string(what) + " must be an array of " + type + ", not " +
                         std::string(py::str(a.dtype())));
  if (ndim > 0 && a.ndim() != ndim)
    throw py::value_error(std::string(what) + " must have " + std::to_string(ndim) + " dimensions (" +
                          (ndim == 3 ? "frames, rows, columns" : "rows, columns") + "), not " +
                          std::to_string(a.ndim()));
  return py::array_t<T, py::array::c_style>::ensure(a);
}

// An error of the library as the exception of its kind: a file that cannot
// be had an OSError, an input or argument that is not what it must be a
// ValueError, memory a MemoryError.  The message is the programs' own,
// without their closing words.
[[noreturn]] void raise(const hedm::Error& e) {
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

py::array_t<pixelvalue> median_frame(const py::array& stack) {
  const auto s = contiguous<pixelvalue>(stack, 3, "stack", "uint16");
  const std::size_t n = static_cast<std::size_t>(s.shape(0));
  const std::size_t rows = static_cast<std::size_t>(s.shape(1)), cols = static_cast<std::size_t>(s.shape(2));
  if (n == 0) throw py::value_error("stack holds no frame: an empty stack has no median");
  py::array_t<pixelvalue> out({rows, cols});
  if (rows * cols == 0) return out;
  const pixelvalue* in = s.data();
  pixelvalue* dst = out.mutable_data();
  hedm::Status done = hedm::ok();
  {
    py::gil_scoped_release release;
    done = hedm::median_of_stack(in, n, rows * cols, dst);
  }
  if (!done) raise(done.error());
  return out;
}

// An HDF5 stack's median frame, of the stack's pixel type; its frames are
// decoded once into a spill file in $TMPDIR (else /tmp).
py::array median_stack_file(const std::string& path) {
  hedm::Result<hedm::Hdf5Stack> stack = hedm::Hdf5Stack::open(path);
  if (!stack) raise(stack.error());
  const char* tmp = std::getenv("TMPDIR");
  hedm::Result<hedm::MedianFrame> m = hedm::Error{hedm::ErrorKind::Memory, ""};
  {
    py::gil_scoped_release release;
    m = hedm::median_of_hdf5(*stack, tmp && *tmp ? tmp : "/tmp");
  }
  if (!m) raise(m.error());
  const std::vector<std::size_t> shape = {static_cast<std::size_t>(m->rows), static_cast<std::size_t>(m->columns)};
  if (m->pixelBytes == 2) {
    py::array_t<std::uint16_t> out(shape);
    std::copy(m->narrow.begin(), m->narrow.end(), out.mutable_data());
    return out;
  }
  py::array_t<std::uint32_t> out(shape);
  std::copy(m->wide.begin(), m->wide.end(), out.mutable_data());
  return out;
}

py::array median_file(const std::string& path) {
  const hedm::Result<hedm::FrameInput> form = hedm::frame_input_form("The input file", path);
  if (!form) raise(form.error());
  if (*form == hedm::FrameInput::Hdf5) return median_stack_file(path);
  hedm::InputFile in;
  if (hedm::Status s = in.open(path); !s) raise(s.error());
  const hedm::FrameLayout layout = hedm::frame_layout(in.size());
  if (layout.nFrames == 0) raise(hedm::no_whole_frame("The input file", path, in.size()));
  py::array_t<pixelvalue> out({hedm::nrPixels, hedm::nrPixels});
  pixelvalue* dst = out.mutable_data();
  hedm::Status s = hedm::ok();
  {
    py::gil_scoped_release release;
    s = hedm::median_of_file(in, layout.nFrames, dst);
  }
  if (!s) raise(s.error());
  return out;
}

py::array_t<std::int64_t> saturated_counts(const py::array& stack, std::int64_t threshold) {
  const auto s = contiguous<pixelvalue>(stack, 3, "stack", "uint16");
  const std::size_t n = static_cast<std::size_t>(s.shape(0));
  const std::size_t pixels = static_cast<std::size_t>(s.shape(1) * s.shape(2));
  // Thresholds beyond 32 bits count as their nearest 32-bit value would.
  const std::int32_t satInt = static_cast<std::int32_t>(std::clamp<std::int64_t>(threshold, INT32_MIN, INT32_MAX));
  py::array_t<std::int64_t> out(static_cast<py::ssize_t>(n));
  std::int64_t* counts = out.mutable_data();
  const pixelvalue* in = s.data();
  {
    py::gil_scoped_release release;
    for (std::size_t f = 0; f < n; ++f)
      counts[f] = static_cast<std::int64_t>(hedm::count_saturated(in + f * pixels, pixels, satInt));
  }
  return out;
}

py::array_t<pixelvalue> scale_image(const py::array& image) {
  const auto img = contiguous<float>(image, 0, "image", "float32");
  py::array_t<pixelvalue> out(std::vector<py::ssize_t>(img.shape(), img.shape() + img.ndim()));
  const std::size_t n = static_cast<std::size_t>(img.size());
  const float* in = img.data();
  pixelvalue* dst = out.mutable_data();
  {
    py::gil_scoped_release release;
    hedm::convert_image(in, n, hedm::image_maximum(in, n), dst);
  }
  return out;
}

}  // namespace

PYBIND11_MODULE(hedm_reduction, m) {
  m.doc() =
      "The exact far-field kernels of the HEDM reduction programs for numpy arrays and detector frame files:\n"
      "the per-pixel lower median of a stack (StackCollapse), saturated pixels per frame (ClipCount) and the\n"
      "scaling of float images to 14000 (PanelPack).";
  m.attr("__version__") = HEDM_VERSION;
  m.def("median_frame", &median_frame, py::arg("stack"),
        R"(The exact lower median over the frames of a stack.

stack: a 3-D uint16 array (frames, rows, columns) of any frame shape.
Returns a new 2-D uint16 array (rows, columns): for every pixel the value at
index (n - 1) // 2 of its n values sorted, the value StackCollapse writes.
For an even number of frames this is the lower of the two middle values;
numpy's median would average them.  A C-contiguous stack is read where it
lies; other layouts are copied once.  The GIL is released while it computes,
on one thread per processor the process may use, as StackCollapse does (at
most 8).  Extra memory: below 13 MiB per thread up to 65,536 frames, the result
aside (measured as the rise of RssAnon: 12.2 MiB per thread at 200 frames,
8.8 at 1440), and 128 bytes a frame per thread beyond.)");
  m.def("median_file", &median_file, py::arg("path"),
        R"(The median frame of a detector frame file, as StackCollapse computes it.

path: a detector frame file (an 8192-byte header, then 2048 x 2048 uint16
frames), or an HDF5 stack ("scan.h5" or "scan.h5::/entry/data/data": uint16
or uint32 frames of any shape, for which the array has the stack's frame
shape and type; its frames are decoded once into a spill file in $TMPDIR).  Returns a 2048 x 2048 uint16 array, byte for byte the frame
StackCollapse writes, read in bands in the same bounded memory on the same
threads, with the GIL released.
A file is judged by its content before its name: any HDF5 file is read as
a stack (a .cxi or .nxs, or one named .ge3).
Raises OSError when the file cannot be opened or read and ValueError when
it holds no complete frame or is compressed (gzip, bzip2, xz, zstd), with
StackCollapse's message.)");
  m.def("saturated_counts", &saturated_counts, py::arg("stack"), py::arg("threshold"),
        R"(Per frame, the number of pixels at or above `threshold`, as ClipCount counts them.

stack: a 3-D uint16 array (frames, rows, columns).  Returns a 1-D int64
array, one count per frame.  ClipCount prints these less the dark count, a
dark file's counts averaged over its frames:
    counts - int(saturated_counts(dark, threshold).sum() // len(dark)).)");
  m.def("scale_image", &scale_image, py::arg("image"),
        R"(PanelPack's conversion of a float32 image to uint16: the brightest pixel becomes 14000.

image: a float32 array of any shape (a detector image is 2048 x 2048).
Every pixel v becomes trunc(v / max * 14000) in double precision, negative
pixels and values that are not a number 0.  Returns a uint16 array of the
same shape, byte for byte the frame PanelPack writes for that image.)");
}
