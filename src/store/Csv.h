#pragma once

// CSV: the contact lists of mail programs and spreadsheets (a header row
// naming the columns) read into entries, and entries written with our own
// header, UTF-8.

#include <string>
#include <string_view>

#include "ContactFields.h"

// Every row after the header, in order. Google's labelled numbers ("Phone 1 -
// Label" and "Phone 1 - Value") go into the number fields their labels name;
// whatever a row holds that an entry has no field for goes into the notes as
// a line. A value that is not UTF-8 is taken as Windows-1252. Throws
// EImportError, and EFileError when a file cannot be read.
TImported ReadCsv(std::string_view Text);
TImported ReadCsv(TInput& Input, TEntrySink Sink = {});

void AppendCsvHeader(std::string& Out);
void AppendCsvRecord(std::string& Out, const TEntryView& Item);
