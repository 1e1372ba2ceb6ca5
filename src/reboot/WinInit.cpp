// WININIT.INI: how 95, 98 and ME replace files at their next start. The file is edited while it
// is held with share mode 0, so no other process ever reads a half-written section and an edit
// made by another installer at the same moment makes ours fail instead of being lost.
#include "reboot.h"
#include "PendingStore.h"
#include "WinInitText.h"

#include <stdio.h>
#include <string.h>

// WININIT.INI in the Windows directory, into szPath (MAX_PATH); FALSE when it does not fit.
static BOOL GetWinInitPath(char* szPath)
{
    char szWinDir[MAX_PATH];
    UINT cchDir = GetWindowsDirectoryA(szWinDir, sizeof(szWinDir));
    if (cchDir == 0 || cchDir >= sizeof(szWinDir))
        return FALSE;
    int cchPath = _snprintf(szPath, MAX_PATH, "%s\\WinInit.Ini", szWinDir);
    if (cchPath < 0 || cchPath >= MAX_PATH)
        return FALSE;
    szPath[cchPath] = '\0';
    return TRUE;
}

// The line at pb of the cb bytes left: its length up to its LF or the end.
static size_t WinInitLineLength(const char* pb, size_t cb)
{
    const char* pLf = (const char*)memchr(pb, '\n', cb);
    return pLf ? (size_t)(pLf - pb) + 1 : cb;
}

// TRUE when the line (CR and LF taken off) is pszName, "=" and pszValue, without regard to case.
static BOOL IsWinInitLine(const char* pb, size_t cb, const char* pszName, const char* pszValue)
{
    while (cb > 0 && (pb[cb - 1] == '\n' || pb[cb - 1] == '\r'))
        cb--;
    size_t cchName = strlen(pszName);
    size_t cchValue = strlen(pszValue);
    return cb == cchName + 1 + cchValue && _strnicmp(pb, pszName, cchName) == 0 &&
           pb[cchName] == '=' && _strnicmp(pb + cchName + 1, pszValue, cchValue) == 0;
}

// TRUE when the line is a rename line of pszTarget: "target=staged copy".
static BOOL IsRenameLineOf(const char* pb, size_t cbLine, const char* pszTarget)
{
    size_t cchTarget = strlen(pszTarget);
    return cbLine > cchTarget && pb[cchTarget] == '=' && _strnicmp(pb, pszTarget, cchTarget) == 0;
}

// What the first cb bytes of the content ask for the file pszShortPath names.
struct WININIT_FOR
{
    BOOL bDeletion;    // a deletion line of it, "NUL=<file>"
    BOOL bRename;      // a rename line of it, "<file>=<staged copy>"
    BOOL bDeletedLast; // its last deletion line follows every rename line of it
    size_t iDeletion;  // that last deletion line, from here
    size_t cbDeletion; // and this long
};

static void ScanWinInitFor(const char* pb, size_t cb, const char* pszShortPath, WININIT_FOR* pFor)
{
    ZeroMemory(pFor, sizeof(*pFor));
    size_t cbLine;
    for (size_t i = 0; i < cb; i += cbLine)
    {
        cbLine = WinInitLineLength(pb + i, cb - i);
        if (IsWinInitLine(pb + i, cbLine, "NUL", pszShortPath))
        {
            pFor->bDeletion = pFor->bDeletedLast = TRUE;
            pFor->iDeletion = i;
            pFor->cbDeletion = cbLine;
        }
        else if (IsRenameLineOf(pb + i, cbLine, pszShortPath))
        {
            pFor->bRename = TRUE;
            pFor->bDeletedLast = FALSE;
        }
    }
}

// TRUE when the content already deletes pszShortPath after every line that renames to it.
static BOOL IsDeletionLastLine(const char* pb, size_t cb, const char* pszShortPath)
{
    WININIT_FOR winInitFor;
    ScanWinInitFor(pb, cb, pszShortPath, &winInitFor);
    return winInitFor.bDeletedLast;
}

