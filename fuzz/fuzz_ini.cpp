// Loads arbitrary bytes as an INI file, reads from it, writes it back and
// checks that reloading the written file gives the same content.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "IniFile.h"

namespace {

const std::string& Folder() {
  // Never destroyed, so the exit handler below can still use it.
  static const std::string& Made = *new std::string([] {
    // Memory-backed when there is one: every run writes and syncs a file.
    std::filesystem::path Base = std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                                           : std::filesystem::temp_directory_path();
    std::string Pattern = (Base / "tobrinel-fuzz-ini-XXXXXX").string();
    if (!::mkdtemp(Pattern.data())) std::abort();
    std::atexit([] {
      std::error_code Ignored;
      std::filesystem::remove_all(Folder(), Ignored);
    });
    return Pattern;
  }());
  return Made;
}

void Spill(const std::string& Path, const uint8_t* Data, size_t Size) {
  FILE* Out = std::fopen(Path.c_str(), "wb");
  if (!Out) std::abort();
  if (Size && std::fwrite(Data, 1, Size, Out) != Size) std::abort();
  std::fclose(Out);
}

void Check(bool Condition) {
  if (!Condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string In = Folder() + "/in.ini";
  const std::string Out = Folder() + "/out.ini";
  Spill(In, Data, Size);
  ::unlink(Out.c_str());

  std::vector<std::string> First;
  {
    TSectionedIniFile Ini(In);
    std::vector<std::string> Names;
    Ini.ReadSections(Names);
    // Read every key of every section, in the forms the program uses.
    for (const std::string& Name : Names) {
      std::vector<std::string> Keys;
      Ini.ReadSection(Name, Keys);
      for (const std::string& Key : Keys) {
        // No stored line holds a carriage return, so "\r" marks a miss; a
        // key just listed must be found.
        std::string Value = Ini.ReadString(Name, Key, "\r");
        Check(Key.empty() || Value != "\r");
        Ini.ReadInteger(Name, Key, 0);
        Ini.ReadBool(Name, Key, true);
        Ini.ReadDate(Name, Key, 0);
        Ini.ReadTime(Name, Key, 0);
      }
      std::vector<std::string> Values;
      Ini.ReadSectionValues(Name, Values);
    }
    Ini.ReadAll(First);

    // Every section name that survived is unique without regard to case.
    for (size_t I = 0; I < Names.size(); ++I)
      for (size_t J = I + 1; J < Names.size() && J < I + 64; ++J) Check(FoldCase(Names[I]) != FoldCase(Names[J]));

    // Write to the second file and leave the input alone.
    Ini.FileName = Out;
    Ini.Modified = true;
    Ini.UpdateFile();
  }

  std::vector<std::string> Second;
  {
    TSectionedIniFile Again(Out);
    Again.ReadAll(Second);
  }
  Check(First == Second);

  // A write into the loaded content reads back and survives a round trip.
  {
    TSectionedIniFile Ini(Out);
    std::string Section = Size > 0 ? std::string(reinterpret_cast<const char*>(Data), Size % 7) : "S";
    if (Section.find_first_of(std::string("\r\x1a", 2)) == std::string::npos) {
      bool Had = Ini.ReadString(Section, "fuzzkey", "\r") != "\r";
      Ini.WriteString(Section, "fuzzkey", "value");
      Check(Ini.ReadString(Section, "fuzzkey", "") == "value");
      Ini.DeleteKey(Section, "fuzzkey");
      if (!Had) Check(Ini.ReadString(Section, "fuzzkey", "gone") == "gone");
      Ini.Modified = false;
    }
  }
  return 0;
}
