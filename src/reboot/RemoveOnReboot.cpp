// A replacement at restart is two operations: delete the target, then rename the staged copy to
// the target's name. The rename is asked for without permission to replace, so it can only take
// effect once the target is gone; and a deletion carried out without its rename would leave the
// machine without the file. Both routes therefore record the rename or nothing.
#include "reboot.h"
#include "PendingStore.h"

#include "support/support.h"

static const char s_szSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
static const WCHAR s_wszPendingValue[] = L"PendingFileRenameOperations";

// The path of an entry of the pending list: the system stores each path behind the "\??\" prefix
// of its object names.
static const WCHAR* PendingPathOf(const WCHAR* pwszEntry)
{
    if (pwszEntry[0] == L'\\' && pwszEntry[1] == L'?' && pwszEntry[2] == L'?' &&
        pwszEntry[3] == L'\\')
        return pwszEntry + 4;
    return pwszEntry;
}

// TRUE when an entry of the pending list names the same file as wszTarget.
static BOOL IsSamePendingPath(const WCHAR* pwszEntry, const WCHAR* pwszTarget)
{
    return lstrcmpiW(PendingPathOf(pwszEntry), pwszTarget) == 0;
}

// Reads PendingFileRenameOperations in its stored UTF-16 form into a heap buffer with two spare
// NUL characters, so a walk over it always ends. Returns NULL when there is no such list; the
// caller frees the buffer and, when phKey is given, closes the key opened for writing.
static WCHAR* ReadPendingList(DWORD* pcch, HKEY* phKey)
{
    HKEY hKey;
    REGSAM sam = KEY_QUERY_VALUE | (phKey ? KEY_SET_VALUE : 0);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, s_szSessionManagerKey, 0, sam, &hKey) != ERROR_SUCCESS)
        return NULL;
    WCHAR* pwszList = NULL;
    DWORD dwType = 0;
    DWORD cb = 0;
    if (RegQueryValueExW(hKey, s_wszPendingValue, NULL, &dwType, NULL, &cb) == ERROR_SUCCESS &&
        dwType == REG_MULTI_SZ)
        pwszList = (WCHAR*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, cb + 2 * sizeof(WCHAR));
    if (pwszList && RegQueryValueExW(hKey, s_wszPendingValue, NULL, NULL, (BYTE*)pwszList, &cb) !=
                        ERROR_SUCCESS)
    {
        HeapFree(GetProcessHeap(), 0, pwszList);
        pwszList = NULL;
    }
    if (pwszList && phKey)
        *phKey = hKey;
    else
        RegCloseKey(hKey);
    *pcch = cb / sizeof(WCHAR);
    return pwszList;
}

// TRUE when the list already holds this very request: the deletion of the target directly
// followed by the rename of the staged copy to it. A second copy of it would delete the freshly
// renamed file at restart and then find no staged copy to put in its place.
static BOOL IsRequestPending(const char* pszExisting, const char* pszTarget)
{
    WCHAR wszExisting[MAX_PATH];
    WCHAR wszTarget[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, pszExisting, -1, wszExisting, MAX_PATH) ||
        !MultiByteToWideChar(CP_ACP, 0, pszTarget, -1, wszTarget, MAX_PATH))
        return FALSE;
    DWORD cch = 0;
    WCHAR* pwszList = ReadPendingList(&cch, NULL);
    if (!pwszList)
        return FALSE;
    // Up to four strings of two pairs, in list order.
    const WCHAR* apwsz[4] = {NULL, NULL, NULL, NULL};
    BOOL bPending = FALSE;
    for (DWORD i = 0; i < cch && pwszList[i] && !bPending;)
    {
        for (int n = 0; n < 2 && i < cch; n++)
        {
            apwsz[0] = apwsz[1];
            apwsz[1] = apwsz[2];
            apwsz[2] = apwsz[3];
            apwsz[3] = pwszList + i;
            i += lstrlenW(pwszList + i) + 1;
        }
        bPending = apwsz[0] && IsSamePendingPath(apwsz[0], wszTarget) && apwsz[1][0] == L'\0' &&
                   IsSamePendingPath(apwsz[2], wszExisting) &&
                   IsSamePendingPath(apwsz[3], wszTarget);
    }
    HeapFree(GetProcessHeap(), 0, pwszList);
    return bPending;
}

