// The first-install and update flows: the order of their lasting effects is what the suite's
// other products rely on, so each flow reads top to bottom as the list of its steps.
#include "install.h"
#include "../deploy/deploy.h"
#include "../support/support.h"
#include "../sysint/sysint.h"

#include <stdio.h>
#include <string.h>

// The sections of an engine set, common section first; any set other than 1 and 2 takes both.
static int GetSections(int* anSections)
{
    anSections[0] = SECTION_FILES;
    if (g_dwEngIDs == OSKA_ONLY)
    {
        anSections[1] = SECTION_OSKA;
        return 2;
    }
    if (g_dwEngIDs == BRIN_ONLY)
    {
        anSections[1] = SECTION_BRIN;
        return 2;
    }
    anSections[1] = SECTION_OSKA;
    anSections[2] = SECTION_BRIN;
    return 3;
}

static void CopyAllSections(RUN_STATE* pRun)
{
    int anSections[3];
    int nSections = GetSections(anSections);
    for (int i = 0; i < nSections; i++)
        CopySectionFiles(pRun->szEngPath, anSections[i], &pRun->bNeedReboot);
}

int RunInstall(RUN_STATE* pRun)
{
    DetectFormerInstall(pRun);
    if (pRun->bFormerInstalled)
        return RunUpdate(pRun);
    return RunFirstInstall(pRun);
}

int RunFirstInstall(RUN_STATE* pRun)
{
    if (pRun->lpCmdLine[0] == '\0')
        WriteLog("Orvane: Missing argument and Registry!!\n");
    WriteLog("Orvane: New Install\n");
    int nExit = ResolveFirstInstallEngineDir(pRun);
    if (!nExit)
        nExit = CheckEngineDirSafety(pRun);
    if (nExit)
        return nExit;

    // Too little room (EXIT_LOW_DISK_SPACE), or the system error number of a failed query.
    DWORD dwSpace = CheckFreeDiskSpace(pRun->szEngPath);
    if (dwSpace != 0)
        return (int)dwSpace;

    WriteLog("Orvane: Engine files is copied to [%s]\n", pRun->szEngPath);
    CopyAllSections(pRun);

    WriteEngineValue(pRun);
    WriteFirstInstallRecord(pRun);

    char szLogPath[MAX_PATH];
    char szIncoming[MAX_PATH];
    FormSubDir(szLogPath, pRun->szEngPath, "Logs");
    WriteDirectoryValue(pRun, "Logs", szLogPath);
    Create_Dir(szLogPath);
    WriteLog("Orvane: Create szLogPath Dir [%s]\n", szLogPath);
    FormSubDir(szIncoming, pRun->szEngPath, "Incoming");
    WriteDirectoryValue(pRun, "Incoming", szIncoming);
    Create_Dir(szIncoming);
    WriteLog("Orvane: Create szIncoming Dir [%s]\n", szIncoming);
    KeepEngineDirectoriesFromRemoval(pRun->szEngPath);

    SetRegistryAndService(pRun->szEngPath, pRun->szProductName);

    // Files staged for the next restart do not change a first install's answer.
    WriteLog("Orvane: first install completes\n");
    ShowResultMessage(pRun->hInstance, IDS_SUCCESS);
    return EXIT_OK;
}

// The default product of an update in default mode without a path. Default mode stands for the
// suite's own default request, so the default product registers even when the text also held a
// /PROD: switch (unlike the first install, which keeps a name it was given).
static void ApplyDefaultProduct(RUN_STATE* pRun)
{
    if (pRun->lpCmdLine[0] == '\0' && g_bDefaultArgs)
    {
        lstrcpynA(pRun->szProductName, DEFAULT_PRODUCT_NAME, sizeof(pRun->szProductName));
        MbsUpper(pRun->szProductName);
    }
}

// An update's directory values: those of a directory taken from the record are written only
// for a subdirectory that is missing; otherwise all three are written every time.
static void SettleDirectoryValues(RUN_STATE* pRun, BOOL bFromRecord)
{
    char szDir[MAX_PATH];
    static const struct
    {
        const char* pszName;
        const char* pszLogFormat;
    } s_aDirs[] = {
        {"Logs", "Orvane: Create szLogPath Dir [%s]\n"},
        {"Incoming", "Orvane: Create szIncoming Dir [%s]\n"},
    };
    if (!bFromRecord)
        WriteEngineValue(pRun);
    for (const auto& dir : s_aDirs)
    {
        FormSubDir(szDir, pRun->szEngPath, dir.pszName);
        BOOL bExists = PathExists(szDir);
        if (!bFromRecord || !bExists)
            WriteDirectoryValue(pRun, dir.pszName, szDir);
        if (!bExists)
        {
            Create_Dir(szDir);
            WriteLog(dir.pszLogFormat, szDir);
        }
    }
}

int RunUpdate(RUN_STATE* pRun)
{
    // A release that a stopped removal left half made is finished before the count is read.
    FinishStoppedRelease(pRun);
    ReadFormerRecord(pRun);
    WriteLog("Orvane: Update, engine files will be copied to previous location\n");
    ReadUpdateStart(pRun);

    BOOL bFromRecord = FALSE;
    int nExit = ResolveUpdateEngineDir(pRun, &bFromRecord);
    if (!nExit)
        nExit = CheckEngineDirSafety(pRun);
    if (nExit)
        return nExit;
    SettleDirectoryValues(pRun, bFromRecord);
    SetRegistryAndService(pRun->szEngPath, pRun->szProductName);

    if (pRun->bInstalledOnR80)
    {
        // An r80 installation keeps its own files: register the product and copy nothing.
        WriteLog("r8 logic\n");
        ApplyDefaultProduct(pRun);
        RegisterProductOnR80(pRun);
        pRun->bNoEndBanner = TRUE;
        return EXIT_R80_INSTALLATION;
    }

    ApplyDefaultProduct(pRun);
    RegisterProductOnUpdate(pRun);

    // An update copies even when the drive looks short: the files it replaces free room too.
    pRun->bNeedReboot = 0;
    CheckFreeDiskSpace(pRun->szEngPath);
    CopyAllSections(pRun);
    KeepEngineDirectoriesFromRemoval(pRun->szEngPath);

    WriteLog("Orvane: check 000\n");
    int anSections[3];
    int nSections = GetSections(anSections);
    for (int i = 0; i < nSections; i++)
        UpdateZeroSuffixFiles(pRun->szEngPath, anSections[i]);

    WriteEngineSet(pRun);

    if (pRun->bNeedReboot)
    {
        WriteLog("Orvane: Install completes, but NEED_REBOOT\n");
        ShowResultMessage(pRun->hInstance, IDS_NEED_REBOOT);
        return EXIT_NEED_REBOOT;
    }
    WriteLog("Orvane: Install completes, not to reboot\n");
    ShowResultMessage(pRun->hInstance, IDS_SUCCESS);
    return EXIT_OK;
}
