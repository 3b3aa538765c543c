// Feeds arbitrary bytes to the book reader; whatever it reads must save and
// read back unchanged.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "Adrbook.h"

namespace {

const std::string& WorkDir() {
  static std::string Dir = [] {
    std::string Pattern = (std::filesystem::temp_directory_path() / "tobrinel-fuzz-XXXXXX").string();
    return std::string(::mkdtemp(Pattern.data()));
  }();
  return Dir;
}

void WriteFile(const std::string& Path, const uint8_t* Data, size_t Size) {
  FILE* F = std::fopen(Path.c_str(), "wb");
  if (!F) std::abort();
  if (Size && std::fwrite(Data, 1, Size, F) != Size) std::abort();
  std::fclose(F);
}

std::string Describe(const TAddressBook& Book) {
  std::string Out;
  for (TListNode* N = Book.Items->Head; N; N = N->Next) {
    auto* I = static_cast<TAddressItem*>(N);
    for (std::string_view S : I->TextFields()) Out.append(S) += '\x1f';
    for (const TLineList* L : {&I->HomeAddress, &I->BusAddress, &I->Notes})
      Out += std::to_string(L->Count()) + ':' + L->Text() + '\x1f';
    Out += char('0' + I->TabPage);
    Out += '\x1e';
  }
  return Out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  std::string In = WorkDir() + "/in.ABK";
  std::string Out = WorkDir() + "/out.ABK";
  WriteFile(In, Data, Size);
  TAddressBook Book;
  try {
    Book.LoadFromFile(In);
  } catch (const EFileError&) {
    return 0;
  }
  for (TListNode* N = Book.Items->Head; N; N = N->Next) {
    auto* I = static_cast<TAddressItem*>(N);
    if (!IsValidUtf8(I->Surname.str()) || CharCount(I->Surname.str()) > NameCapacity ||
        CharCount(I->BusExtn.str()) > ExtnCapacity)
      std::abort();
    if (N->Next && TMyLinkList::CompareItems(*I, *static_cast<TAddressItem*>(N->Next)) > 0) std::abort();
  }
  Book.FileName = Out;
  try {
    Book.SaveToFile();
  } catch (const EFileError&) {
    return 0;  // a line the format cannot hold
  }
  TAddressBook Again;
  TLoadResult Result = Again.LoadFromFile(Out);
  if (Result.Damaged || Describe(Again) != Describe(Book)) std::abort();
  return 0;
}
