// MorSetup.log: the only record of what a silent run did. The file is shared by every run on the
// machine, so it is opened as the runtime's append mode opens it, sharing reading and writing
// with other processes, and every message is written at the file's end at that moment in one
// write, before the step it reports goes on: a run stopped at any point keeps every line it wrote,
// and the entries of another run land between ours. Opening the file again for every message cost
// more than the rest of an update with nothing to copy, so during a run one handle serves every
// message; outside a run (the routines called on their own) each message opens and closes it.
#include "support.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

int g_nLogState = -1;

static const char s_szLogName[] = "MorSetup.log";

// The open log and the path it was opened for: a temporary directory that changes during the run
// moves the log with it, as opening it anew for every message did.
static BOOL s_bKeepOpen = FALSE;
static HANDLE s_hLog = INVALID_HANDLE_VALUE;
static char s_szLogOpen[MAX_PATH];

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

static void CloseLogFile()
{
    if (s_hLog != INVALID_HANDLE_VALUE)
        CloseHandle(s_hLog);
    s_hLog = INVALID_HANDLE_VALUE;
    s_szLogOpen[0] = '\0';
}

void KeepLogFileOpen(BOOL bKeep)
{
    s_bKeepOpen = bKeep;
    if (!bKeep)
        CloseLogFile();
}

// The handle for szPath, opened (created when missing) on first use; INVALID_HANDLE_VALUE when
// the file cannot be opened, and then the next message tries again.
static HANDLE OpenLogFile(const char* szPath)
{
    if (s_hLog != INVALID_HANDLE_VALUE && strcmp(s_szLogOpen, szPath) == 0)
        return s_hLog;
    CloseLogFile();
    HANDLE hFile = CreateFileA(szPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return hFile;
    s_hLog = hFile;
    lstrcpynA(s_szLogOpen, szPath, sizeof(s_szLogOpen));
    return hFile;
}

// Appends pszText at the file's end as text mode stores it: every line feed as carriage return
// and line feed, in one write.
static void AppendText(HANDLE hFile, const char* pszText)
{
    // The message buffer's 4095 characters, each of which may double, and the time prefix.
    char szOut[2 * 4096 + 64];
    size_t cchOut = 0;
    for (const char* p = pszText; *p && cchOut + 2 < sizeof(szOut); p++)
    {
        if (*p == '\n')
            szOut[cchOut++] = '\r';
        szOut[cchOut++] = *p;
    }
    if (cchOut == 0)
        return;
    SetFilePointer(hFile, 0, NULL, FILE_END);
    DWORD cbWritten;
    WriteFile(hFile, szOut, (DWORD)cchOut, &cbWritten, NULL);
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
    HANDLE hFile = OpenLogFile(szPath);
    if (hFile == INVALID_HANDLE_VALUE)
        return;

    SYSTEMTIME st;
    if (g_nLogState == -1)
    {
        char szBanner[1024];
        GetLocalTime(&st);
        _snprintf(szBanner, sizeof(szBanner),
                  "\n----------------------  Start  ------------------- \n"
                  "< %02d/%02d/%d  %02d:%02d:%02d > \n",
                  st.wMonth, st.wDay, st.wYear, st.wHour, st.wMinute, st.wSecond);
        szBanner[sizeof(szBanner) - 1] = '\0';
        AppendText(hFile, szBanner);
        g_nLogState = 1;
    }

    GetLocalTime(&st);
    // The prefix and the message in one write, so that another run's entry cannot come between.
    char szEntry[sizeof(szMessage) + 32];
    int cch = _snprintf(szEntry, sizeof(szEntry), "< %02d:%02d:%02d > %s", st.wHour, st.wMinute,
                        st.wSecond, szMessage);
    if (cch < 0 || cch >= (int)sizeof(szEntry))
        szEntry[sizeof(szEntry) - 1] = '\0';
    AppendText(hFile, szEntry);
    if (!s_bKeepOpen)
        CloseLogFile();
}
