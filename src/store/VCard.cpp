#include "VCard.h"

#include <algorithm>
#include <array>

#include "TextCodec.h"

using namespace ContactFields;

namespace {

// The types a property is marked with that choose where it goes.
enum : unsigned { Home = 1, Work = 2, Fax = 4, Cell = 8, Pager = 16 };

unsigned TypeBits(const TContentLine& P) {
  unsigned Bits = 0;
  auto Add = [&](std::string_view Type) {
    static constexpr std::pair<std::string_view, unsigned> Known[] = {
        {"HOME", Home}, {"WORK", Work}, {"FAX", Fax}, {"CELL", Cell}, {"PAGER", Pager}};
    for (auto [Name, Bit] : Known)
      if (SameText(Type, Name)) Bits |= Bit;
  };
  for (const TVCardParam& Param : P.Params) {
    if (Param.Name.empty()) Add(Param.Value);
    else if (SameText(Param.Name, "TYPE")) ForEachItem(Param.Value, Add);
  }
  return Bits;
}

// A component as one text. From version 3.0 on it may be a list: its items
// are trimmed and joined with Between, while a single item is kept exactly.
// Into Out, whose room is kept.
void AssignComponentText(std::string& Out, std::string_view Part, int Version, std::string_view Between) {
  // An unescaped comma is what makes a list.
  if (Version < 30 || Part.find(',') == std::string_view::npos || [&] {
        size_t Items = 0;
        ForEachPart(Part, ',', [&](std::string_view) { ++Items; });
        return Items <= 1;
      }()) {
    AssignUnescapedVCardText(Out, Part);
    return;
  }
  Out.clear();
  ForEachPart(Part, ',', [&](std::string_view Item) {
    std::string Text = UnescapeVCardText(Item);
    std::string_view Word = Trim(Text);
    if (Word.empty()) return;
    if (!Out.empty()) Out += Between;
    Out += Word;
  });
}

std::string ComponentText(std::string_view Part, int Version, std::string_view Between) {
  std::string Out;
  AssignComponentText(Out, Part, Version, Between);
  return Out;
}

std::string TypeLabel(unsigned Types) {
  if (Types & Home) return " (home)";
  if (Types & Work) return " (work)";
  return "";
}

// Properties an entry has no field for, kept in the notes under a label.
// Names as views: a line's name is looked up here for every line of a file.
constexpr std::pair<std::string_view, const char*> Noted[] = {{"EMAIL", "E-mail"},
                                                              {"URL", "Web"},
                                                              {"NICKNAME", "Nickname"},
                                                              {"BDAY", "Birthday"},
                                                              {"TITLE", "Job title"},
                                                              {"ROLE", "Role"},
                                                              {"IMPP", "Chat"},
                                                              {"ANNIVERSARY", "Anniversary"},
                                                              {"CATEGORIES", "Categories"},
                                                              {"LABEL", "Address label"},
                                                              {"GEO", "Location"},
                                                              {"TZ", "Time zone"},
                                                              {"GENDER", "Gender"},
                                                              {"LANG", "Language"},
                                                              {"RELATED", "Related"},
                                                              {"FBURL", "Free/busy"},
                                                              {"CALURI", "Calendar"},
                                                              {"CALADRURI", "Calendar requests"},
                                                              {"X-SOCIALPROFILE", "Social profile"},
                                                              {"X-ANNIVERSARY", "Anniversary"},
                                                              {"X-ABDATE", "Date"},
                                                              {"X-ABRELATEDNAMES", "Related"},
                                                              {"X-ASSISTANT", "Assistant"},
                                                              {"X-MANAGER", "Manager"},
                                                              {"X-SPOUSE", "Spouse"},
                                                              {"X-MAIDENNAME", "Maiden name"},
                                                              {"X-PHONETIC-FIRST-NAME", "Phonetic first name"},
                                                              {"X-PHONETIC-LAST-NAME", "Phonetic last name"},
                                                              {"X-AIM", "Chat (AIM)"},
                                                              {"X-ICQ", "Chat (ICQ)"},
                                                              {"X-JABBER", "Chat (Jabber)"},
                                                              {"X-MSN", "Chat (MSN)"},
                                                              {"X-YAHOO", "Chat (Yahoo)"},
                                                              {"X-SKYPE", "Chat (Skype)"},
                                                              {"X-SKYPE-USERNAME", "Chat (Skype)"},
                                                              {"X-GOOGLE-TALK", "Chat (Google Talk)"},
                                                              {"X-GADUGADU", "Chat (Gadu-Gadu)"},
                                                              {"X-QQ", "Chat (QQ)"},
                                                              {"X-TWITTER", "Twitter"}};

const char* NotedLabel(std::string_view Name) {
  for (auto [Property, Label] : Noted)
    if (Name == Property) return Label;
  return nullptr;
}

}  // namespace

