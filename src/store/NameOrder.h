#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <functional>
#include <unordered_map>

#include "EntryPool.h"

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
  // Names in Turkish or Azeri: their own i's (Letters.h).
  bool Turkic() const { return IsTurkic; }

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
  // The keys of the names seen so far by one sort, so that each text goes
  // through the collator once: a large book holds the same surnames and
  // first names many times over.
  class TKeyCache {
  public:
    // The key of Text, made by Make(Text, Key) the first time.
    template <class F>
    std::string_view Of(std::string_view Text, F&& Make);

  private:
    struct THash {
      using is_transparent = void;
      size_t operator()(std::string_view Text) const { return std::hash<std::string_view>()(Text); }
    };
    std::unordered_map<std::string, std::string, THash, std::equal_to<>> Keys;
  };
  // Key: a std::string or TLargeKeys.
  template <class TKey>
  void AppendKey(std::string_view Surname, std::string_view FirstName, TKey& Key, TKeyCache& Cache) const;
  // The keys of a large book's names, which take megabytes.
  using TLargeKeys = std::basic_string<char, std::char_traits<char>, EntryPool::TLargeAllocator<char>>;
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
  template <class TKey, class F>
  void MergeKeys(std::string_view Surname, std::string_view FirstName, TKey& Key, F&& PartKey) const;
  std::string LocaleName;
  bool IsTurkic = false;
  UCollator* Collator = nullptr;
  UCollator* Letters = nullptr;  // the same at primary strength: letters only
};

template <class F>
std::string_view TNameOrder::TKeyCache::Of(std::string_view Text, F&& Make) {
  if (auto Found = Keys.find(Text); Found != Keys.end()) return Found->second;
  std::string Key;
  Make(Text, Key);
  // A book of names that never repeat would only fill the cache.
  if (Keys.size() >= (size_t(1) << 16)) Keys.clear();
  return Keys.emplace(std::string(Text), std::move(Key)).first->second;
}
