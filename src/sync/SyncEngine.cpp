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

// Lines of A less those of B, counting repeats, in A's order.
TLines Minus(const TLines& A, TLines B) {
  TLines Out;
  for (const std::string& Line : A) {
    auto At = std::find(B.begin(), B.end(), Line);
    if (At == B.end()) Out.push_back(Line);
    else B.erase(At);
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

TSyncEngine::TSyncEngine(const TSyncState& State) : State(State) {
  for (size_t I = 0; I < this->State.Cards.size(); ++I) ByHref.emplace(this->State.Cards[I].Href, I);
}

std::vector<std::string> TSyncEngine::Listing(const TServerListing& Listing) {
  Listed = true;
  NewToken = Listing.SyncToken;
  Remote.assign(State.Cards.size(), Listing.Full ? ERemote::Deleted : ERemote::Unchanged);
  for (size_t I = 0; I < State.Cards.size(); ++I)
    if (State.Cards[I].Pending) Remote[I] = ERemote::Absent;
  std::vector<std::string> ToFetch;
  std::unordered_set<std::string_view> Seen;
  for (const TServerCard& Card : Listing.Cards) {
    if (!Seen.insert(Card.Href).second) continue;
    auto Known = ByHref.find(Card.Href);
    if (Known == ByHref.end()) {
      NewHrefs.push_back(Card.Href);
      ToFetch.push_back(Card.Href);
      continue;
    }
    const TSyncCard& Old = State.Cards[Known->second];
    bool Same = !Old.Pending && !Card.ETag.empty() && Card.ETag == Old.ETag;
    Remote[Known->second] = Same ? ERemote::Unchanged : ERemote::ToFetch;
    if (!Same) ToFetch.push_back(Card.Href);
  }
  if (!Listing.Full)
    for (const std::string& Href : Listing.Deleted) {
      auto Known = ByHref.find(Href);
      if (Known != ByHref.end() && !Seen.count(Href))
        Remote[Known->second] = State.Cards[Known->second].Pending ? ERemote::Absent : ERemote::Deleted;
    }
  return ToFetch;
}

void TSyncEngine::AddCard(const std::string& Href, const std::string& ETag, std::string Text) {
  Fetched[Href] = TFetched{ETag, std::move(Text)};
}

namespace {

enum class ELocal { Unchanged, Changed, Deleted };
enum class EServer { Unchanged, SameText, Changed, Deleted, Skipped };

// One card of the state that the server still has or had.
struct TWork {
  size_t Card = 0;
  TAddressItem* Local = nullptr;
  ELocal LocalState = ELocal::Deleted;
  EServer ServerState = EServer::Unchanged;
  const std::string* ETag = nullptr;  // the server's now, when it was fetched
  const std::string* Text = nullptr;
  std::unique_ptr<TAddressItem> LocalBase, ServerBase, Server;
};

// A pairing of entries with cards by score, best first, each taken once.
struct TCandidate {
  int Score;
  size_t Entry, Work;
};

void TakeBest(std::vector<TCandidate>& Candidates, std::vector<TAddressItem*>& Entries, std::vector<TWork>& Works) {
  std::stable_sort(Candidates.begin(), Candidates.end(),
                   [](const TCandidate& A, const TCandidate& B) { return A.Score > B.Score; });
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
  TSyncPlanner(TSyncPlan& Plan, const TSyncOptions& Options, const TSyncState& State)
      : Plan(Plan), Options(Options), State(State) {
    Collection = Options.CollectionHref.empty() ? CollectionOf(State.AddressBookUrl) : Options.CollectionHref;
    if (Collection.back() != '/') Collection += '/';
  }

  TSyncPlan& Plan;
  const TSyncOptions& Options;
  const TSyncState& State;
  std::string Collection;
  std::vector<TWork> Works;
  std::vector<TAddressItem*> Entries;  // the book's; null once paired
  size_t BookSize = 0;
  struct TNewThere {
    std::string Href;
    const std::string *ETag, *Text;
    std::unique_ptr<TAddressItem> Entry;
    bool Paired = false;
  };
  std::vector<TNewThere> NewThere;
  std::unordered_map<uint64_t, std::vector<const TSyncCard*>> Unsent;  // journal cards the server never got

  const TSyncCard& CardOf(const TWork& W) const { return State.Cards[W.Card]; }

  const TAddressItem& LocalBase(TWork& W) {
    if (!W.LocalBase) {
      const TSyncCard& C = CardOf(W);
      W.LocalBase = std::make_unique<TAddressItem>();
      if (!C.Base.empty()) Decode(C.Base, *W.LocalBase);
      else if (auto Read = ReadCard(C.Text)) W.LocalBase = std::move(Read);
    }
    return *W.LocalBase;
  }

  const TAddressItem& ServerBase(TWork& W) {
    if (!W.ServerBase) {
      W.ServerBase = ReadCard(CardOf(W).Text);
      if (!W.ServerBase) W.ServerBase = Clone(LocalBase(W));
    }
    return *W.ServerBase;
  }

  // ---- pairing entries with cards

  void MatchByFingerprint() {
    std::unordered_map<uint64_t, std::vector<size_t>> ByPrint;
    for (size_t W = Works.size(); W-- > 0;) ByPrint[CardOf(Works[W]).Fingerprint].push_back(W);
    for (TAddressItem*& Entry : Entries) {
      auto Found = ByPrint.find(Fingerprint(*Entry));
      if (Found == ByPrint.end() || Found->second.empty()) continue;
      TWork& W = Works[Found->second.back()];
      Found->second.pop_back();
      W.Local = Entry;
      W.LocalState = ELocal::Unchanged;
      Entry = nullptr;
    }
  }

  void MatchByName() {
    std::unordered_map<std::string, std::vector<size_t>> ByName;
    for (size_t W = 0; W < Works.size(); ++W)
      if (!Works[W].Local) ByName[NameKey(LocalBase(Works[W]))].push_back(W);
    if (ByName.empty()) return;
    std::vector<TCandidate> Candidates;
    for (size_t E = 0; E < Entries.size(); ++E) {
      if (!Entries[E]) continue;
      auto Found = ByName.find(NameKey(*Entries[E]));
      if (Found == ByName.end()) continue;
      for (size_t W : Found->second) Candidates.push_back({EqualFields(*Entries[E], LocalBase(Works[W])), E, W});
    }
    TakeBest(Candidates, Entries, Works);
  }

  void MatchByFields() {
    // Cards are found through the values of their fields other than the names.
    std::unordered_map<std::string, std::vector<size_t>> ByValue;
    for (size_t W = 0; W < Works.size(); ++W)
      if (!Works[W].Local) ValueKeys(LocalBase(Works[W]), [&](const std::string& Key) { ByValue[Key].push_back(W); });
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
          if (Equal >= 2 && Equal * 2 >= FilledFields(Base)) Candidates.push_back({Equal, E, W});
        }
      });
    }
    TakeBest(Candidates, Entries, Works);
  }

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

  // ---- what becomes of each card

  std::string FreshUid() { return Options.NewUid ? Options.NewUid() : RandomUid(); }

  // A card of the state after the plan.
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
    if (!Read || !SameEntry(*Read, Entry)) {
      std::string Encoded;
      Encode(Encoded, Entry);
      C.Base = Plan.Next.Keep(Encoded);
    }
    return C;
  }

  void Keep(const TSyncCard& Card) { Plan.Planned.emplace_back(Card); }

  static TCardPut Put(std::string Href, std::string Uid, std::string IfMatch, std::string Text, std::string Name) {
    TCardPut P;
    P.Href = std::move(Href), P.Uid = std::move(Uid), P.IfMatch = std::move(IfMatch);
    P.Text = std::move(Text), P.Name = std::move(Name);
    return P;
  }

  void AddHere(const TAddressItem& Entry) {
    Plan.Adds.push_back(Clone(Entry));
    Plan.Actions.push_back("add here: " + DisplayName(Entry));
    ++Plan.Summary.Received;
  }

  void ChangeHere(TAddressItem* Entry, const TAddressItem& Fields) {
    Plan.Changes.push_back({Entry, Clone(Fields)});
    Plan.Actions.push_back("change here: " + DisplayName(Fields));
    ++Plan.Summary.Received;
  }

  // A new card: its UID and address are chosen now and go into the journal.
  void SendNew(const TAddressItem& Entry, std::string_view OldText, const TAddressItem* Base) {
    std::string Uid, Href;
    auto Reuse = Unsent.find(Fingerprint(Entry));
    if (Reuse != Unsent.end() && !Reuse->second.empty()) {  // the card a run cut off meant to send
      Uid = Reuse->second.back()->Uid;
      Href = Reuse->second.back()->Href;
      Reuse->second.pop_back();
    } else {
      Uid = FreshUid();
      Href = Collection + Uid + ".vcf";
    }
    std::string Text = OldText.empty() ? NewCard(Entry, Uid) : PatchCard(OldText, Entry, Base, Uid);
    TSyncPlan::TPlanned P(MakeCard(Href, "", Uid, Text, Entry, true));
    P.Put = int(Plan.Puts.size());
    Plan.Puts.push_back(Put(Href, Uid, "", std::move(Text), DisplayName(Entry)));
    Plan.Planned.push_back(std::move(P));
    Plan.Actions.push_back("send new card: " + DisplayName(Entry));
    ++Plan.Summary.Sent;
  }

  void DecideNewHere() {
    // A new card there with the same content as a new entry here is that entry.
    std::unordered_map<uint64_t, std::vector<size_t>> ByContent;
    for (size_t N = NewThere.size(); N-- > 0;) ByContent[Fingerprint(*NewThere[N].Entry, false)].push_back(N);
    for (TAddressItem*& Entry : Entries) {
      if (!Entry) continue;
      auto Found = ByContent.find(Fingerprint(*Entry, false));
      if (Found != ByContent.end()) {
        auto& List = Found->second;
        auto Same = std::find_if(List.rbegin(), List.rend(),
                                 [&](size_t N) { return SameContent(*NewThere[N].Entry, *Entry); });
        if (Same != List.rend()) {
          TNewThere& There = NewThere[*Same];
          List.erase(std::next(Same).base());
          There.Paired = true;
          Keep(MakeCard(There.Href, *There.ETag, CardUid(*There.Text), *There.Text, *Entry));
          Entry = nullptr;
          continue;
        }
      }
      SendNew(*Entry, {}, nullptr);
      Entry = nullptr;
    }
    for (TNewThere& There : NewThere) {
      if (There.Paired) continue;
      AddHere(*There.Entry);
      Keep(MakeCard(There.Href, *There.ETag, CardUid(*There.Text), *There.Text, *There.Entry));
    }
  }

  void Decide(TWork& W) {
    const TSyncCard& Card = CardOf(W);
    std::string Name = W.Local ? DisplayName(*W.Local) : DisplayName(LocalBase(W));
    std::string_view ETagNow = W.ETag ? std::string_view(*W.ETag) : Card.ETag;
    std::string_view TextNow = W.Text ? std::string_view(*W.Text) : Card.Text;
    if (W.ServerState == EServer::Skipped) {
      Keep(Card);
      return;
    }
    bool ServerChanged = W.ServerState == EServer::Changed;
    if (W.ServerState == EServer::Deleted) {
      if (W.LocalState == ELocal::Unchanged) {
        Plan.Deletes.push_back(W.Local);
        Plan.Actions.push_back("delete here: " + Name);
        ++Plan.Summary.DeletedHere;
      } else if (W.LocalState == ELocal::Changed) {  // kept with its change
        SendNew(*W.Local, Card.Text, &LocalBase(W));
      }
      return;
    }
    if (W.LocalState == ELocal::Deleted) {
      if (ServerChanged) {  // kept with its change
        AddHere(*W.Server);
        Keep(MakeCard(Card.Href, ETagNow, Card.Uid, TextNow, *W.Server));
        return;
      }
      TSyncPlan::TPlanned P(Card);
      P.Delete = int(Plan.ServerDeletes.size());
      P.HasFallback = true;
      P.Fallback = Card;
      Plan.ServerDeletes.push_back(TCardDelete{std::string(Card.Href), std::string(ETagNow), Name, EOpResult::Pending});
      Plan.Planned.push_back(P);
      Plan.Actions.push_back("delete there: " + Name);
      ++Plan.Summary.DeletedThere;
      return;
    }
    if (W.LocalState == ELocal::Unchanged && !ServerChanged) {
      TSyncCard Same = Card;
      if (W.ServerState == EServer::SameText) {
        Same.ETag = Plan.Next.Keep(ETagNow);
        Same.Pending = false;
      }
      Keep(Same);
      return;
    }
    const TAddressItem& Local = *W.Local;
    const TAddressItem& LB = LocalBase(W);
    const TAddressItem& SB = ServerBase(W);
    const TAddressItem& Server = ServerChanged ? *W.Server : SB;
    const TAddressItem& LocalBaseNow = W.LocalState == ELocal::Unchanged ? Local : LB;
    TMerge M = Merge(LocalBaseNow, Local, SB, Server);
    if (!M.Conflicts.empty()) {
      EConflictRule Rule = Options.Rule;
      if (Rule == EConflictRule::Ask)
        Rule = Options.Ask ? Options.Ask(TConflictQuestion{Local, Server, M.Conflicts}) : EConflictRule::KeepBoth;
      if (Rule == EConflictRule::Ask) Rule = EConflictRule::KeepBoth;
      Plan.Conflicts.push_back({Name, M.Conflicts, Rule});
      ++Plan.Summary.Conflicts;
      static const char* const Settled[] = {"kept both", "kept this side's", "kept the server's"};
      Plan.Actions.push_back("conflict: " + Name + " (" + FieldList(M.Conflicts) + "), " + Settled[int(Rule)]);
      if (Rule == EConflictRule::KeepBoth) {
        // The server's version comes here as an entry of its own; this one goes as a new card.
        AddHere(Server);
        Keep(MakeCard(Card.Href, ETagNow, Card.Uid, TextNow, Server));
        SendNew(Local, Card.Text, &LB);
        return;
      }
      if (Rule == EConflictRule::PreferServer)
        for (int F : M.Conflicts) CopyField(Server, *M.Result, F);
    } else if (M.LocalSet && M.ServerSet && !SameEntry(*M.Result, Local) && !SameEntry(*M.Result, Server)) {
      ++Plan.Summary.Merged;
      Plan.Actions.push_back("merged: " + Name);
    }
    const TAddressItem& Result = *M.Result;
    if (!SameEntry(Result, Local)) ChangeHere(W.Local, Result);
    bool Send = false;
    for (int F = 0; F < SyncFieldCount; ++F) Send |= (M.LocalSet >> F & 1) && !SameField(Result, Server, F);
    if (!Send) {
      Keep(MakeCard(Card.Href, ETagNow, Card.Uid, TextNow, Result));
      return;
    }
    std::string Text = PatchCard(TextNow, Result, &LocalBaseNow);
    TSyncPlan::TPlanned P(MakeCard(Card.Href, "", Card.Uid, Text, Result));
    P.Put = int(Plan.Puts.size());
    P.HasFallback = true;
    P.Fallback = Card;
    Plan.Puts.push_back(Put(std::string(Card.Href), std::string(Card.Uid), std::string(ETagNow), std::move(Text), Name));
    Plan.Planned.push_back(std::move(P));
    Plan.Actions.push_back("send change: " + Name);
    ++Plan.Summary.Sent;
  }
};


