#include "SyncEngine.h"

#include <QUrl>
#include <QUuid>
#include <algorithm>
#include <stdexcept>
#include <unordered_set>

#include "SyncPlanner.h"

using namespace SyncFields;

std::string CollectionOf(const std::string& Url) {
  std::string Path = QUrl(QString::fromStdString(Url)).path(QUrl::FullyEncoded).toStdString();
  if (Path.empty() || Path.back() != '/') Path += '/';
  return Path;
}

std::string RandomUid() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString(); }

std::string TSyncSummary::Line() const {
  return "received " + std::to_string(Received) + ", sent " + std::to_string(Sent) + ", deleted here " +
         std::to_string(DeletedHere) + ", deleted there " + std::to_string(DeletedThere) + ", merged " +
         std::to_string(Merged) + ", conflicts " + std::to_string(Conflicts) +
         (GroupsLeft ? ", groups left on the server " + std::to_string(GroupsLeft) : "");
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
      NewHrefs.push_back(Texts.Keep(Card.Href));
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
  Fetched.reserve(ToFetch.size());
  return ToFetch;
}

const TSyncEngine::TFetched* TSyncEngine::FetchedCard(std::string_view Href) const {
  auto Got = std::lower_bound(Fetched.begin(), Fetched.end(), Href,
                              [](const TFetched& C, std::string_view H) { return C.Href < H; });
  return Got != Fetched.end() && Got->Href == Href ? &*Got : nullptr;
}

void TSyncEngine::AddCard(const std::string& Href, const std::string& ETag, std::string_view Text) {
  TFetched& Card = Fetched.emplace_back();
  Card.Href = Texts.Keep(Href);
  Card.ETag = Texts.Keep(ETag);
  Texts.KeepInFile(Text, Card);
}

TSyncPlan TSyncEngine::Plan(const TLinkList& Book, const TSyncOptions& Options) {
  if (!Listed) throw std::logic_error("TSyncEngine::Plan needs the server's listing first");
  const std::vector<TSyncCard>& Cards = State->Cards;
  TSyncPlan Plan;
  Plan.Next.Share(Texts);
  Plan.Old = State;
  Plan.PlannedFor.assign(Cards.size(), -1);
  Plan.NewToken = NewToken;
  // By address, for FetchedCard; a card given twice is its later version.
  std::stable_sort(Fetched.begin(), Fetched.end(),
                   [](const TFetched& A, const TFetched& B) { return A.Href < B.Href; });
  size_t Kept = 0;
  for (size_t I = 0; I < Fetched.size(); ++I) {
    if (I + 1 < Fetched.size() && Fetched[I + 1].Href == Fetched[I].Href) continue;
    Fetched[Kept++] = Fetched[I];
  }
  Fetched.resize(Kept);
  TSyncPlanner P(Plan, Options, *State);
  bool Complete = true;
  auto Skip = [&](std::string_view Href, const char* Why) {
    Plan.Skipped.push_back(std::string(Href) + ": " + Why);
    Complete = false;
  };

  // The server's side of each card of the state.
  const uint64_t EmptyPrint = Fingerprint(TAddressItem());
  // A record that goes from the state with nothing sent for it.
  auto PlanGone = [&Plan](const TSyncCard& Card, size_t I) {
    TSyncPlan::TPlanned Gone;
    Gone.Card = Card;
    Gone.Old = int(I);
    Gone.Gone = true;
    Plan.PlannedFor[I] = int32_t(Plan.Planned.size());
    Plan.Planned.push_back(Gone);
  };
  for (size_t I = 0; I < Cards.size(); ++I) {
    const TSyncCard& Card = Cards[I];
    if (Remote[I] == ERemote::Absent) {  // a journal card the server never got: the record goes
      P.Unsent.push_back(&Card);
      PlanGone(Card, I);
      continue;
    }
    if (Card.Fingerprint == EmptyPrint && IsGroupCard(State->Text(Card))) {  // a group: no entry, only its record
      if (Remote[I] == ERemote::Deleted) {
        PlanGone(Card, I);
      } else if (Remote[I] == ERemote::ToFetch) {
        const TFetched* Got = FetchedCard(Card.Href);
        if (!Got) Skip(Card.Href, "not fetched");
        else if (IsGroupCard(TSyncState::Text(*Got))) P.KeepGroup(*Got, Card.Href, false, int(I));
        else P.GroupsBecome.push_back({Card.Href, Got, int(I)});
      }
      continue;
    }
    TWork W;
    W.Card = uint32_t(I);
    if (Remote[I] == ERemote::Deleted) W.ServerState = EServer::Deleted;
    if (Remote[I] == ERemote::ToFetch) {
      const TFetched* Got = FetchedCard(Card.Href);
      if (!Got) {
        W.ServerState = EServer::Skipped;
        Skip(Card.Href, "not fetched");
      } else {
        W.Fetched = Got;
        const std::string Text = TSyncState::Text(*Got);
        if (Text.size() == State->TextSize(Card) && Text == State->Text(Card)) {
          W.ServerState = EServer::SameText;
        } else if ((W.Server = ReadCard(Text))) {
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
  for (std::string_view Href : NewHrefs) {
    const TFetched* Got = FetchedCard(Href);
    if (!Got) {
      Skip(Href, "not fetched");
      continue;
    }
    const std::string Text = TSyncState::Text(*Got);
    std::unique_ptr<TAddressItem> Entry = ReadCard(Text);
    if (!Entry && IsGroupCard(Text)) {
      P.KeepGroup(*Got, Got->Href, true, -1);
      ++Plan.Summary.GroupsLeft;
      continue;
    }
    if (!Entry) {
      Skip(Href, "the card cannot be read");
      continue;
    }
    P.NewThere.push_back({Got->Href, Got, std::move(Entry)});
  }
  // A group that the server made a person's card: new there, as any other.
  for (auto& Became : P.GroupsBecome) {
    std::unique_ptr<TAddressItem> Entry = ReadCard(TSyncState::Text(*Became.Fetched));
    TSyncPlan::TPlanned Gone;
    Gone.Card = Cards[size_t(Became.Old)];
    Gone.Old = Became.Old;
    Gone.Gone = true;
    Plan.PlannedFor[size_t(Became.Old)] = int32_t(Plan.Planned.size());
    Plan.Planned.push_back(Gone);
    if (!Entry) Skip(Became.Href, "the card cannot be read");
    else P.NewThere.push_back({Became.Href, Became.Fetched, std::move(Entry), nullptr, false});
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
  Plan.Puts.reserve(Busy - P.NewThere.size() + P.Resend.size());           // cards new there are never sent
  size_t ServerCount = NewHrefs.size() - size_t(Plan.Summary.GroupsLeft);  // groups are no entries
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
