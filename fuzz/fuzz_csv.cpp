// Feeds arbitrary bytes to the CSV reader.
#include "ContactsFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  CheckReader(Data, Size, EContactFormat::Csv);
  return 0;
}
