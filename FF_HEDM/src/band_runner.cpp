#include "band_runner.hpp"

#include <atomic>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace hedm {

Status run_bands(unsigned threads, std::size_t nBands, const BandWork& work, const BandsDone& done) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  std::mutex failure, order;
  Status first = ok();
  std::exception_ptr thrown;
  std::vector<char> finished(done ? nBands : 0, 0);
  std::size_t handed = 0;  // bands handed to done
  bool handing = false;    // a thread is handing bands to done
  auto fail = [&](Status s, std::exception_ptr e = nullptr) {
    std::lock_guard<std::mutex> lock(failure);
    if (!stop.exchange(true)) {
      first = std::move(s);
      thrown = e;
    }
  };
  // Hands on every band done in order so far, unless another thread is at
  // it; `lock` holds `order` on entry and on return.
  auto hand_on = [&](std::unique_lock<std::mutex>& lock) -> Status {
    if (handing) return ok();
    handing = true;
    Status s = ok();
    for (;;) {
      std::size_t end = handed;
      while (end < nBands && finished[end]) ++end;
      if (end == handed || stop.load()) break;
      const std::size_t from = handed;
      handed = end;
      lock.unlock();
      s = done(from, end);
      lock.lock();
      if (!s) break;
    }
    handing = false;
    return s;
  };
  auto thread_body = [&](unsigned t) {
    try {
      for (std::size_t b; !stop.load(std::memory_order_relaxed) && (b = next.fetch_add(1)) < nBands;) {
        if (Status s = work(t, b); !s) return fail(std::move(s));
        if (!done) continue;
        std::unique_lock<std::mutex> lock(order);
        finished[b] = 1;
        if (Status s = hand_on(lock); !s) {
          lock.unlock();
          return fail(std::move(s));
        }
      }
    } catch (const std::bad_alloc&) {
      fail(memory_error("Could not obtain the memory this run needs."));
    } catch (...) {
      fail(memory_error(""), std::current_exception());
    }
  };
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads && t < nBands; ++t) {
    try {
      pool.emplace_back(thread_body, t);
    } catch (const std::system_error&) {
      break;  // no more threads to be had: the started ones take every band
    }
  }
  thread_body(0);
  for (std::thread& th : pool) th.join();
  if (thrown) std::rethrow_exception(thrown);
  return first;
}

}  // namespace hedm