// Steps from *pi over one pair of the pending list: a source, then its destination (empty for a
// deletion, with a leading "!" when the move may replace its target). FALSE at the list's end or
// at a source that has no destination left in the value.
static BOOL NextPendingPair(const WCHAR* pwszList, DWORD cch, DWORD* pi, DWORD* piSource,
                            DWORD* piDest)
{
    DWORD i = *pi;
    if (i >= cch || !pwszList[i])
        return FALSE;
    *piSource = i;
    i += lstrlenW(pwszList + i) + 1;
    if (i >= cch)
        return FALSE;
    *piDest = i;
    *pi = i + lstrlenW(pwszList + i) + 1;
    return TRUE;
}

// Stores the list read from hKey without its strings from iStart up to iEnd; the value goes when
// nothing is left, as before the first request. TRUE when stored.
static BOOL CutPendingList(HKEY hKey, WCHAR* pwszList, DWORD cch, DWORD iStart, DWORD iEnd)
{
    if (iEnd > cch)
        iEnd = cch;
    MoveMemory(pwszList + iStart, pwszList + iEnd, (cch - iEnd) * sizeof(WCHAR));
    DWORD cchLeft = cch - (iEnd - iStart);
    // Nothing but the list's terminator left.
    if (cchLeft == 0 || pwszList[0] == L'\0')
        return RegDeleteValueW(hKey, s_wszPendingValue) == ERROR_SUCCESS;
    return RegSetValueExW(hKey, s_wszPendingValue, 0, REG_MULTI_SZ, (const BYTE*)pwszList,
                          cchLeft * sizeof(WCHAR)) == ERROR_SUCCESS;
}

// Takes the strings that pfnFind picks for pszName (from *piStart up to *piEnd) out of
// PendingFileRenameOperations. The value is read and written in its stored UTF-16 form, so the
// entries of other programs are written back unchanged even where they hold characters that the
// ANSI code page lacks. Returns TRUE when they were taken out.
static BOOL CutFromPendingList(const char* pszName,
                               BOOL (*pfnFind)(const WCHAR*, DWORD, const WCHAR*, DWORD*, DWORD*))
{
    WCHAR wszName[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, pszName, -1, wszName, MAX_PATH))
        return FALSE;
    HKEY hKey = NULL;
    DWORD cch = 0;
    WCHAR* pwszList = ReadPendingList(&cch, &hKey);
    if (!pwszList)
        return FALSE;
    DWORD iStart = 0, iEnd = 0;
    BOOL bCut = pfnFind(pwszList, cch, wszName, &iStart, &iEnd) &&
                CutPendingList(hKey, pwszList, cch, iStart, iEnd);
    HeapFree(GetProcessHeap(), 0, pwszList);
    RegCloseKey(hKey);
    return bCut;
}

// What the list asks for the file pwszTarget names.
struct PENDING_FOR
{
    BOOL bDeletion;     // a deletion of it (the pair: target, empty name)
    BOOL bRename;       // a rename to it
    BOOL bDeletedLast;  // the last pair that names it, as source or destination, is its deletion
    DWORD iDeletion;    // the last deletion pair, from here
    DWORD iDeletionEnd; // up to here
};

static void ScanPendingFor(const WCHAR* pwszList, DWORD cch, const WCHAR* pwszTarget,
                           PENDING_FOR* pFor)
{
    ZeroMemory(pFor, sizeof(*pFor));
    DWORD iSource, iDest;
    for (DWORD i = 0; NextPendingPair(pwszList, cch, &i, &iSource, &iDest);)
    {
        const WCHAR* pwszSource = pwszList + iSource;
        const WCHAR* pwszDest = pwszList + iDest;
        // A rename that may replace its target is stored with a leading "!".
        if (pwszDest[0] == L'!')
            pwszDest++;
        if (pwszDest[0] == L'\0')
        {
            if (IsSamePendingPath(pwszSource, pwszTarget))
            {
                pFor->bDeletion = pFor->bDeletedLast = TRUE;
                pFor->iDeletion = iSource;
                pFor->iDeletionEnd = i;
            }
        }
        else if (IsSamePendingPath(pwszDest, pwszTarget))
        {
            pFor->bRename = TRUE;
            pFor->bDeletedLast = FALSE;
        }
        else if (IsSamePendingPath(pwszSource, pwszTarget))
        {
            pFor->bDeletedLast = FALSE;
        }
    }
}

