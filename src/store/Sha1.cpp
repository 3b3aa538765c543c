#include "Sha1.h"

#include <algorithm>
#include <cstring>
#include <utility>

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

// The state of one message in the processor's rounds.
struct TLane {
  __m128i Abcd, E0;
};

__attribute__((target("sha,sse4.1"))) inline TLane LoadLane(const uint32_t H[5]) {
  return {_mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(H)), 0x1B),
          _mm_set_epi32(int(H[4]), 0, 0, 0)};
}

__attribute__((target("sha,sse4.1"))) inline void StoreLane(const TLane& Lane, uint32_t H[5]) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(H), _mm_shuffle_epi32(Lane.Abcd, 0x1B));
  H[4] = uint32_t(_mm_extract_epi32(Lane.E0, 3));
}

// Four rounds of every lane, on the next four words of its schedule. The
// lanes do not depend on each other, so while one waits on its rounds the
// other's run.
template <int I, int N>
__attribute__((target("sha,sse4.1"), always_inline)) inline void Step(TLane (&Lane)[N], __m128i (&W)[N][4],
                                                                      __m128i (&Prev)[N]) {
  for (int L = 0; L < N; ++L) {
    __m128i Words = W[L][I & 3];
    if constexpr (I >= 4) {
      Words =
          _mm_sha1msg2_epu32(_mm_xor_si128(_mm_sha1msg1_epu32(W[L][(I - 4) & 3], W[L][(I - 3) & 3]), W[L][(I - 2) & 3]),
                             W[L][(I - 1) & 3]);
      W[L][I & 3] = Words;
    }
    const __m128i E = _mm_sha1nexte_epu32(Prev[L], Words);
    Prev[L] = Lane[L].Abcd;
    Lane[L].Abcd = Rounds4<I / 5>(Lane[L].Abcd, E);
  }
}

template <int N, int... I>
__attribute__((target("sha,sse4.1"), always_inline)) inline void Steps(TLane (&Lane)[N], __m128i (&W)[N][4],
                                                                       __m128i (&Prev)[N],
                                                                       std::integer_sequence<int, I...>) {
  (Step<I + 1, N>(Lane, W, Prev), ...);
}

// One block of each of N messages.
template <int N>
__attribute__((target("sha,sse4.1"), always_inline)) inline void ShaBlock(TLane (&Lane)[N],
                                                                          const unsigned char* const (&P)[N]) {
  const __m128i Mask = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  TLane Saved[N];
  __m128i W[N][4], Prev[N];
  for (int L = 0; L < N; ++L) {
    Saved[L] = Lane[L];
    for (int I = 0; I < 4; ++I)
      W[L][I] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(P[L] + 16 * I)), Mask);
    Prev[L] = Lane[L].Abcd;
    Lane[L].Abcd = Rounds4<0>(Lane[L].Abcd, _mm_add_epi32(Lane[L].E0, W[L][0]));
  }
  Steps<N>(Lane, W, Prev, std::make_integer_sequence<int, 19>());
  for (int L = 0; L < N; ++L) {
    Lane[L].E0 = _mm_sha1nexte_epu32(Prev[L], Saved[L].E0);
    Lane[L].Abcd = _mm_add_epi32(Lane[L].Abcd, Saved[L].Abcd);
  }
}

__attribute__((target("sha,sse4.1"))) void ShaRoundsBlocks(uint32_t H[5], const unsigned char* P, size_t Count) {
  TLane Lane[1] = {LoadLane(H)};
  for (; Count > 0; --Count, P += 64) ShaBlock<1>(Lane, {P});
  StoreLane(Lane[0], H);
}

// Two messages side by side as far as both go, then the rest of the longer.
__attribute__((target("sha,sse4.1"))) void ShaRoundsPair(uint32_t HA[5], const unsigned char* A, size_t CountA,
                                                         uint32_t HB[5], const unsigned char* B, size_t CountB) {
  TLane Lanes[2] = {LoadLane(HA), LoadLane(HB)};
  for (; CountA > 0 && CountB > 0; --CountA, --CountB, A += 64, B += 64) ShaBlock<2>(Lanes, {A, B});
  TLane Rest[1] = {Lanes[CountA > 0 ? 0 : 1]};
  const unsigned char* P = CountA > 0 ? A : B;
  for (size_t Count = CountA + CountB; Count > 0; --Count, P += 64) ShaBlock<1>(Rest, {P});
  Lanes[CountA > 0 ? 0 : 1] = Rest[0];
  StoreLane(Lanes[0], HA);
  StoreLane(Lanes[1], HB);
}
#endif

