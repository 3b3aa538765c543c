#pragma once

#include <QString>
#include <functional>
#include <optional>

// What a caller asks the dialling window to dial.
struct TDialRequest {
  QString DialName;      // first name, a space and surname; empty from the dial pad
  QString DialLocation;  // "Home Telephone Number", ..., "Direct Dialing"
  QString DialNumber;    // as stored or typed
  // True for an internal extension, which never gets the outside-line prefix;
  // unset leaves the dialling window's last value.
  std::optional<bool> NoOutsideLine;
};

// Shows the dialling window modally for one request.
using TDialFunction = std::function<void(const TDialRequest&)>;

extern const char* const HomeLocation;
extern const char* const BusinessLocation;
extern const char* const ExtensionLocation;
extern const char* const MobileLocation;
extern const char* const DirectLocation;
