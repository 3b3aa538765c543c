// The INI engine under the two loads it carries: an older-format address
// book read entry by entry, and the settings file opened by each window.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "IniFile.h"

namespace {

// A folder of the run's own, removed at exit.
struct TTempFolder {
  TTempFolder() {
    std::string Pattern = (std::filesystem::temp_directory_path() / "tobrinel-bench-ini-XXXXXX").string();
    Path = ::mkdtemp(Pattern.data());
  }
  ~TTempFolder() { std::filesystem::remove_all(Path); }
  std::string Path;
};

std::string TempFolder() {
  static TTempFolder Folder;
  return Folder.Path;
}

// An older-format book: "Items" names each entry's section; each entry
// section holds the fields the book reader asks for.
std::string OlderBook(int Entries) {
  std::string Path = TempFolder() + "/older-" + std::to_string(Entries) + ".abk";
  if (std::filesystem::exists(Path)) return Path;
  std::string Text = "[Items]\r\nNumberOfItems=" + std::to_string(Entries) + "\r\n";
  for (int I = 1; I <= Entries; ++I) Text += std::to_string(I) + "=Entry " + std::to_string(I) + "\r\n";
  Text += "\r\n";
  for (int I = 1; I <= Entries; ++I) {
    std::string N = std::to_string(I);
    Text += "[Entry " + N + "]\r\n";
    Text += "Surname=Surname" + N + "\r\nFirstName=First" + N + "\r\n";
    Text += "HomeTelephone=0123 456" + N + "\r\nBusTelephone=0987 654" + N + "\r\n";
    Text += "BusExtn=" + N + "\r\nBusFacsimile=0111 222" + N + "\r\nBusMobile=07700 900" + N + "\r\n";
    Text += "HomeAddressLines=2\r\nHomeAddress_1=" + N + " High Street\r\nHomeAddress_2=Townsville\r\n";
    Text += "BusAddressLines=1\r\nBusAddress_1=Unit " + N + ", Trading Estate\r\n";
    Text += "NotesLines=1\r\nNotes_1=Met at the conference\r\nTabPage=1\r\n\r\n";
  }
  std::ofstream(Path, std::ios::binary) << Text;
  return Path;
}

void BM_OlderBookAlternatingReads(benchmark::State& State) {
  const int Entries = static_cast<int>(State.range(0));
  std::string Path = OlderBook(Entries);
  for (auto _ : State) {
    TSectionedIniFile Ini(Path);
    int32_t Count = Ini.ReadInteger("Items", "NumberOfItems", 0);
    size_t Bytes = 0;
    for (int32_t I = 1; I <= Count; ++I) {
      std::string Section = Ini.ReadString("Items", std::to_string(I), "");
      if (Section.empty()) continue;
      for (const char* Key :
           {"Surname", "FirstName", "HomeTelephone", "BusTelephone", "BusExtn", "BusFacsimile", "BusMobile"})
        Bytes += Ini.ReadString(Section, Key, "").size();
      for (const char* List : {"HomeAddress", "BusAddress", "Notes"}) {
        int32_t Lines = Ini.ReadInteger(Section, std::string(List) + "Lines", 0);
        for (int32_t L = 1; L <= Lines; ++L)
          Bytes += Ini.ReadString(Section, std::string(List) + "_" + std::to_string(L), "").size();
      }
      Bytes += static_cast<size_t>(Ini.ReadInteger(Section, "TabPage", 0));
    }
    benchmark::DoNotOptimize(Bytes);
  }
  State.counters["entries"] = Entries;
}
BENCHMARK(BM_OlderBookAlternatingReads)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_OlderBookLoadOnly(benchmark::State& State) {
  std::string Path = OlderBook(static_cast<int>(State.range(0)));
  for (auto _ : State) {
    TSectionedIniFile Ini(Path);
    benchmark::DoNotOptimize(Ini.Sections.Count());
  }
}
BENCHMARK(BM_OlderBookLoadOnly)->Arg(10000)->Unit(benchmark::kMillisecond);

std::string SettingsFile() {
  std::string Path = TempFolder() + "/settings.INI";
  std::ofstream(Path, std::ios::binary)
      << "[FormPosition]\r\nTop=52\r\nLeft=21\r\nGridCol_1=99\r\nGridCol_2=99\r\n\r\n"
         "[Startup]\r\nLoadFile=/home/user/Documents/friends.abk\r\nShowSplash=1\r\n\r\n"
         "[MODEM]\r\nPort=1\r\nDetected=0\r\nToneDial=1\r\nDialExt=0\r\nSilentDial=0\r\n\r\n"
         "[OutSideLine]\r\nDialForFirst=0\r\nDialThisFor=9\r\nPauseChar=W\r\n\r\n"
         "[Defaults]\r\nTab=0\r\n\r\n";
  return Path;
}

// What a window does on creation and destruction when nothing changed:
// no disk write.
void BM_SettingsReadAndWriteBackUnchanged(benchmark::State& State) {
  std::string Path = SettingsFile();
  for (auto _ : State) {
    TSectionedIniFile Ini(Path);
    int32_t Top = Ini.ReadInteger("FormPosition", "Top", 52);
    int32_t Left = Ini.ReadInteger("FormPosition", "Left", 21);
    std::string Book = Ini.ReadString("Startup", "LoadFile", "");
    bool Tone = Ini.ReadBool("MODEM", "ToneDial", true);
    int32_t Port = Ini.ReadInteger("MODEM", "Port", -1);
    std::string Pause = Ini.ReadString("OutSideLine", "PauseChar", "W");
    Ini.WriteInteger("FormPosition", "Top", Top);
    Ini.WriteInteger("FormPosition", "Left", Left);
    Ini.WriteString("Startup", "LoadFile", Book);
    Ini.WriteBool("MODEM", "ToneDial", Tone);
    Ini.WriteInteger("MODEM", "Port", Port);
    Ini.WriteString("OutSideLine", "PauseChar", Pause);
    Ini.WriteInteger("Defaults", "Tab", Ini.ReadInteger("Defaults", "Tab", 0));
  }
}
BENCHMARK(BM_SettingsReadAndWriteBackUnchanged)->Unit(benchmark::kMicrosecond);

// A changed value: the whole file is replaced (temporary file, fsync, rename).
void BM_SettingsChangeAndSave(benchmark::State& State) {
  std::string Path = SettingsFile();
  int32_t Top = 0;
  for (auto _ : State) {
    TSectionedIniFile Ini(Path);
    Ini.WriteInteger("FormPosition", "Top", ++Top);
    Ini.UpdateFile();
  }
}
BENCHMARK(BM_SettingsChangeAndSave)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
