#include "HelpService.h"

#if __has_include("HelpViewer.h")
#include "HelpViewer.h"
#define TOBRINEL_HAVE_VIEWER 1
#endif

namespace {

class TViewerHelp : public IHelpService {
public:
#ifdef TOBRINEL_HAVE_VIEWER
  void ShowContents(const QString& HelpFile) override { THelpViewer::ShowContents(HelpFile); }
  void ShowContext(const QString& HelpFile, int Context) override { THelpViewer::ShowContext(HelpFile, Context); }
#else
  // Until the viewer is built there is nothing to open.
  void ShowContents(const QString&) override {}
  void ShowContext(const QString&, int) override {}
#endif
};

TViewerHelp RealHelp;
IHelpService* Installed = nullptr;

}  // namespace

IHelpService& HelpService() { return Installed ? *Installed : RealHelp; }
void SetHelpService(IHelpService* Replacement) { Installed = Replacement; }
