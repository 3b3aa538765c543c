// Reads arbitrary bytes as a program file's version items, and as a bare
// version block, checking that every answer stays inside what was read.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "Verinfo.h"

namespace {

const std::string& Folder() {
  // Never destroyed, so the exit handler below can still use it.
  static const std::string& Made = *new std::string([] {
    std::filesystem::path Base = std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                                           : std::filesystem::temp_directory_path();
    std::string Pattern = (Base / "tobrinel-fuzz-verinfo-XXXXXX").string();
    if (!::mkdtemp(Pattern.data())) std::abort();
    std::atexit([] {
      std::error_code Ignored;
      std::filesystem::remove_all(Folder(), Ignored);
    });
    return Pattern;
  }());
  return Made;
}

void Check(bool Condition) {
  if (!Condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string Path = Folder() + "/program";
  FILE* Out = std::fopen(Path.c_str(), "wb");
  if (!Out) std::abort();
  if (Size && std::fwrite(Data, 1, Size, Out) != Size) std::abort();
  std::fclose(Out);

  TVersionInfo Info(Path);
  for (int I = -1; I <= VersionItemCount; ++I) {
    const std::string Text = Info.GetItemText(I);
    Check(Text.find('\0') == std::string::npos);
    Check(Info.Valid() || Text.empty());
    Check((I >= 0 && I < VersionItemCount) || Text.empty());
  }

  // The block reader on its own: no valid ELF file is needed to reach it.
  const char* Block = reinterpret_cast<const char*>(Data);
  for (const char* Key : {"\\VarFileInfo\\Translation", "\\StringFileInfo\\0809FDE9\\FileVersion", ""}) {
    const char* Value = nullptr;
    size_t Length = 0;
    if (VerQueryValue(Block, Size, Key, Value, Length)) {
      Check(Value >= Block && Value + Length < Block + Size);
      Check(Value[Length] == '\0');
    }
  }
  return 0;
}
