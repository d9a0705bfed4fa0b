// LineReader: the pieces a 1000-byte line buffer takes, the line of the file
// each comes from, and files that are not regular.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "line_reader.hpp"
#include "testkit.hpp"

using namespace testkit;

namespace {

struct Piece {
  std::string text;  // the whole piece, zero bytes inside included
  long long line;
  bool continued = false;  // the rest of the line of the piece before
  bool operator==(const Piece&) const = default;
};

std::vector<Piece> pieces(const std::string& path) {
  hedm::LineReader lines;
  EXPECT_TRUE(lines.open(path, "the file"));
  std::vector<Piece> out;
  const char* p;
  std::size_t n;
  while (lines.next(&p, &n)) {
    EXPECT_EQ(p[n], '\0');
    out.push_back({std::string(p, n), lines.line(), lines.continued()});
  }
  EXPECT_TRUE(lines.status());
  return out;
}

}  // namespace

TEST(LineReader, PiecesOfAtMost999CharactersNumberedByTheFilesLines) {
  TempDir dir;
  const std::string a999(999, 'a'), b(1500, 'b');
  struct Case {
    std::string name, content;
    std::vector<Piece> expect;
  };
  const Case cases[] = {
      {"empty", "", {}},
      {"lines", "one\ntwo\n", {{"one\n", 1}, {"two\n", 2}}},
      {"no newline at the end", "one\nlast", {{"one\n", 1}, {"last", 2}}},
      {"999 characters, then the newline alone", a999 + "\nx\n", {{a999, 1}, {"\n", 1, true}, {"x\n", 2}}},
      {"a long line in pieces", b + "\nshort\n",
       {{std::string(999, 'b'), 1}, {std::string(501, 'b') + "\n", 1, true}, {"short\n", 2}}},
      {"a zero byte inside a line", std::string("1 2\0 3\nnext\n", 12), {{std::string("1 2\0 3\n", 7), 1}, {"next\n", 2}}},
      {"a line of 2000 characters, then one without a newline", std::string(2000, 'c') + "\nend",
       {{std::string(999, 'c'), 1}, {std::string(999, 'c'), 1, true}, {"cc\n", 1, true}, {"end", 2}}},
      {"blank lines count", "\n\n\nx\n", {{"\n", 1}, {"\n", 2}, {"\n", 3}, {"x\n", 4}}},
  };
  for (const Case& c : cases) {
    write_file(dir / "f.txt", c.content);
    EXPECT_EQ(pieces(dir / "f.txt"), c.expect) << c.name;
  }
  // Across the reader's own buffer: many lines, every one whole.
  std::string many;
  for (int i = 0; i < 100000; ++i) many += std::to_string(i) + "\n";
  write_file(dir / "many.txt", many);
  const std::vector<Piece> got = pieces(dir / "many.txt");
  ASSERT_EQ(got.size(), 100000u);
  EXPECT_EQ(got[77777], (Piece{"77777\n", 77778}));
}

TEST(LineReader, ReadsAFifoAndRefusesAFolder) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  const pid_t writer = ::fork();
  if (writer == 0) {
    write_file(dir / "fifo", "from\na fifo\n");
    ::_exit(0);
  }
  EXPECT_EQ(pieces(dir / "fifo"), (std::vector<Piece>{{"from\n", 1}, {"a fifo\n", 2}}));
  ::waitpid(writer, nullptr, 0);

  hedm::LineReader lines;
  EXPECT_EQ(testkit::error_text(lines.open(dir.path().string(), "the list")),
            "Could not read the list " + dir.path().string() + ": " + std::strerror(EISDIR) + ".");
  EXPECT_EQ(testkit::error_text(lines.open(dir / "missing", "the list")),
            "Could not open the list " + dir / "missing" + ": " + std::strerror(ENOENT) + ".");
}
