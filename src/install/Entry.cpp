// The run from start to way out: mode dispatch, argument interpretation, platform, manifest.
#include "install.h"
#include "../deploy/deploy.h"
#include "../support/support.h"

#include <stdio.h>
#include <string.h>

void LogEndBanner()
{
    WriteLog("------------------- End -----------------------\n\n");
}

// The bad-argument way out, exit code 5.
static int ExitBadArguments(RUN_STATE* pRun)
{
    if (!g_bUsageOnly && g_bSilent)
    {
        WriteLog("Orvane: Invalid argument, Please check the usage \n");
    }
    else
    {
        WriteLog("Orvane: Display usage only\n");
        ShowUsageDialog(pRun->hInstance);
        if (!g_bUsageOnly)
            WriteLog("Orvane: Invalid argument, Please check the usage \n");
    }
    LogEndBanner();
    return 5;
}

// Steps up to the choice of flow. Returns -1 to go on, else the exit code.
static int PrepareRun(RUN_STATE* pRun)
{
    WriteLog("Orvane: START!!\n");
    WriteLog("Orvane: The arg: [%s]\n", pRun->lpCmdLine);

    char szPath[MAX_PATH];
    if (pRun->lpCmdLine[0] != '/')
    {
        g_dwEngIDs = BOTH_OSKA_BRIN;
        g_bDefaultArgs = 1;
        g_bSilent = 1;
        WriteLog("Orvane: without engine type argument set default to BOTH_OSKA_BRIN -  "
                 "szEngPath[%s] lpCmdLine[%s]\n",
                 pRun->lpCmdLine, pRun->lpCmdLine);
    }
    else
    {
        if (MbsStr(pRun->lpCmdLine, "/NS") || MbsStr(pRun->lpCmdLine, "/Ns") ||
            MbsStr(pRun->lpCmdLine, "/nS") || MbsStr(pRun->lpCmdLine, "/ns"))
        {
            WriteLog("Orvane: Non Silent Mode\n");
            g_bSilent = 0;
        }
        else
        {
            WriteLog("Orvane: Silent Mode\n");
        }

        char ch1 = pRun->lpCmdLine[1];
        if (_strnicmp(pRun->lpCmdLine, "/CHECK", 6) == 0)
        {
            // Nothing else of the argument text counts but the non-silent switch.
            WriteLog("Orvane: Agr: CHECK\n");
            pRun->bCheckOnly = 1;
            pRun->lpCmdLine[0] = '\0';
        }
        else if (ch1 == '?')
        {
            g_bUsageOnly = 1;
            return ExitBadArguments(pRun);
        }
        else if (_strnicmp(pRun->lpCmdLine, REMOVE_SWITCH, REMOVE_SWITCH_LEN) == 0)
        {
            if (ParseRemoveArguments(pRun) != 0)
                return ExitBadArguments(pRun);
        }
        else if (ch1 == 'C' || ch1 == 'c')
        {
            char ch2 = pRun->lpCmdLine[2];
            char ch3 = ch2 ? pRun->lpCmdLine[3] : '\0';
            if ((ch2 != 'F' && ch2 != 'f') || (ch3 != 'G' && ch3 != 'g'))
                return ExitBadArguments(pRun);
            if (RunConfigMode(pRun->lpCmdLine + 4, pRun->szProductName, &pRun->bAddRefCount,
                              szPath) != 0)
                return ExitBadArguments(pRun);
            // From here on the argument text is the path argument only.
            lstrcpynA(pRun->lpCmdLine, szPath, sizeof(pRun->lpCmdLine));
        }
    }

    if (!g_bCfgMode && !pRun->bCheckOnly && !g_bRemoveMode)
    {
        if (ParseCmdLine(pRun->lpCmdLine, pRun->szProductName, &pRun->bAddRefCount, szPath) != 0)
            return ExitBadArguments(pRun);
        lstrcpynA(pRun->lpCmdLine, szPath, sizeof(pRun->lpCmdLine));
        WriteLog("Orvane: szProductName [%s]\n", pRun->szProductName);
    }

    if (CheckPathExtension(pRun->lpCmdLine) != 0)
        return ExitBadArguments(pRun);

    WriteLog("Orvane: The szEngPath[%s]\n", pRun->lpCmdLine);
    g_dwOSType = GetCurrentOSType();

    char szCurDir[MAX_PATH];
    DWORD cchCurDir = GetCurrentDirectoryA(sizeof(szCurDir), szCurDir);
    int n = -1;
    if (cchCurDir != 0 && cchCurDir < sizeof(szCurDir))
        n = _snprintf(g_szFileList, sizeof(g_szFileList), "%s\\%s", szCurDir, "FileList.ini");
    if (n < 0 || n >= (int)sizeof(g_szFileList))
    {
        // A current directory this long cannot hold a manifest we could name.
        g_szFileList[0] = '\0';
        WriteLog("Orvane: Current directory too long for the file list path\n");
        WriteLog("Orvane: Missing Filelist at [%s]!!\n", g_szFileList);
        ShowResultMessage(pRun->hInstance, IDS_MISSING_FILELIST);
        LogEndBanner();
        return 4;
    }
    WriteLog("Orvane: Check file list from [%s]\n", g_szFileList);
    if (!PathExists(g_szFileList))
    {
        WriteLog("Orvane: Missing Filelist at [%s]!!\n", g_szFileList);
        ShowResultMessage(pRun->hInstance, IDS_MISSING_FILELIST);
        LogEndBanner();
        return 4;
    }
    return -1;
}

int PelmoraMain(HINSTANCE hInstance, const char* pszArgText)
{
    // The run state is large (the argument text may be 32 KiB); keep it off the stack.
    static RUN_STATE s_Run;
    RUN_STATE* pRun = &s_Run;
    ZeroMemory(pRun, sizeof(*pRun));
    pRun->hInstance = hInstance;
    pRun->bAddRefCount = 1;
    lstrcpynA(pRun->lpCmdLine, pszArgText, sizeof(pRun->lpCmdLine));

    // The run's registry object lives from the first log line to the way out.
    RegBaseKeyClass reg(HKEY_LOCAL_MACHINE);
    pRun->pReg = &reg;

    int nExit = PrepareRun(pRun);
    if (nExit != -1)
        return nExit;

    if (pRun->bCheckOnly)
        return RunPackageCheck(pRun);

    HANDLE hLock = AcquireRunLock();
    // The copy and refresh passes walk each section up to four times; the run reads it once.
    KeepManifestSections(TRUE);
    if (g_bRemoveMode)
    {
        nExit = RunRemove(pRun);
        KeepManifestSections(FALSE);
        ReleaseRunLock(hLock);
        return nExit;
    }
    DetectFormerInstall(pRun);
    if (!pRun->bFormerInstalled)
    {
        if (pRun->lpCmdLine[0] == '\0')
            WriteLog("Orvane: Missing argument and Registry!!\n");
        nExit = RunFirstInstall(pRun);
    }
    else
    {
        // A release that a stopped removal left half made is finished before the count is read.
        FinishStoppedRelease(pRun);
        ReadFormerRecord(pRun);
        nExit = RunUpdate(pRun);
    }
    KeepManifestSections(FALSE);
    ReleaseRunLock(hLock);
    return nExit;
}
