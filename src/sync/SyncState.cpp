#include "SyncState.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <unordered_set>

#include "FileSystem.h"
#include "SyncFields.h"

namespace {

const char* const Magic = "TOBRINEL-SYNC";
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

int HexValue(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  return -1;
}

void PutHex64(std::string& Out, uint64_t Value) {
  static const char Hex[] = "0123456789abcdef";
  for (int Shift = 60; Shift >= 0; Shift -= 4) Out += Hex[(Value >> Shift) & 15];
}

// Reads a file's content, scanning it once.
class TStateParser {
public:
  TStateParser(TSyncState& State, std::string_view Content, const std::string& Name)
      : State(State), In(Content), Name(Name) {}

  void Run() {
    const std::string Prefix = std::string(Magic) + " ";
    if (In.substr(0, Prefix.size()) != Prefix) throw ESyncStateError(Name + ": is not a Tobrinel sync state");
    std::string_view First = Line();
    if (First != Prefix + std::to_string(TSyncState::FormatVersion)) {
      std::string_view Version = First.substr(Prefix.size());
      {
        unsigned Number = 0;
        auto [End, Error] = std::from_chars(Version.data(), Version.data() + Version.size(), Number);
        if (Error == std::errc() && End == Version.data() + Version.size() && Number > TSyncState::FormatVersion)
          throw ESyncStateError(Name + ": was written by a later version of Tobrinel (sync state format " +
                                std::string(Version) + ")");
      }
      throw ESyncStateError(Name + ": is not a Tobrinel sync state");
    }
    for (;;) {
      if (Pos >= In.size()) {
        ++LineNumber;
        Fail("the file is cut short (no end line)");
      }
      std::string_view L = Line();
      std::string_view Key = L.substr(0, L.find(' '));
      std::string_view Rest = Key.size() < L.size() ? L.substr(Key.size() + 1) : std::string_view();
      if (Key == "end") {
        End(Rest);
        return;
      }
      if (Key == "card" || Key == "pending") Card(Rest, Key == "pending");
      else if (std::string* Setting = SettingOf(Key)) SetOnce(*Setting, Key, Rest);
      else Fail("unknown item \"" + std::string(Key) + "\"");
    }
  }

private:
  [[noreturn]] void Fail(const std::string& Problem) {
    throw ESyncStateError(Name + ": line " + std::to_string(LineNumber) + ": " + Problem);
  }

  std::string_view Line() {
    ++LineNumber;
    size_t End = In.find('\n', Pos);
    if (End == std::string_view::npos) Fail("the file is cut short (a line without its end)");
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

  void SetOnce(std::string& Setting, std::string_view Key, std::string_view Value) {
    if (!Seen.insert(std::string(Key)).second) Fail("\"" + std::string(Key) + "\" is given twice");
    if (!Cards.empty()) Fail("\"" + std::string(Key) + "\" after the cards");
    Setting = Unescaped(Value);
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
      int High = I + 2 < Value.size() ? HexValue(Value[I + 1]) : -1;
      int Low = High >= 0 ? HexValue(Value[I + 2]) : -1;
      if (Low < 0) Fail("a value holds a '%' that is not followed by two hexadecimal digits");
      Out += char(High * 16 + Low);
      I += 2;
    }
    return Out;
  }

  // A view into the content when nothing is escaped, which is the rule.
  std::string_view Field(std::string_view Value) {
    if (Value.find('%') == std::string_view::npos) {
      for (char C : Value)
        if (NeedsEscape(static_cast<unsigned char>(C))) Fail("a value holds a space or control character");
      return Value;
    }
    return State.Keep(Unescaped(Value));
  }

  size_t Length(std::string_view Text) {
    size_t Value = 0;
    auto [End, Error] = std::from_chars(Text.data(), Text.data() + Text.size(), Value);
    if (Text.empty() || Error != std::errc() || End != Text.data() + Text.size())
      Fail("\"" + std::string(Text) + "\" is not a length");
    return Value;
  }

