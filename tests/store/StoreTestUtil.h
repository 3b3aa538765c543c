#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <iterator>
#include <pwd.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Adrbook.h"
#include "NameOrder.h"

// A folder of its own for each test, removed afterwards.
class TTempDir {
public:
  TTempDir() {
    std::string Pattern = (std::filesystem::temp_directory_path() / "tobrinel-XXXXXX").string();
    Path = ::mkdtemp(Pattern.data());
  }
  ~TTempDir() {
    std::error_code Ignored;
    std::filesystem::permissions(Path, std::filesystem::perms::owner_all, Ignored);
    std::filesystem::remove_all(Path, Ignored);
  }
  std::string operator/(const std::string& Name) const { return Path + "/" + Name; }
  std::string Path;
};

inline std::string ReadBytes(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(In), {});
}

inline void WriteBytes(const std::string& Path, const std::string& Bytes) {
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  Out << Bytes;
}

inline TAddressItem* MakeItem(const std::string& Surname, const std::string& FirstName) {
  auto* Item = new TAddressItem;
  Item->Surname = Surname;
  Item->FirstName = FirstName;
  return Item;
}

// A book file in list order but for its last entry, Aaron, after Count
// entries with a note each: a reader that checks the order on the way finds
// it out only after pieces of its output are written.
inline void SaveLateUnorderedBook(const std::string& Path, int Count) {
  TAddressBook Late;
  for (int I = 0; I < Count; ++I) {
    TAddressItem* Item = MakeItem("Name" + std::to_string(10000 + I), "");
    Item->Notes.Add(std::string(200, 'n'));
    Late.Items->InsertAfter(Late.Items->Tail, Item);
  }
  Late.Items->InsertAfter(Late.Items->Tail, MakeItem("Aaron", ""));
  Late.FileName = Path;
  Late.SaveToFile();
}

inline TAddressItem* ItemAt(const TLinkList& List, int32_t Position) {
  return static_cast<TAddressItem*>(List.GetItem(Position));
}

// "Surname/FirstName" of every entry in list order, joined by "|".
inline std::string NamesOf(const TLinkList& List) {
  std::string Out;
  TListNode* Cursor;
  List.ResetCursor(Cursor);
  while (List.MoveNext(Cursor)) {
    auto* Item = static_cast<TAddressItem*>(Cursor);
    if (!Out.empty()) Out += "|";
    Out.append(Item->Surname.str()).append("/").append(Item->FirstName.str());
  }
  return Out;
}

// How a child process of RunInChild runs.
struct TChildLimits {
  // As a user without privileges: "nobody" when the tests run as the
  // superuser (as in CI), where permissions would not stop anything.
  bool NormalUser = false;
  unsigned Seconds = 0;             // ended by SIGALRM after this long
  rlim_t FileSize = RLIM_INFINITY;  // RLIMIT_FSIZE; SIGXFSZ left as it is
};

// Runs Body in a child process; its exit status, or -1 when the child did not
// exit by itself (a signal ended it). 100 means it could not become a normal user.
inline int RunInChild(const std::function<int()>& Body, TChildLimits Limits = {}) {
  pid_t Child = ::fork();
  if (Child < 0) return -2;
  if (Child == 0) {
    if (Limits.NormalUser && ::geteuid() == 0) {
      const passwd* Nobody = ::getpwnam("nobody");
      if (!Nobody || ::setgroups(0, nullptr) != 0 || ::setgid(Nobody->pw_gid) != 0 || ::setuid(Nobody->pw_uid) != 0)
        ::_exit(100);
    }
    if (Limits.Seconds) ::alarm(Limits.Seconds);
    if (Limits.FileSize != RLIM_INFINITY) {
      rlimit Limit{Limits.FileSize, Limits.FileSize};
      ::setrlimit(RLIMIT_FSIZE, &Limit);
    }
    ::_exit(Body());
  }
  int Status = 0;
  ::waitpid(Child, &Status, 0);
  return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

// Names in a folder other than the given ones (temporary files left behind).
inline std::string OtherFiles(const std::string& Folder, std::initializer_list<std::string> Expected) {
  std::string Others;
  for (const auto& Entry : std::filesystem::directory_iterator(Folder)) {
    std::string Name = Entry.path().filename().string();
    if (std::find(Expected.begin(), Expected.end(), Name) == Expected.end()) Others += Name + " ";
  }
  return Others;
}
