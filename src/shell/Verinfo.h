#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// The named string items a program file carries about itself. The build
// writes them into the program as an ELF section of its own (see
// VersionSectionName); TVersionInfo reads them back from any named file.
// A file without them, or with a damaged copy, reads as empty items.
class TVersionInfo {
public:
  explicit TVersionInfo(const std::string& FileName);
  TVersionInfo(const TVersionInfo&) = delete;
  TVersionInfo& operator=(const TVersionInfo&) = delete;

  // Index 0 to 9 as in VersionItemKeys; empty when there is no such item.
  std::string GetItemText(int Index) const;
  bool Valid() const { return FValid; }

private:
  int32_t FSize = 0;
  std::unique_ptr<char[]> FBlock;
  uint32_t FTranslation = 0;  // low 16 bits the language, high 16 the code page
  bool FValid = false;
};

// The item keys by index; note that the product version (8) comes before the
// product name (9).
inline constexpr int VersionItemCount = 10;
extern const char* const VersionItemKeys[VersionItemCount];

// Set once at start-up from the program's own file, shown by the splash and
// the About box.
extern std::string VersionText;
extern std::string CopyrightText;
void ReadVersionTexts(const std::string& ProgramFile);

// The pieces below stand for the system's version calls; the stored form is:
// the block opens with VersionBlockMagic (its zero included), then holds pairs
// of zero-terminated texts, a path and its value, up to an empty path or the
// block's end. The translation ("\VarFileInfo\Translation") is eight
// hexadecimal digits, the language then the code page.
inline constexpr const char VersionSectionName[] = ".tobrinel.version";
inline constexpr const char VersionBlockMagic[] = "TOBRINEL-VERSION-1";
// Blocks above this size are taken as damage rather than read.
inline constexpr int32_t VersionBlockLimit = 64 * 1024;

// The size of the file's version section, and its offset in Handle; 0 when
// the file has none or cannot be read as an ELF file.
int32_t GetFileVersionInfoSize(const std::string& FileName, uint64_t& Handle);
// Reads Size bytes at Handle into Buffer; false unless all of them came.
bool GetFileVersionInfo(const std::string& FileName, uint64_t Handle, int32_t Size, char* Buffer);
// Finds the value stored under Path; Value points into Block.
bool VerQueryValue(const char* Block, size_t BlockSize, const std::string& Path, const char*& Value, size_t& Length);
