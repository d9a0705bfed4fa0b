// HDF5 stack names, and the refusals of a build without libhdf5.
#include "hdf5_stack.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

namespace hedm {

bool is_hdf5_path(const std::string& arg) {
  std::string file = split_stack_path(arg).file;
  std::transform(file.begin(), file.end(), file.begin(), [](unsigned char c) { return std::tolower(c); });
  for (const std::string_view ext : {".h5", ".hdf5", ".nxs", ".hdf"})
    if (file.size() > ext.size() && file.ends_with(ext)) return true;
  return false;
}

StackPath split_stack_path(const std::string& arg) {
  StackName n = StackName::parse(arg);
  return {std::move(n.file), std::move(n.dataset)};
}

}  // namespace hedm

#ifndef HEDM_HAVE_HDF5

// No libhdf5: every HDF5 path is refused.

namespace hedm {

namespace {
Error no_hdf5(const std::string& path) {
  return input_error("Input file " + path +
                     " is HDF5, which this build cannot read: it reads detector frame files only "
                     "(rebuild with libhdf5-dev installed).");
}
}  // namespace

struct Hdf5Stack::Handles {};
bool hdf5_available() { return false; }
Result<Hdf5Stack> Hdf5Stack::open(const std::string& arg, const StackOptions&) {
  return no_hdf5(split_stack_path(arg).file);
}
Hdf5Stack::Hdf5Stack(Hdf5Stack&& o) noexcept = default;
Hdf5Stack& Hdf5Stack::operator=(Hdf5Stack&& o) noexcept = default;
Hdf5Stack::~Hdf5Stack() = default;
const StackInfo& Hdf5Stack::info() const { return info_; }
std::vector<std::string> Hdf5Stack::files() const { return {info_.file}; }
const RawFrames* Hdf5Stack::raw_frames() const { return nullptr; }
bool Hdf5Stack::reads_in_parallel() const { return false; }
bool Hdf5Stack::reads_bands() const { return false; }
std::uint64_t Hdf5Stack::frames_per_read() const { return 1; }
Status Hdf5Stack::read(std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t, std::uint16_t*, std::uint64_t) {
  return no_hdf5(info_.file);
}
Status Hdf5Stack::read(std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t, std::uint32_t*, std::uint64_t) {
  return no_hdf5(info_.file);
}

}  // namespace hedm

#endif
