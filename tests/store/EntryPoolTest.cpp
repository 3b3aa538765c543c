// The pool the entries and their line lists come from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "EntryPool.h"

TEST(EntryPool, BlocksOfEverySizeStayApartThroughReuse) {
  const size_t Live = EntryPool::LiveBytes();
  std::vector<std::pair<unsigned char*, size_t>> Blocks;
  auto Fill = [&](size_t From) {
    for (size_t Index = From; Index < Blocks.size(); ++Index) {
      Blocks[Index].first = static_cast<unsigned char*>(EntryPool::Allocate(Blocks[Index].second));
      std::memset(Blocks[Index].first, int(Index & 0xFF), Blocks[Index].second);
    }
  };
  for (size_t Size = 1; Size <= 700; Size += 7) Blocks.resize(Blocks.size() + 40, {nullptr, Size});
  Fill(0);
  // Half given back and taken again, as when one book replaces another.
  for (size_t Index = Blocks.size() / 2; Index < Blocks.size(); ++Index)
    EntryPool::Free(Blocks[Index].first, Blocks[Index].second);
  Fill(Blocks.size() / 2);
  auto Check = [&] {
    for (size_t Index = 0; Index < Blocks.size(); ++Index) {
      const auto [Block, Size] = Blocks[Index];
      ASSERT_TRUE(std::all_of(Block, Block + Size, [&](unsigned char C) { return C == (Index & 0xFF); }))
          << "block " << Index << " of " << Size << " bytes was overwritten";
    }
  };
  Check();
  // All given back, as when the only book is closed, then taken again.
  for (const auto& [Block, Size] : Blocks) EntryPool::Free(Block, Size);
  EXPECT_EQ(EntryPool::LiveBytes(), Live);
  Fill(0);
  Check();
  for (const auto& [Block, Size] : Blocks) EntryPool::Free(Block, Size);
  EXPECT_EQ(EntryPool::LiveBytes(), Live);
}
