// Configuration mode and the extension test of the path argument; the argument text itself is
// interpreted in ArgText.cpp.
#include "install.h"
#include "../support/support.h"

#include <string.h>

// Configuration mode on pszCfgText, in which the non-silent switch was found at pszNoSilent.
static int EnterConfigMode(const char* pszCfgText, const char* pszNoSilent, char* szProductName,
                           BOOL* pbAddRefCount, char* szPath)
{
    WriteLog("Orvane: Agr: CFG\n");
    WriteLog("Orvane: CFG \n");
    g_bCfgMode = 1;

    while (*pszCfgText == ' ')
        pszCfgText++;

    char szIniFile[MAX_PATH];
    if (ParseSwitchText(pszCfgText, pszNoSilent, szProductName, pbAddRefCount, szIniFile) != 0)
        return -1;
    WriteLog("Orvane: ini file [%s]\n", szIniFile);

    // The profile calls take a name without a directory from the Windows directory, where the
    // existence test looks in the current one: both take it against the current directory.
    char szIniPath[MAX_PATH];
    char* pszFilePart;
    DWORD cchFull = GetFullPathNameA(szIniFile, sizeof(szIniPath), szIniPath, &pszFilePart);
    if (cchFull == 0 || cchFull >= sizeof(szIniPath) || !PathExists(szIniPath))
    {
        WriteLog("Orvane: Can't find ini file [%s]\n", szIniFile);
        return -1;
    }
    lstrcpynA(szIniFile, szIniPath, sizeof(szIniFile));

    g_dwEngIDs = GetPrivateProfileIntA("EngineID", "dwEngIDs", BOTH_OSKA_BRIN, szIniFile);
    WriteLog("Orvane: dwEngIDs from ini file [%d]\n", (int)g_dwEngIDs);

    // Read into more room than the engine directory may take, so that a value that does not fit
    // is seen and refused rather than cut into another directory.
    char szEng[4096];
    DWORD cchEng = GetPrivateProfileStringA("Path", "ENG", "", szEng, sizeof(szEng), szIniFile);
    if (szEng[0] == '\0')
    {
        WriteLog("Orvane: Engine path not found in .ini file\n");
        return -1;
    }
    if (cchEng >= MAX_PATH)
    {
        WriteLog("Orvane: Engine path in .ini file too long [%d characters], at most %d are "
                 "accepted\n",
                 (int)cchEng, MAX_PATH - 1);
        return -1;
    }
    WriteLog("Orvane: szEngPath from ini file [%s]\n", szEng);
    MbsCopy(szPath, MAX_PATH, szEng);
    return 0;
}

int RunConfigMode(const char* pszCfgText, char* szProductName, BOOL* pbAddRefCount, char* szPath)
{
    return EnterConfigMode(pszCfgText, FindNoSilentSwitch(pszCfgText), szProductName, pbAddRefCount,
                           szPath);
}

int ParseConfigArguments(RUN_STATE* pRun)
{
    // The switch that the run found in the whole argument text is the one in the text after
    // "/CFG": none of its forms can start within those four characters.
    char szPath[MAX_PATH];
    if (EnterConfigMode(pRun->lpCmdLine + CFG_SWITCH_LEN, pRun->pszNoSilent, pRun->szProductName,
                        &pRun->bAddRefCount, szPath) != 0)
        return -1;
    // From here on the argument text is the path argument only.
    lstrcpynA(pRun->lpCmdLine, szPath, sizeof(pRun->lpCmdLine));
    return 0;
}

int CheckPathExtension(const char* pszPath)
{
    // The extension runs from the last "." of the last path component, as the runtime's path
    // splitter takes it.
    const char* pName = pszPath;
    const char* p = MbsRChr(pszPath, '\\');
    if (p)
        pName = p + 1;
    p = MbsRChr(pName, '/');
    if (p)
        pName = p + 1;
    p = MbsRChr(pName, ':');
    if (p)
        pName = p + 1;
    const char* pDot = MbsRChr(pName, '.');

    char szExt[MAX_PATH];
    MbsCopy(szExt, sizeof(szExt), pDot ? pDot : "");
    MbsUpper(szExt);
    WriteLog("Orvane: szEngPath [%s] ext [%s]\n", pszPath, szExt);

    if (strcmp(szExt, ".INI") == 0 && !g_bCfgMode)
    {
        WriteLog("Orvane: Invalid ScanEngine path, Please check the usage\n");
        return -1;
    }
    return 0;
}
