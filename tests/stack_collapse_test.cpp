// StackCollapse as a user runs it: input files, the command, the expected
// standard output, exit status and written bytes.
#include <gtest/gtest.h>

#include <sched.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "input_file.hpp"
#include "stack_median.hpp"
#include "testkit.hpp"

using namespace testkit;
using hedm::kPixelsPerFrame;
using hedm::pixelvalue;

namespace {

std::string header_pattern() {
  std::string h(hedm::kHeaderBytes, '\0');
  for (std::size_t i = 0; i < h.size(); ++i) h[i] = static_cast<char>(i * 37 + 11);
  return h;
}

}  // namespace

TEST(StackCollapse, MedianOfEachPixelBehindTheInputHeader) {
  struct Case {
    const char* name;
    std::vector<hedm::pixelvalue> values;  // one pixel's value in each frame
    hedm::pixelvalue median;
    std::string tail;
  };
  const Case cases[] = {
      {"one frame", {4660}, 4660, ""},
      {"two frames take the smaller", {9, 4}, 4, ""},
      {"four frames take the lower middle", {10, 40, 20, 30}, 20, ""},
      {"values compare unsigned", {65535, 1, 2}, 2, ""},
      {"trailing bytes are no frame", {9, 4}, 4, std::string(100, '\x7f')},
      {"odd data size", {9, 4}, 4, std::string(1, '\x01')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::vector<std::vector<hedm::pixelvalue>> frames;
    for (std::size_t f = 0; f < c.values.size(); ++f)
      frames.push_back(frame_with(static_cast<hedm::pixelvalue>(100 + f),
                                  {{0, c.values[f]}, {kPixelsPerFrame - 1, c.values[f]}, {12345, c.values[f]}}));
    const std::string in = frame_file_bytes(header_pattern(), frames, c.tail);
    write_file(dir / "dark.ge3", in);
    RunResult r = run("StackCollapse", {dir / "dark.ge3", dir / "median.ge3"});
    EXPECT_EQ(r.status, 0);
    const std::string passedOver = c.tail.size() == 1 ? "its last byte is passed over" :
                                   "its last " + std::to_string(c.tail.size()) + " bytes are passed over";
    EXPECT_EQ(r.out, "Read file " + (dir / "dark.ge3") + ".\n" +
                         (c.tail.empty() ? "" : "Warning: " + (dir / "dark.ge3") + " ends in a partial frame: " +
                                                    passedOver + ".\n"));
    EXPECT_EQ(r.err, "");
    const std::string out = read_file(dir / "median.ge3");
    ASSERT_EQ(out.size(), hedm::kOneFrameFileBytes);
    EXPECT_EQ(out.substr(0, hedm::kHeaderBytes), header_pattern());
    for (std::size_t k : {std::size_t{0}, std::size_t{12345}, kPixelsPerFrame - 1})
      EXPECT_EQ(pixel_at(out, 0, k), c.median) << "pixel " << k;
    // Every other pixel has the frame's fill value 100 + f: the lower median.
    EXPECT_EQ(pixel_at(out, 0, 1), 100 + (c.values.size() - 1) / 2);
    EXPECT_EQ(read_file(dir / "dark.ge3"), in) << "input changed";
  }
}

TEST(StackCollapse, OneFrameIsCopiedByteForByte) {
  TempDir dir;
  std::vector<hedm::pixelvalue> frame(kPixelsPerFrame);
  for (std::size_t k = 0; k < kPixelsPerFrame; ++k) frame[k] = static_cast<hedm::pixelvalue>(k * 2654435761u >> 7);
  const std::string in = frame_file_bytes(header_pattern(), {frame});
  write_file(dir / "in.ge3", in);
  RunResult r = run("StackCollapse", {dir / "in.ge3", dir / "out.ge3"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(read_file(dir / "out.ge3") == in);
}

// A stack beyond 4 GiB, made sparse so that it costs no disk: three pages
// of pixels written in more than half of the 600 frames, on both sides of
// the 4 GiB mark, holes (zeros) everywhere else, and a partial frame at the
// end.  Every output pixel is checked against the median of the values the
// pixel has in the file.
TEST(StackCollapse, StacksBeyondFourGiB) {
  TempDir dir;
  const int nFrames = 600;  // 8192 + 600 frames: about 4.7 GiB
  const std::size_t kPage = 2048;  // pixels
  const std::size_t pages[] = {0, 1000 * kPage, kPixelsPerFrame - kPage};
  std::vector<std::vector<pixelvalue>> columns(3 * kPage);  // the written pixels' values, frame by frame
  {
    std::FILE* f = std::fopen((dir / "deep.ge3").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const std::string header(hedm::kHeaderBytes, '\x5a');
    std::fwrite(header.data(), 1, header.size(), f);
    std::mt19937 rng(3);
    std::vector<pixelvalue> px(kPage);
    for (int frame = 0; frame < nFrames; ++frame) {
      const bool written = frame % 2 == 0 || frame >= nFrames - 6;  // 303 frames
      for (std::size_t g = 0; g < 3; ++g) {
        for (std::size_t j = 0; j < kPage; ++j) {
          px[j] = written ? static_cast<pixelvalue>(rng() % 65535 + 1) : 0;
          columns[g * kPage + j].push_back(px[j]);
        }
        if (!written) continue;
        const std::uint64_t at = hedm::kHeaderBytes + std::uint64_t{hedm::kFrameBytes} * frame + 2 * pages[g];
        ASSERT_EQ(::fseeko(f, static_cast<off_t>(at), SEEK_SET), 0);
        std::fwrite(px.data(), 2, kPage, f);
      }
    }
    ASSERT_EQ(::fseeko(f, static_cast<off_t>(hedm::kHeaderBytes + std::uint64_t{hedm::kFrameBytes} * nFrames + 4999), SEEK_SET), 0);
    std::fputc(7, f);  // 5000 bytes of a frame that is not complete
    ASSERT_EQ(std::fclose(f), 0);
  }
  RunResult r = run("StackCollapse", {dir / "deep.ge3", dir / "median.ge3"});
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string out = read_file(dir / "median.ge3");
  ASSERT_EQ(out.size(), hedm::kOneFrameFileBytes);
  EXPECT_EQ(out.substr(0, hedm::kHeaderBytes), std::string(hedm::kHeaderBytes, '\x5a'));
  std::vector<pixelvalue> expected(kPixelsPerFrame, 0);  // more than half of an unwritten pixel's values are 0
  for (std::size_t g = 0; g < 3; ++g)
    for (std::size_t j = 0; j < kPage; ++j) {
      std::vector<pixelvalue>& c = columns[g * kPage + j];
      std::nth_element(c.begin(), c.begin() + (nFrames - 1) / 2, c.end());
      expected[pages[g] + j] = c[(nFrames - 1) / 2];
      ASSERT_NE(expected[pages[g] + j], 0);
    }
  for (std::size_t p = 0; p < kPixelsPerFrame; ++p) ASSERT_EQ(pixel_at(out, 0, p), expected[p]) << "pixel " << p;
  // Where the file cannot be mapped (here, too little address space), it is
  // read with pread, to the same frame.
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's shadow memory needs the address space
  RunResult unmapped = run("StackCollapse", {dir / "deep.ge3", dir / "unmapped.ge3"}, "", Limits{.addressSpace = 1u << 30});
  ASSERT_EQ(unmapped.status, 0) << unmapped.out;
  EXPECT_TRUE(read_file(dir / "unmapped.ge3") == out);
#endif
  // The same frame, byte for byte, whatever the number of threads.
  hedm::InputFile in;
  ASSERT_TRUE(in.open(dir / "deep.ge3"));
  for (unsigned threads : {1u, 2u, 3u, 5u}) {
    std::vector<pixelvalue> frame(kPixelsPerFrame);
    ASSERT_TRUE(hedm::median_of_frames_in_file(in, {hedm::kHeaderBytes, nFrames, hedm::kPixelsPerFrame}, frame.data(), threads));
    EXPECT_TRUE(frame == expected) << threads << " threads";
  }
}

// One thread per processor the run may use: under `taskset -c 0` no thread
// is started beside the first, and on all the processors this test may use
// one per further processor, up to the most that pay.  strace counts the
// threads started.
TEST(StackCollapse, ThreadsFollowTheAffinityMask) {
  TempDir dir;
  write_file(dir / "in.ge3", frame_file_bytes(header_pattern(), {frame_with(7)}));
  cpu_set_t mask;
  ASSERT_EQ(sched_getaffinity(0, sizeof mask, &mask), 0);
  std::vector<int> cpus;
  for (int c = 0; c < CPU_SETSIZE; ++c)
    if (CPU_ISSET(c, &mask)) cpus.push_back(c);
  std::string all;
  for (int c : cpus) {
    if (!all.empty()) all += ',';
    all += std::to_string(c);
  }
  const struct {
    std::string cpus;
    std::size_t threads;
  } cases[] = {{std::to_string(cpus[0]), 1}, {all, std::min<std::size_t>(cpus.size(), hedm::kMaxThreads)}};
  for (const auto& c : cases) {
    SCOPED_TRACE("taskset -c " + c.cpus);
    // The leak check of a sanitized build cannot run under strace.
    RunResult r = run("/usr/bin/env", {"ASAN_OPTIONS=detect_leaks=0", "strace", "-f", "-qq", "-e", "trace=clone,clone3", "-o",
                                       dir / "trace", "taskset", "-c", c.cpus, std::string(HEDM_BIN_DIR) + "/StackCollapse",
                                       dir / "in.ge3", dir / "out.ge3"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string trace = read_file(dir / "trace");
    std::size_t started = 0;
    for (std::size_t at = 0; (at = trace.find("CLONE_THREAD", at)) != std::string::npos; ++at) ++started;
    EXPECT_EQ(started + 1, c.threads) << trace;
  }
}
