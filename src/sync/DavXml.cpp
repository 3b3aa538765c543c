#include "DavXml.h"

#include <QBuffer>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <cstring>
#include <functional>

namespace {

bool Is(const QXmlStreamReader& Xml, const char* Namespace, const char* Name) {
  return Xml.namespaceUri() == QLatin1String(Namespace) && Xml.name() == QLatin1String(Name);
}

// Reads a device through the carriage-return guard.
class TGuardedDevice : public QIODevice {
public:
  explicit TGuardedDevice(QIODevice& ASource) : Source(ASource) { open(QIODevice::ReadOnly | QIODevice::Unbuffered); }
  bool isSequential() const override { return true; }
  bool atEnd() const override { return Ended && At >= Out.size(); }
  qint64 bytesAvailable() const override { return Out.size() - At; }
  qint64 Given() const { return GivenSoFar; }
  // Set when the reader has failed for good.
  bool Failed = false;

protected:
  qint64 readData(char* Data, qint64 MaxSize) override {
    while (At >= Out.size() && !Ended) {
      const QByteArray In = Source.read(64 * 1024);
      Out = Guard.Feed(In, In.isEmpty());
      At = 0;
      // What follows the root is not read, nor waited for.
      Ended = In.isEmpty() || Guard.Closed();
    }
    const qint64 Size = std::min<qint64>(MaxSize, Out.size() - At);
    if (Size <= 0) return Ended ? -1 : 0;
    memcpy(Data, Out.constData() + At, size_t(Size));
    At += Size;
    GivenSoFar += Size;
    return Size;
  }
  qint64 writeData(const char*, qint64) override { return -1; }

private:
  QIODevice& Source;
  TCarriageReturnGuard Guard;
  QByteArray Out;
  qsizetype At = 0;
  bool Ended = false;
  qint64 GivenSoFar = 0;
};

// Qt's reader stops with a premature end whenever it has used up the bytes it
// read, as when a piece ends inside a character, and reads on when called
// again. That is a pause while the device has more to give. Once it has not,
// or gave nothing, the answer is cut short, and it stays failed: read on, the
// reader could end the document without an error.
QXmlStreamReader::TokenType ReadNext(QXmlStreamReader& Xml) {
  auto& Device = static_cast<TGuardedDevice&>(*Xml.device());
  while (!Device.Failed) {
    const qint64 Before = Device.Given();
    const QXmlStreamReader::TokenType Type = Xml.readNext();
    if (Type != QXmlStreamReader::Invalid) return Type;
    Device.Failed =
        Xml.error() != QXmlStreamReader::PrematureEndOfDocumentError || Device.atEnd() || Device.Given() == Before;
  }
  return QXmlStreamReader::Invalid;
}

bool NextStartElement(QXmlStreamReader& Xml) {
  for (;;) {
    switch (ReadNext(Xml)) {
      case QXmlStreamReader::StartElement:
        return true;
      case QXmlStreamReader::EndElement:
      case QXmlStreamReader::EndDocument:
      case QXmlStreamReader::Invalid:
        return false;
      default:
        break;
    }
  }
}

// The text of a simple element, its children's text included; leaves the
// reader on its end element. Read token by token, so that no nesting depth
// costs stack; beyond Limit the text is dropped and TooLarge set.
QString ElementText(QXmlStreamReader& Xml, qsizetype Limit = MaxValueBytes, bool* TooLarge = nullptr,
                    bool* BadCharacter = nullptr) {
  QString Text;
  bool Over = false;
  for (qint64 Depth = 1; Depth > 0;) {
    switch (ReadNext(Xml)) {
      case QXmlStreamReader::StartElement:
        if (BadCharacter && Xml.namespaceUri() == QLatin1String(BadCharacterNamespace)) *BadCharacter = true;
        ++Depth;
        break;
      case QXmlStreamReader::EndElement:
        --Depth;
        break;
      case QXmlStreamReader::Characters:
      case QXmlStreamReader::EntityReference:
        if (Over) break;
        if (Text.size() + Xml.text().size() > Limit) {
          Over = true;
          Text = QString();
        } else {
          Text += Xml.text();
        }
        break;
      case QXmlStreamReader::EndDocument:
      case QXmlStreamReader::Invalid:
        return {};
      default:
        break;
    }
  }
  if (Over && TooLarge) *TooLarge = true;
  // What is kept of it (a listing's thousands of addresses) shares this
  // buffer: no room to spare in it.
  if (Text.capacity() > Text.size() + 8) Text.squeeze();
  return Text;
}

// Leaves the reader on the end of the element it is on.
void SkipElement(QXmlStreamReader& Xml) { (void)ElementText(Xml, 0); }

// A value of a response; one too long marks the response.
QString ValueText(QXmlStreamReader& Xml, TDavResponse& Into) {
  return ElementText(Xml, MaxValueBytes, &Into.TooLarge, &Into.BadCharacter).trimmed();
}

// The href children of the element the reader is on.
QStringList ChildHrefs(QXmlStreamReader& Xml, TDavResponse& Into) {
  QStringList Hrefs;
  while (NextStartElement(Xml)) {
    if (Is(Xml, DavNamespace, "href")) Hrefs << ValueText(Xml, Into);
    else SkipElement(Xml);
  }
  return Hrefs;
}

void ReadResourceType(QXmlStreamReader& Xml, TDavResponse& Into) {
  Into.HasResourceType = true;
  while (NextStartElement(Xml)) {
    if (Is(Xml, DavNamespace, "collection")) Into.IsCollection = true;
    if (Is(Xml, CardDavNamespace, "addressbook")) Into.IsAddressBook = true;
    SkipElement(Xml);
  }
}

void ReadProp(QXmlStreamReader& Xml, TDavResponse& Into) {
  while (NextStartElement(Xml)) {
    if (Is(Xml, DavNamespace, "resourcetype")) {
      ReadResourceType(Xml, Into);
    } else if (Is(Xml, DavNamespace, "getetag")) {
      Into.Etag = ValueText(Xml, Into);
    } else if (Is(Xml, DavNamespace, "getcontenttype")) {
      Into.ContentType = ValueText(Xml, Into);
    } else if (Is(Xml, DavNamespace, "displayname")) {
      Into.DisplayName = ValueText(Xml, Into);
    } else if (Is(Xml, DavNamespace, "sync-token")) {
      Into.SyncToken = ValueText(Xml, Into);
    } else if (Is(Xml, DavNamespace, "current-user-principal")) {
      const QStringList Hrefs = ChildHrefs(Xml, Into);
      if (!Hrefs.isEmpty()) Into.Principal = Hrefs.first();
    } else if (Is(Xml, CardDavNamespace, "addressbook-home-set")) {
      Into.HomeSets = ChildHrefs(Xml, Into);
    } else if (Is(Xml, CardDavNamespace, "address-data")) {
      Into.HasAddressData = true;
      // Never trimmed: the text is kept as it is. A card is UTF-8 at most
      // three bytes a character here, so the limit is checked on the bytes.
      bool Over = false;
      Into.AddressData = ElementText(Xml, MaxCardBytes, &Over, &Into.BadCharacter).toUtf8();
      if (Over || Into.AddressData.size() > MaxCardBytes) {
        Into.AddressData = QByteArray();
        Into.TooLarge = true;
      }
    } else {
      SkipElement(Xml);
    }
  }
}

// A propstat whose status is missing or 2xx adds its properties to Into.
void ReadPropStat(QXmlStreamReader& Xml, TDavResponse& Into) {
  TDavResponse Found;
  int Status = 200;
  while (NextStartElement(Xml)) {
    if (Is(Xml, DavNamespace, "prop")) ReadProp(Xml, Found);
    else if (Is(Xml, DavNamespace, "status")) Status = StatusLineCode(ValueText(Xml, Found));
    else SkipElement(Xml);
  }
  Into.TooLarge = Into.TooLarge || Found.TooLarge;
  Into.BadCharacter = Into.BadCharacter || Found.BadCharacter;
  if (Status < 200 || Status > 299) return;
  if (Found.HasResourceType) {
    Into.HasResourceType = true;
    Into.IsCollection = Found.IsCollection;
    Into.IsAddressBook = Found.IsAddressBook;
  }
  auto Take = [](QString& To, const QString& From) {
    if (!From.isEmpty()) To = From;
  };
  Take(Into.Etag, Found.Etag);
  Take(Into.ContentType, Found.ContentType);
  Take(Into.DisplayName, Found.DisplayName);
  Take(Into.SyncToken, Found.SyncToken);
  Take(Into.Principal, Found.Principal);
  if (!Found.HomeSets.isEmpty()) Into.HomeSets = Found.HomeSets;
  if (Found.HasAddressData) {
    Into.HasAddressData = true;
    Into.AddressData = Found.AddressData;
  }
}

// One response element; several hrefs in it share its status.
void ReadResponse(QXmlStreamReader& Xml, const std::function<void(TDavResponse&)>& OnResponse) {
  QStringList Hrefs;
  TDavResponse Common;
  while (NextStartElement(Xml)) {
    if (Is(Xml, DavNamespace, "href")) Hrefs << ValueText(Xml, Common);
    else if (Is(Xml, DavNamespace, "status")) Common.Status = StatusLineCode(ValueText(Xml, Common));
    else if (Is(Xml, DavNamespace, "propstat")) ReadPropStat(Xml, Common);
    else SkipElement(Xml);
  }
  if (Xml.hasError()) return;
  for (qsizetype I = 0; I < Hrefs.size(); ++I) {
    // The last takes the (perhaps large) card rather than a copy.
    TDavResponse One = I + 1 < Hrefs.size() ? Common : std::move(Common);
    One.Href = Hrefs[I];
    OnResponse(One);
  }
}

QByteArray Document(const std::function<void(QXmlStreamWriter&)>& Fill) {
  QByteArray Out;
  QXmlStreamWriter Xml(&Out);
  Xml.writeStartDocument();
  Xml.writeNamespace(QLatin1String(DavNamespace), QStringLiteral("D"));
  Xml.writeNamespace(QLatin1String(CardDavNamespace), QStringLiteral("C"));
  Fill(Xml);
  Xml.writeEndDocument();
  return Out;
}

void WriteProp(QXmlStreamWriter& Xml, const std::vector<TDavProperty>& Properties) {
  Xml.writeStartElement(QLatin1String(DavNamespace), QStringLiteral("prop"));
  for (const auto& [Namespace, Name] : Properties) Xml.writeEmptyElement(QLatin1String(Namespace), QLatin1String(Name));
  Xml.writeEndElement();
}

// RFC 3986's removal of "." and ".." segments from a path.
QString RemoveDotSegments(QString In) {
  QString Out;
  while (!In.isEmpty()) {
    if (In.startsWith(QLatin1String("../"))) {
      In.remove(0, 3);
    } else if (In.startsWith(QLatin1String("./"))) {
      In.remove(0, 2);
    } else if (In.startsWith(QLatin1String("/./"))) {
      In.remove(0, 2);
    } else if (In == QLatin1String("/.")) {
      In = QStringLiteral("/");
    } else if (In.startsWith(QLatin1String("/../")) || In == QLatin1String("/..")) {
      In = QLatin1Char('/') + In.mid(In == QLatin1String("/..") ? 3 : 4);
      const qsizetype Cut = Out.lastIndexOf(QLatin1Char('/'));
      Out.truncate(Cut < 0 ? 0 : Cut);
    } else if (In == QLatin1String(".") || In == QLatin1String("..")) {
      In.clear();
    } else {
      qsizetype Next = In.indexOf(QLatin1Char('/'), In.startsWith(QLatin1Char('/')) ? 1 : 0);
      if (Next < 0) Next = In.size();
      Out += In.left(Next);
      In.remove(0, Next);
    }
  }
  return Out;
}

QString WithoutFragment(const QString& Href) {
  const qsizetype Hash = Href.indexOf(QLatin1Char('#'));
  return Hash < 0 ? Href : Href.left(Hash);
}

}  // namespace

