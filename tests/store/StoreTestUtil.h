#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "Adrbook.h"

// A folder of its own for each test, removed afterwards.
class TTempDir {
public:
  TTempDir() {
    std::string Pattern = (std::filesystem::temp_directory_path() / "tobrinel-XXXXXX").string();
    Path = ::mkdtemp(Pattern.data());
  }
  ~TTempDir() {
    std::error_code Ignored;
    std::filesystem::permissions(Path, std::filesystem::perms::owner_all, Ignored);
    std::filesystem::remove_all(Path, Ignored);
  }
  std::string operator/(const std::string& Name) const { return Path + "/" + Name; }
  std::string Path;
};

inline std::string ReadBytes(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(In), {});
}

inline void WriteBytes(const std::string& Path, const std::string& Bytes) {
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  Out << Bytes;
}

inline TAddressItem* MakeItem(const std::string& Surname, const std::string& FirstName) {
  auto* Item = new TAddressItem;
  Item->Surname = Surname;
  Item->FirstName = FirstName;
  return Item;
}

inline TAddressItem* ItemAt(const TLinkList& List, int32_t Position) {
  return static_cast<TAddressItem*>(List.GetItem(Position));
}

// "Surname/FirstName" of every entry in list order, joined by "|".
inline std::string NamesOf(const TLinkList& List) {
  std::string Out;
  TListNode* Cursor;
  List.ResetCursor(Cursor);
  while (List.MoveNext(Cursor)) {
    auto* Item = static_cast<TAddressItem*>(Cursor);
    if (!Out.empty()) Out += "|";
    Out += Item->Surname.str() + "/" + Item->FirstName.str();
  }
  return Out;
}
