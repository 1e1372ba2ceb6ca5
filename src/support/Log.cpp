// MorSetup.log: the only record of what a silent run did. Opened and closed for every message so
// that no handle stays open and runs of other products can append between our messages.
#include "support.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

int g_nLogState = -1;

static const char s_szLogName[] = "MorSetup.log";

// Joins a directory and the log name into szPath. The directory's final backslash is dropped
// unless it is the trail byte of a double-byte character.
static BOOL JoinLogPath(char* szPath, const char* pszDir)
{
    char szDir[MAX_PATH];
    if (!MbsCopy(szDir, sizeof(szDir), pszDir) || szDir[0] == '\0')
        return FALSE;
    size_t cch = strlen(szDir);
    if (szDir[cch - 1] == '\\' && !MbsIsTrailByte(szDir, cch - 1))
        szDir[cch - 1] = '\0';
    int n = _snprintf(szPath, MAX_PATH, "%s\\%s", szDir, s_szLogName);
    if (n < 0 || n >= MAX_PATH)
    {
        szPath[0] = '\0';
        return FALSE;
    }
    return TRUE;
}

BOOL GetLogFilePath(char* szPath)
{
    char szDir[MAX_PATH];
    // A query that returns its required size (>= the buffer) did not fill the buffer.
    DWORD cch = g_pfnGetTempPathA(MAX_PATH, szDir);
    if (cch != 0 && cch < MAX_PATH && szDir[0] != '\0' && JoinLogPath(szPath, szDir))
        return TRUE;

    cch = GetWindowsDirectoryA(szDir, MAX_PATH);
    if (cch != 0 && cch < MAX_PATH && JoinLogPath(szPath, szDir))
        return TRUE;
    szPath[0] = '\0';
    return FALSE;
}

void WriteLog(const char* pszFormat, ...)
{
    char szMessage[4096];
    va_list args;
    va_start(args, pszFormat);
    // msvcrt's formatter: it knows %I64u. A message longer than the buffer is cut.
    int n = _vsnprintf(szMessage, sizeof(szMessage), pszFormat, args);
    va_end(args);
    if (n < 0 || n >= (int)sizeof(szMessage))
        szMessage[sizeof(szMessage) - 1] = '\0';

    char szPath[MAX_PATH];
    if (!GetLogFilePath(szPath))
        return;

    char szTime[1024];
    SYSTEMTIME st;
    FILE* pFile;
    if (g_nLogState == -1)
    {
        pFile = fopen(szPath, "at");
        if (pFile)
        {
            fputs("\n----------------------  Start  ------------------- \n", pFile);
            GetLocalTime(&st);
            _snprintf(szTime, sizeof(szTime), "< %02d/%02d/%d  %02d:%02d:%02d > \n", st.wMonth,
                      st.wDay, st.wYear, st.wHour, st.wMinute, st.wSecond);
            szTime[sizeof(szTime) - 1] = '\0';
            fputs(szTime, pFile);
            g_nLogState = 1;
            fclose(pFile);
        }
    }

    pFile = fopen(szPath, "at");
    if (!pFile)
        return;
    GetLocalTime(&st);
    _snprintf(szTime, sizeof(szTime), "< %02d:%02d:%02d > ", st.wHour, st.wMinute, st.wSecond);
    szTime[sizeof(szTime) - 1] = '\0';
    fputs(szTime, pFile);
    fputs(szMessage, pFile);
    fclose(pFile);
}