// Adds the line szEntry to the [Rename] section: under its header (bAtEnd FALSE) or as its last
// line (bAtEnd TRUE). With pszUnlessDeleted given, nothing is written when the content already
// deletes that file last; the result is then 1.
static BOOL WriteWinInitLine(const char* szEntry, int cchEntry, BOOL bAtEnd,
                             const char* pszUnlessDeleted)
{
    char szPath[MAX_PATH];
    if (!GetWinInitPath(szPath))
        return FALSE;

    HANDLE hFile = CreateFileA(szPath, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return FALSE;

    DWORD dwSizeHigh = 0;
    // INVALID_FILE_SIZE is also a valid low part: only the error code tells a failure.
    SetLastError(NO_ERROR);
    DWORD dwOldSize = GetFileSize(hFile, &dwSizeHigh);
    // The buffer must hold the old content, a header, a line end and the line; a size that cannot
    // be expressed in 32 bits leaves the file as it is.
    if ((dwOldSize == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || dwSizeHigh != 0 ||
        dwOldSize > MAXDWORD - (DWORD)cchEntry - WININIT_RENAME_HEADER_LEN - 2)
    {
        CloseHandle(hFile);
        return FALSE;
    }

    // The new content is made in memory and written in one piece from the start of the file:
    // the file grows only as that write lands, so a run stopped at any point leaves the old
    // content or the new one, never a file grown by zero bytes or half moved.
    const DWORD cbRoom = dwOldSize + (DWORD)cchEntry + WININIT_RENAME_HEADER_LEN + 2;
    BYTE* pBuf = (BYTE*)HeapAlloc(GetProcessHeap(), 0, cbRoom);
    if (!pBuf)
    {
        CloseHandle(hFile);
        return FALSE;
    }
    DWORD cbRead = 0;
    BOOL bWritten = FALSE;
    if (ReadFile(hFile, pBuf, dwOldSize, &cbRead, NULL) && cbRead == dwOldSize)
    {
        if (pszUnlessDeleted && IsDeletionLastLine((const char*)pBuf, cbRead, pszUnlessDeleted))
        {
            bWritten = TRUE;
        }
        else
        {
            DWORD dwNewSize = bAtEnd ? AppendWinInitLine(pBuf, dwOldSize, szEntry, (DWORD)cchEntry)
                                     : InsertWinInitLine(pBuf, dwOldSize, szEntry, (DWORD)cchEntry);
            DWORD cbWritten = 0;
            if (SetFilePointer(hFile, 0, NULL, FILE_BEGIN) == 0 &&
                WriteFile(hFile, pBuf, dwNewSize, &cbWritten, NULL) && cbWritten == dwNewSize)
            {
                SetEndOfFile(hFile);
                bWritten = TRUE;
            }
        }
    }
    HeapFree(GetProcessHeap(), 0, pBuf);
    CloseHandle(hFile);
    return bWritten;
}

BOOL AddWinInitRename(const char* pszSource, const char* pszDest)
{
    char szEntry[WININIT_ENTRY_SIZE];
    int cchEntry =
        _snprintf(szEntry, sizeof(szEntry), "%s=%s\r\n", pszDest ? pszDest : "NUL", pszSource);
    // A cut line would name another file than the one meant: refuse it.
    if (cchEntry < 0 || cchEntry >= (int)sizeof(szEntry))
        return FALSE;
    szEntry[cchEntry] = '\0';
    return WriteWinInitLine(szEntry, cchEntry, FALSE, NULL);
}

BOOL AddWinInitDeletion(const char* pszShortPath)
{
    char szEntry[WININIT_ENTRY_SIZE];
    int cchEntry = _snprintf(szEntry, sizeof(szEntry), "NUL=%s\r\n", pszShortPath);
    if (cchEntry < 0 || cchEntry >= (int)sizeof(szEntry))
        return FALSE;
    szEntry[cchEntry] = '\0';
    return WriteWinInitLine(szEntry, cchEntry, TRUE, pszShortPath);
}

// The whole content of the open file in a heap buffer of *pcb bytes, which the caller frees; NULL
// when it is empty or cannot be read whole.
static char* ReadWholeFile(HANDLE hFile, DWORD* pcb)
{
    *pcb = 0;
    DWORD dwHigh = 0;
    DWORD cbFile = GetFileSize(hFile, &dwHigh);
    if (cbFile == INVALID_FILE_SIZE || dwHigh != 0 || cbFile == 0)
        return NULL;
    char* pb = (char*)HeapAlloc(GetProcessHeap(), 0, cbFile);
    if (pb && (!ReadFile(hFile, pb, cbFile, pcb, NULL) || *pcb != cbFile))
    {
        HeapFree(GetProcessHeap(), 0, pb);
        pb = NULL;
        *pcb = 0;
    }
    return pb;
}

// WININIT.INI opened for reading (share mode 0 and writing when bEdit), or INVALID_HANDLE_VALUE.
static HANDLE OpenWinInit(BOOL bEdit)
{
    char szPath[MAX_PATH];
    if (!GetWinInitPath(szPath))
        return INVALID_HANDLE_VALUE;
    return CreateFileA(szPath, GENERIC_READ | (bEdit ? GENERIC_WRITE : 0),
                       bEdit ? 0 : FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       NULL);
}

// WININIT.INI's content in a heap buffer of *pcb bytes, which the caller frees; NULL when there is
// no such file or nothing in it.
static char* ReadWinInit(DWORD* pcb)
{
    *pcb = 0;
    HANDLE hFile = OpenWinInit(FALSE);
    if (hFile == INVALID_HANDLE_VALUE)
        return NULL;
    char* pb = ReadWholeFile(hFile, pcb);
    CloseHandle(hFile);
    return pb;
}

char* ReadWinInitText(DWORD* pcb)
{
    return ReadWinInit(pcb);
}

BOOL IsWinInitDeletionLast(const char* pb, DWORD cb, const char* pszShortPath)
{
    return IsDeletionLastLine(pb, cb, pszShortPath);
}

BOOL CompleteLoneRenameLine(const char* pszTarget)
{
    DWORD cbRead = 0;
    char* pb = ReadWinInit(&cbRead);
    if (!pb)
        return FALSE;

    WININIT_FOR winInitFor;
    ScanWinInitFor(pb, cbRead, pszTarget, &winInitFor);
    HeapFree(GetProcessHeap(), 0, pb);
    if (!winInitFor.bRename || winInitFor.bDeletion)
        return FALSE;
    // Inserted under the header, the deletion stands above its rename and is carried out first.
    return AddWinInitRename(pszTarget, NULL);
}

// Up to two lines of WININIT.INI to take out, as offsets and lengths in its content.
struct WININIT_CUT
{
    size_t aiStart[2];
    size_t acb[2];
    int nLines;
};

// The last deletion line of pszName, when no line renames to the file after it.
static BOOL FindTrailingDeletion(const char* pb, size_t cb, const char* pszName, WININIT_CUT* pCut)
{
    WININIT_FOR winInitFor;
    ScanWinInitFor(pb, cb, pszName, &winInitFor);
    if (!winInitFor.bDeletedLast)
        return FALSE;
    pCut->aiStart[0] = winInitFor.iDeletion;
    pCut->acb[0] = winInitFor.cbDeletion;
    pCut->nLines = 1;
    return TRUE;
}

// The first rename line whose staged copy is pszName, with the deletion line of its target above
// it.
static BOOL FindReplacement(const char* pb, size_t cb, const char* pszName, WININIT_CUT* pCut)
{
    size_t cchName = strlen(pszName);
    size_t cbLine;
    for (size_t i = 0; i < cb; i += cbLine)
    {
        cbLine = WinInitLineLength(pb + i, cb - i);
        size_t cbText = cbLine;
        while (cbText > 0 && (pb[i + cbText - 1] == '\n' || pb[i + cbText - 1] == '\r'))
            cbText--;
        const char* pEq = (const char*)memchr(pb + i, '=', cbText);
        if (!pEq || (size_t)(pb + i + cbText - (pEq + 1)) != cchName ||
            _strnicmp(pEq + 1, pszName, cchName) != 0)
            continue;
        char szTarget[WININIT_ENTRY_SIZE];
        size_t cchTarget = (size_t)(pEq - (pb + i));
        if (cchTarget == 0 || cchTarget >= sizeof(szTarget) || _strnicmp(pb + i, "NUL=", 4) == 0)
            continue;
        memcpy(szTarget, pb + i, cchTarget);
        szTarget[cchTarget] = '\0';
        pCut->aiStart[0] = i;
        pCut->acb[0] = cbLine;
        // The deletion of its target, when nothing renames to the target between the two.
        WININIT_FOR winInitFor;
        ScanWinInitFor(pb, i, szTarget, &winInitFor);
        pCut->aiStart[1] = winInitFor.iDeletion;
        pCut->acb[1] = winInitFor.cbDeletion;
        pCut->nLines = winInitFor.bDeletedLast ? 2 : 1;
        return TRUE;
    }
    return FALSE;
}

// Takes the lines that pfnFind picks for pszName out of WININIT.INI, every other byte kept, in
// one write from the start under share mode 0. TRUE when lines were taken out.
static BOOL CutWinInitLines(BOOL (*pfnFind)(const char*, size_t, const char*, WININIT_CUT*),
                            const char* pszName)
{
    HANDLE hFile = OpenWinInit(TRUE);
    if (hFile == INVALID_HANDLE_VALUE)
        return FALSE;
    DWORD cbRead = 0;
    char* pb = ReadWholeFile(hFile, &cbRead);
    WININIT_CUT cut = {{0, 0}, {0, 0}, 0};
    BOOL bCut = FALSE;
    if (pb && pfnFind(pb, cbRead, pszName, &cut))
    {
        // The later line first, so the earlier one's offset still holds.
        size_t cbNew = cbRead;
        for (int n = 0; n < cut.nLines; n++)
        {
            size_t iStart = cut.aiStart[n], cbLine = cut.acb[n];
            memmove(pb + iStart, pb + iStart + cbLine, cbNew - iStart - cbLine);
            cbNew -= cbLine;
        }
        DWORD cbWritten = 0;
        bCut = SetFilePointer(hFile, 0, NULL, FILE_BEGIN) == 0 &&
               WriteFile(hFile, pb, (DWORD)cbNew, &cbWritten, NULL) && cbWritten == cbNew &&
               SetEndOfFile(hFile);
    }
    if (pb)
        HeapFree(GetProcessHeap(), 0, pb);
    CloseHandle(hFile);
    return bCut;
}

BOOL WithdrawWinInitDeletion(const char* pszShortPath)
{
    return CutWinInitLines(FindTrailingDeletion, pszShortPath);
}

BOOL WithdrawWinInitReplacement(const char* pszStaged)
{
    return CutWinInitLines(FindReplacement, pszStaged);
}
