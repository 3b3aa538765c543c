#include <gtest/gtest.h>

#include <cstdio>
#include <sys/wait.h>

#include "StoreTestUtil.h"

namespace {

struct TRun {
  int Status;
  std::string Out;
};

// Runs the tool with a shell redirection, capturing standard output and error.
TRun Tool(const std::string& Arguments, const TTempDir& Dir) {
  std::string Command = std::string(TOBRINEL_BOOK_TOOL) + " " + Arguments + " 2>" + (Dir / "err");
  FILE* Pipe = popen(Command.c_str(), "r");
  std::string Out;
  char Buffer[4096];
  size_t N;
  while ((N = fread(Buffer, 1, sizeof Buffer, Pipe)) > 0) Out.append(Buffer, N);
  int Status = pclose(Pipe);
  return {WIFEXITED(Status) ? WEXITSTATUS(Status) : -1, Out};
}

}  // namespace

TEST(BookTool, CreateThenDumpGivesTheEntriesBackInNameOrder) {
  TTempDir Dir;
  WriteBytes(Dir / "in.jsonl",
             "{\"Surname\":\"Smith\",\"FirstName\":\"John\",\"HomeTelephone\":\"0113\","
             "\"BusExtn\":\"123456789012\",\"HomeAddress\":[\"1 Hill Rd\",\"\"],\"Notes\":[\"tab\\there\"],"
             "\"TabPage\":2}\n"
             "\n"
             "{\"Surname\":\"Adams\",\"FirstName\":\"Z\\u00f6e\"}\n");
  TRun Create = Tool("create " + Dir / "b.ABK" + " <" + Dir / "in.jsonl", Dir);
  ASSERT_EQ(Create.Status, 0) << ReadBytes(Dir / "err");
  TRun Dump = Tool("dump " + Dir / "b.ABK", Dir);
  ASSERT_EQ(Dump.Status, 0) << ReadBytes(Dir / "err");
  EXPECT_EQ(Dump.Out,
            "{\"Surname\":\"Adams\",\"FirstName\":\"Z\xC3\xB6" "e\",\"HomeTelephone\":\"\","
            "\"BusTelephone\":\"\",\"BusExtn\":\"\",\"BusFacsimile\":\"\",\"BusMobile\":\"\","
            "\"HomeAddress\":[],\"BusAddress\":[],\"Notes\":[],\"TabPage\":0}\n"
            "{\"Surname\":\"Smith\",\"FirstName\":\"John\",\"HomeTelephone\":\"0113\","
            "\"BusTelephone\":\"\",\"BusExtn\":\"1234567890\",\"BusFacsimile\":\"\",\"BusMobile\":\"\","
            "\"HomeAddress\":[\"1 Hill Rd\",\"\"],\"BusAddress\":[],\"Notes\":[\"tab\\there\"],"
            "\"TabPage\":2}\n");

  // Creating again keeps the previous book in the backup copy.
  std::string Previous = ReadBytes(Dir / "b.ABK");
  WriteBytes(Dir / "one.jsonl", "{\"Surname\":\"Solo\"}\n");
  ASSERT_EQ(Tool("create " + Dir / "b.ABK" + " <" + Dir / "one.jsonl", Dir).Status, 0);
  EXPECT_EQ(ReadBytes(Dir / "b.~abk"), Previous);
}

TEST(BookTool, BadInputAndUsageGiveTheirExitStatus) {
  TTempDir Dir;
  EXPECT_EQ(Tool("", Dir).Status, 2);
  EXPECT_EQ(Tool("list " + Dir / "b.ABK", Dir).Status, 2);

  TRun Missing = Tool("dump " + Dir / "absent.ABK", Dir);
  EXPECT_EQ(Missing.Status, 1);
  EXPECT_NE(ReadBytes(Dir / "err").find("No such file"), std::string::npos);

  for (const char* Bad : {"{\"Surname\":1}", "{\"Surname\":\"x\"", "{\"Nickname\":\"x\"}",
                          "{\"TabPage\":3}", "[]", "{\"Surname\":\"\\ud800\"}"}) {
    SCOPED_TRACE(Bad);
    WriteBytes(Dir / "bad.jsonl", std::string("{\"Surname\":\"ok\"}\n") + Bad + "\n");
    TRun Run = Tool("create " + Dir / "bad.ABK" + " <" + Dir / "bad.jsonl", Dir);
    EXPECT_EQ(Run.Status, 1);
    EXPECT_NE(ReadBytes(Dir / "err").find("line 2"), std::string::npos) << ReadBytes(Dir / "err");
    EXPECT_FALSE(std::filesystem::exists(Dir / "bad.ABK"));
  }
}

TEST(BookTool, DamagedAndOlderBooksAreDumpedAsTheProgramReadsThem) {
  TTempDir Dir;
  WriteBytes(Dir / "in.jsonl", "{\"Surname\":\"Ann\"}\n{\"Surname\":\"Bob\"}\n");
  ASSERT_EQ(Tool("create " + Dir / "d.ABK" + " <" + Dir / "in.jsonl", Dir).Status, 0);
  std::string Bytes = ReadBytes(Dir / "d.ABK");
  WriteBytes(Dir / "d.ABK", Bytes.substr(0, Bytes.size() - 3));
  TRun Damaged = Tool("dump " + Dir / "d.ABK", Dir);
  EXPECT_EQ(Damaged.Status, 1);
  EXPECT_NE(Damaged.Out.find("\"Ann\""), std::string::npos);
  EXPECT_EQ(Damaged.Out.find("\"Bob\""), std::string::npos);
  EXPECT_NE(ReadBytes(Dir / "err").find("1 entries could be read"), std::string::npos);

  WriteBytes(Dir / "old.ABK", "[Items]\r\nNumberOfItems=1\r\n1=P\r\n[P]\r\nSurname=Old\r\n");
  TRun Old = Tool("dump " + Dir / "old.ABK", Dir);
  EXPECT_EQ(Old.Status, 0);
  EXPECT_NE(Old.Out.find("\"Surname\":\"Old\""), std::string::npos);
  EXPECT_NE(ReadBytes(Dir / "err").find("was saved by an older version"), std::string::npos);
}
