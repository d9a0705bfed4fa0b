// median() and saturated_counts() over any series of frames a Python user
// holds: a 3-D array (a memmap too), an h5py dataset, a sequence or iterable
// of 2-D arrays (hexrd's image series, fabio's file series, a generator), or
// the path of a stack.  A series is read one frame at a time: its frames are
// spilled to a file for the median (which reads them back in bands as it
// reads a frame file) and counted one by one for the saturated pixels, so
// memory stays that of one frame whatever the series' length.
#include <cstdlib>
#include <future>
#include <optional>

#include "frame_walker.hpp"
#include "py_support.hpp"
#include "saturation.hpp"
#include "spill_stack.hpp"
#include "stack_median_spill.hpp"

namespace hedm_python {

namespace {

// "scan.h5::/entry/data/data" for an h5py dataset that the stack layer can
// read from its file as h5py does (a plain file on disk, opened read-only),
// else nullopt: the dataset is then read through h5py, a frame at a time.
std::optional<std::string> dataset_name(py::handle obj) {
  const py::object type = py::type::of(obj);
  if (type.attr("__name__").cast<std::string>() != "Dataset" ||
      type.attr("__module__").cast<std::string>().rfind("h5py", 0) != 0)
    return std::nullopt;
  const py::object file = obj.attr("file"), name = obj.attr("name");
  if (name.is_none() || file.attr("mode").cast<std::string>() != "r" ||
      file.attr("driver").cast<std::string>() != "sec2")
    return std::nullopt;
  const std::string path = py::str(file.attr("filename"));
  if (!py::module_::import("os").attr("path").attr("isfile")(path).cast<bool>()) return std::nullopt;
  return path + "::" + name.cast<std::string>();
}

// The stack layer's view of an h5py dataset (see dataset_name), when it
// sees the dataset's shape and type as h5py does.
std::unique_ptr<hedm::Stack> dataset_stack(py::handle obj) {
  const std::optional<std::string> name = dataset_name(obj);
  if (!name) return nullptr;
  hedm::Result<std::unique_ptr<hedm::Stack>> stack = hedm::open_stack(*name, hedm::StackRole{"The dataset", ""});
  if (!stack) return nullptr;
  const hedm::Stack& s = **stack;
  std::vector<std::uint64_t> shape;
  for (py::handle d : obj.attr("shape")) shape.push_back(d.cast<std::uint64_t>());
  const std::size_t itemsize = obj.attr("dtype").attr("itemsize").cast<std::size_t>();
  const bool same = shape.size() == 3 && shape[0] == s.frames() && shape[1] == s.rows() && shape[2] == s.columns() &&
                    itemsize == s.pixel_bytes();
  return same ? std::move(*stack) : nullptr;
}

bool is_path(py::handle obj) {
  return py::isinstance<py::str>(obj) || py::isinstance<py::bytes>(obj) ||
         py::isinstance(obj, py::module_::import("os").attr("PathLike"));
}

std::string fspath(py::handle obj) {
  py::object p = py::module_::import("os").attr("fsdecode")(obj);
  return p.cast<std::string>();
}

std::unique_ptr<hedm::Stack> open_path(py::handle obj, const char* which) {
  hedm::Result<std::unique_ptr<hedm::Stack>> stack = hedm::open_stack(fspath(obj), hedm::StackRole{which, ""});
  if (!stack) raise(stack.error());
  return std::move(*stack);
}

}  // namespace

std::string spill_folder() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

py::array median_of_stack(hedm::Stack& stack, PyProgress& progress, const hedm::ProgressFn& stage) {
  hedm::Result<hedm::Frame> m = hedm::Error{hedm::ErrorKind::Memory, ""};
  {
    py::gil_scoped_release release;
    m = hedm::median_frame(stack, hedm::MedianRun{spill_folder(), 0, stage});
  }
  if (!m) progress.raise_for(m.error());
  progress.rethrow();
  progress.finish();
  return to_array(*m);
}

py::array median_file(const std::string& path, const py::object& progressFn) {
  PyProgress progress(progressFn);
  hedm::Result<std::unique_ptr<hedm::Stack>> stack = hedm::open_stack(path, hedm::StackRole{"The input file", ""});
  if (!stack) raise(stack.error());
  return median_of_stack(**stack, progress, progress.watcher());
}

namespace {

// Frames written into a spill stack on a thread of their own, one frame
// behind the series: Python makes the next frame (reads it, decodes it)
// while the last is written, which needs no GIL.
class BehindWriter {
 public:
  explicit BehindWriter(hedm::SpillStack& stack) : stack_(stack) {}
  // Starts writing `frame` (kept alive until written) once the frame before
  // it is written; the status of that one (ok when there was none).
  hedm::Status put(py::array frame, py::array source) {
    hedm::Status s = wait();
    if (!s) return s;
    frame_ = std::move(frame);
    source_ = std::move(source);
    pending_ = std::async(std::launch::async, [this, data = frame_.data()] { return stack_.append(data); });
    return s;
  }
  // Waits for the last frame handed to be written: its status.
  hedm::Status wait() {
    if (!pending_.valid()) return hedm::ok();
    hedm::Status s = hedm::ok();
    {
      py::gil_scoped_release release;
      s = pending_.get();
    }
    if (s) release_mapped_pages(source_);
    frame_ = py::array();
    source_ = py::array();
    return s;
  }

