#include "hdf5_pixel_mask.hpp"

#include "hdf5_stack.hpp"

#ifdef HEDM_HAVE_HDF5

#include <algorithm>

#include "hdf5_detail.hpp"

namespace hedm {

using namespace hdf5_detail;

namespace {

// The mask at `path` of the open `file`, as `m` takes it.  Under the lock.
void load_mask(hid_t file, const std::string& name, const std::string& path, std::uint64_t rows,
               std::uint64_t columns, PixelMask& m) {
  m.dataset = path;
  const std::string not_used = ": its masked pixels are not left out.";
  Id dset(H5Dopen2(file, path.c_str(), H5P_DEFAULT), H5Dclose);
  const std::vector<hsize_t> dims = dset ? dims_of(dset.get()) : std::vector<hsize_t>{};
  if (dims.size() != 2 || dims[0] != rows || dims[1] != columns) {
    H5Eclear2(H5E_DEFAULT);
    m.warning = "Warning: " + name + "::" + path + " is " + shape_text(dims) + ", not the frame's " +
                std::to_string(rows) + " x " + std::to_string(columns) + not_used;
    return;
  }
  Id type(H5Dget_type(dset.get()), H5Tclose);
  const H5T_class_t cls = type ? H5Tget_class(type.get()) : H5T_NO_CLASS;
  if (cls != H5T_INTEGER && cls != H5T_ENUM) {  // h5py writes numpy's booleans as an enum
    m.warning = "Warning: " + name + "::" + path + " holds " + (type ? type_text(type.get()) : "no type") +
                " values, not integers" + not_used;
    return;
  }
  // Read in the stored type, byte for byte: a pixel is masked where any
  // byte of its value is nonzero, whatever the width or the sign.
  Id native(H5Tget_native_type(type.get(), H5T_DIR_ASCEND), H5Tclose);
  const std::size_t width = native ? H5Tget_size(native.get()) : 0;
  std::vector<unsigned char> raw(rows * columns * width);
  if (width == 0 || H5Dread(dset.get(), native.get(), H5S_ALL, H5S_ALL, H5P_DEFAULT, raw.data()) < 0) {
    m.warning = "Warning: " + name + "::" + path + " cannot be read (" + hdf5_says() + ")" + not_used;
    return;
  }
  m.masked.assign(rows * columns, 0);
  for (std::size_t k = 0; k < m.masked.size(); ++k)
    m.masked[k] = std::any_of(raw.begin() + k * width, raw.begin() + (k + 1) * width, [](unsigned char b) { return b; });
}

}  // namespace

PixelMask read_pixel_mask(const std::string& file, const std::string& dataset, std::uint64_t rows,
                          std::uint64_t columns) {
  PixelMask m;
  const std::size_t slash = dataset.find('/', 1);
  if (!hdf5_available() || dataset.size() < 2 || slash == std::string::npos) return m;  // no entry group
  const std::string instrument = dataset.substr(0, slash) + "/instrument";
  Lock lock;
  Id f(H5Fopen(file.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT), H5Fclose);
  H5O_type_t type = H5O_TYPE_UNKNOWN;
  if (!f || identity(f.get(), instrument.c_str(), &type).empty() || type != H5O_TYPE_GROUP) {
    H5Eclear2(H5E_DEFAULT);
    return m;
  }
  Id group(H5Gopen2(f.get(), instrument.c_str(), H5P_DEFAULT), H5Gclose);
  if (!group) return m;
  for (const std::string& detector : link_names(group.get()))
    for (const char* tail : {"/pixel_mask", "/detectorSpecific/pixel_mask"}) {
      const std::string path = instrument + "/" + detector + tail;
      if (identity(f.get(), path.c_str(), &type).empty() || type != H5O_TYPE_DATASET) {
        H5Eclear2(H5E_DEFAULT);
        continue;
      }
      load_mask(f.get(), file, path, rows, columns, m);
      return m;
    }
  return m;
}

}  // namespace hedm

#else  // no libhdf5: no HDF5 stack, no mask

namespace hedm {
PixelMask read_pixel_mask(const std::string&, const std::string&, std::uint64_t, std::uint64_t) { return {}; }
}  // namespace hedm

#endif
