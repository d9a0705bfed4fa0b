// The front door of every stack: its name read once, its file judged by
// its content, and the format that reads it chosen here and nowhere else.
#include "stack.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "file_kind.hpp"
#include "frame_file.hpp"
#include "hdf5_stack.hpp"
#include "input_file.hpp"
#include "stack_formats.hpp"

namespace hedm {

StackName StackName::parse(const std::string& arg) {
  StackName n{arg, arg, "", false};
  const std::size_t sep = arg.find("::");
  if (sep == std::string::npos) return n;
  n.file = arg.substr(0, sep);
  n.separated = true;
  const char* dataset = arg.c_str() + sep + 2;
  if (*dataset && *dataset != '/') n.dataset.push_back('/');
  n.dataset.append(dataset);
  return n;
}

Frame::Frame(std::uint64_t rows_, std::uint64_t columns_, unsigned pixelBytes) : rows(rows_), columns(columns_) {
  if (pixelBytes == 2) values = std::vector<std::uint16_t>(rows * columns);
  else values = std::vector<std::uint32_t>(rows * columns);
}

Status Stack::read_frame(std::uint64_t f, Frame& frame) {
  frame = Frame(rows(), columns(), pixel_bytes());
  return std::visit([&](auto& v) { return read_frame(f, v.data()); }, frame.values);
}

Status Stack::read_header(unsigned char* dst) {
  std::memset(dst, 0, kHeaderBytes);
  return ok();
}

namespace {

enum class Format { FrameFile, Hdf5 };

const char* compression_name(FileKind k) {
  switch (k) {
    case FileKind::Gzip: return "gzip";
    case FileKind::Bzip2: return "bzip2";
    case FileKind::Xz: return "xz";
    case FileKind::Zstd: return "zstd";
    default: return nullptr;
  }
}

// How the file of `name` is read: HDF5 when it carries HDF5's signature;
// also when it carries none but its name says HDF5 or names a dataset, so
// that the HDF5 reader says what is wrong with it; else a frame file.
Format format_of(const StackName& name, FileKind kind) {
  if (kind == FileKind::Hdf5 || is_hdf5_path(name.file) || name.separated) return Format::Hdf5;
  return Format::FrameFile;
}

Result<std::unique_ptr<Stack>> open_as(Format format, const StackName& name, const StackRole& role) {
  switch (format) {
    case Format::Hdf5: return open_hdf5_stack(name, role);
    case Format::FrameFile: break;
  }
  return open_frame_file_stack(name, role);
}

bool regular_file(const std::string& path, std::uint64_t* size) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  *size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

}  // namespace

Result<std::unique_ptr<Stack>> open_stack(const std::string& arg, const StackRole& role) {
  const StackName name = StackName::parse(arg);
  int fd = -1;
  if (const int e = open_for_reading(name.file, &fd); e != 0)
    return input_error(!role.unopenable.empty() ? role.unopenable
                                                : "Could not open " + name.file + ": " + std::strerror(e) + ".");
  ::close(fd);
  const FileKind kind = file_kind(name.file);
  if (const char* format = compression_name(kind))
    return data_error(role.which + " " + name.file + " is compressed with " + format + ": decompress it first.");
  return open_as(format_of(name, kind), name, role);
}

bool writes_hdf5(const StackName& name) {
  return format_of(name, file_kind(name.file)) == Format::Hdf5;
}

Status stack_in_the_way(const StackName& name) {
  std::uint64_t size = 0;
  if (!regular_file(name.file, &size)) return ok();
  const Format format = format_of(name, file_kind(name.file));
  // A frame file's frames by its size alone, read or not, compressed or not.
  std::uint64_t frames = frame_layout(size).nFrames;
  if (format != Format::FrameFile) {
    const Result<std::unique_ptr<Stack>> s = open_as(format, name, StackRole{});
    if (!s) return ok();  // no stack there: the writer of that format says what is in the way
    frames = (*s)->frames();
  }
  if (frames <= 1) return ok();
  return output_error(name.given + " holds " + std::to_string(frames) +
                      " frames: it is a stack, and a one-frame output must not replace it.");
}

}  // namespace hedm
