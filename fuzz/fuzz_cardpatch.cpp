// Patches a fuzzed card with its own entry renamed and renumbered: the result
// must read back, with that entry, and keep byte for byte the properties
// CardPatch may not touch.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "CardPatch.h"
#include "SyncFields.h"
#include "VCardLexer.h"

namespace {

// The unfolded lines of the first card, of the properties nobody maps.
std::vector<std::string> Untouched(const std::string& Text) {
  std::vector<std::string> Lines, Out;
  size_t At = 0;
  while (At < Text.size()) {
    size_t End = Text.find('\n', At);
    if (End == std::string::npos) End = Text.size();
    std::string Line = Text.substr(At, End - At);
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();
    // A quoted-printable value that ends in "=" goes on in the next line, as the reader reads it.
    auto SoftBreak = [](const std::string& Last) {
      if (Last.empty() || Last.back() != '=') return false;
      // Its parameters end where the reader's do, at the first colon outside quotes.
      std::string Head = Last.substr(0, ValueColon(Last));
      for (char& C : Head) C = char(toupper(static_cast<unsigned char>(C)));
      return Head.find("QUOTED-PRINTABLE") != std::string::npos;
    };
    if (!Lines.empty() && SoftBreak(Lines.back())) Lines.back() += Line;
    else if (!Lines.empty() && !Line.empty() && (Line[0] == ' ' || Line[0] == '\t')) Lines.back() += Line.substr(1);
    else Lines.push_back(Line);
    At = End + 1;
  }
  auto Split = [](const std::string& Line, std::string& Group, std::string& Name) {
    Name = Line.substr(0, Line.find_first_of(";:"));
    for (char& C : Name) C = char(toupper(static_cast<unsigned char>(C)));
    Group.clear();
    if (const size_t Dot = Name.find('.'); Dot != std::string::npos)
      Group = Name.substr(0, Dot), Name = Name.substr(Dot + 1);
  };
  // A group that holds a property CardPatch writes (an Apple label beside its
  // TEL, say) goes with that property.
  std::vector<std::string> Mapped;
  for (const std::string& Line : Lines) {
    std::string Group, Name;
    Split(Line, Group, Name);
    if (!Group.empty() && (Name == "TEL" || Name == "ADR" || Name == "N" || Name == "FN" || Name == "NOTE"))
      Mapped.push_back(Group);
  }
  int Depth = 0;
  for (const std::string& Line : Lines) {
    std::string Group, Name;
    Split(Line, Group, Name);
    if (!Group.empty() && std::find(Mapped.begin(), Mapped.end(), Group) != Mapped.end()) continue;
    const std::string Upper = [&] {
      std::string U = Line;
      for (char& C : U) C = char(toupper(static_cast<unsigned char>(C)));
      return U;
    }();
    if (Upper.rfind("BEGIN:VCARD", 0) == 0) ++Depth;
    else if (Upper.rfind("END:VCARD", 0) == 0 && --Depth == 0) break;
    else if (Depth == 1 && (Name == "EMAIL" || Name == "BDAY" || Name == "CATEGORIES" ||
                            (Name.rfind("X-", 0) == 0 && Name.rfind("X-TOBRINEL-", 0) != 0)))
      Out.push_back(Line);
  }
  return Out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string Card(reinterpret_cast<const char*>(Data), Size);
  std::unique_ptr<TAddressItem> Entry = ReadCard(Card);
  if (!Entry) return 0;
  Entry->Surname = "Zedd";
  Entry->HomeTelephone = "555 0100";
  const std::string Patched = PatchCard(Card, *Entry, nullptr);
  std::unique_ptr<TAddressItem> Back = ReadCard(Patched);
  if (!Back || Back->Surname.str() != "Zedd" || Back->HomeTelephone.str() != "555 0100") abort();
  const std::vector<std::string> Kept = Untouched(Patched);
  for (const std::string& Line : Untouched(Card))
    if (std::find(Kept.begin(), Kept.end(), Line) == Kept.end()) abort();
  return 0;
}
