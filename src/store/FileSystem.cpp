#include "FileSystem.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

void SyncFolder(const std::string& Folder, const std::string& ErrorText) {
  int Dir = ::open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Dir < 0) return;  // a folder that cannot be read cannot be synced either
  int Result = ::fsync(Dir);
  int Error = errno;
  ::close(Dir);
  // Some file systems cannot sync a folder at all; that is no failure.
  if (Result != 0 && Error != EINVAL && Error != EROFS) throw EFileError(ErrorText + SystemText(Error));
}

}  // namespace

std::string SystemText(int Error) { return std::strerror(Error); }

bool SameFile(const std::string& A, const std::string& B) {
  struct stat Sa, Sb;
  return ::stat(A.c_str(), &Sa) == 0 && ::stat(B.c_str(), &Sb) == 0 && Sa.st_dev == Sb.st_dev && Sa.st_ino == Sb.st_ino;
}

std::string NotRegularText(mode_t Mode) {
  // clang-format off
  const char* Kind = S_ISDIR(Mode)                      ? "a folder"
                     : S_ISFIFO(Mode)                   ? "a named pipe"
                     : S_ISCHR(Mode) || S_ISBLK(Mode)   ? "a device"
                     : S_ISSOCK(Mode)                   ? "a socket"
                                                        : nullptr;
  // clang-format on
  return Kind ? std::string("it is ") + Kind + ", not a regular file" : "it is not a regular file";
}

namespace {

[[noreturn]] void RefuseToOpen(const std::string& Path, const std::string& Why) {
  throw EFileError("Cannot open file " + Path + ": " + Why);
}

// Streams: named pipes and character devices are read too.
int OpenChecked(const std::string& Path, bool MissingIsNull, bool Streams) {
  auto Readable = [&](mode_t Mode) { return S_ISREG(Mode) || (Streams && (S_ISFIFO(Mode) || S_ISCHR(Mode))); };
  // Look before opening: opening a pipe waits for a writer, and opening a
  // device may do something to it.
  struct stat Info;
  bool Known = ::stat(Path.c_str(), &Info) == 0;
  if (Known && !Readable(Info.st_mode)) RefuseToOpen(Path, NotRegularText(Info.st_mode));
  // A pipe that is to be read waits for its writer, as cat does.
  const int Wait = Known && S_ISFIFO(Info.st_mode) ? 0 : O_NONBLOCK;
  int Fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | Wait);
  if (Fd < 0) {
    int Error = errno;
    if (MissingIsNull && (Error == ENOENT || Error == ENOTDIR)) return -1;
    RefuseToOpen(Path, SystemText(Error));
  }
  // It may have been swapped for something else in between.
  std::string Why;
  if (::fstat(Fd, &Info) != 0) Why = SystemText(errno);
  else if (!Readable(Info.st_mode)) Why = NotRegularText(Info.st_mode);
  if (!Why.empty()) {
    ::close(Fd);
    RefuseToOpen(Path, Why);
  }
  ::fcntl(Fd, F_SETFL, ::fcntl(Fd, F_GETFL) & ~O_NONBLOCK);
  return Fd;
}

}  // namespace

int OpenRegularForReading(const std::string& Path, bool MissingIsNull) {
  return OpenChecked(Path, MissingIsNull, false);
}

int OpenForReading(const std::string& Path) { return OpenChecked(Path, false, true); }

bool WriteAll(int Fd, const char* Data, size_t Size) {
  while (Size > 0) {
    ssize_t Done = ::write(Fd, Data, Size);
    if (Done < 0 && errno == EINTR) continue;
    if (Done <= 0) {
      if (Done == 0) errno = EIO;
      return false;
    }
    Data += Done;
    Size -= size_t(Done);
  }
  return true;
}

void IgnoreFileSizeSignal() {
  struct sigaction Current;
  // A handler the program installed itself is left alone.
  if (::sigaction(SIGXFSZ, nullptr, &Current) == 0 && !(Current.sa_flags & SA_SIGINFO) && Current.sa_handler == SIG_DFL)
    std::signal(SIGXFSZ, SIG_IGN);
}

std::string FolderOf(const std::string& Path) {
  size_t Slash = Path.rfind('/');
  if (Slash == std::string::npos) return ".";
  if (Slash == 0) return "/";
  return Path.substr(0, Slash);
}

// ---- TFileReplacement

