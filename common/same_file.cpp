#include "same_file.hpp"

#include <sys/stat.h>

#include "output_file.hpp"

namespace hedm {

namespace {

// What a path stands for: the file's device and inode when it exists; else,
// for a file still to be made, its folder's device and inode and its name.
struct FileKey {
  bool known = false;
  dev_t dev = 0;
  ino_t ino = 0;
  std::string leaf;  // empty for a file that exists

  bool operator==(const FileKey& o) const {
    return known && o.known && dev == o.dev && ino == o.ino && leaf == o.leaf;
  }
};

// An input that does not exist is nobody's clash; an output may be a file
// still to be made.
FileKey key_of(const std::string& path, bool mayBeNew) {
  FileKey k;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    k = {true, st.st_dev, st.st_ino, ""};
    return k;
  }
  if (!mayBeNew) return k;
  const std::string target = resolve_links(path);
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  k.leaf = slash == std::string::npos ? target : target.substr(slash + 1);
  if (k.leaf.empty() || ::stat(folder.c_str(), &st) != 0) return FileKey{};
  k.known = true;
  k.dev = st.st_dev;
  k.ino = st.st_ino;
  return k;
}

}  // namespace

Status same_file_clash(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs) {
  std::vector<FileKey> in, out;
  for (const std::string& p : inputs) in.push_back(key_of(p, false));
  for (const std::string& p : outputs) out.push_back(key_of(p, true));
  for (std::size_t o = 0; o < outputs.size(); ++o) {
    for (std::size_t i = 0; i < inputs.size(); ++i)
      if (out[o] == in[i])
        return output_error("The output " + outputs[o] + " is the same file as the input " + inputs[i] + ".");
    for (std::size_t o2 = 0; o2 < o; ++o2)
      if (out[o] == out[o2])
        return output_error("The outputs " + outputs[o2] + " and " + outputs[o] + " are the same file.");
  }
  return ok();
}

}  // namespace hedm
