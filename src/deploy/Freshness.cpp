// The freshness test: every decision about a single packaged file comes down to it.
#include "deploy.h"

#include "support/support.h"

#include <stdio.h>

// Attribute access only: a file held open by a running engine (share mode 0 excepted) can still
// be probed, and nothing the probe does can change it.
static HANDLE ProbeFile(const char* pszPath)
{
    return CreateFileA(pszPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

BOOL IsPackagedFilePresent(const char* pszSource)
{
    HANDLE hSource = ProbeFile(pszSource);
    if (hSource == INVALID_HANDLE_VALUE)
        return FALSE;
    CloseHandle(hSource);
    return TRUE;
}

// The log shows the stamp as stored (UTC): converting it would make the same file read
// differently on machines in other time zones.
static void FormatFileTime(const FILETIME* pft, char* szText, size_t cchText)
{
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(pft, &st))
        ZeroMemory(&st, sizeof(st));
    _snprintf(szText, cchText, "%02d/%02d/%d  %02d:%02d:%02d", st.wMonth, st.wDay, st.wYear,
              st.wHour, st.wMinute, st.wSecond);
    szText[cchText - 1] = '\0';
}

int QueryFileVersion(const char* pszPath, DWORD* pdwMS, DWORD* pdwLS)
{
    DWORD dwHandle = 0;
    DWORD cbInfo = SysGetFileVersionInfoSizeA(pszPath, &dwHandle);
    if (cbInfo == 0)
    {
        WriteLog("Can't GetFileVersionInfoSize return [%d], can't get ver of [%s]\n",
                 (int)GetLastError(), pszPath);
        return 0;
    }

    void* pBlock = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, cbInfo);
    if (pBlock == NULL)
    {
        WriteLog("Can't allocate mem return error [%d], can't get ver of [%s]\n",
                 (int)GetLastError(), pszPath);
        return 0;
    }

    int nResult = 0;
    VS_FIXEDFILEINFO* pInfo = NULL;
    UINT cbFixed = 0;
    if (!SysGetFileVersionInfoA(pszPath, 0, cbInfo, pBlock))
    {
        WriteLog("GetFileVersionInfo return error [%d], can't get ver of [%s]\n",
                 (int)GetLastError(), pszPath);
    }
    else if (!SysVerQueryValueA(pBlock, "\\", (LPVOID*)&pInfo, &cbFixed) || pInfo == NULL ||
             cbFixed < sizeof(VS_FIXEDFILEINFO))
    {
        // A block too short for the fixed part would be read beyond its end.
        WriteLog("VerQueryValue fail, can't get ver\n");
    }
    else
    {
        WriteLog("Orvane: File [%s] version [%d:%d:%d:%d]\n", pszPath,
                 (int)HIWORD(pInfo->dwFileVersionMS), (int)LOWORD(pInfo->dwFileVersionMS),
                 (int)HIWORD(pInfo->dwFileVersionLS), (int)LOWORD(pInfo->dwFileVersionLS));
        *pdwMS = pInfo->dwFileVersionMS;
        *pdwLS = pInfo->dwFileVersionLS;
        nResult = 1;
    }
    HeapFree(GetProcessHeap(), 0, pBlock);
    return nResult;
}

int IsSourceNewer(const char* pszDest, const char* pszSource)
{
    // The source's time is read by the probe that finds it: opening it a second time for the
    // time alone cost as much as the rest of the test of a file without a version.
    HANDLE hSource = ProbeFile(pszSource);
    if (hSource == INVALID_HANDLE_VALUE)
    {
        WriteLog("Source file not exit, skip it\n");
        return 0;
    }
    FILETIME ftSource;
    BOOL bSourceTime = GetFileTime(hSource, NULL, NULL, &ftSource);
    CloseHandle(hSource);
    // In an engine directory that others could change until this run closed it, no installed
    // file or staged copy can be taken for what it says it is (a later time or version is
    // easily given): the package's file is put in place of every one.
    if (g_bGuardEngineFiles)
        return 1;

    HANDLE hDest = ProbeFile(pszDest);
    if (hDest == INVALID_HANDLE_VALUE)
        return 1;
    FILETIME ftDest;
    BOOL bDestTime = GetFileTime(hDest, NULL, NULL, &ftDest);
    CloseHandle(hDest);
    if (!bDestTime)
        return 1;

    DWORD dwDestMS, dwDestLS, dwSourceMS, dwSourceLS;
    if (QueryFileVersion(pszDest, &dwDestMS, &dwDestLS) &&
        QueryFileVersion(pszSource, &dwSourceMS, &dwSourceLS))
    {
        if (dwSourceMS > dwDestMS)
        {
            WriteLog("Pelmora's Major version is newer\n");
            return 1;
        }
        if (dwSourceMS == dwDestMS && dwSourceLS > dwDestLS)
        {
            WriteLog("Pelmora's Minor version is newer\n");
            return 1;
        }
    }

    if (!bSourceTime)
    {
        // Without a source time there is nothing to compare: keep the installed file.
        WriteLog("Orvane: cannot get temp file [%s] time\n", pszSource);
        return 0;
    }
    if (CompareFileTime(&ftSource, &ftDest) <= 0)
        return 0;
    char szSourceTime[64], szDestTime[64];
    FormatFileTime(&ftSource, szSourceTime, sizeof(szSourceTime));
    FormatFileTime(&ftDest, szDestTime, sizeof(szDestTime));
    WriteLog("Orvane: Source file time [%s] \n", szSourceTime);
    WriteLog("Orvane: Dest file time [%s]\n", szDestTime);
    return 1;
}
