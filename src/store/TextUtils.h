#pragma once

#include <string>

// String utilities shared by the engine and the windows.
std::string PadWithZeros(const std::string& Text, int Width);
std::string TrimLeadingSpaces(const std::string& Text);
std::string TrimTrailingChar(const std::string& Text, char Character);
std::string TrimTrailingSpaces(const std::string& Text);
std::string TrimSpaces(const std::string& Text);
std::string CapitaliseWords(const std::string& Text, bool Turkic = false);
// The value of a hexadecimal digit of either case, -1 for any other character.
int HexDigit(char C);
