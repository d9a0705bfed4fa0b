// libhdf5, loaded when the first HDF5 stack is opened, not when a program
// starts: the library and the thirty-odd libraries it needs in turn (curl,
// TLS, Kerberos, LDAP) would otherwise be loaded by every run of the
// programs, frame files only included.  Included by the HDF5 layer's own
// files alone, after <hdf5.h>: each HDF5 function and property or type identifier the
// layer uses is reached through the loaded library, under its own name.
#pragma once

#include <dlfcn.h>

#include <mutex>
#include <string>
#include <type_traits>

namespace hedm::hdf5_detail {

struct Hdf5Library {
  decltype(&::H5open) H5open = nullptr;
  decltype(&::H5Aclose) H5Aclose = nullptr;
  decltype(&::H5Acreate2) H5Acreate2 = nullptr;
  decltype(&::H5Awrite) H5Awrite = nullptr;
  decltype(&::H5Dclose) H5Dclose = nullptr;
  decltype(&::H5Dcreate2) H5Dcreate2 = nullptr;
  decltype(&::H5Dget_create_plist) H5Dget_create_plist = nullptr;
  decltype(&::H5Dget_space) H5Dget_space = nullptr;
  decltype(&::H5Dget_type) H5Dget_type = nullptr;
  decltype(&::H5Dopen2) H5Dopen2 = nullptr;
  decltype(&::H5Dread) H5Dread = nullptr;
  decltype(&::H5Dwrite) H5Dwrite = nullptr;
  decltype(&::H5Eclear2) H5Eclear2 = nullptr;
  decltype(&::H5Eset_auto2) H5Eset_auto2 = nullptr;
  decltype(&::H5Ewalk2) H5Ewalk2 = nullptr;
  decltype(&::H5Fclose) H5Fclose = nullptr;
  decltype(&::H5Fcreate) H5Fcreate = nullptr;
  decltype(&::H5Fflush) H5Fflush = nullptr;
  decltype(&::H5Fget_file_image) H5Fget_file_image = nullptr;
  decltype(&::H5Fget_name) H5Fget_name = nullptr;
  decltype(&::H5Fis_hdf5) H5Fis_hdf5 = nullptr;
  decltype(&::H5Fopen) H5Fopen = nullptr;
  decltype(&::H5Gclose) H5Gclose = nullptr;
  decltype(&::H5Gopen2) H5Gopen2 = nullptr;
  decltype(&::H5Lexists) H5Lexists = nullptr;
  decltype(&::H5Literate) H5Literate = nullptr;
  decltype(&::H5Oclose) H5Oclose = nullptr;
  decltype(&::H5Oopen) H5Oopen = nullptr;
  decltype(&::H5Pclose) H5Pclose = nullptr;
  decltype(&::H5Pcreate) H5Pcreate = nullptr;
  decltype(&::H5Pget_chunk) H5Pget_chunk = nullptr;
  decltype(&::H5Pget_filter2) H5Pget_filter2 = nullptr;
  decltype(&::H5Pget_layout) H5Pget_layout = nullptr;
  decltype(&::H5Pget_nfilters) H5Pget_nfilters = nullptr;
  decltype(&::H5Pset_chunk) H5Pset_chunk = nullptr;
  decltype(&::H5Pset_chunk_cache) H5Pset_chunk_cache = nullptr;
  decltype(&::H5Pset_create_intermediate_group) H5Pset_create_intermediate_group = nullptr;
  decltype(&::H5Pset_deflate) H5Pset_deflate = nullptr;
  decltype(&::H5Pset_fapl_core) H5Pset_fapl_core = nullptr;
  decltype(&::H5Pset_filter) H5Pset_filter = nullptr;
  decltype(&::H5Sclose) H5Sclose = nullptr;
  decltype(&::H5Screate) H5Screate = nullptr;
  decltype(&::H5Screate_simple) H5Screate_simple = nullptr;
  decltype(&::H5Sget_simple_extent_dims) H5Sget_simple_extent_dims = nullptr;
  decltype(&::H5Sget_simple_extent_ndims) H5Sget_simple_extent_ndims = nullptr;
  decltype(&::H5Sselect_hyperslab) H5Sselect_hyperslab = nullptr;
  decltype(&::H5Tclose) H5Tclose = nullptr;
  decltype(&::H5Tcopy) H5Tcopy = nullptr;
  decltype(&::H5Tget_class) H5Tget_class = nullptr;
  decltype(&::H5Tget_sign) H5Tget_sign = nullptr;
  decltype(&::H5Tget_size) H5Tget_size = nullptr;
  decltype(&::H5Tset_cset) H5Tset_cset = nullptr;
  decltype(&::H5Tset_size) H5Tset_size = nullptr;
  decltype(&::H5Zfilter_avail) H5Zfilter_avail = nullptr;
#if H5_VERSION_GE(1, 12, 0)
  decltype(&::H5Oget_info3) H5Oget_info3 = nullptr;
#else
  decltype(&::H5Oget_info2) H5Oget_info2 = nullptr;
#endif
  const hid_t* H5P_CLS_DATASET_ACCESS_ID_g = nullptr;
  const hid_t* H5P_CLS_DATASET_CREATE_ID_g = nullptr;
  const hid_t* H5P_CLS_FILE_ACCESS_ID_g = nullptr;
  const hid_t* H5P_CLS_LINK_CREATE_ID_g = nullptr;
  const hid_t* H5T_NATIVE_INT32_g = nullptr;
  const hid_t* H5T_NATIVE_UINT16_g = nullptr;
  const hid_t* H5T_NATIVE_UINT32_g = nullptr;
  const hid_t* H5T_NATIVE_UINT64_g = nullptr;
  const hid_t* H5T_STD_I32LE_g = nullptr;
  const hid_t* H5T_STD_U16LE_g = nullptr;
  const hid_t* H5T_STD_U32LE_g = nullptr;
  const hid_t* H5T_STD_U64LE_g = nullptr;
  const hid_t* H5T_C_S1_g = nullptr;
  std::string failure;  // why the library could not be loaded, else empty
};

// The library, loaded once for the process; its `failure` says why when it
// could not be.
inline const Hdf5Library& hdf5_library() {
  static Hdf5Library lib;
  static std::once_flag once;
  std::call_once(once, [] {
    void* so = ::dlopen(HEDM_HDF5_SONAME, RTLD_NOW | RTLD_LOCAL);
    if (!so) {
      lib.failure = std::string("the HDF5 library ") + HEDM_HDF5_SONAME + " could not be loaded (" + ::dlerror() +
                    "; apt-get install libhdf5-dev)";
      return;
    }
    auto find = [&](const char* name, auto* slot) {
      *slot = reinterpret_cast<std::remove_reference_t<decltype(*slot)>>(::dlsym(so, name));
      if (!*slot && lib.failure.empty()) lib.failure = std::string("the HDF5 library lacks ") + name;
    };
    find("H5open", &lib.H5open);
    find("H5Aclose", &lib.H5Aclose);
    find("H5Acreate2", &lib.H5Acreate2);
    find("H5Awrite", &lib.H5Awrite);
    find("H5Dclose", &lib.H5Dclose);
    find("H5Dcreate2", &lib.H5Dcreate2);
    find("H5Dget_create_plist", &lib.H5Dget_create_plist);
    find("H5Dget_space", &lib.H5Dget_space);
    find("H5Dget_type", &lib.H5Dget_type);
    find("H5Dopen2", &lib.H5Dopen2);
    find("H5Dread", &lib.H5Dread);
    find("H5Dwrite", &lib.H5Dwrite);
    find("H5Eclear2", &lib.H5Eclear2);
    find("H5Eset_auto2", &lib.H5Eset_auto2);
    find("H5Ewalk2", &lib.H5Ewalk2);
    find("H5Fclose", &lib.H5Fclose);
    find("H5Fcreate", &lib.H5Fcreate);
    find("H5Fflush", &lib.H5Fflush);
    find("H5Fget_file_image", &lib.H5Fget_file_image);
    find("H5Fget_name", &lib.H5Fget_name);
    find("H5Fis_hdf5", &lib.H5Fis_hdf5);
    find("H5Fopen", &lib.H5Fopen);
    find("H5Gclose", &lib.H5Gclose);
    find("H5Gopen2", &lib.H5Gopen2);
    find("H5Lexists", &lib.H5Lexists);
    find("H5Literate", &lib.H5Literate);
    find("H5Oclose", &lib.H5Oclose);
    find("H5Oopen", &lib.H5Oopen);
    find("H5Pclose", &lib.H5Pclose);
    find("H5Pcreate", &lib.H5Pcreate);
    find("H5Pget_chunk", &lib.H5Pget_chunk);
    find("H5Pget_filter2", &lib.H5Pget_filter2);
    find("H5Pget_layout", &lib.H5Pget_layout);
    find("H5Pget_nfilters", &lib.H5Pget_nfilters);
    find("H5Pset_chunk", &lib.H5Pset_chunk);
    find("H5Pset_chunk_cache", &lib.H5Pset_chunk_cache);
    find("H5Pset_create_intermediate_group", &lib.H5Pset_create_intermediate_group);
    find("H5Pset_deflate", &lib.H5Pset_deflate);
    find("H5Pset_fapl_core", &lib.H5Pset_fapl_core);
    find("H5Pset_filter", &lib.H5Pset_filter);
    find("H5Sclose", &lib.H5Sclose);
    find("H5Screate", &lib.H5Screate);
    find("H5Screate_simple", &lib.H5Screate_simple);
    find("H5Sget_simple_extent_dims", &lib.H5Sget_simple_extent_dims);
    find("H5Sget_simple_extent_ndims", &lib.H5Sget_simple_extent_ndims);
    find("H5Sselect_hyperslab", &lib.H5Sselect_hyperslab);
    find("H5Tclose", &lib.H5Tclose);
    find("H5Tcopy", &lib.H5Tcopy);
    find("H5Tget_class", &lib.H5Tget_class);
    find("H5Tget_sign", &lib.H5Tget_sign);
    find("H5Tget_size", &lib.H5Tget_size);
    find("H5Tset_cset", &lib.H5Tset_cset);
    find("H5Tset_size", &lib.H5Tset_size);
    find("H5Zfilter_avail", &lib.H5Zfilter_avail);
#if H5_VERSION_GE(1, 12, 0)
    find("H5Oget_info3", &lib.H5Oget_info3);
#else
    find("H5Oget_info2", &lib.H5Oget_info2);
#endif
    find("H5P_CLS_DATASET_ACCESS_ID_g", &lib.H5P_CLS_DATASET_ACCESS_ID_g);
    find("H5P_CLS_DATASET_CREATE_ID_g", &lib.H5P_CLS_DATASET_CREATE_ID_g);
    find("H5P_CLS_FILE_ACCESS_ID_g", &lib.H5P_CLS_FILE_ACCESS_ID_g);
    find("H5P_CLS_LINK_CREATE_ID_g", &lib.H5P_CLS_LINK_CREATE_ID_g);
    find("H5T_NATIVE_INT32_g", &lib.H5T_NATIVE_INT32_g);
    find("H5T_NATIVE_UINT16_g", &lib.H5T_NATIVE_UINT16_g);
    find("H5T_NATIVE_UINT32_g", &lib.H5T_NATIVE_UINT32_g);
    find("H5T_NATIVE_UINT64_g", &lib.H5T_NATIVE_UINT64_g);
    find("H5T_STD_I32LE_g", &lib.H5T_STD_I32LE_g);
    find("H5T_STD_U16LE_g", &lib.H5T_STD_U16LE_g);
    find("H5T_STD_U32LE_g", &lib.H5T_STD_U32LE_g);
    find("H5T_STD_U64LE_g", &lib.H5T_STD_U64LE_g);
    find("H5T_C_S1_g", &lib.H5T_C_S1_g);
    if (lib.failure.empty() && lib.H5open() < 0) lib.failure = "the HDF5 library could not start";
  });
  return lib;
}

}  // namespace hedm::hdf5_detail

