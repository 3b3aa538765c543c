#pragma once

#include <string>

#include "Contacts.h"
#include "StoreTestUtil.h"

// Every field of an entry, one per line, to compare entries whole: surname,
// first name, home, work, extension, fax, mobile, then the home address, the
// work address and the notes as [line|line|], then the page.
inline std::string Fields(const TAddressItem& I) {
  std::string Out;
  for (std::string_view S : I.TextFields()) Out.append(S) += "\n";
  for (const TLineList* L : {&I.HomeAddress, &I.BusAddress, &I.Notes}) {
    Out += "[";
    for (const std::string& Line : L->Lines()) Out += Line + "|";
    Out += "]\n";
  }
  return Out + std::to_string(I.TabPage);
}

inline std::string Fields(const TImported& Imported) {
  std::string Out;
  for (auto& Item : Imported.Items) Out += Fields(*Item) + "\n--\n";
  return Out;
}

// What an import passed over: "photos binary empty phone-characters", and
// " groups N" after it when any contact group was passed over.
inline std::string Skipped(const TImported& Imported) {
  return std::to_string(Imported.PhotosSkipped) + " " + std::to_string(Imported.BinarySkipped) + " " +
         std::to_string(Imported.EmptySkipped) + " " + std::to_string(Imported.PhoneCharactersDropped) +
         (Imported.GroupsSkipped ? " groups " + std::to_string(Imported.GroupsSkipped) : "");
}

inline std::string Export(const TLinkList& List, EContactFormat Format) {
  std::string Out;
  WriteContacts(List, Format, [&](std::string_view Piece) {
    Out += Piece;
    return true;
  });
  return Out;
}

// Surname, first name, home, work, extension, fax, mobile, then the three
// line lists with lines split at '|' (empty: no lines), then the page.
inline TAddressItem* Entry(std::vector<std::string> F) {
  F.resize(11);
  auto* I = MakeItem(F[0], F[1]);
  I->HomeTelephone = F[2], I->BusTelephone = F[3], I->BusExtn = F[4], I->BusFacsimile = F[5], I->BusMobile = F[6];
  TLineList* Lists[] = {&I->HomeAddress, &I->BusAddress, &I->Notes};
  for (int L = 0; L < 3; ++L) {
    std::string Text = F[7 + L];
    for (char& C : Text) C = C == '|' ? '\n' : C;
    if (Text == "(one empty line)") Lists[L]->Add("");
    else Lists[L]->SetText(Text);
  }
  I->TabPage = F[10].empty() ? 0 : uint8_t(F[10][0] - '0');
  return I;
}
