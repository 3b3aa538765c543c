#include "EntryPool.h"

#include <sys/mman.h>

#include <array>
#include <cstdint>
#include <atomic>
#include <mutex>
#include <new>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOBRINEL_PLAIN_NEW 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TOBRINEL_PLAIN_NEW 1
#endif

namespace {

constexpr std::size_t ChunkSize = std::size_t(2) << 20;
constexpr std::size_t Granule = EntryPool::Alignment;
constexpr std::size_t MaxPooled = 512;

std::size_t WholePages(std::size_t Bytes) { return (Bytes + 4095) & ~std::size_t(4095); }

struct TFreeBlock {
  TFreeBlock* Next;
};

// Held for a few instructions, nearly always by the one thread that has the
// books: a mutex's lock and unlock were a tenth of an import written as it
// is read.
class TSpinLock {
public:
  void lock() noexcept {
    while (Held.test_and_set(std::memory_order_acquire))
      while (Held.test(std::memory_order_relaxed)) {}
  }
  void unlock() noexcept { Held.clear(std::memory_order_release); }

private:
  std::atomic_flag Held;
};

struct TPool {
  TSpinLock Lock;
  std::array<TFreeBlock*, MaxPooled / Granule + 1> Free{};  // by size class
  std::vector<char*> Chunks;                                // every chunk ever mapped, in order
  std::size_t Current = 0;                                  // the chunk Next carves from
  char* Next = nullptr;
  char* End = nullptr;
  std::size_t LiveBytes = 0;
};

// Never destroyed: a book may outlive every other static object.
// Unused where the sanitizers take every allocation (TOBRINEL_PLAIN_NEW).
[[maybe_unused]] TPool& Pool() {
  static TPool* const Instance = new TPool;
  return *Instance;
}

// The first chunk is left to small pages: most of it may never be touched (a
// small book, an import that writes each entry as it is read), and faulting
// a whole huge page in cost more than all the small ones such a use touches.
[[maybe_unused]] char* NewChunk(bool Huge) { return static_cast<char*>(EntryPool::MapAligned(ChunkSize, Huge)); }

[[maybe_unused]] std::size_t ClassOf(std::size_t Size) { return (Size + Granule - 1) / Granule; }

}  // namespace

void* EntryPool::Allocate(std::size_t Size) {
#ifndef TOBRINEL_PLAIN_NEW
  if (Size > 0 && Size <= MaxPooled) {
    const std::size_t Class = ClassOf(Size);
    TPool& P = Pool();
    std::lock_guard<TSpinLock> Guard(P.Lock);
    if (TFreeBlock* Block = P.Free[Class]) {
      P.Free[Class] = Block->Next;
      P.LiveBytes += Class * Granule;
      return Block;
    }
    const std::size_t Bytes = Class * Granule;
    if (static_cast<std::size_t>(P.End - P.Next) < Bytes) {
      if (P.Next) ++P.Current;
      if (P.Current == P.Chunks.size()) P.Chunks.push_back(NewChunk(!P.Chunks.empty()));
      P.Next = P.Chunks[P.Current];
      P.End = P.Next + ChunkSize;
    }
    void* Block = P.Next;
    P.Next += Bytes;
    P.LiveBytes += Bytes;
    return Block;
  }
#endif
  return ::operator new(Size);
}

void EntryPool::Free(void* Block, [[maybe_unused]] std::size_t Size) noexcept {
  if (!Block) return;
#ifndef TOBRINEL_PLAIN_NEW
  if (Size > 0 && Size <= MaxPooled) {
    TPool& P = Pool();
    std::lock_guard<TSpinLock> Guard(P.Lock);
    const std::size_t Class = ClassOf(Size);
    P.LiveBytes -= Class * Granule;
    if (P.LiveBytes == 0) {
      // Every block is back, as when the only book is freed: the next book is
      // carved in order from memory already touched, instead of chasing a
      // free list through cold blocks one by one.
      P.Free.fill(nullptr);
      P.Current = 0;
      P.Next = P.Chunks.empty() ? nullptr : P.Chunks[0];
      P.End = P.Next ? P.Next + ChunkSize : nullptr;
      return;
    }
    auto* Freed = static_cast<TFreeBlock*>(Block);
    Freed->Next = P.Free[Class];
    P.Free[Class] = Freed;
    return;
  }
#endif
  ::operator delete(Block);  // unsized: clang wants -fsized-deallocation for the other
}

bool EntryPool::SameRoom([[maybe_unused]] std::size_t A, [[maybe_unused]] std::size_t B) {
#ifndef TOBRINEL_PLAIN_NEW
  return A > 0 && B > 0 && A <= MaxPooled && B <= MaxPooled && ClassOf(A) == ClassOf(B);
#else
  return false;
#endif
}

void* EntryPool::MapAligned(std::size_t Bytes, bool Huge) {
  Bytes = WholePages(Bytes);
  void* Raw = ::mmap(nullptr, Bytes + ChunkSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (Raw == MAP_FAILED) throw std::bad_alloc();
  const auto Base = reinterpret_cast<std::uintptr_t>(Raw);
  const std::uintptr_t Start = (Base + ChunkSize - 1) & ~(ChunkSize - 1);
  if (Start > Base) ::munmap(Raw, Start - Base);
  ::munmap(reinterpret_cast<void*>(Start + Bytes), Base + ChunkSize - Start);
  if (Huge) ::madvise(reinterpret_cast<void*>(Start), Bytes, MADV_HUGEPAGE);
  return reinterpret_cast<void*>(Start);
}

void EntryPool::Unmap(void* Block, std::size_t Bytes) noexcept {
  if (Block) ::munmap(Block, WholePages(Bytes));
}

// From half a huge page on, whole huge pages: a huge page is faulted only
// where the mapping covers all of it. The sanitizers watch only the ordinary
// heap.
namespace {
[[maybe_unused]] constexpr std::size_t LargeFrom = ChunkSize / 2;
[[maybe_unused]] std::size_t WholeChunks(std::size_t Bytes) { return (Bytes + ChunkSize - 1) & ~(ChunkSize - 1); }
}  // namespace

void* EntryPool::AllocateLarge(std::size_t Bytes) {
#ifndef TOBRINEL_PLAIN_NEW
  if (Bytes >= LargeFrom) return MapAligned(WholeChunks(Bytes), true);
#endif
  return ::operator new(Bytes);
}

void EntryPool::FreeLarge(void* Block, [[maybe_unused]] std::size_t Bytes) noexcept {
#ifndef TOBRINEL_PLAIN_NEW
  if (Bytes >= LargeFrom) return Unmap(Block, WholeChunks(Bytes));
#endif
  ::operator delete(Block);
}

std::size_t EntryPool::LiveBytes() {
  TPool& P = Pool();
  std::lock_guard<TSpinLock> Guard(P.Lock);
  return P.LiveBytes;
}
