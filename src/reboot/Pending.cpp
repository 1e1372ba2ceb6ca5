// Whether a target already waits for a replacement. A target scheduled twice would be deleted
// twice at restart and the second rename would find no staged copy, so the copy pass asks here
// first. NT keeps the pending operations in the registry, which the pass reads once (RegBuf);
// 95, 98 and ME keep them in WININIT.INI, read anew at every question. The list's one reader and
// its walk are here too: every routine of this folder that asks the list reads it here.
#include "reboot.h"
#include "PendingStore.h"

#include "RegClass/RegClass.h"
#include "support/support.h"

#include <stdio.h>
#include <string.h>

static const char s_szSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
static const char s_szPendingValue[] = "PendingFileRenameOperations";

void ReadPendingList(PENDING_LIST* pList)
{
    ZeroMemory(pList, sizeof(*pList));
    RegClass reg(HKEY_LOCAL_MACHINE);
    if (reg.ReadValueAllocW(s_szSessionManagerKey, NULL, s_szPendingValue, &pList->dwType,
                            &pList->pData, &pList->cbData) != ERROR_SUCCESS)
    {
        ZeroMemory(pList, sizeof(*pList));
        return;
    }
    // The pairs are walked only in a list; an odd last byte is no character of it. The four zero
    // bytes behind the value end every walk, odd byte or not.
    if (pList->dwType == REG_MULTI_SZ)
    {
        pList->pwszList = (const WCHAR*)pList->pData;
        pList->cchList = pList->cbData / sizeof(WCHAR);
    }
}

void FreePendingList(PENDING_LIST* pList)
{
    RegClass::FreeValue(pList->pData);
    ZeroMemory(pList, sizeof(*pList));
}

BOOL StorePendingList(const WCHAR* pwszList, DWORD cch)
{
    RegClass reg(HKEY_LOCAL_MACHINE);
    if (cch == 0 || pwszList[0] == L'\0')
        return reg.DeleteValue(s_szSessionManagerKey, s_szPendingValue) == ERROR_SUCCESS;
    return reg.SetValueW(s_szSessionManagerKey, NULL, s_szPendingValue, REG_MULTI_SZ,
                         (const BYTE*)pwszList, cch * sizeof(WCHAR)) == ERROR_SUCCESS;
}

BOOL NextPendingPair(const PENDING_LIST* pList, DWORD* pi, PENDING_PAIR* pPair)
{
    const WCHAR* pwsz = pList->pwszList;
    DWORD i = *pi;
    if (!pwsz || i >= pList->cchList || !pwsz[i])
        return FALSE;
    pPair->pwszSource = pwsz + i;
    pPair->iStart = i;
    i += lstrlenW(pwsz + i) + 1;
    if (i >= pList->cchList)
    {
        pPair->pwszDest = NULL;
        pPair->iEnd = i;
        *pi = i;
        return TRUE;
    }
    pPair->pwszDest = pwsz + i;
    i += lstrlenW(pwsz + i) + 1;
    pPair->iEnd = i;
    *pi = i;
    return TRUE;
}

const WCHAR* PendingPathOf(const WCHAR* pwszEntry)
{
    if (pwszEntry[0] == L'\\' && pwszEntry[1] == L'?' && pwszEntry[2] == L'?' &&
        pwszEntry[3] == L'\\')
        return pwszEntry + 4;
    return pwszEntry;
}

// The string types, which the narrow calls give in the ANSI code page.
static BOOL IsTextType(DWORD dwType)
{
    return dwType == REG_SZ || dwType == REG_EXPAND_SZ || dwType == REG_MULTI_SZ;
}

