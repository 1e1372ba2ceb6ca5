// The engine environment taken back when the engine is removed: AVENGINE when it still names this
// engine directory, and exactly the PATH entry that SetRegistryAndService adds. Every other entry
// of PATH, their order and the value's type stay as they are.
#include "sysint.h"
#include "../RegClass/RegClass.h"
#include "../support/support.h"

#include <stdio.h>
#include <string.h>

static const char s_szNtEnvKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
static const char s_szMeEnvKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\SessionManager\\Environment";

// Deletes AVENGINE when it holds szAvEngine (the form the install wrote), in any letter case.
static void RemoveAvEngine(RegClass* pReg, const char* szAvEngine)
{
    char szValue[MAX_PATH];
    DWORD dwType = REG_NONE;
    LONG lResult = pReg->ReadText("", "", "AVENGINE", szValue, sizeof(szValue), &dwType);
    if (lResult == ERROR_FILE_NOT_FOUND)
        return;
    if (lResult != ERROR_SUCCESS)
    {
        WriteLog("Orvane: AVENGINE is not ours (error [%d], type [%d]), left\n", (int)lResult,
                 (int)dwType);
        return;
    }
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
    lResult = pReg->DeleteValue("", "AVENGINE");
    if (lResult == ERROR_SUCCESS)
        WriteLog("Orvane: Remove AVENGINE [%s]\n", szValue);
    else
        WriteLog("Orvane: fail to remove AVENGINE error [%d]\n", (int)lResult);
}

// Takes the entry ";<short path>" out of PATH; the value is written only when it changed, with
// the type it had. A value that held nothing but our entry was made by the install and goes.
static void RemovePathValueEntry(RegClass* pReg, const char* szShort)
{
    char szEntry[MAX_PATH + 1];
    _snprintf(szEntry, sizeof(szEntry), ";%s", szShort);
    szEntry[sizeof(szEntry) - 1] = '\0';

    DWORD dwType = REG_NONE;
    BYTE* pStored = NULL;
    DWORD cbData = 0;
    LONG lResult = pReg->ReadValueAlloc("", "", "PATH", &dwType, &pStored, &cbData);
    if (lResult == ERROR_FILE_NOT_FOUND)
        return;
    if (lResult != ERROR_SUCCESS || (dwType != REG_SZ && dwType != REG_EXPAND_SZ))
    {
        WriteLog("Orvane: PATH is unreadable (error [%d], type [%d]), left unchanged\n",
                 (int)lResult, (int)dwType);
        RegClass::FreeValue(pStored);
        return;
    }
    // The heap read ends the text even where it was stored without its NUL.
    char* pszValue = (char*)pStored;
    size_t cchOld = strlen(pszValue);
    DWORD cchNew = RemovePathEntry(pszValue, szEntry);
    if (cchNew != cchOld)
    {
        WriteLog("Orvane: Remove Engine path [%s] from Env\n", szShort);
        if (cchNew == 0)
            lResult = pReg->DeleteValue("", "PATH");
        else
            lResult = pReg->SetValue("", "", "PATH", dwType, (const BYTE*)pszValue, cchNew + 1);
        if (lResult != ERROR_SUCCESS)
            WriteLog("Orvane: fail to write PATH error [%d]\n", (int)lResult);
    }
    RegClass::FreeValue(pStored);
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
    // A key we may not change is not edited at all.
    RegBaseKeyClass reg(HKEY_LOCAL_MACHINE);
    reg.SetBasePath(pszKey);
    if (reg.CheckKey("", "", KEY_ALL_ACCESS) != ERROR_SUCCESS)
        return;
    char szAvEngine[MAX_PATH];
    lstrcpynA(szAvEngine, szShort, sizeof(szAvEngine));
    if (bMe)
        CharToOemBuffA(szShort, szAvEngine, (DWORD)strlen(szShort));
    RemoveAvEngine(&reg, szAvEngine);
    RemovePathValueEntry(&reg, szShort);
}

void RemoveRegistryAndService(const char* pszEngPath)
{
    // ME keeps the environment in the registry as the NT family does, under a key of its own.
    if (IsNtFamilyPlatform())
        RemoveRegistryEnvironment(pszEngPath, FALSE);
    else if (g_dwOSType == OSID_WME)
        RemoveRegistryEnvironment(pszEngPath, TRUE);
    else
        RemoveAutoexecLines9x(pszEngPath);
}