bool ParseMultiStatus(QIODevice& Body, QString& SyncToken, const std::function<void(TDavResponse&)>& OnResponse,
                      QString* Problem) {
  SyncToken.clear();
  TGuardedDevice Device(Body);
  QXmlStreamReader Xml(&Device);
  if (!NextStartElement(Xml) || !Is(Xml, DavNamespace, "multistatus")) {
    if (Problem)
      *Problem = Xml.hasError() ? Xml.errorString() : QStringLiteral("the answer is not a multistatus document");
    return false;
  }
  while (NextStartElement(Xml)) {
    if (Is(Xml, DavNamespace, "response")) {
      ReadResponse(Xml, OnResponse);
    } else if (Is(Xml, DavNamespace, "sync-token")) {
      TDavResponse Token;
      SyncToken = ValueText(Xml, Token);
    } else {
      SkipElement(Xml);
    }
  }
  if (Xml.hasError()) {
    if (Problem)
      *Problem = Xml.error() == QXmlStreamReader::PrematureEndOfDocumentError
                     ? QStringLiteral("the answer is cut short")
                     : Xml.errorString();
    return false;
  }
  return true;
}

bool ParseMultiStatus(const QByteArray& Body, QString& SyncToken, const std::function<void(TDavResponse&)>& OnResponse,
                      QString* Problem) {
  QByteArray Copy = Body;  // shared, not copied
  QBuffer Device(&Copy);
  Device.open(QIODevice::ReadOnly);
  return ParseMultiStatus(Device, SyncToken, OnResponse, Problem);
}

