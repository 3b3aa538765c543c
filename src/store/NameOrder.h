#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct UCollator;

// Names in the order the person's language sorts them (ICU's collator):
// letters first, then accents, then case, so "Ärger" stands among the A's in
// German and after Z in Swedish, and "de la Cruz" among the D's. The letters
// of the surname decide, then those of the first name, then the accents and
// the case of both ("Brown, Ann" before "brown, Bob"); an entry without a
// surname sorts by its first name in the surname's place.
class TNameOrder {
public:
  // A locale such as "de_DE", "sv_SE.UTF-8" or "tr"; an empty, "C" or
  // unknown one gets the common order of all languages.
  explicit TNameOrder(const std::string& Locale);
  ~TNameOrder();
  TNameOrder(const TNameOrder&) = delete;
  TNameOrder& operator=(const TNameOrder&) = delete;

  const std::string& Locale() const { return LocaleName; }

  // -1, 0 or 1 for two texts compared as names.
  int32_t Compare(std::string_view A, std::string_view B) const;
  // The same, by their letters alone.
  int32_t ComparePrimary(std::string_view A, std::string_view B) const;
  int32_t CompareNames(std::string_view SurnameA, std::string_view FirstNameA, std::string_view SurnameB,
                       std::string_view FirstNameB) const;
  // Appends bytes that compare (as unsigned bytes) the way CompareNames
  // compares the names; keys of several entries sort them without the
  // collator.
  void AppendKey(std::string_view Surname, std::string_view FirstName, std::string& Key) const;
  // True when a surname sorts under the letter (A to Z) of an index button:
  // from that letter, letters with accents included, up to the next one. What
  // sorts after Z in Latin script ("Åberg" in Swedish) goes under Z.
  bool UnderLetter(std::string_view Surname, char Letter) const;

  // The order the program uses: the desktop's (LC_ALL, LC_COLLATE, LANG)
  // unless Use chose another. Set before any list is filled and before any
  // second thread starts: a list sorted in one order is not re-sorted.
  static const TNameOrder& Current();
  static void Use(const std::string& Locale);
  static std::string DesktopLocale();

private:
  void AppendKeyOf(std::string_view Text, std::string& Key) const;
  std::string LocaleName;
  UCollator* Collator = nullptr;
  UCollator* Letters = nullptr;  // the same at primary strength: letters only
};
