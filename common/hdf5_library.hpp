// libhdf5, loaded when the first HDF5 stack is opened, not when a program
// starts: the library and the thirty-odd libraries it needs in turn (curl,
// TLS, Kerberos, LDAP) would otherwise be loaded by every run of the
// programs, frame files only included.  Included by the HDF5 layer's own
// files alone, after <hdf5.h>: each HDF5 function and property or type
// identifier the layer uses is reached through the loaded library, under its
// own name, by code in namespace hedm (or with hdf5_detail's names in view).
#pragma once

#include <dlfcn.h>

#include <mutex>
#include <string>
#include <type_traits>

namespace hedm::hdf5_detail {

// The functions and the identifiers (global variables of the library) that
// the layer uses: the one list of them, which both loads them and names
// them for the layer's calls.  A function the layer starts to use is added
// here, and nowhere else.
#if H5_VERSION_GE(1, 12, 0)
#define HEDM_HDF5_OBJECT_INFO(F) F(H5Oget_info3)
#else
#define HEDM_HDF5_OBJECT_INFO(F) F(H5Oget_info2)
#endif
#define HEDM_HDF5_FUNCTIONS(F) \
  F(H5open) F(H5Aclose) F(H5Acreate2) F(H5Aexists) F(H5Awrite) F(H5Dclose) F(H5Dcreate2) F(H5Dget_create_plist) \
  F(H5Dget_space) F(H5Dget_type) F(H5Dopen2) F(H5Dread) F(H5Dwrite) F(H5Eclear2) F(H5Eset_auto2) F(H5Ewalk2) \
  F(H5Fclose) F(H5Iget_file_id) F(H5Fcreate) F(H5Fflush) F(H5Fget_file_image) F(H5Fget_name) F(H5Fis_hdf5) F(H5Fopen) \
  F(H5Gclose) F(H5Gopen2) F(H5Ldelete) F(H5Lexists) F(H5Lget_info) F(H5Lget_val) F(H5Literate) \
  F(H5Lunpack_elink_val) F(H5Oclose) F(H5Oopen) \
  F(H5Pclose) F(H5Pcreate) F(H5Pget_chunk) F(H5Pget_filter2) F(H5Pget_layout) F(H5Pget_nfilters) F(H5Pset_chunk) \
  F(H5Pset_chunk_cache) F(H5Pset_create_intermediate_group) F(H5Pset_deflate) F(H5Pset_fapl_core) \
  F(H5Pset_filter) F(H5Pset_obj_track_times) F(H5Sclose) \
  F(H5Screate) F(H5Screate_simple) F(H5Sget_simple_extent_dims) F(H5Sget_simple_extent_ndims) \
  F(H5Sselect_hyperslab) F(H5Tclose) F(H5Tcopy) F(H5Tget_class) F(H5Tget_sign) F(H5Tget_size) F(H5Tset_cset) \
  F(H5Tset_size) F(H5Zfilter_avail) \
  F(H5Aopen) F(H5Aread) F(H5Aget_space) F(H5Aget_type) F(H5Tis_variable_str) F(H5Tget_native_type) F(H5free_memory) \
  F(H5Dget_offset) F(H5Tget_order) F(H5Fget_create_plist) F(H5Pget_userblock) F(H5Dget_storage_size) \
  HEDM_HDF5_OBJECT_INFO(F)
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
#define HEDM_FIND_OPTIONAL(name) lib.name = reinterpret_cast<decltype(lib.name)>(::dlsym(so, #name));
    HEDM_HDF5_OPTIONAL(HEDM_FIND_OPTIONAL)
#undef HEDM_FIND_OPTIONAL
    if (lib.failure.empty() && lib.H5open() < 0) lib.failure = "the HDF5 library could not start";
  });
  return lib;
}

// A function of the library under its own name: a call goes to the loaded
// library (loading it first); where a function's address is wanted (a
// closer for Id), it converts to the loaded function.  Being a variable, not
// a function, the name hides the header's declaration of the function from
// every call in namespace hedm: argument-dependent lookup, which could
// otherwise find the header's own, does not apply to a call through a
// variable.
template <class Fn, Fn Hdf5Library::*Slot>
struct LoadedFunction;
template <class R, class... P, R (*Hdf5Library::*Slot)(P...)>
struct LoadedFunction<R (*)(P...), Slot> {
  using Pointer = R (*)(P...);
  R operator()(P... p) const { return (hdf5_library().*Slot)(p...); }
  operator Pointer() const { return hdf5_library().*Slot; }
};
#define HEDM_NAME(f) inline constexpr LoadedFunction<decltype(&::f), &Hdf5Library::f> f{};
HEDM_HDF5_FUNCTIONS(HEDM_NAME)
HEDM_HDF5_OPTIONAL(HEDM_NAME)
#undef HEDM_NAME

// An identifier of the library (a property list class, a type) under the
// name of its global variable, which the header's macros (H5P_DATASET_CREATE,
// H5T_NATIVE_UINT16, ...) name: its value in the loaded library.
struct LoadedId {
  const hid_t* Hdf5Library::*slot;
  operator hid_t() const { return *(hdf5_library().*slot); }
};
#define HEDM_NAME(g) inline constexpr LoadedId g{&Hdf5Library::g};
HEDM_HDF5_IDS(HEDM_NAME)
#undef HEDM_NAME

// Whether the library can say where each chunk lies and hand a chunk's
// stored bytes over as they are (1.10.5 on).
inline bool hdf5_reads_chunks_raw() {
  return hdf5_library().H5Dget_chunk_info_by_coord != nullptr && hdf5_library().H5Dread_chunk != nullptr;
}

}  // namespace hedm::hdf5_detail

// The header's identifier macros call H5open() first, and H5CHECK checks
// the header's version against the library's: the library was started
// (H5open) when it was loaded, and it is the one whose soname the build
// found beside these headers (no version is checked at run time).
#undef H5CHECK
#define H5CHECK
#undef H5OPEN
#define H5OPEN
