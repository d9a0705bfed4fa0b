// The one way a stack's bands of pixels are shared out among threads, for
// every median (16-bit, coded, 32-bit, HDF5 stacks): each thread takes the
// next band that no thread has taken, so the bands keep every thread busy
// to nearly the end, and every band is done once, by one thread, whatever
// their number.
//
// A failure on any thread (a read that fails, memory that runs out, an
// error from the one who takes the results) stops every thread before its
// next band, and the first failure is the run's.
#pragma once

#include <cstddef>
#include <functional>

#include "error.hpp"

namespace hedm {

// Does band b on thread t (0 .. threads - 1), with that thread's own
// buffers.
using BandWork = std::function<Status(unsigned t, std::size_t b)>;
// Takes the bands first .. end - 1, all done, in order: called from one
// thread at a time, never with a band before one it has had.
using BandsDone = std::function<Status(std::size_t first, std::size_t end)>;

// Runs `work` on bands 0 .. nBands - 1 on `threads` threads, this one among
// them (a thread that cannot be started leaves its bands to the others),
// and hands each run of bands done in order to `done` as soon as every
// band before it is done too, outside any lock: a thread that finds
// another handing bands on leaves its band to that one and goes on with
// its next.  Memory that runs out on any thread (std::bad_alloc) is a
// Memory error; any other exception is thrown again here once every
// thread has stopped.
Status run_bands(unsigned threads, std::size_t nBands, const BandWork& work, const BandsDone& done = {});

}  // namespace hedm