TFileReplacement::TFileReplacement(const std::string& AName, const TOptions& AOptions)
    : Name(AName), TargetPath(AName), Options(AOptions) {
  IgnoreFileSizeSignal();
  struct stat Link;
  if (::lstat(Name.c_str(), &Link) == 0 && S_ISLNK(Link.st_mode)) {
    if (char* Real = ::realpath(Name.c_str(), nullptr)) {
      TargetPath = Real;
      std::free(Real);
    }
  }
  if (::stat(TargetPath.c_str(), &OldInfo) == 0) {
    Exists = true;
    if (!S_ISREG(OldInfo.st_mode))
      throw EFileError(Options.CreateError + Name + ": " + NotRegularText(OldInfo.st_mode));
    // A file with no write permission for anyone is read-only even for the
    // superuser, who could write it.
    if (Options.RefuseReadOnly) {
      if (::access(TargetPath.c_str(), W_OK) != 0)
        throw EFileError(Options.CreateError + Name + ": " + SystemText(errno));
      if ((OldInfo.st_mode & 0222) == 0) throw EFileError(Options.CreateError + Name + ": " + SystemText(EACCES));
    }
  }

  std::string Folder = FolderOf(TargetPath);
  std::string Base = TargetPath.substr(TargetPath.rfind('/') == std::string::npos ? 0 : TargetPath.rfind('/') + 1);
  TempPath = (Folder == "/" ? std::string("/") : Folder + "/") + "." + Base + ".XXXXXX";
  Fd = ::mkostemp(TempPath.data(), O_CLOEXEC);
  if (Fd >= 0) return;
  int Error = errno;
  TempPath.clear();
  if (Options.InPlaceWhenFolderLocked && Exists && (Error == EACCES || Error == EPERM) &&
      ::access(TargetPath.c_str(), W_OK) == 0) {
    Fd = ::open(TargetPath.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (Fd >= 0) {
      InPlace = true;
      return;
    }
    Error = errno;
  }
  throw EFileError(Options.CreateError + Name + ": " + SystemText(Error));
}

TFileReplacement::~TFileReplacement() { Discard(); }

void TFileReplacement::Discard() {
  if (Fd >= 0) ::close(Fd);
  Fd = -1;
  if (!TempPath.empty()) ::unlink(TempPath.c_str());
  TempPath.clear();
}

void TFileReplacement::Fail(const char* Prefix, int Error) {
  Discard();
  throw EFileError(Prefix + Name + ": " + SystemText(Error));
}

void TFileReplacement::Reserve(off_t Size) {
  if (!InPlace || Size <= 0) return;
  // Claim the room before overwriting anything, so that a full disk or the
  // size limit stops the write while the old content is still whole.
  if (::fallocate(Fd, FALLOC_FL_KEEP_SIZE, 0, Size) != 0 && errno != EOPNOTSUPP && errno != ENOSYS && errno != EINVAL)
    Fail(Options.WriteError, errno);
}

void TFileReplacement::Write(const char* Data, size_t Size) {
  if (!WriteAll(Fd, Data, Size)) Fail(Options.WriteError, errno);
  Written += off_t(Size);
}

void TFileReplacement::Commit() {
  if (InPlace) {
    if (::ftruncate(Fd, Written) != 0 || ::fsync(Fd) != 0) Fail(Options.WriteError, errno);
    int F = Fd;
    Fd = -1;
    if (::close(F) != 0) Fail(Options.WriteError, errno);
    return;
  }
  if (Exists) {
    // Only the superuser may give a file to another user; anyone may keep a
    // group they belong to.
    if (::fchown(Fd, OldInfo.st_uid, OldInfo.st_gid) != 0) {
      if (errno != EPERM) Fail(Options.WriteError, errno);
      if (::fchown(Fd, uid_t(-1), OldInfo.st_gid) != 0 && errno != EPERM) Fail(Options.WriteError, errno);
    }
    if (::fchmod(Fd, OldInfo.st_mode & 07777) != 0) Fail(Options.WriteError, errno);
  } else {
    mode_t Mask = ::umask(0);
    ::umask(Mask);
    if (::fchmod(Fd, Options.NewMode & ~Mask & 0777) != 0) Fail(Options.WriteError, errno);
  }
  if (::fsync(Fd) != 0) Fail(Options.WriteError, errno);
  int F = Fd;
  Fd = -1;
  if (::close(F) != 0) Fail(Options.WriteError, errno);
  if (::rename(TempPath.c_str(), TargetPath.c_str()) != 0) Fail(Options.CreateError, errno);
  TempPath.clear();
  // Without this a power cut just after the save could bring back the old name.
  SyncFolder(FolderOf(TargetPath), Options.WriteError + Name + ": ");
}

// ---- TOutputFile

namespace {

bool SameFileAs(const struct stat& Info, const std::string& Other) {
  struct stat O;
  return !Other.empty() && ::stat(Other.c_str(), &O) == 0 && O.st_dev == Info.st_dev && O.st_ino == Info.st_ino;
}

}  // namespace

TOutputFile::TOutputFile(const std::string& APath, const std::string& Source) : Path(APath) {
  IgnoreFileSizeSignal();
  const std::string Itself = "Cannot create file " + Path + ": it is the address book itself";
  struct stat Info;
  if (Path == "-" || Path == "/dev/stdout") {
    // Appending to the book through a redirection would damage it as well.
    if (::fstat(STDOUT_FILENO, &Info) == 0 && SameFileAs(Info, Source)) throw EFileError(Itself);
    Fd = STDOUT_FILENO;
    return;
  }
  if (::stat(Path.c_str(), &Info) == 0) {
    if (SameFileAs(Info, Source)) throw EFileError(Itself);
    if (!S_ISREG(Info.st_mode)) {
      // Not truncated: a device has nothing to cut, and what the open finds
      // is looked at again before anything is written.
      Fd = ::open(Path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
      if (Fd < 0) throw EFileError("Cannot create file " + Path + ": " + SystemText(errno));
      Owned = true;
      if (::fstat(Fd, &Info) == 0 && !S_ISREG(Info.st_mode)) return;
      ::close(Fd);
      Fd = -1;
      Owned = false;
    }
  }
  Replacement = std::make_unique<TFileReplacement>(Path, TFileReplacement::TOptions());
}

TOutputFile::~TOutputFile() {
  if (Owned && Fd >= 0) ::close(Fd);
}

void TOutputFile::Fail(int Error) { throw EFileError("Cannot write file " + Path + ": " + SystemText(Error)); }

void TOutputFile::Write(const char* Data, size_t Size) {
  if (Replacement) Replacement->Write(Data, Size);
  else if (!WriteAll(Fd, Data, Size)) Fail(errno);
}

void TOutputFile::Commit() {
  if (Replacement) {
    Replacement->Commit();
    return;
  }
  if (!Owned) return;
  const int F = Fd;
  Fd = -1;
  Owned = false;
  if (::close(F) != 0) Fail(errno);
}
