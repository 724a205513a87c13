// Transparent huge pages for the large arrays of a run: the instructions, the bodies being read,
// the JSON report.
//
// A long script's instruction array is megabytes that are written once, front to back: with
// 4 KiB pages every page costs a fault and a zero-fill, which made up a third of a 100,000
// statement run. Huge pages turn thousands of faults into a handful. Advice only: where the
// kernel declines (or the platform has no such call) nothing changes but the speed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace tarn::lang::detail {

inline constexpr std::size_t kHugePage = std::size_t{2} << 20;

/// Advises the whole huge pages inside [data, data + bytes).
inline void advise_huge_pages(const void* data, std::size_t bytes) {
#if defined(MADV_HUGEPAGE)
  if (bytes < kHugePage) return;
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

/// `count` rounded up so that `count` values of T fill whole huge pages, when they would fill at
/// least half of one: the kernel can then back them with huge pages, at the cost of the rest of
/// the last page in address space (pages never touched take no memory).
template <class T>
constexpr std::size_t huge_page_capacity(std::size_t count) {
  const std::size_t bytes = count * sizeof(T);
  if (bytes < kHugePage / 2) return count;
  return (bytes + kHugePage - 1) / kHugePage * kHugePage / sizeof(T);
}

/// An allocator whose large arrays start on a huge-page boundary and are advised as huge pages.
/// Without the alignment, the part of an array before its first boundary (up to 2 MiB, half of
/// a typical one) would still be faulted in 4 KiB at a time.
template <class T>
class HugePageAllocator {
 public:
  using value_type = T;

  HugePageAllocator() = default;
  template <class U>
  HugePageAllocator(const HugePageAllocator<U>&) noexcept {}  // NOLINT: rebinding is implicit

  T* allocate(std::size_t count) {
    const std::size_t bytes = count * sizeof(T);
    if (!is_large(bytes)) return static_cast<T*>(::operator new(bytes));
    void* data = ::operator new(bytes, std::align_val_t{kHugePage});
    advise_huge_pages(data, bytes);
    return static_cast<T*>(data);
  }
  // The unsized forms: clang declares the sized ones only with -fsized-deallocation.
  void deallocate(T* data, std::size_t count) noexcept {
    if (!is_large(count * sizeof(T))) {
      ::operator delete(data);
    } else {
      ::operator delete(data, std::align_val_t{kHugePage});
    }
  }

  template <class U>
  friend bool operator==(const HugePageAllocator&, const HugePageAllocator<U>&) noexcept {
    return true;
  }

 private:
  // One whole huge page and more: below that the alignment would only waste address space.
  static constexpr bool is_large(std::size_t bytes) { return bytes >= kHugePage; }
};

}  // namespace tarn::lang::detail
