#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

// Eight bytes of text tested at once, for the writers that escape: nearly
// every value has nothing to escape.

namespace ByteWords {

constexpr uint64_t Ones = 0x0101010101010101ull, Highs = 0x8080808080808080ull;

inline uint64_t Load(const char* P) {
  uint64_t Word;
  std::memcpy(&Word, P, 8);
  return Word;
}

// The N < 8 bytes at P, the rest of the word spaces. Built in registers where
// bytes are little-endian: N bytes copied into memory and read back as eight
// stalled the load on every short field.
inline uint64_t LoadShort(const char* P, size_t N) {
  uint64_t Word = 0x2020202020202020ull;
  if constexpr (std::endian::native != std::endian::little) {
    std::memcpy(&Word, P, N);
  } else if (N >= 4) {
    uint32_t Head, Tail;
    std::memcpy(&Head, P, 4);
    std::memcpy(&Tail, P + N - 4, 4);
    Word = Word << (N * 8) | Head | uint64_t(Tail) << ((N - 4) * 8);
  } else if (N >= 2) {
    uint16_t Head, Tail;
    std::memcpy(&Head, P, 2);
    std::memcpy(&Tail, P + N - 2, 2);
    Word = Word << (N * 8) | Head | uint64_t(Tail) << ((N - 2) * 8);
  } else if (N == 1) {
    Word = Word << 8 | static_cast<unsigned char>(*P);
  }
  return Word;
}

// N bytes from S to D in a few loads and stores, without a call for the
// short ones, which are nearly all: each piece of a card or a name is short.
inline void CopyShort(char* D, const char* S, size_t N) {
  auto Two = [&](auto Piece) {
    decltype(Piece) Head, Tail;
    std::memcpy(&Head, S, sizeof Head);
    std::memcpy(&Tail, S + N - sizeof Tail, sizeof Tail);
    std::memcpy(D, &Head, sizeof Head);
    std::memcpy(D + N - sizeof Tail, &Tail, sizeof Tail);
  };
  struct T16 {
    char Bytes[16];
  };
  if (N > 32) std::memcpy(D, S, N);
  else if (N >= 16) Two(T16());
  else if (N >= 8) Two(uint64_t());
  else if (N >= 4) Two(uint32_t());
  else if (N >= 2) Two(uint16_t());
  else if (N == 1) *D = *S;
}

// Non-zero when one of the bytes of Word is C.
constexpr uint64_t Has(uint64_t Word, unsigned char C) {
  const uint64_t X = Word ^ (Ones * C);
  return (X - Ones) & ~X & Highs;
}

// Where in the eight bytes of a word loaded by Load the first byte marked in
// Mask (by Has, HasBelow or the high bits) is: false marks stand only above
// a true one.
inline size_t FirstMarked(uint64_t Mask) {
  if constexpr (std::endian::native == std::endian::little) return size_t(std::countr_zero(Mask)) / 8;
  else return size_t(std::countl_zero(Mask)) / 8;
}

// Non-zero when one of the bytes of Word is below Limit (at most 0x80).
constexpr uint64_t HasBelow(uint64_t Word, unsigned char Limit) { return (Word - Ones * Limit) & ~Word & Highs; }

}  // namespace ByteWords
