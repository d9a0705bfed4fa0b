// Every writing program killed with SIGKILL at seeded random moments over a
// destination that holds an earlier output: afterwards the final name holds
// the earlier bytes or the complete new ones, and nothing is left beside it
// but, at most, a hidden ".NAME.XXXXXX" of a run killed between linking its
// finished file and renaming it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "testkit.hpp"

using namespace testkit;
namespace fs = std::filesystem;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kScale = 4;  // the sanitized programs run several times slower
#else
constexpr int kScale = 1;
#endif
constexpr int kKills = 20;
// Kills that must land (the run still going, its output not yet complete)
// for the test to have tested anything: a few here, 100 from the benchmark
// script (bench/kill_runs.sh sets HEDM_KILLS_LANDED).
int landed_kills_wanted() {
  const char* v = std::getenv("HEDM_KILLS_LANDED");
  return v && std::atoi(v) > 0 ? std::atoi(v) : 5;
}
// Result rows and grain lines: long enough a run to be hit at many moments,
// short enough for twenty of them in a few seconds.
constexpr int kLines = 400000 / kScale / kScale;

struct Job {
  std::string program;
  std::vector<std::string> args;  // relative to the scratch folder, the run's cwd
  std::vector<std::string> outputs;
  std::map<std::string, std::string> earlier = {};  // an output's earlier bytes, where not a line of text
};

pid_t start(const Job& job, const std::string& cwd) {
  const std::string exe = std::string(HEDM_BIN_DIR) + "/" + job.program;
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    std::freopen("/dev/null", "w", stdout);
    std::vector<std::string> copy = job.args;
    std::vector<char*> argv{const_cast<char*>(exe.c_str())};
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(exe.c_str(), argv.data());
    ::_exit(127);
  }
  return pid;
}

int finish(pid_t pid) {
  int st = 0;
  while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {
  }
  return st;
}

// The output a hidden temporary ".NAME.XXXXXX" (six letters or digits)
// stands for, "" for any other name.
std::string hidden_output_of(const std::string& name) {
  const std::size_t n = name.size();
  if (n < 9 || name[0] != '.' || name[n - 7] != '.') return "";
  for (std::size_t i = n - 6; i < n; ++i)
    if (!std::isalnum(static_cast<unsigned char>(name[i]))) return "";
  return name.substr(1, n - 8);
}

// Runs the job once to its end, to learn the new bytes and the run's
// length, then killed at moments spread over that length: at least kKills
// times, and until the kills that landed before the output was complete
// number landed_kills_wanted().
void kill_at_random_moments(const TempDir& dir, const Job& job, unsigned seed) {
  SCOPED_TRACE(job.program);
  std::set<std::string> inputs;
  for (const auto& e : fs::directory_iterator(dir.path())) inputs.insert(e.path().filename().string());
  std::map<std::string, std::string> earlier, fresh;
  for (const std::string& o : job.outputs)
    earlier[o] = job.earlier.count(o) ? job.earlier.at(o) : "earlier output of " + o + "\n";
  auto put_earlier = [&] {
    for (auto& [o, bytes] : earlier) write_file(dir / o, bytes);
  };

  // The longer of two uninterrupted runs sets the span the kills cover.
  double seconds = 0;
  for (int round = 0; round < 2; ++round) {
    put_earlier();
    const auto t0 = std::chrono::steady_clock::now();
    const int st = finish(start(job, dir.path().string()));
    seconds = std::max(seconds, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    ASSERT_TRUE(WIFEXITED(st)) << "the uninterrupted run did not end normally";
  }
  for (const std::string& o : job.outputs) {
    fresh[o] = read_file(dir / o);
    ASSERT_NE(fresh[o], earlier[o]) << o << " was not written by the uninterrupted run";
  }

  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> within(0.0, 1.0);
  const int wanted = landed_kills_wanted();
  const int planned = std::max(kKills, wanted + wanted / 4);
  int killed = 0, landed = 0, keptEarlier = 0, madeNew = 0, mixed = 0, hiddenLeft = 0, k = 0;
  for (; k < planned || (landed < wanted && k < 4 * planned); ++k) {
    put_earlier();
    // Moments stratified over 110% of the run, so the start, the middle and
    // the final rename are all hit.
    const double at = (k % planned + within(rng)) / planned * seconds * 1.1;
    const pid_t pid = start(job, dir.path().string());
    std::this_thread::sleep_for(std::chrono::duration<double>(at));
    ::kill(pid, SIGKILL);
    const int s = finish(pid);
    if (WIFSIGNALED(s)) ++killed;
    int olds = 0, news = 0;
    for (const std::string& o : job.outputs) {
      const std::string now = read_file(dir / o);
      if (now == earlier[o]) ++olds;
      else if (now == fresh[o]) ++news;
      else ADD_FAILURE() << o << " holds " << now.size() << " bytes, neither the earlier nor the new output"
                         << " (kill " << k << " at " << at << " s)";
    }
    const bool complete = news == static_cast<int>(job.outputs.size());
    if (WIFSIGNALED(s) && !complete) ++landed;
    if (olds == static_cast<int>(job.outputs.size())) ++keptEarlier;
    else if (complete) ++madeNew;
    else ++mixed;  // a series killed between two of its files
    for (const auto& e : fs::directory_iterator(dir.path())) {
      const std::string name = e.path().filename().string();
      if (inputs.count(name) || earlier.count(name)) continue;
      if (earlier.count(hidden_output_of(name))) {
        ++hiddenLeft;
        fs::remove(e.path());
        continue;
      }
      ADD_FAILURE() << "a killed run left " << name;
      fs::remove(e.path());
    }
  }
  EXPECT_GE(landed, wanted) << "too few kills landed while the run was writing: nothing was tested";
  std::cout << job.program << ": run of " << seconds << " s, " << k << " kills (" << killed
            << " before the end, " << landed << " before the output was complete): earlier output kept " << keptEarlier << ", new output complete " << madeNew
            << ", series partly new " << mixed << ", hidden temporaries left " << hiddenLeft << "\n";
}

void make(const std::vector<std::string>& args, const std::string& cwd) {
  RunResult r = run("hedm-sample-data", args, cwd);
  ASSERT_EQ(r.status, 0) << r.out;
}

void text(const TempDir& dir, const std::string& name, const std::string& content) { write_file(dir / name, content); }

}  // namespace

