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

void ScanWinInitFor(const char* pb, size_t cb, const char* pszShortPath, WININIT_FOR* pFor)
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

// How the file's one reader opens it.
enum WININIT_OPEN
{
    WININIT_READ,   // to read it, beside other readers
    WININIT_SCAN,   // the same, beside writers too, as the C runtime opens a file to read
    WININIT_EDIT,   // to edit it where it is there, held with share mode 0
    WININIT_CREATE, // the same, made empty where it is not there
};

// WININIT.INI opened and read whole.
struct WININIT_FILE
{
    HANDLE hFile;  // held open for the edit, else INVALID_HANDLE_VALUE
    BYTE* pb;      // the content in a heap buffer with the room asked for behind it
    DWORD cb;      // its bytes
    BOOL bMissing; // the file is not there, or the Windows directory gives no path for it
};

static void CloseWinInitFile(WININIT_FILE* pFile)
{
    if (pFile->pb)
        HeapFree(GetProcessHeap(), 0, pFile->pb);
    if (pFile->hFile != INVALID_HANDLE_VALUE)
        CloseHandle(pFile->hFile);
    pFile->pb = NULL;
    pFile->hFile = INVALID_HANDLE_VALUE;
}

// Opens the file as nOpen asks and reads its whole content into a buffer with cbRoom bytes to
// spare. FALSE when it cannot be opened or read whole, and (but for WININIT_CREATE, whose edit
// starts from nothing) when it is empty: nothing is held open then. The file read is closed at
// once; an edit keeps it held until CloseWinInitFile.
static BOOL OpenWinInitFile(WININIT_FILE* pFile, WININIT_OPEN nOpen, DWORD cbRoom)
{
    pFile->hFile = INVALID_HANDLE_VALUE;
    pFile->pb = NULL;
    pFile->cb = 0;
    pFile->bMissing = FALSE;
    char szPath[MAX_PATH];
    if (!GetWinInitPath(szPath))
    {
        pFile->bMissing = TRUE;
        return FALSE;
    }
    BOOL bEdit = nOpen != WININIT_READ && nOpen != WININIT_SCAN;
    DWORD dwShare = nOpen == WININIT_SCAN ? FILE_SHARE_READ | FILE_SHARE_WRITE
                    : bEdit               ? 0
                                          : FILE_SHARE_READ;
    HANDLE hFile = CreateFileA(
        szPath, GENERIC_READ | (bEdit ? GENERIC_WRITE : 0), dwShare, NULL,
        nOpen == WININIT_CREATE ? OPEN_ALWAYS : OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | (nOpen == WININIT_CREATE ? FILE_FLAG_SEQUENTIAL_SCAN : 0), NULL);
    if (hFile == INVALID_HANDLE_VALUE)
    {
        DWORD dwError = GetLastError();
        pFile->bMissing = dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND;
        return FALSE;
    }
    pFile->hFile = hFile;

    DWORD dwSizeHigh = 0;
    // INVALID_FILE_SIZE is also a valid low part: only the error code tells a failure.
    SetLastError(NO_ERROR);
    DWORD cbFile = GetFileSize(hFile, &dwSizeHigh);
    // A size that cannot be expressed in 32 bits with the room leaves the file as it is.
    BOOL bRead = !(cbFile == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) && dwSizeHigh == 0 &&
                 cbFile <= MAXDWORD - cbRoom && (cbFile > 0 || nOpen == WININIT_CREATE);
    if (bRead)
        pFile->pb = (BYTE*)HeapAlloc(GetProcessHeap(), 0, (SIZE_T)cbFile + cbRoom);
    bRead =
        pFile->pb && ReadFile(hFile, pFile->pb, cbFile, &pFile->cb, NULL) && pFile->cb == cbFile;
    if (!bRead)
    {
        CloseWinInitFile(pFile);
        pFile->cb = 0;
        return FALSE;
    }
    if (!bEdit)
    {
        CloseHandle(hFile);
        pFile->hFile = INVALID_HANDLE_VALUE;
    }
    return TRUE;
}

// Writes the cb bytes at pb as the whole content of the file held for an edit, in one piece from
// its start.
static BOOL RewriteWinInitFile(WININIT_FILE* pFile, const BYTE* pb, DWORD cb)
{
    DWORD cbWritten = 0;
    return SetFilePointer(pFile->hFile, 0, NULL, FILE_BEGIN) == 0 &&
           WriteFile(pFile->hFile, pb, cb, &cbWritten, NULL) && cbWritten == cb &&
           SetEndOfFile(pFile->hFile);
}

// Adds the line szEntry to the [Rename] section: under its header (bAtEnd FALSE) or as its last
// line (bAtEnd TRUE). With pszUnlessDeleted given, nothing is written when the content already
// deletes that file last; the result is then 1.
static BOOL WriteWinInitLine(const char* szEntry, int cchEntry, BOOL bAtEnd,
                             const char* pszUnlessDeleted)
{
    // The buffer must hold the old content, a header, a line end and the line. The new content is
    // made in memory and written in one piece from the start of the file: the file grows only as
    // that write lands, so a run stopped at any point leaves the old content or the new one, never
    // a file grown by zero bytes or half moved.
    WININIT_FILE file;
    if (!OpenWinInitFile(&file, WININIT_CREATE, (DWORD)cchEntry + WININIT_RENAME_HEADER_LEN + 2))
        return FALSE;
    BOOL bWritten;
    if (pszUnlessDeleted && IsDeletionLastLine((const char*)file.pb, file.cb, pszUnlessDeleted))
    {
        bWritten = TRUE;
    }
    else
    {
        DWORD dwNewSize = bAtEnd ? AppendWinInitLine(file.pb, file.cb, szEntry, (DWORD)cchEntry)
                                 : InsertWinInitLine(file.pb, file.cb, szEntry, (DWORD)cchEntry);
        bWritten = RewriteWinInitFile(&file, file.pb, dwNewSize);
    }
    CloseWinInitFile(&file);
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

char* ReadWinInitText(DWORD* pcb, BOOL bBesideWriters, BOOL* pbMissing)
{
    WININIT_FILE file;
    BOOL bRead = OpenWinInitFile(&file, bBesideWriters ? WININIT_SCAN : WININIT_READ, 0);
    if (pbMissing)
        *pbMissing = file.bMissing;
    *pcb = file.cb;
    return bRead ? (char*)file.pb : NULL;
}

BOOL CompleteLoneRenameLine(const char* pszTarget)
{
    DWORD cbRead = 0;
    char* pb = ReadWinInitText(&cbRead, FALSE, NULL);
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
    WININIT_FILE file;
    if (!OpenWinInitFile(&file, WININIT_EDIT, 0))
        return FALSE;
    char* pb = (char*)file.pb;
    WININIT_CUT cut = {{0, 0}, {0, 0}, 0};
    BOOL bCut = FALSE;
    if (pfnFind(pb, file.cb, pszName, &cut))
    {
        // The later line first, so the earlier one's offset still holds.
        size_t cbNew = file.cb;
        for (int n = 0; n < cut.nLines; n++)
        {
            size_t iStart = cut.aiStart[n], cbLine = cut.acb[n];
            memmove(pb + iStart, pb + iStart + cbLine, cbNew - iStart - cbLine);
            cbNew -= cbLine;
        }
        bCut = RewriteWinInitFile(&file, file.pb, (DWORD)cbNew);
    }
    CloseWinInitFile(&file);
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
