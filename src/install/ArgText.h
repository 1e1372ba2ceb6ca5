// The argument text: taking it off the command line and interpreting its switches. Pure text
// work over the process-wide flags, kept apart from the configuration file and the rest of the
// run so that it also builds natively for the sanitizer run in tests/host/. Other folders reach
// it through install.h.
#pragma once

#include "../support/runmode.h" // the engine sets and the flags the parser sets

// The argument text of a full command line: the program name removed (a quoted name runs to the
// next quote), and every character of code 32 or less after it skipped.
const char* GetArgumentText(const char* pszCommandLine);

// Interprets pszCmdLine. Fills szProductName and szPath (MAX_PATH each, upper-cased name, path in
// its own case) and writes *pbAddRefCount. Returns 0 when the text is acceptable, -1 when not.
int ParseCmdLine(const char* pszCmdLine, char* szProductName, BOOL* pbAddRefCount, char* szPath);
