// Heap blocks for the large buffers: page-aligned, or 2 MiB aligned and
// offered huge pages, and the message for memory that cannot be had.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "error.hpp"

namespace hedm {

// A page-aligned heap block.  The kernel copies file data markedly faster
// into a page-aligned destination than into one a few bytes off.
struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using AlignedPtr = std::unique_ptr<T[], FreeDeleter>;

void* allocate_aligned(std::size_t bytes);  // nullptr when memory cannot be had
template <class T>
AlignedPtr<T> allocate_array(std::size_t count) {
  if (count > SIZE_MAX / sizeof(T)) return AlignedPtr<T>();
  return AlignedPtr<T>(static_cast<T*>(allocate_aligned(count * sizeof(T))));
}

// A block for a large working buffer that is walked with long strides: 2 MiB
// aligned and offered huge pages, so that the walk needs few TLB entries.
// Blocks smaller than a huge page get ordinary pages.
inline constexpr std::size_t kHugePageBytes = 2u << 20;
void* allocate_huge(std::size_t bytes);
template <class T>
AlignedPtr<T> allocate_huge_array(std::size_t count) {
  if (count > SIZE_MAX / sizeof(T)) return AlignedPtr<T>();
  return AlignedPtr<T>(static_cast<T*>(allocate_huge(count * sizeof(T))));
}

// The Memory error "Could not obtain N bytes of memory."
Error out_of_memory(std::size_t bytes);

}  // namespace hedm
