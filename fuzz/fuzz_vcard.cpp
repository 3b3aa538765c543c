// Feeds arbitrary bytes to the vCard reader.
#include "ContactsFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  CheckReader(Data, Size, EContactFormat::VCard);
  return 0;
}
