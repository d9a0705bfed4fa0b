#include "progress.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace hedm {

namespace {
std::mutex gShownMutex;
ProgressLine* gShown = nullptr;  // the line now on the terminal, if any

void write_err(const std::string& text) {
  const char* p = text.data();
  std::size_t n = text.size();
  while (n > 0) {
    const ssize_t w = ::write(STDERR_FILENO, p, n);
    if (w <= 0) return;  // a terminal that went away: the run goes on without its line
    p += w;
    n -= static_cast<std::size_t>(w);
  }
}
}  // namespace

Status ProgressCounter::add(std::uint64_t bytes) {
  if (!fn_) return ok();
  std::lock_guard<std::mutex> lock(mutex_);
  done_ += bytes;
  if (done_ < total_ && done_ - handed_ < total_ / 256) return ok();
  handed_ = done_;
  return fn_(done_, total_);
}

ProgressFn progress_stage(const ProgressFn& fn, std::uint64_t before, std::uint64_t overall) {
  if (!fn) return {};
  return [fn, before, overall](std::uint64_t done, std::uint64_t) { return fn(before + done, overall); };
}

std::string progress_text(const std::string& what, std::uint64_t done, std::uint64_t total, double seconds) {
  const double fraction = total ? static_cast<double>(done) / static_cast<double>(total) : 1.0;
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;  // bytes a second
  std::string left = "--:--";
  if (rate > 0) {
    const double remaining = std::min(static_cast<double>(total - std::min(done, total)) / rate, 359999.0);
    const long s = std::lround(remaining);
    char buf[32];
    if (s >= 3600) std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    left = buf;
  }
  char line[256];
  std::snprintf(line, sizeof line, "%s: %3d%%  %.1f of %.1f GB  %.2f GB/s  %s left", what.c_str(),
                static_cast<int>(std::floor(std::clamp(fraction, 0.0, 1.0) * 100.0)), static_cast<double>(done) / 1e9,
                static_cast<double>(total) / 1e9, rate / 1e9, left.c_str());
  return line;
}

ProgressLine::ProgressLine(std::string what)
    : what_(std::move(what)), terminal_(::isatty(STDERR_FILENO) == 1), start_(std::chrono::steady_clock::now()) {}

ProgressLine::~ProgressLine() { clear(); }

ProgressFn ProgressLine::watcher() {
  if (!terminal_) return {};
  return [this](std::uint64_t done, std::uint64_t total) { return update(done, total); };
}

Status ProgressLine::update(std::uint64_t done, std::uint64_t total) {
  using namespace std::chrono;
  if (!terminal_) return ok();
  const steady_clock::time_point now = steady_clock::now();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (now - start_ < seconds(1) || (shown_ && now - drawn_ < milliseconds(250))) return ok();
    drawn_ = now;
    shown_ = true;
    // \r to the line's start, the text, then the rest of the line erased.
    std::string line(1, '\r');  // appended, not "\r" + text: GCC 12 warns falsely of the latter
    line += progress_text(what_, done, total, duration<double>(now - start_).count());
    line += "\033[K";
    write_err(line);
  }
  std::lock_guard<std::mutex> shown(gShownMutex);
  gShown = this;
  return ok();
}

// Never holds both locks but in clear_progress_line, which takes the
// shown line's lock after the list's: no two threads wait on each other.
void ProgressLine::clear() {
  {
    std::lock_guard<std::mutex> shown(gShownMutex);
    if (gShown == this) gShown = nullptr;
  }
  erase();
}

void ProgressLine::erase() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!shown_) return;
  write_err("\r\033[K");
  shown_ = false;
}

void clear_progress_line() {
  std::lock_guard<std::mutex> lock(gShownMutex);
  if (gShown) gShown->erase();
  gShown = nullptr;
}

}  // namespace hedm
