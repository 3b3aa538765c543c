#pragma once

// File-system helpers shared by the book and the INI engine: reading only
// regular files, and replacing a file so that a failure at any point leaves
// the old content in place and no temporary file behind.

#include <exception>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

// Thrown for every file-system failure of the store; what() is the text shown
// to the user.
class EFileError : public std::exception {
public:
  explicit EFileError(std::string Message) : Text(std::move(Message)) {}
  const char* what() const noexcept override { return Text.c_str(); }

private:
  std::string Text;
};

// Opens Path for reading. Anything but a regular file (a folder, a named pipe,
// a device, a socket) is refused with EFileError "Cannot open file PATH: it is
// a named pipe, not a regular file", without blocking on it. Missing is
// reported with the system's text unless MissingIsNull, which returns -1.
int OpenRegularForReading(const std::string& Path, bool MissingIsNull = false);
// The same for an input that is only read from start to end: named pipes
// (waiting for their writer, as cat does) and character devices are read too.
int OpenForReading(const std::string& Path);

// ", not a regular file" text for a file of the given type ("it is a folder").
std::string NotRegularText(mode_t Mode);

// Writes all of Data; false with errno set on failure.
bool WriteAll(int Fd, const char* Data, size_t Size);

// A file beyond the process's file-size limit raises SIGXFSZ, which ends the
// process by default; ignored, the write fails with EFBIG and is reported.
void IgnoreFileSizeSignal();

std::string FolderOf(const std::string& Path);

// The system's text for an errno value.
std::string SystemText(int Error);
// Whether the two names are the same file (both exist, one device and inode).
bool SameFile(const std::string& A, const std::string& B);

// Closes the descriptor it holds when it goes.
class TFd {
public:
  explicit TFd(int AFd) : Fd(AFd) {}
  ~TFd() {
    if (Fd >= 0) ::close(Fd);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Release() {
    int F = Fd;
    Fd = -1;
    return F;
  }
  int Fd;
};

// New content for a file: written to a temporary file beside it and renamed
// over it only when complete, then the folder is synced. Whatever fails, the
// file keeps its old content and the temporary file is removed.
class TFileReplacement {
public:
  struct TOptions {
    const char* CreateError = "Cannot create file ";  // prefixes of the error texts
    const char* WriteError = "Cannot write file ";
    // Refuse to replace a file the user may not write (or that no one may).
    bool RefuseReadOnly = true;
    // A writable file in a folder where no temporary file can be made is
    // written in place rather than not at all.
    bool InPlaceWhenFolderLocked = false;
    // Permissions of a file that did not exist (less the umask).
    mode_t NewMode = 0666;
  };

  // Name is the file as the user named it; a symbolic link is followed, so
  // the file it names is replaced and the link kept.
  TFileReplacement(const std::string& Name, const TOptions& Options);
  ~TFileReplacement();
  TFileReplacement(const TFileReplacement&) = delete;
  TFileReplacement& operator=(const TFileReplacement&) = delete;

  const std::string& Target() const { return TargetPath; }
  bool Existed() const { return Exists; }
  // Only when writing in place: claims the room for Size bytes first, so that
  // a full disk fails the write before anything is overwritten.
  void Reserve(off_t Size);
  void Write(const char* Data, size_t Size);
  // The replaced file's owner and mode go to the new content.
  void Commit();

private:
  [[noreturn]] void Fail(const char* Prefix, int Error);
  void Discard();

  std::string Name;
  std::string TargetPath;
  std::string TempPath;
  TOptions Options;
  bool Exists = false;
  bool InPlace = false;
  struct stat OldInfo {};
  int Fd = -1;
  off_t Written = 0;
};

// A file a command writes for the user. "-" and "/dev/stdout" are standard
// output; a device or a named pipe is written into as it stands, there being
// nothing to replace; anything else is replaced only once whole, as
// TFileReplacement does. Naming Source, the file the command reads, is
// refused: "Cannot create file PATH: it is the address book itself".
class TOutputFile {
public:
  TOutputFile(const std::string& Path, const std::string& Source);
  ~TOutputFile();
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  // Both throw EFileError "Cannot write file PATH: ...".
  void Write(const char* Data, size_t Size);
  void Commit();

private:
  [[noreturn]] void Fail(int Error);
  std::string Path;
  std::unique_ptr<TFileReplacement> Replacement;
  int Fd = -1;
  bool Owned = false;  // Fd is closed here; standard output is not
};
