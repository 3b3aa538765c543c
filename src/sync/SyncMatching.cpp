#include <algorithm>
#include <unordered_set>

#include "SyncPlanner.h"

using namespace SyncFields;

namespace {

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

void TSyncPlanner::MatchByFingerprint() {
  std::vector<std::pair<uint64_t, uint32_t>> ByPrint;
  ByPrint.reserve(Works.size());
  for (size_t W = 0; W < Works.size(); ++W) ByPrint.emplace_back(CardOf(Works[W]).Fingerprint, uint32_t(W));
  std::sort(ByPrint.begin(), ByPrint.end());
  std::vector<uint32_t> Taken(ByPrint.size());  // at the first of each run of one fingerprint
  Prints.reserve(Entries.size());
  for (TAddressItem*& Entry : Entries) {
    uint64_t Print = Fingerprint(*Entry);
    Prints.push_back(Print);
    size_t Run =
        size_t(std::lower_bound(ByPrint.begin(), ByPrint.end(), std::make_pair(Print, uint32_t(0))) - ByPrint.begin());
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

TCandidate TSyncPlanner::Candidate(size_t Entry, size_t Work, int Score) {
  TWork& W = Works[Work];
  const TAddressItem* Now = W.ServerState == EServer::Changed                                        ? W.Server.get()
                            : W.ServerState == EServer::Deleted || W.ServerState == EServer::Skipped ? nullptr
                                                                                                     : &ServerBase(W);
  return {Score, Now ? EqualFields(*Entries[Entry], *Now) : -1, Entry, Work};
}

// What a run that was cut off decided, it decides again: the claimed
// entry goes with its card, and a card whose entry went as a new card has
// no entry here. A card whose entry was edited since is left to the rules.
void TSyncPlanner::MatchByClaim() {
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

void TSyncPlanner::MatchByName() {
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
void TSyncPlanner::ValueKeys(const TAddressItem& Item, F&& Visit) {
  for (int Field = sfHomeTelephone; Field < sfTabPage; ++Field) {
    if (FieldEmpty(Item, Field)) continue;
    TAddressItem Only;
    CopyField(Item, Only, Field);
    std::string Key(1, char(Field));
    Encode(Key, Only);
    Visit(Key);
  }
}

void TSyncPlanner::MatchByFields() {
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

// A new card there with the same content as an entry here that no card
// has is that entry: sure enough to go before the weaker matches.
void TSyncPlanner::MatchNewCards() {
  std::unordered_map<uint64_t, std::vector<size_t>> ByContent;
  for (size_t N = NewThere.size(); N-- > 0;) ByContent[Fingerprint(*NewThere[N].Entry)].push_back(N);
  if (ByContent.empty()) return;
  for (TAddressItem*& Entry : Entries) {
    if (!Entry) continue;
    auto Found = ByContent.find(Fingerprint(*Entry));
    if (Found == ByContent.end()) continue;
    auto& List = Found->second;
    auto Same =
        std::find_if(List.rbegin(), List.rend(), [&](size_t N) { return SameContent(*NewThere[N].Entry, *Entry); });
    if (Same == List.rend()) continue;
    NewThere[*Same].Local = Entry;
    List.erase(std::next(Same).base());
    Entry = nullptr;
  }
}
