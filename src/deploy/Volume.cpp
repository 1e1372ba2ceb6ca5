// The target volume and its directories: room for the engine files, and every missing directory
// on the way to the engine directory.
#include "deploy.h"

#include "support/support.h"

#include <string.h>

DWORD CheckFreeDiskSpace(const char* pszEngPath)
{
    ULONGLONG ullThreshold;
    switch (g_dwOSType)
    {
    case OSID_W95:
    case OSID_W98:
        ullThreshold = FREESPACE_9X;
        break;
    case OSID_WME:
        ullThreshold = FREESPACE_ME;
        break;
    default:
        ullThreshold = FREESPACE_OTHER;
        break;
    }

    // Old platforms take only a root for a drive; a network path is asked as it is.
    char szRoot[MAX_PATH];
    if (pszEngPath[0] != '\0' && pszEngPath[1] == ':')
    {
        szRoot[0] = pszEngPath[0];
        szRoot[1] = ':';
        szRoot[2] = '\\';
        szRoot[3] = '\0';
    }
    else
    {
        MbsCopy(szRoot, sizeof(szRoot), pszEngPath);
    }

    DWORD dwSectorsPerCluster = 0, dwBytesPerSector = 0, dwFreeClusters = 0, dwClusters = 0;
    if (!g_pfnGetDiskFreeSpaceA(szRoot, &dwSectorsPerCluster, &dwBytesPerSector, &dwFreeClusters,
                                &dwClusters))
    {
        // A failure without an error number must not read as "enough space" (0).
        DWORD dwErr = GetLastError();
        if (dwErr == ERROR_SUCCESS)
            dwErr = ERROR_GEN_FAILURE;
        WriteLog("Orvane: Can't GetDiskFreeSpace return [%d]\n", (int)dwErr);
        return dwErr;
    }

    // All in 64 bits: volumes beyond 4 GiB overflow 32, and so would a cluster size a driver
    // reports beyond it.
    ULONGLONG ullFree = (ULONGLONG)dwSectorsPerCluster * dwBytesPerSector * dwFreeClusters;
    WriteLog("Orvane: have %I64uMB free disk space available on drive %s.\n", ullFree >> 20,
             szRoot);
    if (ullFree >= ullThreshold)
        return 0;
    WriteLog("Orvane: only have %I64u free disk space left on drive %s. Not enough space to copy "
             "ScanEngine files\n",
             ullFree, szRoot);
    return 6;
}

BOOL Create_Dir(const char* pszPath)
{
    if (pszPath == NULL || pszPath[0] == '\0')
    {
        WriteLog("Orvane: Can't Create directory \n");
        return FALSE;
    }
    // Every part below is shorter than the path, so MAX_PATH buffers hold them all; a longer
    // path would have to be cut, and a cut path names another directory.
    size_t cchPath = strlen(pszPath);
    if (cchPath >= MAX_PATH)
    {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }

    size_t cchDrive = 0;
    if (((pszPath[0] >= 'A' && pszPath[0] <= 'Z') || (pszPath[0] >= 'a' && pszPath[0] <= 'z')) &&
        pszPath[1] == ':')
        cchDrive = 2;

    // The directory part ends at the last separator; a trail byte of 0x5C is not one.
    const char* pLastBack = MbsRChr(pszPath + cchDrive, '\\');
    const char* pLastSlash = MbsRChr(pszPath + cchDrive, '/');
    const char* pLast = pLastBack > pLastSlash ? pLastBack : pLastSlash;
    size_t cchDir = pLast ? (size_t)(pLast - (pszPath + cchDrive)) + 1 : 0;

    // A single separator means the parent is a root, and an empty directory part (a relative
    // name) has no parent to make: only longer directory parts recurse.
    if (cchDir > 1)
    {
        char szParent[MAX_PATH];
        size_t cchParent = cchDrive + cchDir - 1; // without the final separator
        memcpy(szParent, pszPath, cchParent);
        szParent[cchParent] = '\0';
        Create_Dir(szParent);
    }
    if (!IsFileSecurityPlatform())
        return CreateDirectoryA(pszPath, NULL);

    // Below the program-files directory a new directory inherits a list that keeps others out;
    // below a drive's root, or anywhere a user may create folders, it would inherit their right
    // to change it. It is then given the protected list when it is made, not after, so that
    // there is no moment in which someone else could write into it.
    if (PathExists(pszPath))
    {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    char szParent[MAX_PATH];
    size_t cchParent = cchDrive + (cchDir > 1 ? cchDir - 1 : cchDir);
    memcpy(szParent, pszPath, cchParent);
    szParent[cchParent] = '\0';
    SECURITY_FINDING inherited;
    ReadInheritedSecurity(cchParent ? szParent : ".", &inherited);
    if (!inherited.bOpen)
        return g_pfnCreateDirectoryA(pszPath, NULL);
    WriteLog("Orvane: [%s] would inherit rights of others from [%s], created for administrators "
             "only\n",
             pszPath, cchParent ? szParent : ".");
    return CreateProtectedDirectory(pszPath);
}
