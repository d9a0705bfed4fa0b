// The HDF5 layer's writing: one frame as an HDF5 file (a median, like its
// source), and a made-up stack frame by frame (the samples).
#include "hdf5_stack.hpp"

#ifdef HEDM_HAVE_HDF5

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "hdf5_detail.hpp"
#include "output_file.hpp"

namespace hedm {

using namespace hdf5_detail;

namespace {

Error output_error(const std::string& text) { return Error{ErrorKind::Output, text}; }

bool write_string_attribute(hid_t obj, const char* name, const std::string& value) {
  Id type(H5Tcopy(H5T_C_S1), H5Tclose);
  H5Tset_size(type.get(), H5T_VARIABLE);
  H5Tset_cset(type.get(), H5T_CSET_UTF8);
  Id space(H5Screate(H5S_SCALAR), H5Sclose);
  Id attr(H5Acreate2(obj, name, type.get(), space.get(), H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
  const char* p = value.c_str();
  return attr && H5Awrite(attr.get(), type.get(), &p) >= 0;
}

bool write_count_attribute(hid_t obj, const char* name, std::uint64_t value) {
  Id space(H5Screate(H5S_SCALAR), H5Sclose);
  Id attr(H5Acreate2(obj, name, H5T_STD_U64LE, space.get(), H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
  return attr && H5Awrite(attr.get(), H5T_NATIVE_UINT64, &value) >= 0;
}

// The creation properties of a frame written like `like`'s frames: its
// chunks clipped to one frame, its filters that can be had here.
Id frame_creation(const Hdf5Stack* like, std::uint64_t rows, std::uint64_t columns) {
  Id dcpl = plist(H5P_DATASET_CREATE);
  if (!like || like->info().chunk.empty()) return dcpl;
  const StackInfo& in = like->info();
  const hsize_t chunk[2] = {std::clamp<hsize_t>(in.chunk[1], 1, rows), std::clamp<hsize_t>(in.chunk[2], 1, columns)};
  H5Pset_chunk(dcpl.get(), 2, chunk);
  Id src(H5Dget_create_plist(like->handles().dset.get()), H5Pclose);
  const int n = H5Pget_nfilters(src.get());
  for (int i = 0; i < n; ++i) {
    unsigned flags = 0, config = 0, values[32];
    std::size_t nValues = 32;
    const H5Z_filter_t id =
        H5Pget_filter2(src.get(), static_cast<unsigned>(i), &flags, &nValues, values, 0, nullptr, &config);
    if (id < 0 || H5Zfilter_avail(id) <= 0) continue;
    // Bitshuffle stores three values of its own (version, element size)
    // before the caller's (block size, compression), and puts them there
    // again when the dataset is made: only the caller's are passed on.
    const std::size_t skip = id == 32008 && nValues > 3 ? 3 : 0;
    H5Pset_filter(dcpl.get(), id, flags, std::min<std::size_t>(nValues, 32) - skip, values + skip);
  }
  H5Eclear2(H5E_DEFAULT);
  return dcpl;
}

}  // namespace

static Status write_frame(const std::string& path, const std::string& dataset, const void* pixels, bool wide,
                          std::uint64_t rows, std::uint64_t columns, const FrameOrigin& origin,
                          const Hdf5Stack* like) {
  const std::string at = "Could not write " + path + " (dataset " + dataset + "): ";
  if (!hdf5_available()) return Error{ErrorKind::Output, at + hdf5_library().failure + "."};
  std::vector<char> image;
  {
    Lock lock;
    auto failed = [&] { return output_error(at + hdf5_says() + "."); };
    hid_t fileType = wide ? H5T_STD_U32LE : H5T_STD_U16LE;
    if (like) {
      const StackInfo& in = like->info();
      fileType = in.pixelBytes == 2 ? H5T_STD_U16LE : in.isSigned ? H5T_STD_I32LE : H5T_STD_U32LE;
      if (wide && in.pixelBytes == 2)
        return Error{ErrorKind::Argument, at + "32-bit pixels cannot be stored as the 16-bit ones of " + in.file + "."};
    }
    // The file is made in memory, then written out whole.
    Id fapl = plist(H5P_FILE_ACCESS);
    H5Pset_fapl_core(fapl.get(), 1u << 20, 0);
    Id file(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, fapl.get()), H5Fclose);
    if (!file) return failed();
    Id lcpl = plist(H5P_LINK_CREATE);
    H5Pset_create_intermediate_group(lcpl.get(), 1);
    const hsize_t dims[2] = {rows, columns};
    Id space(H5Screate_simple(2, dims, nullptr), H5Sclose);
    Id dcpl = frame_creation(like, rows, columns);
    Id dset(H5Dcreate2(file.get(), dataset.c_str(), fileType, space.get(), lcpl.get(), dcpl.get(), H5P_DEFAULT),
            H5Dclose);
    if (!dset) return failed();
    if (H5Dwrite(dset.get(), wide ? H5T_NATIVE_UINT32 : H5T_NATIVE_UINT16, H5S_ALL, H5S_ALL, H5P_DEFAULT, pixels) < 0 ||
        !write_string_attribute(dset.get(), "source_file", origin.file) ||
        (!origin.dataset.empty() && !write_string_attribute(dset.get(), "source_dataset", origin.dataset)) ||
        !write_count_attribute(dset.get(), "frames", origin.frames))
      return failed();
    dset.reset();
    if (H5Fflush(file.get(), H5F_SCOPE_LOCAL) < 0) return failed();
    const ssize_t size = H5Fget_file_image(file.get(), nullptr, 0);
    if (size <= 0) return failed();
    image.resize(static_cast<std::size_t>(size));
    if (H5Fget_file_image(file.get(), image.data(), image.size()) != size) return failed();
  }
  OutputFile out;
  Status s = out.create(path);
  if (s) s = out.write(image.data(), image.size());
  if (s) s = out.commit();
  return s;
}

Status write_hdf5_frame(const std::string& path, const std::string& dataset, const std::uint16_t* pixels,
                        std::uint64_t rows, std::uint64_t columns, const FrameOrigin& origin, const Hdf5Stack* like) {
  return write_frame(path, dataset, pixels, false, rows, columns, origin, like);
}
Status write_hdf5_frame(const std::string& path, const std::string& dataset, const std::uint32_t* pixels,
                        std::uint64_t rows, std::uint64_t columns, const FrameOrigin& origin, const Hdf5Stack* like) {
  return write_frame(path, dataset, pixels, true, rows, columns, origin, like);
}

struct Hdf5StackWriter::State {
  Id file, dset;
  std::string path, target, temp;
  StackShape shape;
};

Hdf5StackWriter::Hdf5StackWriter() : s_(std::make_unique<State>()) {}
Hdf5StackWriter::~Hdf5StackWriter() { discard(); }

void Hdf5StackWriter::discard() {
  Lock lock;
  s_->dset.reset();
  s_->file.reset();
  if (!s_->temp.empty()) ::unlink(s_->temp.c_str());
  s_->temp.clear();
}

Status Hdf5StackWriter::create(const std::string& path, const std::string& dataset, const StackShape& shape) {
  discard();
  State& s = *s_;
  s.path = path;
  s.target = resolve_links(path);
  s.shape = shape;
  const std::string at = "Could not create " + path + ": ";
  if (!hdf5_available()) return Error{ErrorKind::Output, at + hdf5_library().failure + "."};
  if (shape.pixelBytes != 2 && shape.pixelBytes != 4)
    return Error{ErrorKind::Argument, at + "pixels are 16 or 32 bits wide."};
  if (shape.chunks == StackShape::Chunks::Contiguous && shape.filter != StackShape::Filter::None)
    return Error{ErrorKind::Argument, at + "a contiguous dataset cannot be compressed (choose chunks)."};
  if (shape.frames == 0 || shape.rows == 0 || shape.columns == 0)
    return Error{ErrorKind::Argument, at + "a stack needs frames, rows and columns."};
  Lock lock;
  Id dcpl = plist(H5P_DATASET_CREATE);
  if (shape.chunks != StackShape::Chunks::Contiguous) {
    const bool tile = shape.chunks == StackShape::Chunks::Tile;
    const hsize_t chunk[3] = {tile ? std::min<hsize_t>(shape.frames, 4) : 1,
                              tile ? std::min<hsize_t>(shape.rows, 256) : shape.rows,
                              tile ? std::min<hsize_t>(shape.columns, 256) : shape.columns};
    H5Pset_chunk(dcpl.get(), 3, chunk);
  }
  if (shape.filter == StackShape::Filter::Deflate) H5Pset_deflate(dcpl.get(), 4);
  if (shape.filter == StackShape::Filter::Bitshuffle) {
    if (H5Zfilter_avail(32008) <= 0) {
      H5Eclear2(H5E_DEFAULT);
      return Error{ErrorKind::Output, at + "the bitshuffle filter (HDF5 filter 32008) cannot be found: install "
                                           "Debian's bitshuffle, or name its folder in HDF5_PLUGIN_PATH."};
    }
    const unsigned values[2] = {0, 2};  // block size chosen by the filter, LZ4
    H5Pset_filter(dcpl.get(), 32008, H5Z_FLAG_MANDATORY, 2, values);
  }
  for (int tries = 0; tries < 100 && !s.file; ++tries) {
    s.temp = hidden_temporary_name(s.target);
    if (::access(s.temp.c_str(), F_OK) == 0) continue;
    s.file = Id(H5Fcreate(s.temp.c_str(), H5F_ACC_EXCL, H5P_DEFAULT, H5P_DEFAULT), H5Fclose);
    if (!s.file) {
      const std::string why = hdf5_says();
      s.temp.clear();
      return Error{ErrorKind::Output, at + why + "."};
    }
  }
  Id lcpl = plist(H5P_LINK_CREATE);
  H5Pset_create_intermediate_group(lcpl.get(), 1);
  const hsize_t dims[3] = {shape.frames, shape.rows, shape.columns};
  Id space(H5Screate_simple(3, dims, nullptr), H5Sclose);
  s.dset = Id(H5Dcreate2(s.file.get(), dataset.c_str(), shape.pixelBytes == 2 ? H5T_STD_U16LE : H5T_STD_U32LE,
                         space.get(), lcpl.get(), dcpl.get(), H5P_DEFAULT),
              H5Dclose);
  if (!s.dset) {
    const std::string why = hdf5_says();
    s.file.reset();
    ::unlink(s.temp.c_str());
    s.temp.clear();
    return Error{ErrorKind::Output, at + why + "."};
  }
  return ok();
}

Status Hdf5StackWriter::write_frame(std::uint64_t f, const void* pixels, unsigned pixelBytes) {
  State& s = *s_;
  if (!s.dset || f >= s.shape.frames || pixelBytes != s.shape.pixelBytes)
    return Error{ErrorKind::Argument, "Could not write " + s.path + ": no frame " + std::to_string(f) + " of " +
                                          std::to_string(pixelBytes * 8) + "-bit pixels in this stack."};
  Lock lock;
  Id space(H5Dget_space(s.dset.get()), H5Sclose);
  const hsize_t start[3] = {f, 0, 0}, size[3] = {1, s.shape.rows, s.shape.columns};
  Id mem(H5Screate_simple(3, size, nullptr), H5Sclose);  // the file selection's shape: no pixel-by-pixel mapping
  if (H5Sselect_hyperslab(space.get(), H5S_SELECT_SET, start, nullptr, size, nullptr) < 0 ||
      H5Dwrite(s.dset.get(), pixelBytes == 2 ? H5T_NATIVE_UINT16 : H5T_NATIVE_UINT32, mem.get(), space.get(),
               H5P_DEFAULT, pixels) < 0)
    return Error{ErrorKind::Output, "Could not write " + s.path + ": " + hdf5_says() + "."};
  return ok();
}

Status Hdf5StackWriter::commit() {
  State& s = *s_;
  {
    Lock lock;
    s.dset.reset();
    const hid_t file = s.file.get();
    const herr_t closed = file >= 0 ? H5Fflush(file, H5F_SCOPE_LOCAL) : -1;
    s.file.reset();
    if (closed < 0) {
      const std::string why = hdf5_says();
      ::unlink(s.temp.c_str());
      s.temp.clear();
      return Error{ErrorKind::Output, "Could not write " + s.path + ": " + why + "."};
    }
  }
  if (::rename(s.temp.c_str(), s.target.c_str()) != 0) {
    const int e = errno;
    ::unlink(s.temp.c_str());
    s.temp.clear();
    return Error{ErrorKind::Output, "Could not write " + s.path + ": " + std::strerror(e) + "."};
  }
  s.temp.clear();
  return ok();
}

}  // namespace hedm

#else  // no libhdf5: every HDF5 output is refused

namespace hedm {

static Error no_hdf5_output(const std::string& path) {
  return Error{ErrorKind::Output, "Could not write " + path +
                                      ": this build cannot write HDF5 (rebuild with libhdf5-dev installed)."};
}
Status write_hdf5_frame(const std::string& path, const std::string&, const std::uint16_t*, std::uint64_t,
                        std::uint64_t, const FrameOrigin&, const Hdf5Stack*) {
  return no_hdf5_output(path);
}
Status write_hdf5_frame(const std::string& path, const std::string&, const std::uint32_t*, std::uint64_t,
                        std::uint64_t, const FrameOrigin&, const Hdf5Stack*) {
  return no_hdf5_output(path);
}
struct Hdf5StackWriter::State {
  std::string path;
};
Hdf5StackWriter::Hdf5StackWriter() : s_(std::make_unique<State>()) {}
Hdf5StackWriter::~Hdf5StackWriter() = default;
void Hdf5StackWriter::discard() {}
Status Hdf5StackWriter::create(const std::string& path, const std::string&, const StackShape&) {
  s_->path = path;
  return no_hdf5_output(path);
}
Status Hdf5StackWriter::write_frame(std::uint64_t, const void*, unsigned) { return no_hdf5_output(s_->path); }
Status Hdf5StackWriter::commit() { return no_hdf5_output(s_->path); }

}  // namespace hedm

#endif
