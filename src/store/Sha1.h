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
  void Block(const unsigned char* P);
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

// A name-based UUID (version 5) in lower case, "xxxxxxxx-xxxx-5xxx-yxxx-
// xxxxxxxxxxxx", from the SHA-1 of its namespace's 16 bytes followed by the
// name.
std::string UuidFromSha1(const std::array<uint8_t, 20>& Hash);
std::string NameBasedUuid(const std::array<uint8_t, 16>& Namespace, std::string_view Name);
