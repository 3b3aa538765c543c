#pragma once

// What every command of tobrinel-book shares: how its messages begin, and
// "-" for standard input or standard output wherever a file is named.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <unistd.h>

#include <fcntl.h>

#include "Adrbook.h"
#include "FileSystem.h"

// Standard error, with the tool's name in front.
inline std::ostream& Complain() { return std::cerr << "tobrinel-book: "; }

inline bool IsStandardStream(const std::string& Name) { return Name == "-"; }

// Thrown by a stream of the book that finds an entry before the one ahead of
// it in the list: what was written from it is taken back, and the work begun
// again from the book held whole.
struct TOutOfListOrder {};

// A book read from standard input or written to standard output: the book
// code reads and writes only regular files, so it lives in a folder of its
// own for the run, which goes with everything in it (the backup included).
class TScratchBook {
public:
  TScratchBook() {
    const char* Base = std::getenv("TMPDIR");
    std::string Pattern = std::string(Base && *Base ? Base : "/tmp") + "/tobrinel-book-XXXXXX";
    if (!::mkdtemp(Pattern.data()))
      throw EFileError("Cannot create a scratch folder in " + Pattern.substr(0, Pattern.rfind('/')) + ": " +
                       SystemText(errno));
    Folder = Pattern;
    File = Folder + "/book.ABK";
  }
  ~TScratchBook() {
    std::error_code Ignored;
    std::filesystem::remove_all(Folder, Ignored);
  }
  TScratchBook(const TScratchBook&) = delete;
  TScratchBook& operator=(const TScratchBook&) = delete;

  const std::string& Path() const { return File; }

  // The book as standard input holds it. Throws EFileError.
  void FromStandardInput() {
    TFd Out(::open(File.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (Out.Fd < 0) throw EFileError("Cannot create file " + File + ": " + SystemText(errno));
    char Buffer[1 << 16];
    for (;;) {
      ssize_t N = ::read(STDIN_FILENO, Buffer, sizeof Buffer);
      if (N == 0) break;
      if (N < 0 && errno == EINTR) continue;
      if (N < 0) throw EFileError("Cannot read standard input: " + SystemText(errno));
      if (!WriteAll(Out.Fd, Buffer, size_t(N)))
        throw EFileError("Cannot write file " + File + ": " + SystemText(errno));
    }
  }

  // The book written to the scratch file, onto standard output. Throws EFileError.
  void ToStandardOutput() const {
    TFd In(::open(File.c_str(), O_RDONLY | O_CLOEXEC));
    if (In.Fd < 0) throw EFileError("Cannot open file " + File + ": " + SystemText(errno));
    char Buffer[1 << 16];
    for (;;) {
      ssize_t N = ::read(In.Fd, Buffer, sizeof Buffer);
      if (N == 0) return;
      if (N < 0 && errno == EINTR) continue;
      if (N < 0 || !WriteAll(STDOUT_FILENO, Buffer, size_t(N)))
        throw EFileError("Cannot write the output: " + SystemText(errno));
    }
  }

  // A message about the scratch file, as the person knows it.
  std::string Named(std::string Text) const {
    for (size_t At; (At = Text.find(File)) != std::string::npos;) Text.replace(At, File.size(), "standard input");
    return Text;
  }

private:
  std::string Folder, File;
};
