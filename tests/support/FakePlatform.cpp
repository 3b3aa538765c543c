#include "FakePlatform.h"

#include <QFile>

#include "ProgramPaths.h"
#include "SerialDrv.h"

TFakePlatform::TFakePlatform() {
  SetPrompter(&Prompter);
  SetFileDialogs(&Dialogs);
  SetHelpService(&Help);
  SetTickCounter(&Ticks);
  SetPrinterInfo(&Printers);
  SetFontDialogs(&Fonts);
  SetPrinterSetup(&PrinterChoice);
  SetSecretStore(&Secrets);
  SetProgramPathOverride(Folder.filePath(QStringLiteral("tobrinel")));
  // No real serial port: only the ports a test links under ports/ exist.
  TSerialPortDriver::SetPortsFolder(Folder.path());
  TSerialPortDriver::SetPortFallback([](int) { return std::string(); });
}

TFakePlatform::~TFakePlatform() {
  SetPrompter(nullptr);
  SetFileDialogs(nullptr);
  SetHelpService(nullptr);
  SetTickCounter(nullptr);
  SetPrinterInfo(nullptr);
  SetFontDialogs(nullptr);
  SetPrinterSetup(nullptr);
  SetSecretStore(nullptr);
  SetProgramPathOverride(QString());
  TSerialPortDriver::SetPortsFolder(QString());
  TSerialPortDriver::SetPortFallback(nullptr);
}

QString TFakePlatform::SettingsFile() const { return Folder.filePath(QStringLiteral("tobrinel.INI")); }

void TFakePlatform::WriteSettings(const QString& Content) const {
  QFile File(SettingsFile());
  // Settings lines end with carriage return and line feed.
  QString Text = Content;
  Text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  if (File.open(QIODevice::WriteOnly | QIODevice::Truncate)) File.write(Text.toUtf8());
}

QString TFakePlatform::ReadSettings() const {
  QFile File(SettingsFile());
  if (!File.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(File.readAll()).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

void TFakePlatform::CreateHelpFile() const {
  QFile File(Folder.filePath(QStringLiteral("tobrinel.HLP")));
  if (File.open(QIODevice::WriteOnly)) File.write("<html><a name=\"ctx9\"></a></html>");
}
