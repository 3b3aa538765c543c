#include "SyncMerge.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>

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

}  // namespace

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
    if (F == sfNotes && MergeLines(LocalBase.Notes.Lines(), Local.Notes.Lines(), ServerBase.Notes.Lines(),
                                   Server.Notes.Lines(), Lines)) {
      M.Result->Notes.Assign(Lines);
      continue;
    }
    M.Conflicts.push_back(F);
  }
  return M;
}
