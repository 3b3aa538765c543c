#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "DialNumber.h"

namespace {

struct TCase {
  const char* Country;
  const char* Stored;
  const char* Digits;     // what the modem dials with extensions allowed
  const char* Extension;  // split off
  const char* LeftOut;    // not dialled
  const char* Link;       // handed to the desktop's telephone application
};

// Several countries as the caller's, numbers with and without "+", trunk and
// international prefixes that differ, extensions in each form, vanity numbers, remarks.
const std::vector<TCase> Cases = {
    // Own country: the national form with its trunk prefix.
    {"GB", "+44 20 7946 0000", "02079460000", "", "", "tel:+442079460000"},
    {"DE", "+49 171 5551234", "01715551234", "", "", "tel:+491715551234"},
    {"RU", "+7 495 123 45 67", "84951234567", "", "", "tel:+74951234567"},
    {"AU", "+61 2 9876 5432", "0298765432", "", "", "tel:+61298765432"},
    {"IT", "+39 06 1234 5678", "0612345678", "", "", "tel:+390612345678"},  // the 0 is the number's own
    {"US", "+1 (555) 765-4321", "15557654321", "", "", "tel:+15557654321"},
    {"CA", "+1 212 555 0100", "12125550100", "", "", "tel:+12125550100"},  // one calling code, two countries
    {"GB", "+44 (0)20 7946 0000", "02079460000", "", "", "tel:+442079460000"},
    {"GB", "+44 20 7946", "0207946", "", "", "tel:+44207946"},  // too short for a format: the prefix still
    {"GB",
     "+44\xC2\xA0"
     "20\xE2\x80\x93"
     "7946 0000",
     "02079460000", "", "", "tel:+442079460000"},
    // Another country: the caller's international prefix.
    {"GB", "+33 1 23 45 67 89", "0033123456789", "", "", "tel:+33123456789"},
    {"US", "+33 1 23 45 67 89", "01133123456789", "", "", "tel:+33123456789"},
    {"JP", "+61 2 9876 5432",
     "0106129876"
     "5432",
     "", "", "tel:+61298765432"},
    {"AT", "+49 171 5551234", "00491715551234", "", "", "tel:+491715551234"},
    {"DE", "+44 (0)20 7946 0000", "00442079460000", "", "", "tel:+442079460000"},
    {"FR", "+39 06 1234 5678",
     "0039061234"
     "5678",
     "", "", "tel:+390612345678"},
    // Without "+": the digits as stored; the link in the caller's country.
    {"GB", "020 7946 0000", "02079460000", "", "", "tel:+442079460000"},
    {"US", "123", "123", "", "", "tel:123"},
    {"GB", "(9) 1#", "91#", "", "", "tel:91%23"},
    {"GB", "1*2,3", "1*2,3", "", "", "tel:1*2;ext=3"},  // after a pause: the extension
    {"GB", " - - ", "", "", "", ""},
    // Extensions.
    {"GB", "020 7946 0001 ext. 12", "02079460001,,,12", "12", "", "tel:+442079460001;ext=12"},
    {"US", "+1 (555) 765-4321 ext. 1098", "15557654321,,,1098", "1098", "", "tel:+15557654321;ext=1098"},
    {"GB", "020 7946 0001 x12", "02079460001,,,12", "12", "", "tel:+442079460001;ext=12"},
    {"GB", "02079460001X 12", "02079460001,,,12", "12", "", "tel:+442079460001;ext=12"},
    {"GB", "020 7946 0001 Extension: 12 34", "02079460001,,,1234", "1234", "", "tel:+442079460001;ext=1234"},
    {"GB", "020 7946 0001 ext 12 (reception)", "02079460001,,,12", "12", "(reception)", "tel:+442079460001;ext=12"},
    {"GB", "tel:+44-20-7946-0001;ext=12", "02079460001,,,12", "12", "", "tel:+442079460001;ext=12"},
    {"GB", "+44 20 7946 0001;ext=12", "02079460001,,,12", "12", "", "tel:+442079460001;ext=12"},
    {"GB", "x456", "456", "", "", "tel:456"},  // the extension's own box
    // Vanity numbers: letters in place of digits.
    {"GB", "0800 FLOWERS", "08003569377", "", "", "tel:+448003569377"},
    {"US", "1-800-CALL-NOW", "18002255669", "", "", "tel:+18002255669"},
    {"US", "+1-800-call-now", "18002255669", "", "", "tel:+18002255669"},
    {"US", "ab-c", "222", "", "", "tel:222"},
    // Words and remarks are not dialled.
    {"DE", "0171 555 (mobil)", "0171555", "", "(mobil)", "tel:0171555"},  // too short to be sure of: as stored
    {"GB", "home 0171 555", "0171555", "", "home", "tel:0171555"},
    {"GB", "01234 567890 evenings only", "01234567890", "", "evenings only", "tel:+441234567890"},
    {"DE", "Mobil: +49 171 5551234", "01715551234", "", "Mobil:", "tel:+491715551234"},
    {"GB", "Tel. 020 7946 0000", "02079460000", "", "Tel.", "tel:+442079460000"},
    {"GB", "B\xC3\xBCro 020 7946 0000", "02079460000", "", "B\xC3\xBCro", "tel:+442079460000"},
    {"GB", "+44 20 7946 0000 / +44 20 7946 0001", "02079460000", "", "/ +44 20 7946 0001", "tel:+442079460000"},
    {"GB", "020 7946 0000; 020 7946 0001", "02079460000", "", "020 7946 0001", "tel:+442079460000"},
    {"GB", "0171/555 123", "0171555123", "", "", "tel:0171555123"},  // a slash inside one number
};

}  // namespace