// Reads the list and scans it for pszTarget; FALSE when there is no list to read.
static BOOL ReadPendingFor(const char* pszTarget, PENDING_FOR* pFor)
{
    WCHAR wszTarget[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, pszTarget, -1, wszTarget, MAX_PATH))
        return FALSE;
    DWORD cch = 0;
    WCHAR* pwszList = ReadPendingList(&cch, NULL);
    if (!pwszList)
        return FALSE;
    ScanPendingFor(pwszList, cch, wszTarget, pFor);
    HeapFree(GetProcessHeap(), 0, pwszList);
    return TRUE;
}

WCHAR* ReadPendingRenames(DWORD* pcch)
{
    return ReadPendingList(pcch, NULL);
}

BOOL IsPendingDeletionLast(const WCHAR* pwszList, DWORD cch, const char* pszTarget)
{
    WCHAR wszTarget[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, pszTarget, -1, wszTarget, MAX_PATH))
        return FALSE;
    PENDING_FOR pendingFor;
    ScanPendingFor(pwszList, cch, wszTarget, &pendingFor);
    return pendingFor.bDeletedLast;
}

// The last deletion of pwszTarget.
static BOOL FindLastDeletionPair(const WCHAR* pwszList, DWORD cch, const WCHAR* pwszTarget,
                                 DWORD* piStart, DWORD* piEnd)
{
    PENDING_FOR pendingFor;
    ScanPendingFor(pwszList, cch, pwszTarget, &pendingFor);
    *piStart = pendingFor.iDeletion;
    *piEnd = pendingFor.iDeletionEnd;
    return pendingFor.bDeletion;
}

// The deletion of pwszTarget when it is the last pair that names the file.
static BOOL FindTrailingDeletionPair(const WCHAR* pwszList, DWORD cch, const WCHAR* pwszTarget,
                                     DWORD* piStart, DWORD* piEnd)
{
    PENDING_FOR pendingFor;
    ScanPendingFor(pwszList, cch, pwszTarget, &pendingFor);
    *piStart = pendingFor.iDeletion;
    *piEnd = pendingFor.iDeletionEnd;
    return pendingFor.bDeletedLast;
}

// The first rename of the staged copy pwszStaged, with the deletion of its target just before it.
static BOOL FindReplacementPairs(const WCHAR* pwszList, DWORD cch, const WCHAR* pwszStaged,
                                 DWORD* piStart, DWORD* piEnd)
{
    DWORD iPrevSource = 0, iPrevDest = 0;
    BOOL bPrev = FALSE;
    DWORD iSource, iDest;
    for (DWORD i = 0; NextPendingPair(pwszList, cch, &i, &iSource, &iDest);)
    {
        const WCHAR* pwszDest = pwszList + iDest;
        if (pwszDest[0] == L'!')
            pwszDest++;
        if (pwszDest[0] != L'\0' && IsSamePendingPath(pwszList + iSource, pwszStaged))
        {
            BOOL bWithDeletion = bPrev && pwszList[iPrevDest] == L'\0' &&
                                 IsSamePendingPath(pwszList + iPrevSource, PendingPathOf(pwszDest));
            *piStart = bWithDeletion ? iPrevSource : iSource;
            *piEnd = i;
            return TRUE;
        }
        iPrevSource = iSource;
        iPrevDest = iDest;
        bPrev = TRUE;
    }
    return FALSE;
}

static BOOL WithdrawPendingDeletion(const char* pszTarget)
{
    return CutFromPendingList(pszTarget, FindLastDeletionPair);
}

// The state a run stopped between its two delayed moves leaves: the deletion of pszTarget is
// recorded but no rename to it follows anywhere in the list. The restart would delete the target
// and put nothing in its place, and a later run's lookup finds the target and asks for nothing.
// Such a deletion gets the rename it lacks; TRUE when it was added.
BOOL CompleteLoneDeletion(const char* pszExisting, const char* pszTarget)
{
    PENDING_FOR pendingFor;
    if (!ReadPendingFor(pszTarget, &pendingFor) || !pendingFor.bDeletion || pendingFor.bRename)
        return FALSE;

    WriteLog("RemoveFileOnReboot: deletion of [%s] pending without its rename, add it\n",
             pszTarget);
    if (!g_pfnMoveFileExA(pszExisting, pszTarget, MOVEFILE_DELAY_UNTIL_REBOOT))
    {
        // The restart would delete the file with nothing to replace it: better no deletion.
        if (WithdrawPendingDeletion(pszTarget))
            WriteLog("RemoveFileOnReboot: deletion of [%s] withdrawn\n", pszTarget);
        else
            WriteLog("RemoveFileOnReboot: can't withdraw deletion of [%s]\n", pszTarget);
        return FALSE;
    }
    WriteLog("RemoveFileOnReboot: MoveFileEx\n");
    return TRUE;
}

