#include "SyncState.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <unordered_set>

#include "FileSystem.h"
#include "SyncFields.h"
#include "TextUtils.h"

namespace {

const std::string Magic = "TOBRINEL-SYNC ";
constexpr size_t ChunkSize = 64 * 1024;

bool NeedsEscape(unsigned char C) { return C <= ' ' || C == '%' || C == 0x7F; }

void PutEscaped(std::string& Out, std::string_view Value) {
  static const char Hex[] = "0123456789ABCDEF";
  for (char C : Value) {
    auto U = static_cast<unsigned char>(C);
    if (!NeedsEscape(U)) {
      Out += C;
      continue;
    }
    Out += '%';
    Out += Hex[U >> 4];
    Out += Hex[U & 15];
  }
}

void PutHex64(std::string& Out, uint64_t Value) {
  static const char Hex[] = "0123456789abcdef";
  for (int Shift = 60; Shift >= 0; Shift -= 4) Out += Hex[(Value >> Shift) & 15];
}

bool ParseNumber(std::string_view Text, uint64_t& Value) {
  auto [End, Error] = std::from_chars(Text.data(), Text.data() + Text.size(), Value);
  return !Text.empty() && Error == std::errc() && End == Text.data() + Text.size();
}

// Reads Size bytes at Offset, all of them or throws.
void ReadAt(int Fd, uint64_t Offset, char* Into, size_t Size, const std::string& Name) {
  while (Size > 0) {
    ssize_t Got = ::pread(Fd, Into, Size, off_t(Offset));
    if (Got < 0 && errno == EINTR) continue;
    if (Got < 0) throw EFileError("Cannot read file " + Name + ": " + SystemText(errno));
    if (Got == 0) throw ESyncStateError(Name + ": the file is cut short (it changed while it was in use)");
    Into += Got, Offset += uint64_t(Got), Size -= size_t(Got);
  }
}

}  // namespace

struct TSyncTextFile {
  TSyncTextFile(int AFd, std::string AName) : Fd(AFd), Name(std::move(AName)) {}
  ~TSyncTextFile() {
    if (Fd >= 0) ::close(Fd);
  }
  TSyncTextFile(const TSyncTextFile&) = delete;
  TSyncTextFile& operator=(const TSyncTextFile&) = delete;
  int Fd;
  std::string Name;
  uint64_t End = 0;  // of a scratch file: where the next text goes
};

namespace {

// A file of the person's card texts that no one else may read, gone from the
// folder at once so that nothing is left behind however the run ends; -1
// when it cannot be made.
int OpenScratch(const std::string& Folder) {
  int Fd = -1;
#ifdef O_TMPFILE
  Fd = ::open(Folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (Fd >= 0) return Fd;
#endif
  std::string Name = Folder + "/.tobrinel-sync-XXXXXX";
  Fd = ::mkostemp(Name.data(), O_CLOEXEC);
  if (Fd >= 0) ::unlink(Name.c_str());
  return Fd;
}

bool WriteAll(int Fd, uint64_t Offset, const char* From, size_t Size) {
  while (Size > 0) {
    ssize_t Put = ::pwrite(Fd, From, Size, off_t(Offset));
    if (Put < 0 && errno == EINTR) continue;
    if (Put <= 0) return false;
    From += Put, Offset += uint64_t(Put), Size -= size_t(Put);
  }
  return true;
}

}  // namespace

// The header and the index of a state file; the texts stay where they are.
class TStateParser {
public:
  TStateParser(TSyncState& AState, const std::string& AName) : State(AState), Name(AName) {}

  // The header lines up to the cards line; the offset after it, or npos when
  // Text ends before it and there may be more (Complete false).
  size_t Header(std::string_view Text, bool Complete) {
    In = Text;
    Pos = 0;
    LineNumber = 0;
    if (In.substr(0, std::min(In.size(), Magic.size())) != Magic.substr(0, std::min(In.size(), Magic.size())) ||
        (Complete && In.size() < Magic.size()))
      throw ESyncStateError(Name + ": is not a Tobrinel sync state");
    Seen.clear();
    for (;;) {
      size_t End = In.find('\n', Pos);
      if (End == std::string_view::npos) {
        if (!Complete) return std::string_view::npos;
        ++LineNumber;
        Fail(Pos == In.size() ? "the file is cut short (no cards line)"
                              : "the file is cut short (a line without its end)");
      }
      std::string_view L = Line();
      if (LineNumber == 1) {
        Version(L);
        continue;
      }
      std::string_view Key = L.substr(0, L.find(' '));
      std::string_view Rest = Key.size() < L.size() ? L.substr(Key.size() + 1) : std::string_view();
      if (Key == "cards") {
        CardsLine(Rest);
        return Pos;
      }
      std::string* Setting = SettingOf(Key);
      if (!Setting) Fail("unknown item \"" + std::string(Key) + "\"");
      if (!Seen.insert(std::string(Key)).second) Fail("\"" + std::string(Key) + "\" is given twice");
      *Setting = Unescaped(Rest);
    }
  }