TEST(DialNumber, DigitsExtensionRemarksAndLinks) {
  for (const TCase& Case : Cases) {
    const TDialNumber Number = ReadDialNumber(Case.Stored, Case.Country);
    SCOPED_TRACE(std::string(Case.Country) + " " + Case.Stored);
    EXPECT_EQ(DialDigits(Number, true), Case.Digits);
    EXPECT_EQ(Number.Extension, Case.Extension);
    EXPECT_EQ(Number.LeftOut, Case.LeftOut);
    EXPECT_EQ(TelLink(Number, Case.Country), Case.Link);
    EXPECT_FALSE(Number.PlusUnread);
  }
}

TEST(DialNumber, ExtensionNotDialledIsTold) {
  const TDialNumber Number = ReadDialNumber("+1 (555) 765-4321 ext. 1098 (office)", "US");
  EXPECT_EQ(DialDigits(Number, false), "15557654321");
  EXPECT_EQ(DialNote(Number, false),
            "Extension 1098 is not dialled (Allow Extension Dialling is off). Not dialled: (office)");
  EXPECT_EQ(DialNote(Number, true), "Not dialled: (office)");
  EXPECT_EQ(DialNote(ReadDialNumber("0800 FLOWERS", "GB"), false), "");
}

// A "+" number no country has falls back to the keypad rule, and says so.
TEST(DialNumber, UnreadPlusIsTold) {
  for (const char* Stored : {"+999 123", "+", "+44 *21#"}) {
    const TDialNumber Number = ReadDialNumber(Stored, "GB");
    EXPECT_TRUE(Number.PlusUnread) << Stored;
    EXPECT_TRUE(Number.International.empty()) << Stored;
    EXPECT_EQ(DialNote(Number, true), "No country has this number's code: it is dialled without its \"+\".");
  }
  const TDialNumber Unknown = ReadDialNumber("+999 123", "GB");
  EXPECT_EQ(DialDigits(Unknown, true), "999123");
  EXPECT_EQ(TelLink(Unknown, "GB"), "tel:+999123");
  // An unknown caller's country reads as the United States.
  EXPECT_EQ(DialDigits(ReadDialNumber("+33 1 23 45 67 89", "QQ"), true), "01133123456789");
}

TEST(DialNumber, CountriesAndTheLocale) {
  const std::vector<std::string> Countries = DiallingCountries();
  EXPECT_GT(Countries.size(), 200u);
  for (const char* Country : {"GB", "US", "DE", "JP", "BR"}) EXPECT_TRUE(IsDiallingCountry(Country)) << Country;
  EXPECT_FALSE(IsDiallingCountry("QQ"));
  EXPECT_FALSE(IsDiallingCountry(""));
  EXPECT_EQ(CallingCode("GB"), 44);
  EXPECT_EQ(CallingCode("US"), 1);

  const std::vector<std::pair<const char*, const char*>> Locales = {
      // clang-format off
      {"en_GB.UTF-8", "GB"}, {"de_AT@euro", "AT"}, {"pt_BR", "BR"}, {"sr_RS.UTF-8@latin", "RS"},
      {"C", ""},  {"POSIX", ""}, {"C.UTF-8", ""},   {"en", ""}, {"xx_QQ.UTF-8", ""}, {"", ""},
  };
  // clang-format on
  for (const auto& [Locale, Country] : Locales) EXPECT_EQ(LocaleCountry(Locale), Country) << Locale;

  struct TEnvironment {
    const char *All, *Telephone, *Lang, *Country;
  };
  for (const TEnvironment& Env : std::vector<TEnvironment>{{nullptr, nullptr, "de_DE.UTF-8", "DE"},
                                                           {"fr_FR.UTF-8", nullptr, "de_DE.UTF-8", "FR"},
                                                           {"C.UTF-8", nullptr, "en_IE.UTF-8", "IE"},
                                                           {nullptr, "en_NZ.UTF-8", "en_GB.UTF-8", "NZ"},
                                                           {nullptr, nullptr, nullptr, "US"},
                                                           {"C", nullptr, "POSIX", "US"}}) {
    const std::pair<const char*, const char*> Variables[] = {
        {"LC_ALL", Env.All}, {"LC_TELEPHONE", Env.Telephone}, {"LANG", Env.Lang}};
    for (const auto& [Name, Value] : Variables) {
      if (Value) setenv(Name, Value, 1);
      else unsetenv(Name);
    }
    EXPECT_EQ(DefaultCountry(), Env.Country);
  }
}
