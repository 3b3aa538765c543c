#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Days since 30 December 1899; the fraction is the time of day.
using TDateTime = double;

class TIniSection;  // one section: its name and its lines, held verbatim

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
  void Delete(int32_t Index);
  void Clear();
  // Case-insensitive name lookup starting at LastFound.
  int32_t IndexOf(const std::string& Name);

private:
  std::vector<std::unique_ptr<TIniSection>> Items;
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

  virtual std::string ReadString(const std::string& Section, const std::string& Key,
                                 const std::string& Default);
  virtual void WriteString(const std::string& Section, const std::string& Key,
                           const std::string& Value);
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
};

// Thrown for every file-system failure of the store; what() is the text shown
// to the user.
class EFileError : public std::exception {
public:
  explicit EFileError(std::string Message) : Text(std::move(Message)) {}
  const char* what() const noexcept override { return Text.c_str(); }

private:
  std::string Text;
};

// String utilities shared by the engine and the windows.
std::string PadWithZeros(const std::string& Text, int Width);
std::string TrimLeadingSpaces(const std::string& Text);
std::string TrimTrailingChar(const std::string& Text, char Character);
std::string TrimTrailingSpaces(const std::string& Text);
std::string TrimSpaces(const std::string& Text);
std::string CapitaliseWords(const std::string& Text);

// Date helpers for the day-count representation.
TDateTime EncodeDate(int Year, int Month, int Day);  // throws std::invalid_argument when invalid
void DecodeDate(TDateTime Value, int& Year, int& Month, int& Day);
TDateTime EncodeTime(int Hour, int Minute, int Second, int Millisecond);  // throws when invalid
void DecodeTime(TDateTime Value, int& Hour, int& Minute, int& Second, int& Millisecond);

// The settings file: the executable's path with ".INI" appended, or
// $XDG_CONFIG_HOME/tobrinel/tobrinel.INI when the executable's folder is not
// writable.
std::string GetSettingsFileName();
// The executable's full path (from /proc/self/exe).
std::string GetExecutablePath();
