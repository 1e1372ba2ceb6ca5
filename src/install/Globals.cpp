#include "install.h"

BOOL g_bSilent = 1;
BOOL g_bDefaultArgs = 0;
BOOL g_bCfgMode = 0;
BOOL g_bUsageOnly = 0;
BOOL g_bRemoveMode = 0;
DWORD g_dwEngIDs = BOTH_OSKA_BRIN;

void ResetGlobals()
{
    g_bSilent = 1;
    g_bDefaultArgs = 0;
    g_bCfgMode = 0;
    g_bUsageOnly = 0;
    g_bRemoveMode = 0;
    g_dwEngIDs = BOTH_OSKA_BRIN;
    g_dwOSType = 0;
    g_szFileList[0] = '\0';
    g_bGuardEngineFiles = FALSE;
}