void PlainBlock(uint32_t H[5], const unsigned char* P) {
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

bool UseShaRounds() {
#if defined(__x86_64__)
  static const bool ShaRounds = HasShaRounds();
  return ShaRounds;
#else
  return false;
#endif
}

void PlainBlocks(uint32_t H[5], const unsigned char* P, size_t Count) {
  for (; Count > 0; --Count, P += 64) PlainBlock(H, P);
}

void Blocks(uint32_t H[5], const unsigned char* P, size_t Count) {
#if defined(__x86_64__)
  if (UseShaRounds()) return ShaRoundsBlocks(H, P, Count);
#endif
  PlainBlocks(H, P, Count);
}

constexpr uint32_t Start[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};

std::array<uint8_t, 20> DigestOf(const uint32_t H[5]) {
  std::array<uint8_t, 20> Out;
  for (int I = 0; I < 20; ++I) Out[size_t(I)] = uint8_t(H[I / 4] >> (24 - 8 * (I % 4)));
  return Out;
}

}  // namespace

void TSha1::Blocks(const unsigned char* P, size_t Count) {
  if (Plain) return PlainBlocks(H, P, Count);
  ::Blocks(H, P, Count);
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
  unsigned char Tail[Sha1PadRoom];
  Add(std::string_view(reinterpret_cast<const char*>(Tail), Sha1Pad(Tail, Total, Used)));
  return DigestOf(H);
}

size_t Sha1Pad(unsigned char* At, uint64_t MessageSize, size_t InBlock) {
  // The 0x80 marker, zeros, and the length in bits fill the last block or two.
  const size_t Zeros = (InBlock < 56 ? 56 : 120) - InBlock;
  At[0] = 0x80;
  std::memset(At + 1, 0, Zeros - 1);
  const uint64_t Bits = MessageSize * 8;
  for (int I = 0; I < 8; ++I) At[Zeros + size_t(I)] = static_cast<unsigned char>(Bits >> (56 - 8 * I));
  return Zeros + 8;
}

std::array<uint8_t, 20> Sha1OfBlocks(const unsigned char* Blocks, size_t Count) {
  uint32_t H[5];
  std::memcpy(H, Start, sizeof H);
  ::Blocks(H, Blocks, Count);
  return DigestOf(H);
}

void Sha1OfBlocksPair(const unsigned char* A, size_t CountA, const unsigned char* B, size_t CountB,
                      std::array<uint8_t, 20>& HashA, std::array<uint8_t, 20>& HashB) {
  uint32_t HA[5], HB[5];
  std::memcpy(HA, Start, sizeof HA);
  std::memcpy(HB, Start, sizeof HB);
#if defined(__x86_64__)
  if (UseShaRounds()) {
    ShaRoundsPair(HA, A, CountA, HB, B, CountB);
    HashA = DigestOf(HA), HashB = DigestOf(HB);
    return;
  }
#endif
  PlainBlocks(HA, A, CountA);
  PlainBlocks(HB, B, CountB);
  HashA = DigestOf(HA), HashB = DigestOf(HB);
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

void WriteUuidFromSha1(char* Out, const std::array<uint8_t, 20>& Hash) {
  static const char Hex[] = "0123456789abcdef";
  for (int I = 0; I < 16; ++I) {
    uint8_t Byte = Hash[size_t(I)];
    if (I == 6) Byte = uint8_t((Byte & 0x0F) | 0x50);  // version 5
    if (I == 8) Byte = uint8_t((Byte & 0x3F) | 0x80);  // the RFC 4122 variant
    if (I == 4 || I == 6 || I == 8 || I == 10) *Out++ = '-';
    *Out++ = Hex[Byte >> 4];
    *Out++ = Hex[Byte & 15];
  }
}

std::string UuidFromSha1(const std::array<uint8_t, 20>& Hash) {
  char Out[36];
  WriteUuidFromSha1(Out, Hash);
  return std::string(Out, sizeof Out);
}

std::string NameBasedUuid(const std::array<uint8_t, 16>& Namespace, std::string_view Name) {
  TSha1 Hash;
  Hash.Add(std::string_view(reinterpret_cast<const char*>(Namespace.data()), Namespace.size()));
  Hash.Add(Name);
  return UuidFromSha1(Hash.Digest());
}
