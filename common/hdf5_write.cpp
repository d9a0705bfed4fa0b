// The HDF5 layer's writing of one frame (a median, like its source) as an
// HDF5 file or as a dataset added to one.
#include "hdf5_stack.hpp"

namespace hedm {

Error no_hdf5_output(const std::string& path) {
  return output_error("Could not write " + path +
                      ": this build cannot write HDF5 (rebuild with libhdf5-dev installed).");
}

}  // namespace hedm

#ifdef HEDM_HAVE_HDF5

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <vector>

#include "file_kind.hpp"
#include "hdf5_detail.hpp"
#include "output_file.hpp"

namespace hedm {

using namespace hdf5_detail;

namespace {

bool write_string_attribute(hid_t obj, const char* name, const std::string& value) {
  Id type(H5Tcopy(H5T_C_S1), H5Tclose);
  H5Tset_size(type.get(), H5T_VARIABLE);
  H5Tset_cset(type.get(), H5T_CSET_UTF8);
  Id space(H5Screate(H5S_SCALAR), H5Sclose);
  Id attr(H5Acreate2(obj, name, type.get(), space.get(), H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
  const char* p = value.c_str();
  return attr && H5Awrite(attr.get(), type.get(), &p) >= 0;
}

// The value of `obj`'s attribute `name` when it is one string, of either
// length kind; false when it is anything else or is not there.
bool read_string_attribute(hid_t obj, const char* name, std::string* value) {
  Id attr(H5Aopen(obj, name, H5P_DEFAULT), H5Aclose);
  Id type(attr ? H5Aget_type(attr.get()) : -1, H5Tclose);
  Id space(attr ? H5Aget_space(attr.get()) : -1, H5Sclose);
  if (!type || !space || H5Tget_class(type.get()) != H5T_STRING || H5Sget_simple_extent_ndims(space.get()) != 0) {
    H5Eclear2(H5E_DEFAULT);
    return false;
  }
  // Read in the attribute's own string type: no conversion of padding or
  // character set to fail.
  if (H5Tis_variable_str(type.get()) > 0) {
    char* p = nullptr;
    if (H5Aread(attr.get(), type.get(), &p) < 0) return false;
    *value = p ? p : "";
    H5free_memory(p);
    return true;
  }
  std::string text(H5Tget_size(type.get()), '\0');
  if (H5Aread(attr.get(), type.get(), text.data()) < 0) return false;
  *value = text.substr(0, text.find_last_not_of(std::string(" \0", 2)) + 1);
  return true;
}

bool write_count_attribute(hid_t obj, const char* name, std::uint64_t value) {
  Id space(H5Screate(H5S_SCALAR), H5Sclose);
  Id attr(H5Acreate2(obj, name, H5T_STD_U64LE, space.get(), H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
  return attr && H5Awrite(attr.get(), H5T_NATIVE_UINT64, &value) >= 0;
}

// The creation properties of a frame written like `like`'s frames: its
// chunks clipped to one frame, its filters that can be had here.  No times
// are kept in the dataset's header, so that the same frame written again
// makes the same bytes.
Id frame_creation(const Hdf5Stack* like, std::uint64_t rows, std::uint64_t columns) {
  Id dcpl = plist(H5P_DATASET_CREATE);
  H5Pset_obj_track_times(dcpl.get(), 0);
  if (!like || like->info().chunk.empty()) return dcpl;
  const StackInfo& in = like->info();
  const hsize_t chunk[3] = {1, std::clamp<hsize_t>(in.chunk[1], 1, rows), std::clamp<hsize_t>(in.chunk[2], 1, columns)};
  H5Pset_chunk(dcpl.get(), 3, chunk);
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

// The pixels and attributes of one frame, made as `dataset` of an open file.
struct FrameData {
  const void* pixels;
  bool wide;  // 32-bit pixels, else 16-bit
  std::uint64_t rows, columns;
  hid_t fileType;
  const FrameOrigin& origin;
  const Hdf5Stack* like;
};

// The frame is a stack of one, (1, rows, columns): read as one frame by
// every reader of stacks, fabio's included.
bool put_frame(hid_t file, const std::string& dataset, const FrameData& d) {
  Id lcpl = plist(H5P_LINK_CREATE);
  H5Pset_create_intermediate_group(lcpl.get(), 1);
  const hsize_t dims[3] = {1, d.rows, d.columns};
  Id space(H5Screate_simple(3, dims, nullptr), H5Sclose);
  Id dcpl = frame_creation(d.like, d.rows, d.columns);
  Id dset(H5Dcreate2(file, dataset.c_str(), d.fileType, space.get(), lcpl.get(), dcpl.get(), H5P_DEFAULT), H5Dclose);
  return dset &&
         H5Dwrite(dset.get(), d.wide ? H5T_NATIVE_UINT32 : H5T_NATIVE_UINT16, H5S_ALL, H5S_ALL, H5P_DEFAULT,
                  d.pixels) >= 0 &&
         write_string_attribute(dset.get(), "source_file", d.origin.file) &&
         (d.origin.dataset.empty() || write_string_attribute(dset.get(), "source_dataset", d.origin.dataset)) &&
         write_count_attribute(dset.get(), "frames", d.origin.frames) &&
         write_string_attribute(dset.get(), "written_by", "StackCollapse");
}

// A string attribute of a group of a file that holds a median alone.
struct GroupAttribute {
  std::string group, name, value;
};

// The NeXus classes of a file that holds a median alone as /ENTRY/DATA/NAME
// (as /entry/data/data, the place where fabio and silx look first): ENTRY
// an NXentry, DATA its NXdata, NAME the signal, each the default of the
// group above it.  None for a dataset at another depth.
std::vector<GroupAttribute> nexus_attributes(const std::string& dataset) {
  std::vector<std::string> names;
  for (std::size_t from = 0; from < dataset.size();) {
    const std::size_t slash = std::min(dataset.find('/', from), dataset.size());
    if (slash > from) names.push_back(dataset.substr(from, slash - from));
    from = slash + 1;
  }
  if (names.size() != 3) return {};
  const std::string entry = "/" + names[0], data = entry + "/" + names[1];
  return {{"/", "default", names[0]},      {entry, "NX_class", "NXentry"}, {entry, "default", names[1]},
          {data, "NX_class", "NXdata"}, {data, "signal", names[2]}};
}

bool write_group_attributes(hid_t file, const std::vector<GroupAttribute>& attributes) {
  for (const GroupAttribute& a : attributes) {
    Id group(H5Gopen2(file, a.group.c_str(), H5P_DEFAULT), H5Gclose);
    if (!group || !write_string_attribute(group.get(), a.name.c_str(), a.value)) return false;
  }
  return true;
}

// A median's attributes; earlier versions wrote all but "written_by".
constexpr const char* kMedianAttributes[] = {"source_file", "source_dataset", "frames", "written_by"};

// Whether the object at `path` is a median written here: a dataset of one
// frame, (1, rows, columns) or, as earlier versions wrote it, (rows,
// columns), with "source_file" and "frames" and no attribute of another
// name.
bool is_earlier_median(hid_t file, const std::string& path) {
  H5O_type_t type = H5O_TYPE_UNKNOWN;
  hsize_t attributes = 0;
  if (identity(file, path.c_str(), &type, &attributes).empty() || type != H5O_TYPE_DATASET) return false;
  Id dset(H5Dopen2(file, path.c_str(), H5P_DEFAULT), H5Dclose);
  if (!dset) return false;
  const std::vector<hsize_t> dims = dims_of(dset.get());
  if (dims.size() != 2 && (dims.size() != 3 || dims[0] != 1)) return false;
  if (H5Aexists(dset.get(), "source_file") <= 0 || H5Aexists(dset.get(), "frames") <= 0) return false;
  hsize_t known = 0;
  for (const char* name : kMedianAttributes) known += H5Aexists(dset.get(), name) > 0;
  return known == attributes;
}

// The kind of the link at `path` (H5L_TYPE_ERROR where there is none).
H5L_type_t link_type(hid_t file, const std::string& path) {
  H5L_info_t info;
  if (H5Lget_info(file, path.c_str(), &info, H5P_DEFAULT) < 0) {
    H5Eclear2(H5E_DEFAULT);
    return H5L_TYPE_ERROR;
  }
  return info.type;
}

// What is at `path`, for a message: "the dataset /a/b (4 x 3, float64)",
// "the group /a", "the soft link /a", ...
std::string describe(hid_t file, const std::string& path) {
  const H5L_type_t link = link_type(file, path);
  if (link == H5L_TYPE_SOFT) return "the soft link " + path;
  if (link == H5L_TYPE_EXTERNAL) return "the external link " + path;
  if (link != H5L_TYPE_HARD) return "the link " + path;
  H5O_type_t type = H5O_TYPE_UNKNOWN;
  identity(file, path.c_str(), &type);
  H5Eclear2(H5E_DEFAULT);
  if (type == H5O_TYPE_GROUP) return "the group " + path;
  if (type == H5O_TYPE_NAMED_DATATYPE) return "the named datatype " + path;
  if (type == H5O_TYPE_DATASET) {
    Id dset(H5Dopen2(file, path.c_str(), H5P_DEFAULT), H5Dclose);
    std::size_t rank = 0;
    if (dset) return "the dataset " + dataset_summary(dset.get(), path, &rank);
  }
  return "the object " + path;
}

// What of the group `group` a median written as the whole file would
// lose: every object but earlier medians and the groups that hold only
// such, in name order; a group's attributes unless the new file gives it
// each of them again, the same (`kept`).  `seen` holds the groups walked,
// each walked once.
void lost_with_the_file(hid_t file, const std::string& group, const std::vector<GroupAttribute>& kept,
                        std::vector<std::string>* lost, std::set<std::string>* seen) {
  H5O_type_t type = H5O_TYPE_UNKNOWN;
  hsize_t attributes = 0;
  if (!seen->insert(identity(file, group.c_str(), &type, &attributes)).second) return;
  Id g(H5Gopen2(file, group.c_str(), H5P_DEFAULT), H5Gclose);
  if (!g) return;
  std::string value;
  for (const GroupAttribute& a : kept)
    if (a.group == group && read_string_attribute(g.get(), a.name.c_str(), &value) && value == a.value) --attributes;
  if (attributes > 0) lost->push_back("the attributes of the group " + group);
  for (const std::string& name : link_names(g.get())) {
    const std::string path = (group == "/" ? "" : group) + "/" + name;
    H5O_type_t t = H5O_TYPE_UNKNOWN;
    const bool hard = link_type(file, path) == H5L_TYPE_HARD && !identity(file, path.c_str(), &t).empty();
    if (hard && t == H5O_TYPE_GROUP) lost_with_the_file(file, path, kept, lost, seen);
    else if (!hard || t != H5O_TYPE_DATASET || !is_earlier_median(file, path)) lost->push_back(describe(file, path));
  }
  H5Eclear2(H5E_DEFAULT);
}

Error in_the_way(const std::string& text) { return output_error(text + " Nothing written."); }

// Whether a frame may be written into the open `file` (named `path`) as
// `target` says; *replace tells that an earlier median is at `dataset`.
Status check_destination(hid_t file, const std::string& path, const std::string& dataset, Hdf5Target target,
                         bool* replace) {
  *replace = false;
  if (target == Hdf5Target::WholeFile) {
    std::vector<std::string> lost;
    std::set<std::string> seen;
    lost_with_the_file(file, "/", nexus_attributes(dataset), &lost, &seen);
    if (lost.empty()) return ok();
    // "A", "A and B", "A, B and C", "A, B, C and 4 more"
    const std::size_t shown = std::min<std::size_t>(lost.size(), 3);
    std::string list = lost[0];
    for (std::size_t i = 1; i < shown; ++i) list += (i + 1 == lost.size() ? " and " : ", ") + lost[i];
    if (lost.size() > shown) list += " and " + std::to_string(lost.size() - shown) + " more";
    return in_the_way(path + " holds " + list + ", which a median written as the whole file would replace: name " +
                      "a dataset for the median (" + path + "::/DATASET) to add it beside them.");
  }
  // Each group on the way is a group of this file, reached by a hard link,
  // or is not there yet; the last name is free or an earlier median.
  std::string at;
  for (std::size_t from = 0; from < dataset.size();) {
    std::size_t slash = dataset.find('/', from);
    if (slash == std::string::npos) slash = dataset.size();
    if (slash == from) {
      ++from;
      continue;
    }
    at.push_back('/');
    at.append(dataset, from, slash - from);
    from = slash + 1;
    const bool last = dataset.find_first_not_of('/', from) == std::string::npos;
    const htri_t there = H5Lexists(file, at.c_str(), H5P_DEFAULT);
    H5Eclear2(H5E_DEFAULT);
    if (there <= 0) return ok();
    H5O_type_t type = H5O_TYPE_UNKNOWN;
    const bool hard = link_type(file, at) == H5L_TYPE_HARD && !identity(file, at.c_str(), &type).empty();
    H5Eclear2(H5E_DEFAULT);
    if (last) {
      if (hard && is_earlier_median(file, at)) {
        *replace = true;
        return ok();
      }
      return in_the_way(path + " holds " + describe(file, at) +
                        ", which is not a median written by StackCollapse: it is not replaced.");
    }
    if (!hard || type != H5O_TYPE_GROUP)
      return in_the_way(path + " holds " + describe(file, at) + ", where the median's dataset " + dataset +
                        " needs a group of its own.");
  }
  return in_the_way(path + "::" + dataset + " names no dataset.");
}

// What is at an output's name before it is written.
enum class There { Nothing, Hdf5, Other };
There what_is_there(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return There::Nothing;
  return file_kind(path) == FileKind::Hdf5 ? There::Hdf5 : There::Other;
}

Error not_hdf5(const std::string& path) {
  return in_the_way(path + " is not an HDF5 file, and a median written as HDF5 would replace it.");
}

// check_destination on the file at `path` as it is.  Under the lock.
Status check_file(const std::string& path, const std::string& dataset, Hdf5Target target) {
  Id file(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT), H5Fclose);
  if (!file) return in_the_way("Could not read " + path + " as HDF5: " + hdf5_says() + ".");
  bool replace = false;
  return check_destination(file.get(), path, dataset, target, &replace);
}

// The frame added to the existing file at `path`, through a copy.
Status add_to_file(const std::string& path, const std::string& dataset, const FrameData& d, const std::string& at) {
  FileCopy copy;
  if (Status s = copy.create(path); !s) return s;
  // HDF5 does not come back from a write that finds the disk full (it
  // fails at its exit, closing the file again): the space the dataset can
  // take, at most its pixels and a little more per chunk, and its headers,
  // is taken before it writes.
  const std::uint64_t bytes = d.rows * d.columns * (d.like ? d.like->info().pixelBytes : d.wide ? 4 : 2);
  std::uint64_t chunks = 1;
  if (d.like && !d.like->info().chunk.empty()) {
    const std::uint64_t r = std::max<std::uint64_t>(d.like->info().chunk[1], 1);
    const std::uint64_t c = std::max<std::uint64_t>(d.like->info().chunk[2], 1);
    chunks = ((d.rows + r - 1) / r) * ((d.columns + c - 1) / c);
  }
  if (Status s = copy.reserve(bytes + bytes / 64 + chunks * 1024 + (std::uint64_t{1} << 20)); !s) return s;
  {
    Lock lock;
    auto failed = [&] { return output_error(at + hdf5_says() + "."); };
    Id file(H5Fopen(copy.copy().c_str(), H5F_ACC_RDWR, H5P_DEFAULT), H5Fclose);
    if (!file) return failed();
    bool replace = false;
    if (Status s = check_destination(file.get(), path, dataset, Hdf5Target::Dataset, &replace); !s) return s;
    if (replace && H5Ldelete(file.get(), dataset.c_str(), H5P_DEFAULT) < 0) return failed();
    if (!put_frame(file.get(), dataset, d) || H5Fflush(file.get(), H5F_SCOPE_LOCAL) < 0 ||
        H5Fclose(file.release()) < 0)
      return failed();
  }
  return copy.commit();
}

}  // namespace

Status hdf5_frame_destination_free(const std::string& arg) {
  const StackPath out = split_stack_path(arg);
  const There there = what_is_there(out.file);
  if (there == There::Nothing) return ok();
  if (there == There::Other) return not_hdf5(out.file);
  if (!hdf5_available()) return output_error("Could not write " + out.file + ": " + hdf5_library().failure + ".");
  Lock lock;
  return out.dataset.empty() ? check_file(out.file, kMedianDataset, Hdf5Target::WholeFile)
                             : check_file(out.file, out.dataset, Hdf5Target::Dataset);
}

static Status write_frame(const std::string& path, const std::string& dataset, Hdf5Target target, const void* pixels,
                          bool wide, std::uint64_t rows, std::uint64_t columns, const FrameOrigin& origin,
                          const Hdf5Stack* like) {
  const std::string at = "Could not write " + path + " (dataset " + dataset + "): ";
  if (!hdf5_available()) return output_error(at + hdf5_library().failure + ".");
  FrameData d{pixels, wide, rows, columns, wide ? H5T_STD_U32LE : H5T_STD_U16LE, origin, like};
  if (like) {
    const StackInfo& in = like->info();
    d.fileType = in.pixelBytes == 2 ? H5T_STD_U16LE : in.isSigned ? H5T_STD_I32LE : H5T_STD_U32LE;
    if (wide && in.pixelBytes == 2)
      return argument_error(at + "32-bit pixels cannot be stored as the 16-bit ones of " + in.file + ".");
  }
  const There there = what_is_there(path);
  if (there == There::Other) return not_hdf5(path);
  if (there == There::Hdf5 && target == Hdf5Target::Dataset) return add_to_file(path, dataset, d, at);
  std::vector<char> image;
  {
    Lock lock;
    if (there == There::Hdf5)
      if (Status s = check_file(path, dataset, Hdf5Target::WholeFile); !s) return s;
    auto failed = [&] { return output_error(at + hdf5_says() + "."); };
    // A new file is made in memory, then written out whole.
    Id fapl = plist(H5P_FILE_ACCESS);
    H5Pset_fapl_core(fapl.get(), 1u << 20, 0);
    Id file(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, fapl.get()), H5Fclose);
    // A file of its own is a NeXus one; a dataset the user named in a new
    // file is that dataset alone, in plain groups.
    const std::vector<GroupAttribute> nexus =
        target == Hdf5Target::WholeFile ? nexus_attributes(dataset) : std::vector<GroupAttribute>{};
    if (!file || !put_frame(file.get(), dataset, d) || !write_group_attributes(file.get(), nexus) ||
        H5Fflush(file.get(), H5F_SCOPE_LOCAL) < 0)
      return failed();
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

Status write_hdf5_frame(const std::string& path, const std::string& dataset, Hdf5Target target,
                        const std::uint16_t* pixels, std::uint64_t rows, std::uint64_t columns,
                        const FrameOrigin& origin, const Hdf5Stack* like) {
  return write_frame(path, dataset, target, pixels, false, rows, columns, origin, like);
}
Status write_hdf5_frame(const std::string& path, const std::string& dataset, Hdf5Target target,
                        const std::uint32_t* pixels, std::uint64_t rows, std::uint64_t columns,
                        const FrameOrigin& origin, const Hdf5Stack* like) {
  return write_frame(path, dataset, target, pixels, true, rows, columns, origin, like);
}

}  // namespace hedm

#else  // no libhdf5: every HDF5 output is refused

namespace hedm {

Status hdf5_frame_destination_free(const std::string& arg) { return no_hdf5_output(split_stack_path(arg).file); }
Status write_hdf5_frame(const std::string& path, const std::string&, Hdf5Target, const std::uint16_t*,
                        std::uint64_t, std::uint64_t, const FrameOrigin&, const Hdf5Stack*) {
  return no_hdf5_output(path);
}
Status write_hdf5_frame(const std::string& path, const std::string&, Hdf5Target, const std::uint32_t*,
                        std::uint64_t, std::uint64_t, const FrameOrigin&, const Hdf5Stack*) {
  return no_hdf5_output(path);
}

}  // namespace hedm

#endif
