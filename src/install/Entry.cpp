// The run from start to way out: the choice of the mode, the argument interpretation, platform
// and manifest, the mode's flow and the one way out.
#include "install.h"
#include "../deploy/deploy.h"
#include "../support/support.h"

#include <stdio.h>
#include <string.h>

// The bad-argument way out: the usage dialog when the run is not silent (always after /?).
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
    return EXIT_BAD_ARGUMENTS;
}

// The arguments of an install or update: the whole text goes to the parser, and its path
// argument takes the text's place.
static int ParseInstallArguments(RUN_STATE* pRun)
{
    char szPath[MAX_PATH];
    if (ParseSwitchText(pRun->lpCmdLine, pRun->pszNoSilent, pRun->szProductName,
                        &pRun->bAddRefCount, szPath) != 0)
        return -1;
    lstrcpynA(pRun->lpCmdLine, szPath, sizeof(pRun->lpCmdLine));
    WriteLog("Orvane: szProductName [%s]\n", pRun->szProductName);
    return 0;
}

// Default mode, a text that does not begin with "/": both engines and silent, whatever the text
// holds; the parser then reads it as an install's.
static int ParseDefaultArguments(RUN_STATE* pRun)
{
    g_dwEngIDs = BOTH_OSKA_BRIN;
    g_bDefaultArgs = 1;
    g_bSilent = 1;
    WriteLog("Orvane: without engine type argument set default to BOTH_OSKA_BRIN -  "
             "szEngPath[%s] lpCmdLine[%s]\n",
             pRun->lpCmdLine, pRun->lpCmdLine);
    return ParseInstallArguments(pRun);
}

// /? looks at nothing else of the text: the usage dialog, silent or not.
static int ParseUsageArguments(RUN_STATE* pRun)
{
    (void)pRun;
    g_bUsageOnly = 1;
    return -1;
}

// "/C" followed by neither "FG" nor "HECK" is refused before the parser sees it.
static int RefuseArguments(RUN_STATE* pRun)
{
    (void)pRun;
    return -1;
}

// A mode of the run: the first characters of the argument text that select it (in any mix of
// case), how it reads the rest of the text (0, or -1 for the bad-argument way out), its flow (the
// exit code; none for a mode whose arguments are always refused) and whether the flow holds the
// run lock and the manifest cache.
struct RUN_MODE
{
    const char* pszPrefix;
    int (*pfnParseArguments)(RUN_STATE* pRun);
    int (*pfnRun)(RUN_STATE* pRun);
    BOOL bSerialised;
};

// The longest prefix that the argument text begins with selects the mode, whatever the order of
// the rows: "/CHECK" and "/CFG" win over "/C", every switch over "/", and "/" over default mode.
static const RUN_MODE s_aModes[] = {
    {"", ParseDefaultArguments, RunInstall, TRUE},
    {"/", ParseInstallArguments, RunInstall, TRUE},
    {USAGE_SWITCH, ParseUsageArguments, NULL, FALSE},
    {"/C", RefuseArguments, NULL, FALSE},
    {CFG_SWITCH, ParseConfigArguments, RunInstall, TRUE},
    {CHECK_SWITCH, ParseCheckArguments, RunPackageCheck, FALSE},
    {REMOVE_SWITCH, ParseRemoveArguments, RunRemove, TRUE},
};

static const RUN_MODE* FindRunMode(const char* pszArgText)
{
    // The empty prefix of default mode matches every text, so a mode is always found.
    const RUN_MODE* pFound = NULL;
    size_t cchFound = 0;
    for (const RUN_MODE& mode : s_aModes)
    {
        size_t cch = strlen(mode.pszPrefix);
        if ((!pFound || cch > cchFound) && _strnicmp(pszArgText, mode.pszPrefix, cch) == 0)
        {
            pFound = &mode;
            cchFound = cch;
        }
    }
    return pFound;
}

// The steps up to the mode's flow: the arguments, the extension test, the platform and the
// manifest test. TRUE to go on to the flow; FALSE with *pnExit set when the run ends here.
static BOOL PrepareRun(RUN_STATE* pRun, const RUN_MODE* pMode, int* pnExit)
{
    WriteLog("Orvane: START!!\n");
    WriteLog("Orvane: The arg: [%s]\n", pRun->lpCmdLine);

    // The non-silent switch counts anywhere in the text; looked for once, here, and handed to the
    // parser. A mode of a switch says first whether it runs silently.
    pRun->pszNoSilent = FindNoSilentSwitch(pRun->lpCmdLine);
    if (pMode->pszPrefix[0] == '/')
    {
        if (pRun->pszNoSilent)
        {
            WriteLog("Orvane: Non Silent Mode\n");
            g_bSilent = 0;
        }
        else
        {
            WriteLog("Orvane: Silent Mode\n");
        }
    }

    if (pMode->pfnParseArguments(pRun) != 0 || CheckPathExtension(pRun->lpCmdLine) != 0)
    {
        *pnExit = ExitBadArguments(pRun);
        return FALSE;
    }

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
    }
    else
    {
        WriteLog("Orvane: Check file list from [%s]\n", g_szFileList);
        if (PathExists(g_szFileList))
            return TRUE;
    }
    WriteLog("Orvane: Missing Filelist at [%s]!!\n", g_szFileList);
    ShowResultMessage(pRun->hInstance, IDS_MISSING_FILELIST);
    *pnExit = EXIT_MISSING_FILELIST;
    return FALSE;
}

static void LogEndBanner()
{
    WriteLog("------------------- End -----------------------\n\n");
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

    const RUN_MODE* pMode = FindRunMode(pRun->lpCmdLine);
    int nExit = EXIT_OK;
    BOOL bFlow = PrepareRun(pRun, pMode, &nExit);
    BOOL bSerialised = bFlow && pMode->bSerialised;
    HANDLE hLock = NULL;
    if (bSerialised)
    {
        hLock = AcquireRunLock();
        // The copy and refresh passes walk each section up to four times; the run reads it once.
        KeepManifestSections(TRUE);
    }
    if (bFlow)
        nExit = pMode->pfnRun(pRun);

    // The one way out. The End banner closes the run's log lines (but after the r80 ending)
    // while the lock is still held, so that the next run's lines follow it.
    if (!pRun->bNoEndBanner)
        LogEndBanner();
    if (bSerialised)
    {
        KeepManifestSections(FALSE);
        ReleaseRunLock(hLock);
    }
    return nExit;
}
