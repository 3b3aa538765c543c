#pragma once

// The WebDAV and CardDAV XML that the CardDAV client sends and reads, and the
// rules for the hrefs in it. No network here, so every answer a server may
// give is tested on its own.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

class QIODevice;

#include <functional>
#include <utility>
#include <vector>

inline constexpr char DavNamespace[] = "DAV:";
inline constexpr char CardDavNamespace[] = "urn:ietf:params:xml:ns:carddav";

// One href of a multistatus answer with what was said about it. Properties
// count only when their propstat has a 2xx status (or none).
struct TDavResponse {
  QString Href;    // as the server wrote it
  int Status = 0;  // the response's own status, e.g. 404 for a removed member; 0 when it has none
  bool HasResourceType = false;
  bool IsCollection = false;
  bool IsAddressBook = false;
  QString Etag;
  QString ContentType;
  QString DisplayName;
  QString SyncToken;
  QString Principal;     // current-user-principal
  QStringList HomeSets;  // addressbook-home-set
  bool HasAddressData = false;
  QByteArray AddressData;  // UTF-8, line ends as the server sent them
  // A value longer than its limit (a card over MaxCardBytes, any other over
  // MaxValueBytes) was dropped, not kept in part.
  bool TooLarge = false;
  // A value held a character XML cannot carry (a NUL, say): it is not whole.
  bool BadCharacter = false;
};

// The card readers take lines of up to 8 MB; a card longer than that is not read.
inline constexpr qsizetype MaxCardBytes = 8 * 1024 * 1024;
inline constexpr qsizetype MaxValueBytes = 64 * 1024;
inline constexpr char BadCharacterNamespace[] = "urn:x-tobrinel:bad-character";

struct TMultiStatus {
  std::vector<TDavResponse> Responses;
  QString SyncToken;  // the sync-collection answer's new token
};

// False with a one-line Problem when Body is not a multistatus document.
bool ParseMultiStatus(const QByteArray& Body, TMultiStatus& Out, QString* Problem = nullptr);
// The same, each response handed to OnResponse as it is read rather than
// kept, for listings of thousands of cards.
bool ParseMultiStatus(const QByteArray& Body, QString& SyncToken, const std::function<void(TDavResponse&)>& OnResponse,
                      QString* Problem = nullptr);
// The same, read from Body as it arrives (a network reply): only the response
// being read is held, whatever the answer's length or depth.
bool ParseMultiStatus(QIODevice& Body, QString& SyncToken, const std::function<void(TDavResponse&)>& OnResponse,
                      QString* Problem = nullptr);

// XML turns every raw CR into LF, but a vCard's CR LF line ends must reach
// the caller as the server sent them: CRs in text become character
// references, CRs in CDATA sections are split out of them. Markup is left alone.
// Whitespace before the root element is left as it is (a character
// reference is not allowed there). Nothing after the root element's end is
// passed on: a reader that saw it would judge the answer by how far it had
// read ahead (badly encoded bytes there fail it only when they come in the
// same read as the end). A control character XML cannot
// carry, in an element's text, becomes an empty element in a namespace of our
// own, so that the one value it is in is marked rather than the whole answer lost.
QByteArray ProtectCarriageReturns(const QByteArray& Xml);

// The same a piece at a time, for an answer read as it arrives. Long runs of
// text are cut by empty CDATA sections, which the reader hands out as pieces
// of their own, so no single piece of text grows without bound.
class TCarriageReturnGuard {
public:
  // What can be passed on of the bytes so far; Last: nothing more comes.
  QByteArray Feed(QByteArrayView Bytes, bool Last);
  // The root element has ended: nothing more is passed on.
  bool Closed() const { return RootClosed; }

private:
  enum EState { Text, Tag, Comment, CData, Instruction, Declaration };
  EState State = Text;
  char Quote = 0;
  bool EndTag = false;  // the tag being read is </...>
  char LastInTag = 0;   // its last character outside quotes, '/' for <.../>
  int Depth = 0;        // elements open
  int Brackets = 0;     // a declaration's internal subset open
  char Prev1 = 0, Prev2 = 0;
  bool InReference = false;
  bool RootClosed = false;
  qsizetype Run = 0;  // bytes of text since the last markup
  QByteArray Carry;   // bytes that need what follows to be understood
};

// True when an error body names the DAV: precondition Name (e.g. "valid-sync-token").
bool HasDavCondition(const QByteArray& Body, QStringView Name);

// Request bodies. A property is a (namespace, local name) pair.
using TDavProperty = std::pair<const char*, const char*>;
QByteArray PropfindBody(const std::vector<TDavProperty>& Properties);
QByteArray SyncCollectionBody(const QString& Token);
QByteArray MultiGetBody(const QStringList& Hrefs);

// An href made absolute against the URL it answers: a path from the root with
// its percent-encoding as the server wrote it, or the href unchanged when it
// names another server. Fragments are dropped.
QString ResolveHref(const QUrl& Base, const QString& Href);
// Two hrefs name the same resource (percent-encoding and a trailing slash aside).
bool SameHref(const QString& A, const QString& B);
// The form SameHref compares, for hrefs looked up by the thousand: the
// percent-encoding normalised (RFC 3986: escapes of unreserved characters
// decoded, every other character that needs one escaped, hex in capitals)
// and a trailing slash dropped.
QString HrefKey(const QString& Href);
// True when Href (as ResolveHref gives it) is a member of the collection at
// Book: on its server, and its path under the collection's once "." and ".."
// segments, written plainly or percent-encoded, are resolved. The collection
// itself is not inside.
bool InsideCollection(const QUrl& Book, const QString& Href);
// True when Text holds a line break or another control character, which may
// never reach a request header.
bool HasControlCharacter(QStringView Text);
// The status code of a status line such as "HTTP/1.1 404 Not Found", 0 when unreadable.
int StatusLineCode(QStringView Line);
