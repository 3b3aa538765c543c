#include "NameOrder.h"

#include <cstdlib>
#include <vector>

#include "Letters.h"

#include <unicode/ucol.h>
#include <unicode/uscript.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

namespace {

// "de_DE.UTF-8@euro" to "de_DE"; the POSIX names of no language to ICU's root.
std::string IcuLocale(const std::string& Posix) {
  std::string Name = Posix.substr(0, Posix.find_first_of(".@"));
  if (Name == "C" || Name == "POSIX") return "";
  return Name;
}

int32_t Sign(int32_t Value) { return Value < 0 ? -1 : Value > 0 ? 1 : 0; }

std::unique_ptr<TNameOrder>& CurrentOrder() {
  static std::unique_ptr<TNameOrder> Order;
  return Order;
}

}  // namespace

TNameOrder::TNameOrder(const std::string& Locale)
    : LocaleName(IcuLocale(Locale)), IsTurkic(IsTurkicLocale(LocaleName)) {
  UErrorCode Status = U_ZERO_ERROR;
  Collator = ucol_open(LocaleName.c_str(), &Status);
  if (U_FAILURE(Status)) {
    // ICU falls back to its root order for a locale it does not know; this is
    // only reached when its data is missing altogether.
    Status = U_ZERO_ERROR;
    Collator = ucol_open("", &Status);
  }
  Status = U_ZERO_ERROR;
  Letters = ucol_open(LocaleName.c_str(), &Status);
  if (U_FAILURE(Status)) {
    Status = U_ZERO_ERROR;
    Letters = ucol_open("", &Status);
  }
  if (Letters) ucol_setStrength(Letters, UCOL_PRIMARY);
}

TNameOrder::~TNameOrder() {
  if (Collator) ucol_close(Collator);
  if (Letters) ucol_close(Letters);
}

int32_t TNameOrder::Compare(std::string_view A, std::string_view B) const {
  if (!Collator) return Sign(A.compare(B));
  UErrorCode Status = U_ZERO_ERROR;
  const UCollationResult Result =
      ucol_strcollUTF8(Collator, A.data(), int32_t(A.size()), B.data(), int32_t(B.size()), &Status);
  if (U_FAILURE(Status)) return Sign(A.compare(B));
  return Result == UCOL_LESS ? -1 : Result == UCOL_GREATER ? 1 : 0;
}

int32_t TNameOrder::ComparePrimary(std::string_view A, std::string_view B) const {
  if (!Letters) return Sign(A.compare(B));
  UErrorCode Status = U_ZERO_ERROR;
  const UCollationResult Result =
      ucol_strcollUTF8(Letters, A.data(), int32_t(A.size()), B.data(), int32_t(B.size()), &Status);
  if (U_FAILURE(Status)) return Sign(A.compare(B));
  return Result == UCOL_LESS ? -1 : Result == UCOL_GREATER ? 1 : 0;
}

int32_t TNameOrder::CompareNames(std::string_view SurnameA, std::string_view FirstNameA, std::string_view SurnameB,
                                 std::string_view FirstNameB) const {
  if (SurnameA.empty()) std::swap(SurnameA, FirstNameA);
  if (SurnameB.empty()) std::swap(SurnameB, FirstNameB);
  // Most neighbours in a book share a surname: then the first names decide.
  if (SurnameA == SurnameB) return FirstNameA == FirstNameB ? 0 : Compare(FirstNameA, FirstNameB);
  // The letters of both names before any accent or case ("Brown, Ann" before
  // "brown, Bob"), as the keys order them.
  if (int32_t Result = ComparePrimary(SurnameA, SurnameB)) return Result;
  if (FirstNameA != FirstNameB) {
    if (int32_t Result = ComparePrimary(FirstNameA, FirstNameB)) return Result;
  }
  std::string KeyA, KeyB;
  AppendKey(SurnameA, FirstNameA, KeyA);
  AppendKey(SurnameB, FirstNameB, KeyB);
  return Sign(KeyA.compare(KeyB));
}

