// Copies over installed files. The platform's CopyFileA truncates its target before it writes,
// so a copy that fails half way (a full volume) or a run that is stopped during it leaves the
// engine file destroyed; and a cut file with a fresh time would then look newer than the package
// to the next run, which would leave it so.
#include "deploy.h"

#include "support/support.h"

#include <string.h>

// One work file per directory is enough: runs are serialised and copy one file at a time. The
// name is short so that it fits beside any target the manifest walk accepts.
static const char s_szWorkName[] = "~PMCOPY.TMP";

// The work file in the directory of pszTarget; FALSE when that path does not fit.
static BOOL FormWorkPath(const char* pszTarget, char* szWork)
{
    const char* pszSep = MbsRChr(pszTarget, '\\');
    if (!pszSep)
        return FALSE;
    size_t cchDir = (size_t)(pszSep - pszTarget) + 1;
    if (cchDir + sizeof(s_szWorkName) > MAX_PATH)
        return FALSE;
    memcpy(szWork, pszTarget, cchDir);
    memcpy(szWork + cchDir, s_szWorkName, sizeof(s_szWorkName));
    return TRUE;
}

BOOL g_bGuardEngineFiles = FALSE;

// A link at the target's place (a reparse point, or another name of a file elsewhere) is taken
// away as the link: a plain copy over it would write into the file it leads to. FALSE when one
// is there and cannot be removed.
static BOOL RemoveLinkAtTarget(const char* pszTarget)
{
    HANDLE hFile =
        CreateFileA(pszTarget, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return TRUE; // nothing there, or nothing that can be opened to write through either
    BY_HANDLE_FILE_INFORMATION fi;
    BOOL bLink = g_pfnGetFileInformationByHandle(hFile, &fi) &&
                 ((fi.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || fi.nNumberOfLinks > 1);
    CloseHandle(hFile);
    if (!bLink)
        return TRUE;
    BOOL bRemoved = (fi.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryA(pszTarget)
                                                                     : DeleteFileA(pszTarget);
    WriteLog(bRemoved ? "Orvane: [%s] is a link, the link removed\n"
                      : "Orvane: [%s] is a link that can't be removed\n",
             pszTarget);
    if (!bRemoved)
        SetLastError(ERROR_ACCESS_DENIED);
    return bRemoved;
}

BOOL CopyOverSafely(const char* pszSource, const char* pszTarget)
{
    if (g_bGuardEngineFiles && !RemoveLinkAtTarget(pszTarget))
        return FALSE;
    char szWork[MAX_PATH];
    if (!FormWorkPath(pszTarget, szWork))
        return CopyFileA(pszSource, pszTarget, FALSE);

    // A work file left by a stopped run is ours to replace, but it is removed, never written
    // over: where others may write to the directory, the name may by now be a hard link to a
    // file of their choosing, and a copy over it would write into that file. Removing the name
    // leaves the file it named alone, and the copy then creates a file of its own.
    if (!DeleteFileA(szWork) && GetLastError() == ERROR_ACCESS_DENIED)
    {
        SetFileAttributesA(szWork, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(szWork);
    }
    if (!CopyFileA(pszSource, szWork, TRUE))
    {
        DWORD dwError = GetLastError();
        DeleteFileA(szWork);
        SetLastError(dwError);
        return FALSE;
    }
    if (MoveFileExA(szWork, pszTarget, MOVEFILE_REPLACE_EXISTING))
        return TRUE;
    // Refused, as a rename over a file in use is: the plain copy fails the same way without
    // touching the target, and reports the reason the caller logs and stages on.
    DeleteFileA(szWork);
    return CopyFileA(pszSource, pszTarget, FALSE);
}

void RemoveCopyWorkFile(const char* pszDir)
{
    char szWork[MAX_PATH];
    if (!JoinEntryPath(szWork, pszDir, s_szWorkName, NULL) || !PathExists(szWork))
        return;
    SetFileAttributesA(szWork, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(szWork);
}
