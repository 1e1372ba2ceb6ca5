// The run's mode as the argument text sets it: the engine set and the flags of the parser. The
// driver's parser (install/ArgText.cpp) sets them and every floor may read them; they live here,
// at the bottom, so that no floor has to reach up into the driver for them. Holds nothing that
// needs more than the integer types, so the text routines still build natively (tests/host/).
#pragma once

#include "mbcs.h"

// Engine sets (g_dwEngIDs).
enum
{
    OSKA_ONLY = 1,
    BRIN_ONLY = 2,
    BOTH_OSKA_BRIN = 3,
};

// Defined with the driver's other process-wide flags (install/Globals.cpp).
extern BOOL g_bSilent;      // 1: no message boxes, no usage dialog after bad arguments
extern BOOL g_bDefaultArgs; // default mode: no leading "/", or /NS alone
extern BOOL g_bCfgMode;     // /CFG configuration mode
extern DWORD g_dwEngIDs;    // engine set
