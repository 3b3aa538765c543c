#pragma once

// tobrinel-book export --format vcard|csv BOOK [OUT]
// tobrinel-book import --format vcard|csv BOOK [IN]

extern const char* const ContactUsage;

bool IsContactCommand(const char* Command);
// Runs export or import; returns the exit status.
int RunContactCommand(int argc, char** argv);
