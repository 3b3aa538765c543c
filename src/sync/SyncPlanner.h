#pragma once

// The building of one plan, shared by the files of the engine: pairing
// entries with cards (SyncMatching.cpp), what becomes of each card
// (SyncDecision.cpp), and the engine that drives them (SyncEngine.cpp).

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "CardPatch.h"
#include "SyncEngine.h"
#include "SyncFields.h"

std::string CollectionOf(const std::string& Url);
// The rule of the options: Rule, asking Ask when it is Ask (keep both without it).
EConflictRule SettleByRule(EConflictRule Rule, const std::function<EConflictRule(const TConflictQuestion&)>& Ask,
                           const TConflictQuestion& Question);
std::string RandomUid();

enum class ELocal : uint8_t { Unchanged, Changed, Deleted };
enum class EServer : uint8_t { Unchanged, SameText, Changed, Deleted, Skipped };

// One card of the state that the server has, had, or was sent.
struct TWork {
  uint32_t Card = 0;
  ELocal LocalState = ELocal::Deleted;
  EServer ServerState = EServer::Unchanged;
  bool Reserved = false;  // the journal says its entry went as a new card
  bool Moved = false;     // its entry goes as a new card now
  bool Arrived = false;   // a card a cut-off run sent, there as an earlier send of it
  TAddressItem* Local = nullptr;
  const TSyncCard* Fetched = nullptr;  // the server's card now, when it was fetched
  std::unique_ptr<TAddressItem> LocalBase, ServerBase, Server;
};

// A pairing of an entry with a card, the best first, each taken once: the
// most fields equal to the card as last synced, then to the card as the
// server has it now (which a run cut off after sending it made equal).
struct TCandidate {
  int Score, ServerScore;
  size_t Entry, Work;
};

// Builds one plan.
class TSyncPlanner {
public:
  TSyncPlanner(TSyncPlan& APlan, const TSyncOptions& AOptions, const TSyncState& AState)
      : Plan(APlan), Options(AOptions), State(AState) {
    Collection = Options.CollectionHref.empty() ? CollectionOf(State.AddressBookUrl) : Options.CollectionHref;
    Settle = Options.Settle ? Options.Settle : [&AOptions](const TConflictQuestion& Question) {
      return SettleByRule(AOptions.Rule, AOptions.Ask, Question);
    };
    if (Collection.back() != '/') Collection += '/';
  }

  TSyncPlan& Plan;
  const TSyncOptions& Options;
  TConflictRule Settle;
  const TSyncState& State;
  std::string Collection;
  std::vector<TWork> Works;
  std::vector<TAddressItem*> Entries;       // the book's; null once paired
  std::vector<uint64_t> Prints;             // their fingerprints
  std::vector<const TAddressItem*> Resend;  // entries the journal was to send
  struct TNewThere {
    std::string_view Href;
    const TSyncCard* Fetched;
    std::unique_ptr<TAddressItem> Entry;
    const TAddressItem* Local = nullptr;  // the new entry here it is
    bool Kept = true;                     // Href is the fetched card's, in the plan's state already
  };
  std::vector<TNewThere> NewThere;
  std::vector<const TSyncCard*> Unsent;  // journal cards the server never got
  std::unordered_map<std::string, std::vector<const TSyncCard*>> UnsentNames;

  const TSyncCard& CardOf(const TWork& W) const { return State.Cards[W.Card]; }

  // A card's entry as last synced.
  std::unique_ptr<TAddressItem> SyncedEntry(const TSyncCard& C) const {
    auto Entry = std::make_unique<TAddressItem>();
    if (!C.Base.empty()) SyncFields::Decode(C.Base, *Entry);
    else if (auto Read = ReadCard(State.Text(C))) Entry = std::move(Read);
    return Entry;
  }

  const TAddressItem& LocalBase(TWork& W) {
    if (!W.LocalBase) W.LocalBase = SyncedEntry(CardOf(W));
    return *W.LocalBase;
  }

  const TAddressItem& ServerBase(TWork& W) {
    if (!W.ServerBase) {
      W.ServerBase = CardOf(W).Base.empty() ? nullptr : ReadCard(State.Text(CardOf(W)));
      if (!W.ServerBase) W.ServerBase = SyncFields::Clone(LocalBase(W));
    }
    return *W.ServerBase;
  }

  // ---- pairing entries with cards

  // ---- what becomes of each card

  std::string FreshUid() { return Options.NewUid ? Options.NewUid() : RandomUid(); }
  std::string Revision() const { return Options.Revision ? Options.Revision() : std::string(); }

  // The journal card a cut-off run meant to send for this entry: the same
  // content, else (the entry was edited since) the same name. Its UID and
  // address are kept, so that a send of it still on its way when the run was
  // cut off meets the new one (412) instead of making a second card.
  const TSyncCard* TakeUnsent(const TAddressItem& Entry, uint64_t Print) {
    auto Reuse =
        std::find_if(Unsent.begin(), Unsent.end(), [&](const TSyncCard* C) { return C->Fingerprint == Print; });
    if (Reuse == Unsent.end() && !Unsent.empty()) {
      if (UnsentNames.empty())
        for (const TSyncCard* C : Unsent) UnsentNames[SyncFields::NameKey(*SyncedEntry(*C))].push_back(C);
      auto Named = UnsentNames.find(SyncFields::NameKey(Entry));
      if (Named != UnsentNames.end())
        for (const TSyncCard* C : Named->second)
          if ((Reuse = std::find(Unsent.begin(), Unsent.end(), C)) != Unsent.end()) break;
    }
    if (Reuse == Unsent.end()) return nullptr;
    const TSyncCard* Card = *Reuse;
    Unsent.erase(Reuse);
    return Card;
  }

