#pragma once

// Cards in the forms phones and their sync programs write, and edits of
// their entries as the person makes them in the boxes and the notes.

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "Adrbook.h"

namespace PhoneCards {

// An iPhone's: Apple's itemN groups with X-ABLabel, type=pref, three mobiles.
inline const std::string Ios =
    "BEGIN:VCARD\r\n"
    "VERSION:3.0\r\n"
    "PRODID:-//Apple Inc.//iPhone OS 17.0//EN\r\n"
    "N:Kraus;Max;;;\r\n"
    "FN:Max Kraus\r\n"
    "item1.TEL;type=pref:+49 170 1111111\r\n"
    "item1.X-ABLabel:_$!<Mobile>!$_\r\n"
    "TEL;type=CELL;type=VOICE:+49 170 2222222\r\n"
    "TEL;type=CELL;type=VOICE:+49 170 3333333\r\n"
    "item2.EMAIL;type=INTERNET;type=pref:max@work.example\r\n"
    "item2.X-ABLabel:_$!<Work>!$_\r\n"
    "item3.ADR;type=HOME;type=pref:;;Hauptstr. 1;Berlin;;10115;Germany\r\n"
    "item3.X-ABLabel:_$!<Home>!$_\r\n"
    "BDAY;value=date:1970-01-02\r\n"
    "END:VCARD\r\n";

// DAVx⁵ on Android writing 4.0: telephone URIs, LF line ends, a REV.
inline const std::string Davx4 =
    "BEGIN:VCARD\n"
    "VERSION:4.0\n"
    "PRODID:DAVx5/4.3-ose ez-vcard/0.11.3\n"
    "UID:0d6e5b6f-1\n"
    "FN:Ann Lee\n"
    "N:Lee;Ann;;;\n"
    "TEL;VALUE=uri;TYPE=cell:tel:+49-170-7654321\n"
    "TEL;VALUE=uri;TYPE=work:tel:+49-30-1234567\n"
    "TEL;VALUE=uri;TYPE=home:tel:+49-30-7654321\n"
    "EMAIL;TYPE=home:ann@example.org\n"
    "EMAIL;TYPE=work:ann@work.example\n"
    "REV:20240101T000000Z\n"
    "END:VCARD\n";

// DAVx⁵ writing 3.0: two mobiles, two work addresses.
inline const std::string Davx3 =
    "BEGIN:VCARD\r\n"
    "VERSION:3.0\r\n"
    "PRODID:DAVx5\r\n"
    "UID:x-2\r\n"
    "FN:Bo Berg\r\n"
    "N:Berg;Bo;;;\r\n"
    "TEL;TYPE=CELL:0170 1\r\n"
    "TEL;TYPE=CELL:0170 2\r\n"
    "EMAIL;TYPE=INTERNET,HOME:bo@example.org\r\n"
    "ADR;TYPE=WORK:;;Werkstr. 5;Köln;;50667;\r\n"
    "ADR;TYPE=WORK:;;Lager 9;Köln;;50668;\r\n"
    "END:VCARD\r\n";

// A company: no N, its organisation and the same as its full name.
inline const std::string OrgOnly =
    "BEGIN:VCARD\r\n"
    "VERSION:3.0\r\n"
    "UID:acme\r\n"
    "FN:Acme GmbH\r\n"
    "ORG:Acme GmbH\r\n"
    "TEL;TYPE=WORK:030 1\r\n"
    "EMAIL;TYPE=WORK:info@acme.example\r\n"
    "END:VCARD\r\n";

// Groups of both kinds: vCard 4.0's and Apple's.
inline const std::string Group4 =
    "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:team\r\nKIND:group\r\nFN:Bowling Team\r\n"
    "MEMBER:urn:uuid:0d6e5b6f-1\r\nEND:VCARD\r\n";
inline const std::string GroupApple =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:friends\r\nN:Friends;;;;\r\nFN:Friends\r\n"
    "X-ADDRESSBOOKSERVER-KIND:group\r\nX-ADDRESSBOOKSERVER-MEMBER:urn:uuid:x-2\r\nEND:VCARD\r\n";

using TEdit = std::function<void(TAddressItem&)>;

template <class TField>
TEdit Field(TField TAddressItem::*Member, std::string Value) {
  return [Member, Value](TAddressItem& I) { I.*Member = Value; };
}

// A line of the notes replaced (From empty: Into added at the end; Into
// empty: From deleted).
inline TEdit Line(std::string From, std::string Into) {
  return [From, Into](TAddressItem& I) {
    std::vector<std::string> Lines = I.Notes.Lines();
    auto At = std::find(Lines.begin(), Lines.end(), From);
    if (From.empty()) Lines.push_back(Into);
    else if (At == Lines.end()) Lines.push_back("(no line " + From + ")");
    else if (Into.empty()) Lines.erase(At);
    else *At = Into;
    I.Notes.Assign(Lines);
  };
}

inline std::string Replaced(std::string Text, const std::vector<std::pair<std::string, std::string>>& Changes) {
  for (const auto& [From, To] : Changes) {
    size_t At = Text.find(From);
    if (At == std::string::npos) return "(not found: " + From + ")";
    Text.replace(At, From.size(), To);
  }
  return Text;
}

struct TCase {
  const char* Name;
  const std::string& Card;
  TEdit Edit;
  std::vector<std::pair<std::string, std::string>> Changes;  // of the card's text; none: sent back as it was
  // A box emptied: the next number of its kind, in the notes here, is the
  // one the card gives it.
  bool NextTakesItsPlace = false;
};

// The card's text after the case's edit, with Revision as its REV.
inline std::string Expected(const TCase& Case, const std::string& Revision) {
  if (Case.Changes.empty()) return Case.Card;
  std::string Out = Replaced(Case.Card, Case.Changes);
  size_t Rev = Out.find("\nREV:");
  std::string LineEnd = Out.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  if (Rev != std::string::npos) {
    size_t End = Out.find(LineEnd, Rev + 1);
    return Out.replace(Rev + 5, End - Rev - 5, Revision);
  }
  return Out.insert(Out.rfind("END:VCARD"), "REV:" + Revision + LineEnd);
}

inline const std::vector<TCase>& Cases() {
  static const std::vector<TCase> Cases = {
      {"iOS: nothing", Ios, [](TAddressItem&) {}, {}},
      {"iOS: the Mobile box",
       Ios,
       Field(&TAddressItem::BusMobile, "+49 170 9999999"),
       {{"item1.TEL;type=pref:+49 170 1111111", "item1.TEL;type=pref:+49 170 9999999"}}},
      {"iOS: the home address box",
       Ios,
       [](TAddressItem& I) { I.HomeAddress.SetText("Hauptstr. 2\nBerlin\n10115\nGermany"); },
       {{";;Hauptstr. 1;Berlin", ";;Hauptstr. 2;Berlin"}}},
      {"iOS: a second mobile's line edited",
       Ios,
       Line("Mobile: +49 170 2222222", "Mobile: +49 170 2222333"),
       {{"VOICE:+49 170 2222222", "VOICE:+49 170 2222333"}}},
      {"iOS: the mobile box emptied",
       Ios,
       Field(&TAddressItem::BusMobile, ""),
       {{"item1.TEL;type=pref:+49 170 1111111\r\nitem1.X-ABLabel:_$!<Mobile>!$_\r\n", ""}},
       true},
      {"iOS: the work e-mail's line edited",
       Ios,
       Line("E-mail (Work): max@work.example", "E-mail (Work): max@new.example"),
       {{"pref:max@work.example", "pref:max@new.example"}}},
      {"iOS: a mobile's line deleted",
       Ios,
       Line("Mobile: +49 170 3333333", ""),
       {{"TEL;type=CELL;type=VOICE:+49 170 3333333\r\n", ""}}},
      {"iOS: an e-mail's line typed",
       Ios,
       Line("", "E-mail: hal@example.com"),
       {{"item2.X-ABLabel:_$!<Work>!$_\r\n", "item2.X-ABLabel:_$!<Work>!$_\r\nEMAIL:hal@example.com\r\n"}}},
      {"iOS: a line of the person's own label typed",
       Ios,
       Line("", "Telephone (Boat): 0151 4"),
       {{"3333333\r\n", "3333333\r\nitem4.TEL:0151 4\r\nitem4.X-ABLabel:Boat\r\n"}}},
      {"iOS: an e-mail's line with the phone's label typed",
       Ios,
       Line("", "E-mail (Home): max@home.example"),
       {{"item2.X-ABLabel:_$!<Work>!$_\r\n",
         "item2.X-ABLabel:_$!<Work>!$_\r\nitem4.EMAIL:max@home.example\r\nitem4.X-ABLabel:Home\r\n"}}},
      {"iOS: a line of no form typed", Ios, Line("", "Met in Rome"), {{"END:VCARD", "NOTE:Met in Rome\r\nEND:VCARD"}}},
      {"DAVx5 4.0: the home box",
       Davx4,
       Field(&TAddressItem::HomeTelephone, "+49-30-1111111"),
       {{"tel:+49-30-7654321", "tel:+49-30-1111111"}}},
      {"DAVx5 4.0: the work e-mail's line deleted",
       Davx4,
       Line("E-mail (work): ann@work.example", ""),
       {{"EMAIL;TYPE=work:ann@work.example\n", ""}}},
      {"DAVx5 4.0: a mobile's line typed",
       Davx4,
       Line("", "Mobile: +49 171 5555555"),
       {{"TEL;VALUE=uri;TYPE=home:tel:+49-30-7654321\n",
         "TEL;VALUE=uri;TYPE=home:tel:+49-30-7654321\nTEL;TYPE=CELL:+49 171 5555555\n"}}},
      {"DAVx5 4.0: a birthday's line typed",
       Davx4,
       Line("", "Birthday: 1970-01-02"),
       {{"END:VCARD", "BDAY:1970-01-02\nEND:VCARD"}}},
      {"DAVx5 3.0: the work address box",
       Davx3,
       [](TAddressItem& I) { I.BusAddress.SetText("Werkstr. 6\nKöln\n50667"); },
       {{"Werkstr. 5", "Werkstr. 6"}}},
      {"DAVx5 3.0: the second work address's line edited",
       Davx3,
       Line("Address (work): Lager 9, Köln, 50668", "Address (work): Lager 10, Köln, 50668"),
       {{";;Lager 9;", ";;Lager 10;"}}},
      {"DAVx5 3.0: the second mobile's line deleted",
       Davx3,
       Line("Mobile: 0170 2", ""),
       {{"TEL;TYPE=CELL:0170 2\r\n", ""}}},
      {"DAVx5 3.0: the first mobile's box and the notes",
       Davx3,
       [](TAddressItem& I) {
         I.BusMobile = "0170 9";
         I.Notes.SetText(I.Notes.Text() + "\nCall after six");
       },
       {{"TEL;TYPE=CELL:0170 1", "TEL;TYPE=CELL:0170 9"}, {"END:VCARD", "NOTE:Call after six\r\nEND:VCARD"}}},
      {"ORG only: the surname box",
       OrgOnly,
       Field(&TAddressItem::Surname, "Acme AG"),
       {{"FN:Acme GmbH\r\nORG:Acme GmbH", "FN:Acme AG\r\nORG:Acme AG"}}},
      {"ORG only: the work box",
       OrgOnly,
       Field(&TAddressItem::BusTelephone, "030 2"),
       {{"TEL;TYPE=WORK:030 1", "TEL;TYPE=WORK:030 2"}}},
  };
  return Cases;
}

}  // namespace PhoneCards
