// The argument text: taking it off the command line and interpreting its switches. Pure text
// work over the process-wide flags, kept apart from the configuration file and the rest of the
// run so that it also builds natively for the sanitizer run in tests/host/. Other folders reach
// it through install.h.
#pragma once

#include "../support/runmode.h" // the engine sets and the flags the parser sets

// The argument text of a full command line: the program name removed (a quoted name runs to the
// next quote), and every character of code 32 or less after it skipped.
const char* GetArgumentText(const char* pszCommandLine);

// The non-silent switch in pszText: the first of "/NS", "/Ns", "/nS" and "/ns" (in that order,
// not by position) that occurs on a character boundary; NULL when none does.
const char* FindNoSilentSwitch(const char* pszText);

// Interprets pszCmdLine. Fills szProductName and szPath (MAX_PATH each, upper-cased name, path in
// its own case) and writes *pbAddRefCount. Returns 0 when the text is acceptable, -1 when not.
int ParseCmdLine(const char* pszCmdLine, char* szProductName, BOOL* pbAddRefCount, char* szPath);

// The same for a caller that has already looked for the non-silent switch: pszNoSilent is
// FindNoSilentSwitch's answer on pszCmdLine (a pointer into it, or NULL).
int ParseSwitchText(const char* pszCmdLine, const char* pszNoSilent, char* szProductName,
                    BOOL* pbAddRefCount, char* szPath);