TEST(KilledRuns, StackCollapse) {
  TempDir dir;
  make({"stack", "stack.ge3", std::to_string(30 / kScale)}, dir.path().string());
  kill_at_random_moments(dir, {"StackCollapse", {"stack.ge3", "median.ge3"}, {"median.ge3"}}, 1);
}

// A median added to an HDF5 file that holds a stack of its own: the file
// afterwards is the earlier one or the whole new one, with both datasets.
TEST(KilledRuns, StackCollapseIntoAnHdf5File) {
  TempDir dir;
  const RunResult r = run("hedm-sample-data", {"h5", "results.h5", "4", "7", "--rows", "1024", "--columns", "1024"},
                          dir.path().string());
  if (r.status != 0) GTEST_SKIP() << "this build writes no HDF5: " << r.out;
  make({"h5", "dark.h5", "3"}, dir.path().string());
  const std::string results = read_file(dir / "results.h5");
  kill_at_random_moments(
      dir, {"StackCollapse", {"dark.h5", "results.h5::/analysis/dark_median"}, {"results.h5"}, {{"results.h5", results}}},
      6);
}

TEST(KilledRuns, PanelPack) {
  TempDir dir;
  const int last = 8 / kScale;
  make({"floats", "scan_", "1", std::to_string(last), "raw"}, dir.path().string());
  std::vector<std::string> outs;
  for (int i = 1; i <= last; ++i) outs.push_back("scan_0000" + std::to_string(i) + ".ge3");
  kill_at_random_moments(dir, {"PanelPack", {"scan_", "1", std::to_string(last), "5", "raw", "1"}, outs}, 2);
}

TEST(KilledRuns, BuildTriMesh) {
  TempDir dir;  // about 2 M grid points (125 000 when sanitized)
  text(dir, "p.txt", "GridSize 0.5\nRsample " + std::to_string(250 / kScale) + "\nDataDirectory .\n");
  kill_at_random_moments(dir, {"BuildTriMesh", {"p.txt"}, {"grid.txt"}}, 3);
}

TEST(KilledRuns, SolutionDump) {
  TempDir dir;
  make({"results", "r.bin", std::to_string(kLines)}, dir.path().string());
  text(dir, "p.txt", "PhaseNr 1\nNumPhases 1\nGlobalPosition 0\nMicFileBinary r.bin\nMicFileText t.txt\n");
  kill_at_random_moments(dir, {"SolutionDump", {"p.txt"}, {"t.txt", "t.txt.AllMatches"}}, 4);
}

TEST(KilledRuns, GrainQuats) {
  TempDir dir;
  make({"grains", "g.txt", std::to_string(kLines)}, dir.path().string());
  kill_at_random_moments(dir, {"GrainQuats", {"g.txt", "seeds.csv"}, {"seeds.csv"}}, 5);
}