  // The index, which must stay where it is: the cards point into it.
  void Index(std::string_view Text) {
    In = Text;
    Pos = 0;
    Cards.reserve(std::min<size_t>(Count, size_t(Bytes / 24)));  // no line is shorter
    for (;;) {
      if (Pos >= In.size()) {
        ++LineNumber;
        Fail("the index is cut short (no end line)");
      }
      if (In.find('\n', Pos) == std::string_view::npos) {
        ++LineNumber;
        Fail("the index is cut short (a line without its end)");
      }
      std::string_view L = Line();
      std::string_view Key = L.substr(0, L.find(' '));
      std::string_view Rest = Key.size() < L.size() ? L.substr(Key.size() + 1) : std::string_view();
      if (Key == "end") {
        uint64_t N;
        if (!ParseNumber(Rest, N) || N != Cards.size() || Cards.size() != Count)
          Fail("the number of cards does not match");
        if (Pos != In.size()) Fail("the index is longer than its cards line says");
        State.Cards = std::move(Cards);
        return;
      }
      if (Key == "claim" || Key == "moved") {
        TSyncCard* Last = Cards.empty() ? nullptr : &Cards.back();
        if (!Last || Last->Claim != 0 || Last->Moved) Fail("a claim must follow a card, once");
        if (Key == "moved" ? !Rest.empty() : !ParseFingerprint(Rest, Last->Claim))
          Fail("a claim gives a fingerprint, and \"moved\" nothing");
        Last->Moved = Key == "moved";
        continue;
      }
      if (Key != "card" && Key != "pending") Fail("unknown item \"" + std::string(Key) + "\"");
      Card(Rest, Key == "pending");
    }
  }

  size_t Count = 0;
  uint64_t Bytes = 0;
  int LineNumber = 0;

  [[noreturn]] void Fail(const std::string& Problem) {
    throw ESyncStateError(Name + ": line " + std::to_string(LineNumber) + ": " + Problem);
  }

private:
  void Version(std::string_view L) {
    std::string_view V = L.substr(std::min(L.size(), Magic.size()));
    uint64_t Number = 0;
    if (V == std::to_string(TSyncState::FormatVersion)) return;
    if (ParseNumber(V, Number) && Number > uint64_t(TSyncState::FormatVersion))
      throw ESyncStateError(Name + ": was written by a later version of Tobrinel (sync state format " + std::string(V) +
                            ")");
    throw ESyncStateError(Name + ": is not a Tobrinel sync state");
  }

  void CardsLine(std::string_view Rest) {
    size_t Space = Rest.find(' ');
    uint64_t N = 0;
    if (Space == std::string_view::npos || !ParseNumber(Rest.substr(0, Space), N) ||
        !ParseNumber(Rest.substr(Space + 1), Bytes) || N > Bytes)
      Fail("the cards line needs the number of cards and the size of the index");
    Count = size_t(N);
  }

  std::string_view Line() {
    ++LineNumber;
    size_t End = In.find('\n', Pos);
    std::string_view L = In.substr(Pos, End - Pos);
    Pos = End + 1;
    return L;
  }

  std::string* SettingOf(std::string_view Key) {
    if (Key == "server") return &State.ServerUrl;
    if (Key == "addressbook") return &State.AddressBookUrl;
    if (Key == "user") return &State.UserName;
    if (Key == "token") return &State.SyncToken;
    if (Key == "trust") return &State.TrustedCertificate;
    return nullptr;
  }

  std::string Unescaped(std::string_view Value) {
    std::string Out;
    Out.reserve(Value.size());
    for (size_t I = 0; I < Value.size(); ++I) {
      auto U = static_cast<unsigned char>(Value[I]);
      if (U != '%') {
        if (NeedsEscape(U)) Fail("a value holds a space or control character");
        Out += Value[I];
        continue;
      }
      int High = I + 2 < Value.size() ? HexDigit(Value[I + 1]) : -1;
      int Low = High >= 0 ? HexDigit(Value[I + 2]) : -1;
      if (Low < 0) Fail("a value holds a '%' that is not followed by two hexadecimal digits");
      Out += char(High * 16 + Low);
      I += 2;
    }
    return Out;
  }

