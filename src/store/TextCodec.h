#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// Books and settings files written by the older single-byte versions hold
// Windows-1252 text; everything in memory is UTF-8.

bool IsValidUtf8Text(std::string_view Bytes);
// Readers and writers check every field: plain ASCII, most of them, is told
// here without a call.
inline bool IsValidUtf8(std::string_view Bytes) {
  uint64_t High = 0;
  size_t At = 0;
  for (; At + 8 <= Bytes.size(); At += 8) {
    uint64_t Word;
    std::memcpy(&Word, Bytes.data() + At, 8);
    High |= Word;
  }
  for (; At < Bytes.size(); ++At) High |= static_cast<unsigned char>(Bytes[At]);
  return (High & 0x8080808080808080ull) == 0 || IsValidUtf8Text(Bytes);
}
// Valid UTF-8 is kept as it is; anything else is taken as Windows-1252.
std::string ToUtf8(std::string_view Bytes);
// Number of code points (a stray byte of broken text counts as one).
size_t CharCount(std::string_view Text);
// The leading Capacity code points of Text, never splitting one.
std::string CutToChars(std::string_view Text, size_t Capacity);

// One character of UTF-8 text: its code point and its length in bytes. A byte
// that starts no valid sequence stands alone, as a character that is not valid.
struct TUtf8Char {
  char32_t Code = 0;
  uint8_t Size = 1;
  bool Valid = false;
};
// The character that starts at byte At (At < Text.size()).
TUtf8Char DecodeUtf8(std::string_view Text, size_t At);
// The character that ends just before byte At (0 < At <= Text.size()).
TUtf8Char DecodeUtf8Before(std::string_view Text, size_t At);
void AppendUtf8(std::string& Out, char32_t Code);
// The number of leading bytes below 0x80.
size_t AsciiPrefix(std::string_view Text);