const char* VCardPropertyOfLabel(std::string_view Label) {
  for (auto [Property, Text] : Noted)
    if (Label == Text) return Property.data();
  return nullptr;
}

namespace {

// What the card reader uses; the line of anything else may be passed over.
bool IsKept(std::string_view Name) {
  static constexpr std::string_view Used[] = {"BEGIN",
                                              "END",
                                              "VERSION",
                                              "N",
                                              "FN",
                                              "ORG",
                                              "KIND",
                                              "X-ADDRESSBOOKSERVER-KIND",
                                              "X-ABSHOWAS",
                                              "TEL",
                                              "ADR",
                                              "NOTE",
                                              "AGENT",
                                              "X-ABLABEL",
                                              "X-TOBRINEL-EXTENSION",
                                              "X-TOBRINEL-TABPAGE"};
  for (std::string_view U : Used)
    if (Name == U) return true;
  return NotedLabel(Name) != nullptr;
}

bool IsPicture(std::string_view Name) { return IsText(Name, "PHOTO") || IsText(Name, "LOGO"); }

bool IsBinary(const TContentLine& P) {
  std::string_view Encoding = P.Param("ENCODING");
  return IsText(P.Name, "SOUND") || IsText(P.Name, "KEY") || SameText(Encoding, "B") || SameText(Encoding, "BASE64") ||
         P.HasType("BASE64") || StartsWithText(Trim(P.Value), "data:");
}

constexpr int MaxNesting = 8;  // cards inside cards (AGENT)

void ReadCards(TInput& Input, TImported& Into, int Nesting, TCardTrace* Trace = nullptr);

// One card being read.
class TCardReader {
public:
  TCardReader(int32_t AStartLine, TImported& AInto, int ANesting)
      : StartLine(AStartLine), Into(AInto), Nesting(ANesting) {}

  void Take(const TContentLine& P) {
    if (!P.Group.empty()) {
      // A grouped property waits for its group's label, which may follow it.
      if (IsText(P.Name, "X-ABLABEL")) return Label(P);
      if (const std::string* Known = LabelOf(P.Group)) return Use(P, *Known);
      if (IsKept(P.Name) && !IsText(P.Name, "VERSION")) return Defer(P);
    }
    Use(P, {});
  }

  // The card's entry, with its nested cards after it, into Into.
  void Finish() {
    for (TDeferred& D : Deferred) UseDeferred(D, {});
    Deferred.clear();
    if (Group) {
      ++Into.GroupsSkipped;
      return;
    }
    TAddressItem& Item = *Entry.Item;
    bool OrganisationIsName = false;
    if (!Family.empty() || !Given.empty()) {
      Entry.Names(Family, Given);
    } else if (!Trim(FullName).empty()) {
      OrganisationIsName = Company || Trim(FullName) == Trim(Organisation);
      Entry.NamesFromFullName(FullName, OrganisationIsName);
    } else if (!Organisation.empty()) {
      OrganisationIsName = true;
      Entry.Put(Item.Surname, Organisation);
    }
    TLines First;
    if (!Prefix.empty()) First.AddText("Name prefix: " + Prefix);
    if (!Suffix.empty()) First.AddText("Name suffix: " + Suffix);
    if (!Organisation.empty() && !OrganisationIsName) First.AddText("Organisation: " + Organisation);
    Entry.Extras.Prepend(First);
    Entry.NameFromFirstOf({FullName, Organisation, Nickname, Email});
    Entry.Finish(StartLine, Into);
  }

