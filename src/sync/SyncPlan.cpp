#include <algorithm>
#include <unordered_set>

#include "SyncEngine.h"
#include "SyncFields.h"

using namespace SyncFields;

namespace {

const char* SettledText(EConflictRule Settled) {
  switch (Settled) {
    case EConflictRule::PreferLocal:
      return "kept this side's";
    case EConflictRule::PreferServer:
      return "kept the server's";
    default:
      return "kept both";
  }
}

std::string FieldList(const std::vector<int>& Fields) {
  std::string Out;
  for (int F : Fields) {
    if (!Out.empty()) Out += ", ";
    Out += FieldName(F);
  }
  return Out;
}
}  // namespace

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
  for (const TSyncConflict& C : Conflicts)
    Out.push_back("conflict: " + C.Name + " (" + FieldList(C.Fields) + "), " + SettledText(C.Settled));
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
