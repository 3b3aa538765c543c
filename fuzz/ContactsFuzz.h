// What the contact readers must hold to for any input: an error, or entries
// that fit their fields and come back unchanged through the matching writer.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

#include "Contacts.h"

inline std::string DescribeEntry(const TAddressItem& I) {
  std::string Out;
  for (std::string_view S : I.TextFields()) Out.append(S) += '\x1f';
  for (const TLineList* L : {&I.HomeAddress, &I.BusAddress, &I.Notes})
    Out += std::to_string(L->Count()) + ':' + L->Text() + '\x1f';
  return Out + char('0' + I.TabPage);
}

inline void CheckReader(const uint8_t* Data, size_t Size, EContactFormat Format) {
  TImported First;
  try {
    First = ReadContacts(std::string_view(reinterpret_cast<const char*>(Data), Size), Format);
  } catch (const EImportError& E) {
    if (E.Line < 1) std::abort();
    return;
  }
  TMyLinkList List;
  std::vector<std::string> Described;
  for (auto& Item : First.Items) {
    for (std::string_view S : {Item->Surname.str(), Item->FirstName.str(), Item->BusExtn.str()})
      if (!IsValidUtf8(S)) std::abort();
    if (CharCount(Item->Surname.str()) > NameCapacity || CharCount(Item->BusExtn.str()) > ExtnCapacity ||
        Item->TabPage > 2 || !IsValidUtf8(Item->Notes.Text()))
      std::abort();
    Described.push_back(DescribeEntry(*Item));
    List.AppendSorted(Item.release());
  }
  std::string Written;
  WriteContacts(List, Format, [&](std::string_view Piece) {
    Written += Piece;
    return true;
  });
  TImported Again = ReadContacts(Written, Format);
  if (Again.Items.size() != Described.size() || Again.ValuesCut != 0) std::abort();
  for (size_t I = 0; I < Described.size(); ++I)
    if (DescribeEntry(*Again.Items[I]) != Described[I]) std::abort();
}
