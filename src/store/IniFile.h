#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "DateTime.h"
#include "FileSystem.h"  // EFileError
#include "Letters.h"     // section names and keys compare by FoldCase
// Once part of this unit; kept here so that older includers still compile.
#include "SettingsLocation.h"
#include "TextUtils.h"

// One section: its name as written and its lines, held verbatim and packed
// one after another in one text, so that an older book of a hundred thousand
// entries stays small. A large section keeps a lazily built index from folded
// key to its first line; a small one is searched line by line.
class TIniSection {
public:
  explicit TIniSection(std::string Name);

  const std::string& Name() const { return SectionName; }
  const std::string& FoldedName() const { return Folded; }
  int32_t Count() const { return static_cast<int32_t>(Starts.size()) - 1; }
  // Index from 0 to Count() - 1.
  std::string_view Line(int32_t Index) const;
  std::vector<std::string> Lines() const;

  void Add(std::string_view Line);
  void Replace(int32_t Index, std::string_view Line);
  void Delete(int32_t Index);
  void Clear();
  // Room for that many more lines of that many bytes in all.
  void Reserve(size_t Lines, size_t Bytes);
  // Index of the first line whose key folds to FoldedKey, or -1.
  int32_t IndexOfKey(const std::string& FoldedKey) const;

private:
  void BuildIndex() const;

  std::string SectionName;
  std::string Folded;
  std::string Text;                 // the lines, one after another
  std::vector<uint32_t> Starts{0};  // where each line starts, then the end
  mutable std::unordered_map<std::string, int32_t> KeyIndex;
  mutable bool IndexValid = false;
};

// The engine's list of sections, in file order.
class TIniSectionList {
public:
  TIniSectionList();
  ~TIniSectionList();

  int32_t LastFound = 0;

  int32_t Count() const;
  const std::string& Name(int32_t Index) const;
  TIniSection& Section(int32_t Index);
  const TIniSection& Section(int32_t Index) const;
  int32_t Add(const std::string& Name);  // appends an empty section, returns its index
  // As Add, for many at once: the name index is built, sized, at the next
  // lookup rather than grown with each.
  int32_t AddUnindexed(const std::string& Name);
  // Moves every section of Other to the end of this list.
  void TakeOver(TIniSectionList& Other);
  void Delete(int32_t Index);
  void Clear();
  // Case-insensitive name lookup starting at LastFound.
  int32_t IndexOf(const std::string& Name);
  // First section named FoldedName at or after Start, wrapping to the
  // front; -1 when there is none. Leaves LastFound alone.
  int32_t Find(const std::string& FoldedName, int32_t Start) const;
  // Removes every later section whose name equals an earlier one without
  // regard to case; their lines are dropped.
  void RemoveDuplicates();
  // Whether two sections bear the same name.
  bool HasRepeatedNames() const;

private:
  void BuildIndex() const;

  std::vector<std::unique_ptr<TIniSection>> Items;
  // Folded name (held by its section) -> index of the first section bearing
  // it. Names that occur twice, which only loading and Add let in, are
  // searched for section by section instead.
  mutable std::unordered_map<std::string_view, int32_t> NameIndex;
  mutable bool Repeated = false;
  mutable bool IndexValid = true;
};

// A whole INI file held in memory; written back when changed.
class TSectionedIniFile {
public:
  explicit TSectionedIniFile(const std::string& Path);
  // Writes pending changes; a write error is swallowed here, so callers that
  // must know call UpdateFile() themselves first.
  virtual ~TSectionedIniFile();

  std::string FileName;
  bool Modified = false;
  TIniSectionList Sections;
  int32_t CurrentSection = 0;
  int32_t TextBufferSize = 16384;

  void SetFileName(const std::string& Path);

  virtual std::string ReadString(const std::string& Section, const std::string& Key, const std::string& Default);
  // Throws std::invalid_argument when the section, key or value holds a
  // carriage return or the end-of-file mark (code 26): such a line could not
  // be read back and would split or cut off the rest of the file.
  virtual void WriteString(const std::string& Section, const std::string& Key, const std::string& Value);
  virtual int32_t ReadInteger(const std::string& Section, const std::string& Key, int32_t Default);
  virtual void WriteInteger(const std::string& Section, const std::string& Key, int32_t Value);
  virtual TDateTime ReadDate(const std::string& Section, const std::string& Key, TDateTime Default);
  virtual void WriteDate(const std::string& Section, const std::string& Key, TDateTime Value);
  virtual TDateTime ReadTime(const std::string& Section, const std::string& Key, TDateTime Default);
  virtual void WriteTime(const std::string& Section, const std::string& Key, TDateTime Value);
  virtual bool ReadBool(const std::string& Section, const std::string& Key, bool Default);
  virtual void WriteBool(const std::string& Section, const std::string& Key, bool Value);
  virtual void ReadSection(const std::string& Section, std::vector<std::string>& Target);
  virtual void ReadSections(std::vector<std::string>& Target);
  virtual void ReadSectionValues(const std::string& Section, std::vector<std::string>& Target);
  virtual void EraseSection(const std::string& Section);
  virtual void DeleteKey(const std::string& Section, const std::string& Key);
  virtual void ReadAll(std::vector<std::string>& Target);
  // Throws EFileError with the system's text when the file cannot be written;
  // the file on disk is then left as it was.
  virtual void UpdateFile();
  virtual void LoadFromFile(const std::string& Path);

private:
  // Index of the section named Section, starting at CurrentSection; appends
  // it when Create is set. -1 when missing and not created.
  int32_t FindSection(const std::string& Section, bool Create);
};

// Whether the file's lines end with line feeds alone: it holds line feeds but
// no carriage return before its end-of-file mark. Reads from the start
// without moving the file's offset.
bool LineFeedsEndLines(int Fd);
