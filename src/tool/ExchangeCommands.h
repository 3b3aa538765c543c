#pragma once

// tobrinel-book export --format vcard|csv BOOK [OUT]
// tobrinel-book import --format vcard|csv BOOK [IN]

extern const char* const ExchangeUsage;

bool IsExchangeCommand(const char* Command);
// Runs export or import; returns the exit status.
int RunExchangeCommand(int argc, char** argv);
