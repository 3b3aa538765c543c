// Feeds arbitrary bytes to the DAV XML reader as a server's answer, whole and
// a few bytes at a time: both must read it or refuse it alike, and nothing may crash.
#include <QBuffer>

#include <cstdlib>

#include "DavXml.h"
#include "Trickle.h"

namespace {

QByteArray Summary(const TDavResponse& R) {
  return R.Href.toUtf8() + '|' + QByteArray::number(R.Status) + '|' + R.Etag.toUtf8() + '|' + R.SyncToken.toUtf8() +
         '|' + R.Principal.toUtf8() + '|' + R.HomeSets.join(',').toUtf8() + '|' + R.AddressData + '|' +
         char('0' + R.IsAddressBook + 2 * R.IsCollection + 4 * R.TooLarge + 8 * R.BadCharacter);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const QByteArray Body(reinterpret_cast<const char*>(Data), qsizetype(Size));
  QByteArray Whole, Pieced;
  QString Token, PiecedToken;
  const bool Read = ParseMultiStatus(Body, Token, [&](TDavResponse& R) { Whole += Summary(R) + '\n'; });
  TTrickle Device(Body);
  const bool PiecedRead = ParseMultiStatus(Device, PiecedToken, [&](TDavResponse& R) { Pieced += Summary(R) + '\n'; });
  // A broken answer may fail at another point when read in pieces; a whole one reads the same.
  if (Read != PiecedRead || (Read && (Whole != Pieced || Token != PiecedToken))) abort();
  for (const QByteArray& Line : Whole.split('\n')) {
    const QString Href = QString::fromUtf8(Line.left(Line.indexOf('|')));
    (void)InsideCollection(QUrl(QStringLiteral("http://h/dav/book/")),
                           ResolveHref(QUrl(QStringLiteral("http://h/dav/book/")), Href));
    if (HrefKey(HrefKey(Href)) != HrefKey(Href)) abort();  // the normal form is normal
  }
  (void)HasDavCondition(Body, u"valid-sync-token");
  return 0;
}
