#include "Keypad.h"

char KeypadKey(char32_t Character) {
  if (Character >= U'a' && Character <= U'z') Character -= U'a' - U'A';
  if ((Character >= U'0' && Character <= U'9') || Character == U'*' || Character == U'#')
    return static_cast<char>(Character);
  if (Character < U'A' || Character > U'Z') return 0;
  // The letters of the keys 2 to 9, as printed on them.
  static constexpr std::string_view Letters = "22233344455566677778889999";
  return Letters[Character - U'A'];
}

std::string KeypadDigits(std::string_view Typed) {
  std::string Keys;
  // Bytes of characters beyond ASCII are all above 127: none is a key.
  for (const char Byte : Typed)
    if (const char Key = KeypadKey(static_cast<unsigned char>(Byte))) Keys += Key;
  return Keys;
}
