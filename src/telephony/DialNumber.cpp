#include "DialNumber.h"

#include <phonenumbers/phonenumberutil.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "Keypad.h"

namespace {

using i18n::phonenumbers::PhoneNumber;
using i18n::phonenumbers::PhoneNumberUtil;

PhoneNumberUtil& Util() { return *PhoneNumberUtil::GetInstance(); }

const std::set<std::string>& Regions() {
  static const std::set<std::string> Supported = [] {
    std::set<std::string> Codes;
    Util().GetSupportedRegions(&Codes);
    return Codes;
  }();
  return Supported;
}

bool IsDigit(char C) { return C >= '0' && C <= '9'; }
bool IsAsciiLetter(char C) { return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z'); }
// Letters of any script are words; none of them is a keypad letter.
bool IsWordByte(char C) { return IsAsciiLetter(C) || static_cast<unsigned char>(C) >= 0x80; }
bool IsSpace(char C) { return C == ' ' || C == '\t' || C == '\r' || C == '\n'; }

std::string Lower(std::string_view Text) {
  std::string Result(Text);
  for (char& C : Result)
    if (C >= 'A' && C <= 'Z') C = char(C - 'A' + 'a');
  return Result;
}

std::string Trimmed(std::string_view Text) {
  while (!Text.empty() && IsSpace(Text.front())) Text.remove_prefix(1);
  while (!Text.empty() && IsSpace(Text.back())) Text.remove_suffix(1);
  return std::string(Text);
}

std::string DigitsOf(std::string_view Text) {
  std::string Digits;
  for (char C : Text)
    if (IsDigit(C)) Digits += C;
  return Digits;
}

void Replace(std::string& Text, std::string_view From, std::string_view To) {
  for (size_t At = Text.find(From); At != std::string::npos; At = Text.find(From, At + To.size()))
    Text.replace(At, From.size(), To);
}

// Phones and servers write no-break spaces and typographic dashes between the
// digits; they separate like their plain forms.
std::string Plain(std::string_view Stored) {
  std::string Text(Stored);
  for (std::string_view Space : {"\xC2\xA0", "\xE2\x80\xAF", "\xE2\x80\x89", "\xE2\x80\x87"}) Replace(Text, Space, " ");
  for (std::string_view Dash : {"\xE2\x80\x90", "\xE2\x80\x91", "\xE2\x80\x92", "\xE2\x80\x93", "\xE2\x80\x94"})
    Replace(Text, Dash, "-");
  return Text;
}

void AddLeftOut(TDialNumber& Result, std::string_view Piece) {
  const std::string Kept = Trimmed(Piece);
  if (Kept.empty()) return;
  if (!Result.LeftOut.empty()) Result.LeftOut += ' ';
  Result.LeftOut += Kept;
}

bool IsExtensionMarker(std::string_view LowerWord) {
  return LowerWord == "ext" || LowerWord == "extn" || LowerWord == "extension" || LowerWord == "x";
}

// The parameters of a tel: URI, or what follows a ";" in a stored number.
void ReadParameters(TDialNumber& Result, std::string_view Text) {
  while (!Text.empty()) {
    const size_t End = std::min(Text.find(';'), Text.size());
    const std::string Parameter = Trimmed(Text.substr(0, End));
    const std::string Name = Lower(Parameter.substr(0, Parameter.find('=')));
    if (Name == "ext") {
      if (Result.Extension.empty()) Result.Extension = DigitsOf(Parameter);
    } else if (Name != "phone-context" && Name != "isub") {
      AddLeftOut(Result, Parameter);  // a second number, a remark
    }
    Text.remove_prefix(std::min(End + 1, Text.size()));
  }
}

// The digits a caller in Region dials for an international number.
std::string Dialled(const PhoneNumber& Parsed, const std::string& Region) {
  if (Parsed.country_code() == Util().GetCountryCodeForRegion(Region) && !Util().IsValidNumber(Parsed)) {
    // A number of one's own country that no format fits still gets its trunk prefix.
    std::string Prefix, National;
    Util().GetNddPrefixForRegion(Region, true, &Prefix);
    Util().GetNationalSignificantNumber(Parsed, &National);
    return Prefix + National;
  }
  std::string Formatted, Digits;
  Util().FormatOutOfCountryCallingNumber(Parsed, Region, &Formatted);
  for (char C : Formatted) {
    if (IsDigit(C)) Digits += C;
    else if (C == '~') Digits += 'W';  // an international prefix that waits for a second dial tone
  }
  return Digits;
}

std::string RegionOf(std::string_view Country) {
  const std::string Region(Country);
  return Regions().count(Region) ? Region : std::string("US");
}

}  // namespace

TDialNumber ReadDialNumber(std::string_view Stored, std::string_view Country) {
  TDialNumber Result;
  std::string Text = Plain(Stored);
  if (Lower(Trimmed(Text).substr(0, 4)) == "tel:") {
    Text = Trimmed(Text).substr(4);
    Replace(Text, "%23", "#");
  }
  std::string& Number = Result.Number;
  bool Plus = false, Started = false;
  const size_t N = Text.size();
  size_t I = 0;
  // A remark after the number ends it: what follows is something else.
  auto Cut = [&](size_t From) {
    AddLeftOut(Result, std::string_view(Text).substr(From));
    I = N;
  };
  while (I < N) {
    const char C = Text[I];
    if (IsDigit(C) || C == '*' || C == '#' || C == ',') {
      Number += C;
      Started = true;
      ++I;
    } else if (C == '+') {
      if (!Started) Plus = true;
      ++I;
    } else if (C == ';') {
      ReadParameters(Result, std::string_view(Text).substr(I + 1));
      I = N;
    } else if (C == '/') {
      size_t Next = I + 1;
      while (Next < N && IsSpace(Text[Next])) ++Next;
      if (Started && Next < N && Text[Next] == '+') Cut(I);  // "/ +44 ...": a second number
      else ++I;
    } else if (C == '(') {
      const size_t Close = Text.find(')', I);
      const size_t End = Close == std::string::npos ? N : Close + 1;
      const std::string_view Inside =
          std::string_view(Text).substr(I + 1, (Close == std::string::npos ? N : Close) - I - 1);
      if (std::any_of(Inside.begin(), Inside.end(), IsWordByte)) {
        if (Started) Cut(I);
        else {
          AddLeftOut(Result, std::string_view(Text).substr(I, End - I));
          I = End;
        }
      } else if (Plus && Trimmed(Inside) == "0") {
        I = End;  // "+44 (0)20 ...": the trunk prefix is never dialled from abroad
      } else {
        ++I;
      }
    } else if (IsWordByte(C)) {
      size_t End = I;
      while (End < N && IsWordByte(Text[End])) ++End;
      const std::string_view Word = std::string_view(Text).substr(I, End - I);
      const std::string LowerWord = Lower(Word);
      if (IsExtensionMarker(LowerWord)) {
        size_t Next = End;
        while (Next < N && (IsSpace(Text[Next]) || Text[Next] == '.' || Text[Next] == ':' || Text[Next] == '=')) ++Next;
        // Before any number ("x456" in the extension's own box) the marker only labels it.
        if (!Started && Next < N && IsDigit(Text[Next])) {
          I = Next;
          continue;
        }
        if (Next < N && IsDigit(Text[Next])) {
          std::string Extension;
          while (Next < N && (IsDigit(Text[Next]) ||
                              ((Text[Next] == ' ' || Text[Next] == '-') && Next + 1 < N && IsDigit(Text[Next + 1])))) {
            if (IsDigit(Text[Next])) Extension += Text[Next];
            ++Next;
          }
          if (Result.Extension.empty()) Result.Extension = Extension;
          I = Next;
          if (I < N && Text[I] == ';') continue;
          Cut(I);
          continue;
        }
      }
      // Letters stand for digits where they are written as part of the number:
      // in capitals after its digits ("0800 FLOWERS"), or joined to it by
      // digits or dashes ("1-800-call-now"). A word followed by "." or ":" is
      // an abbreviation or a label ("Tel.", "Mobile:").
      size_t GroupStart = I, GroupEnd = End;
      while (GroupStart > 0 && !IsSpace(Text[GroupStart - 1])) --GroupStart;
      while (GroupEnd < N && !IsSpace(Text[GroupEnd])) ++GroupEnd;
      const std::string_view Group = std::string_view(Text).substr(GroupStart, GroupEnd - GroupStart);
      const bool Label = End < N && (Text[End] == ':' || Text[End] == '.');
      const bool Ascii = std::all_of(Word.begin(), Word.end(), IsAsciiLetter);
      const bool Capitals = std::none_of(Word.begin(), Word.end(), [](char L) { return L >= 'a' && L <= 'z'; });
      const bool Joined = std::any_of(Group.begin(), Group.end(), [](char L) { return IsDigit(L) || L == '-'; });
      if (Ascii && !Label && ((Started && Capitals) || Joined)) {
        for (char Letter : Word) Number += KeypadKey(static_cast<unsigned char>(Letter));
        Started = true;
        I = End;
      } else if (Started) {
        Cut(I);
      } else {
        AddLeftOut(Result, std::string_view(Text).substr(I, End - I + (Label ? 1 : 0)));
        I = End + (Label ? 1 : 0);
      }
    } else {
      ++I;  // spaces, dashes, dots, brackets around digits: the number's layout
    }
  }

  if (Plus) {
    const size_t Comma = Number.find(',');
    const std::string Head = Number.substr(0, Comma);
    const std::string Tail = Comma == std::string::npos ? std::string() : Number.substr(Comma);
    const std::string Region = RegionOf(Country);
    PhoneNumber Parsed;
    if (!Head.empty() && Head.find_first_of("*#") == std::string::npos &&
        Util().Parse("+" + Head, Region, &Parsed) == PhoneNumberUtil::NO_PARSING_ERROR) {
      Util().Format(Parsed, PhoneNumberUtil::E164, &Result.International);
      Number = Dialled(Parsed, Region) + Tail;
    } else {
      Result.PlusUnread = true;
    }
  }
  return Result;
}

std::string DialDigits(const TDialNumber& Number, bool DialExtension) {
  if (!DialExtension || Number.Extension.empty()) return Number.Number;
  return Number.Number + std::string(ExtensionPause) + Number.Extension;
}

std::string DialNote(const TDialNumber& Number, bool DialExtension) {
  std::string Note;
  auto Add = [&Note](const std::string& Sentence) { Note += (Note.empty() ? "" : " ") + Sentence; };
  if (Number.PlusUnread) Add("No country has this number's code: it is dialled without its \"+\".");
  if (!Number.Extension.empty() && !DialExtension)
    Add("Extension " + Number.Extension + " is not dialled (Allow Extension Dialling is off).");
  if (!Number.LeftOut.empty()) Add("Not dialled: " + Number.LeftOut);
  return Note;
}

std::string TelLink(const TDialNumber& Number, std::string_view Country) {
  const size_t Comma = Number.Number.find(',');
  const std::string Local = Number.Number.substr(0, Comma);
  // Digits after a pause are the extension of a number typed for a modem.
  std::string Extension = Number.Extension;
  if (Extension.empty() && Comma != std::string::npos) Extension = DigitsOf(Number.Number.substr(Comma));
  std::string Link;
  if (!Number.International.empty()) {
    Link = Number.International;
  } else if (Number.PlusUnread) {
    Link = "+" + Local;
  } else {
    PhoneNumber Parsed;
    if (!Local.empty() && Local.find_first_of("*#") == std::string::npos &&
        Util().Parse(Local, RegionOf(Country), &Parsed) == PhoneNumberUtil::NO_PARSING_ERROR &&
        Util().IsValidNumber(Parsed))
      Util().Format(Parsed, PhoneNumberUtil::E164, &Link);
    else Link = Local;
  }
  Replace(Link, "#", "%23");
  if (Link.empty() || Link == "+") return {};
  return "tel:" + Link + (Extension.empty() ? std::string() : ";ext=" + Extension);
}

std::vector<std::string> DiallingCountries() { return {Regions().begin(), Regions().end()}; }

bool IsDiallingCountry(std::string_view Country) { return Regions().count(std::string(Country)) > 0; }

int CallingCode(std::string_view Country) { return Util().GetCountryCodeForRegion(std::string(Country)); }

std::string LocaleCountry(std::string_view Locale) {
  Locale = Locale.substr(0, std::min(Locale.find('.'), Locale.find('@')));
  const size_t Underscore = Locale.find('_');
  if (Underscore == std::string_view::npos) return {};
  const std::string Territory(Locale.substr(Underscore + 1));
  return IsDiallingCountry(Territory) ? Territory : std::string();
}

std::string DefaultCountry() {
  for (const char* Variable : {"LC_ALL", "LC_TELEPHONE", "LANG"})
    if (const char* Value = std::getenv(Variable))
      if (std::string Country = LocaleCountry(Value); !Country.empty()) return Country;
  return "US";
}
