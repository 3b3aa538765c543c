#include "Sha1.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace {

inline uint32_t Rotate(uint32_t X, int N) { return (X << N) | (X >> (32 - N)); }

#if defined(__x86_64__)
// The processor's own SHA-1 rounds: an export names every entry by its hash,
// and these take a fraction of the time of the plain rounds.
bool HasShaRounds() {
  unsigned A, B, C, D;
  if (!__get_cpuid(1, &A, &B, &C, &D) || !(C & bit_SSE4_1) || !(C & bit_SSSE3)) return false;
  return __get_cpuid_count(7, 0, &A, &B, &C, &D) && (B & (1u << 29));
}

template <int F>
__attribute__((target("sha,sse4.1"))) inline __m128i Rounds4(__m128i Abcd, __m128i E) {
  return _mm_sha1rnds4_epu32(Abcd, E, F);
}

__attribute__((target("sha,sse4.1"))) void ShaRoundsBlocks(uint32_t H[5], const unsigned char* P, size_t Count) {
  const __m128i Mask = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i Abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(H)), 0x1B);
  __m128i E0 = _mm_set_epi32(int(H[4]), 0, 0, 0);
  for (; Count > 0; --Count, P += 64) {
    const __m128i AbcdSave = Abcd, ESave = E0;
    __m128i W[4];
    for (int I = 0; I < 4; ++I)
      W[I] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(P + 16 * I)), Mask);
    __m128i Prev = Abcd;
    Abcd = Rounds4<0>(Abcd, _mm_add_epi32(E0, W[0]));
    // Four rounds a step, each on the next four words of the schedule.
    for (int I = 1; I < 20; ++I) {
      __m128i Words = W[I & 3];
      if (I >= 4) {
        Words = _mm_sha1msg2_epu32(_mm_xor_si128(_mm_sha1msg1_epu32(W[(I - 4) & 3], W[(I - 3) & 3]), W[(I - 2) & 3]),
                                   W[(I - 1) & 3]);
        W[I & 3] = Words;
      }
      const __m128i E = _mm_sha1nexte_epu32(Prev, Words);
      Prev = Abcd;
      switch (I / 5) {
        case 0:
          Abcd = Rounds4<0>(Abcd, E);
          break;
        case 1:
          Abcd = Rounds4<1>(Abcd, E);
          break;
        case 2:
          Abcd = Rounds4<2>(Abcd, E);
          break;
        default:
          Abcd = Rounds4<3>(Abcd, E);
          break;
      }
    }
    E0 = _mm_sha1nexte_epu32(Prev, ESave);
    Abcd = _mm_add_epi32(Abcd, AbcdSave);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(H), _mm_shuffle_epi32(Abcd, 0x1B));
  H[4] = uint32_t(_mm_extract_epi32(E0, 3));
}
#endif

}  // namespace

void TSha1::Blocks(const unsigned char* P, size_t Count) {
#if defined(__x86_64__)
  static const bool ShaRounds = HasShaRounds();
  if (ShaRounds && !Plain) return ShaRoundsBlocks(H, P, Count);
#endif
  for (; Count > 0; --Count, P += 64) Block(P);
}

void TSha1::Block(const unsigned char* P) {
  uint32_t W[16];
  for (int I = 0; I < 16; ++I)
    W[I] = uint32_t(P[4 * I]) << 24 | uint32_t(P[4 * I + 1]) << 16 | uint32_t(P[4 * I + 2]) << 8 | P[4 * I + 3];
  uint32_t A = H[0], B = H[1], C = H[2], D = H[3], E = H[4];
  // The schedule as a ring of sixteen words, computed as the rounds need it.
  auto Next = [&](int I) {
    if (I < 16) return W[I];
    uint32_t& X = W[I & 15];
    return X = Rotate(W[(I - 3) & 15] ^ W[(I - 8) & 15] ^ W[(I - 14) & 15] ^ X, 1);
  };
  auto Round = [&](uint32_t F, uint32_t K, uint32_t Word) {
    uint32_t T = Rotate(A, 5) + F + E + K + Word;
    E = D, D = C, C = Rotate(B, 30), B = A, A = T;
  };
  int I = 0;
  for (; I < 20; ++I) Round((B & C) | (~B & D), 0x5A827999, Next(I));
  for (; I < 40; ++I) Round(B ^ C ^ D, 0x6ED9EBA1, Next(I));
  for (; I < 60; ++I) Round((B & C) | (B & D) | (C & D), 0x8F1BBCDC, Next(I));
  for (; I < 80; ++I) Round(B ^ C ^ D, 0xCA62C1D6, Next(I));
  H[0] += A, H[1] += B, H[2] += C, H[3] += D, H[4] += E;
}

void TSha1::Add(std::string_view Data) {
  Total += Data.size();
  const auto* P = reinterpret_cast<const unsigned char*>(Data.data());
  size_t Size = Data.size();
  if (Used > 0) {
    size_t Take = std::min(Size, 64 - Used);
    std::memcpy(Pending + Used, P, Take);
    Used += Take, P += Take, Size -= Take;
    if (Used < 64) return;
    Blocks(Pending, 1);
    Used = 0;
  }
  Blocks(P, Size / 64);
  P += Size / 64 * 64;
  Size %= 64;
  std::memcpy(Pending, P, Size);
  Used = Size;
}

std::array<uint8_t, 20> TSha1::Digest() {
  // The 0x80 marker, zeros, and the length in bits fill the last block or two.
  const uint64_t Bits = Total * 8;
  unsigned char Tail[72] = {0x80};
  size_t Zeros = (Used < 56 ? 56 : 120) - Used;
  for (int I = 0; I < 8; ++I) Tail[Zeros + size_t(I)] = static_cast<unsigned char>(Bits >> (56 - 8 * I));
  Add(std::string_view(reinterpret_cast<const char*>(Tail), Zeros + 8));
  std::array<uint8_t, 20> Out;
  for (int I = 0; I < 20; ++I) Out[size_t(I)] = uint8_t(H[I / 4] >> (24 - 8 * (I % 4)));
  return Out;
}

std::array<uint8_t, 20> Sha1(std::string_view Data) {
  TSha1 Hash;
  Hash.Add(Data);
  return Hash.Digest();
}

std::array<uint8_t, 20> Sha1PlainRounds(std::string_view Data) {
  TSha1 Hash(true);
  Hash.Add(Data);
  return Hash.Digest();
}

std::string UuidFromSha1(const std::array<uint8_t, 20>& Hash) {
  static const char Hex[] = "0123456789abcdef";
  // Written in place: an export makes one for every card.
  char Out[36];
  char* At = Out;
  for (int I = 0; I < 16; ++I) {
    uint8_t Byte = Hash[size_t(I)];
    if (I == 6) Byte = uint8_t((Byte & 0x0F) | 0x50);  // version 5
    if (I == 8) Byte = uint8_t((Byte & 0x3F) | 0x80);  // the RFC 4122 variant
    if (I == 4 || I == 6 || I == 8 || I == 10) *At++ = '-';
    *At++ = Hex[Byte >> 4];
    *At++ = Hex[Byte & 15];
  }
  return std::string(Out, sizeof Out);
}

std::string NameBasedUuid(const std::array<uint8_t, 16>& Namespace, std::string_view Name) {
  TSha1 Hash;
  Hash.Add(std::string_view(reinterpret_cast<const char*>(Namespace.data()), Namespace.size()));
  Hash.Add(Name);
  return UuidFromSha1(Hash.Digest());
}
