// Asks the kernel to back a large, freshly reserved array with transparent huge pages.
//
// A long script's instruction array is megabytes that are written once, front to back: with
// 4 KiB pages every page costs a fault and a zero-fill, which made up a third of a 100,000
// statement run. Huge pages turn thousands of faults into a handful. Only advice: where the
// kernel declines (or the platform has no such call) nothing changes but the speed.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace tarn::lang::detail {

inline void advise_huge_pages(const void* data, std::size_t bytes) {
#if defined(MADV_HUGEPAGE)
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  if (bytes < 2 * kHugePage) return;  // too small to hold a whole aligned huge page
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = (begin + bytes) & ~(kHugePage - 1);
  if (last > first) {
    ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
  }
#else
  (void)data;
  (void)bytes;
#endif
}

}  // namespace tarn::lang::detail
