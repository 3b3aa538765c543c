#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Writes small ELF files with the sections a test asks for, in either class
// and byte order: the header, the sections' data, the name table (last
// section), then the section header table.
struct TElfSection {
  std::string Name;
  std::string Data;
  uint32_t Type = 1;  // SHT_PROGBITS
};

struct TElfFile {
  std::string Bytes;
  bool Wide = true;
  bool BigEndian = false;
  uint64_t TableOffset = 0;

  size_t EntrySize() const { return Wide ? 64 : 40; }
  void Put(uint64_t Offset, uint64_t Value, int Width) {
    for (int I = 0; I < Width; ++I) {
      const int Shift = BigEndian ? (Width - 1 - I) * 8 : I * 8;
      Bytes[Offset + I] = static_cast<char>((Value >> Shift) & 0xff);
    }
  }
  // Fields of section Index's header.
  void PutSection(int Index, const char* Field, uint64_t Value) {
    const uint64_t At = TableOffset + Index * EntrySize();
    const std::string F = Field;
    if (F == "name") Put(At, Value, 4);
    else if (F == "type") Put(At + 4, Value, 4);
    else if (F == "offset") Put(At + (Wide ? 24 : 16), Value, Wide ? 8 : 4);
    else if (F == "size") Put(At + (Wide ? 32 : 20), Value, Wide ? 8 : 4);
    else if (F == "link") Put(At + (Wide ? 40 : 24), Value, 4);
  }
  // The header's section table fields: "entsize", "count", "names".
  void PutHeader(const char* Field, uint64_t Value) {
    const std::string F = Field;
    const uint64_t Base = Wide ? 58 : 46;
    Put(Base + (F == "entsize" ? 0 : F == "count" ? 2 : 4), Value, 2);
  }
};

inline TElfFile BuildElf(const std::vector<TElfSection>& Sections, bool Wide = true, bool BigEndian = false) {
  TElfFile Elf;
  Elf.Wide = Wide;
  Elf.BigEndian = BigEndian;
  const size_t HeaderSize = Wide ? 64 : 52;
  Elf.Bytes.assign(HeaderSize, '\0');
  Elf.Bytes.replace(0, 4,
                    "\x7f"
                    "ELF");
  Elf.Bytes[4] = Wide ? 2 : 1;
  Elf.Bytes[5] = BigEndian ? 2 : 1;
  Elf.Bytes[6] = 1;

  std::string Names(1, '\0');
  std::vector<std::pair<uint64_t, uint64_t>> Places;  // offset, size of each section's data
  std::vector<uint32_t> NameOffsets;
  for (const auto& Section : Sections) {
    NameOffsets.push_back(static_cast<uint32_t>(Names.size()));
    Names += Section.Name + '\0';
    Places.emplace_back(Elf.Bytes.size(), Section.Data.size());
    Elf.Bytes += Section.Data;
  }
  const uint32_t NamesName = static_cast<uint32_t>(Names.size());
  Names += std::string(".shstrtab") + '\0';
  const uint64_t NamesOffset = Elf.Bytes.size();
  Elf.Bytes += Names;

  const uint64_t Count = Sections.size() + 2;  // the null section and the names
  Elf.TableOffset = Elf.Bytes.size();
  Elf.Bytes.append(Count * Elf.EntrySize(), '\0');
  Elf.Put(Wide ? 40 : 32, Elf.TableOffset, Wide ? 8 : 4);
  Elf.PutHeader("entsize", Elf.EntrySize());
  Elf.PutHeader("count", Count);
  Elf.PutHeader("names", Count - 1);
  for (size_t I = 0; I < Sections.size(); ++I) {
    const int Index = static_cast<int>(I) + 1;
    Elf.PutSection(Index, "name", NameOffsets[I]);
    Elf.PutSection(Index, "type", Sections[I].Type);
    Elf.PutSection(Index, "offset", Places[I].first);
    Elf.PutSection(Index, "size", Places[I].second);
  }
  const int Last = static_cast<int>(Count) - 1;
  Elf.PutSection(Last, "name", NamesName);
  Elf.PutSection(Last, "type", 3);  // SHT_STRTAB
  Elf.PutSection(Last, "offset", NamesOffset);
  Elf.PutSection(Last, "size", Names.size());
  return Elf;
}

// A version block of (path, value) pairs, as the build writes one.
inline std::string VersionBlock(const std::vector<std::pair<std::string, std::string>>& Pairs) {
  std::string Block = std::string("TOBRINEL-VERSION-1") + '\0';
  for (const auto& [Path, Value] : Pairs) Block += Path + '\0' + Value + '\0';
  return Block + '\0';
}
