// What a pass asks of the pending requests about one engine directory. Nearly always nothing is
// pending there, and then a pass must not pay per file for asking: the store of the platform is
// read once, and only when it names the directory or something in it does a file's question
// cost anything, answered from that read. A file's request name is the directory's short path
// and its own name where that name is already an 8.3 name; only a file whose short name the
// system makes up is asked about, and only when a pending name under the directory could be one.
#include "reboot.h"
#include "PendingStore.h"

#include "support/support.h"

#include <string.h>

// TRUE when the cch characters at pszName, a name found under the directory, may be one the
// system made up or a long one: a request of a file with such a name needs its short name asked.
static BOOL IsMadeUpOrLong(const char* pszName, size_t cch)
{
    char szName[MAX_PATH];
    if (cch >= sizeof(szName))
        return TRUE;
    memcpy(szName, pszName, cch);
    szName[cch] = '\0';
    return strchr(szName, '~') != NULL || !IsShortFormName(szName);
}

// Looks at one pending name (cch bytes at psz, ANSI): whether it is the directory or under it.
static void NotePendingName(PENDING_VIEW* pView, const char* psz, size_t cch)
{
    size_t cchDir = strlen(pView->szDir);
    if (cch < cchDir || _strnicmp(psz, pView->szDir, cchDir) != 0)
        return;
    if (cch == cchDir)
    {
        pView->bPending = TRUE;
        return;
    }
    if (psz[cchDir] != '\\')
        return;
    pView->bPending = TRUE;
    const char* pszName = psz + cchDir + 1;
    size_t cchName = cch - cchDir - 1;
    const char* pSlash = (const char*)memchr(pszName, '\\', cchName);
    if (!pSlash && IsMadeUpOrLong(pszName, cchName))
        pView->bMadeUpNames = TRUE;
}

static void NoteWideName(PENDING_VIEW* pView, const WCHAR* pwsz)
{
    if (pwsz[0] == L'!')
        pwsz++;
    if (pwsz[0] == L'\\' && pwsz[1] == L'?' && pwsz[2] == L'?' && pwsz[3] == L'\\')
        pwsz += 4;
    char szName[MAX_PATH];
    int cb = WideCharToMultiByte(CP_ACP, 0, pwsz, -1, szName, sizeof(szName), NULL, NULL);
    if (cb > 1)
        NotePendingName(pView, szName, (size_t)cb - 1);
}

// The name on either side of a WININIT.INI line's "=".
static void NoteWinInitLine(PENDING_VIEW* pView, const char* pb, size_t cb)
{
    while (cb > 0 && (pb[cb - 1] == '\n' || pb[cb - 1] == '\r'))
        cb--;
    const char* pEq = (const char*)memchr(pb, '=', cb);
    if (!pEq)
        return;
    NotePendingName(pView, pb, (size_t)(pEq - pb));
    NotePendingName(pView, pEq + 1, cb - (size_t)(pEq + 1 - pb));
}

// The length of pszDir without a final separator: a drive root ("D:\\") ends in one, and a file
// in a directory is always the directory, a "\\" and its name.
static size_t DirPrefixLength(const char* pszDir)
{
    size_t cch = strlen(pszDir);
    return cch > 0 && pszDir[cch - 1] == '\\' && !MbsIsTrailByte(pszDir, cch - 1) ? cch - 1 : cch;
}

static void FreeViewStore(PENDING_VIEW* pView)
{
    FreePendingList(&pView->list);
    if (pView->pbWinInit)
        HeapFree(GetProcessHeap(), 0, pView->pbWinInit);
    pView->pbWinInit = NULL;
    pView->cbWinInit = 0;
}

