// AVENGINE and the PATH entry of the engine directory in the system environment: in the registry
// on the NT family and ME, in C:\AUTOEXEC.BAT elsewhere.
#include "sysint.h"
#include "../RegClass/RegClass.h"
#include "../support/support.h"

#include <stdio.h>
#include <string.h>

static const char s_szNtEnvKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
static const char s_szMeEnvKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\SessionManager\\Environment";

// Size of the PATH text as the platform has always handed it over; a longer value is read whole
// into a larger buffer rather than cut or replaced.
#define PATH_VALUE_SIZE 4096
// The most of a PATH text a log line shows. A log message is cut at 4095 bytes; a PATH read whole
// may be longer, and a line cut there would lose its end and run into the next entry.
#define PATH_LOG_CHARS 4000

// How many bytes of the PATH text a log line shows: all of it, or PATH_LOG_CHARS without the lead
// byte of a character that would be split there.
static int PathLogLength(const char* pszValue)
{
    size_t cch = strlen(pszValue);
    if (cch <= PATH_LOG_CHARS)
        return (int)cch;
    cch = PATH_LOG_CHARS;
    if (MbsIsTrailByte(pszValue, cch))
        cch--;
    return (int)cch;
}

static void SetRegistryEnvironment(const char* pszEngPath, BOOL bMe)
{
    const char* pszKey = bMe ? s_szMeEnvKey : s_szNtEnvKey;
    WriteLog(bMe ? "Orvane: Set AVENGINE - WME\n" : "Orvane: Set AVENGINE - WNT+\n");

    RegBaseKeyClass reg(HKEY_LOCAL_MACHINE);
    reg.SetBasePath(pszKey);
    char szShort[MAX_PATH];
    DWORD cch = g_pfnGetShortPathNameA(pszEngPath, szShort, sizeof(szShort));
    if (cch == 0 || cch >= sizeof(szShort))
        szShort[0] = '\0';
    // ME programs read AVENGINE in the OEM code page; the PATH entry stays ANSI.
    char szAvEngine[MAX_PATH];
    lstrcpynA(szAvEngine, szShort, sizeof(szAvEngine));
    if (bMe)
        CharToOemBuffA(szShort, szAvEngine, (DWORD)strlen(szShort));
    reg.SetString("", "", "AVENGINE", szAvEngine);

    char szEntry[MAX_PATH + 1];
    _snprintf(szEntry, sizeof(szEntry), ";%s", szShort);
    szEntry[sizeof(szEntry) - 1] = '\0';

    // A PATH that did not exist is created with the type Windows gives the system PATH.
    DWORD dwType = REG_NONE;
    BYTE* pStored = NULL;
    DWORD cbData = 0;
    LONG lResult = reg.ReadValueAlloc("", "", "PATH", &dwType, &pStored, &cbData);
    if (lResult == ERROR_FILE_NOT_FOUND)
    {
        dwType = REG_EXPAND_SZ;
    }
    else if (lResult != ERROR_SUCCESS || (dwType != REG_SZ && dwType != REG_EXPAND_SZ))
    {
        // Not a text we can edit: the administrator's value is left as it is.
        WriteLog("SetRegistryAndService: PATH is unreadable (error [%d], type [%d]), left "
                 "unchanged\n",
                 (int)lResult, (int)dwType);
        RegClass::FreeValue(pStored);
        return;
    }

    DWORD cbBuf = cbData + (DWORD)strlen(szEntry) + 2;
    if (cbBuf < PATH_VALUE_SIZE)
        cbBuf = PATH_VALUE_SIZE;
    char* pszValue = (char*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, cbBuf);
    if (!pszValue)
    {
        WriteLog("SetRegistryAndService: no memory for PATH [%d bytes], left unchanged\n",
                 (int)cbBuf);
        RegClass::FreeValue(pStored);
        return;
    }
    // The stored text may lack its NUL: the buffer has room for one after it.
    if (pStored)
        memcpy(pszValue, pStored, cbData);
    RegClass::FreeValue(pStored);

    if (szShort[0] == '\0')
    {
        WriteLog("fail to get short path from engine path [%s]\n", pszEngPath);
    }
    else
    {
        WriteLog(bMe ? "Add Engine path [%s]..\n" : "Add Engine path [%s]\n", szShort);
        WriteLog("Env [%.*s]\n", PathLogLength(pszValue), pszValue);
        DWORD cchValue = AppendUniquePathEntry(pszValue, cbBuf, szEntry);
        lResult = reg.SetValue("", "", "PATH", dwType, (const BYTE*)pszValue, cchValue + 1);
        if (lResult != ERROR_SUCCESS)
            WriteLog("SetRegistryAndService: fail to RegSetValueEx of scan eng path error [%d]\n",
                     (int)lResult);
    }
    WriteLog("The Env path is [%.*s]\n", PathLogLength(pszValue), pszValue);
    HeapFree(GetProcessHeap(), 0, pszValue);
}

void SetRegistryAndService(const char* pszEngPath, const char* pszProductName)
{
    // ME keeps the environment in the registry as the NT family does, under a key of its own.
    if (IsNtFamilyPlatform())
        SetRegistryEnvironment(pszEngPath, FALSE);
    else if (g_dwOSType == OSID_WME)
        SetRegistryEnvironment(pszEngPath, TRUE);
    else
        SetAutoexecLines9x(pszEngPath, pszProductName);
}