// From here on every use of these names goes through the loaded library.
// The library was started (H5open) and its version checked when it was
// loaded: the header's constants need neither again.
#undef H5CHECK
#define H5CHECK
#undef H5OPEN
#define H5OPEN
#undef H5open
#define H5open (hedm::hdf5_detail::hdf5_library().H5open)
#undef H5Aclose
#define H5Aclose (hedm::hdf5_detail::hdf5_library().H5Aclose)
#undef H5Acreate2
#define H5Acreate2 (hedm::hdf5_detail::hdf5_library().H5Acreate2)
#undef H5Awrite
#define H5Awrite (hedm::hdf5_detail::hdf5_library().H5Awrite)
#undef H5Dclose
#define H5Dclose (hedm::hdf5_detail::hdf5_library().H5Dclose)
#undef H5Dcreate2
#define H5Dcreate2 (hedm::hdf5_detail::hdf5_library().H5Dcreate2)
#undef H5Dget_create_plist
#define H5Dget_create_plist (hedm::hdf5_detail::hdf5_library().H5Dget_create_plist)
#undef H5Dget_space
#define H5Dget_space (hedm::hdf5_detail::hdf5_library().H5Dget_space)
#undef H5Dget_type
#define H5Dget_type (hedm::hdf5_detail::hdf5_library().H5Dget_type)
#undef H5Dopen2
#define H5Dopen2 (hedm::hdf5_detail::hdf5_library().H5Dopen2)
#undef H5Dread
#define H5Dread (hedm::hdf5_detail::hdf5_library().H5Dread)
#undef H5Dwrite
#define H5Dwrite (hedm::hdf5_detail::hdf5_library().H5Dwrite)
#undef H5Eclear2
#define H5Eclear2 (hedm::hdf5_detail::hdf5_library().H5Eclear2)
#undef H5Eset_auto2
#define H5Eset_auto2 (hedm::hdf5_detail::hdf5_library().H5Eset_auto2)
#undef H5Ewalk2
#define H5Ewalk2 (hedm::hdf5_detail::hdf5_library().H5Ewalk2)
#undef H5Fclose
#define H5Fclose (hedm::hdf5_detail::hdf5_library().H5Fclose)
#undef H5Fcreate
#define H5Fcreate (hedm::hdf5_detail::hdf5_library().H5Fcreate)
#undef H5Fflush
#define H5Fflush (hedm::hdf5_detail::hdf5_library().H5Fflush)
#undef H5Fget_file_image
#define H5Fget_file_image (hedm::hdf5_detail::hdf5_library().H5Fget_file_image)
#undef H5Fget_name
#define H5Fget_name (hedm::hdf5_detail::hdf5_library().H5Fget_name)
#undef H5Fis_hdf5
#define H5Fis_hdf5 (hedm::hdf5_detail::hdf5_library().H5Fis_hdf5)
#undef H5Fopen
#define H5Fopen (hedm::hdf5_detail::hdf5_library().H5Fopen)
#undef H5Gclose
#define H5Gclose (hedm::hdf5_detail::hdf5_library().H5Gclose)
#undef H5Gopen2
#define H5Gopen2 (hedm::hdf5_detail::hdf5_library().H5Gopen2)
#undef H5Lexists
#define H5Lexists (hedm::hdf5_detail::hdf5_library().H5Lexists)
#undef H5Literate
#define H5Literate (hedm::hdf5_detail::hdf5_library().H5Literate)
#undef H5Oclose
#define H5Oclose (hedm::hdf5_detail::hdf5_library().H5Oclose)
#undef H5Oopen
#define H5Oopen (hedm::hdf5_detail::hdf5_library().H5Oopen)
#undef H5Pclose
#define H5Pclose (hedm::hdf5_detail::hdf5_library().H5Pclose)
#undef H5Pcreate
#define H5Pcreate (hedm::hdf5_detail::hdf5_library().H5Pcreate)
#undef H5Pget_chunk
#define H5Pget_chunk (hedm::hdf5_detail::hdf5_library().H5Pget_chunk)
#undef H5Pget_filter2
#define H5Pget_filter2 (hedm::hdf5_detail::hdf5_library().H5Pget_filter2)
#undef H5Pget_layout
#define H5Pget_layout (hedm::hdf5_detail::hdf5_library().H5Pget_layout)
#undef H5Pget_nfilters
#define H5Pget_nfilters (hedm::hdf5_detail::hdf5_library().H5Pget_nfilters)
#undef H5Pset_chunk
#define H5Pset_chunk (hedm::hdf5_detail::hdf5_library().H5Pset_chunk)
#undef H5Pset_chunk_cache
#define H5Pset_chunk_cache (hedm::hdf5_detail::hdf5_library().H5Pset_chunk_cache)
#undef H5Pset_create_intermediate_group
#define H5Pset_create_intermediate_group (hedm::hdf5_detail::hdf5_library().H5Pset_create_intermediate_group)
#undef H5Pset_deflate
#define H5Pset_deflate (hedm::hdf5_detail::hdf5_library().H5Pset_deflate)
#undef H5Pset_fapl_core
#define H5Pset_fapl_core (hedm::hdf5_detail::hdf5_library().H5Pset_fapl_core)
#undef H5Pset_filter
#define H5Pset_filter (hedm::hdf5_detail::hdf5_library().H5Pset_filter)
#undef H5Sclose
#define H5Sclose (hedm::hdf5_detail::hdf5_library().H5Sclose)
#undef H5Screate
#define H5Screate (hedm::hdf5_detail::hdf5_library().H5Screate)
#undef H5Screate_simple
#define H5Screate_simple (hedm::hdf5_detail::hdf5_library().H5Screate_simple)
#undef H5Sget_simple_extent_dims
#define H5Sget_simple_extent_dims (hedm::hdf5_detail::hdf5_library().H5Sget_simple_extent_dims)
#undef H5Sget_simple_extent_ndims
#define H5Sget_simple_extent_ndims (hedm::hdf5_detail::hdf5_library().H5Sget_simple_extent_ndims)
#undef H5Sselect_hyperslab
#define H5Sselect_hyperslab (hedm::hdf5_detail::hdf5_library().H5Sselect_hyperslab)
#undef H5Tclose
#define H5Tclose (hedm::hdf5_detail::hdf5_library().H5Tclose)
#undef H5Tcopy
#define H5Tcopy (hedm::hdf5_detail::hdf5_library().H5Tcopy)
#undef H5Tget_class
#define H5Tget_class (hedm::hdf5_detail::hdf5_library().H5Tget_class)
#undef H5Tget_sign
#define H5Tget_sign (hedm::hdf5_detail::hdf5_library().H5Tget_sign)
#undef H5Tget_size
#define H5Tget_size (hedm::hdf5_detail::hdf5_library().H5Tget_size)
#undef H5Tset_cset
#define H5Tset_cset (hedm::hdf5_detail::hdf5_library().H5Tset_cset)
#undef H5Tset_size
#define H5Tset_size (hedm::hdf5_detail::hdf5_library().H5Tset_size)
#undef H5Zfilter_avail
#define H5Zfilter_avail (hedm::hdf5_detail::hdf5_library().H5Zfilter_avail)
#if H5_VERSION_GE(1, 12, 0)
#undef H5Oget_info3
#define H5Oget_info3 (hedm::hdf5_detail::hdf5_library().H5Oget_info3)
#else
#undef H5Oget_info2
#define H5Oget_info2 (hedm::hdf5_detail::hdf5_library().H5Oget_info2)
#endif
#undef H5P_DATASET_ACCESS
#define H5P_DATASET_ACCESS (*hedm::hdf5_detail::hdf5_library().H5P_CLS_DATASET_ACCESS_ID_g)
#undef H5P_DATASET_CREATE
#define H5P_DATASET_CREATE (*hedm::hdf5_detail::hdf5_library().H5P_CLS_DATASET_CREATE_ID_g)
#undef H5P_FILE_ACCESS
#define H5P_FILE_ACCESS (*hedm::hdf5_detail::hdf5_library().H5P_CLS_FILE_ACCESS_ID_g)
#undef H5P_LINK_CREATE
#define H5P_LINK_CREATE (*hedm::hdf5_detail::hdf5_library().H5P_CLS_LINK_CREATE_ID_g)
#undef H5T_NATIVE_INT32
#define H5T_NATIVE_INT32 (*hedm::hdf5_detail::hdf5_library().H5T_NATIVE_INT32_g)
#undef H5T_NATIVE_UINT16
#define H5T_NATIVE_UINT16 (*hedm::hdf5_detail::hdf5_library().H5T_NATIVE_UINT16_g)
#undef H5T_NATIVE_UINT32
#define H5T_NATIVE_UINT32 (*hedm::hdf5_detail::hdf5_library().H5T_NATIVE_UINT32_g)
#undef H5T_NATIVE_UINT64
#define H5T_NATIVE_UINT64 (*hedm::hdf5_detail::hdf5_library().H5T_NATIVE_UINT64_g)
#undef H5T_STD_I32LE
#define H5T_STD_I32LE (*hedm::hdf5_detail::hdf5_library().H5T_STD_I32LE_g)
#undef H5T_STD_U16LE
#define H5T_STD_U16LE (*hedm::hdf5_detail::hdf5_library().H5T_STD_U16LE_g)
#undef H5T_STD_U32LE
#define H5T_STD_U32LE (*hedm::hdf5_detail::hdf5_library().H5T_STD_U32LE_g)
#undef H5T_STD_U64LE
#define H5T_STD_U64LE (*hedm::hdf5_detail::hdf5_library().H5T_STD_U64LE_g)
#undef H5T_C_S1
#define H5T_C_S1 (*hedm::hdf5_detail::hdf5_library().H5T_C_S1_g)
