#pragma once

// A server in memory that keeps cards the way a CardDAV address book does
// (ETags, conditional PUT and DELETE, sync tokens), and one whole sync run
// against it as the tool runs it.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "CardPatch.h"
#include "SyncEngine.h"
#include "SyncFields.h"
#include "VCard.h"

// Surname, first name, home, work, extension, fax, mobile, then home address,
// work address and notes with lines split at '|'.
inline std::unique_ptr<TAddressItem> Person(std::vector<std::string> F) {
  F.resize(10);
  auto I = std::make_unique<TAddressItem>();
  I->Surname = F[0], I->FirstName = F[1], I->HomeTelephone = F[2], I->BusTelephone = F[3];
  I->BusExtn = F[4], I->BusFacsimile = F[5], I->BusMobile = F[6];
  TLineList* Lists[] = {&I->HomeAddress, &I->BusAddress, &I->Notes};
  for (int L = 0; L < 3; ++L) {
    std::string Text = F[7 + size_t(L)];
    std::replace(Text.begin(), Text.end(), '|', '\n');
    Lists[L]->SetText(Text);
  }
  return I;
}

// "Smith John h=1 w=2 x=3 f=4 m=5 ha=a/b wa=c n=d/e": the filled fields.
inline std::string Short(const TAddressItem& I) {
  std::string Out = I.Surname.string() + " " + I.FirstName.string();
  const std::pair<const char*, std::string_view> Texts[] = {
      {"h", I.HomeTelephone}, {"w", I.BusTelephone}, {"x", I.BusExtn}, {"f", I.BusFacsimile}, {"m", I.BusMobile}};
  for (auto [Key, Value] : Texts)
    if (!Value.empty()) Out.append(" ").append(Key).append("=").append(Value);
  const std::pair<const char*, const TLineList*> Lists[] = {
      {"ha", &I.HomeAddress}, {"wa", &I.BusAddress}, {"n", &I.Notes}};
  for (auto [Key, List] : Lists) {
    if (List->Count() == 0) continue;
    std::string Text = List->Text();
    std::replace(Text.begin(), Text.end(), '\n', '/');
    Out += std::string(" ") + Key + "=" + Text;
  }
  return Out;
}

inline std::string Joined(std::vector<std::string> Items) {
  std::sort(Items.begin(), Items.end());
  std::string Out;
  for (const std::string& Item : Items) Out += (Out.empty() ? "" : "; ") + Item;
  return Out;
}

inline std::string BookText(const TAddressBook& Book) {
  std::vector<std::string> Items;
  for (TListNode* N = Book.Items->Head; N; N = N->Next) Items.push_back(Short(*static_cast<TAddressItem*>(N)));
  return Joined(Items);
}

inline TAddressItem* EntryNamed(TAddressBook& Book, const std::string& Surname, int Skip = 0) {
  for (TListNode* N = Book.Items->Head; N; N = N->Next) {
    auto* I = static_cast<TAddressItem*>(N);
    if (I->Surname == Surname && Skip-- == 0) return I;
  }
  return nullptr;
}

inline void AddTo(TAddressBook& Book, std::unique_ptr<TAddressItem> Item) { Book.Items->Add(Item.release()); }

class TFakeServer {
public:
  struct TStored {
    std::string ETag, Text;
  };
  std::map<std::string, TStored> Cards;
  bool ForgetTokens = false;  // every token is refused: full listings only
  int Puts = 0, Deletes = 0;

  void Store(const std::string& Href, const std::string& Text) {
    Cards[Href] = {"\"e" + std::to_string(++Tag) + "\"", Text};
    Log.push_back(Href);
  }
  void Remove(std::string Href) {  // a copy: it may be a key of Cards
    Cards.erase(Href);
    Log.push_back(Href);
  }

  // Changes since a token this server gave, else every card.
  TServerListing List(const std::string& Token) {
    TServerListing L;
    size_t Since = 0;
    bool Known = !ForgetTokens && Token.size() > 1 && Token[0] == 't';
    if (Known) Since = std::stoul(Token.substr(1));
    L.Full = !Known || Since > Log.size();
    std::vector<std::string> Changed(L.Full ? std::vector<std::string>()
                                            : std::vector(Log.begin() + long(Since), Log.end()));
    std::sort(Changed.begin(), Changed.end());
    Changed.erase(std::unique(Changed.begin(), Changed.end()), Changed.end());
    if (L.Full)
      for (auto& [Href, Card] : Cards) L.Cards.push_back({Href, Card.ETag});
    for (const std::string& Href : Changed) {
      auto Found = Cards.find(Href);
      if (Found == Cards.end()) L.Deleted.push_back(Href);
      else L.Cards.push_back({Href, Found->second.ETag});
    }
    L.SyncToken = "t" + std::to_string(Log.size());
    return L;
  }

