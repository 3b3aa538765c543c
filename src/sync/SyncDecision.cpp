#include <algorithm>

#include "SyncMerge.h"
#include "SyncPlanner.h"

using namespace SyncFields;

void TSyncPlanner::DecideNew() {
  for (const TAddressItem* Entry : Resend) SendNew(*Entry, {}, nullptr);
  for (TAddressItem*& Entry : Entries)
    if (Entry) SendNew(*Entry, {}, nullptr);
  for (TNewThere& There : NewThere) {
    const TAddressItem& Synced = There.Local ? *There.Local : *There.Entry;
    const std::string Text = TSyncState::Text(*There.Fetched);
    Planned(nullptr, MakeCard(*There.Fetched, There.Href, There.Kept, CardUid(Text), Text, Synced));
    // Moved, not copied: a first sync receives a whole book.
    if (!There.Local) AddHere(std::move(There.Entry));
  }
}

namespace {

// What becomes of a card, by what happened to it here and there since the
// last sync.
enum class EDecision { Nothing, NewETag, DeleteHere, SendAsNew, Forget, TakeServers, DeleteThere, Merge };

EDecision DecisionFor(ELocal Here, EServer There) {
  using D = EDecision;
  //                     there: Unchanged       SameText        Changed          Deleted         Skipped
  static constexpr D Table[3][5] = {
      // clang-format off
      /* here Unchanged */ {D::Nothing,     D::NewETag,     D::Merge,        D::DeleteHere,  D::Nothing},
      /* here Changed   */ {D::Merge,       D::Merge,       D::Merge,        D::SendAsNew,   D::Nothing},
      /* here Deleted   */ {D::DeleteThere, D::DeleteThere, D::TakeServers,  D::Forget,      D::Nothing}};
  // clang-format on
  return Table[int(Here)][int(There)];
}

}  // namespace

EConflictRule SettleByRule(EConflictRule Rule, const std::function<EConflictRule(const TConflictQuestion&)>& Ask,
                           const TConflictQuestion& Question) {
  if (Rule == EConflictRule::Ask) Rule = Ask ? Ask(Question) : EConflictRule::KeepBoth;
  return Rule == EConflictRule::Ask ? EConflictRule::KeepBoth : Rule;
}

void TSyncPlanner::Decide(TWork& W) {
  const TSyncCard& Card = CardOf(W);
  const EDecision Decision = DecisionFor(W.LocalState, W.ServerState);
  if (Decision == EDecision::Nothing) return;  // a card skipped stays as it was, till the next run
  std::string_view ETagNow = W.Fetched ? W.Fetched->ETag : Card.ETag;
  if (Decision == EDecision::NewETag) {  // a new ETag, or the journal's card arrived
    TSyncCard Same = Card;
    Same.ETag = Plan.Next.Keep(ETagNow);
    Same.Pending = false;
    Planned(&W, Same);
    return;
  }
  // A group an earlier version took in as an entry: never written or deleted.
  if (W.ServerState != EServer::Deleted && IsGroupCard(State.Text(W.Fetched ? *W.Fetched : Card))) return;
  std::string Name = W.Local ? DisplayName(*W.Local) : DisplayName(LocalBase(W));
  switch (Decision) {
    case EDecision::DeleteHere:
      Planned(&W, Card).Gone = true;
      Plan.Deletes.push_back(W.Local);
      ++Plan.Summary.DeletedHere;
      return;
    case EDecision::SendAsNew:  // deleted there, changed here: kept with its change
      Planned(&W, Card).Gone = true;
      SendAsNewCard(W);
      return;
    case EDecision::Forget:
      Planned(&W, Card).Gone = true;
      return;
    case EDecision::TakeServers:  // deleted here, changed there: kept with its change
      AddHere(*W.Server);
      Planned(&W, MakeCard(*W.Fetched, Card.Href, false, Card.Uid, State.Text(*W.Fetched), *W.Server));
      return;
    case EDecision::DeleteThere:
      Planned(&W, Card).Delete = int(Plan.ServerDeletes.size());
      Plan.ServerDeletes.push_back(
          TCardDelete{Card.Href, Plan.Next.Keep(ETagNow), Plan.Next.Keep(Name), EOpResult::Pending});
      ++Plan.Summary.DeletedThere;
      return;
    default:
      break;
  }
  const bool ServerChanged = W.ServerState == EServer::Changed;
  const TAddressItem& Local = *W.Local;
  const TAddressItem& LB = LocalBase(W);
  const TAddressItem& SB = ServerBase(W);
  const TAddressItem& Server = ServerChanged ? *W.Server : SB;
  const TAddressItem& LocalBaseNow = W.LocalState == ELocal::Unchanged ? Local : LB;
  std::string TextNow = State.Text(W.Fetched ? *W.Fetched : Card);
  TMerge M = Merge(LocalBaseNow, Local, SB, Server);
  if (!M.Conflicts.empty()) {
    // Each side's version with the other's one-sided changes in it.
    std::unique_ptr<TAddressItem> ServerSide = Clone(*M.Result);
    for (int F : M.Conflicts) CopyField(Server, *ServerSide, F);
    TConflictQuestion Question{*M.Result, *ServerSide, M.Conflicts, {}, {}};
    for (int F = 0; F < SyncFieldCount; ++F) {
      if (std::find(M.Conflicts.begin(), M.Conflicts.end(), F) != M.Conflicts.end()) continue;
      bool ByLocal = M.LocalSet >> F & 1, ByServer = M.ServerSet >> F & 1;
      if (ByLocal && !ByServer) Question.FromHere.push_back(F);
      if (ByServer && !ByLocal) Question.FromServer.push_back(F);
    }
    EConflictRule Rule = Settle(Question);
    if (Rule == EConflictRule::Ask) Rule = EConflictRule::KeepBoth;
    Plan.Conflicts.push_back({Name, M.Conflicts, Rule});
    ++Plan.Summary.Conflicts;
    if (Rule == EConflictRule::KeepBoth) {
      // The server's version comes here as an entry of its own, this one
      // goes as a new card: each side's changes stay whole in its copy.
      AddHere(Server);
      Planned(&W, MakeCard(Card.Href, ETagNow, Card.Uid, TextNow, Server));
      SendAsNewCard(W);
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
  std::string Text = PatchCard(TextNow, Result, &LocalBaseNow, {}, Revision());
  TSyncPlan::TPlanned& P = Planned(&W, MakeCard(Card.Href, "", Card.Uid, Text, Result));
  P.Put = int(Plan.Puts.size());
  Plan.Puts.push_back(Put(P.Card, ETagNow, Name));
  ++Plan.Summary.Sent;
}

// The entry of W goes to the server as a new card of its own; the journal
// keeps that, so that a run cut off before the send does not lose it.
void TSyncPlanner::SendAsNewCard(TWork& W) {
  W.Moved = true;
  SendNew(*W.Local, State.Text(CardOf(W)), &LocalBase(W));
}

// A contact group's record: kept so that it is not fetched again, never
// paired with an entry, never sent or deleted.
void TSyncPlanner::KeepGroup(const TSyncCard& Fetched, std::string_view Href, bool HrefKept, int Old) {
  TSyncPlan::TPlanned P;
  const std::string Text = State.Text(Fetched);
  P.Card = MakeCard(Fetched, Href, HrefKept, CardUid(Text), Text, TAddressItem());
  P.Old = Old;
  if (Old >= 0) Plan.PlannedFor[size_t(Old)] = int32_t(Plan.Planned.size());
  Plan.Planned.push_back(P);
}
