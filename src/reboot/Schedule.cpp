// The scheduling step of a copy pass: from the long names of a staged copy and its target to a
// replacement request, unless one is already pending. Requests carry short names, which every
// platform's restart-time replacement can read; a target that does not exist yet has none.
#include "reboot.h"
#include "PendingStore.h"

#include "support/support.h"

#include <stdio.h>
#include <string.h>

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

// Every request names its file by the short form, upper case, so that the requests of one file
// made by the copy pass, by a removal and by the pending view all carry one name. The letter case
// is set here alone, for the names the platform gives and for those formed by hand.
static void FormRequestName(const char* pszGiven, char* szName)
{
    if (szName != pszGiven)
        MbsCopy(szName, MAX_PATH, pszGiven);
    MbsUpper(szName);
}

BOOL GetRequestName(const char* pszPath, char* szName, char* szGiven, DWORD* pdwError)
{
    char szShort[MAX_PATH];
    char* pszShort = szGiven ? szGiven : szShort;
    if (!GetShortName(pszPath, pszShort, pdwError))
    {
        szName[0] = '\0';
        return FALSE;
    }
    FormRequestName(pszShort, szName);
    return TRUE;
}

BOOL JoinRequestName(const char* pszDirShort, size_t cchDir, const char* pszLeaf, char* szName,
                     char* szGiven)
{
    char szJoined[MAX_PATH];
    char* pszJoined = szGiven ? szGiven : szJoined;
    size_t cchLeaf = strlen(pszLeaf);
    szName[0] = pszJoined[0] = '\0';
    if (cchDir + 1 + cchLeaf >= MAX_PATH)
        return FALSE;
    memcpy(pszJoined, pszDirShort, cchDir);
    pszJoined[cchDir] = '\\';
    memcpy(pszJoined + cchDir + 1, pszLeaf, cchLeaf + 1);
    FormRequestName(pszJoined, szName);
    return TRUE;
}

BOOL IsShortFormName(const char* pszName)
{
    size_t cchBase = 0, cchExt = 0;
    BOOL bDot = FALSE;
    for (size_t i = 0; pszName[i] != '\0'; i++)
    {
        unsigned char ch = (unsigned char)pszName[i];
        if (!MbsIsTrailByte(pszName, i))
        {
            if (ch == '.')
            {
                if (bDot || cchBase == 0)
                    return FALSE;
                bDot = TRUE;
                continue;
            }
            if (ch <= ' ' || strchr("\"*+,/:;<=>?[\\]|", ch) != NULL)
                return FALSE;
        }
        if (bDot)
            cchExt++;
        else
            cchBase++;
    }
    return cchBase >= 1 && cchBase <= 8 && cchExt <= 3 && (!bDot || cchExt >= 1);
}

