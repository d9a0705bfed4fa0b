#include "testkit.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include <gtest/gtest.h>
#include <sstream>
#include <stdexcept>

namespace testkit {

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "hedm-test-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Make everything removable again (tests may take write permission away).
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it); it.increment(ec))
    if (it->is_directory(ec)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}


RunResult run(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
        const Limits& limits) {
  std::string exe = program.find('/') == std::string::npos
                        ? std::string(HEDM_BIN_DIR) + "/" + program
                        : program;
  TempDir capture;
  const std::string outPath = capture / "stdout", errPath = capture / "stderr";
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int in = ::open("/dev/null", O_RDONLY);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
    if (limits.fileSize) {
      ::signal(SIGXFSZ, SIG_IGN);
      rlimit r{limits.fileSize, limits.fileSize};
      ::setrlimit(RLIMIT_FSIZE, &r);
    }
    if (limits.addressSpace) {
      rlimit r{limits.addressSpace, limits.addressSpace};
      ::setrlimit(RLIMIT_AS, &r);
    }
    std::vector<char*> argv;
    argv.push_back(exe.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(exe.c_str(), argv.data());
    ::_exit(127);
  }
  int st = 0;
  while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {
  }
  RunResult r;
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  r.out = read_file(outPath);
  r.err = read_file(errPath);
  return r;
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

bool exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

std::string frame_file_bytes(const std::string& header,
                             const std::vector<std::vector<hedm::pixelvalue>>& frames,
                             const std::string& tail) {
  std::string s = header;
  s.resize(hedm::kHeaderBytes, '\0');
  for (const auto& f : frames) {
    std::size_t at = s.size();
    s.resize(at + hedm::kFrameBytes);
    for (std::size_t k = 0; k < hedm::kPixelsPerFrame; ++k) {
      s[at + 2 * k] = static_cast<char>(f[k] & 0xff);
      s[at + 2 * k + 1] = static_cast<char>(f[k] >> 8);
    }
  }
  return s + tail;
}

std::vector<hedm::pixelvalue> frame_with(hedm::pixelvalue fill,
                                         const std::vector<std::pair<std::size_t, hedm::pixelvalue>>& set) {
  std::vector<hedm::pixelvalue> f(hedm::kPixelsPerFrame, fill);
  for (auto [k, v] : set) f[k] = v;
  return f;
}

std::string cut_time_line(const std::string& out, const std::string& prefix, const std::string& suffix) {
  const std::size_t at = out.rfind(prefix);
  bool ok = at != std::string::npos && (at == 0 || out[at - 1] == '\n') &&
            out.size() >= suffix.size() && out.compare(out.size() - suffix.size(), suffix.size(), suffix) == 0;
  if (ok) {
    const std::string number = out.substr(at + prefix.size(), out.size() - suffix.size() - at - prefix.size());
    const std::size_t dot = number.find('.');
    ok = dot != std::string::npos && dot > 0 && number.size() - dot == 7 &&
         number.find_first_not_of("0123456789.") == std::string::npos;
  }
  EXPECT_TRUE(ok) << "no time line at the end of: " << out;
  return ok ? out.substr(0, at) : out;
}

hedm::pixelvalue pixel_at(const std::string& bytes, std::uint64_t frame, std::size_t k) {
  std::size_t at = hedm::kHeaderBytes + frame * hedm::kFrameBytes + 2 * k;
  return static_cast<hedm::pixelvalue>(static_cast<unsigned char>(bytes[at]) |
                                       static_cast<unsigned char>(bytes[at + 1]) << 8);
}

}  // namespace testkit
