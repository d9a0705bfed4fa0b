// TextWriter: text and numbers past its 1 MiB buffer arrive whole and in
// order; a write that fails is reported once, at the flush.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "output_file.hpp"
#include "testkit.hpp"
#include "text_writer.hpp"

using namespace testkit;

TEST(TextWriter, EverythingPastTheBufferArrivesInOrder) {
  TempDir dir;
  std::string expect;
  hedm::OutputFile file;
  ASSERT_TRUE(file.create(dir / "out.txt"));
  {
    hedm::TextWriter out(file);
    const std::string block(700000, 'b');  // several buffers' worth, across their edges
    for (int i = 0; i < 300000; ++i) {
      const double v = i * 0.0123456789 - 1000;
      out.fixed6(v);
      out.put(i % 7 ? '\t' : '\n');
      out.integer(-i);
      out.put(' ');
      char buf[64];
      std::snprintf(buf, sizeof buf, "%f%c%d ", v, i % 7 ? '\t' : '\n', -i);
      expect += buf;
      if (i % 100000 == 0) {
        out.put(block);
        expect += block;
      }
    }
    ASSERT_TRUE(out.flush());
  }
  ASSERT_TRUE(file.commit());
  ASSERT_GT(expect.size(), 3u << 20);
  EXPECT_TRUE(read_file(dir / "out.txt") == expect);
}

TEST(TextWriter, AFailedWriteIsReportedAtTheFlush) {
  hedm::OutputFile file;
  ASSERT_TRUE(file.create("/dev/full"));
  hedm::TextWriter out(file);
  for (int i = 0; i < 200000; ++i) out.fixed6(i);
  const hedm::Status s = out.flush();
  ASSERT_FALSE(s);
  EXPECT_EQ(s.error().text, "Could not write /dev/full: No space left on device.");
}
