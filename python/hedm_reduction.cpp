// hedm_reduction: the programs' exact far-field kernels for numpy users, on
// arrays in memory and on detector frame files, without a detour through
// files.  Every function computes what the corresponding program writes,
// byte for byte.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "float_convert.hpp"
#include "py_support.hpp"
#include "frame_file.hpp"
#include "saturation.hpp"
#include "stack.hpp"
#include "stack_median.hpp"
#include "stack_median_spill.hpp"

namespace py = pybind11;
using hedm::pixelvalue;
using namespace hedm_python;

namespace hedm_python {
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

// The medians of a 32-bit stack, as StackCollapse selects those of a 32-bit
// HDF5 stack, but a band of pixels at a time rather than the whole stack: a
// band whose values all fit in 16 bits (as a photon-counting detector's
// nearly always do) by the 16-bit selection on a narrowed copy of it, any
// other band by the 32-bit selection on a copy of it.  The lower medians are
// the same either way; the copies take at most kWideBandBytes.
constexpr std::size_t kWideBandBytes = std::size_t{32} << 20;

hedm::Status median_of_wide_stack(const std::uint32_t* in, std::size_t n, std::size_t pixels, std::uint32_t* out) {
  const std::size_t band = std::clamp<std::size_t>(kWideBandBytes / (sizeof(std::uint32_t) * n), 1, pixels);
  std::vector<std::uint16_t> narrow(band * n), medians(band);
  std::vector<std::uint32_t> wide;
  for (std::size_t p0 = 0; p0 < pixels; p0 += band) {
    const std::size_t count = std::min(band, pixels - p0);
    bool fits = true;
    for (std::size_t f = 0; f < n && fits; ++f) {
      const std::uint32_t* row = in + f * pixels + p0;
      fits = *std::max_element(row, row + count) <= 0xffff;
      std::copy(row, row + count, narrow.begin() + static_cast<std::ptrdiff_t>(f * count));
    }
    if (fits) {
      if (hedm::Status s = hedm::median_of_stack(narrow.data(), n, count, medians.data()); !s) return s;
      std::copy(medians.begin(), medians.begin() + static_cast<std::ptrdiff_t>(count), out + p0);
      continue;
    }
    wide.resize(band * n);
    for (std::size_t f = 0; f < n; ++f)
      std::copy(in + f * pixels + p0, in + f * pixels + p0 + count, wide.begin() + static_cast<std::ptrdiff_t>(f * count));
    if (hedm::Status s = hedm::median32_of_stack(wide.data(), n, count, out + p0); !s) return s;
  }
  return hedm::ok();
}

// The median frame of a stack of T, 16- or 32-bit pixels.
template <class T>
py::array_t<T> median_frame_of(const py::array& stack) {
  const auto s = contiguous<T>(stack, 3, "stack", "uint16 or uint32");
  const std::size_t n = static_cast<std::size_t>(s.shape(0));
  const std::size_t rows = static_cast<std::size_t>(s.shape(1)), cols = static_cast<std::size_t>(s.shape(2));
  if (n == 0) throw py::value_error("stack holds no frame: an empty stack has no median");
  py::array_t<T> out({rows, cols});
  if (rows * cols == 0) return out;
  const T* in = s.data();
  T* dst = out.mutable_data();
  hedm::Status done = hedm::ok();
  {
    py::gil_scoped_release release;
    if constexpr (sizeof(T) == 2) done = hedm::median_of_stack(in, n, rows * cols, dst);
    else done = median_of_wide_stack(in, n, rows * cols, dst);
  }
  if (!done) raise(done.error());
  return out;
}

}  // namespace

py::array median_frame(const py::array& stack) {
  if (stack.dtype().is(py::dtype::of<std::uint32_t>())) return median_frame_of<std::uint32_t>(stack);
  return median_frame_of<pixelvalue>(stack);
}

}  // namespace hedm_python

namespace {

py::array_t<pixelvalue> scale_image(const py::array& image) {
  const auto img = contiguous<float>(image, 0, "image", "float32");
  py::array_t<pixelvalue> out(std::vector<py::ssize_t>(img.shape(), img.shape() + img.ndim()));
  const std::size_t n = static_cast<std::size_t>(img.size());
  const float* in = img.data();
  pixelvalue* dst = out.mutable_data();
  std::size_t nInfinite = 0;
  {
    py::gil_scoped_release release;
    const float maxVal = hedm::image_maximum(in, n, &nInfinite);
    if (nInfinite == 0) hedm::convert_image(in, n, maxVal, dst);
  }
  // An infinite pixel leaves no scale (every other pixel would become 0):
  // refused, as PanelPack skips such an image.
  if (nInfinite > 0)
    throw py::value_error("image holds " + std::to_string(nInfinite) +
                          (nInfinite == 1 ? " infinite pixel" : " infinite pixels") +
                          ": an image with infinite values cannot be scaled");
  return out;
}

// Adds to the function `name` of module m a last definition that takes the
// calls no other definition takes, and raises a TypeError of one line that
// says what the function takes and the types it was given.  pybind11's own
// message would hold every argument's repr: a list of frames passed where
// an array belongs gave hundreds of kilobytes of numbers.  With `paths`, an
// os.PathLike argument (a pathlib.Path) is first taken as its path and the
// call made again.
void other_arguments(py::module_& m, const char* name, const char* takes, bool paths = false) {
  py::handle module = m;
  m.def(
      name,
      [module, name, takes, paths](const py::args& args, const py::kwargs& kwargs) -> py::object {
        std::string types;
        for (py::handle a : args) types += (types.empty() ? "" : ", ") + type_name(a);
        for (auto [key, value] : kwargs)
          types += (types.empty() ? "" : ", ") + std::string(py::str(key)) + "=" + type_name(value);
        const std::string refused = std::string(name) + "() takes (" + takes + "), not (" + types + ")";
        if (paths) {
          const py::module_ os = py::module_::import("os");
          bool changed = false;
          py::list given;
          for (py::handle a : args) {
            const bool path = py::isinstance(a, os.attr("PathLike"));
            given.append(path ? os.attr("fspath")(a) : py::reinterpret_borrow<py::object>(a));
            changed = changed || path;
          }
          py::dict named;
          for (auto [key, value] : kwargs) {
            const bool path = py::isinstance(value, os.attr("PathLike"));
            named[key] = path ? os.attr("fspath")(value) : py::reinterpret_borrow<py::object>(value);
            changed = changed || path;
          }
          if (changed) {
            try {
              return module.attr(name)(*py::tuple(given), **named);
            } catch (py::error_already_set& e) {
              // Refused again: named by the types this call was given.
              if (e.matches(PyExc_TypeError) &&
                  std::string(py::str(e.value())).rfind(std::string(name) + "() takes (", 0) == 0)
                throw py::type_error(refused);
              throw;
            }
          }
        }
        throw py::type_error(refused);
      },
      "Any other arguments: a TypeError naming the types given.");
}

}  // namespace

