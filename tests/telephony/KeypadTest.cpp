// Characters typed on the keyboard and the keypad keys they stand for.
#include <gtest/gtest.h>

#include "Keypad.h"

TEST(Keypad, TypedTextEntersItsKeys) {
  const struct {
    const char* Typed;
    const char* Keys;
  } Cases[] = {
      {"0800-FLOWERS", "08003569377"},
      {"0800-flowers", "08003569377"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZ", "22233344455566677778889999"},
      {"abcdefghijklmnopqrstuvwxyz", "22233344455566677778889999"},
      {"`{", ""},  // either side of the lower-case letters
      {"*#", "*#"},
      {"(01) 234,5+6/7.8\t9", "0123456789"},  // a comma is no key of the pad
      {"caf\xc3\xa9 \xce\xa9", "223"},        // letters beyond ASCII are no keys
      {"", ""},
  };
  for (const auto& Case : Cases) EXPECT_EQ(KeypadDigits(Case.Typed), Case.Keys) << Case.Typed;
}

TEST(Keypad, OneCharacterAtATime) {
  EXPECT_EQ(KeypadKey(U's'), '7');
  EXPECT_EQ(KeypadKey(U'Z'), '9');
  EXPECT_EQ(KeypadKey(U'\u00e9'), 0);
  EXPECT_EQ(KeypadKey(U'\U0001D11E'), 0);
  EXPECT_EQ(KeypadKey(U'@'), 0);  // just before A
  EXPECT_EQ(KeypadKey(U'['), 0);  // just after Z
}
