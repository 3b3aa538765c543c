// The version items read back from program files, sound and damaged.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

#include "ElfBuilder.h"
#include "Verinfo.h"

namespace {

// clang-format off
const char* const Expected[VersionItemCount] = {
    "Company",      "Comments",  "Description", "1.2.3.4",        "Internal",
    "Copyright ©",  "Trademark", "Original",    "Product version", "Product name"};
// clang-format on
// The keys as the program file stores them, written out here so that a key
// read under the wrong index is caught.
const char* const Keys[VersionItemCount] = {
    // clang-format off
    "\\CompanyName",      "\\Comments",        "\\FileDescription",  "\\FileVersion",
    "\\InternalName",     "\\LegalCopyright",  "\\LegalTrademarks",  "\\OriginalFilename",
    "\\ProductVersion",   "\\ProductName"};
// clang-format on

std::vector<std::pair<std::string, std::string>> ItemPairs(const std::string& Translation,
                                                           const std::string& PathCode) {
  std::vector<std::pair<std::string, std::string>> Pairs{{"\\VarFileInfo\\Translation", Translation}};
  for (int I = 0; I < VersionItemCount; ++I) Pairs.emplace_back("\\StringFileInfo\\" + PathCode + Keys[I], Expected[I]);
  return Pairs;
}

TElfFile ProgramWith(const std::string& Block, bool Wide = true, bool BigEndian = false) {
  return BuildElf({{".text", std::string(40, '\x90')}, {".tobrinel.version", Block}, {".data", "xyz"}}, Wide,
                  BigEndian);
}

class TScratch {
public:
  TScratch() {
    std::string Pattern = (std::filesystem::temp_directory_path() / "tobrinel-verinfo-XXXXXX").string();
    Folder = ::mkdtemp(Pattern.data());
  }
  ~TScratch() { std::filesystem::remove_all(Folder); }
  std::string Write(const std::string& Bytes, const std::string& Name = "program") const {
    const std::string Path = Folder + "/" + Name;
    std::ofstream(Path, std::ios::binary | std::ios::trunc) << Bytes;
    return Path;
  }
  std::string Folder;
};

std::vector<std::string> AllItems(const std::string& Path) {
  TVersionInfo Info(Path);
  std::vector<std::string> Items;
  for (int I = 0; I < VersionItemCount; ++I) Items.push_back(Info.GetItemText(I));
  return Items;
}

}  // namespace

TEST(VersionInfo, ItemsByIndexInEveryClassAndByteOrder) {
  TScratch Scratch;
  const std::string Block = VersionBlock(ItemPairs("080904E4", "080904E4"));
  for (bool Wide : {true, false}) {
    for (bool BigEndian : {false, true}) {
      SCOPED_TRACE(std::string(Wide ? "64" : "32") + (BigEndian ? " big" : " little"));
      TVersionInfo Info(Scratch.Write(ProgramWith(Block, Wide, BigEndian).Bytes));
      ASSERT_TRUE(Info.Valid());
      for (int I = 0; I < VersionItemCount; ++I) EXPECT_EQ(Info.GetItemText(I), Expected[I]) << I;
      EXPECT_EQ(Info.GetItemText(-1), "");
      EXPECT_EQ(Info.GetItemText(VersionItemCount), "");
    }
  }
}

TEST(VersionInfo, FirstTranslationOnlyAndMissingItems) {
  TScratch Scratch;
  // Lower-case digits in the table still give the upper-case path; a second
  // translation is never looked at.
  auto Pairs = ItemPairs("080904e4 040904B0", "080904E4");
  Pairs.erase(Pairs.begin() + 1 + 6);  // no trademarks
  Pairs.emplace_back("\\StringFileInfo\\040904B0\\LegalTrademarks", "other language");
  const auto Items = AllItems(Scratch.Write(ProgramWith(VersionBlock(Pairs)).Bytes));
  EXPECT_EQ(Items[6], "");
  EXPECT_EQ(Items[3], "1.2.3.4");
  EXPECT_EQ(Items[9], "Product name");
}

