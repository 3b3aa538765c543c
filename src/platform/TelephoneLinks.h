#pragma once

#include <QString>

// The desktop's telephone application: whatever opens tel: links (a paired
// mobile phone through KDE Connect, a softphone, GNOME Calls), found and
// started through the desktop's own tools (xdg-mime, xdg-open from xdg-utils).
class ITelephoneLinks {
public:
  virtual ~ITelephoneLinks() = default;
  // The desktop entry that opens tel: links ("org.gnome.Calls.desktop");
  // empty when none does.
  virtual QString Handler() = 0;
  // Hands the link to that application; false when it could not be started.
  virtual bool Open(const QString& Link) = 0;
};

ITelephoneLinks& TelephoneLinks();
// Installs another one (tests); nullptr restores the desktop's.
void SetTelephoneLinks(ITelephoneLinks* Replacement);