bool ParseMultiStatus(const QByteArray& Body, TMultiStatus& Out, QString* Problem) {
  Out = {};
  return ParseMultiStatus(
      Body, Out.SyncToken, [&Out](TDavResponse& Response) { Out.Responses.push_back(std::move(Response)); }, Problem);
}

QByteArray ProtectCarriageReturns(const QByteArray& Xml) { return TCarriageReturnGuard().Feed(Xml, true); }

namespace {
const QByteArray BadCharacterMark = QByteArray("<b xmlns=\"") + BadCharacterNamespace + "\"/>";
}

QByteArray TCarriageReturnGuard::Feed(QByteArrayView Bytes, bool Last) {
  if (RootClosed) return {};
  QByteArray In;
  if (!Carry.isEmpty()) {
    In = Carry;
    In += Bytes;
    Carry.clear();
    Bytes = In;
  }
  constexpr qsizetype LongRun = 64 * 1024;
  QByteArray Out;
  Out.reserve(Bytes.size() + Bytes.size() / 16);
  const qsizetype Size = Bytes.size();
  // Prefix at I: 1 yes, 0 no, -1 cannot tell yet.
  auto At = [&](qsizetype I, QByteArrayView Prefix) {
    const QByteArrayView Rest = Bytes.sliced(I);
    if (Rest.startsWith(Prefix)) return 1;
    if (!Last && Rest.size() < Prefix.size() && Prefix.startsWith(Rest)) return -1;
    return 0;
  };
  for (qsizetype I = 0; I < Size; ++I) {
    const char C = Bytes[I];
    switch (State) {
      case Text:
        if (C == '\r' && Depth > 0) {
          Out += "&#13;";
          Run += 5;
          continue;
        }
        if (Depth > 0 && uchar(C) < 0x20 && C != '\n' && C != '\t' && C != '\r') {
          Out += BadCharacterMark;
          continue;
        }
        if (C == '<') {
          const int IsCData = At(I, "<![CDATA["), IsComment = At(I, "<!--"), IsBang = At(I, "<!");
          const int IsInstruction = At(I, "<?");
          if (IsCData < 0 || IsComment < 0 || IsBang < 0 || IsInstruction < 0) {
            Carry = Bytes.sliced(I).toByteArray();
            return Out;
          }
          Run = 0;
          InReference = false;
          if (IsCData) {
            Out += "<![CDATA[";
            I += 8;
            State = CData;
            continue;
          }
          State = IsComment ? Comment : IsBang ? Declaration : IsInstruction ? Instruction : Tag;
          EndTag = false;
          LastInTag = 0;
          Prev1 = Prev2 = 0;
          if (State == Comment) {
            Out += "<!--";
            I += 3;
            continue;
          }
          if (State == Tag && I + 1 < Size) {
            EndTag = Bytes[I + 1] == '/';
          } else if (State == Tag && !Last) {
            Carry = Bytes.sliced(I).toByteArray();
            return Out;
          }
          break;
        }
        // A long text goes in pieces, cut where no character or reference is split.
        if (Depth > 0 && Run >= LongRun && !InReference && uchar(C) < 0x80 && C != '&') {
          Out += "<![CDATA[]]>";
          Run = 0;
        }
        if (C == '&') InReference = true;
        else if (C == ';' || C == ' ' || C == '\n') InReference = false;
        ++Run;
        break;
      case Tag:
        if (Quote) {
          if (C == Quote) Quote = 0;
        } else if (C == '"' || C == '\'') {
          Quote = C;
        } else if (C == '>') {
          State = Text;
          if (EndTag) RootClosed = --Depth == 0;
          else if (LastInTag != '/') ++Depth;
          else RootClosed = Depth == 0;  // an empty root
        } else if (C != ' ' && C != '\t' && C != '\n' && C != '\r') {
          LastInTag = C;
        }
        break;
      case Declaration:
        if (Quote) {
          if (C == Quote) Quote = 0;
        } else if (C == '"' || C == '\'') {
          Quote = C;
        } else if (C == '[') {
          ++Brackets;
        } else if (C == ']') {
          if (Brackets > 0) --Brackets;
        } else if (C == '>' && Brackets == 0) {
          State = Text;
        }
        break;
      case Comment:
        if (C == '>' && Prev1 == '-' && Prev2 == '-') State = Text;
        break;
      case Instruction:
        if (C == '>' && Prev1 == '?') State = Text;
        break;
      case CData:
        if (C == '\r') {
          Out += "]]>&#13;<![CDATA[";
          continue;
        }
        if (uchar(C) < 0x20 && C != '\n' && C != '\t') {
          Out += "]]>" + BadCharacterMark + "<![CDATA[";
          continue;
        }
        if (C == ']') {
          const int End = At(I, "]]>");
          if (End < 0) {
            Carry = Bytes.sliced(I).toByteArray();
            return Out;
          }
          if (End) {
            Out += "]]>";
            I += 2;
            State = Text;
            Run = 0;
            continue;
          }
        }
        break;
    }
    Prev2 = Prev1;
    Prev1 = C;
    Out += C;
    if (RootClosed) break;
  }
  return Out;
}

