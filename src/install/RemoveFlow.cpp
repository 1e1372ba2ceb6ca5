// The removal flow (/REMOVE): a product's uninstaller gives back its reference to the shared
// engine, and the product that held the last one takes the engine away. Read top to bottom, it
// is the list of the removal's steps; the order is what lets a stopped removal be finished by
// the next run: the release is recorded before it is made, the environment goes while the engine
// directory can still name it, then the files, and the record last.
#include "install.h"
#include "../deploy/deploy.h"
#include "../reboot/reboot.h"
#include "../support/support.h"
#include "../sysint/sysint.h"

#include <stdio.h>
#include <string.h>

int ParseRemoveArguments(RUN_STATE* pRun)
{
    WriteLog("Orvane: Agr: REMOVE\n");
    g_bRemoveMode = 1;
    const char* pszText = pRun->lpCmdLine + REMOVE_SWITCH_LEN;
    while (*pszText == ' ')
        pszText++;
    // The parser sets an engine set only for an engine switch (or /NS alone, which names no
    // product): one that is set after it asked for an engine the removal cannot take.
    g_dwEngIDs = 0;
    char szPath[MAX_PATH];
    // The run found the non-silent switch in the whole argument text: none of its forms can start
    // within "/REMOVE", so it is the one in this text.
    if (ParseSwitchText(pszText, pRun->pszNoSilent, pRun->szProductName, &pRun->bAddRefCount,
                        szPath) != 0)
        return -1;
    if (pRun->szProductName[0] == '\0')
    {
        WriteLog("Orvane: missing product name\n");
        return -1;
    }
    if (g_dwEngIDs != 0)
    {
        WriteLog("Orvane: /REMOVE takes no engine switch\n");
        return -1;
    }
    if (szPath[0] != '\0')
    {
        WriteLog("Orvane: /REMOVE takes no /PATH [%s]\n", szPath);
        return -1;
    }
    g_dwEngIDs = BOTH_OSKA_BRIN;
    pRun->lpCmdLine[0] = '\0';
    WriteLog("Orvane: szProductName [%s]\n", pRun->szProductName);
    return 0;
}

// The removal's ways out: the closing line and the message when not silent.
static int ExitRemove(RUN_STATE* pRun, int nExit, const char* pszLine, UINT uMessage)
{
    WriteLog(pszLine);
    ShowResultMessage(pRun->hInstance, uMessage);
    return nExit;
}

// Only an absolute directory is an engine directory: a relative one would be taken from the
// package directory, whose files are not ours to delete.
static BOOL IsAbsoluteDir(const char* pszPath)
{
    BOOL bDrive =
        ((pszPath[0] >= 'A' && pszPath[0] <= 'Z') || (pszPath[0] >= 'a' && pszPath[0] <= 'z')) &&
        pszPath[1] == ':' && pszPath[2] == '\\';
    return bDrive || (pszPath[0] == '\\' && pszPath[1] == '\\');
}

// A directory that still holds a file waiting for the restart is emptied only by that restart:
// its deletion is asked for after the files' own, so the system meets it empty, or finds a file
// that is not ours in it and leaves it. 95, 98 and ME cannot remove a directory at the restart
// (WININIT.INI only renames and deletes files), so there it stays.
static void RemoveDirNowOrAtRestart(const char* pszDir, BOOL bNeedReboot)
{
    if (RemoveEmptyDir(pszDir) || !bNeedReboot)
        return;
    if (IsNtFamilyPlatform())
        DeleteFileOnReboot(pszDir);
    else
        WriteLog("Orvane: Dir [%s] stays, the restart cannot remove it\n", pszDir);
}

