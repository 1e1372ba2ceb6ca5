// The scheduling step of a copy pass: from the long names of a staged copy and its target to a
// replacement request, unless one is already pending. Requests carry short names, which every
// platform's restart-time replacement can read.
#include "reboot.h"

#include "install/install.h"
#include "support/support.h"

// Short form of pszLong into szShort (MAX_PATH). On failure szShort is empty and *pdwError holds
// the reason; a short name longer than the buffer counts as a failure, since the buffer then
// holds nothing usable.
static BOOL GetShortName(const char* pszLong, char* szShort, DWORD* pdwError)
{
    szShort[0] = '\0';
    SetLastError(NO_ERROR);
    DWORD cch = g_pfnGetShortPathNameA(pszLong, szShort, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH)
    {
        DWORD dwError = GetLastError();
        if (cch >= MAX_PATH || dwError == NO_ERROR)
            dwError = ERROR_INSUFFICIENT_BUFFER;
        *pdwError = dwError;
        szShort[0] = '\0';
        return FALSE;
    }
    szShort[MAX_PATH - 1] = '\0';
    *pdwError = NO_ERROR;
    return TRUE;
}

void ScheduleReplacement(const char* pszStaged, const char* pszTarget, char* pszRegBuf)
{
    char szFile[MAX_PATH];
    char szEngFile[MAX_PATH];
    DWORD dwError;

    BOOL bHaveFile = GetShortName(pszStaged, szFile, &dwError);
    if (bHaveFile)
        WriteLog("Orvane: GetShortPathName %s of szFile:%s \n", szFile, pszStaged);
    else
        WriteLog("Orvane: GetShortPathName szFile:%s fail: %d\n", pszStaged, (int)dwError);

    BOOL bHaveEngFile = GetShortName(pszTarget, szEngFile, &dwError);
    if (bHaveEngFile)
        WriteLog("Orvane: GetShortPathName %s of szEngFile:%s \n", szEngFile, pszTarget);
    else
        WriteLog("Orvane: GetShortPathName szEngFile:%s fail: %d\n", pszTarget, (int)dwError);

    // Without both names a request would name the wrong file, or none; the staged copy stays
    // and a later run may schedule it.
    if (!bHaveFile || !bHaveEngFile)
        return;

    MbsUpper(szFile);
    MbsUpper(szEngFile);
    if (pszRegBuf)
        MbsUpper(pszRegBuf);

    if (CanYouFindMe(szEngFile, pszRegBuf))
    {
        // Found may mean half a request, left by a run stopped between its two operations.
        if (g_dwOSType == OSID_NT351 || g_dwOSType == OSID_NT4 || g_dwOSType == OSID_W2K)
            CompleteLoneDeletion(szFile, szEngFile);
        else if ((g_dwOSType == OSID_W95 || g_dwOSType == OSID_W98 || g_dwOSType == OSID_WME) &&
                 CompleteLoneRenameLine(szEngFile))
            WriteLog("RemoveFileOnReboot: rename of [%s] pending without its deletion, add it\n",
                     szEngFile);
        return;
    }
    RemoveFileOnReboot(szFile, szEngFile);
}
