#include "SyncEngine.h"

#include <QUrl>
#include <QUuid>
#include <algorithm>
#include <stdexcept>
#include <unordered_set>

#include "CardPatch.h"
#include "SyncFields.h"

using namespace SyncFields;

namespace {

using TLines = std::vector<std::string>;

// Lines of A less those of B, counting repeats, in A's order; notes may be
// long, so no line is looked for twice.
TLines Minus(const TLines& A, const TLines& B) {
  std::unordered_map<std::string_view, size_t> Left;
  for (const std::string& Line : B) ++Left[Line];
  TLines Out;
  for (const std::string& Line : A) {
    auto At = Left.find(Line);
    if (At != Left.end() && At->second > 0) --At->second;
    else Out.push_back(Line);
  }
  return Out;
}

bool SameLines(TLines A, TLines B) {
  std::sort(A.begin(), A.end());
  std::sort(B.begin(), B.end());
  return A == B;
}

// The notes merged line by line; false when both sides rewrote a line of the
// last sync, each differently.
bool MergeLines(const TLines& LocalBase, const TLines& Local, const TLines& ServerBase, const TLines& Server,
                TLines& Out) {
  TLines LocalAdded = Minus(Local, LocalBase), LocalRemoved = Minus(LocalBase, Local);
  TLines ServerAdded = Minus(Server, ServerBase), ServerRemoved = Minus(ServerBase, Server);
  // One side's change holds the other's (as when a run that sent the merged
  // notes was cut off before it could record them).
  auto Holds = [](const TLines& Big, const TLines& Small) { return Minus(Small, Big).empty(); };
  if (Holds(ServerAdded, LocalAdded) && Holds(ServerRemoved, LocalRemoved)) {
    Out = Server;
    return true;
  }
  if (Holds(LocalAdded, ServerAdded) && Holds(LocalRemoved, ServerRemoved)) {
    Out = Local;
    return true;
  }
  bool BothRemoved = Minus(LocalRemoved, ServerRemoved).size() < LocalRemoved.size();
  if (BothRemoved && !LocalAdded.empty() && !ServerAdded.empty() && !SameLines(LocalAdded, ServerAdded)) return false;
  Out = Minus(Local, Minus(ServerRemoved, LocalRemoved));
  for (const std::string& Line : Minus(ServerAdded, LocalAdded)) Out.push_back(Line);
  return true;
}

struct TMerge {
  std::unique_ptr<TAddressItem> Result;
  unsigned LocalSet = 0, ServerSet = 0;  // bits of the fields each side changed
  std::vector<int> Conflicts;
};

TMerge Merge(const TAddressItem& LocalBase, const TAddressItem& Local, const TAddressItem& ServerBase,
             const TAddressItem& Server) {
  TMerge M;
  M.Result = Clone(Local);
  for (int F = 0; F < SyncFieldCount; ++F) {
    bool ByLocal = !SameField(Local, LocalBase, F), ByServer = !SameField(Server, ServerBase, F);
    M.LocalSet |= unsigned(ByLocal) << F;
    M.ServerSet |= unsigned(ByServer) << F;
    if (!ByServer) continue;
    if (!ByLocal) {
      CopyField(Server, *M.Result, F);
      continue;
    }
    if (SameField(Local, Server, F) || F == sfTabPage) continue;  // the page is no reason to ask
    TLines Lines;
    if (F == sfNotes &&
        MergeLines(LocalBase.Notes.Lines(), Local.Notes.Lines(), ServerBase.Notes.Lines(), Server.Notes.Lines(), Lines)) {
      M.Result->Notes.Assign(Lines);
      continue;
    }
    M.Conflicts.push_back(F);
  }
  return M;
}

std::string FieldList(const std::vector<int>& Fields) {
  std::string Out;
  for (int F : Fields) {
    if (!Out.empty()) Out += ", ";
    Out += FieldName(F);
  }
  return Out;
}

std::string CollectionOf(const std::string& Url) {
  std::string Path = QUrl(QString::fromStdString(Url)).path(QUrl::FullyEncoded).toStdString();
  if (Path.empty() || Path.back() != '/') Path += '/';
  return Path;
}

std::string RandomUid() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString(); }

}  // namespace

std::string TSyncSummary::Line() const {
  return "received " + std::to_string(Received) + ", sent " + std::to_string(Sent) + ", deleted here " +
         std::to_string(DeletedHere) + ", deleted there " + std::to_string(DeletedThere) + ", merged " +
         std::to_string(Merged) + ", conflicts " + std::to_string(Conflicts);
}