// A target that does not exist yet (a signature file staged with its DLL before it was ever
// installed) has no short name. The name its request uses goes into szEngFile (MAX_PATH), upper
// case as every request name: the long name on the NT family; where the request must use short
// names (WININIT.INI), the directory's short path and the file name when that is a valid 8.3
// name. Where neither can be had, the staged copy is put in place at once, since nothing can hold
// a file that does not exist; FALSE then, and there is nothing to schedule.
static BOOL NameMissingTarget(const char* pszStaged, const char* pszTarget, char* szEngFile)
{
    if (!Is9xFamilyPlatform())
    {
        FormRequestName(pszTarget, szEngFile);
        WriteLog("Orvane: szEngFile:%s does not exist yet, using its long name\n", pszTarget);
        return TRUE;
    }

    BOOL bNamed = FALSE;
    const char* pszSlash = MbsRChr(pszTarget, '\\');
    if (pszSlash && IsShortFormName(pszSlash + 1))
    {
        char szDir[MAX_PATH];
        char szDirShort[MAX_PATH];
        DWORD dwError;
        // "C:\" names a drive's root, "C:" its current directory.
        size_t cchDir = (size_t)(pszSlash - pszTarget);
        BOOL bRoot = cchDir == 2 && pszTarget[1] == ':';
        if (bRoot)
            cchDir++;
        memcpy(szDir, pszTarget, cchDir); // shorter than the target, which fits MAX_PATH
        szDir[cchDir] = '\0';
        if (!GetShortName(szDir, szDirShort, &dwError))
        {
            WriteLog("Orvane: GetShortPathName of the directory of szEngFile:%s fail: %d\n",
                     pszTarget, (int)dwError);
        }
        else
        {
            // A root's short path ends in its separator, another directory's does not.
            size_t cchDirShort = strlen(szDirShort);
            if (bRoot && cchDirShort > 0 && szDirShort[cchDirShort - 1] == '\\')
                cchDirShort--;
            char szGiven[MAX_PATH];
            bNamed = JoinRequestName(szDirShort, cchDirShort, pszSlash + 1, szEngFile, szGiven);
            if (bNamed)
                WriteLog("Orvane: szEngFile:%s does not exist yet, using %s\n", pszTarget, szGiven);
            else
                WriteLog("Orvane: szEngFile:%s does not exist yet and its short form is longer "
                         "than %d characters\n",
                         pszTarget, MAX_PATH - 1);
        }
    }
    else
    {
        WriteLog("Orvane: szEngFile:%s does not exist yet and is no 8.3 name for WININIT.INI\n",
                 pszTarget);
    }
    if (bNamed)
        return TRUE;

    szEngFile[0] = '\0';
    if (MoveFileA(pszStaged, pszTarget))
        WriteLog("Orvane: File Move from [%s] to [%s] Successfully, nothing can hold it\n",
                 pszStaged, pszTarget);
    else
        WriteLog("Orvane: Can't MoveFile from [%s] to [%s] with error [%d]\n", pszStaged, pszTarget,
                 (int)GetLastError());
    return FALSE;
}

void ScheduleReplacement(const char* pszStaged, const char* pszTarget, char* pszRegBuf)
{
    char szFile[MAX_PATH], szGivenFile[MAX_PATH];
    char szEngFile[MAX_PATH], szGivenEngFile[MAX_PATH];
    DWORD dwError;

    BOOL bHaveFile = GetRequestName(pszStaged, szFile, szGivenFile, &dwError);
    if (bHaveFile)
        WriteLog("Orvane: GetShortPathName %s of szFile:%s \n", szGivenFile, pszStaged);
    else
        WriteLog("Orvane: GetShortPathName szFile:%s fail: %d\n", pszStaged, (int)dwError);

    BOOL bHaveEngFile = GetRequestName(pszTarget, szEngFile, szGivenEngFile, &dwError);
    if (bHaveEngFile)
        WriteLog("Orvane: GetShortPathName %s of szEngFile:%s \n", szGivenEngFile, pszTarget);
    else
        WriteLog("Orvane: GetShortPathName szEngFile:%s fail: %d\n", pszTarget, (int)dwError);

    // Without both names a request would name the wrong file, or none; the staged copy stays
    // and a later run may schedule it. A target that is not there yet has no short name, but
    // left unscheduled its staged copy would never arrive: the DLL it belongs with would stand
    // alone after the restart.
    if (!bHaveFile)
        return;
    if (!bHaveEngFile)
    {
        if (dwError != ERROR_FILE_NOT_FOUND || PathExists(pszTarget) ||
            !NameMissingTarget(pszStaged, pszTarget, szEngFile))
            return;
    }

    if (pszRegBuf)
        MbsUpper(pszRegBuf);

    if (CanYouFindMe(szEngFile, pszRegBuf))
    {
        // Found may mean half a request, left by a run stopped between its two operations.
        if (IsNtFamilyPlatform())
            CompleteLoneDeletion(szFile, szEngFile);
        else if (Is9xFamilyPlatform() && CompleteLoneRenameLine(szEngFile))
            WriteLog("RemoveFileOnReboot: rename of [%s] pending without its deletion, add it\n",
                     szEngFile);
        return;
    }
    RemoveFileOnReboot(szFile, szEngFile);
}

BOOL WithdrawReplacement(const char* pszStaged)
{
    char szName[MAX_PATH];
    DWORD dwError;
    if (!GetRequestName(pszStaged, szName, NULL, &dwError))
        return FALSE;
    if (Is9xFamilyPlatform())
        return WithdrawWinInitReplacement(szName);
    return WithdrawPendingReplacement(szName);
}
