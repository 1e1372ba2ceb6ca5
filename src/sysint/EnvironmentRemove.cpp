// The engine environment taken back when the engine is removed: AVENGINE when it still names this
// engine directory, and exactly the PATH entry that SetRegistryAndService adds. Every other entry
// of PATH, their order and the value's type stay as they are.
#include "sysint.h"
#include "../support/support.h"

#include <stdio.h>
#include <string.h>

static const char s_szNtEnvKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
static const char s_szMeEnvKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\SessionManager\\Environment";

// Deletes AVENGINE when it holds szAvEngine (the form the install wrote), in any letter case.
static void RemoveAvEngine(HKEY hKey, const char* szAvEngine)
{
    char szValue[MAX_PATH];
    DWORD cbValue = sizeof(szValue) - 1;
    DWORD dwType = REG_NONE;
    LONG lResult = RegQueryValueExA(hKey, "AVENGINE", NULL, &dwType, (BYTE*)szValue, &cbValue);
    if (lResult == ERROR_FILE_NOT_FOUND)
        return;
    if (lResult != ERROR_SUCCESS || (dwType != REG_SZ && dwType != REG_EXPAND_SZ))
    {
        WriteLog("Orvane: AVENGINE is not ours (error [%d], type [%d]), left\n", (int)lResult,
                 (int)dwType);
        return;
    }
    szValue[cbValue < sizeof(szValue) ? cbValue : sizeof(szValue) - 1] = '\0';
    char szMine[MAX_PATH];
    lstrcpynA(szMine, szAvEngine, sizeof(szMine));
    char szFound[MAX_PATH];
    lstrcpynA(szFound, szValue, sizeof(szFound));
    MbsUpper(szMine);
    MbsUpper(szFound);
    if (strcmp(szMine, szFound) != 0)
    {
        WriteLog("Orvane: AVENGINE [%s] names another directory, left\n", szValue);
        return;
    }
    lResult = RegDeleteValueA(hKey, "AVENGINE");
    if (lResult == ERROR_SUCCESS)
        WriteLog("Orvane: Remove AVENGINE [%s]\n", szValue);
    else
        WriteLog("Orvane: fail to remove AVENGINE error [%d]\n", (int)lResult);
}

// Takes the entry ";<short path>" out of PATH; the value is written only when it changed, with
// the type it had. A value that held nothing but our entry was made by the install and goes.
static void RemovePathValueEntry(HKEY hKey, const char* szShort)
{
    char szEntry[MAX_PATH + 1];
    _snprintf(szEntry, sizeof(szEntry), ";%s", szShort);
    szEntry[sizeof(szEntry) - 1] = '\0';

    DWORD dwType = REG_NONE;
    DWORD cbData = 0;
    LONG lResult = RegQueryValueExA(hKey, "PATH", NULL, &dwType, NULL, &cbData);
    if (lResult == ERROR_FILE_NOT_FOUND)
        return;
    if (lResult != ERROR_SUCCESS || (dwType != REG_SZ && dwType != REG_EXPAND_SZ))
    {
        WriteLog("Orvane: PATH is unreadable (error [%d], type [%d]), left unchanged\n",
                 (int)lResult, (int)dwType);
        return;
    }
    DWORD cbBuf = cbData + 2;
    char* pszValue = (char*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, cbBuf);
    if (!pszValue)
        return;
    DWORD cbRead = cbBuf - 1;
    if (RegQueryValueExA(hKey, "PATH", NULL, &dwType, (BYTE*)pszValue, &cbRead) != ERROR_SUCCESS)
    {
        WriteLog("Orvane: PATH changed while read, left unchanged\n");
        HeapFree(GetProcessHeap(), 0, pszValue);
        return;
    }
    pszValue[cbRead < cbBuf ? cbRead : cbBuf - 1] = '\0';
    size_t cchOld = strlen(pszValue);
    DWORD cchNew = RemovePathEntry(pszValue, szEntry);
    if (cchNew != cchOld)
    {
        WriteLog("Orvane: Remove Engine path [%s] from Env\n", szShort);
        if (cchNew == 0)
            lResult = RegDeleteValueA(hKey, "PATH");
        else
            lResult = RegSetValueExA(hKey, "PATH", 0, dwType, (const BYTE*)pszValue, cchNew + 1);
        if (lResult != ERROR_SUCCESS)
            WriteLog("Orvane: fail to write PATH error [%d]\n", (int)lResult);
    }
    HeapFree(GetProcessHeap(), 0, pszValue);
}

static void RemoveRegistryEnvironment(const char* pszEngPath, BOOL bMe)
{
    const char* pszKey = bMe ? s_szMeEnvKey : s_szNtEnvKey;
    WriteLog(bMe ? "Orvane: Remove AVENGINE - WME\n" : "Orvane: Remove AVENGINE - WNT+\n");
    char szShort[MAX_PATH];
    DWORD cch = g_pfnGetShortPathNameA(pszEngPath, szShort, sizeof(szShort));
    if (cch == 0 || cch >= sizeof(szShort) || szShort[0] == '\0')
    {
        // Without the engine directory its short form, and so our entries, cannot be known.
        WriteLog("fail to get short path from engine path [%s]\n", pszEngPath);
        return;
    }
    HKEY hKey;
    LONG lResult =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, KEY_ALL_ACCESS | PELMORA_KEY_VIEW, &hKey);
    if (lResult != ERROR_SUCCESS)
        return;
    char szAvEngine[MAX_PATH];
    lstrcpynA(szAvEngine, szShort, sizeof(szAvEngine));
    if (bMe)
        CharToOemBuffA(szShort, szAvEngine, (DWORD)strlen(szShort));
    RemoveAvEngine(hKey, szAvEngine);
    RemovePathValueEntry(hKey, szShort);
    RegCloseKey(hKey);
}

void RemoveRegistryAndService(const char* pszEngPath)
{
    switch (g_dwOSType)
    {
    case OSID_NT351:
    case OSID_NT4:
    case OSID_W2K:
        RemoveRegistryEnvironment(pszEngPath, FALSE);
        break;
    case OSID_WME:
        RemoveRegistryEnvironment(pszEngPath, TRUE);
        break;
    default:
        RemoveAutoexecLines9x(pszEngPath);
        break;
    }
}
