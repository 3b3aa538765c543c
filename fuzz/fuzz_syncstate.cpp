// Feeds arbitrary bytes to the BOOK.sync reader: it refuses or reads, and
// what it reads writes back to a file it reads again the same way.
#include <cstdlib>

#include "SyncState.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TSyncState State;
  try {
    State.Parse(std::string(reinterpret_cast<const char*>(Data), Size), "fuzz.sync");
  } catch (const ESyncStateError&) {
    return 0;
  }
  TSyncState Again;
  Again.Parse(State.Serialize(), "again.sync");
  if (!(Again == State)) abort();
  return 0;
}