  // The entries of the cards nested in this one, from Into at Before on,
  // go into this card's notes: the agent (an assistant, say) is part of
  // this contact, not a contact of its own.
  void TakeNested(size_t Before, int32_t Line, int32_t Began = 0) {
    if (Began) Entry.SourceLine = Began;
    for (size_t I = Before; I < Into.Items.size(); ++I) {
      const TAddressItem& Agent = *Into.Items[I];
      Entry.Note("Agent", JoinWords({Agent.FirstName.string(), Agent.Surname.string()}));
      const std::pair<const char*, std::string_view> Numbers[] = {{"Agent's home telephone", Agent.HomeTelephone},
                                                                  {"Agent's work telephone", Agent.BusTelephone},
                                                                  {"Agent's extension", Agent.BusExtn},
                                                                  {"Agent's fax", Agent.BusFacsimile},
                                                                  {"Agent's mobile", Agent.BusMobile}};
      for (auto [Label, Value] : Numbers)
        if (!Value.empty()) Entry.Note(Label, std::string(Value));
      const std::pair<const char*, const TLineList*> Lists[] = {{"Agent's home address", &Agent.HomeAddress},
                                                                {"Agent's work address", &Agent.BusAddress},
                                                                {"Agent's notes", &Agent.Notes}};
      for (auto [Label, List] : Lists) {
        std::vector<std::string> Lines = List->Lines();
        if (std::string Joined = JoinLines(Lines, ", "); !Joined.empty()) Entry.Note(Label, Joined);
      }
    }
    Into.Items.resize(Before);
    Entry.CheckLines(Line);
  }

  void TraceInto(std::vector<TValueSource>* Sources) { Entry.Sources = Sources; }

  // Ready for another card, as if new; the room of its texts is kept.
  void Reset(int32_t AStartLine, int ANesting) {
    StartLine = AStartLine;
    Nesting = ANesting;
    Version = 21;
    Depth = 0;
    Entry.Reset();
    Entry.Sources = nullptr;
    VersionSeen = Company = Group = false;
    for (std::string* Text : {&Family, &Given, &Prefix, &Suffix, &FullName, &Organisation, &Nickname, &Email})
      Text->clear();
    Labels.clear();
    Deferred.clear();
    DeferredBytes = 0;
  }

  int32_t StartLine;
  int Version = 21;  // until a VERSION says otherwise: abook, for one, writes none
  int Depth = 0;     // inside something other than a card that begins inside this one

private:
  struct TDeferred {
    std::string Line;
    int32_t Number;
    std::string Group;
  };

  const std::string* LabelOf(std::string_view GroupName) const {
    for (auto& [Name, Text] : Labels)
      if (SameText(Name, GroupName)) return &Text;
    return nullptr;
  }

  void Label(const TContentLine& P) {
    std::string Scratch;
    std::string Text(LabelText(UnescapeVCardText(DecodeVCardValue(P, Scratch))));
    if (LabelOf(P.Group)) return;
    Labels.emplace_back(std::string(P.Group), Text);
    for (size_t I = 0; I < Deferred.size();) {
      if (!SameText(Deferred[I].Group, P.Group)) {
        ++I;
        continue;
      }
      UseDeferred(Deferred[I], Text);
      DeferredBytes -= Deferred[I].Line.size();
      Deferred.erase(Deferred.begin() + ptrdiff_t(I));
    }
  }

