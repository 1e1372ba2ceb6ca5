// The argument text: taking it off the command line and interpreting its switches. Pure text
// work over the process-wide flags, kept apart from the configuration file and the rest of the
// run so that it also builds natively for the sanitizer run in tests/host/. Other folders reach
// it through install.h.
#pragma once

#include "../support/mbcs.h"

// Engine sets (g_dwEngIDs).
enum
{
    OSKA_ONLY = 1,
    BRIN_ONLY = 2,
    BOTH_OSKA_BRIN = 3,
};

// The process-wide flags the parser reads and sets (defined with the others in Globals.cpp).
extern BOOL g_bSilent;      // 1: no message boxes, no usage dialog after bad arguments
extern BOOL g_bDefaultArgs; // default mode: no leading "/", or /NS alone
extern BOOL g_bCfgMode;     // /CFG configuration mode
extern DWORD g_dwEngIDs;    // engine set

// The argument text of a full command line: the program name removed (a quoted name runs to the
// next quote), and every character of code 32 or less after it skipped.
const char* GetArgumentText(const char* pszCommandLine);

// Interprets pszCmdLine. Fills szProductName and szPath (MAX_PATH each, upper-cased name, path in
// its own case) and writes *pbAddRefCount. Returns 0 when the text is acceptable, -1 when not.
int ParseCmdLine(const char* pszCmdLine, char* szProductName, BOOL* pbAddRefCount, char* szPath);
