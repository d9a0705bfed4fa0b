#include "memory.hpp"

#include <sys/mman.h>

namespace hedm {

void* allocate_aligned(std::size_t bytes) {
  constexpr std::size_t kPage = 4096;
  if (bytes == 0) bytes = 1;
  if (bytes > SIZE_MAX - kPage) return nullptr;
  return std::aligned_alloc(kPage, (bytes + kPage - 1) / kPage * kPage);
}

void* allocate_huge(std::size_t bytes) {
  if (bytes < kHugePageBytes) return allocate_aligned(bytes);
  if (bytes > SIZE_MAX - kHugePageBytes) return nullptr;
  const std::size_t rounded = (bytes + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
  void* p = std::aligned_alloc(kHugePageBytes, rounded);
  if (p) ::madvise(p, rounded, MADV_HUGEPAGE);  // a hint: without it the buffer still works
  return p;
}

Error out_of_memory(std::size_t bytes) {
  return memory_error("Could not obtain " + std::to_string(bytes) + " bytes of memory.");
}

}  // namespace hedm