// =====================================================================
// The engine

TSyncEngine::TSyncEngine(TSyncState Given) : State(std::make_shared<const TSyncState>(std::move(Given))) {
  const std::vector<TSyncCard>& Cards = State->Cards;
  ByHref.resize(Cards.size());
  for (size_t I = 0; I < Cards.size(); ++I) ByHref[I] = uint32_t(I);
  std::sort(ByHref.begin(), ByHref.end(), [&](uint32_t A, uint32_t B) { return Cards[A].Href < Cards[B].Href; });
}

size_t TSyncEngine::Find(std::string_view Href) const {
  const std::vector<TSyncCard>& Cards = State->Cards;
  auto At = std::lower_bound(ByHref.begin(), ByHref.end(), Href,
                             [&](uint32_t I, std::string_view H) { return Cards[I].Href < H; });
  return At != ByHref.end() && Cards[*At].Href == Href ? *At : std::string::npos;
}

std::vector<std::string> TSyncEngine::Listing(const TServerListing& Listing) {
  const std::vector<TSyncCard>& Cards = State->Cards;
  Listed = true;
  NewToken = Listing.SyncToken;
  NewHrefs.clear();
  Remote.assign(Cards.size(), Listing.Full ? ERemote::Deleted : ERemote::Unchanged);
  for (size_t I = 0; I < Cards.size(); ++I)
    if (Cards[I].Pending) Remote[I] = ERemote::Absent;
  std::vector<std::string> ToFetch;
  std::vector<bool> Seen(Cards.size());
  std::unordered_set<std::string_view> SeenNew;
  for (const TServerCard& Card : Listing.Cards) {
    size_t Known = Find(Card.Href);
    if (Known == std::string::npos) {
      if (!SeenNew.insert(Card.Href).second) continue;
      NewHrefs.push_back(Card.Href);
      ToFetch.push_back(Card.Href);
      continue;
    }
    if (Seen[Known]) continue;
    Seen[Known] = true;
    const TSyncCard& Old = Cards[Known];
    bool Same = !Old.Pending && !Card.ETag.empty() && Card.ETag == Old.ETag;
    Remote[Known] = Same ? ERemote::Unchanged : ERemote::ToFetch;
    if (!Same) ToFetch.push_back(Card.Href);
  }
  if (!Listing.Full)
    for (const std::string& Href : Listing.Deleted) {
      size_t Known = Find(Href);
      if (Known != std::string::npos && !Seen[Known])
        Remote[Known] = Cards[Known].Pending ? ERemote::Absent : ERemote::Deleted;
    }
  return ToFetch;
}

void TSyncEngine::AddCard(const std::string& Href, const std::string& ETag, std::string Text) {
  Fetched[Href] = TFetched{ETag, std::move(Text)};
}

namespace {

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
  const std::string* ETag = nullptr;  // the server's now, when it was fetched
  const std::string* Text = nullptr;
  std::unique_ptr<TAddressItem> LocalBase, ServerBase, Server;
};

// A pairing of an entry with a card, the best first, each taken once: the
// most fields equal to the card as last synced, then to the card as the
// server has it now (which a run cut off after sending it made equal).
struct TCandidate {
  int Score, ServerScore;
  size_t Entry, Work;
};

void TakeBest(std::vector<TCandidate>& Candidates, std::vector<TAddressItem*>& Entries, std::vector<TWork>& Works) {
  std::stable_sort(Candidates.begin(), Candidates.end(), [](const TCandidate& A, const TCandidate& B) {
    return A.Score != B.Score ? A.Score > B.Score : A.ServerScore > B.ServerScore;
  });
  for (const TCandidate& C : Candidates) {
    if (!Entries[C.Entry] || Works[C.Work].Local) continue;
    Works[C.Work].Local = Entries[C.Entry];
    Works[C.Work].LocalState = ELocal::Changed;
    Entries[C.Entry] = nullptr;
  }
  Candidates.clear();
}

}  // namespace

// Builds one plan.
class TSyncPlanner {
public:
  TSyncPlanner(TSyncPlan& APlan, const TSyncOptions& AOptions, const TSyncState& AState)
      : Plan(APlan), Options(AOptions), State(AState) {
    Collection = Options.CollectionHref.empty() ? CollectionOf(State.AddressBookUrl) : Options.CollectionHref;
    if (Collection.back() != '/') Collection += '/';
  }

