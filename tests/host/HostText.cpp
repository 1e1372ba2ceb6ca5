// The code page tables and the in-memory log of the native sanitizer build.
#include "HostText.h"

#include "install/ArgText.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

// The flags of Globals.cpp that the parser reads and sets; that file cannot build here as it
// brings in the whole install driver.
BOOL g_bSilent = 1;
BOOL g_bDefaultArgs = 0;
BOOL g_bCfgMode = 0;
DWORD g_dwEngIDs = BOTH_OSKA_BRIN;

static unsigned s_uCodePage = 1252;

void HostSetCodePage(unsigned uCodePage)
{
    s_uCodePage = uCodePage;
}

unsigned HostCodePage()
{
    return s_uCodePage;
}

BOOL IsDBCSLeadByte(BYTE bTest)
{
    if (s_uCodePage != 932)
        return FALSE;
    return (bTest >= 0x81 && bTest <= 0x9F) || (bTest >= 0xE0 && bTest <= 0xFC);
}

DWORD CharUpperBuffA(char* psz, DWORD cch)
{
    for (DWORD i = 0; i < cch; i++)
    {
        BYTE b = (BYTE)psz[i];
        if (b >= 'a' && b <= 'z')
            b = (BYTE)(b - 'a' + 'A');
        else if (s_uCodePage == 1252)
        {
            // Latin letters of 1252; the division sign, sharp s and micro sign stay.
            if (b == 0x9A || b == 0x9C || b == 0x9E)
                b = (BYTE)(b - 0x10);
            else if (b == 0xFF)
                b = 0x9F;
            else if (b >= 0xE0 && b != 0xF7)
                b = (BYTE)(b - 0x20);
        }
        // 932: the single-byte half-width katakana have no case.
        psz[i] = (char)b;
    }
    return cch;
}

static char s_szLog[16384];
static size_t s_cchLog;

void HostLogClear()
{
    s_cchLog = 0;
    s_szLog[0] = '\0';
}

const char* HostLogText()
{
    return s_szLog;
}

void WriteLog(const char* pszFormat, ...)
{
    // The program's own message buffer: a longer message is cut there too.
    char szMessage[4096];
    va_list args;
    va_start(args, pszFormat);
    int n = vsnprintf(szMessage, sizeof(szMessage), pszFormat, args);
    va_end(args);
    if (n < 0)
        return;
    size_t cch = strnlen(szMessage, sizeof(szMessage));
    if (cch > sizeof(s_szLog) - 1 - s_cchLog)
        cch = sizeof(s_szLog) - 1 - s_cchLog;
    memcpy(s_szLog + s_cchLog, szMessage, cch);
    s_cchLog += cch;
    s_szLog[s_cchLog] = '\0';
}
