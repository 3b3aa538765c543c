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
// Bytes of the pooled blocks handed out and not yet freed.
std::size_t LiveBytes();
}  // namespace EntryPool
