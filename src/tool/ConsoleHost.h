#pragma once

#include <iostream>
#include <string>

#include "Adrbook.h"

// What a book tells its host, for the command-line programs: the older-format
// warning goes to standard error, and a default page has nowhere to show.
class TConsoleHost : public IBookHost {
public:
  // Set by a command that only reads books (dump, export, print): it leaves
  // nothing beside an older book, not even the ".OLD" copy.
  static inline bool OnlyReads = false;

  void OldFormatWarning(const std::string& Text) override { std::cerr << Text << "\n"; }
  void SetDefaultTab(int) override {}
  bool MaySave() const override { return !OnlyReads; }
};
