#pragma once

// tobrinel-book print BOOK OUT.pdf [--from N] [--to N] [--header TEXT] [--footer TEXT]
// Arguments: the words after "print". Returns the exit status.
int PrintCommand(int argc, char** argv);

extern const char* const PrintUsage;
