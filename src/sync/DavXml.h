#pragma once

// The WebDAV and CardDAV XML that the CardDAV client sends and reads, and the
// rules for the hrefs in it. No network here, so every answer a server may
// give is tested on its own.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <utility>
#include <vector>

inline constexpr char DavNamespace[] = "DAV:";
inline constexpr char CardDavNamespace[] = "urn:ietf:params:xml:ns:carddav";

// One href of a multistatus answer with what was said about it. Properties
// count only when their propstat has a 2xx status (or none).
struct TDavResponse {
  QString Href;  // as the server wrote it
  int Status = 0;  // the response's own status, e.g. 404 for a removed member; 0 when it has none
  bool HasResourceType = false;
  bool IsCollection = false;
  bool IsAddressBook = false;
  QString Etag;
  QString ContentType;
  QString DisplayName;
  QString SyncToken;
  QString Principal;  // current-user-principal
  QStringList HomeSets;  // addressbook-home-set
  bool HasAddressData = false;
  QByteArray AddressData;  // UTF-8, line ends as the server sent them
};

struct TMultiStatus {
  std::vector<TDavResponse> Responses;
  QString SyncToken;  // the sync-collection answer's new token
};

// False with a one-line Problem when Body is not a multistatus document.
bool ParseMultiStatus(const QByteArray& Body, TMultiStatus& Out, QString* Problem = nullptr);
// The same, each response handed to OnResponse as it is read rather than
// kept, for listings of thousands of cards.
bool ParseMultiStatus(const QByteArray& Body, QString& SyncToken,
                      const std::function<void(TDavResponse&)>& OnResponse, QString* Problem = nullptr);

// XML turns every raw CR into LF, but a vCard's CR LF line ends must reach
// the caller as the server sent them: CRs in text become character
// references, CRs in CDATA sections are split out of them. Markup is left alone.
QByteArray ProtectCarriageReturns(const QByteArray& Xml);

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
// The form SameHref compares, for hrefs looked up by the thousand.
QString HrefKey(const QString& Href);
// The status code of a status line such as "HTTP/1.1 404 Not Found", 0 when unreadable.
int StatusLineCode(QStringView Line);
