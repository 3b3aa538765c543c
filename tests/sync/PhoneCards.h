#pragma once

// Cards in the forms phones and their sync programs write, and edits of
// their entries as the person makes them in the boxes and the notes.

#include <functional>
#include <string>

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

// A company: no N, only its organisation.
inline const std::string OrgOnly =
    "BEGIN:VCARD\r\n"
    "VERSION:3.0\r\n"
    "UID:acme\r\n"
    "ORG:Acme GmbH\r\n"
    "TEL;TYPE=WORK:030 1\r\n"
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

}  // namespace PhoneCards
