#pragma once

// CSV: the contact lists of mail programs and spreadsheets (a header row
// naming the columns) read into entries, and entries written with our own
// header, UTF-8.

#include <string>
#include <string_view>

#include "ContactFields.h"

// Every row after the header, in order. Whatever a row holds that an entry
// has no field for goes into the notes as a line. Throws EImportError.
TImported ReadCsv(std::string_view Text);

void AppendCsvHeader(std::string& Out);
void AppendCsvRecord(std::string& Out, const TAddressItem& Item);
