// same_file_clash: an output that is an input, or another output, under any
// spelling of its path.
#include <gtest/gtest.h>

#include <filesystem>

#include "same_file.hpp"
#include "testkit.hpp"

using namespace testkit;
namespace fs = std::filesystem;

TEST(SameFileClash, FindsTheSameFileUnderAnyName) {
  TempDir dir;
  write_file(dir / "a.ge3", "a");
  write_file(dir / "b.ge3", "b");
  fs::create_symlink("a.ge3", dir.path() / "soft.ge3");
  fs::create_hard_link(dir.path() / "a.ge3", dir.path() / "hard.ge3");
  fs::create_symlink("later.ge3", dir.path() / "dangling.ge3");
  fs::create_directory(dir.path() / "sub");
  struct Case {
    std::vector<std::string> in, out;
    std::string clash;  // "" for none
  };
  const std::string d = dir.path().string();
  const Case cases[] = {
      {{d + "/a.ge3"}, {d + "/b.ge3"}, ""},
      {{d + "/a.ge3"}, {d + "/new.ge3"}, ""},
      {{d + "/missing.ge3"}, {d + "/missing.ge3"}, ""},  // opening the input reports it
      {{d + "/a.ge3"}, {d + "/no/such/out.ge3"}, ""},
      {{d + "/a.ge3"}, {d + "/a.ge3"}, "The output " + d + "/a.ge3 is the same file as the input " + d + "/a.ge3."},
      {{d + "/a.ge3"}, {d + "/soft.ge3"}, "The output " + d + "/soft.ge3 is the same file as the input " + d + "/a.ge3."},
      {{d + "/a.ge3"}, {d + "/hard.ge3"}, "The output " + d + "/hard.ge3 is the same file as the input " + d + "/a.ge3."},
      {{d + "/b.ge3", d + "/a.ge3"}, {d + "/sub/../a.ge3"},
       "The output " + d + "/sub/../a.ge3 is the same file as the input " + d + "/a.ge3."},
      {{}, {d + "/x.txt", d + "/sub/../x.txt"}, "The outputs " + d + "/x.txt and " + d + "/sub/../x.txt are the same file."},
      {{}, {d + "/dangling.ge3", d + "/later.ge3"}, "The outputs " + d + "/dangling.ge3 and " + d + "/later.ge3 are the same file."},
      {{}, {d + "/t.txt", d + "/t.txt.AllMatches"}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(testkit::error_text(hedm::same_file_clash(c.in, c.out)), c.clash) << c.out[0];
}
