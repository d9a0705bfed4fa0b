// Finding the stack in an HDF5 file that is named without a dataset, and
// the words for what a file holds: every dataset its groups and links
// reach, once each, and the series among its groups.
#include "hdf5_stack.hpp"

#ifdef HEDM_HAVE_HDF5

#include <algorithm>
#include <cctype>
#include <set>

#include "hdf5_detail.hpp"

namespace hedm {
namespace hdf5_detail {

namespace {

// A dataset reached by the walk.
struct Seen {
  std::string path, id;
};

// Everything the file's groups and links reach, once each.
struct Walk {
  std::set<std::string> seen;
  std::vector<std::string> all;   // summaries, in walking order
  std::vector<Seen> stacks;       // three-dimensional datasets
  std::vector<std::string> frames;  // two-dimensional datasets of pixels
  std::vector<std::string> series;  // groups holding data_000001, ...
  std::set<std::string> memberIds;  // the objects their members reach
};

std::string series_summary(const std::string& group, const std::vector<std::string>& members) {
  std::string s = group + " (a series of " + std::to_string(members.size()) + ": " + members.front();
  if (members.size() > 1) s += " to " + members.back();
  return s + ")";
}

// A group's series members: noted, and the objects they reach marked, so
// that a soft link to one of them elsewhere is no stack of its own.
void note_series(hid_t group, const std::string& prefix, const std::vector<std::string>& names, Walk& w) {
  std::vector<std::string> members;
  for (const std::string& name : names)
    if (is_series_member(name)) members.push_back(name);
  if (members.empty()) return;
  w.series.push_back(prefix.empty() ? "/" : prefix);
  w.all.push_back(series_summary(w.series.back(), members));
  for (const std::string& m : members) {
    H5O_type_t type = H5O_TYPE_UNKNOWN;
    if (const std::string id = identity(group, m.c_str(), &type); !id.empty()) {
      w.memberIds.insert(id);
      w.seen.insert(id);
    }
  }
  H5Eclear2(H5E_DEFAULT);
}

void walk_dataset(hid_t group, const std::string& name, const std::string& path, const std::string& id, Walk& w) {
  Id dset(H5Dopen2(group, name.c_str(), H5P_DEFAULT), H5Dclose);
  if (!dset) return;
  std::size_t rank = 0;
  w.all.push_back(dataset_summary(dset.get(), path, &rank));
  // A virtual dataset is never read (a missing source file would read as
  // fill values): it takes no series' place.
  Id dcpl(H5Dget_create_plist(dset.get()), H5Pclose);
  if (dcpl && H5Pget_layout(dcpl.get()) == H5D_VIRTUAL) return;
  Id type(H5Dget_type(dset.get()), H5Tclose);
  if (rank == 3) w.stacks.push_back({path, id});
  else if (rank == 2 && type && pixel_type(type.get()).nativeType >= 0) w.frames.push_back(path);
}

void walk_group(hid_t group, const std::string& prefix, Walk& w, int depth) {
  const std::vector<std::string> names = link_names(group);
  note_series(group, prefix, names, w);
  for (const std::string& name : names) {
    if (is_series_member(name)) continue;
    const std::string path = prefix + "/" + name;
    H5O_type_t type = H5O_TYPE_UNKNOWN;
    const std::string id = identity(group, name.c_str(), &type);
    if (id.empty()) {
      H5Eclear2(H5E_DEFAULT);
      w.all.push_back(path + " (a link to nothing that can be opened)");
      continue;
    }
    if (!w.seen.insert(id).second) continue;
    if (type == H5O_TYPE_GROUP && depth < 64) {
      Id sub(H5Gopen2(group, name.c_str(), H5P_DEFAULT), H5Gclose);
      if (sub) walk_group(sub.get(), path, w, depth + 1);
    } else if (type == H5O_TYPE_DATASET) {
      walk_dataset(group, name, path, id, w);
    }
  }
  H5Eclear2(H5E_DEFAULT);
}

Walk walk_file(hid_t file) {
  Walk w;
  Id root(H5Gopen2(file, "/", H5P_DEFAULT), H5Gclose);
  if (root) walk_group(root.get(), "", w, 0);
  // A member reached first by another path is the series', not a stack.
  std::erase_if(w.stacks, [&](const Seen& s) { return w.memberIds.count(s.id) > 0; });
  return w;
}

std::string listing(const Walk& w) {
  if (w.all.empty()) return " It holds no dataset.";
  std::string s = " It holds: ";
  const std::size_t shown = std::min<std::size_t>(w.all.size(), 20);
  for (std::size_t i = 0; i < shown; ++i) s += (i ? ", " : "") + w.all[i];
  if (w.all.size() > shown) s += ", and " + std::to_string(w.all.size() - shown) + " more";
  return s + ".";
}

}  // namespace

bool is_series_member(const std::string& name) {
  return name.size() > 5 && name.starts_with("data_") &&
         std::all_of(name.begin() + 5, name.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string listing_of(hid_t file) { return listing(walk_file(file)); }

// The one series or three-dimensional dataset of the file; where there is
// none, its one two-dimensional dataset of pixels, a frame of its own.
Result<Found> find_stack(hid_t file, const std::string& path) {
  const Walk w = walk_file(file);
  const std::size_t n = w.series.size() + w.stacks.size();
  if (n == 1) return w.series.empty() ? Found{w.stacks[0].path, false} : Found{w.series[0], true};
  if (n > 1) {
    const std::string what = w.series.empty() ? " three-dimensional datasets" : " stacks of frames";
    return input_error("Input file " + path + " holds " + std::to_string(n) + what + "; name one as " + path +
                       "::/DATASET." + listing(w));
  }
  if (w.frames.size() == 1) return Found{w.frames[0], false};
  if (w.frames.size() > 1)
    return input_error("Input file " + path + " holds no three-dimensional dataset (frames, rows, columns) but " +
                       std::to_string(w.frames.size()) + " frames (rows, columns); name one as " + path +
                       "::/DATASET." + listing(w));
  return input_error("Input file " + path + " holds no three-dimensional dataset (frames, rows, columns)." +
                     listing(w));
}

std::string link_target(hid_t loc, const std::string& name) {
  H5L_info_t info;
  if (H5Lget_info(loc, name.c_str(), &info, H5P_DEFAULT) < 0 || info.type != H5L_TYPE_EXTERNAL) {
    H5Eclear2(H5E_DEFAULT);
    return "";
  }
  std::vector<char> value(info.u.val_size + 1, '\0');
  const char* file = nullptr;
  const char* object = nullptr;
  unsigned flags = 0;
  if (H5Lget_val(loc, name.c_str(), value.data(), value.size(), H5P_DEFAULT) < 0 ||
      H5Lunpack_elink_val(value.data(), info.u.val_size, &flags, &file, &object) < 0 || !file) {
    H5Eclear2(H5E_DEFAULT);
    return "";
  }
  return file;
}

Error unreachable(hid_t loc, const std::string& name, const std::string& at) {
  const std::string why = hdf5_says();
  const std::string target = link_target(loc, name);
  if (target.empty()) return input_error(at + "its link leads nowhere that can be opened: " + why + ".");
  return input_error(at + "the data file " + target + " it links to cannot be opened: " + why + ".");
}

std::string filter_name(H5Z_filter_t id, const char* stored) {
  switch (id) {
    case H5Z_FILTER_DEFLATE: return "deflate";
    case H5Z_FILTER_SHUFFLE: return "shuffle";
    case H5Z_FILTER_FLETCHER32: return "fletcher32";
    case H5Z_FILTER_SZIP: return "szip";
    case H5Z_FILTER_NBIT: return "nbit";
    case H5Z_FILTER_SCALEOFFSET: return "scaleoffset";
    case 307: return "bzip2";
    case 32000: return "LZF";
    case 32001: return "blosc";
    case 32004: return "LZ4";
    case 32008: return "bitshuffle";
    case 32015: return "zstd";
    default: return stored && *stored ? stored : "unknown";
  }
}

std::vector<Hdf5Filter> filters_of(hid_t dcpl) {
  std::vector<Hdf5Filter> out;
  const int n = H5Pget_nfilters(dcpl);
  for (int i = 0; i < n; ++i) {
    unsigned flags = 0, config = 0;
    std::size_t nValues = 0;
    char name[256] = "";
    const H5Z_filter_t id = H5Pget_filter2(dcpl, static_cast<unsigned>(i), &flags, &nValues, nullptr, sizeof name,
                                           name, &config);
    if (id < 0) continue;
    // H5Zfilter_avail looks in the plugin path for a filter not yet loaded.
    const htri_t avail = H5Zfilter_avail(id);
    out.push_back({static_cast<int>(id), filter_name(id, name), avail > 0});
  }
  H5Eclear2(H5E_DEFAULT);
  return out;
}

}  // namespace hdf5_detail
}  // namespace hedm

#endif