bool HasDavCondition(const QByteArray& Body, QStringView Name) {
  QXmlStreamReader Xml(Body);
  while (!Xml.atEnd()) {
    if (Xml.readNext() == QXmlStreamReader::StartElement && Xml.namespaceUri() == QLatin1String(DavNamespace) &&
        Xml.name() == Name)
      return true;
  }
  return false;
}

QByteArray PropfindBody(const std::vector<TDavProperty>& Properties) {
  return Document([&](QXmlStreamWriter& Xml) {
    Xml.writeStartElement(QLatin1String(DavNamespace), QStringLiteral("propfind"));
    WriteProp(Xml, Properties);
    Xml.writeEndElement();
  });
}

QByteArray SyncCollectionBody(const QString& Token) {
  return Document([&](QXmlStreamWriter& Xml) {
    Xml.writeStartElement(QLatin1String(DavNamespace), QStringLiteral("sync-collection"));
    Xml.writeTextElement(QLatin1String(DavNamespace), QStringLiteral("sync-token"), Token);
    Xml.writeTextElement(QLatin1String(DavNamespace), QStringLiteral("sync-level"), QStringLiteral("1"));
    WriteProp(Xml, {{DavNamespace, "getetag"}, {DavNamespace, "getcontenttype"}, {DavNamespace, "resourcetype"}});
    Xml.writeEndElement();
  });
}