const char kMedianFileDoc[] = R"(The median frame of any stack StackCollapse reads, as StackCollapse computes it.

path: a detector frame file (an 8192-byte header, then 2048 x 2048 uint16
frames), or an HDF5 stack ("scan.h5" or "scan.h5::/entry/data/data": uint16
or uint32 frames of any shape, for which the array has the stack's frame
shape and type; its frames read where they lie when uncompressed, else
decoded once into a spill file in $TMPDIR):
a two-dimensional dataset is a stack of one frame, and a detector's master
file ("master.h5" or "master.h5::/entry/data") the frames of all its data
files, data_000001, data_000002, ... in turn.  Returns a 2048 x 2048 uint16
array for a frame file, byte for byte the frame StackCollapse writes, read
in bands with pread in the same bounded memory on the same threads, with
the GIL released: the peak resident size stays under 256 MiB whatever the
file's size.
progress: None, or a callable progress(done, total) called now and then
(some 256 times in a run) with the bytes handled so far and in all (an
HDF5 stack counts its bytes twice: decoded, then selected); it is called
with the GIL held from the threads that select, and an exception it raises
stops the run and is raised from median_file.
A file is judged by its content before its name: any HDF5 file is read as
a stack (a .cxi or .nxs, or one named .ge3).
Raises OSError when the file cannot be opened or read and ValueError when
it holds no complete frame or is compressed (gzip, bzip2, xz, zstd), with
StackCollapse's message.)";

PYBIND11_MODULE(hedm_reduction, m) {
  m.doc() =
      "The exact far-field kernels of the HEDM reduction programs for numpy arrays, series of frames (h5py\n"
      "datasets, hexrd's and fabio's series, generators) and detector files: the per-pixel lower median of a\n"
      "stack (StackCollapse), saturated pixels per frame (ClipCount) and the scaling of float images to 14000\n"
      "(PanelPack).";
  m.attr("__version__") = HEDM_VERSION;
  m.def("median_frame", &median_frame, py::arg("stack"),
        R"(The exact lower median over the frames of a stack.

stack: a 3-D uint16 or uint32 array (frames, rows, columns) of any frame
shape.  Returns a new 2-D array (rows, columns) of the stack's type: for
every pixel the value at index (n - 1) // 2 of its n values sorted, the
value StackCollapse writes.
For an even number of frames this is the lower of the two middle values;
numpy's median would average them.  A C-contiguous stack is read where it
lies; other layouts are copied once.  The GIL is released while it computes,
on one thread per processor the process may use, as StackCollapse does (at
most 8).  Extra memory: below 13 MiB per thread up to 65,536 frames, the result
aside (measured as the rise of RssAnon: 12.2 MiB per thread at 200 frames,
8.8 at 1440), and 128 bytes a frame per thread beyond.  A uint32 stack is
taken a band of pixels at a time, copied (at most 32 MiB more): a band
whose values all fit in 16 bits by the same selection as uint16 stacks,
any other by StackCollapse's selection for 32-bit HDF5 stacks.
Any other argument than an array raises TypeError, naming its type.)");
  m.def("median_file", &median_file, py::arg("path"), py::kw_only(), py::arg("progress") = py::none(),
        kMedianFileDoc);
  add_series_functions(m);
  m.def("scale_image", &scale_image, py::arg("image"),
        R"(PanelPack's conversion of a float32 image to uint16: the brightest pixel becomes 14000.

image: a float32 array of any shape (a detector image is 2048 x 2048).
Every pixel v becomes trunc(v / max * 14000) in double precision, negative
pixels and values that are not a number 0.  Returns a uint16 array of the
same shape, byte for byte the frame PanelPack writes for that image.  An
image with an infinite pixel raises ValueError, as PanelPack skips it.)");
  other_arguments(m, "median_frame", "stack: numpy.ndarray of uint16 or uint32");
  other_arguments(m, "median_file", "path: str or os.PathLike, *, progress: callable or None", true);
  other_arguments(m, "median", "frames: array, h5py dataset, series of 2-D arrays or path, *, progress: callable or None");
  other_arguments(m, "saturated_counts", "frames: array, series of 2-D arrays or path, [dark,] threshold: int");
  other_arguments(m, "scale_image", "image: numpy.ndarray of float32");
}
