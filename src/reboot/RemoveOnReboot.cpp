// A replacement at restart is two operations: delete the target, then rename the staged copy to
// the target's name. The rename is asked for without permission to replace, so it can only take
// effect once the target is gone; and a deletion carried out without its rename would leave the
// machine without the file. Both routes therefore record the rename or nothing.
#include "reboot.h"
#include "PendingStore.h"

#include "support/support.h"

// TRUE when an entry of the pending list names the same file as wszTarget.
static BOOL IsSamePendingPath(const WCHAR* pwszEntry, const WCHAR* pwszTarget)
{
    return lstrcmpiW(PendingPathOf(pwszEntry), pwszTarget) == 0;
}

// A name of the ANSI code page in the list's UTF-16 form, into wszName (MAX_PATH).
static BOOL ToListForm(const char* pszName, WCHAR* wszName)
{
    return MultiByteToWideChar(CP_ACP, 0, pszName, -1, wszName, MAX_PATH) != 0;
}

// TRUE when the list already holds this very request: the deletion of the target directly
// followed by the rename of the staged copy to it. A second copy of it would delete the freshly
// renamed file at restart and then find no staged copy to put in its place.
static BOOL IsRequestPending(const char* pszExisting, const char* pszTarget)
{
    WCHAR wszExisting[MAX_PATH];
    WCHAR wszTarget[MAX_PATH];
    if (!ToListForm(pszExisting, wszExisting) || !ToListForm(pszTarget, wszTarget))
        return FALSE;
    PENDING_LIST list;
    ReadPendingList(&list);
    BOOL bPending = FALSE;
    PENDING_PAIR prev, pair;
    BOOL bPrev = FALSE;
    for (DWORD i = 0; !bPending && NextPendingPair(&list, &i, &pair) && pair.pwszDest;
         prev = pair, bPrev = TRUE)
    {
        bPending = bPrev && IsSamePendingPath(prev.pwszSource, wszTarget) &&
                   prev.pwszDest[0] == L'\0' && IsSamePendingPath(pair.pwszSource, wszExisting) &&
                   IsSamePendingPath(pair.pwszDest, wszTarget);
    }
    FreePendingList(&list);
    return bPending;
}

static void ScanListFor(const PENDING_LIST* pList, const WCHAR* pwszTarget, PENDING_FOR* pFor)
{
    ZeroMemory(pFor, sizeof(*pFor));
    PENDING_PAIR pair;
    for (DWORD i = 0; NextPendingPair(pList, &i, &pair) && pair.pwszDest;)
    {
        const WCHAR* pwszDest = pair.pwszDest;
        // A rename that may replace its target is stored with a leading "!".
        if (pwszDest[0] == L'!')
            pwszDest++;
        if (pwszDest[0] == L'\0')
        {
            if (IsSamePendingPath(pair.pwszSource, pwszTarget))
            {
                pFor->bDeletion = pFor->bDeletedLast = TRUE;
                pFor->iDeletion = pair.iStart;
                pFor->iDeletionEnd = pair.iEnd;
            }
        }
        else if (IsSamePendingPath(pwszDest, pwszTarget))
        {
            pFor->bRename = TRUE;
            pFor->bDeletedLast = FALSE;
        }
        else if (IsSamePendingPath(pair.pwszSource, pwszTarget))
        {
            pFor->bDeletedLast = FALSE;
        }
    }
}

BOOL ScanPendingFor(const PENDING_LIST* pList, const char* pszName, PENDING_FOR* pFor)
{
    ZeroMemory(pFor, sizeof(*pFor));
    WCHAR wszName[MAX_PATH];
    if (!pList->pwszList || !ToListForm(pszName, wszName))
        return FALSE;
    ScanListFor(pList, wszName, pFor);
    return TRUE;
}

// Reads the list and scans it for pszTarget; FALSE when there is no list to read.
static BOOL ReadPendingFor(const char* pszTarget, PENDING_FOR* pFor)
{
    PENDING_LIST list;
    ReadPendingList(&list);
    BOOL bRead = ScanPendingFor(&list, pszTarget, pFor);
    FreePendingList(&list);
    return bRead;
}

// The last deletion of pwszTarget; with bOnlyLast, only when it is also the last pair that names
// the file.
static BOOL FindLastDeletionPair(const PENDING_LIST* pList, const WCHAR* pwszTarget, BOOL bOnlyLast,
                                 DWORD* piStart, DWORD* piEnd)
{
    PENDING_FOR pendingFor;
    ScanListFor(pList, pwszTarget, &pendingFor);
    *piStart = pendingFor.iDeletion;
    *piEnd = pendingFor.iDeletionEnd;
    return bOnlyLast ? pendingFor.bDeletedLast : pendingFor.bDeletion;
}

