#pragma once

// A desktop session of the test's own: a home folder where whatever might be
// written lands, a D-Bus session bus, and on it a GNOME Keyring whose login
// keyring is empty and unlocked with a password it is given, so that nothing
// asks. Everything started ends with the session, or at Stop.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

class TPrivateSession {
public:
  // Points HOME and the XDG data and configuration folders into the session's home.
  TPrivateSession();
  ~TPrivateSession();
  TPrivateSession(const TPrivateSession&) = delete;
  TPrivateSession& operator=(const TPrivateSession&) = delete;

  QString Home() const { return Folder.path(); }
  // Starts dbus-daemon and makes it the session bus. With Services, the
  // standard session configuration, which starts an installed service on its
  // first call; without, a bus that starts nothing, as on a desktop without a
  // keyring. Before the application object is made: a bus is found once.
  // Empty when it runs, else why not.
  QString StartBus(bool Services);
  // Starts gnome-keyring-daemon on a bus with Services and waits until the desktop's
  // secret store answers (so after the application object is made). Empty
  // when it runs, else why not.
  QString StartKeyring();
  void Stop();

private:
  QTemporaryDir Folder;
  QProcess Bus, Keyring;
};
