// The band runner every median shares: each band done once, the bands
// handed on in order whatever order the threads finish them in, and the
// first failure on any thread (an error, memory that ran out, an error of
// the one who takes the bands) the run's.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "band_runner.hpp"

using hedm::Status;

namespace {
// Bands that take unequal times, so that threads finish them out of order.
void uneven_pause(std::size_t b) { std::this_thread::sleep_for(std::chrono::microseconds((b * 7919) % 300)); }
}  // namespace

TEST(BandRunner, DoesEveryBandOnceAndHandsThemOnInOrder) {
  for (unsigned threads : {1u, 2u, 3u, 5u, 8u})
    for (std::size_t nBands : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{100}}) {
      SCOPED_TRACE(std::to_string(threads) + " threads, " + std::to_string(nBands) + " bands");
      std::vector<std::atomic<int>> times(nBands);
      std::vector<std::size_t> handed;
      std::atomic<int> handing{0};
      const Status s = hedm::run_bands(
          threads, nBands,
          [&](unsigned t, std::size_t b) -> Status {
            EXPECT_LT(t, threads);
            uneven_pause(b);
            ++times[b];
            return hedm::ok();
          },
          [&](std::size_t first, std::size_t end) -> Status {
            EXPECT_EQ(handing.fetch_add(1), 0) << "two threads hand bands on at once";
            EXPECT_EQ(first, handed.size());
            for (std::size_t b = first; b < end; ++b) {
              EXPECT_EQ(times[b].load(), 1) << "band " << b << " handed on before it was done";
              handed.push_back(b);
            }
            handing.fetch_sub(1);
            return hedm::ok();
          });
      ASSERT_TRUE(s);
      for (std::size_t b = 0; b < nBands; ++b) EXPECT_EQ(times[b].load(), 1) << "band " << b;
      EXPECT_EQ(handed.size(), nBands);
    }
}

TEST(BandRunner, TheFirstFailureOnAnyThreadIsTheRunsAndStopsTheRest) {
  using hedm::Error;
  using hedm::ErrorKind;
  struct Case {
    const char* what;
    std::function<Status(std::size_t)> band;  // what band b does
    bool doneFails;
    ErrorKind kind;
  } cases[] = {
      {"a band that fails", [](std::size_t b) -> Status {
         if (b == 10) return Error{ErrorKind::Input, "band 10 could not be read"};
         return hedm::ok();
       }, false, ErrorKind::Input},
      {"memory that runs out", [](std::size_t b) -> Status {
         if (b == 10) throw std::bad_alloc();
         return hedm::ok();
       }, false, ErrorKind::Memory},
      {"the taker's error", [](std::size_t) -> Status { return hedm::ok(); }, true, ErrorKind::Output},
  };
  for (const Case& c : cases)
    for (unsigned threads : {1u, 2u, 4u}) {
      SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(threads) + " threads");
      std::atomic<std::size_t> started{0};
      const Status s = hedm::run_bands(
          threads, 10000,
          [&](unsigned, std::size_t b) {
            ++started;
            uneven_pause(b);
            return c.band(b);
          },
          [&](std::size_t, std::size_t end) -> Status {
            if (c.doneFails && end > 5) return Error{ErrorKind::Output, "disk full"};
            return hedm::ok();
          });
      ASSERT_FALSE(s);
      EXPECT_EQ(s.error().kind, c.kind);
      EXPECT_LT(started.load(), 200u) << "the other threads went on after the failure";
    }
  // Any other exception is the caller's to see, once every thread has stopped.
  EXPECT_THROW(hedm::run_bands(2, 100,
                               [](unsigned, std::size_t b) -> Status {
                                 if (b == 3) throw std::runtime_error("a fault");
                                 return hedm::ok();
                               }),
               std::runtime_error);
}