  TSyncPlan& Plan;
  const TSyncOptions& Options;
  const TSyncState& State;
  std::string Collection;
  std::vector<TWork> Works;
  std::vector<TAddressItem*> Entries;  // the book's; null once paired
  std::vector<uint64_t> Prints;        // their fingerprints
  std::vector<const TAddressItem*> Resend;  // entries the journal was to send
  struct TNewThere {
    std::string Href;
    const std::string *ETag, *Text;
    std::unique_ptr<TAddressItem> Entry;
    const TAddressItem* Local = nullptr;  // the new entry here it is
  };
  std::vector<TNewThere> NewThere;
  std::vector<const TSyncCard*> Unsent;  // journal cards the server never got
  std::unordered_map<std::string, std::vector<const TSyncCard*>> UnsentNames;

  const TSyncCard& CardOf(const TWork& W) const { return State.Cards[W.Card]; }

  // A card's entry as last synced.
  std::unique_ptr<TAddressItem> SyncedEntry(const TSyncCard& C) const {
    auto Entry = std::make_unique<TAddressItem>();
    if (!C.Base.empty()) Decode(C.Base, *Entry);
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
      if (!W.ServerBase) W.ServerBase = Clone(LocalBase(W));
    }
    return *W.ServerBase;
  }

  // ---- pairing entries with cards

  void MatchByFingerprint() {
    std::vector<std::pair<uint64_t, uint32_t>> ByPrint;
    ByPrint.reserve(Works.size());
    for (size_t W = 0; W < Works.size(); ++W) ByPrint.emplace_back(CardOf(Works[W]).Fingerprint, uint32_t(W));
    std::sort(ByPrint.begin(), ByPrint.end());
    std::vector<uint32_t> Taken(ByPrint.size());  // at the first of each run of one fingerprint
    Prints.reserve(Entries.size());
    for (TAddressItem*& Entry : Entries) {
      uint64_t Print = Fingerprint(*Entry);
      Prints.push_back(Print);
      size_t Run = size_t(std::lower_bound(ByPrint.begin(), ByPrint.end(), std::make_pair(Print, uint32_t(0))) -
                          ByPrint.begin());
      if (Run == ByPrint.size()) continue;
      size_t At = Run + Taken[Run];
      if (At >= ByPrint.size() || ByPrint[At].first != Print) continue;
      ++Taken[Run];
      TWork& W = Works[ByPrint[At].second];
      W.Local = Entry;
      W.LocalState = ELocal::Unchanged;
      Entry = nullptr;
    }
  }

  TCandidate Candidate(size_t Entry, size_t Work, int Score) {
    TWork& W = Works[Work];
    const TAddressItem* Now = W.ServerState == EServer::Changed ? W.Server.get()
                              : W.ServerState == EServer::Deleted || W.ServerState == EServer::Skipped ? nullptr
                                                                                                         : &ServerBase(W);
    return {Score, Now ? EqualFields(*Entries[Entry], *Now) : -1, Entry, Work};
  }

  // What a run that was cut off decided, it decides again: the claimed
  // entry goes with its card, and a card whose entry went as a new card has
  // no entry here. A card whose entry was edited since is left to the rules.
  void MatchByClaim() {
    std::unordered_map<uint64_t, std::vector<size_t>> Claimed;
    for (size_t W = Works.size(); W-- > 0;) {
      const TSyncCard& C = CardOf(Works[W]);
      if (Works[W].Local) continue;
      if (C.Moved) Works[W].Reserved = true;
      else if (C.Claim) Claimed[C.Claim].push_back(W);
    }
    for (size_t E = 0; E < Entries.size(); ++E) {
      auto Found = Claimed.find(Prints[E]);
      if (!Entries[E] || Found == Claimed.end() || Found->second.empty()) continue;
      TWork& W = Works[Found->second.back()];
      Found->second.pop_back();
      W.Local = Entries[E];
      W.LocalState = ELocal::Changed;
      Entries[E] = nullptr;
    }
    // An entry the journal was to send as a new card is sent so still.
    std::unordered_map<uint64_t, size_t> ToSend;
    for (const TSyncCard* C : Unsent) ++ToSend[C->Fingerprint];
    for (size_t E = 0; E < Entries.size() && !ToSend.empty(); ++E) {
      auto Found = ToSend.find(Prints[E]);
      if (!Entries[E] || Found == ToSend.end() || Found->second == 0) continue;
      --Found->second;
      Resend.push_back(Entries[E]);
      Entries[E] = nullptr;
    }
  }

  void MatchByName() {
    std::unordered_map<std::string, std::vector<size_t>> ByName;
    for (size_t W = 0; W < Works.size(); ++W)
      if (!Works[W].Local && !Works[W].Reserved) ByName[NameKey(LocalBase(Works[W]))].push_back(W);
    if (ByName.empty()) return;
    std::vector<TCandidate> Candidates;
    for (size_t E = 0; E < Entries.size(); ++E) {
      if (!Entries[E]) continue;
      auto Found = ByName.find(NameKey(*Entries[E]));
      if (Found == ByName.end()) continue;
      for (size_t W : Found->second) Candidates.push_back(Candidate(E, W, EqualFields(*Entries[E], LocalBase(Works[W]))));
    }
    TakeBest(Candidates, Entries, Works);
  }

  // Each filled field but the names, as a key that finds the cards with it.
  template <class F>
  static void ValueKeys(const TAddressItem& Item, F&& Visit) {
    for (int Field = sfHomeTelephone; Field < sfTabPage; ++Field) {
      if (FieldEmpty(Item, Field)) continue;
      TAddressItem Only;
      CopyField(Item, Only, Field);
      std::string Key(1, char(Field));
      Encode(Key, Only);
      Visit(Key);
    }
  }

  void MatchByFields() {
    std::unordered_map<std::string, std::vector<size_t>> ByValue;
    for (size_t W = 0; W < Works.size(); ++W)
      if (!Works[W].Local && !Works[W].Reserved)
        ValueKeys(LocalBase(Works[W]), [&](const std::string& Key) { ByValue[Key].push_back(W); });
    if (ByValue.empty()) return;
    std::vector<TCandidate> Candidates;
    for (size_t E = 0; E < Entries.size(); ++E) {
      if (!Entries[E]) continue;
      std::unordered_set<size_t> Seen;
      ValueKeys(*Entries[E], [&](const std::string& Key) {
        auto Found = ByValue.find(Key);
        if (Found == ByValue.end()) return;
        for (size_t W : Found->second) {
          if (!Seen.insert(W).second) continue;
          const TAddressItem& Base = LocalBase(Works[W]);
          int Equal = EqualFields(*Entries[E], Base);
          if (Equal >= 2 && Equal * 2 >= FilledFields(Base)) Candidates.push_back(Candidate(E, W, Equal));
        }
      });
    }
    TakeBest(Candidates, Entries, Works);
  }

  // ---- what becomes of each card

  std::string FreshUid() { return Options.NewUid ? Options.NewUid() : RandomUid(); }

  // The journal card a cut-off run meant to send for this entry: the same
  // content, else (the entry was edited since) the same name. Its UID and
  // address are kept, so that a send of it still on its way when the run was
  // cut off meets the new one (412) instead of making a second card.
  const TSyncCard* TakeUnsent(const TAddressItem& Entry, uint64_t Print) {
    auto Reuse = std::find_if(Unsent.begin(), Unsent.end(), [&](const TSyncCard* C) { return C->Fingerprint == Print; });
    if (Reuse == Unsent.end() && !Unsent.empty()) {
      if (UnsentNames.empty())
        for (const TSyncCard* C : Unsent) UnsentNames[NameKey(*SyncedEntry(*C))].push_back(C);
      auto Named = UnsentNames.find(NameKey(Entry));
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
    C.Uid = Plan.Next.Keep(Uid);
    C.Text = Plan.Next.Keep(Text);
    C.Fingerprint = Fingerprint(Entry);
    C.Pending = Pending;
    std::unique_ptr<TAddressItem> Read = ReadCard(Text);
    if (!Read || !SameContent(*Read, Entry)) {
      std::string Encoded;
      Encode(Encoded, Entry);
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

  void AddHere(const TAddressItem& Entry) { AddHere(Clone(Entry)); }
  void AddHere(std::unique_ptr<TAddressItem> Entry) {
    Plan.Adds.push_back(std::move(Entry));
    ++Plan.Summary.Received;
  }

  void ChangeHere(TAddressItem* Entry, const TAddressItem& Fields) {
    Plan.Changes.push_back({Entry, Clone(Fields)});
    ++Plan.Summary.Received;
  }

  // A new card: its UID and address are chosen now and go into the journal.
  void SendNew(const TAddressItem& Entry, std::string_view OldText, const TAddressItem* Base) {
    std::string Uid, Href;
    uint64_t Print = Fingerprint(Entry);
    if (const TSyncCard* Reuse = TakeUnsent(Entry, Print)) {
      Uid = Reuse->Uid;
      Href = Reuse->Href;
    } else {
      Uid = FreshUid();
      Href = Collection + Uid + ".vcf";
    }
    std::string Text = OldText.empty() ? NewCard(Entry, Uid) : PatchCard(OldText, Entry, Base, Uid);
    TSyncPlan::TPlanned& P = Planned(nullptr, MakeCard(Href, "", Uid, Text, Entry, true));
    P.Put = int(Plan.Puts.size());
    Plan.Puts.push_back(Put(P.Card, "", DisplayName(Entry)));
    ++Plan.Summary.Sent;
  }

  // A new card there with the same content as an entry here that no card
  // has is that entry: sure enough to go before the weaker matches.
  void MatchNewCards() {
    std::unordered_map<uint64_t, std::vector<size_t>> ByContent;
    for (size_t N = NewThere.size(); N-- > 0;) ByContent[Fingerprint(*NewThere[N].Entry)].push_back(N);
    if (ByContent.empty()) return;
    for (TAddressItem*& Entry : Entries) {
      if (!Entry) continue;
      auto Found = ByContent.find(Fingerprint(*Entry));
      if (Found == ByContent.end()) continue;
      auto& List = Found->second;
      auto Same = std::find_if(List.rbegin(), List.rend(),
                               [&](size_t N) { return SameContent(*NewThere[N].Entry, *Entry); });
      if (Same == List.rend()) continue;
      NewThere[*Same].Local = Entry;
      List.erase(std::next(Same).base());
      Entry = nullptr;
    }
  }

  void DecideNew() {
    for (const TAddressItem* Entry : Resend) SendNew(*Entry, {}, nullptr);
    for (TAddressItem*& Entry : Entries)
      if (Entry) SendNew(*Entry, {}, nullptr);
    for (TNewThere& There : NewThere) {
      const TAddressItem& Synced = There.Local ? *There.Local : *There.Entry;
      Planned(nullptr, MakeCard(There.Href, *There.ETag, CardUid(*There.Text), *There.Text, Synced));
      // Moved, not copied: a first sync receives a whole book.
      if (!There.Local) AddHere(std::move(There.Entry));
    }
  }

  void Decide(TWork& W) {
    const TSyncCard& Card = CardOf(W);
    if (W.ServerState == EServer::Skipped) return;  // as it was, till the next run
    std::string_view ETagNow = W.ETag ? std::string_view(*W.ETag) : Card.ETag;
    bool ServerChanged = W.ServerState == EServer::Changed;
    if (W.LocalState == ELocal::Unchanged && !ServerChanged && W.ServerState != EServer::Deleted) {
      if (W.ServerState == EServer::SameText) {  // a new ETag, or the journal's card arrived
        TSyncCard Same = Card;
        Same.ETag = Plan.Next.Keep(ETagNow);
        Same.Pending = false;
        Planned(&W, Same);
      }
      return;
    }
    std::string Name = W.Local ? DisplayName(*W.Local) : DisplayName(LocalBase(W));
    if (W.ServerState == EServer::Deleted) {
      Planned(&W, Card).Gone = true;
      if (W.LocalState == ELocal::Unchanged) {
        Plan.Deletes.push_back(W.Local);
        ++Plan.Summary.DeletedHere;
      } else if (W.LocalState == ELocal::Changed) {  // kept with its change
        W.Moved = true;
        SendNew(*W.Local, State.Text(Card), &LocalBase(W));
      }
      return;
    }
    if (W.LocalState == ELocal::Deleted) {
      if (ServerChanged) {  // kept with its change
        AddHere(*W.Server);
        Planned(&W, MakeCard(Card.Href, ETagNow, Card.Uid, *W.Text, *W.Server));
        return;
      }
      Planned(&W, Card).Delete = int(Plan.ServerDeletes.size());
      Plan.ServerDeletes.push_back(
          TCardDelete{Card.Href, Plan.Next.Keep(ETagNow), Plan.Next.Keep(Name), EOpResult::Pending});
      ++Plan.Summary.DeletedThere;
      return;
    }
    const TAddressItem& Local = *W.Local;
    const TAddressItem& LB = LocalBase(W);
    const TAddressItem& SB = ServerBase(W);
    const TAddressItem& Server = ServerChanged ? *W.Server : SB;
    const TAddressItem& LocalBaseNow = W.LocalState == ELocal::Unchanged ? Local : LB;
    std::string TextNow = W.Text ? *W.Text : State.Text(Card);
    TMerge M = Merge(LocalBaseNow, Local, SB, Server);
    if (!M.Conflicts.empty()) {
      EConflictRule Rule = Options.Rule;
      if (Rule == EConflictRule::Ask)
        Rule = Options.Ask ? Options.Ask(TConflictQuestion{Local, Server, M.Conflicts}) : EConflictRule::KeepBoth;
      if (Rule == EConflictRule::Ask) Rule = EConflictRule::KeepBoth;
      Plan.Conflicts.push_back({Name, M.Conflicts, Rule});
      ++Plan.Summary.Conflicts;
      if (Rule == EConflictRule::KeepBoth) {
        // The server's version comes here as an entry of its own; this one goes as a new card.
        AddHere(Server);
        Planned(&W, MakeCard(Card.Href, ETagNow, Card.Uid, TextNow, Server));
        W.Moved = true;
        SendNew(Local, State.Text(Card), &LB);
        return;
      }
      if (Rule == EConflictRule::PreferServer)
        for (int F : M.Conflicts) CopyField(Server, *M.Result, F);
    } else if (M.LocalSet && M.ServerSet && !SameEntry(*M.Result, Local) && !SameEntry(*M.Result, Server)) {
      ++Plan.Summary.Merged;
      Plan.Merged.push_back(Name);
    }
    const TAddressItem& Result = *M.Result;
    if (!SameEntry(Result, Local)) ChangeHere(W.Local, Result);
    bool Send = false;
    for (int F = 0; F < SyncFieldCount; ++F) Send |= (M.LocalSet >> F & 1) && !SameField(Result, Server, F);
    if (!Send) {
      Planned(&W, MakeCard(Card.Href, ETagNow, Card.Uid, TextNow, Result));
      return;
    }
    std::string Text = PatchCard(TextNow, Result, &LocalBaseNow);
    TSyncPlan::TPlanned& P = Planned(&W, MakeCard(Card.Href, "", Card.Uid, Text, Result));
    P.Put = int(Plan.Puts.size());
    Plan.Puts.push_back(Put(P.Card, ETagNow, Name));
    ++Plan.Summary.Sent;
  }
};

TSyncPlan TSyncEngine::Plan(const TLinkList& Book, const TSyncOptions& Options) {
  if (!Listed) throw std::logic_error("TSyncEngine::Plan needs the server's listing first");
  const std::vector<TSyncCard>& Cards = State->Cards;
  TSyncPlan Plan;
  Plan.Old = State;
  Plan.PlannedFor.assign(Cards.size(), -1);
  Plan.NewToken = NewToken;
  TSyncPlanner P(Plan, Options, *State);
  bool Complete = true;
  auto Skip = [&](std::string_view Href, const char* Why) {
    Plan.Skipped.push_back(std::string(Href) + ": " + Why);
    Complete = false;
  };

  // The server's side of each card of the state.
  for (size_t I = 0; I < Cards.size(); ++I) {
    const TSyncCard& Card = Cards[I];
    if (Remote[I] == ERemote::Absent) {  // a journal card the server never got: the record goes
      P.Unsent.push_back(&Card);
      TSyncPlan::TPlanned Gone;
      Gone.Card = Card;
      Gone.Old = int(I);
      Gone.Gone = true;
      Plan.PlannedFor[I] = int32_t(Plan.Planned.size());
      Plan.Planned.push_back(Gone);
      continue;
    }
    TWork W;
    W.Card = uint32_t(I);
    if (Remote[I] == ERemote::Deleted) W.ServerState = EServer::Deleted;
    if (Remote[I] == ERemote::ToFetch) {
      auto Got = Fetched.find(std::string(Card.Href));
      if (Got == Fetched.end()) {
        W.ServerState = EServer::Skipped;
        Skip(Card.Href, "not fetched");
      } else {
        W.ETag = &Got->second.ETag;
        W.Text = &Got->second.Text;
        if (Got->second.Text.size() == State->TextSize(Card) && Got->second.Text == State->Text(Card)) {
          W.ServerState = EServer::SameText;
        } else if ((W.Server = ReadCard(Got->second.Text))) {
          W.ServerState = EServer::Changed;
          // A card a cut-off run sent, there in another version than the
          // journal's: an earlier send of the entry, whose edits since go over it.
          if (Card.Pending && !SameContent(*W.Server, P.LocalBase(W))) {
            W.LocalBase = Clone(*W.Server);
            W.ServerBase = Clone(*W.Server);
            W.Arrived = true;
          }
        } else {
          W.ServerState = EServer::Skipped;
          Skip(Card.Href, "the card cannot be read");
        }
      }
    }
    P.Works.push_back(std::move(W));
  }
  P.NewThere.reserve(NewHrefs.size());
  for (const std::string& Href : NewHrefs) {
    auto Got = Fetched.find(Href);
    if (Got == Fetched.end()) {
      Skip(Href, "not fetched");
      continue;
    }
    std::unique_ptr<TAddressItem> Entry = ReadCard(Got->second.Text);
    if (!Entry) {
      Skip(Href, "the card cannot be read");
      continue;
    }
    P.NewThere.push_back({Href, &Got->second.ETag, &Got->second.Text, std::move(Entry)});
  }

  // Which entry is which card's.
  for (TListNode* Node = Book.Head; Node; Node = Node->Next) P.Entries.push_back(static_cast<TAddressItem*>(Node));
  size_t BookSize = P.Entries.size();
  P.MatchByFingerprint();
  P.MatchByClaim();
  P.MatchNewCards();
  P.MatchByName();
  P.MatchByFields();
  for (TWork& W : P.Works) {
    if (W.Local && W.Arrived) W.LocalState = ELocal::Changed;
    if (W.LocalState == ELocal::Changed && SameContent(*W.Local, P.LocalBase(W))) W.LocalState = ELocal::Unchanged;
  }

  size_t Busy = P.NewThere.size();
  for (const TWork& W : P.Works) Busy += W.LocalState != ELocal::Unchanged || W.ServerState != EServer::Unchanged;
  for (const TAddressItem* Entry : P.Entries) Busy += Entry != nullptr;
  Plan.Planned.reserve(Plan.Planned.size() + Busy);
  Plan.Puts.reserve(Busy - P.NewThere.size() + P.Resend.size());  // cards new there are never sent
  size_t ServerCount = NewHrefs.size();
  for (TWork& W : P.Works) {
    ServerCount += W.ServerState != EServer::Deleted;
    P.Decide(W);
    // For the journal: how entries and cards were paired where no fingerprint says it.
    if (W.Moved || W.Reserved) Plan.Moved.push_back(W.Card);
    else if (W.LocalState == ELocal::Changed) Plan.Claims.emplace_back(W.Card, Fingerprint(*W.Local));
  }
  P.DecideNew();
  Plan.TokenSafe = Complete;

  const TSyncSummary& S = Plan.Summary;
  auto Many = [](int Deleted, size_t Of) { return Deleted >= 10 && size_t(Deleted) * 2 > Of; };
  if (Many(S.DeletedHere, BookSize)) {
    Plan.MassDelete = true;
    Plan.MassDeleteText = "This sync would delete " + std::to_string(S.DeletedHere) + " of the " +
                          std::to_string(BookSize) + " entries of the book.";
  }
  if (Many(S.DeletedThere, ServerCount)) {
    Plan.MassDelete = true;
    if (!Plan.MassDeleteText.empty()) Plan.MassDeleteText += ' ';
    Plan.MassDeleteText += "This sync would delete " + std::to_string(S.DeletedThere) + " of the " +
                           std::to_string(ServerCount) + " cards on the server.";
  }
  return Plan;
}

// =====================================================================
// The plan

std::vector<std::string> TSyncPlan::Actions() const {
  std::vector<std::string> Out;
  for (const auto& Entry : Adds) Out.push_back("add here: " + DisplayName(*Entry));
  for (const TLocalChange& C : Changes) Out.push_back("change here: " + DisplayName(*C.Fields));
  for (const TAddressItem* Entry : Deletes) Out.push_back("delete here: " + DisplayName(*Entry));
  for (const TCardPut& P : Puts)
    Out.push_back(std::string(P.IfMatch.empty() ? "send new card: " : "send change: ").append(P.Name));
  for (const TCardDelete& D : ServerDeletes) Out.push_back(std::string("delete there: ").append(D.Name));
  for (const std::string& Name : Merged) Out.push_back("merged: " + Name);
  static const char* const Settled[] = {"kept both", "kept this side's", "kept the server's"};
  for (const TSyncConflict& C : Conflicts)
    Out.push_back("conflict: " + C.Name + " (" + FieldList(C.Fields) + "), " + Settled[int(C.Settled)]);
  return Out;
}

bool TSyncPlan::NeedsJournal() const { return !Puts.empty() || !ServerDeletes.empty(); }

TSyncState TSyncPlan::JournalState() const {
  TSyncState Journal = *Old;
  Journal.Share(Next);
  for (TSyncCard& C : Journal.Cards) C.Claim = 0, C.Moved = false;
  for (auto [Card, Print] : Claims) Journal.Cards[Card].Claim = Print;
  for (uint32_t Card : Moved) Journal.Cards[Card].Moved = true;
  // A card the journal had is recorded again when it is still to be sent.
  std::unordered_set<std::string_view> Sending;
  for (const TPlanned& P : Planned)
    if (P.Old < 0 && P.Card.Pending) Sending.insert(P.Card.Href);
  std::erase_if(Journal.Cards, [&](const TSyncCard& C) { return C.Pending && Sending.count(C.Href); });
  for (const TPlanned& P : Planned)
    if (P.Old < 0 && P.Card.Pending) Journal.Cards.push_back(P.Card);
  return Journal;
}

bool TSyncPlan::ApplyToBook(TAddressBook& Book) {
  bool Any = !Adds.empty() || !Changes.empty() || !Deletes.empty();
  std::vector<TAddressItem*> Added;
  for (TLocalChange& C : Changes) {
    Book.Items->Remove(C.Entry);  // back in at its name's place
    CopyFields(*C.Fields, *C.Entry);
    Added.push_back(C.Entry);
  }
  for (TAddressItem* Entry : Deletes) {
    if (Book.Current == Entry) Book.Current = nullptr;
    Book.Items->Delete(Entry);
  }
  for (std::unique_ptr<TAddressItem>& Entry : Adds) Added.push_back(Entry.release());
  Book.Items->AddAll(Added);
  Adds.clear();
  Changes.clear();
  Deletes.clear();
  if (Any) Book.Modified = true;
  return Any;
}

// What a planned card comes to, given the results of the operations.
TSyncPlan::ECardState TSyncPlan::Outcome(const TPlanned& P, TSyncCard& Card) const {
  if (P.Gone) return ECardState::Gone;
  Card = P.Card;
  if (P.Delete >= 0) {
    if (ServerDeletes[size_t(P.Delete)].Result == EOpResult::Done) return ECardState::Gone;
    Card = Old->Cards[size_t(P.Old)];
    return ECardState::Same;
  }
  if (P.Put >= 0) {
    const TCardPut& Put = Puts[size_t(P.Put)];
    if (Put.Result != EOpResult::Done) {
      if (P.Old < 0) return ECardState::Changed;  // a new card stays in the journal: it may have arrived
      Card = Old->Cards[size_t(P.Old)];
      return ECardState::Same;
    }
    Card.Pending = false;
  }
  return ECardState::Changed;
}

std::string TSyncPlan::FinalToken() const {
  bool AllDone = TokenSafe;
  for (const TCardPut& P : Puts) AllDone &= P.Result == EOpResult::Done;
  for (const TCardDelete& D : ServerDeletes) AllDone &= D.Result == EOpResult::Done;
  return AllDone ? NewToken : Old->SyncToken;
}

bool TSyncPlan::StateChanged() const {
  if (FinalToken() != Old->SyncToken) return true;
  if (std::any_of(Old->Cards.begin(), Old->Cards.end(), [](const TSyncCard& C) { return C.Claim || C.Moved; }))
    return true;
  TSyncCard Card;
  for (const TPlanned& P : Planned)
    if (Outcome(P, Card) != ECardState::Same) return true;
  return false;
}

TSyncState TSyncPlan::FinalState() const {
  TSyncState Final;
  Final.ServerUrl = Old->ServerUrl;
  Final.AddressBookUrl = Old->AddressBookUrl;
  Final.UserName = Old->UserName;
  Final.TrustedCertificate = Old->TrustedCertificate;
  Final.SyncToken = FinalToken();
  Final.Share(*Old);
  Final.Share(Next);
  Final.Cards.reserve(Old->Cards.size() + Planned.size());
  auto Add = [&](const TPlanned& P) {
    TSyncCard Card;
    if (Outcome(P, Card) == ECardState::Gone) return;
    if (P.Put >= 0 && Puts[size_t(P.Put)].Result == EOpResult::Done) Card.ETag = Final.Keep(Puts[size_t(P.Put)].ETag);
    Card.Claim = 0, Card.Moved = false;
    Final.Cards.push_back(Card);
  };
  for (size_t I = 0; I < Old->Cards.size(); ++I) {
    if (PlannedFor[I] >= 0) {
      Add(Planned[size_t(PlannedFor[I])]);
      continue;
    }
    Final.Cards.push_back(Old->Cards[I]);
    Final.Cards.back().Claim = 0;  // the journal's claims are settled
    Final.Cards.back().Moved = false;
  }
  for (const TPlanned& P : Planned)
    if (P.Old < 0) Add(P);
  return Final;
}
