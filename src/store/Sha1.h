#pragma once

// SHA-1, for identifiers that are names of content (not for security), and
// the name-based UUIDs made from it.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

class TSha1 {
public:
  // Plain: the rounds in plain code even where the processor has its own.
  explicit TSha1(bool APlain = false) : Plain(APlain) {}
  void Add(std::string_view Data);
  // The digest of everything added; the object is spent.
  std::array<uint8_t, 20> Digest();

private:
  void Blocks(const unsigned char* P, size_t Count);
  uint32_t H[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  unsigned char Pending[64];
  size_t Used = 0;
  uint64_t Total = 0;
  bool Plain;
};

std::array<uint8_t, 20> Sha1(std::string_view Data);
// The same in plain code, as on processors without SHA instructions.
std::array<uint8_t, 20> Sha1PlainRounds(std::string_view Data);

// For callers that lay a message out in blocks themselves, so that it is
// hashed straight from their buffer: the padding written at At, after the
// message of MessageSize bytes whose last block holds InBlock of them. It
// takes up to Sha1PadRoom bytes; returns how many.
constexpr size_t Sha1PadRoom = 72;
size_t Sha1Pad(unsigned char* At, uint64_t MessageSize, size_t InBlock);
// The SHA-1 of a message padded so: Count blocks of 64 bytes.
std::array<uint8_t, 20> Sha1OfBlocks(const unsigned char* Blocks, size_t Count);
// Two such messages at once: the processor's rounds wait on each other within
// a message, so two side by side take little longer than one.
void Sha1OfBlocksPair(const unsigned char* A, size_t CountA, const unsigned char* B, size_t CountB,
                      std::array<uint8_t, 20>& HashA, std::array<uint8_t, 20>& HashB);

// A name-based UUID (version 5) in lower case, "xxxxxxxx-xxxx-5xxx-yxxx-
// xxxxxxxxxxxx", from the SHA-1 of its namespace's 16 bytes followed by the
// name.
std::string UuidFromSha1(const std::array<uint8_t, 20>& Hash);
// The same written over the 36 bytes at Out.
void WriteUuidFromSha1(char* Out, const std::array<uint8_t, 20>& Hash);
std::string NameBasedUuid(const std::array<uint8_t, 16>& Namespace, std::string_view Name);
