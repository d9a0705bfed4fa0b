// Helpers for the program tests: a scratch directory, files in and out, and
// running a built program with its standard output and exit status captured.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "error.hpp"
#include "frame_file.hpp"

namespace testkit {

namespace fs = std::filesystem;

// A fresh directory, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

struct Limits {
  std::uint64_t fileSize = 0;     // RLIMIT_FSIZE in bytes, 0 for none (SIGXFSZ ignored)
  std::uint64_t addressSpace = 0;  // RLIMIT_AS in bytes, 0 for none
};

struct RunResult {
  int status = -1;    // exit status, or 128 + signal number when killed
  std::string out;    // standard output
  std::string err;    // standard error
};

// Runs program (a name in the build's program directory, or a path) with
// args, in directory cwd when it is not empty.
RunResult run(const std::string& program, const std::vector<std::string>& args,
        const std::string& cwd = "", const Limits& limits = {});

// The text of a step's error, "" when it succeeded.
inline std::string error_text(const hedm::Status& s) { return s ? "" : s.error().text; }

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool exists(const std::string& path);

// A detector frame file: header bytes, then the frames, then `tail` bytes.
std::string frame_file_bytes(const std::string& header,
                             const std::vector<std::vector<hedm::pixelvalue>>& frames,
                             const std::string& tail = "");
// A frame of kPixelsPerFrame pixels, all `fill` but for the given
// (position, value) pairs.
std::vector<hedm::pixelvalue> frame_with(hedm::pixelvalue fill,
                                         const std::vector<std::pair<std::size_t, hedm::pixelvalue>>& set = {});
// Checks that out ends in a line prefix + "<digits>.<six digits>" + suffix
// (a processor-time report) and returns out without that line.
std::string cut_time_line(const std::string& out, const std::string& prefix, const std::string& suffix);

hedm::pixelvalue pixel_at(const std::string& fileBytes, std::uint64_t frame, std::size_t k);

}  // namespace testkit
