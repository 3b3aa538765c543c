#pragma once

// What is dialled for a number as people store it: the international form
// dialled as the caller's country needs it, the extension split off, words and
// remarks left out. Standard C++ and libphonenumber only; no windows.

#include <string>
#include <string_view>
#include <vector>

struct TDialNumber {
  // Digits, "*", "#" and "," to dial: the national form, or the international
  // prefix, country code and number. Letters of vanity numbers are keypad digits.
  std::string Number;
  // The extension split off ("ext. 12", "x12", ";ext=12"): digits only.
  std::string Extension;
  // "+442079460000" when the number was given or read in international form.
  std::string International;
  // Words, remarks and second numbers that are not dialled, as they stood.
  std::string LeftOut;
  // Began with "+" but is no number of a known country: dialled without the "+".
  bool PlusUnread = false;
};

// Reads Stored (UTF-8, as typed or synced) for a caller in Country (ISO 3166
// two letters, for example "GB"). A number without "+" keeps its digits.
TDialNumber ReadDialNumber(std::string_view Stored, std::string_view Country);

// The pauses before an extension, so that the far end has answered when its
// digits come.
inline constexpr std::string_view ExtensionPause = ",,,";

// The digits the modem dials, outside line aside: the number, and the
// extension after pauses when extensions are dialled.
std::string DialDigits(const TDialNumber& Number, bool DialExtension);

// What the person is told beside the dial string: the extension not dialled,
// a "+" that could not be read, what was left out. Empty when nothing.
std::string DialNote(const TDialNumber& Number, bool DialExtension);

// The tel: link for the desktop's telephone application, in international
// form where the number has one ("tel:+442079460000;ext=12"); a short or
// internal number, or one no format of the country fits, stays local ("tel:456"). Empty when there is nothing to dial.
std::string TelLink(const TDialNumber& Number, std::string_view Country);

// Countries one can dial from, as ISO 3166 codes, and their calling codes.
std::vector<std::string> DiallingCountries();
bool IsDiallingCountry(std::string_view Country);
int CallingCode(std::string_view Country);

// The territory of a locale name ("en_GB.UTF-8" gives "GB"), empty when it
// names none that can be dialled from.
std::string LocaleCountry(std::string_view Locale);
// The caller's country from the desktop's locale: LC_ALL, then LC_TELEPHONE,
// then LANG; "US" when none names one.
std::string DefaultCountry();
