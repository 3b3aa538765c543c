#pragma once

#include <string>
#include <string_view>

// The telephone keypad: which key a character typed on the keyboard stands for.

// '0' to '9', '*' or '#' for a digit, a star, a hash or a letter of a key
// (either case: ABC is '2' ... WXYZ is '9'); 0 for any other character.
char KeypadKey(char32_t Character);

// The keys a typed text enters, everything else dropped: "0800-FLOWERS" gives
// "08003569377". The text is UTF-8.
std::string KeypadDigits(std::string_view Typed);