QByteArray MultiGetBody(const QStringList& Hrefs) {
  return Document([&](QXmlStreamWriter& Xml) {
    Xml.writeStartElement(QLatin1String(CardDavNamespace), QStringLiteral("addressbook-multiget"));
    WriteProp(Xml, {{DavNamespace, "getetag"}, {CardDavNamespace, "address-data"}});
    for (const QString& Href : Hrefs) Xml.writeTextElement(QLatin1String(DavNamespace), QStringLiteral("href"), Href);
    Xml.writeEndElement();
  });
}

QString ResolveHref(const QUrl& Base, const QString& Href) {
  const QString Clean = WithoutFragment(Href);
  const qsizetype SchemeEnd = Clean.indexOf(QLatin1String("://"));
  const bool NetworkPath = Clean.startsWith(QLatin1String("//"));
  if (NetworkPath || (SchemeEnd > 0 && !Clean.left(SchemeEnd).contains(QLatin1Char('/')))) {
    const QUrl Target(NetworkPath ? Base.scheme() + QLatin1Char(':') + Clean : Clean);
    const bool SameServer = Target.scheme().compare(Base.scheme(), Qt::CaseInsensitive) == 0 &&
                            Target.host().compare(Base.host(), Qt::CaseInsensitive) == 0 &&
                            Target.port(-1) == Base.port(-1);
    if (!SameServer) return Href;
    const qsizetype AuthorityStart = NetworkPath ? 2 : SchemeEnd + 3;
    const qsizetype PathStart = Clean.indexOf(QLatin1Char('/'), AuthorityStart);
    return PathStart < 0 ? QStringLiteral("/") : Clean.mid(PathStart);
  }
  if (Clean.startsWith(QLatin1Char('/'))) return RemoveDotSegments(Clean);
  QString Directory = Base.path(QUrl::FullyEncoded);
  Directory.truncate(Directory.lastIndexOf(QLatin1Char('/')) + 1);
  if (Directory.isEmpty()) Directory = QStringLiteral("/");
  return RemoveDotSegments(Directory + Clean);
}