 private:
  hedm::SpillStack& stack_;
  py::array frame_, source_;
  std::future<hedm::Status> pending_;  // after frame_: destroyed, so waited for, before it
};

// A spill stack for frames like `frame`, in the spill folder.
std::unique_ptr<hedm::SpillStack> spill_stack_for(const py::array& frame) {
  auto made = hedm::SpillStack::create(spill_folder(), static_cast<std::uint64_t>(frame.shape(0)),
                                       static_cast<std::uint64_t>(frame.shape(1)), static_cast<unsigned>(frame.itemsize()));
  if (!made) raise(made.error());
  return std::move(*made);
}

// The median of the frames of a series, spilled one by one.  progress hears
// of the bytes spilled, then of the median's run over the spill file (a
// 32-bit series counts its bytes thrice: spilled, decoded, selected); a
// series of no length is heard from only once all its frames are spilled.
py::array median_of_series(py::handle frames, PyProgress& progress) {
  FrameWalker walker(frames, "frames");
  std::unique_ptr<hedm::SpillStack> stack;
  std::optional<BehindWriter> writer;
  std::optional<hedm::ProgressCounter> spilled;
  std::uint64_t frameBytes = 0, stages = 2;
  while (std::optional<py::array> frame = walker.next()) {
    if (!stack) {
      stack = spill_stack_for(*frame);
      writer.emplace(*stack);
      frameBytes = static_cast<std::uint64_t>(frame->nbytes());
      stages = frame->itemsize() == 2 ? 2 : 3;
      if (walker.length())
        spilled.emplace(hedm::progress_stage(progress.watcher(), 0, stages * *walker.length() * frameBytes),
                        *walker.length() * frameBytes);
    }
    hedm::Status s = writer->put(std::move(*frame), walker.source());
    if (s && spilled && walker.count() > 1) s = spilled->add(frameBytes);
    if (!s) progress.raise_for(s.error());
  }
  if (!stack) throw py::value_error("frames holds no frame: an empty series has no median");
  hedm::Status s = writer->wait();
  if (s && spilled) s = spilled->add(frameBytes);
  if (s) s = stack->finish();
  if (!s) progress.raise_for(s.error());
  const std::uint64_t bytes = stack->frames() * frameBytes;
  return median_of_stack(*stack, progress, hedm::progress_stage(progress.watcher(), bytes, stages * bytes));
}

py::array median(const py::object& frames, const py::object& progressFn) {
  PyProgress progress(progressFn);
  if (is_path(frames)) {
    std::unique_ptr<hedm::Stack> stack = open_path(frames, "The input file");
    return median_of_stack(*stack, progress, progress.watcher());
  }
  if (std::unique_ptr<hedm::Stack> stack = dataset_stack(frames))
    return median_of_stack(*stack, progress, progress.watcher());
  // An array in memory, C-contiguous, is selected where it lies; a memmap,
  // or a view that is not contiguous, is read a frame at a time.
  if (py::isinstance<py::array>(frames)) {
    const auto a = py::reinterpret_borrow<py::array>(frames);
    const bool native = a.dtype().is(py::dtype::of<std::uint16_t>()) || a.dtype().is(py::dtype::of<std::uint32_t>());
    if (a.ndim() == 3 && native && (a.flags() & py::array::c_style) && memmap_base(a).is_none() && a.shape(0) > 0) {
      py::array m = median_frame(a);
      const auto bytes = static_cast<std::uint64_t>(a.nbytes());
      if (hedm::ProgressFn w = progress.watcher(); w)
        if (hedm::Status s = w(bytes, bytes); !s) progress.raise_for(s.error());
      return m;
    }
  }
  return median_of_series(frames, progress);
}

}  // namespace

namespace {

// The saturated pixels of each frame of a series, and its whole frames.
struct Counts {
  std::vector<std::uint64_t> perFrame;
  std::uint64_t wholeFrames = 0;
};

template <class T>
hedm::Status count_frames(hedm::Stack& stack, std::int32_t satInt, Counts& c) {
  std::vector<T> frame(static_cast<std::size_t>(stack.pixels()));
  for (std::uint64_t f = 0; f < stack.frames(); ++f) {
    if (hedm::Status s = stack.read_frame(f, frame.data()); !s) return s;
    c.perFrame.push_back(hedm::count_saturated(frame.data(), frame.size(), satInt));
  }
  return hedm::ok();
}

// A stack's counts, read with the GIL released; with `tail`, the pixels of
// a frame file past its last whole frame get a count of their own after the
// whole frames' (ClipCount counts them in its dark).
Counts count_stack(hedm::Stack& stack, std::int32_t satInt, bool tail) {
  Counts c;
  c.wholeFrames = stack.frames();
  hedm::Status s = hedm::ok();
  {
    py::gil_scoped_release release;
    s = stack.pixel_bytes() == 2 ? count_frames<std::uint16_t>(stack, satInt, c)
                                 : count_frames<std::uint32_t>(stack, satInt, c);
    if (s && tail && stack.tail_pixels() > 0) {
      std::vector<std::uint16_t> rest(static_cast<std::size_t>(stack.tail_pixels()));
      s = stack.read_tail(rest.data());
      if (s) c.perFrame.push_back(hedm::count_saturated(rest.data(), rest.size(), satInt));
    }
  }
  if (!s) raise(s.error());
  return c;
}

template <class T>
std::uint64_t count_array(const py::array& frame, std::int32_t satInt) {
  const T* p = static_cast<const T*>(frame.data());
  const auto n = static_cast<std::size_t>(frame.size());
  py::gil_scoped_release release;
  return hedm::count_saturated(p, n, satInt);
}

Counts count_series(py::handle frames, std::int32_t satInt, bool tail, const char* which, const char* what) {
  if (is_path(frames)) return count_stack(*open_path(frames, which), satInt, tail);
  if (std::unique_ptr<hedm::Stack> stack = dataset_stack(frames)) return count_stack(*stack, satInt, tail);
  Counts c;
  FrameWalker walker(frames, what);
  while (std::optional<py::array> frame = walker.next()) {
    c.perFrame.push_back(frame->itemsize() == 2 ? count_array<std::uint16_t>(*frame, satInt)
                                                : count_array<std::uint32_t>(*frame, satInt));
    release_mapped_pages(walker.source());
  }
  c.wholeFrames = c.perFrame.size();
  return c;
}

py::array_t<std::int64_t> saturated_counts(const py::object& frames, const py::object& dark, std::int64_t threshold) {
  // Thresholds beyond 32 bits count as their nearest 32-bit value would.
  const auto satInt = static_cast<std::int32_t>(std::clamp<std::int64_t>(threshold, INT32_MIN, INT32_MAX));
  const Counts c = count_series(frames, satInt, false, "The data file", "frames");
  // ClipCount's dark count: the saturated pixels of the whole dark divided
  // by its whole frames, truncated.
  std::int64_t darkCount = 0;
  if (!dark.is_none()) {
    const Counts d = count_series(dark, satInt, true, "The dark file", "dark");
    if (d.wholeFrames == 0) throw py::value_error("dark holds no frame: a dark needs one at least");
    std::uint64_t total = 0;
    for (std::uint64_t n : d.perFrame) total += n;
    darkCount = static_cast<std::int64_t>(total / d.wholeFrames);
  }
  py::array_t<std::int64_t> out(static_cast<py::ssize_t>(c.perFrame.size()));
  std::int64_t* dst = out.mutable_data();
  for (std::size_t f = 0; f < c.perFrame.size(); ++f) dst[f] = static_cast<std::int64_t>(c.perFrame[f]) - darkCount;
  return out;
}

const char kMedianDoc[] = R"(The exact lower median frame of any series of frames, byte for byte StackCollapse's.

frames: any of
- a 3-D uint16 or uint32 array (frames, rows, columns) of any strides: a
  C-contiguous array in memory is selected where it lies; a numpy memmap
  (or a view of one) and other layouts are read a frame at a time;
- an h5py dataset (frames, rows, columns): read from its file by the
  programs' own reader when it is a plain file opened read-only, else
  through h5py a frame at a time, never whole;
- a sequence (len and indexing, as hexrd's image series) or an iterable (a
  generator) of 2-D uint16 or uint32 arrays, or of objects whose `data` is
  one (fabio images and frames); a fabio file series or image of many
  frames is taken as its frames();
- a path (str, bytes or os.PathLike): a frame file, an HDF5 dataset or
  series, as median_file takes it.
A 2-D array is a series of one frame.  Returns a new 2-D array (rows,
columns) of the frames' type: for every pixel the value at index
(n - 1) // 2 of its n values sorted.  A series is spilled a frame at a time
to an unnamed file in $TMPDIR (else /tmp; it needs the series' bytes of
disk while it runs) and selected in bands as StackCollapse reads a frame
file, with the GIL released: memory stays under 256 MiB plus one frame
whatever the series' length.
progress: None, or a callable progress(done, total) called now and then
with the bytes handled so far and in all, done never going back: a series'
bytes counted as they are spilled, then as they are selected (a series of
no length is heard from once it is all spilled); an exception it raises
stops the run and is raised from median.
Raises ValueError for an empty series, frames that are not 2-D or a frame
whose shape or type differs from the first ("frame 7 is 100 x 120 uint16;
frame 0 is 100 x 100 uint16"), TypeError for frames of another pixel type
than uint16 or uint32, and OSError or ValueError with StackCollapse's
message for a path.)";

const char kCountsDoc[] = R"(Per frame, the pixels at or above `threshold` less the dark's, as ClipCount prints them.

frames: any series median takes (a 3-D uint16 or uint32 array, an h5py
dataset, a sequence or iterable of 2-D arrays, a path), read a frame at a
time.  dark: None (nothing taken off), or a series or path of the same
kinds, or one 2-D frame: its count is ClipCount's, the saturated pixels
of all its frames (a frame file's partial last frame included) divided by
its whole frames, truncated.  threshold: an int; beyond 32 bits it counts
as its nearest 32-bit value.  Returns a 1-D int64 array, one count per
frame of `frames`.  saturated_counts(frames, threshold) is the count without
a dark.)";

}  // namespace

void add_series_functions(py::module_& m) {
  m.def("median", &median, py::arg("frames"), py::kw_only(), py::arg("progress") = py::none(), kMedianDoc);
  m.def(
      "saturated_counts",
      [](const py::object& frames, std::int64_t threshold) { return saturated_counts(frames, py::none(), threshold); },
      py::arg("frames"), py::arg("threshold"), kCountsDoc);
  m.def("saturated_counts", &saturated_counts, py::arg("frames"), py::arg("dark"), py::arg("threshold"));
}

}  // namespace hedm_python
