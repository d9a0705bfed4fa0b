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

// The functions and the identifiers (global variables of the library) that
// the layer uses.
#define HEDM_HDF5_FUNCTIONS(F) \
  F(H5open) F(H5Aclose) F(H5Acreate2) F(H5Aexists) F(H5Awrite) F(H5Dclose) F(H5Dcreate2) F(H5Dget_create_plist) \
  F(H5Dget_space) F(H5Dget_type) F(H5Dopen2) F(H5Dread) F(H5Dwrite) F(H5Eclear2) F(H5Eset_auto2) F(H5Ewalk2) \
  F(H5Fclose) F(H5Fcreate) F(H5Fflush) F(H5Fget_file_image) F(H5Fget_name) F(H5Fis_hdf5) F(H5Fopen) \
  F(H5Gclose) F(H5Gopen2) F(H5Ldelete) F(H5Lexists) F(H5Lget_info) F(H5Lget_val) F(H5Literate) \
  F(H5Lunpack_elink_val) F(H5Oclose) F(H5Oopen) \
  F(H5Pclose) F(H5Pcreate) F(H5Pget_chunk) F(H5Pget_filter2) F(H5Pget_layout) F(H5Pget_nfilters) F(H5Pset_chunk) \
  F(H5Pset_chunk_cache) F(H5Pset_create_intermediate_group) F(H5Pset_deflate) F(H5Pset_fapl_core) \
  F(H5Pset_filter) F(H5Pset_obj_track_times) F(H5Sclose) \
  F(H5Screate) F(H5Screate_simple) F(H5Sget_simple_extent_dims) F(H5Sget_simple_extent_ndims) \
  F(H5Sselect_hyperslab) F(H5Tclose) F(H5Tcopy) F(H5Tget_class) F(H5Tget_sign) F(H5Tget_size) F(H5Tset_cset) \
  F(H5Tset_size) F(H5Zfilter_avail) \
  F(H5Aopen) F(H5Aread) F(H5Aget_space) F(H5Aget_type) F(H5Tis_variable_str) F(H5Tget_native_type) F(H5free_memory) \
  F(H5Dget_offset) F(H5Tget_order) F(H5Fget_create_plist) F(H5Pget_userblock) F(H5Dget_storage_size)
// Found where the library has them (1.10.5 on): without them every chunk is
// read through the library.
#define HEDM_HDF5_OPTIONAL(F) F(H5Dget_chunk_info_by_coord) F(H5Dread_chunk)
#define HEDM_HDF5_IDS(G) \
  G(H5P_CLS_DATASET_ACCESS_ID_g) G(H5P_CLS_DATASET_CREATE_ID_g) G(H5P_CLS_FILE_ACCESS_ID_g) \
  G(H5P_CLS_LINK_CREATE_ID_g) G(H5T_NATIVE_INT32_g) G(H5T_NATIVE_UINT16_g) G(H5T_NATIVE_UINT32_g) \
  G(H5T_NATIVE_UINT64_g) G(H5T_STD_I32LE_g) G(H5T_STD_U16LE_g) G(H5T_STD_U32LE_g) G(H5T_STD_U64LE_g) \
  G(H5T_C_S1_g)

struct Hdf5Library {
#define HEDM_FIELD(f) decltype(&::f) f = nullptr;
  HEDM_HDF5_FUNCTIONS(HEDM_FIELD)
  HEDM_HDF5_OPTIONAL(HEDM_FIELD)
#undef HEDM_FIELD
#define HEDM_ID(g) const hid_t* g = nullptr;
  HEDM_HDF5_IDS(HEDM_ID)
#undef HEDM_ID
#if H5_VERSION_GE(1, 12, 0)
  decltype(&::H5Oget_info3) H5Oget_info3 = nullptr;
#else
  decltype(&::H5Oget_info2) H5Oget_info2 = nullptr;
#endif
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
#define HEDM_FIND(name) find(#name, &lib.name);
    HEDM_HDF5_FUNCTIONS(HEDM_FIND)
    HEDM_HDF5_IDS(HEDM_FIND)
#undef HEDM_FIND
#define HEDM_FIND_OPTIONAL(name) \
  lib.name = reinterpret_cast<decltype(lib.name)>(::dlsym(so, #name));
    HEDM_HDF5_OPTIONAL(HEDM_FIND_OPTIONAL)
#undef HEDM_FIND_OPTIONAL
#if H5_VERSION_GE(1, 12, 0)
    find("H5Oget_info3", &lib.H5Oget_info3);
#else
    find("H5Oget_info2", &lib.H5Oget_info2);
#endif
    if (lib.failure.empty() && lib.H5open() < 0) lib.failure = "the HDF5 library could not start";
  });
  return lib;
}