  std::string_view Block(size_t Size) {
    if (Size > In.size() - Pos || Size + Pos == In.size() || In[Pos + Size] != '\n') {
      ++LineNumber;  // where the block begins
      Fail("the file is cut short or a length is wrong");
    }
    std::string_view B = In.substr(Pos, Size);
    LineNumber += int(std::count(B.begin(), B.end(), '\n')) + 1;
    Pos += Size + 1;
    return B;
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
    if (Parts[3].size() != 16) Fail("a fingerprint must be 16 hexadecimal digits");
    for (char C : Parts[3]) {
      int V = HexValue(C);
      if (V < 0) Fail("a fingerprint must be 16 hexadecimal digits");
      Card.Fingerprint = Card.Fingerprint << 4 | uint64_t(V);
    }
    size_t TextSize = Length(Parts[4]), BaseSize = Length(Parts[5]);
    int CardLine = LineNumber;
    Card.Text = Block(TextSize);
    Card.Base = Block(BaseSize);
    if (!Card.Base.empty()) {
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

  void End(std::string_view Rest) {
    if (Length(Rest) != Cards.size()) Fail("the number of cards does not match");
    if (Pos != In.size()) Fail("there is more after the end line");
    State.Cards = std::move(Cards);
  }

  TSyncState& State;
  std::string_view In;
  const std::string& Name;
  size_t Pos = 0;
  int LineNumber = 0;
  std::vector<TSyncCard> Cards;
  std::unordered_set<std::string> Seen;
  std::unordered_set<std::string_view> Hrefs;
};

}  // namespace

TSyncState::TSyncState(const TSyncState& Other)
    : ServerUrl(Other.ServerUrl),
      AddressBookUrl(Other.AddressBookUrl),
      UserName(Other.UserName),
      SyncToken(Other.SyncToken),
      TrustedCertificate(Other.TrustedCertificate),
      Cards(Other.Cards),
      Storage(Other.Storage) {}

TSyncState::TSyncState(TSyncState&& Other) noexcept
    : ServerUrl(std::move(Other.ServerUrl)),
      AddressBookUrl(std::move(Other.AddressBookUrl)),
      UserName(std::move(Other.UserName)),
      SyncToken(std::move(Other.SyncToken)),
      TrustedCertificate(std::move(Other.TrustedCertificate)),
      Cards(std::move(Other.Cards)),
      Storage(std::move(Other.Storage)),
      Open(Other.Open) {
  Other.Open = nullptr;
}

TSyncState& TSyncState::operator=(TSyncState&& Other) noexcept {
  if (this != &Other) {
    ServerUrl = std::move(Other.ServerUrl);
    AddressBookUrl = std::move(Other.AddressBookUrl);
    UserName = std::move(Other.UserName);
    SyncToken = std::move(Other.SyncToken);
    TrustedCertificate = std::move(Other.TrustedCertificate);
    Cards = std::move(Other.Cards);
    Storage = std::move(Other.Storage);
    Open = Other.Open;
    Other.Open = nullptr;
  }
  return *this;
}

TSyncState& TSyncState::operator=(const TSyncState& Other) {
  if (this != &Other) {
    TSyncState Copy(Other);
    *this = std::move(Copy);
  }
  return *this;
}

std::string TSyncState::PathFor(const std::string& BookPath) { return BookPath + ".sync"; }

std::string_view TSyncState::Keep(std::string_view Text) {
  if (Text.empty()) return {};
  if (!Open || Open->capacity() - Open->size() < Text.size()) {
    auto Chunk = std::make_shared<std::string>();
    Chunk->reserve(std::max(ChunkSize, Text.size()));
    Storage.push_back(Chunk);
    Open = Chunk.get();
  }
  size_t At = Open->size();
  Open->append(Text);
  return std::string_view(Open->data() + At, Text.size());
}

TSyncCard TSyncState::KeepCard(const TSyncCard& Card) {
  TSyncCard Kept = Card;
  Kept.Href = Keep(Card.Href);
  Kept.ETag = Keep(Card.ETag);
  Kept.Uid = Keep(Card.Uid);
  Kept.Text = Keep(Card.Text);
  Kept.Base = Keep(Card.Base);
  return Kept;
}

bool TSyncState::Load(const std::string& Path) {
  *this = TSyncState();
  TFd File(OpenRegularForReading(Path, true));
  if (File.Fd < 0) return false;
  std::string Content;
  struct stat Info;
  if (::fstat(File.Fd, &Info) == 0 && Info.st_size > 0) Content.reserve(size_t(Info.st_size));
  char Buffer[65536];
  for (;;) {
    ssize_t Got = ::read(File.Fd, Buffer, sizeof Buffer);
    if (Got < 0 && errno == EINTR) continue;
    if (Got < 0) throw EFileError("Cannot read file " + Path + ": " + SystemText(errno));
    if (Got == 0) break;
    Content.append(Buffer, size_t(Got));
  }
  Parse(std::move(Content), Path);
  return true;
}

void TSyncState::Parse(std::string Content, const std::string& Name) {
  auto Whole = std::make_shared<std::string>(std::move(Content));
  TSyncState Parsed;
  Parsed.Storage.push_back(Whole);
  TStateParser(Parsed, *Whole, Name).Run();
  *this = std::move(Parsed);
}

std::string TSyncState::Serialize() const {
  std::string Out;
  size_t Size = 256;
  for (const TSyncCard& C : Cards) Size += C.Href.size() + C.ETag.size() + C.Uid.size() + C.Text.size() + C.Base.size() + 64;
  Out.reserve(Size);
  Out += Magic;
  Out += ' ';
  Out += std::to_string(FormatVersion);
  Out += '\n';
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
  for (const TSyncCard& C : Cards) {
    Out += C.Pending ? "pending " : "card ";
    for (std::string_view Value : {C.Href, C.ETag, C.Uid}) {
      PutEscaped(Out, Value);
      Out += ' ';
    }
    PutHex64(Out, C.Fingerprint);
    Out += ' ';
    Out += std::to_string(C.Text.size());
    Out += ' ';
    Out += std::to_string(C.Base.size());
    Out += '\n';
    Out += C.Text;
    Out += '\n';
    Out += C.Base;
    Out += '\n';
  }
  Out += "end ";
  Out += std::to_string(Cards.size());
  Out += '\n';
  return Out;
}

void TSyncState::Save(const std::string& Path) const {
  std::string Content = Serialize();
  TFileReplacement::TOptions Options;
  Options.NewMode = 0600;  // it names the person's server and account
  TFileReplacement File(Path, Options);
  File.Write(Content.data(), Content.size());
  File.Commit();
}

bool operator==(const TSyncState& A, const TSyncState& B) {
  if (A.ServerUrl != B.ServerUrl || A.AddressBookUrl != B.AddressBookUrl || A.UserName != B.UserName ||
      A.SyncToken != B.SyncToken || A.TrustedCertificate != B.TrustedCertificate || A.Cards.size() != B.Cards.size())
    return false;
  for (size_t I = 0; I < A.Cards.size(); ++I) {
    const TSyncCard &X = A.Cards[I], &Y = B.Cards[I];
    if (X.Href != Y.Href || X.ETag != Y.ETag || X.Uid != Y.Uid || X.Text != Y.Text || X.Base != Y.Base ||
        X.Fingerprint != Y.Fingerprint || X.Pending != Y.Pending)
      return false;
  }
  return true;
}