  void Defer(const TContentLine& P) {
    // Parameters are written back as they came, so the line reads the same.
    std::string Head = P.Name;
    for (const TVCardParam& Param : P.Params) {
      Head += ';';
      if (!Param.Name.empty()) Head.append(Param.Name).append("=\"").append(Param.Value) += '"';
      else Head += Param.Value;
    }
    DeferredBytes += Head.size() + P.Value.size() + 1;
    if (DeferredBytes > MaxReadLength)
      throw EImportLimit(StartLine, std::string("the grouped properties of the card that begins here take more than ") +
                                        MaxReadText + ", more than Tobrinel reads");
    Deferred.push_back({Head + ":" + std::string(P.Value), P.Number, std::string(P.Group)});
  }

  void UseDeferred(const TDeferred& D, std::string_view GroupLabel) {
    TContentLine P;
    ParseContentLine(D.Line, D.Number, P);
    Use(P, GroupLabel);
  }

  void Use(const TContentLine& P, std::string_view GroupLabel) {
    const std::string_view Name = P.Name;
    const unsigned Types = TypeBits(P);
    Entry.SourceLine = P.Number;
    std::string Scratch;
    auto Decoded = [&] { return DecodeVCardValue(P, Scratch); };
    if (IsText(Name, "VERSION")) {
      std::string_view V = Trim(P.Value);
      if (!VersionSeen) Version = V == "2.1" ? 21 : V == "4.0" ? 40 : 30;
      VersionSeen = true;
    } else if (IsText(Name, "N")) {
      VCardComponents(Decoded(), 5, Parts);
      AssignComponentText(Family, Parts[0], Version, " ");
      AssignComponentText(Given, Parts[1], Version, " ");
      // Additional names are a list in every version that programs write.
      if (std::string More = ComponentText(Parts[2], std::max(Version, 30), " "); !Trim(More).empty())
        Given = JoinWords({Given, More});
      AssignComponentText(Prefix, Parts[3], Version, " ");
      AssignComponentText(Suffix, Parts[4], Version, " ");
    } else if (IsText(Name, "FN")) {
      AssignUnescapedVCardText(FullName, Decoded());
    } else if (IsText(Name, "ORG")) {
      std::vector<std::string> Units;
      for (std::string_view Part : VCardComponents(Decoded(), 1)) Units.push_back(ComponentText(Part, Version, " "));
      Organisation = JoinLines(Units, ", ");
    } else if (IsText(Name, "KIND") || IsText(Name, "X-ADDRESSBOOKSERVER-KIND")) {
      // A group lists its members; an organisation or a place is an entry,
      // its full name not split into names.
      Company = SameText(Trim(P.Value), "org") || SameText(Trim(P.Value), "location");
      Group = SameText(Trim(P.Value), "group");
    } else if (IsText(Name, "X-ABSHOWAS")) {
      Company = SameText(Trim(P.Value), "COMPANY");
    } else if (IsText(Name, "TEL")) {
      Telephone(Types, UnescapeVCardText(Decoded(), Unescaped), Version == 40 || SameText(P.Param("VALUE"), "uri"),
                GroupLabel);
    } else if (IsText(Name, "ADR")) {
      Address(Types, Decoded(), GroupLabel);
    } else if (IsText(Name, "NOTE")) {
      Entry.HaveNotes = true;
      Entry.NoteLines.AddText(UnescapeVCardText(Decoded(), Unescaped));
    } else if (IsText(Name, "X-TOBRINEL-EXTENSION")) {
      Entry.Put(Entry.Item->BusExtn, UnescapeVCardText(Decoded(), Unescaped));
    } else if (IsText(Name, "X-TOBRINEL-TABPAGE")) {
      std::string_view V = Trim(P.Value);
      if (V.size() == 1 && V[0] >= '0' && V[0] <= '2') Entry.Item->TabPage = uint8_t(V[0] - '0');
      Entry.From(&Entry.Item->TabPage);
    } else if (IsText(Name, "AGENT")) {
      Agent(P, UnescapeVCardText(Decoded()));
    } else if (const char* Label = NotedLabel(Name)) {
      std::string Value =
          IsText(Name, "CATEGORIES") ? ComponentText(Decoded(), 30, ", ") : UnescapeVCardText(Decoded());
      std::string LabelSuffix = GroupLabel.empty() ? TypeLabel(Types) : " (" + std::string(GroupLabel) + ")";
      if (LabelSuffix.empty() && IsText(Name, "X-SOCIALPROFILE") && !P.Param("TYPE").empty())
        LabelSuffix = " (" + std::string(P.Param("TYPE")) + ")";
      if (IsText(Name, "NICKNAME") && Nickname.empty()) Nickname = Trim(Value);
      if (IsText(Name, "EMAIL") && Email.empty()) Email = Trim(Value);
      if (!Trim(Value).empty()) Entry.Note(Label + LabelSuffix, Trim(Value));
    } else if (IsPicture(Name)) {
      if (!Trim(P.Value).empty()) ++Into.PhotosSkipped;
    } else if (IsBinary(P)) {
      if (!Trim(P.Value).empty()) ++Into.BinarySkipped;
    }
    // Anything else (identifiers, other programs' bookkeeping) is not kept.
    Entry.CheckLines(P.Number);
  }

