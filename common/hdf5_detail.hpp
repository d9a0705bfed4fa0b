// What the HDF5 layer's reading and writing share: the process-wide lock
// around HDF5 calls, identifiers closed by their own close function, and
// HDF5's word on its latest failure.  For the layer's own files only.
#pragma once

#include <mutex>
#include <string>
#include <utility>

#include <hdf5.h>

#include "hdf5_library.hpp"
#include "hdf5_stack.hpp"

namespace hedm {
namespace hdf5_detail {

// One lock for every HDF5 call of the process (the library is built
// without thread safety); its first taking also stops HDF5 from printing
// its error stack: failures become our messages.
inline std::recursive_mutex& hdf5_mutex() {
  static std::recursive_mutex m;
  return m;
}
class Lock {
 public:
  Lock() : g_(hdf5_mutex()) {
    static const bool quiet = [] {
      return hdf5_library().failure.empty() && H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr) >= 0;
    }();
    (void)quiet;
  }

 private:
  std::lock_guard<std::recursive_mutex> g_;
};

// An HDF5 identifier closed with its own close function.
class Id {
 public:
  Id() = default;
  Id(hid_t v, herr_t (*close)(hid_t)) : v_(v), close_(close) {}
  Id(Id&& o) noexcept : v_(std::exchange(o.v_, H5I_INVALID_HID)), close_(o.close_) {}
  Id& operator=(Id&& o) noexcept {
    if (this != &o) {
      reset();
      v_ = std::exchange(o.v_, H5I_INVALID_HID);
      close_ = o.close_;
    }
    return *this;
  }
  ~Id() { reset(); }
  void reset() {
    if (v_ >= 0 && close_) close_(v_);
    v_ = H5I_INVALID_HID;
  }
  hid_t get() const { return v_; }
  explicit operator bool() const { return v_ >= 0; }

 private:
  hid_t v_ = H5I_INVALID_HID;
  herr_t (*close_)(hid_t) = nullptr;
};
inline Id plist(hid_t cls) { return Id(H5Pcreate(cls), H5Pclose); }

// What HDF5 said of its latest failure (the innermost description on its
// error stack), and the stack cleared.
inline herr_t innermost(unsigned n, const H5E_error2_t* e, void* data) {
  auto* text = static_cast<std::string*>(data);
  if (text->empty() && e->desc && *e->desc) *text = e->desc;
  (void)n;
  return 0;
}
inline std::string hdf5_says() {
  std::string text;
  H5Ewalk2(H5E_DEFAULT, H5E_WALK_UPWARD, innermost, &text);
  H5Eclear2(H5E_DEFAULT);
  return text.empty() ? "HDF5 gave no reason" : text;
}

// "Input file F, dataset D: "
inline std::string where(const std::string& file, const std::string& dataset) {
  return "Input file " + file + ", dataset " + dataset + ": ";
}

}  // namespace hdf5_detail

struct Hdf5Stack::Handles {
  hdf5_detail::Id file, dset, fileSpace;
  hid_t fileType = -1;  // H5T_NATIVE_* matching the stored pixels
};

}  // namespace hedm
