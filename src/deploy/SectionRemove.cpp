// The engine files taken away again when the last product releases the engine: the undoing of the
// copy pass. Only files the manifest names are deleted, by plain name inside the engine
// directory; a scanner's logs, quarantined files and a user's own files there are never touched.
#include "deploy.h"

#include "reboot/reboot.h"
#include "support/support.h"

#include <string.h>

struct REMOVE_PASS
{
    const char* pszLabel;
    BOOL* pbNeedReboot;
    BOOL bMorcmd; // the manifest names Morcmd.exe, of which 95/98 runs made Probit.exe
};

BOOL RemoveEngineFile(const char* pszPath, BOOL* pbNeedReboot)
{
    DWORD dwAttr = g_pfnGetFileAttributesA(pszPath);
    if (dwAttr == INVALID_FILE_ATTRIBUTES)
        return TRUE;
    if (dwAttr & FILE_ATTRIBUTE_DIRECTORY)
    {
        WriteLog("Orvane: [%s] is a directory, not removed\n", pszPath);
        return FALSE;
    }
    // A read-only engine file is still ours; the attribute would only make the deletion fail.
    if (dwAttr & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesA(pszPath, FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileA(pszPath))
    {
        WriteLog("Orvane: Remove file [%s] Successfully\n", pszPath);
        return TRUE;
    }
    DWORD dwError = GetLastError();
    if (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND)
        return TRUE;
    // As a rule a file in use: a scanner still holds it until the restart.
    *pbNeedReboot = 1;
    WriteLog("Orvane: Can't remove file [%s] with error [%d], reboot needed\n", pszPath,
             (int)dwError);
    return DeleteFileOnReboot(pszPath);
}

static BOOL RemoveEntry(const MANIFEST_ENTRY* pEntry, void* pContext)
{
    REMOVE_PASS* pPass = (REMOVE_PASS*)pContext;
    if (!IsPlainFileName(pEntry->szName))
    {
        WriteLog("Orvane: file [%s] in %s section is not a plain file name, not removed\n",
                 pEntry->szName, pPass->pszLabel);
        return TRUE;
    }
    if (strcmp(pEntry->szName, "Morcmd.exe") == 0)
        pPass->bMorcmd = TRUE;
    // The staged copy first, and the replacement waiting for it with it: left pending without its
    // staged copy, it would delete at the restart a file that a later install puts in place.
    if (PathExists(pEntry->szStaged) && WithdrawReplacement(pEntry->szStaged))
        WriteLog("Orvane: replacement by [%s] at the restart withdrawn\n", pEntry->szStaged);
    RemoveEngineFile(pEntry->szStaged, pPass->pbNeedReboot);
    RemoveEngineFile(pEntry->szTarget, pPass->pbNeedReboot);
    return TRUE;
}

void RemoveSectionFiles(const char* pszEngPath, int nSection, BOOL* pbNeedReboot)
{
    if (!pszEngPath || !pszEngPath[0])
    {
        WriteLog("Orvane: missing scan engine path\n");
        return;
    }
    REMOVE_PASS pass = {GetSectionLabel(nSection), pbNeedReboot, FALSE};
    WriteLog("Orvane: Remove files of %s section from [%s]\n", pass.pszLabel, pszEngPath);
    WalkManifestSection(pszEngPath, nSection, RemoveEntry, &pass);

    // What the copy pass itself leaves beside the manifest's files: the scanner that 95/98 runs
    // copy from Morcmd.exe, and the work file and section marker of a copy that was stopped.
    char szPath[MAX_PATH];
    if (pass.bMorcmd && JoinEntryPath(szPath, pszEngPath, "Probit.exe", NULL))
        RemoveEngineFile(szPath, pbNeedReboot);
    RemoveCopyWorkFile(pszEngPath);
    RemoveSectionMarker(pszEngPath, nSection);
}

BOOL RemoveEmptyDir(const char* pszPath)
{
    if (!PathExists(pszPath))
        return TRUE;
    if (RemoveDirectoryA(pszPath))
    {
        WriteLog("Orvane: Remove Dir [%s]\n", pszPath);
        return TRUE;
    }
    WriteLog("Orvane: Dir [%s] not removed, error [%d]\n", pszPath, (int)GetLastError());
    return FALSE;
}