  // A PUT: new cards with If-None-Match: *, others with If-Match.
  bool Put(TCardPut& P) {
    ++Puts;
    auto Found = Cards.find(std::string(P.Href));
    if (P.IfMatch.empty() ? Found != Cards.end() : Found == Cards.end() || Found->second.ETag != P.IfMatch) {
      P.Result = EOpResult::Failed;
      return false;
    }
    Store(std::string(P.Href), std::string(P.Text));
    P.Result = EOpResult::Done;
    P.ETag = Cards[std::string(P.Href)].ETag;
    return true;
  }

  bool Delete(TCardDelete& D) {
    ++Deletes;
    auto Found = Cards.find(std::string(D.Href));
    if (Found != Cards.end() && Found->second.ETag != D.IfMatch) {
      D.Result = EOpResult::Failed;
      return false;
    }
    if (Found != Cards.end()) Remove(std::string(D.Href));
    D.Result = EOpResult::Done;  // a card already gone is gone
    return true;
  }

  std::string Text() const {
    std::vector<std::string> Items;
    for (auto& [Href, Card] : Cards) {
      auto Read = ReadCard(Card.Text);
      Items.push_back(Read ? Short(*Read) : "(unreadable " + Href + ")");
    }
    return Joined(Items);
  }

  std::string HrefOf(const std::string& Surname, int Skip = 0) const {
    for (auto& [Href, Card] : Cards) {
      auto Read = ReadCard(Card.Text);
      if (Read && Read->Surname == Surname && Skip-- == 0) return Href;
    }
    return {};
  }

  // The card at Href with the entry changed by Edit, its other lines kept.
  template <class F>
  void Edit(const std::string& Href, F&& Change) {
    std::string Old = Cards.at(Href).Text;
    auto Item = ReadCard(Old);
    Change(*Item);
    Store(Href, PatchCard(Old, *Item, nullptr));
  }

private:
  int Tag = 0;
  std::vector<std::string> Log;
};

// Options with UIDs that tests can name: uid-1, uid-2, ...
// The REV of every card the tests send.
constexpr const char* TestRevision = "20261209T101500Z";

// The card with the REV a change gives it, before its last END:VCARD.
inline std::string WithRev(std::string Card) {
  size_t End = Card.rfind("END:VCARD");
  std::string LineEnd = Card.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  return Card.insert(End, std::string("REV:") + TestRevision + LineEnd);
}

inline TSyncOptions TestOptions(EConflictRule Rule = EConflictRule::KeepBoth) {
  TSyncOptions O;
  O.Rule = Rule;
  O.CollectionHref = "/book/";
  auto Counter = std::make_shared<int>(0);
  O.NewUid = [Counter] { return "uid-" + std::to_string(++*Counter); };
  O.Revision = [] { return std::string(TestRevision); };
  return O;
}

struct TRunResult {
  TSyncSummary Summary;
  bool MassDelete = false;
  size_t Puts = 0, Deletes = 0, Conflicts = 0;
  std::vector<std::string> Skipped;
};

// One sync as the tool runs it; the state goes through its file form at each
// save. CutAfter: the run ends (as if killed) after that many PUTs, before
// the book and the final state are written.
inline TRunResult RunSync(TAddressBook& Book, TSyncState& State, TFakeServer& Server, const TSyncOptions& Options,
                          int CutAfter = -1) {
  auto Saved = [](const TSyncState& S) {
    TSyncState Back;
    Back.Parse(S.Serialize(), "test.sync");
    return Back;
  };
  TSyncEngine Engine(State);
  Engine.SetScratchFolder(::testing::TempDir());  // as the session does
  for (const std::string& Href : Engine.Listing(Server.List(State.SyncToken))) {
    auto Found = Server.Cards.find(Href);
    if (Found != Server.Cards.end()) Engine.AddCard(Href, Found->second.ETag, Found->second.Text);
  }
  TSyncPlan Plan = Engine.Plan(*Book.Items, Options);
  TRunResult R{Plan.Summary,          Plan.MassDelete, Plan.Puts.size(), Plan.ServerDeletes.size(),
               Plan.Conflicts.size(), Plan.Skipped};
  if (Plan.MassDelete) return R;
  if (Plan.NeedsJournal()) State = Saved(Plan.JournalState());
  int Sent = 0;
  for (TCardPut& P : Plan.Puts) {
    if (Sent++ == CutAfter) return R;
    Server.Put(P);
  }
  if (CutAfter >= 0) return R;
  for (TCardDelete& D : Plan.ServerDeletes) Server.Delete(D);
  Plan.ApplyToBook(Book);
  State = Saved(Plan.FinalState());
  return R;
}
