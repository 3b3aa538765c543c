// tobrinel-book as a person types it at a shell: command lines, what they
// answer, and what they leave on disk.
#include <gtest/gtest.h>

#include <cstdio>
#include <sys/wait.h>

#include "StoreTestUtil.h"

namespace {

struct TRun {
  int Status;
  std::string Out;
  std::string Err;
};

// Runs a bash script with $T the tool and $D the test's folder.
TRun Script(const std::string& Text, const TTempDir& Dir) {
  WriteBytes(Dir / "script", "T=" + std::string(TOBRINEL_BOOK_TOOL) + "\nD=" + Dir.Path + "\ncd $D\n" + Text);
  FILE* Pipe = popen(("bash " + Dir / "script" + " 2>" + Dir / "err").c_str(), "r");
  std::string Out;
  char Buffer[4096];
  for (size_t N; (N = fread(Buffer, 1, sizeof Buffer, Pipe)) > 0;) Out.append(Buffer, N);
  int Status = pclose(Pipe);
  return {WIFEXITED(Status) ? WEXITSTATUS(Status) : -1, Out, ReadBytes(Dir / "err")};
}

}  // namespace

TEST(ShellSlips, EveryCommandAnswersPlainlyAndLosesNothing) {
  const std::string Long(60, 'x');
  const struct {
    const char* Name;
    std::string Script;
    int Status;
    std::string Out, Err;
  } Cases[] = {
      {"create refuses a file that is not a book, and leaves it as it was",
       "echo report > report.txt\n$T create report.txt < in.jsonl; s=$?; cat report.txt; ls; exit $s", 1,
       "report\nb.ABK\nbook.vcf\nerr\nin.jsonl\nreport.txt\nscript\n",
       "tobrinel-book: report.txt is not an address book; nothing was written to it\n"},
      {"create names each line whose values were cut",
       "printf '{\"Surname\":\"a\"}\\n{\"Surname\":\"" + Long + "\",\"BusExtn\":\"" + Long +
           "\"}\\n' | $T create c.ABK\n"
           "s=$?; $T dump c.ABK | cut -c1-70; exit $s",
       0,
       "{\"Surname\":\"a\",\"FirstName\":\"\",\"HomeTelephone\":\"\",\"BusTelephone\":\"\",\"Bu\n"
       "{\"Surname\":\"" +
           std::string(50, 'x') + "\",\"First\n",
       "tobrinel-book: line 2: 2 values were longer than their fields hold and were cut\n"},
      {"- is standard output for create and export, standard input for dump",
       "$T create - < in.jsonl | $T dump - | cut -c1-22; $T export --format csv b.ABK - | wc -l; ls", 0,
       "{\"Surname\":\"Lee\",\"Firs\n{\"Surname\":\"Roe\",\"Firs\n3\nb.ABK\nbook.vcf\nerr\nin.jsonl\nscript\n", ""},
      {"- is standard input for the contacts of import, and a book of import on standard input goes to standard "
       "output",
       "$T import --format vcard n.ABK - < book.vcf && $T dump n.ABK | cut -c1-20\n"
       "$T import --format vcard - book.vcf < b.ABK > o.ABK && $T dump o.ABK | wc -l",
       0, "1 entry imported into n.ABK\n{\"Surname\":\"Zed\",\"Fi\n3\n", "1 entry imported into standard output\n"},
      {"standard input cannot be the book and the contacts at once", "$T import --format vcard -", 2, "",
       "tobrinel-book: standard input cannot hold both the book and the contacts\nusage:\n"
       "       tobrinel-book export --format vcard|csv BOOK [OUT]\n"
       "       tobrinel-book import --format vcard|csv BOOK [IN]\n"
       "       (a file named - is standard input or standard output)\n"},
      {"cards that can be read come in; each one skipped is named, and the exit status says so",
       "printf 'BEGIN:VCARD\\nN:Ok\\nEND:VCARD\\nstray text\\nBEGIN:VCARD\\nN:Bad\\nNOTE;ENCODING=B:!!\\nEND:VCARD\\n"
       "BEGIN:VCARD\\nN:Last\\n' > p.vcf\n$T import --format vcard p.ABK p.vcf; s=$?; $T dump p.ABK | cut -c1-16; exit "
       "$s",
       1, "1 entry imported into p.ABK\n{\"Surname\":\"Ok\",\n",
       "tobrinel-book: line 4: a card must begin with BEGIN:VCARD; skipped\n"
       "tobrinel-book: line 7: the value of NOTE is not valid base64; skipped\n"
       "tobrinel-book: line 9: the card that begins here has no END:VCARD; skipped\n"},
      {"a value that would be a spreadsheet formula is exported behind an apostrophe and imported without it",
       "printf '{\"Surname\":\"=HYPERLINK(1)\",\"HomeTelephone\":\"+44 1\",\"Notes\":[\"@x\"]}\\n' | $T create f.ABK\n"
       "$T export --format csv f.ABK f.csv && sed -n 2p f.csv && $T import --format csv g.ABK f.csv >/dev/null &&"
       " cmp <($T dump f.ABK) <($T dump g.ABK) && echo same",
       0, "\"'=HYPERLINK(1)\",\"\",\"+44 1\",\"\",\"\",\"\",\"\",\"\",\"\",\"0\",\"'@x\"\r\nsame\n", ""},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TTempDir Dir;
    WriteBytes(Dir / "in.jsonl", "{\"Surname\":\"Roe\"}\n{\"Surname\":\"Lee\"}\n");
    WriteBytes(Dir / "book.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Zed;;;;\r\nEND:VCARD\r\n");
    ASSERT_EQ(Script("$T create b.ABK < in.jsonl", Dir).Status, 0);
    TRun Run = Script(Case.Script, Dir);
    EXPECT_EQ(Run.Status, Case.Status);
    EXPECT_EQ(Run.Out, Case.Out);
    EXPECT_EQ(Run.Err, Case.Err);
  }
}