BOOL RemoveFileOnReboot(const char* pszExisting, const char* pszTarget)
{
    WriteLog("RemoveFileOnReboot: from pszExisting [%s] to [%s] \n", pszExisting, pszTarget);

    // The copy pass looks requests up in a snapshot taken at its start, so it may ask twice
    // for the same file (both engine DLLs of a section in use stage the same signature pair).
    if (IsRequestPending(pszExisting, pszTarget))
    {
        WriteLog("RemoveFileOnReboot: [%s] already pending\n", pszTarget);
        return TRUE;
    }

    if (g_pfnMoveFileExA(pszTarget, NULL, MOVEFILE_DELAY_UNTIL_REBOOT))
    {
        BOOL bResult = g_pfnMoveFileExA(pszExisting, pszTarget, MOVEFILE_DELAY_UNTIL_REBOOT);
        if (bResult)
        {
            WriteLog("RemoveFileOnReboot: MoveFileEx\n");
            return bResult;
        }
        if (WithdrawPendingDeletion(pszTarget))
            WriteLog("RemoveFileOnReboot: deletion of [%s] withdrawn\n", pszTarget);
        else
            WriteLog("RemoveFileOnReboot: can't withdraw deletion of [%s]\n", pszTarget);
    }

    WriteLog("RemoveFileOnReboot: Win9x\n");
    // The rename line first: the deletion line goes in only once its rename is there, and,
    // inserted under the header after it, still stands above it.
    if (!AddWinInitRename(pszExisting, pszTarget))
        return FALSE;
    return AddWinInitRename(pszTarget, NULL);
}

// TRUE when the restart already deletes pszPath after every replacement that is pending for it:
// the list's last pair that names the file is its deletion. A second request would be carried
// out on a file that is no longer there; harmless, but a removal run again must leave the list
// as one run leaves it.
static BOOL IsDeletionLastForPath(const char* pszPath)
{
    PENDING_FOR pendingFor;
    return ReadPendingFor(pszPath, &pendingFor) && pendingFor.bDeletedLast;
}

BOOL WithdrawLastPendingDeletion(const char* pszTarget)
{
    return CutFromPendingList(pszTarget, FindTrailingDeletionPair);
}

BOOL WithdrawPendingReplacement(const char* pszStaged)
{
    return CutFromPendingList(pszStaged, FindReplacementPairs);
}

BOOL DeleteFileOnReboot(const char* pszPath)
{
    // The short, upper-case name, as the copy pass names the file in its replacements, so that a
    // later lookup sees the deletion and the replacements of the one file under one name.
    char szShort[MAX_PATH];
    DWORD cchShort = g_pfnGetShortPathNameA(pszPath, szShort, sizeof(szShort));
    BOOL bShort = cchShort != 0 && cchShort < sizeof(szShort);
    if (!bShort)
        WriteLog("DeleteFileOnReboot: GetShortPathName [%s] fail: %d\n", pszPath,
                 (int)GetLastError());
    else
        MbsUpper(szShort);
    const char* pszName = bShort ? szShort : pszPath;
    WriteLog("DeleteFileOnReboot: [%s]\n", pszName);
    if (IsDeletionLastForPath(pszName))
    {
        WriteLog("DeleteFileOnReboot: [%s] already pending\n", pszName);
        return TRUE;
    }
    // The system appends the request to its list, after every replacement already pending for
    // the file: the restart puts a staged copy in place first and then deletes the file.
    if (g_pfnMoveFileExA(pszName, NULL, MOVEFILE_DELAY_UNTIL_REBOOT))
    {
        WriteLog("DeleteFileOnReboot: MoveFileEx\n");
        return TRUE;
    }

    WriteLog("DeleteFileOnReboot: Win9x\n");
    // WININIT.INI is read by a DOS program: 8.3 names only.
    if (!bShort || !AddWinInitDeletion(szShort))
    {
        WriteLog("DeleteFileOnReboot: can't write WININIT.INI for [%s]\n", pszName);
        return FALSE;
    }
    return TRUE;
}
