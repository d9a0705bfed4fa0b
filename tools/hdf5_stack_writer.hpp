// A made-up HDF5 stack written frame by frame, for hedm-sample-data and the
// tests that need HDF5 stacks of every layout; no program links it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "error.hpp"

namespace hedm {

// A stack written frame by frame to a hidden file beside `path`, which
// commit() puts under the final name; dropped without a commit, it leaves
// the destination as it was.
struct StackShape {
  enum class Chunks { Frame, Tile, Contiguous };  // tiles: 4 frames x 256 x 256 at most
  enum class Filter { None, Deflate, Bitshuffle };  // bitshuffle with LZ4 (filter 32008)
  std::uint64_t frames = 0, rows = 0, columns = 0;
  unsigned pixelBytes = 2;
  Chunks chunks = Chunks::Frame;
  Filter filter = Filter::None;
};
class Hdf5StackWriter {
 public:
  Hdf5StackWriter();
  Hdf5StackWriter(const Hdf5StackWriter&) = delete;
  Hdf5StackWriter& operator=(const Hdf5StackWriter&) = delete;
  ~Hdf5StackWriter();

  Status create(const std::string& path, const std::string& dataset, const StackShape& shape);
  // Frame f (rows x columns values of the stack's width; the other width is refused).
  Status write_frame(std::uint64_t f, const void* pixels, unsigned pixelBytes);
  Status commit();
  void discard();

 private:
  struct State;
  std::unique_ptr<State> s_;
};

}  // namespace hedm
