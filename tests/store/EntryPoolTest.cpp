// The pool the entries and their line lists come from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "EntryPool.h"

// Sanitizer builds take every block from the ordinary heap.
#if defined(__SANITIZE_ADDRESS__)
#define POOLED 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define POOLED 0
#endif
#endif
#ifndef POOLED
#define POOLED 1
#endif

TEST(EntryPool, BlocksOfEverySizeStayApartAndFreedOnesAreReused) {
  std::vector<std::pair<unsigned char*, size_t>> Blocks;
  for (size_t Size = 1; Size <= 700; Size += 7)
    for (int Copy = 0; Copy < 40; ++Copy) {
      auto* Block = static_cast<unsigned char*>(EntryPool::Allocate(Size));
      std::memset(Block, int(Blocks.size() & 0xFF), Size);
      Blocks.emplace_back(Block, Size);
    }
  for (size_t Index = 0; Index < Blocks.size(); ++Index) {
    const auto [Block, Size] = Blocks[Index];
    ASSERT_TRUE(std::all_of(Block, Block + Size, [&](unsigned char C) { return C == (Index & 0xFF); }))
        << "block " << Index << " of " << Size << " bytes was overwritten";
  }
  std::set<void*> Freed;
  for (const auto& [Block, Size] : Blocks) {
    if (Size <= 512) Freed.insert(Block);
    EntryPool::Free(Block, Size);
  }
#if POOLED
  // The next book takes the memory the last one gave back.
  for (const auto& [Block, Size] : Blocks) {
    if (Size > 512) continue;
    void* Again = EntryPool::Allocate(Size);
    EXPECT_TRUE(Freed.count(Again)) << Size;
    EntryPool::Free(Again, Size);
  }
#endif
}