  // A view into the index when nothing is escaped, which is the rule.
  std::string_view Field(std::string_view Value) {
    if (Value.find('%') == std::string_view::npos) {
      for (char C : Value)
        if (NeedsEscape(static_cast<unsigned char>(C))) Fail("a value holds a space or control character");
      return Value;
    }
    return State.Keep(Unescaped(Value));
  }

  static bool ParseFingerprint(std::string_view Text, uint64_t& Value) {
    if (Text.size() != 16) return false;
    Value = 0;
    for (char C : Text) {
      int V = HexDigit(C);
      if (V < 0) return false;
      Value = Value << 4 | uint64_t(V);
    }
    return true;
  }

  void Card(std::string_view Rest, bool Pending) {
    std::string_view Parts[6];
    size_t N = 0;
    for (size_t Start = 0;; ++N) {
      size_t Space = Rest.find(' ', Start);
      if (N == 6) Fail("a card line has more than six values");
      Parts[N] = Rest.substr(Start, Space == std::string_view::npos ? Space : Space - Start);
      if (Space == std::string_view::npos) break;
      Start = Space + 1;
    }
    if (N != 5) Fail("a card line needs six values");
    TSyncCard Card;
    Card.Pending = Pending;
    Card.Href = Field(Parts[0]);
    Card.ETag = Field(Parts[1]);
    Card.Uid = Field(Parts[2]);
    if (Card.Href.empty()) Fail("a card has no address");
    if (!ParseFingerprint(Parts[3], Card.Fingerprint)) Fail("a fingerprint must be 16 hexadecimal digits");
    uint64_t TextSize, BaseSize;
    if (!ParseNumber(Parts[4], TextSize) || TextSize > UINT32_MAX)
      Fail("\"" + std::string(Parts[4]) + "\" is not a length");
    if (!ParseNumber(Parts[5], BaseSize)) Fail("\"" + std::string(Parts[5]) + "\" is not a length");
    Card.TextSize = uint32_t(TextSize);
    int CardLine = LineNumber;
    if (BaseSize > 0) {
      if (BaseSize >= In.size() - Pos || In[Pos + BaseSize] != '\n') Fail("the entry of the card is cut short");
      Card.Base = In.substr(Pos, BaseSize);
      LineNumber += int(std::count(Card.Base.begin(), Card.Base.end(), '\n')) + 1;
      Pos += BaseSize + 1;
      TAddressItem Check;
      if (!SyncFields::Decode(Card.Base, Check)) {
        LineNumber = CardLine;
        Fail("the entry of the card is damaged");
      }
    }
    if (!Hrefs.insert(Card.Href).second) {
      LineNumber = CardLine;
      Fail("the card " + std::string(Card.Href) + " is given twice");
    }
    Cards.push_back(Card);
  }

