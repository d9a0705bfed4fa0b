// The HDF5 files the tests read, made with h5py (tests/hdf5_files.py) once
// per process for every test of the Hdf5Files suite, and h5py's view of a
// dataset to compare a read or a write with.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "testkit.hpp"

namespace testkit {

// The files that tests/hdf5_files.py writes with h5py, once per process.
class Hdf5Files : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    const RunResult r = run("/usr/bin/python3", {HEDM_TESTS_DIR "/hdf5_files.py", "make", dir_->path().string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static std::string at(const std::string& name) { return *dir_ / name; }
  static std::vector<std::uint32_t> values(const std::string& binFile) {
    const std::string bytes = read_file(binFile);
    std::vector<std::uint32_t> v(bytes.size() / 4);
    std::memcpy(v.data(), bytes.data(), bytes.size());
    return v;
  }
  // h5py's view of a dataset: its description line, its values as uint32.
  static std::string dump(const std::string& file, const std::string& dataset, std::vector<std::uint32_t>* v) {
    const std::string bin = at("dump.bin");
    const RunResult r = run("/usr/bin/python3", {HEDM_TESTS_DIR "/hdf5_files.py", "dump", file, dataset, bin});
    EXPECT_EQ(r.status, 0) << r.err;
    *v = values(bin);
    return r.out;
  }
  static inline TempDir* dir_ = nullptr;
};

}  // namespace testkit
