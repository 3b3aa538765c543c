#include "DavXml.h"

#include <QBuffer>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <functional>

namespace {

bool Is(const QXmlStreamReader& Xml, const char* Namespace, const char* Name) {
  return Xml.namespaceUri() == QLatin1String(Namespace) && Xml.name() == QLatin1String(Name);
}

// The text of a simple element, its children's text included; leaves the
// reader on its end element.
QString ElementText(QXmlStreamReader& Xml) {
  return Xml.readElementText(QXmlStreamReader::IncludeChildElements);
}

// The href children of the element the reader is on.
QStringList ChildHrefs(QXmlStreamReader& Xml) {
  QStringList Hrefs;
  while (Xml.readNextStartElement()) {
    if (Is(Xml, DavNamespace, "href"))
      Hrefs << ElementText(Xml).trimmed();
    else
      Xml.skipCurrentElement();
  }
  return Hrefs;
}

void ReadResourceType(QXmlStreamReader& Xml, TDavResponse& Into) {
  Into.HasResourceType = true;
  while (Xml.readNextStartElement()) {
    if (Is(Xml, DavNamespace, "collection")) Into.IsCollection = true;
    if (Is(Xml, CardDavNamespace, "addressbook")) Into.IsAddressBook = true;
    Xml.skipCurrentElement();
  }
}

void ReadProp(QXmlStreamReader& Xml, TDavResponse& Into) {
  while (Xml.readNextStartElement()) {
    if (Is(Xml, DavNamespace, "resourcetype")) {
      ReadResourceType(Xml, Into);
    } else if (Is(Xml, DavNamespace, "getetag")) {
      Into.Etag = ElementText(Xml).trimmed();
    } else if (Is(Xml, DavNamespace, "getcontenttype")) {
      Into.ContentType = ElementText(Xml).trimmed();
    } else if (Is(Xml, DavNamespace, "displayname")) {
      Into.DisplayName = ElementText(Xml).trimmed();
    } else if (Is(Xml, DavNamespace, "sync-token")) {
      Into.SyncToken = ElementText(Xml).trimmed();
    } else if (Is(Xml, DavNamespace, "current-user-principal")) {
      const QStringList Hrefs = ChildHrefs(Xml);
      if (!Hrefs.isEmpty()) Into.Principal = Hrefs.first();
    } else if (Is(Xml, CardDavNamespace, "addressbook-home-set")) {
      Into.HomeSets = ChildHrefs(Xml);
    } else if (Is(Xml, CardDavNamespace, "address-data")) {
      Into.HasAddressData = true;
      Into.AddressData = ElementText(Xml).toUtf8();  // never trimmed: the text is kept as it is
    } else {
      Xml.skipCurrentElement();
    }
  }
}

// A propstat whose status is missing or 2xx adds its properties to Into.
void ReadPropStat(QXmlStreamReader& Xml, TDavResponse& Into) {
  TDavResponse Found;
  int Status = 200;
  while (Xml.readNextStartElement()) {
    if (Is(Xml, DavNamespace, "prop"))
      ReadProp(Xml, Found);
    else if (Is(Xml, DavNamespace, "status"))
      Status = StatusLineCode(ElementText(Xml).trimmed());
    else
      Xml.skipCurrentElement();
  }
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
  while (Xml.readNextStartElement()) {
    if (Is(Xml, DavNamespace, "href"))
      Hrefs << ElementText(Xml).trimmed();
    else if (Is(Xml, DavNamespace, "status"))
      Common.Status = StatusLineCode(ElementText(Xml).trimmed());
    else if (Is(Xml, DavNamespace, "propstat"))
      ReadPropStat(Xml, Common);
    else
      Xml.skipCurrentElement();
  }
  for (const QString& Href : Hrefs) {
    TDavResponse One = Common;
    One.Href = Href;
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
  for (const auto& [Namespace, Name] : Properties)
    Xml.writeEmptyElement(QLatin1String(Namespace), QLatin1String(Name));
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

bool ParseMultiStatus(const QByteArray& Body, QString& SyncToken,
                      const std::function<void(TDavResponse&)>& OnResponse, QString* Problem) {
  SyncToken.clear();
  // Read through a device, the reader decodes a block at a time rather than
  // the whole answer at once (a listing of 10,000 cards is megabytes).
  QByteArray Protected = ProtectCarriageReturns(Body);
  QBuffer Device(&Protected);
  Device.open(QIODevice::ReadOnly);
  QXmlStreamReader Xml(&Device);
  if (!Xml.readNextStartElement() || !Is(Xml, DavNamespace, "multistatus")) {
    if (Problem)
      *Problem = Xml.hasError() ? Xml.errorString() : QStringLiteral("the answer is not a multistatus document");
    return false;
  }
  while (Xml.readNextStartElement()) {
    if (Is(Xml, DavNamespace, "response"))
      ReadResponse(Xml, OnResponse);
    else if (Is(Xml, DavNamespace, "sync-token"))
      SyncToken = ElementText(Xml).trimmed();
    else
      Xml.skipCurrentElement();
  }
  if (Xml.hasError()) {
    if (Problem) *Problem = Xml.errorString();
    return false;
  }
  return true;
}

bool ParseMultiStatus(const QByteArray& Body, TMultiStatus& Out, QString* Problem) {
  Out = {};
  return ParseMultiStatus(
      Body, Out.SyncToken, [&Out](TDavResponse& Response) { Out.Responses.push_back(std::move(Response)); }, Problem);
}

QByteArray ProtectCarriageReturns(const QByteArray& Xml) {
  if (!Xml.contains('\r')) return Xml;
  enum { Text, Tag, Comment, CData, Instruction } State = Text;
  char Quote = 0;
  QByteArray Out;
  Out.reserve(Xml.size() + Xml.size() / 16);
  const qsizetype Size = Xml.size();
  auto At = [&](qsizetype I, const char* Prefix) { return QByteArrayView(Xml).sliced(I).startsWith(Prefix); };
  for (qsizetype I = 0; I < Size; ++I) {
    const char C = Xml[I];
    switch (State) {
      case Text:
        if (C == '\r') {
          Out += "&#13;";
          continue;
        }
        if (C == '<') {
          if (At(I, "<![CDATA[")) {
            Out += "<![CDATA[";
            I += 8;
            State = CData;
            continue;
          }
          State = At(I, "<!--") ? Comment : At(I, "<?") ? Instruction : Tag;
        }
        break;
      case Tag:
        if (Quote) {
          if (C == Quote) Quote = 0;
        } else if (C == '"' || C == '\'') {
          Quote = C;
        } else if (C == '>') {
          State = Text;
        }
        break;
      case Comment:
        if (C == '>' && I >= 2 && Xml[I - 1] == '-' && Xml[I - 2] == '-') State = Text;
        break;
      case Instruction:
        if (C == '>' && Xml[I - 1] == '?') State = Text;
        break;
      case CData:
        if (C == '\r') {
          Out += "]]>&#13;<![CDATA[";
          continue;
        }
        if (At(I, "]]>")) {
          Out += "]]>";
          I += 2;
          State = Text;
          continue;
        }
        break;
    }
    Out += C;
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
  QString Decoded = QUrl::fromPercentEncoding(Href.toUtf8());
  while (Decoded.size() > 1 && Decoded.endsWith(QLatin1Char('/'))) Decoded.chop(1);
  return Decoded;
}

bool SameHref(const QString& A, const QString& B) { return A == B || HrefKey(A) == HrefKey(B); }

int StatusLineCode(QStringView Line) {
  const auto Parts = Line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
  if (Parts.size() < 2) return 0;
  bool Ok = false;
  const int Code = Parts[1].toInt(&Ok);
  return Ok ? Code : 0;
}