// The first rename of the staged copy pwszStaged, with the deletion of its target just before it.
static BOOL FindReplacementPairs(const PENDING_LIST* pList, const WCHAR* pwszStaged, DWORD* piStart,
                                 DWORD* piEnd)
{
    PENDING_PAIR prev, pair;
    BOOL bPrev = FALSE;
    for (DWORD i = 0; NextPendingPair(pList, &i, &pair) && pair.pwszDest; prev = pair, bPrev = TRUE)
    {
        const WCHAR* pwszDest = pair.pwszDest;
        if (pwszDest[0] == L'!')
            pwszDest++;
        if (pwszDest[0] != L'\0' && IsSamePendingPath(pair.pwszSource, pwszStaged))
        {
            BOOL bWithDeletion = bPrev && prev.pwszDest[0] == L'\0' &&
                                 IsSamePendingPath(prev.pwszSource, PendingPathOf(pwszDest));
            *piStart = bWithDeletion ? prev.iStart : pair.iStart;
            *piEnd = pair.iEnd;
            return TRUE;
        }
    }
    return FALSE;
}

// What a withdrawal takes out of the list.
enum PENDING_CUT
{
    CUT_LAST_DELETION,     // the last deletion of the file
    CUT_TRAILING_DELETION, // that deletion, when no pair names the file after it
    CUT_REPLACEMENT,       // the first rename of a staged copy, with its target's deletion
};

// Takes the strings that nCut picks for pszName out of PendingFileRenameOperations, read and
// written in its stored UTF-16 form. With pLeft given, the list as stored after the cut is
// handed back there. Returns TRUE when the strings were taken out.
static BOOL CutFromPendingList(const char* pszName, PENDING_CUT nCut, PENDING_LIST* pLeft)
{
    if (pLeft)
        ZeroMemory(pLeft, sizeof(*pLeft));
    WCHAR wszName[MAX_PATH];
    if (!ToListForm(pszName, wszName))
        return FALSE;
    PENDING_LIST list;
    ReadPendingList(&list);
    if (!list.pwszList)
    {
        FreePendingList(&list);
        return FALSE;
    }
    DWORD iStart = 0, iEnd = 0;
    BOOL bFound =
        nCut == CUT_REPLACEMENT
            ? FindReplacementPairs(&list, wszName, &iStart, &iEnd)
            : FindLastDeletionPair(&list, wszName, nCut == CUT_TRAILING_DELETION, &iStart, &iEnd);
    BOOL bCut = FALSE;
    if (bFound)
    {
        WCHAR* pwszList = (WCHAR*)list.pData;
        DWORD cch = list.cchList;
        if (iEnd > cch)
            iEnd = cch;
        MoveMemory(pwszList + iStart, pwszList + iEnd, (cch - iEnd) * sizeof(WCHAR));
        DWORD cchLeft = cch - (iEnd - iStart);
        bCut = StorePendingList(pwszList, cchLeft);
        // What was stored, as a read would give it: the characters left and zero bytes after them
        // (four past the stored bytes, as the reader leaves them); nothing when the value went.
        if (bCut && pLeft && cchLeft > 0 && pwszList[0] != L'\0')
        {
            ZeroMemory(list.pData + cchLeft * sizeof(WCHAR),
                       list.cbData + 4 - cchLeft * sizeof(WCHAR));
            *pLeft = list;
            pLeft->cbData = cchLeft * sizeof(WCHAR);
            pLeft->cchList = cchLeft;
            list.pData = NULL;
        }
    }
    FreePendingList(&list);
    return bCut;
}

static BOOL WithdrawPendingDeletion(const char* pszTarget)
{
    return CutFromPendingList(pszTarget, CUT_LAST_DELETION, NULL);
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
    return CutFromPendingList(pszTarget, CUT_TRAILING_DELETION, NULL);
}

BOOL WithdrawLastPendingDeletionInto(const char* pszTarget, PENDING_LIST* pLeft)
{
    return CutFromPendingList(pszTarget, CUT_TRAILING_DELETION, pLeft);
}

BOOL WithdrawPendingReplacement(const char* pszStaged)
{
    return CutFromPendingList(pszStaged, CUT_REPLACEMENT, NULL);
}

BOOL DeleteFileOnReboot(const char* pszPath)
{
    // The short, upper-case name, as the copy pass names the file in its replacements, so that a
    // later lookup sees the deletion and the replacements of the one file under one name.
    char szShort[MAX_PATH];
    DWORD dwError;
    BOOL bShort = GetRequestName(pszPath, szShort, NULL, &dwError);
    if (!bShort)
        WriteLog("DeleteFileOnReboot: GetShortPathName [%s] fail: %d\n", pszPath, (int)dwError);
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
