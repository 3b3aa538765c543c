#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Books and settings files written by the older single-byte versions hold
// Windows-1252 text; everything in memory is UTF-8.

bool IsValidUtf8(std::string_view Bytes);
// One code point (up to U+10FFFF) as UTF-8.
void AppendUtf8(std::string& Out, uint32_t Code);
// Valid UTF-8 is kept as it is; anything else is taken as Windows-1252.
std::string ToUtf8(std::string_view Bytes);
// Number of code points (a stray byte of broken text counts as one).
size_t CharCount(std::string_view Text);
// The leading Capacity code points of Text, never splitting one.
std::string CutToChars(std::string_view Text, size_t Capacity);
