#pragma once

#include <string>
#include <vector>

#include "ReportLayout.h"

// A laid-out report read back as names and numbers, for comparing in tests.
struct TProbeBand {
  int Page;
  std::string Name;
  double Top;
  double Height;
};

inline std::vector<TProbeBand> ProbeBands(const TReportLayout& Layout) {
  std::vector<TProbeBand> Result;
  for (int Page = 0; Page < Layout.PageCount(); ++Page) {
    const TPlacedBand* Bands = Layout.PageBands(Page);
    for (uint32_t b = 0; b < Layout.Pages[Page].BandCount; ++b)
      Result.push_back({Page, Layout.BandNames[Bands[b].Band].toStdString(), Bands[b].Top, Bands[b].Height});
  }
  return Result;
}

inline const TPlacedBand& PlacedBand(const TReportLayout& Layout, int Page, int Index) {
  return Layout.PageBands(Page)[Index];
}

// The placed element of that name in a placed band, or nullptr.
inline const TPlacedElement* FindElement(const TReportLayout& Layout, const TPlacedBand& Band, const char* Name) {
  const TPlacedElement* Elements = Layout.BandElements(Band);
  for (uint16_t e = 0; e < Band.ElementCount; ++e)
    if (Layout.Design[Elements[e].Element].Name == QLatin1String(Name)) return &Elements[e];
  return nullptr;
}

inline std::string TextIn(const TReportLayout& Layout, const TPlacedBand& Band, const char* Name) {
  const TPlacedElement* E = FindElement(Layout, Band, Name);
  return E ? Layout.TextOf(*E).toString().toStdString() : std::string("<none>");
}
