// How far a long run has come: a count of bytes done out of a total, handed
// as the run goes to whoever watches it (a line on a terminal, a Python
// callback).  A watcher's error (a callback that raised) stops the run.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>

#include "error.hpp"

namespace hedm {

using ProgressFn = std::function<Status(std::uint64_t done, std::uint64_t total)>;

// Counts the bytes done by any number of threads and hands the count on
// now and then (every 1/256 of the total, and at its end), from one thread
// at a time.
class ProgressCounter {
 public:
  ProgressCounter(ProgressFn fn, std::uint64_t total) : fn_(std::move(fn)), total_(total) {}
  Status add(std::uint64_t bytes);

 private:
  const ProgressFn fn_;  // its own: a stage's watcher is made for the counter alone
  std::mutex mutex_;
  std::uint64_t total_, done_ = 0, handed_ = 0;
};

// A stage of a longer run: its counts handed on after the `before` bytes of
// the stages ahead of it, out of the whole run's `overall`.
ProgressFn progress_stage(const ProgressFn& fn, std::uint64_t before, std::uint64_t overall);

// The line's text: what runs, the percentage done, the bytes done of all,
// the speed since the start and the time left at that speed.
std::string progress_text(const std::string& what, std::uint64_t done, std::uint64_t total, double seconds);

// One line on standard error, when it is a terminal, that says how far a
// run has come and is rewritten in place (at most four times a second); it
// shows only once the run has lasted a second, and is cleared when the run
// ends and before any report line is printed, so the terminal keeps only
// the report.  Where standard error is not a terminal (a log, a pipe, a
// batch job's output) nothing is ever written.
class ProgressLine {
 public:
  explicit ProgressLine(std::string what);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // The watcher to hand to a run: empty where nothing is shown.
  ProgressFn watcher();
  Status update(std::uint64_t done, std::uint64_t total);
  void clear();

 private:
  friend void clear_progress_line();
  void erase();
  std::string what_;
  bool terminal_;
  bool shown_ = false;
  std::mutex mutex_;
  std::chrono::steady_clock::time_point start_, drawn_;
};

// Clears the progress line on show, if any (the report calls it before
// every line it prints).
void clear_progress_line();

}  // namespace hedm