  // A card of the state after the plan, its text kept by the plan.
  TSyncCard MakeCard(std::string_view Href, std::string_view ETag, std::string_view Uid, std::string_view Text,
                     const TAddressItem& Entry, bool Pending = false) {
    TSyncCard C;
    C.Href = Plan.Next.Keep(Href);
    C.ETag = Plan.Next.Keep(ETag);
    C.Text = Plan.Next.Keep(Text);
    C.Pending = Pending;
    return Finish(C, Uid, Text, Entry);
  }
  // The same for a fetched card, whose ETag and text (Text) the plan's state
  // has already, and its address too when HrefKept.
  TSyncCard MakeCard(const TSyncCard& Fetched, std::string_view Href, bool HrefKept, std::string_view Uid,
                     std::string_view Text, const TAddressItem& Entry) {
    TSyncCard C;
    C.Href = HrefKept ? Fetched.Href : Plan.Next.Keep(Href);
    C.ETag = Fetched.ETag;
    C.Text = Fetched.Text, C.TextFile = Fetched.TextFile, C.TextAt = Fetched.TextAt, C.TextSize = Fetched.TextSize;
    return Finish(C, Uid, Text, Entry);
  }
  TSyncCard Finish(TSyncCard& C, std::string_view Uid, std::string_view Text, const TAddressItem& Entry) {
    C.Uid = Plan.Next.Keep(Uid);
    C.Fingerprint = SyncFields::Fingerprint(Entry);
    std::unique_ptr<TAddressItem> Read = ReadCard(Text);
    if (!Read || !SyncFields::SameContent(*Read, Entry)) {
      std::string Encoded;
      SyncFields::Encode(Encoded, Entry);
      C.Base = Plan.Next.Keep(Encoded);
    }
    return C;
  }

  TSyncPlan::TPlanned& Planned(const TWork* W, const TSyncCard& Card) {
    TSyncPlan::TPlanned P;
    P.Card = Card;
    if (W) {
      P.Old = int(W->Card);
      Plan.PlannedFor[W->Card] = int32_t(Plan.Planned.size());
    }
    Plan.Planned.push_back(P);
    return Plan.Planned.back();
  }

  // The views of a planned card, and the plan's own copies of the rest.
  TCardPut Put(const TSyncCard& Card, std::string_view IfMatch, std::string_view Name) {
    TCardPut P;
    P.Href = Card.Href, P.Uid = Card.Uid, P.Text = Card.Text;
    P.IfMatch = Plan.Next.Keep(IfMatch), P.Name = Plan.Next.Keep(Name);
    return P;
  }

  void AddHere(const TAddressItem& Entry) { AddHere(SyncFields::Clone(Entry)); }
  void AddHere(std::unique_ptr<TAddressItem> Entry) {
    Plan.Adds.push_back(std::move(Entry));
    ++Plan.Summary.Received;
  }

  void ChangeHere(TAddressItem* Entry, const TAddressItem& Fields) {
    Plan.Changes.push_back({Entry, SyncFields::Clone(Fields)});
    ++Plan.Summary.Received;
  }

  // A new card: its UID and address are chosen now and go into the journal.
  void SendNew(const TAddressItem& Entry, std::string_view OldText, const TAddressItem* Base) {
    std::string Uid, Href;
    uint64_t Print = SyncFields::Fingerprint(Entry);
    if (const TSyncCard* Reuse = TakeUnsent(Entry, Print)) {
      Uid = Reuse->Uid;
      Href = Reuse->Href;
    } else {
      Uid = FreshUid();
      Href = Collection + Uid + ".vcf";
    }
    std::string Text =
        OldText.empty() ? NewCard(Entry, Uid, Revision()) : PatchCard(OldText, Entry, Base, Uid, Revision());
    TSyncPlan::TPlanned& P = Planned(nullptr, MakeCard(Href, "", Uid, Text, Entry, true));
    P.Put = int(Plan.Puts.size());
    Plan.Puts.push_back(Put(P.Card, "", SyncFields::DisplayName(Entry)));
    ++Plan.Summary.Sent;
  }

  struct TBecame {
    std::string_view Href;
    const TSyncCard* Fetched;
    int Old;
  };
  std::vector<TBecame> GroupsBecome;

  // ---- pairing entries with cards (SyncMatching.cpp)
  void MatchByFingerprint();
  TCandidate Candidate(size_t Entry, size_t Work, int Score);
  // What a run that was cut off decided, it decides again: the claimed
  // entry goes with its card, and a card whose entry went as a new card has
  // no entry here. A card whose entry was edited since is left to the rules.
  void MatchByClaim();
  void MatchByName();
  // Each filled field but the names, as a key that finds the cards with it.
  template <class F>
  static void ValueKeys(const TAddressItem& Item, F&& Visit);
  void MatchByFields();
  // A new card there with the same content as an entry here that no card
  // has is that entry: sure enough to go before the weaker matches.
  void MatchNewCards();
  // ---- what becomes of each card (SyncDecision.cpp)
  void DecideNew();
  void Decide(TWork& W);
  void SendAsNewCard(TWork& W);
  // A contact group's record: kept so that it is not fetched again, never
  // paired with an entry, never sent or deleted.
  void KeepGroup(const TSyncCard& Fetched, std::string_view Href, bool HrefKept, int Old);
};
