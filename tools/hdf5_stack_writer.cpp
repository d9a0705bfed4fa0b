// A made-up HDF5 stack written frame by frame (hedm-sample-data, the
// tests): a hidden file beside the destination, renamed over it once
// every frame is there.
#include "hdf5_stack_writer.hpp"

#include "hdf5_stack.hpp"

#ifdef HEDM_HAVE_HDF5

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "hdf5_detail.hpp"
#include "output_file.hpp"

namespace hedm {

using namespace hdf5_detail;

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
  if (!hdf5_available()) return output_error(at + hdf5_library().failure + ".");
  if (shape.pixelBytes != 2 && shape.pixelBytes != 4)
    return argument_error(at + "pixels are 16 or 32 bits wide.");
  if (shape.chunks == StackShape::Chunks::Contiguous && shape.filter != StackShape::Filter::None)
    return argument_error(at + "a contiguous dataset cannot be compressed (choose chunks).");
  if (shape.frames == 0 || shape.rows == 0 || shape.columns == 0)
    return argument_error(at + "a stack needs frames, rows and columns.");
  Lock lock;
  Id dcpl = plist(H5P_DATASET_CREATE);
  H5Pset_obj_track_times(dcpl.get(), 0);  // the same stack, the same bytes
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
      return output_error(at + "the bitshuffle filter (HDF5 filter 32008) cannot be found: install "
                                           "Debian's bitshuffle, or name its folder in HDF5_PLUGIN_PATH.");
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
      return output_error(at + why + ".");
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
    return output_error(at + why + ".");
  }
  return ok();
}

Status Hdf5StackWriter::write_frame(std::uint64_t f, const void* pixels, unsigned pixelBytes) {
  State& s = *s_;
  if (!s.dset || f >= s.shape.frames || pixelBytes != s.shape.pixelBytes)
    return argument_error("Could not write " + s.path + ": no frame " + std::to_string(f) + " of " +
                                          std::to_string(pixelBytes * 8) + "-bit pixels in this stack.");
  Lock lock;
  Id space(H5Dget_space(s.dset.get()), H5Sclose);
  const hsize_t start[3] = {f, 0, 0}, size[3] = {1, s.shape.rows, s.shape.columns};
  Id mem(H5Screate_simple(3, size, nullptr), H5Sclose);  // the file selection's shape: no pixel-by-pixel mapping
  if (H5Sselect_hyperslab(space.get(), H5S_SELECT_SET, start, nullptr, size, nullptr) < 0 ||
      H5Dwrite(s.dset.get(), pixelBytes == 2 ? H5T_NATIVE_UINT16 : H5T_NATIVE_UINT32, mem.get(), space.get(),
               H5P_DEFAULT, pixels) < 0)
    return output_error("Could not write " + s.path + ": " + hdf5_says() + ".");
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
      return output_error("Could not write " + s.path + ": " + why + ".");
    }
  }
  if (::rename(s.temp.c_str(), s.target.c_str()) != 0) {
    const int e = errno;
    ::unlink(s.temp.c_str());
    s.temp.clear();
    return output_error("Could not write " + s.path + ": " + std::strerror(e) + ".");
  }
  s.temp.clear();
  return ok();
}

}  // namespace hedm

#else  // no libhdf5: every HDF5 output is refused

namespace hedm {

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