  void Telephone(unsigned Types, std::string_view Value, bool Uri, std::string_view GroupLabel) {
    if (Uri && StartsWithText(Value, "tel:")) Value.remove_prefix(4);
    if (Value.empty()) return;
    TAddressItem& Item = *Entry.Item;
    bool AtHome = Types & Home, AtWork = Types & Work;
    ENumberKind Kind = (Types & Fax)     ? (AtHome && !AtWork ? ENumberKind::HomeFax
                                            : AtWork          ? ENumberKind::WorkFax
                                                              : ENumberKind::Fax)
                       : (Types & Cell)  ? ENumberKind::Mobile
                       : (Types & Pager) ? ENumberKind::Pager
                       : AtWork          ? ENumberKind::Work
                                         : ENumberKind::Home;
    // A label chooses the field when it names one, and keeps a number that
    // nothing else places out of the home number.
    ENumberKind Labelled = NumberKindOfLabel(GroupLabel);
    if (Labelled != ENumberKind::Other) Kind = Labelled;
    else if (!GroupLabel.empty() && !(Types & (Home | Work | Fax | Cell | Pager))) Kind = ENumberKind::Other;
    std::string Label;
    if (!GroupLabel.empty()) Label = "Telephone (" + std::string(GroupLabel) + ")";
    else if (Kind == ENumberKind::Home && !AtHome) Label = "Telephone";
    // A telephone URI may carry the extension: tel:+44-20-7946-0000;ext=123
    size_t Ext = Uri ? LowerText(Value).find(";ext=") : std::string::npos;
    if (Kind == ENumberKind::Work && Item.BusTelephone.empty() && Ext != std::string::npos && Item.BusExtn.empty()) {
      Entry.Put(Item.BusExtn, Value.substr(Ext + 5));
      Value = Value.substr(0, Ext);
    }
    Entry.PutNumberOfKind(Kind, Value, Label);
  }

