// Whether a target already waits for a replacement. A target scheduled twice would be deleted
// twice at restart and the second rename would find no staged copy, so the copy pass asks here
// first. NT keeps the pending operations in the registry, which the pass reads once (RegBuf);
// 95, 98 and ME keep them in WININIT.INI, read anew at every question.
#include "reboot.h"

#include "support/support.h"

#include <io.h>
#include <stdio.h>
#include <string.h>

static const char s_szSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
static const char s_szPendingValue[] = "PendingFileRenameOperations";

static BOOL IsNtFamily()
{
    return g_dwOSType == OSID_NT351 || g_dwOSType == OSID_NT4 || g_dwOSType == OSID_W2K;
}

void TakeRegBuf(REG_BUF* pRegBuf)
{
    pRegBuf->pszRegBuf = NULL;
    pRegBuf->pHeap = NULL;
    if (!IsNtFamily())
        return;

    ZeroMemory(pRegBuf->szBuf, sizeof(pRegBuf->szBuf));
    pRegBuf->pszRegBuf = pRegBuf->szBuf;

    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, s_szSessionManagerKey, 0, KEY_READ, &hKey) !=
        ERROR_SUCCESS)
        return;

    char* pData = pRegBuf->szBuf;
    DWORD cb = REGBUF_SIZE;
    // The type is not looked at: whatever the value holds is searched as text.
    LONG lResult = RegQueryValueExA(hKey, s_szPendingValue, NULL, NULL, (BYTE*)pData, &cb);
    if (lResult != ERROR_SUCCESS && cb > REGBUF_SIZE)
    {
        // One byte more than the value: the text ends even when the value has no final NUL.
        pRegBuf->pHeap = (char*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (SIZE_T)cb + 1);
        if (pRegBuf->pHeap)
        {
            WriteLog("Orvane: increase RegBuf length to [%d]\n", (int)cb);
            lResult =
                RegQueryValueExA(hKey, s_szPendingValue, NULL, NULL, (BYTE*)pRegBuf->pHeap, &cb);
            if (lResult == ERROR_SUCCESS)
                pData = pRegBuf->pHeap;
        }
    }
    RegCloseKey(hKey);

    if (lResult != ERROR_SUCCESS)
    {
        // A failed query may have left part of the value behind.
        pRegBuf->szBuf[0] = '\0';
        return;
    }
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

// WININIT.INI read line by line in pieces of at most 255 bytes; a target split across two
// pieces of a longer line is not seen. A line names the target where the name ends at the "="
// (its rename line) or at the line end (its deletion line, "NUL=<target>").
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

    if (cchDir == 0 || cchDir >= sizeof(szWinDir) || _access(szPath, 0) != 0)
    {
        WriteLog("Orvane: wininit file not found.\n");
        return FALSE;
    }
    FILE* pFile = fopen(szPath, "rt");
    if (!pFile)
        return FALSE;

    char szLine[256];
    for (;;)
    {
        memset(szLine, 0, sizeof(szLine));
        if (!fgets(szLine, sizeof(szLine), pFile))
            break;
        // A piece without its line feed ends the line only at the end of the file; otherwise the
        // line goes on in the next piece.
        BOOL bLineEnds = strchr(szLine, '\n') != NULL;
        if (!bLineEnds)
        {
            int ch = getc(pFile);
            bLineEnds = ch == EOF;
            if (ch != EOF)
                ungetc(ch, pFile);
        }
        if (FindNameEnding(szLine, pszTarget, "=\r\n", TRUE, bLineEnds))
        {
            WriteLog("Orvane: file %s is in wininit\n", pszTarget);
            fclose(pFile);
            return TRUE;
        }
    }
    fclose(pFile);
    return FALSE;
}

BOOL CanYouFindMe(const char* pszTarget, const char* pszRegBuf)
{
    WriteLog("Orvane: CanYouFindMe\n");
    if (g_dwOSType == OSID_W95 || g_dwOSType == OSID_W98 || g_dwOSType == OSID_WME)
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
