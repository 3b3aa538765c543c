#pragma once

#include <cstddef>

// Memory for the entries of the open books and their line lists: small blocks
// carved from 2 MB chunks that the kernel may back with huge pages. Loading a
// book of 100,000 entries then faults in a few dozen pages instead of some
// ten thousand, and those faults were most of what a large book cost at
// start-up. Freed blocks are kept for the next book. Blocks above 512 bytes,
// and every block in sanitizer builds, come from the ordinary heap.
namespace EntryPool {
// Of every block: eight bytes, as small as the pointers of an entry allow.
constexpr std::size_t Alignment = 8;
void* Allocate(std::size_t Size);
// Size: as given to Allocate.
void Free(void* Block, std::size_t Size) noexcept;
// Whether a block allocated for one size may be freed as one of the other:
// both are pooled in the same size class.
bool SameRoom(std::size_t A, std::size_t B);
// Zeroed memory straight from the system, aligned to 2 MB so that it can lie
// in huge pages, and asked to when Huge. Given back with Unmap and the same
// size.
void* MapAligned(std::size_t Bytes, bool Huge);
void Unmap(void* Block, std::size_t Bytes) noexcept;
// Room for a large array: from 2 MB on, in huge pages straight from the
// system. Faulting in 4 KB pages cost six times as much per megabyte, and a
// sort of a large book fills megabytes it has never touched.
void* AllocateLarge(std::size_t Bytes);
void FreeLarge(void* Block, std::size_t Bytes) noexcept;
template <class T>
struct TLargeAllocator {
  using value_type = T;
  TLargeAllocator() = default;
  template <class U>
  TLargeAllocator(const TLargeAllocator<U>&) {}
  T* allocate(std::size_t N) { return static_cast<T*>(AllocateLarge(N * sizeof(T))); }
  void deallocate(T* Block, std::size_t N) noexcept { FreeLarge(Block, N * sizeof(T)); }
  friend bool operator==(const TLargeAllocator&, const TLargeAllocator&) { return true; }
};
// Bytes of the pooled blocks handed out and not yet freed.
std::size_t LiveBytes();
}  // namespace EntryPool