  void Address(unsigned Types, std::string_view Decoded, std::string_view GroupLabel) {
    VCardComponents(Decoded, 7, Parts);
    auto Text = [&](int I) -> std::string_view {
      AssignComponentText(AddressParts[size_t(I)], Parts[size_t(I)], Version, I == 2 ? "\n" : " ");
      return AddressParts[size_t(I)];
    };
    // Street, then the flat or suite, then the post office box, as on a letter.
    TLines& Lines = AddressLines;
    Lines.clear();
    AddAddressLines(Lines, Text(2), {Text(1), Text(0), Text(3), Text(4), Text(5), Text(6)});
    bool AtWork = (Types & Work) && !(Types & Home);
    if (!GroupLabel.empty()) {
      ENumberKind Kind = NumberKindOfLabel(GroupLabel);
      if (Kind == ENumberKind::Home || Kind == ENumberKind::Work) AtWork = Kind == ENumberKind::Work;
      else if (!(Types & (Home | Work)))
        return Entry.Note("Address (" + std::string(GroupLabel) + ")", JoinLines(Lines, ", "));
    }
    bool& Have = AtWork ? Entry.HaveBusAddress : Entry.HaveHomeAddress;
    if (!Have) {
      Have = true;
      std::swap(AtWork ? Entry.BusAddress : Entry.HomeAddress, Lines);
      Entry.From(AtWork ? &Entry.Item->BusAddress : &Entry.Item->HomeAddress);
    } else {
      std::string Joined = JoinLines(Lines, ", ");
      if (!Joined.empty()) Entry.Note("Address" + TypeLabel(Types), Joined);
    }
  }

  // 3.0 writes the agent's card as the value; otherwise it is a name or a link.
  void Agent(const TContentLine& P, const std::string& Value) {
    if (!StartsWithText(Trim(Value), "BEGIN:VCARD")) {
      if (!Trim(Value).empty()) Entry.Note("Agent", Trim(Value));
      return;
    }
    if (Nesting + 1 >= MaxNesting) throw EImportError(P.Number, "cards are nested more than 8 deep");
    size_t Before = Into.Items.size();
    try {
      TInput Card(Value);
      ReadCards(Card, Into, Nesting + 1);
    } catch (const EImportError& E) {
      throw EImportError(P.Number,
                         "the card of the AGENT property, its line " + std::to_string(E.Line) + ": " + E.Problem);
    }
    TakeNested(Before, P.Number);
  }

