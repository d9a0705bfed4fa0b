#!/usr/bin/env bash
# Every writing program killed with SIGKILL until 100 kills have landed
# while its output was being written (the test suite requires a few), each
# checked as in the tests: the earlier output or the complete new one,
# nothing else left behind.
#   bench/kill_runs.sh [build-dir] [landed kills per program]
set -euo pipefail
build=${1:-build}
HEDM_KILLS_LANDED=${2:-100} "$build/tests/kill_tests" --gtest_brief=1 | grep -E 'kills|FAILED|PASSED'