// Whether the library can say where each chunk lies and hand a chunk's
// stored bytes over as they are (1.10.5 on).
inline bool hdf5_reads_chunks_raw() {
  return hdf5_library().H5Dget_chunk_info_by_coord != nullptr && hdf5_library().H5Dread_chunk != nullptr;
}

}  // namespace hedm::hdf5_detail

// From here on every use of these names goes through the loaded library.
// The library was started (H5open) when it was loaded, and it is the one
// whose soname the build found beside these headers (no version is checked
// at run time): the header's H5CHECK and H5OPEN are not needed again.
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
#undef H5Aexists
#define H5Aexists (hedm::hdf5_detail::hdf5_library().H5Aexists)
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
#undef H5Ldelete
#define H5Ldelete (hedm::hdf5_detail::hdf5_library().H5Ldelete)
#undef H5Lexists
#define H5Lexists (hedm::hdf5_detail::hdf5_library().H5Lexists)
#undef H5Lget_info
#define H5Lget_info (hedm::hdf5_detail::hdf5_library().H5Lget_info)
#undef H5Lget_val
#define H5Lget_val (hedm::hdf5_detail::hdf5_library().H5Lget_val)
#undef H5Lunpack_elink_val
#define H5Lunpack_elink_val (hedm::hdf5_detail::hdf5_library().H5Lunpack_elink_val)
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
#undef H5Pset_obj_track_times
#define H5Pset_obj_track_times (hedm::hdf5_detail::hdf5_library().H5Pset_obj_track_times)
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
#undef H5Aopen
#define H5Aopen (hedm::hdf5_detail::hdf5_library().H5Aopen)
#undef H5Aread
#define H5Aread (hedm::hdf5_detail::hdf5_library().H5Aread)
#undef H5Aget_space
#define H5Aget_space (hedm::hdf5_detail::hdf5_library().H5Aget_space)
#undef H5Aget_type
#define H5Aget_type (hedm::hdf5_detail::hdf5_library().H5Aget_type)
#undef H5Tis_variable_str
#define H5Tis_variable_str (hedm::hdf5_detail::hdf5_library().H5Tis_variable_str)
#undef H5Tget_native_type
#define H5Tget_native_type (hedm::hdf5_detail::hdf5_library().H5Tget_native_type)
#undef H5free_memory
#define H5free_memory (hedm::hdf5_detail::hdf5_library().H5free_memory)
#undef H5Dget_offset
#define H5Dget_offset (hedm::hdf5_detail::hdf5_library().H5Dget_offset)
#undef H5Tget_order
#define H5Tget_order (hedm::hdf5_detail::hdf5_library().H5Tget_order)
#undef H5Fget_create_plist
#define H5Fget_create_plist (hedm::hdf5_detail::hdf5_library().H5Fget_create_plist)
#undef H5Pget_userblock
#define H5Pget_userblock (hedm::hdf5_detail::hdf5_library().H5Pget_userblock)
#undef H5Dget_storage_size
#define H5Dget_storage_size (hedm::hdf5_detail::hdf5_library().H5Dget_storage_size)
#undef H5Dget_chunk_info_by_coord
#define H5Dget_chunk_info_by_coord (hedm::hdf5_detail::hdf5_library().H5Dget_chunk_info_by_coord)
#undef H5Dread_chunk
#define H5Dread_chunk (hedm::hdf5_detail::hdf5_library().H5Dread_chunk)
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