void TNameOrder::AppendKeyOf(std::string_view Text, std::string& Key) const {
  if (!Collator) {
    for (char C : Text) {
      if (C) Key += C;
    }
    Key += '\0';
    return;
  }
  UChar Stack[128];
  std::vector<UChar> Heap;
  UChar* Utf16 = Stack;
  int32_t Length = 0;
  UErrorCode Status = U_ZERO_ERROR;
  // Broken bytes become U+FFFD, as the collator's own comparison reads them.
  u_strFromUTF8WithSub(Stack, 128, &Length, Text.data(), int32_t(Text.size()), 0xFFFD, nullptr, &Status);
  if (Status == U_BUFFER_OVERFLOW_ERROR || Length > 128) {
    Heap.resize(size_t(Length));
    Utf16 = Heap.data();
    Status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(Utf16, Length, &Length, Text.data(), int32_t(Text.size()), 0xFFFD, nullptr, &Status);
  }
  if (U_FAILURE(Status)) Length = 0;
  const size_t At = Key.size();
  Key.resize(At + 96);
  int32_t Needed = ucol_getSortKey(Collator, Utf16, Length, reinterpret_cast<uint8_t*>(Key.data() + At), 96);
  if (Needed > 96) {
    Key.resize(At + size_t(Needed));
    Needed = ucol_getSortKey(Collator, Utf16, Length, reinterpret_cast<uint8_t*>(Key.data() + At), Needed);
  }
  Key.resize(At + size_t(Needed > 0 ? Needed : 0));
}

void TNameOrder::AppendKey(std::string_view Surname, std::string_view FirstName, std::string& Key) const {
  MergeKeys(Surname, FirstName, Key, [&](std::string_view Text, std::string& Parts) { AppendKeyOf(Text, Parts); });
}

template <class TKey>
void TNameOrder::AppendKey(std::string_view Surname, std::string_view FirstName, TKey& Key, TKeyCache& Cache) const {
  MergeKeys(Surname, FirstName, Key, [&](std::string_view Text, std::string& Parts) {
    Parts += Cache.Of(Text, [&](std::string_view Of, std::string& Into) { AppendKeyOf(Of, Into); });
  });
}

template <class TKey, class F>
void TNameOrder::MergeKeys(std::string_view Surname, std::string_view FirstName, TKey& Key, F&& PartKey) const {
  if (Surname.empty()) std::swap(Surname, FirstName);
  thread_local std::string Parts;
  Parts.clear();
  PartKey(Surname, Parts);
  const size_t SurnameSize = Parts.size();
  PartKey(FirstName, Parts);
  if (!Collator) {
    Key.append(Parts.data(), Parts.size());
    return;
  }
  // Level by level: the letters of the surname, a 02 byte below every
  // letter, the letters of the first name; then the accents of both, then
  // their case. The key ends with its only 0 byte.
  const size_t At = Key.size();
  Key.resize(At + Parts.size());
  const auto* Bytes = reinterpret_cast<const uint8_t*>(Parts.data());
  const int32_t Merged =
      ucol_mergeSortkeys(Bytes, int32_t(SurnameSize), Bytes + SurnameSize, int32_t(Parts.size() - SurnameSize),
                         reinterpret_cast<uint8_t*>(Key.data() + At), int32_t(Parts.size()));
  Key.resize(At + size_t(Merged > 0 ? Merged : 0));
}

bool TNameOrder::UnderLetter(std::string_view Surname, char Letter) const {
  if (Surname.empty() || Letter < 'A' || Letter > 'Z') return false;
  auto Primary = [&](std::string_view Text) { return ComparePrimary(Surname, Text); };
  const char From[2] = {Letter, 0};
  if (Primary(From) < 0) return false;
  if (Letter < 'Z') {
    const char To[2] = {char(Letter + 1), 0};
    return Primary(To) < 0;
  }
  int32_t At = 0;
  UChar32 First = 0;
  U8_NEXT(Surname.data(), At, int32_t(Surname.size()), First);
  UErrorCode Status = U_ZERO_ERROR;
  return First >= 0 && uscript_getScript(First, &Status) == USCRIPT_LATIN;
}

const TNameOrder& TNameOrder::Current() {
  std::unique_ptr<TNameOrder>& Order = CurrentOrder();
  if (!Order) Order = std::make_unique<TNameOrder>(DesktopLocale());
  return *Order;
}

void TNameOrder::Use(const std::string& Locale) { CurrentOrder() = std::make_unique<TNameOrder>(Locale); }

std::string TNameOrder::DesktopLocale() {
  // The order POSIX gives the variables for the collating category.
  for (const char* Name : {"LC_ALL", "LC_COLLATE", "LANG"}) {
    const char* Value = std::getenv(Name);
    if (Value && *Value) return Value;
  }
  return "";
}

template void TNameOrder::AppendKey(std::string_view, std::string_view, std::string&, TKeyCache&) const;
template void TNameOrder::AppendKey(std::string_view, std::string_view, TLargeKeys&, TKeyCache&) const;