// The value as the narrow calls give it: its bytes in the ANSI code page (characters the code page
// lacks become its default character) into pOut when given, of cbOut bytes. Returns the narrow
// form's length, the figure that a narrow query reports for the value.
static DWORD NarrowForm(const PENDING_LIST* pList, char* pOut, DWORD cbOut)
{
    if (!IsTextType(pList->dwType))
    {
        if (pOut)
            memcpy(pOut, pList->pData, pList->cbData < cbOut ? pList->cbData : cbOut);
        return pList->cbData;
    }
    int cchWide = (int)(pList->cbData / sizeof(WCHAR));
    if (cchWide == 0)
        return 0;
    int cb = WideCharToMultiByte(CP_ACP, 0, (const WCHAR*)pList->pData, cchWide, pOut,
                                 pOut ? (int)cbOut : 0, NULL, NULL);
    return cb > 0 ? (DWORD)cb : 0;
}

// Makes the snapshot of the list as read: the narrow form, in szBuf when it fits and on the heap
// when not.
static void FillRegBuf(REG_BUF* pRegBuf, const PENDING_LIST* pList)
{
    pRegBuf->pszRegBuf = NULL;
    pRegBuf->pHeap = NULL;
    if (!IsNtFamilyPlatform())
        return;

    ZeroMemory(pRegBuf->szBuf, sizeof(pRegBuf->szBuf));
    pRegBuf->pszRegBuf = pRegBuf->szBuf;
    // A value that could not be read gives an empty snapshot.
    if (!pList->pData)
        return;

    char* pData = pRegBuf->szBuf;
    DWORD cb = NarrowForm(pList, NULL, 0);
    if (cb > REGBUF_SIZE)
    {
        // One byte more than the value: the text ends even when the value has no final NUL.
        pRegBuf->pHeap = (char*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (SIZE_T)cb + 1);
        if (!pRegBuf->pHeap)
            return;
        WriteLog("Orvane: increase RegBuf length to [%d]\n", (int)cb);
        pData = pRegBuf->pHeap;
    }
    if (cb > 0 && NarrowForm(pList, pData, cb) != cb)
        return;
    // One string of the whole list: every NUL but the list's final one becomes the separator, a
    // character no path holds, so a lookup can still tell where each name ends.
    for (DWORD i = 0; cb > 1 && i < cb - 1; i++)
    {
        if (pData[i] == '\0')
            pData[i] = REGBUF_SEPARATOR;
    }
    pData[cb] = '\0';
    pRegBuf->pszRegBuf = pData;
}

void TakeRegBuf(REG_BUF* pRegBuf)
{
    PENDING_LIST list;
    ZeroMemory(&list, sizeof(list));
    if (IsNtFamilyPlatform())
        ReadPendingList(&list);
    FillRegBuf(pRegBuf, &list);
    FreePendingList(&list);
}

void TakeRegBufOfView(REG_BUF* pRegBuf, const PENDING_VIEW* pView)
{
    FillRegBuf(pRegBuf, &pView->list);
}

void ReleaseRegBuf(REG_BUF* pRegBuf)
{
    if (pRegBuf->pHeap)
    {
        WriteLog("Orvane: free RegBuf\n");
        HeapFree(GetProcessHeap(), 0, pRegBuf->pHeap);
        pRegBuf->pHeap = NULL;
    }
    pRegBuf->pszRegBuf = NULL;
}

// TRUE when pszTarget occurs in pszText where a name ends: followed by one of the characters of
// pszEnds (after any blanks when bSkipBlanks), or by the end of the text when bTextEndsName. A
// name found inside a longer one (the staged copy's "<name>000", another program's
// "<name>.OLD") is not the target. Matches start on character boundaries only.
static BOOL FindNameEnding(const char* pszText, const char* pszTarget, const char* pszEnds,
                           BOOL bSkipBlanks, BOOL bTextEndsName)
{
    size_t cchTarget = strlen(pszTarget);
    for (const char* pszMatch = MbsStr(pszText, pszTarget); pszMatch;)
    {
        const char* pszEnd = pszMatch + cchTarget;
        while (bSkipBlanks && (*pszEnd == ' ' || *pszEnd == '\t'))
            pszEnd++;
        if (*pszEnd == '\0' ? bTextEndsName : strchr(pszEnds, *pszEnd) != NULL)
            return TRUE;
        if (*pszMatch == '\0')
            break;
        // On to the next character: a double-byte one is stepped over whole.
        pszMatch = MbsStr(pszMatch + (MbsIsTrailByte(pszMatch, 1) ? 2 : 1), pszTarget);
    }
    return FALSE;
}

