// OutputFile: the destination is replaced whole or not at all, through
// either kind of temporary file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include <filesystem>

#include "output_file.hpp"
#include "testkit.hpp"

using namespace testkit;
using hedm::OutputFile;
namespace fs = std::filesystem;

namespace {

// Names in dir, sorted.
std::vector<std::string> listing(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

mode_t mode_of(const std::string& path) {
  struct stat st;
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

bool write_all(const std::string& path, const std::string& bytes, OutputFile::Temporary how) {
  OutputFile out;
  hedm::Status s = out.create(path, how);
  if (s) s = out.write(bytes.data(), bytes.size());
  if (s) s = out.commit();
  EXPECT_TRUE(s) << s.error().text;
  return static_cast<bool>(s);
}

const OutputFile::Temporary kBothKinds[] = {OutputFile::Temporary::Unnamed, OutputFile::Temporary::Named};

}  // namespace

TEST(OutputFile, ReplacesTheDestinationOnlyOnCommit) {
  for (auto how : kBothKinds) {
    TempDir dir;
    const std::string path = dir / "out.txt";
    write_file(path, "earlier");
    {
      OutputFile out;
      ASSERT_TRUE(out.create(path, how));
      ASSERT_TRUE(out.write("new bytes", 9));
      EXPECT_EQ(read_file(path), "earlier") << "visible before the commit";
      if (how == OutputFile::Temporary::Named) {
        EXPECT_EQ(listing(dir).size(), 2u);
      }
      ASSERT_TRUE(out.commit());
    }
    EXPECT_EQ(read_file(path), "new bytes");
    EXPECT_EQ(listing(dir), std::vector<std::string>{"out.txt"});
    {
      OutputFile out;  // dropped without a commit: the earlier file stays
      ASSERT_TRUE(out.create(path, how));
      ASSERT_TRUE(out.write("half", 4));
    }
    EXPECT_EQ(read_file(path), "new bytes");
    EXPECT_EQ(listing(dir), std::vector<std::string>{"out.txt"});
  }
}

TEST(OutputFile, KeepsPermissionsAndLinks) {
  for (auto how : kBothKinds) {
    TempDir dir;
    const mode_t umask = ::umask(022);
    // A new file: 0666 less the umask.
    write_all(dir / "new.txt", "n", how);
    EXPECT_EQ(mode_of(dir / "new.txt"), 0644u);
    // A replaced file keeps its bits.
    write_file(dir / "kept.txt", "old");
    ::chmod((dir / "kept.txt").c_str(), 0640);
    write_all(dir / "kept.txt", "new", how);
    EXPECT_EQ(mode_of(dir / "kept.txt"), 0640u);
    // A link stays a link; the file it points to is replaced, also through a
    // relative link into another folder, and a link that points at nothing.
    fs::create_directory(dir.path() / "sub");
    write_file(dir / "sub/target.txt", "old");
    fs::create_symlink("sub/target.txt", dir.path() / "link.txt");
    write_all(dir / "link.txt", "through the link", how);
    EXPECT_TRUE(fs::is_symlink(dir.path() / "link.txt"));
    EXPECT_EQ(read_file(dir / "sub/target.txt"), "through the link");
    fs::create_symlink("sub/later.txt", dir.path() / "dangling.txt");
    write_all(dir / "dangling.txt", "made", how);
    EXPECT_TRUE(fs::is_symlink(dir.path() / "dangling.txt"));
    EXPECT_EQ(read_file(dir / "sub/later.txt"), "made");
    ::umask(umask);
    EXPECT_EQ(listing(dir), (std::vector<std::string>{"dangling.txt", "kept.txt", "link.txt", "new.txt", "sub"}));
  }
}

TEST(OutputFile, WritesDevicesInPlaceAndRefusesFolders) {
  write_all("/dev/null", "gone", OutputFile::Temporary::Unnamed);
  TempDir dir;
  ::mkfifo((dir / "fifo").c_str(), 0600);
  pid_t reader = ::fork();
  if (reader == 0) {
    const std::string got = read_file(dir / "fifo");
    ::_exit(got == "through the fifo" ? 0 : 1);
  }
  write_all(dir / "fifo", "through the fifo", OutputFile::Temporary::Unnamed);
  int st = 0;
  ::waitpid(reader, &st, 0);
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << "the reader of the FIFO got other bytes";

  // /dev/stdout redirected to a file: the file the shell opened gets the
  // bytes, in place, not a new file renamed over it.
  write_file(dir / "redirected.txt", "");
  struct stat before;
  ASSERT_EQ(::stat((dir / "redirected.txt").c_str(), &before), 0);
  pid_t child = ::fork();
  if (child == 0) {
    std::freopen((dir / "redirected.txt").c_str(), "w", stdout);
    OutputFile o;
    const bool ok = o.create("/dev/stdout") && o.write("via stdout", 10) && o.commit();
    ::_exit(ok ? 0 : 1);
  }
  ::waitpid(child, &st, 0);
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
  EXPECT_EQ(read_file(dir / "redirected.txt"), "via stdout");
  struct stat after;
  ASSERT_EQ(::stat((dir / "redirected.txt").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "replaced instead of written in place";

  OutputFile out;
  fs::create_directory(dir.path() / "folder");
  const hedm::Status folder = out.create(dir / "folder"), missing = out.create(dir / "none/out.txt");
  ASSERT_FALSE(folder);
  EXPECT_EQ(folder.error().kind, hedm::ErrorKind::Output);
  EXPECT_EQ(folder.error().text, "Could not create " + (dir / "folder") + ": Is a directory.");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().text, "Could not create " + (dir / "none/out.txt") + ": No such file or directory.");
}