QString HrefKey(const QString& Href) {
  static const char Hex[] = "0123456789ABCDEF";
  auto Unreserved = [](uchar C) {
    return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '-' || C == '.' ||
           C == '_' || C == '~';
  };
  // Characters a path may hold as they are: the rest is written as an escape.
  auto Plain = [&](uchar C) { return Unreserved(C) || (C > ' ' && C < 0x7F && strchr("!$&'()*+,;=:@/", C)); };
  auto HexValue = [](char C) {
    return C >= '0' && C <= '9'   ? C - '0'
           : C >= 'A' && C <= 'F' ? C - 'A' + 10
           : C >= 'a' && C <= 'f' ? C - 'a' + 10
                                  : -1;
  };
  const QByteArray In = Href.toUtf8();
  QByteArray Out;
  Out.reserve(In.size());
  auto Escape = [&](uchar C) {
    Out += '%';
    Out += Hex[C >> 4];
    Out += Hex[C & 15];
  };
  for (qsizetype I = 0; I < In.size(); ++I) {
    const uchar C = uchar(In[I]);
    const int High = C == '%' && I + 2 < In.size() ? HexValue(In[I + 1]) : -1;
    const int Low = High >= 0 ? HexValue(In[I + 2]) : -1;
    if (C == '%' && Low >= 0) {
      const uchar Decoded = uchar(High * 16 + Low);
      if (Unreserved(Decoded)) Out += char(Decoded);
      else Escape(Decoded);
      I += 2;
    } else if (Plain(C)) {
      Out += char(C);
    } else {
      Escape(C);  // a '%' that begins no escape among them
    }
  }
  while (Out.size() > 1 && Out.endsWith('/')) Out.chop(1);
  return QString::fromLatin1(Out);
}

bool InsideCollection(const QUrl& Book, const QString& Href) {
  if (!Href.startsWith(QLatin1Char('/')) || HasControlCharacter(Href)) return false;
  const QString Path = RemoveDotSegments(HrefKey(Href));
  QString Folder = RemoveDotSegments(HrefKey(Book.path(QUrl::FullyEncoded)));
  if (!Folder.endsWith(QLatin1Char('/'))) Folder += QLatin1Char('/');
  return Path.size() > Folder.size() && Path.startsWith(Folder);
}

bool HasControlCharacter(QStringView Text) {
  return std::any_of(Text.begin(), Text.end(), [](QChar C) {
    return C.unicode() < 0x20 || C.unicode() == 0x7F || (C.unicode() >= 0x80 && C.unicode() < 0xA0) ||
           C == QChar(0x2028) || C == QChar(0x2029);
  });
}

bool SameHref(const QString& A, const QString& B) { return A == B || HrefKey(A) == HrefKey(B); }

int StatusLineCode(QStringView Line) {
  const auto Parts = Line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
  if (Parts.size() < 2) return 0;
  bool Ok = false;
  const int Code = Parts[1].toInt(&Ok);
  return Ok ? Code : 0;
}
