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

// The log's directory is, for the system account, C:\Windows\Temp, where every user may create
// files: whatever stands at the log's name may have been put there by someone else, as a hard
// link to another file or (on NT) a symbolic link or junction, and appending through it would
// write into a file of their choice with our rights. So the file is opened without following a
// link, and only an ordinary file with one name is written to; anything else is left as it is,
// and this run's messages go to a file of its own beside it, which is created new and so can be
// nothing but ours. So do they when the log is owned by anyone but the system account,
// Administrators, TrustedInstaller or the running account: another user made it beforehand, and
// could read the run's lines and forge their own.

// The path of this process's own log for the log path it stands in for, once one was created.
static char s_szOwnFor[MAX_PATH];
static char s_szOwnLog[MAX_PATH];

static BOOL IsNineX()
{
    return (GetVersion() & 0x80000000) != 0;
}

static HANDLE OpenWithoutFollowing(const char* pszPath, DWORD dwDisposition)
{
    DWORD dwFlags = FILE_ATTRIBUTE_NORMAL;
    DWORD dwAccess = GENERIC_WRITE;
    // 95, 98 and ME know no reparse points (nor links) and no owners, and are not asked to
    // understand the flag.
    if (!IsNineX())
    {
        dwFlags |= FILE_FLAG_OPEN_REPARSE_POINT;
        dwAccess |= READ_CONTROL;
    }
    return CreateFileA(pszPath, dwAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, dwDisposition,
                       dwFlags, NULL);
}

// Decided on the handle, before anything is written: what was checked is what is written to.
static BOOL IsOrdinaryFile(HANDLE hFile)
{
    BY_HANDLE_FILE_INFORMATION fi;
    if (!g_pfnGetFileInformationByHandle(hFile, &fi))
        return IsNineX(); // there a file cannot be anything but ordinary
    if (fi.dwFileAttributes &
        (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))
        return FALSE;
    // FAT volumes of 95, 98 and ME have no links; the count is not looked at there.
    if (IsNineX())
        return TRUE;
    // A log that another user created beforehand is theirs to read and to forge lines in.
    return fi.nNumberOfLinks == 1 && IsHandleOwnerTrusted(hFile);
}

static HANDLE OpenOrdinary(const char* pszPath, DWORD dwDisposition, BOOL* pbRefused)
{
    *pbRefused = FALSE;
    HANDLE hFile = OpenWithoutFollowing(pszPath, dwDisposition);
    if (hFile == INVALID_HANDLE_VALUE)
        return hFile;
    if (IsOrdinaryFile(hFile))
        return hFile;
    CloseHandle(hFile);
    *pbRefused = TRUE;
    return INVALID_HANDLE_VALUE;
}

// Creates a log of this process's own beside szPath (MorSetup.log): MorSetup-<pid>.log, or
// MorSetup-<pid>-<n>.log when that name is taken, never opening a file that exists.
static HANDLE CreateOwnLog(const char* szPath)
{
    size_t cchDir = strlen(szPath) - (sizeof(s_szLogName) - 1);
    DWORD dwPid = GetCurrentProcessId();
    for (int nTry = 0; nTry < 100; nTry++)
    {
        char szOwn[MAX_PATH];
        int n = nTry == 0 ? _snprintf(szOwn, sizeof(szOwn), "%.*sMorSetup-%lu.log", (int)cchDir,
                                      szPath, (unsigned long)dwPid)
                          : _snprintf(szOwn, sizeof(szOwn), "%.*sMorSetup-%lu-%d.log", (int)cchDir,
                                      szPath, (unsigned long)dwPid, nTry);
        if (n < 0 || n >= (int)sizeof(szOwn))
            return INVALID_HANDLE_VALUE;
        BOOL bRefused;
        HANDLE hFile = OpenOrdinary(szOwn, CREATE_NEW, &bRefused);
        if (hFile != INVALID_HANDLE_VALUE)
        {
            lstrcpynA(s_szOwnFor, szPath, sizeof(s_szOwnFor));
            lstrcpynA(s_szOwnLog, szOwn, sizeof(s_szOwnLog));
            return hFile;
        }
        DWORD dwError = GetLastError();
        if (!bRefused && dwError != ERROR_FILE_EXISTS && dwError != ERROR_ALREADY_EXISTS)
            return INVALID_HANDLE_VALUE;
    }
    return INVALID_HANDLE_VALUE;
}

// The own log that stands in for szPath: the one this process created, while it is still an
// ordinary file, else a new one.
static HANDLE OpenOwnLog(const char* szPath)
{
    if (s_szOwnLog[0] != '\0' && strcmp(s_szOwnFor, szPath) == 0)
    {
        BOOL bRefused;
        HANDLE hFile = OpenOrdinary(s_szOwnLog, OPEN_EXISTING, &bRefused);
        if (hFile != INVALID_HANDLE_VALUE)
            return hFile;
    }
    return CreateOwnLog(szPath);
}

// Something that no open of an ordinary file gets past: a directory, or a link to one.
static BOOL IsOtherThanAFile(const char* pszPath)
{
    DWORD dwAttr = GetFileAttributesA(pszPath);
    return dwAttr != INVALID_FILE_ATTRIBUTES &&
           (dwAttr & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0;
}

// The handle for szPath, opened (created when missing) on first use; INVALID_HANDLE_VALUE when
// the file cannot be opened, and then the next message tries again.
static HANDLE OpenLogFile(const char* szPath)
{
    if (s_hLog != INVALID_HANDLE_VALUE && strcmp(s_szLogOpen, szPath) == 0)
        return s_hLog;
    CloseLogFile();
    BOOL bRefused;
    HANDLE hFile = OpenOrdinary(szPath, OPEN_ALWAYS, &bRefused);
    // An ordinary log that cannot be opened right now (held without sharing) is tried again
    // with the next message, as always.
    if (hFile == INVALID_HANDLE_VALUE && (bRefused || IsOtherThanAFile(szPath)))
        hFile = OpenOwnLog(szPath);
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