TSyncPlan TSyncEngine::Plan(const TLinkList& Book, const TSyncOptions& Options) {
  if (!Listed) throw std::logic_error("TSyncEngine::Plan needs the server's listing first");
  TSyncPlan Plan;
  Plan.Old = State;
  Plan.Next = State;
  Plan.Next.Cards.clear();
  Plan.NewToken = NewToken;
  TSyncPlanner P(Plan, Options, State);
  bool Complete = true;
  auto Skip = [&](std::string_view Href, const char* Why) {
    Plan.Skipped.push_back(std::string(Href) + ": " + Why);
    Complete = false;
  };

  // The server's side of each card of the state.
  for (size_t I = 0; I < State.Cards.size(); ++I) {
    const TSyncCard& Card = State.Cards[I];
    if (Remote[I] == ERemote::Absent) {
      P.Unsent[Card.Fingerprint].push_back(&Card);
      continue;
    }
    TWork W;
    W.Card = I;
    if (Remote[I] == ERemote::Deleted) W.ServerState = EServer::Deleted;
    if (Remote[I] == ERemote::ToFetch) {
      auto Got = Fetched.find(std::string(Card.Href));
      if (Got == Fetched.end()) {
        W.ServerState = EServer::Skipped;
        Skip(Card.Href, "not fetched");
      } else {
        W.ETag = &Got->second.ETag;
        W.Text = &Got->second.Text;
        if (Got->second.Text == Card.Text) {
          W.ServerState = EServer::SameText;
        } else if ((W.Server = ReadCard(Got->second.Text))) {
          W.ServerState = EServer::Changed;
        } else {
          W.ServerState = EServer::Skipped;
          Skip(Card.Href, "the card cannot be read");
        }
      }
    }
    P.Works.push_back(std::move(W));
  }
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
  P.BookSize = P.Entries.size();
  P.MatchByFingerprint();
  P.MatchByName();
  P.MatchByFields();
  for (TWork& W : P.Works)
    if (W.LocalState == ELocal::Changed && SameEntry(*W.Local, P.LocalBase(W))) W.LocalState = ELocal::Unchanged;

  size_t ServerCount = NewHrefs.size();
  for (TWork& W : P.Works) {
    ServerCount += W.ServerState != EServer::Deleted;
    P.Decide(W);
  }
  P.DecideNewHere();

  Plan.TokenSafe = Complete;

  const TSyncSummary& S = Plan.Summary;
  auto Many = [](int Deleted, size_t Of) { return Deleted >= 10 && size_t(Deleted) * 2 > Of; };
  if (Many(S.DeletedHere, P.BookSize)) {
    Plan.MassDelete = true;
    Plan.MassDeleteText = "This sync would delete " + std::to_string(S.DeletedHere) + " of the " +
                          std::to_string(P.BookSize) + " entries of the book.";
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

bool TSyncPlan::NeedsJournal() const {
  return std::any_of(Puts.begin(), Puts.end(), [](const TCardPut& P) { return P.IfMatch.empty(); });
}

TSyncState TSyncPlan::JournalState() const {
  TSyncState Journal = Old;
  std::unordered_set<std::string_view> Hrefs;
  for (const TSyncCard& C : Journal.Cards) Hrefs.insert(C.Href);
  for (const TPlanned& P : Planned)
    if (P.Card.Pending && !Hrefs.count(P.Card.Href)) Journal.Cards.push_back(Journal.KeepCard(P.Card));
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

TSyncState TSyncPlan::FinalState() const {
  TSyncState Final = Next;
  bool AllDone = TokenSafe;
  for (const TPlanned& P : Planned) {
    if (P.Put >= 0) {
      const TCardPut& Put = Puts[size_t(P.Put)];
      if (Put.Result == EOpResult::Done) {
        TSyncCard Card = P.Card;
        Card.ETag = Final.Keep(Put.ETag);
        Card.Pending = false;
        Final.Cards.push_back(Card);
        continue;
      }
      AllDone = false;
      if (P.HasFallback) Final.Cards.push_back(P.Fallback);
      else Final.Cards.push_back(P.Card);  // a new card stays in the journal: it may have arrived
      continue;
    }
    if (P.Delete >= 0) {
      if (ServerDeletes[size_t(P.Delete)].Result == EOpResult::Done) continue;
      AllDone = false;
      Final.Cards.push_back(P.Fallback);
      continue;
    }
    Final.Cards.push_back(P.Card);
  }
  Final.SyncToken = AllDone ? NewToken : Old.SyncToken;
  return Final;
}