// The content of WININIT.INI as a read of the file in text mode gives it: reading ends at a CTRL+Z
// and every CR LF is one LF. Returns the length at pb after the change, made in place.
static size_t AsTextMode(char* pb, size_t cb)
{
    size_t cbOut = 0;
    for (size_t i = 0; i < cb && pb[i] != '\x1a'; i++)
    {
        if (pb[i] == '\r' && i + 1 < cb && pb[i + 1] == '\n')
            continue;
        pb[cbOut++] = pb[i];
    }
    return cbOut;
}

// WININIT.INI searched line by line in pieces of at most 255 bytes, as a line reader of that
// buffer takes them; a target split across two pieces of a longer line is not seen. A line names
// the target where the name ends at the "=" (its rename line) or at the line end (its deletion
// line, "NUL=<target>").
static BOOL IsInWinInit(const char* pszTarget)
{
    char szWinDir[MAX_PATH];
    char szPath[MAX_PATH];
    UINT cchDir = GetWindowsDirectoryA(szWinDir, sizeof(szWinDir));
    if (cchDir == 0 || cchDir >= sizeof(szWinDir))
        szWinDir[0] = '\0';
    int cch = _snprintf(szPath, sizeof(szPath), "%s\\WININIT.INI", szWinDir);
    if (cch < 0 || cch >= (int)sizeof(szPath))
        szPath[sizeof(szPath) - 1] = '\0';
    WriteLog("Orvane: get wininit file from %s\n", szPath);

    BOOL bMissing = FALSE;
    DWORD cbFile = 0;
    char* pbFile = ReadWinInitText(&cbFile, TRUE, &bMissing);
    if (bMissing)
    {
        WriteLog("Orvane: wininit file not found.\n");
        return FALSE;
    }
    if (!pbFile)
        return FALSE;

    size_t cb = AsTextMode(pbFile, cbFile);
    BOOL bFound = FALSE;
    char szLine[256];
    for (size_t i = 0; i < cb && !bFound;)
    {
        // A piece ends after its line feed or at 255 bytes.
        size_t cbPiece = 0;
        while (i + cbPiece < cb && cbPiece < sizeof(szLine) - 1)
        {
            if (pbFile[i + cbPiece++] == '\n')
                break;
        }
        memset(szLine, 0, sizeof(szLine));
        memcpy(szLine, pbFile + i, cbPiece);
        i += cbPiece;
        // A piece without its line feed ends the line only at the end of the file; otherwise the
        // line goes on in the next piece.
        BOOL bLineEnds = strchr(szLine, '\n') != NULL || i >= cb;
        bFound = FindNameEnding(szLine, pszTarget, "=\r\n", TRUE, bLineEnds);
    }
    HeapFree(GetProcessHeap(), 0, pbFile);
    if (bFound)
        WriteLog("Orvane: file %s is in wininit\n", pszTarget);
    return bFound;
}

BOOL CanYouFindMe(const char* pszTarget, const char* pszRegBuf)
{
    WriteLog("Orvane: CanYouFindMe\n");
    if (Is9xFamilyPlatform())
        return IsInWinInit(pszTarget);

    if (!pszRegBuf)
        return FALSE;
    // Each pending name ends at a separator or at the end of the snapshot. The match may start
    // anywhere in a name, so the prefix the system puts in front of it ("\??\" before every
    // name, "!" before a rename that may replace) does not hide it.
    static const char s_szSeparator[] = {REGBUF_SEPARATOR, '\0'};
    if (FindNameEnding(pszRegBuf, pszTarget, s_szSeparator, FALSE, TRUE))
    {
        WriteLog("Orvane: file %s is already in reg\n", pszTarget);
        return TRUE;
    }
    return FALSE;
}