// The last reference is gone: the engine files, the environment that names the engine
// directory and the directories themselves. Sets bNeedReboot for files that only the restart
// can delete.
static void RemoveEngine(RUN_STATE* pRun)
{
    pRun->pReg->SetBasePath(REG_SCANENGINE_PATH);
    pRun->pReg->GetString("", "", "Engine", "", pRun->szEngPath, sizeof(pRun->szEngPath));
    WriteLog("Orvane: Remove the engine from [%s]\n", pRun->szEngPath);
    if (!IsAbsoluteDir(pRun->szEngPath))
    {
        // A removal stopped after the Engine value went had already done this part.
        WriteLog("Orvane: No engine directory in reg, no file to remove\n");
        return;
    }

    RemoveRegistryAndService(pRun->szEngPath);
    // Every section, whatever dwEngIDs says: an engine installed by any run goes.
    RemoveSectionFiles(pRun->szEngPath, SECTION_FILES, &pRun->bNeedReboot);
    RemoveSectionFiles(pRun->szEngPath, SECTION_OSKA, &pRun->bNeedReboot);
    RemoveSectionFiles(pRun->szEngPath, SECTION_BRIN, &pRun->bNeedReboot);

    char szDir[MAX_PATH];
    FormSubDir(szDir, pRun->szEngPath, "Logs");
    RemoveDirNowOrAtRestart(szDir, pRun->bNeedReboot);
    FormSubDir(szDir, pRun->szEngPath, "Incoming");
    RemoveDirNowOrAtRestart(szDir, pRun->bNeedReboot);
    RemoveDirNowOrAtRestart(pRun->szEngPath, pRun->bNeedReboot);
}

int RunRemove(RUN_STATE* pRun)
{
    WriteLog("Orvane: Remove, release ProdName[%s]\n", pRun->szProductName);
    if (!IsRecordPresent())
    {
        FinishRecordTail(pRun);
        return ExitRemove(pRun, EXIT_OK, "Orvane: No ScanEngine record, nothing to remove\n",
                          IDS_REMOVE_NOTHING);
    }

    // An r80 installation's files and environment belong to its own release.
    pRun->pReg->SetBasePath(REG_SCANENGINE);
    pRun->pReg->GetString("", "", "version", "", pRun->szVersion, sizeof(pRun->szVersion));
    WriteLog("Retrieved ScanEngine version %s\n", pRun->szVersion);
    pRun->bInstalledOnR80 = pRun->szVersion[0] != '\0';
    if (!pRun->bInstalledOnR80)
    {
        // Checked before the release: a removal refused here leaves the reference as it was.
        pRun->pReg->SetBasePath(REG_SCANENGINE_PATH);
        pRun->pReg->GetString("", "", "Engine", "", pRun->szEngPath, sizeof(pRun->szEngPath));
        if (IsAbsoluteDir(pRun->szEngPath))
        {
            int nExit = CheckEngineDirSafety(pRun);
            if (nExit)
                return nExit;
        }
    }
    FinishStoppedRelease(pRun);
    BOOL bReleased = ReleaseProduct(pRun);
    UINT uKept = bReleased ? IDS_REMOVE_RELEASED : IDS_REMOVE_NOTHING;

    if (pRun->bInstalledOnR80)
        return ExitRemove(pRun, EXIT_OK,
                          "Orvane: r80 installation keeps its engine, nothing removed\n", uKept);
    if (pRun->dwRefCount == RECORD_SENTINEL)
        return ExitRemove(pRun, EXIT_OK, "Orvane: Reference count unknown, nothing removed\n",
                          uKept);
    if (!IsLastReferenceGone(pRun))
        return ExitRemove(pRun, EXIT_OK, "Orvane: Engine still referenced, nothing removed\n",
                          uKept);

    // Also reached by a product that is no longer registered: a record of count 0 without
    // products is a removal that was stopped, and this run finishes it.
    WriteLog("Orvane: Last reference released, remove the engine\n");
    pRun->bNeedReboot = 0;
    RemoveEngine(pRun);
    DeleteRecord(pRun);

    if (pRun->bNeedReboot)
        return ExitRemove(pRun, EXIT_NEED_REBOOT, "Orvane: Remove completes, but NEED_REBOOT\n",
                          IDS_REMOVE_NEED_REBOOT);
    return ExitRemove(pRun, EXIT_OK, "Orvane: Remove completes, not to reboot\n",
                      IDS_REMOVE_SUCCESS);
}
