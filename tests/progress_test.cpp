// The progress line's text, and the counter that hands counts on from many
// threads: at its end always, and seldom before.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "progress.hpp"

TEST(ProgressText, SaysHowFarHowFastAndTheTimeLeft) {
  struct Case {
    std::uint64_t done, total;
    double seconds;
    const char* text;
  } cases[] = {
      {0, 3'400'000'000, 0.0, "StackCollapse:   0%  0.0 of 3.4 GB  0.00 GB/s  --:-- left"},
      {1'700'000'000, 3'400'000'000, 1.0, "StackCollapse:  50%  1.7 of 3.4 GB  1.70 GB/s  0:01 left"},
      {1'000'000'000, 3'000'000'000, 1.0, "StackCollapse:  33%  1.0 of 3.0 GB  1.00 GB/s  0:02 left"},
      {999, 1000, 1.0, "StackCollapse:  99%  0.0 of 0.0 GB  0.00 GB/s  0:00 left"},
      {1'000'000, 12'000'000'000, 1.0, "StackCollapse:   0%  0.0 of 12.0 GB  0.00 GB/s  3:19:59 left"},
      {12'000'000'000, 12'000'000'000, 6.0, "StackCollapse: 100%  12.0 of 12.0 GB  2.00 GB/s  0:00 left"},
      {5, 0, 1.0, "StackCollapse: 100%  0.0 of 0.0 GB  0.00 GB/s  0:00 left"},  // nothing to do is all done
  };
  for (const Case& c : cases)
    EXPECT_EQ(hedm::progress_text("StackCollapse", c.done, c.total, c.seconds), c.text) << c.done << " " << c.total;
}

TEST(ProgressCounter, HandsOnTheEndAndAtMost256CountsBefore) {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> heard;
  const hedm::ProgressFn fn = [&](std::uint64_t done, std::uint64_t total) {
    heard.emplace_back(done, total);  // one thread at a time
    return hedm::ok();
  };
  constexpr std::uint64_t kTotal = 4 * 100000;
  hedm::ProgressCounter counter(fn, kTotal);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 100000; ++i) ASSERT_TRUE(counter.add(1));
    });
  for (std::thread& t : threads) t.join();
  ASSERT_FALSE(heard.empty());
  EXPECT_EQ(heard.back(), std::make_pair(kTotal, kTotal));
  EXPECT_LE(heard.size(), 257u);
  for (std::size_t i = 1; i < heard.size(); ++i) EXPECT_LT(heard[i - 1].first, heard[i].first);

  // A stage of a longer run, and a watcher's error that stops it.
  heard.clear();
  const hedm::ProgressFn second = hedm::progress_stage(fn, 1000, 3000);
  ASSERT_TRUE(second(2000, 2000));
  EXPECT_EQ(heard.back(), std::make_pair(std::uint64_t{3000}, std::uint64_t{3000}));
  const hedm::ProgressFn refuses = [](std::uint64_t, std::uint64_t) -> hedm::Status {
    return hedm::Error{hedm::ErrorKind::Argument, "stop"};
  };
  hedm::ProgressCounter stopped(refuses, 10);
  EXPECT_FALSE(stopped.add(10));

  // A counter of a stage made for it alone, as the decoding of a stack's
  // frames counts: it keeps the stage's watcher.
  heard.clear();
  hedm::ProgressCounter decoded(hedm::progress_stage(fn, 0, 20), 10);
  ASSERT_TRUE(decoded.add(10));
  EXPECT_EQ(heard.back(), std::make_pair(std::uint64_t{10}, std::uint64_t{20}));
}