  TSyncState& State;
  const std::string& Name;
  std::string_view In;
  size_t Pos = 0;
  std::vector<TSyncCard> Cards;
  std::unordered_set<std::string> Seen;
  std::unordered_set<std::string_view> Hrefs;
};

std::string TSyncState::PathFor(const std::string& BookPath) { return BookPath + ".sync"; }

std::string_view TSyncState::Keep(std::string_view Text) {
  if (Text.empty()) return {};
  if (!Open || Open->capacity() - Open->size() < Text.size()) {
    Open = std::make_shared<std::string>();
    Open->reserve(std::max(ChunkSize, Text.size()));
    Storage.push_back(Open);
  }
  size_t At = Open->size();
  Open->append(Text);
  return std::string_view(Open->data() + At, Text.size());
}

void TSyncState::KeepInFile(std::string_view Text, TSyncCard& Card) {
  Card.Text = {}, Card.TextFile = nullptr, Card.TextAt = 0, Card.TextSize = 0;
  if (!Scratch && !ScratchFolder.empty()) {
    int Fd = OpenScratch(ScratchFolder);
    if (Fd >= 0) {
      Scratch = std::make_shared<TSyncTextFile>(Fd, ScratchFolder + " (the cards being received)");
      Files.push_back(Scratch);
    } else {
      ScratchFolder.clear();  // asked once: the texts stay in memory
    }
  }
  // The line end after each text is what Text checks, as in a state file.
  std::string Line;
  if (Scratch && Text.size() < UINT32_MAX) {
    Line.reserve(Text.size() + 1);
    Line.append(Text).push_back('\n');
  }
  if (Line.empty() || !WriteAll(Scratch->Fd, Scratch->End, Line.data(), Line.size())) {
    Card.Text = Keep(Text);
    return;
  }
  Card.TextFile = Scratch.get();
  Card.TextAt = Scratch->End;
  Card.TextSize = uint32_t(Text.size());
  Scratch->End += Line.size();
}

void TSyncState::Share(const TSyncState& Other) {
  if (this == &Other) return;
  Storage.insert(Storage.end(), Other.Storage.begin(), Other.Storage.end());
  for (const auto& File : Other.Files)
    if (std::find(Files.begin(), Files.end(), File) == Files.end()) Files.push_back(File);
}

std::string TSyncState::Text(const TSyncCard& Card) {
  if (!Card.TextInFile()) return std::string(Card.Text);
  const TSyncTextFile& File = *Card.TextFile;
  std::string Out(size_t(Card.TextSize) + 1, '\0');
  ReadAt(File.Fd, Card.TextAt, Out.data(), Out.size(), File.Name);
  if (Out.back() != '\n')
    throw ESyncStateError(File.Name + ": the text of the card " + std::string(Card.Href) + " is damaged");
  Out.pop_back();
  return Out;
}

bool TSyncState::Load(const std::string& Path) {
  *this = TSyncState();
  int Fd = OpenRegularForReading(Path, true);
  if (Fd < 0) return false;
  auto File = std::make_shared<TSyncTextFile>(Fd, Path);
  struct stat Info;
  if (::fstat(Fd, &Info) != 0) throw EFileError("Cannot read file " + Path + ": " + SystemText(errno));
  uint64_t FileSize = uint64_t(Info.st_size);
  TSyncState Loaded;
  TStateParser Parser(Loaded, Path);
  // The header, read a piece at a time: a foreign file is refused at its start.
  std::string Head;
  size_t IndexAt = std::string::npos;
  while (IndexAt == std::string::npos) {
    size_t Want = std::min<uint64_t>(ChunkSize, FileSize - Head.size());
    size_t Old = Head.size();
    Head.resize(Old + Want);
    ReadAt(Fd, Old, Head.data() + Old, Want, Path);
    IndexAt = Parser.Header(Head, Head.size() == FileSize);
  }
  if (Parser.Bytes > FileSize - IndexAt) {
    ++Parser.LineNumber;
    Parser.Fail("the file is cut short (the index is not whole)");
  }
  auto Index = std::make_shared<std::string>();
  Index->resize(size_t(Parser.Bytes));
  size_t Have = std::min<size_t>(Head.size() - IndexAt, Index->size());
  std::memcpy(Index->data(), Head.data() + IndexAt, Have);
  ReadAt(Fd, IndexAt + Have, Index->data() + Have, Index->size() - Have, Path);
  Loaded.Storage.push_back(Index);
  Parser.Index(*Index);
  uint64_t At = IndexAt + Parser.Bytes;
  for (TSyncCard& Card : Loaded.Cards) {
    Card.TextFile = File.get();
    Card.TextAt = At;
    At += uint64_t(Card.TextSize) + 1;
  }
  if (At != FileSize)
    throw ESyncStateError(Path + (At > FileSize ? ": the file is cut short (the texts of the cards are not whole)"
                                                : ": there is more after the text of the last card"));
  Loaded.Files.push_back(File);
  *this = std::move(Loaded);
  return true;
}

void TSyncState::Parse(std::string Content, const std::string& Name) {
  auto Whole = std::make_shared<std::string>(std::move(Content));
  TSyncState Parsed;
  Parsed.Storage.push_back(Whole);
  TStateParser Parser(Parsed, Name);
  std::string_view All = *Whole;
  size_t IndexAt = Parser.Header(All, true);
  if (Parser.Bytes > All.size() - IndexAt) {
    ++Parser.LineNumber;
    Parser.Fail("the file is cut short (the index is not whole)");
  }
  Parser.Index(All.substr(IndexAt, size_t(Parser.Bytes)));
  size_t At = IndexAt + size_t(Parser.Bytes);
  for (TSyncCard& Card : Parsed.Cards) {
    if (Card.TextSize >= All.size() - std::min(At, All.size()) || All[At + Card.TextSize] != '\n')
      throw ESyncStateError(Name + ": the text of the card " + std::string(Card.Href) + " is cut short or damaged");
    Card.Text = All.substr(At, Card.TextSize);
    At += size_t(Card.TextSize) + 1;
  }
  if (At != All.size()) throw ESyncStateError(Name + ": there is more after the text of the last card");
  *this = std::move(Parsed);
}

template <class F>
void TSyncState::Write(F&& Put) const {
  std::string Out = Magic + std::to_string(FormatVersion) + "\n";
  const std::pair<const char*, const std::string*> Settings[] = {{"server", &ServerUrl},
                                                                 {"addressbook", &AddressBookUrl},
                                                                 {"user", &UserName},
                                                                 {"token", &SyncToken},
                                                                 {"trust", &TrustedCertificate}};
  for (auto [Key, Value] : Settings) {
    Out += Key;
    Out += ' ';
    PutEscaped(Out, *Value);
    Out += '\n';
  }
  // The index is preceded by its size: measured first, then written in
  // pieces, so that a large state is never held twice over in memory.
  auto IndexOf = [](const TSyncCard& C, std::string& Index) {
    Index += C.Pending ? "pending " : "card ";
    for (std::string_view Value : {C.Href, C.ETag, C.Uid}) {
      PutEscaped(Index, Value);
      Index += ' ';
    }
    PutHex64(Index, C.Fingerprint);
    Index += ' ';
    Index += std::to_string(TextSize(C));
    Index += ' ';
    Index += std::to_string(C.Base.size());
    Index += '\n';
    if (!C.Base.empty()) {
      Index += C.Base;
      Index += '\n';
    }
    if (C.Claim != 0) {
      Index += "claim ";
      PutHex64(Index, C.Claim);
      Index += '\n';
    } else if (C.Moved) {
      Index += "moved\n";
    }
  };
  const std::string End = "end " + std::to_string(Cards.size()) + "\n";
  std::string Index;
  size_t IndexSize = End.size();
  for (const TSyncCard& C : Cards) {
    Index.clear();
    IndexOf(C, Index);
    IndexSize += Index.size();
  }
  Out += "cards " + std::to_string(Cards.size()) + " " + std::to_string(IndexSize) + "\n";
  Put(std::string_view(Out));
  Index.clear();
  for (const TSyncCard& C : Cards) {
    IndexOf(C, Index);
    if (Index.size() < ChunkSize) continue;
    Put(std::string_view(Index));
    Index.clear();
  }
  Index += End;
  Put(std::string_view(Index));
  Index = std::string();
  // The texts: those still in the loaded file are copied in runs, a piece at a time.
  std::string Buffer;
  for (size_t I = 0; I < Cards.size();) {
    const TSyncCard& C = Cards[I];
    if (!C.TextInFile()) {
      Put(C.Text);
      Put(std::string_view("\n"));
      ++I;
      continue;
    }
    uint64_t From = C.TextAt, To = C.TextAt + C.TextSize + 1;
    const TSyncTextFile& File = *C.TextFile;
    for (++I; I < Cards.size() && Cards[I].TextFile == &File && Cards[I].TextAt == To; ++I) To += Cards[I].TextSize + 1;
    for (uint64_t At = From; At < To;) {
      size_t Piece = size_t(std::min<uint64_t>(To - At, ChunkSize));
      Buffer.resize(Piece);
      ReadAt(File.Fd, At, Buffer.data(), Piece, File.Name);
      Put(std::string_view(Buffer));
      At += Piece;
    }
  }
}

std::string TSyncState::Serialize() const {
  std::string Out;
  Write([&](std::string_view Piece) { Out += Piece; });
  return Out;
}

void TSyncState::Save(const std::string& Path) const {
  TFileReplacement::TOptions Options;
  Options.NewMode = 0600;  // it names the person's server and account
  TFileReplacement File(Path, Options);
  Write([&](std::string_view Piece) { File.Write(Piece.data(), Piece.size()); });
  File.Commit();
}

bool operator==(const TSyncState& A, const TSyncState& B) {
  if (A.ServerUrl != B.ServerUrl || A.AddressBookUrl != B.AddressBookUrl || A.UserName != B.UserName ||
      A.SyncToken != B.SyncToken || A.TrustedCertificate != B.TrustedCertificate || A.Cards.size() != B.Cards.size())
    return false;
  for (size_t I = 0; I < A.Cards.size(); ++I) {
    const TSyncCard &X = A.Cards[I], &Y = B.Cards[I];
    if (X.Href != Y.Href || X.ETag != Y.ETag || X.Uid != Y.Uid || X.Base != Y.Base || X.Fingerprint != Y.Fingerprint ||
        X.Claim != Y.Claim || X.Moved != Y.Moved || X.Pending != Y.Pending || A.TextSize(X) != B.TextSize(Y))
      return false;
    // The same place in the same file is the same text.
    bool SamePlace = X.TextInFile() && X.TextFile == Y.TextFile && X.TextAt == Y.TextAt;
    if (SamePlace || (!X.TextInFile() && !Y.TextInFile() && X.Text == Y.Text) || A.Text(X) == B.Text(Y)) continue;
    return false;
  }
  return true;
}