TEST(VersionInfo, DamagedOrForeignFilesGiveEmptyItems) {
  TScratch Scratch;
  const std::string Good = VersionBlock(ItemPairs("080904E4", "080904E4"));
  auto Damaged = [&](std::function<void(TElfFile&)> Harm) {
    TElfFile Elf = ProgramWith(Good);
    Harm(Elf);
    return Scratch.Write(Elf.Bytes);
  };
  const std::string Fifo = Scratch.Folder + "/fifo";
  ASSERT_EQ(::mkfifo(Fifo.c_str(), 0600), 0);
  const std::vector<std::pair<std::string, std::string>> Cases = {
      {"no such file", Scratch.Folder + "/missing"},
      {"a folder", Scratch.Folder},
      {"a named pipe", Fifo},
      {"empty", Scratch.Write("")},
      {"text", Scratch.Write("hello, world\n")},
      {"just the ELF mark", Scratch.Write("\x7f"
                                          "ELF\x02\x01\x01")},
      {"no version section", Scratch.Write(BuildElf({{".text", "abc"}}).Bytes)},
      {"section takes no room", Damaged([](TElfFile& E) { E.PutSection(2, "type", 8); })},
      {"section past the end", Damaged([](TElfFile& E) { E.PutSection(2, "offset", E.Bytes.size() - 10); })},
      {"section size wraps", Damaged([](TElfFile& E) { E.PutSection(2, "size", ~0ull); })},
      {"section over the limit", Damaged([](TElfFile& E) { E.PutSection(2, "size", 64 * 1024 + 1); })},
      {"table past the end", Damaged([](TElfFile& E) { E.PutHeader("count", 0xfff0); })},
      {"entries too small", Damaged([](TElfFile& E) { E.PutHeader("entsize", 8); })},
      {"name table index out of range", Damaged([](TElfFile& E) { E.PutHeader("names", 9); })},
      {"name past the name table", Damaged([](TElfFile& E) { E.PutSection(2, "name", 100000); })},
      {"huge count in section zero", Damaged([](TElfFile& E) {
         E.PutHeader("count", 0);
         E.PutSection(0, "size", ~0ull / 2);
       })},
      {"cut short", Scratch.Write(ProgramWith(Good).Bytes.substr(0, 90))},
      {"block without its mark", Scratch.Write(ProgramWith("TOBRINEL-VERSION-2" + Good.substr(18)).Bytes)},
      {"no translation",
       Scratch.Write(ProgramWith(VersionBlock({{"\\StringFileInfo\\080904E4\\FileVersion", "1"}})).Bytes)},
      {"translation not hexadecimal",
       Scratch.Write(ProgramWith(VersionBlock(ItemPairs("08O904E4", "080904E4"))).Bytes)},
      {"translation too short", Scratch.Write(ProgramWith(VersionBlock(ItemPairs("0809", "0809"))).Bytes)},
      {"translation run on", Scratch.Write(ProgramWith(VersionBlock(ItemPairs("080904E4X", "080904E4"))).Bytes)},
  };
  for (const auto& [Name, Path] : Cases) {
    SCOPED_TRACE(Name);
    TVersionInfo Info(Path);
    EXPECT_FALSE(Info.Valid());
    for (int I = 0; I < VersionItemCount; ++I) EXPECT_EQ(Info.GetItemText(I), "");
  }
}

TEST(VersionInfo, CopyrightTextIsCopyrightSpaceCompany) {
  TScratch Scratch;
  const std::vector<std::tuple<const char*, const char*, const char*>> Cases = {
      {"(c) 2026", "Firm", "(c) 2026 Firm"}, {"", "Firm", " Firm"}, {"(c) 2026", "", "(c) 2026 "}, {"", "", " "}};
  for (const auto& [Copyright, Company, Text] : Cases) {
    std::vector<std::pair<std::string, std::string>> Pairs{{"\\VarFileInfo\\Translation", "0809FDE9"},
                                                           {"\\StringFileInfo\\0809FDE9\\FileVersion", "7.0.0.0"}};
    if (*Copyright) Pairs.emplace_back("\\StringFileInfo\\0809FDE9\\LegalCopyright", Copyright);
    if (*Company) Pairs.emplace_back("\\StringFileInfo\\0809FDE9\\CompanyName", Company);
    ReadVersionTexts(Scratch.Write(ProgramWith(VersionBlock(Pairs)).Bytes));
    EXPECT_EQ(VersionText, "7.0.0.0");
    EXPECT_EQ(CopyrightText, Text);
  }
  ReadVersionTexts(Scratch.Folder + "/missing");
  EXPECT_EQ(VersionText, "");
  EXPECT_EQ(CopyrightText, " ");
}

TEST(VersionInfo, TheProgramCarriesTheBuildsItems) {
  TScratch Scratch;
  const std::string Stripped = Scratch.Folder + "/stripped";
  // Installing strips the program; the items must survive that.
  const std::string Command = "strip -o '" + Stripped + "' '" TOBRINEL_EXE "'";
  ASSERT_EQ(std::system(Command.c_str()), 0);
  for (const std::string& Program : {std::string(TOBRINEL_EXE), Stripped}) {
    SCOPED_TRACE(Program);
    TVersionInfo Info(Program);
    EXPECT_EQ(Info.GetItemText(3), TOBRINEL_FILE_VERSION);
    EXPECT_EQ(Info.GetItemText(3), "2.0.0.0");
    EXPECT_EQ(Info.GetItemText(5), TOBRINEL_COPYRIGHT);
    EXPECT_EQ(Info.GetItemText(9), "Tobrinel Address Manager");
    EXPECT_EQ(Info.GetItemText(8), TOBRINEL_PRODUCT_VERSION);
    EXPECT_EQ(Info.GetItemText(6), "");
  }
}