  TImported& Into;
  int Nesting;
  TEntryBuilder Entry;
  bool VersionSeen = false;
  bool Company = false;
  bool Group = false;
  std::string Family, Given, Prefix, Suffix, FullName, Organisation, Nickname, Email;
  // Room kept from property to property.
  std::vector<std::string_view> Parts;
  std::array<std::string, 7> AddressParts;
  TLines AddressLines;
  std::string Unescaped;
  std::vector<std::pair<std::string, std::string>> Labels;  // group, label
  std::vector<TDeferred> Deferred;
  size_t DeferredBytes = 0;
};

void ReadCards(TInput& Input, TImported& Into, int Nesting, TCardTrace* Trace) {
  TContentLineReader Lines(Input);
  Lines.MayPassOver = [](std::string_view Name) { return !IsKept(Name); };
  // The card being read last; a 2.1 AGENT nests whole cards in a card.
  std::vector<std::unique_ptr<TCardReader>> Cards;
  std::vector<std::unique_ptr<TCardReader>> Spare;  // readers of cards ended, for the next ones
  std::vector<size_t> EntriesBefore;
  TCardStructure Structure;
  TContentLine Property;
  std::string_view Line;
  int32_t Number;
  // Outermost, a card that cannot be read is passed over, and so is text
  // between cards: Skipping until the END:VCARD of the card at fault, Outside
  // while lines outside any card go on (each run named once).
  bool Skipping = false, Outside = false, AnyCard = false;
  auto Refuse = [&](const EImportError& E) {
    if (Nesting > 0) throw E;
    Into.Refused.push_back({E.Line, E.Problem});
    if (!EntriesBefore.empty()) Into.Items.resize(EntriesBefore.front());
    Skipping = !Cards.empty();
    Cards.clear();
    Structure = TCardStructure();
    EntriesBefore.clear();
  };
  while (Lines.NextRaw(Line, Number)) {
    const bool Parsable = ParseContentLineIfAny(Line, Number, Property);
    const std::string_view Name = Property.Name;
    const bool Begin = Parsable && IsText(Name, "BEGIN"), End = Parsable && IsText(Name, "END");
    const bool OfCard = (Begin || End) && SameText(Trim(Property.Value), "VCARD");
    if (Skipping) {
      if (End && OfCard) Skipping = false;
      if (!(Begin && OfCard)) continue;
      Skipping = false;
    }
    try {
      if (Cards.empty()) {
        if (End && OfCard) throw EImportError(Number, "END:VCARD without a BEGIN:VCARD before it");
        if (!Begin || !OfCard) {
          // Before any card, it is no vCard at all.
          if (!AnyCard) throw EImportLimit(Number, "a card must begin with BEGIN:VCARD");
          if (!Outside) {
            Outside = true;
            throw EImportError(Number, "a card must begin with BEGIN:VCARD");
          }
          continue;
        }
      }
      Outside = false;
      if (!Parsable) ParseContentLine(Line, Number, Property);  // throws: the line has no ':'
      // Where a card ends is the patcher's rule too: one structure for both.
      TCardStructure::EStep Step = Structure.Step(Property);
      if (Step == TCardStructure::BeginCard) {
        if (Cards.size() + size_t(Nesting) >= size_t(MaxNesting))
          throw EImportLimit(Number, "cards are nested more than 8 deep");
        AnyCard = true;
        if (Spare.empty()) {
          Cards.push_back(std::make_unique<TCardReader>(Number, Into, Nesting + int(Cards.size())));
        } else {
          Spare.back()->Reset(Number, Nesting + int(Cards.size()));
          Cards.push_back(std::move(Spare.back()));
          Spare.pop_back();
        }
        if (Trace && Cards.size() == 1) {  // each outermost card until one gives an entry
          Trace->BeginLine = Number;
          Trace->Sources.clear();
          Cards.back()->TraceInto(&Trace->Sources);
        }
        EntriesBefore.push_back(Into.Items.size());
      } else if (Step == TCardStructure::EndCard) {
        int32_t Began = Cards.back()->StartLine;
        Cards.back()->Finish();
        Spare.push_back(std::move(Cards.back()));
        Cards.pop_back();
        size_t Before = EntriesBefore.back();
        EntriesBefore.pop_back();
        if (!Cards.empty()) Cards.back()->TakeNested(Before, Number, Began);
        else if (Trace && Into.Items.size() > Before) Trace = nullptr;
        // Outermost, the card's entries are for good.
        if (Cards.empty() && Nesting == 0) Into.PassOn();
      } else if (Step == TCardStructure::InBlock) {
      } else if (Lines.Cut) {
        if (IsPicture(Property.Name)) ++Into.PhotosSkipped;
        else if (IsBinary(Property)) ++Into.BinarySkipped;
      } else {
        Cards.back()->Take(Property);
      }
    } catch (const EImportLimit&) {
      throw;
    } catch (const EImportError& E) {
      Refuse(E);
    }
    Lines.KeepFoldingSpace = !Cards.empty() && Cards.back()->Version == 21;
  }
  if (!Cards.empty()) Refuse(EImportError(Cards.front()->StartLine, "the card that begins here has no END:VCARD"));
  if (Trace) *Trace = TCardTrace();
}

}  // namespace

TImported ReadVCards(TInput& Input, TEntrySink Sink) {
  TImported Result;
  Result.Sink = std::move(Sink);
  ReadCards(Input, Result, 0);
  Result.PassOn();
  // Nothing read at all: the input is refused whole, by its first fault.
  if (!Result.AnyEntry() && !Result.Refused.empty())
    throw EImportError(Result.Refused.front().first, Result.Refused.front().second);
  return Result;
}

TImported ReadVCards(std::string_view Text) {
  TInput Input(Text);
  return ReadVCards(Input);
}

TImported ReadVCards(std::string_view Text, TCardTrace& Trace) {
  TInput Input(Text);
  TImported Result;
  ReadCards(Input, Result, 0, &Trace);
  return Result;
}
