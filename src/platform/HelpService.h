#pragma once

#include <QString>

// The help viewer: the help file at its contents or at a context number.
class IHelpService {
public:
  virtual ~IHelpService() = default;
  virtual void ShowContents(const QString& HelpFile) = 0;
  virtual void ShowContext(const QString& HelpFile, int Context) = 0;
};

IHelpService& HelpService();
void SetHelpService(IHelpService* Replacement);