// Notes what the store as read holds for the directory.
static void NoteViewStore(PENDING_VIEW* pView)
{
    pView->bPending = FALSE;
    pView->bMadeUpNames = FALSE;
    if (!pView->list.pwszList && !pView->pbWinInit)
        return;

    if (!pView->bHaveDir)
    {
        pView->bHaveDir = TRUE;
        DWORD dwError;
        if (GetRequestName(pView->szLongDir, pView->szDir, NULL, &dwError))
            pView->szDir[DirPrefixLength(pView->szDir)] = '\0';
    }
    if (!pView->szDir[0])
    {
        // Without the directory's short name every file is asked about, as its own request name.
        pView->bPending = pView->bMadeUpNames = TRUE;
        return;
    }
    if (pView->list.pwszList)
    {
        // Pairs of a source and a destination, the destination empty for a deletion.
        PENDING_PAIR pair;
        for (DWORD i = 0; NextPendingPair(&pView->list, &i, &pair);)
        {
            NoteWideName(pView, pair.pwszSource);
            if (pair.pwszDest && pair.pwszDest[0])
                NoteWideName(pView, pair.pwszDest);
        }
    }
    else
    {
        size_t cbLine;
        for (size_t i = 0; i < pView->cbWinInit; i += cbLine)
        {
            const char* pLf = (const char*)memchr(pView->pbWinInit + i, '\n', pView->cbWinInit - i);
            cbLine = pLf ? (size_t)(pLf - (pView->pbWinInit + i)) + 1 : pView->cbWinInit - i;
            NoteWinInitLine(pView, pView->pbWinInit + i, cbLine);
        }
    }
}

// Reads the platform's store and notes what it holds for the directory.
static void ReadViewStore(PENDING_VIEW* pView)
{
    FreeViewStore(pView);
    if (Is9xFamilyPlatform())
        pView->pbWinInit = ReadWinInitText(&pView->cbWinInit, FALSE, NULL);
    else
        ReadPendingList(&pView->list);
    NoteViewStore(pView);
}

void OpenPendingView(PENDING_VIEW* pView, const char* pszDir)
{
    ZeroMemory(pView, sizeof(*pView));
    if (!MbsCopy(pView->szLongDir, sizeof(pView->szLongDir), pszDir))
        pView->szLongDir[0] = '\0';
    ReadViewStore(pView);
}

void ClosePendingView(PENDING_VIEW* pView)
{
    FreeViewStore(pView);
    pView->bPending = FALSE;
}

// The name a request of pszPath carries, into szName (MAX_PATH); FALSE when no request pending
// under the directory could name it.
static BOOL FormRequestName(const PENDING_VIEW* pView, const char* pszPath, char* szName)
{
    if (pView->szDir[0])
    {
        size_t cchDir = DirPrefixLength(pView->szLongDir);
        if (cchDir == 0 || _strnicmp(pszPath, pView->szLongDir, cchDir) != 0)
            return FALSE;
        if (pszPath[cchDir] == '\0' || (pszPath[cchDir] == '\\' && pszPath[cchDir + 1] == '\0'))
            return MbsCopy(szName, MAX_PATH, pView->szDir);
        if (pszPath[cchDir] != '\\' || MbsRChr(pszPath + cchDir + 1, '\\'))
            return FALSE;
        const char* pszLeaf = pszPath + cchDir + 1;
        if (IsShortFormName(pszLeaf))
            return JoinRequestName(pView->szDir, strlen(pView->szDir), pszLeaf, szName, NULL);
        if (!pView->bMadeUpNames)
            return FALSE;
    }
    DWORD dwError;
    return GetRequestName(pszPath, szName, NULL, &dwError);
}

BOOL WithdrawDeletionInView(PENDING_VIEW* pView, const char* pszPath)
{
    if (!pView->bPending)
        return FALSE;
    char szName[MAX_PATH];
    if (!FormRequestName(pView, pszPath, szName))
        return FALSE;
    if (pView->pbWinInit)
    {
        WININIT_FOR winInitFor;
        ScanWinInitFor(pView->pbWinInit, pView->cbWinInit, szName, &winInitFor);
        if (!winInitFor.bDeletedLast || !WithdrawWinInitDeletion(szName))
            return FALSE;
        // What is left pending is read anew: one read for each request taken out.
        ReadViewStore(pView);
        return TRUE;
    }
    PENDING_FOR pendingFor;
    PENDING_LIST left;
    if (!ScanPendingFor(&pView->list, szName, &pendingFor) || !pendingFor.bDeletedLast ||
        !WithdrawLastPendingDeletionInto(szName, &left))
        return FALSE;
    // What is left pending is the list the withdrawal stored: no read of its own.
    FreeViewStore(pView);
    pView->list = left;
    NoteViewStore(pView);
    return TRUE;
}
