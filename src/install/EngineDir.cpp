// Where the shared engine goes: the stored Engine value, the path argument or the default
// directory below the program-files directory; roots and localized names are not accepted.
#include "install.h"
#include "../support/support.h"

#include <stdio.h>
#include <string.h>

static const char s_szDefaultSubPath[] = "\\QM\\SharedComponents\\ScanEngine";
static const char s_szRootSubPath[] = "\\Program Files\\QM\\SharedComponents\\ScanEngine";

static const char s_szNoDrive[] = "Orvane: Invalid Scan Engine path [%s], please try again!!\n";
static const char s_szLocalized[] =
    "Orvane: Invalid Scan Engine path [%s], can't install with localized path.\n";

// The engine directory must leave room for its "\Incoming" directory in a path buffer.
#define MAX_ENGPATH (MAX_PATH - 1 - (int)(sizeof("\\Incoming") - 1))

static int RefuseEngineDir(RUN_STATE* pRun, const char* pszReason, const char* pszPath)
{
    WriteLog(pszReason, pszPath);
    ShowResultMessage(pRun->hInstance, IDS_INVALID_PATH);
    WriteLog("Orvane: Invalid ScanEngine Path\n");
    return EXIT_INVALID_PATH;
}

// The drive of a path as the runtime's splitter takes it: the first two characters when the
// second is a colon. The first need not be a letter.
static void GetDrive(const char* pszPath, char* szDrive)
{
    szDrive[0] = '\0';
    if (pszPath[0] && pszPath[1] == ':' && !IsDBCSLeadByte((BYTE)pszPath[0]))
    {
        szDrive[0] = pszPath[0];
        szDrive[1] = ':';
        szDrive[2] = '\0';
    }
}

static BOOL HasColonBackslash(const char* pszPath)
{
    return MbsStr(pszPath, ":\\") != NULL;
}

// An engine directory too long for its subdirectories and files is refused rather than cut.
static int CheckLength(RUN_STATE* pRun, const char* pszPath)
{
    if ((int)strlen(pszPath) <= MAX_ENGPATH)
        return 0;
    char szFormat[160];
    _snprintf(szFormat, sizeof(szFormat),
              "Orvane: Invalid Scan Engine path [%%s], longer than %d characters\n", MAX_ENGPATH);
    szFormat[sizeof(szFormat) - 1] = '\0';
    return RefuseEngineDir(pRun, szFormat, pszPath);
}

BOOL IsSingleBytePath(const char* pszPath)
{
    WriteLog("Orvane: Check if multibyte\n");
    char szOem[MAX_PATH];
    size_t cch = strlen(pszPath);
    if (cch >= sizeof(szOem))
        return FALSE;
    CharToOemBuffA(pszPath, szOem, (DWORD)cch);
    if (memcmp(szOem, pszPath, cch) != 0)
        return FALSE;
    for (size_t i = 0; i < cch; i++)
    {
        if (IsDBCSLeadByte((BYTE)pszPath[i]))
            return FALSE;
    }
    return TRUE;
}

// A drive root becomes the engine directory's place below that drive's Program Files.
static void ReplaceRoot(RUN_STATE* pRun, const char* szDrive)
{
    // This line carries no line end: the next entry follows on the same line.
    WriteLog("Orvane: can't copy engine files to root dir [%s] ", pRun->szEngPath);
    _snprintf(pRun->szEngPath, sizeof(pRun->szEngPath), "%s%s", szDrive, s_szRootSubPath);
    pRun->szEngPath[sizeof(pRun->szEngPath) - 1] = '\0';
    WriteLog("Orvane: the engine files are now copying to [%s]\n", pRun->szEngPath);
}

// The default directory into szDefault (2 * MAX_PATH) from the program-files directory, which
// szProgramFiles (MAX_PATH) receives. FALSE when the program-files directory is refused and has
// no drive to fall back on.
static BOOL FormDefaultEngineDir(RegBaseKeyClass* pReg, char* szProgramFiles, char* szDefault)
{
    pReg->SetBasePath("SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
    pReg->GetString("", "", "ProgramFilesDir", "c:\\Program Files", szProgramFiles, MAX_PATH);
    if (!IsSingleBytePath(szProgramFiles))
    {
        char szDrive[3];
        GetDrive(szProgramFiles, szDrive);
        if (!szDrive[0])
            return FALSE;
        _snprintf(szProgramFiles, MAX_PATH, "%s\\Program Files", szDrive);
    }
    _snprintf(szDefault, MAX_PATH * 2, "%s%s", szProgramFiles, s_szDefaultSubPath);
    szDefault[MAX_PATH * 2 - 1] = '\0';
    return TRUE;
}

BOOL GetDefaultEngineDir(RUN_STATE* pRun, char* szEngPath)
{
    char szProgramFiles[MAX_PATH];
    char szDefault[MAX_PATH * 2];
    if (!FormDefaultEngineDir(pRun->pReg, szProgramFiles, szDefault) ||
        (int)strlen(szDefault) > MAX_ENGPATH)
        return FALSE;
    lstrcpynA(szEngPath, szDefault, MAX_PATH);
    return TRUE;
}

static int SetDefaultEngineDir(RUN_STATE* pRun, BOOL bFirstInstall)
{
    char szDefault[MAX_PATH * 2];
    if (!FormDefaultEngineDir(pRun->pReg, pRun->szEngPath, szDefault))
        return RefuseEngineDir(pRun, s_szNoDrive, pRun->szEngPath);
    int nExit = CheckLength(pRun, szDefault);
    if (nExit)
        return nExit;
    lstrcpynA(pRun->szEngPath, szDefault, sizeof(pRun->szEngPath));

    if (bFirstInstall)
    {
        if (!pRun->szProductName[0])
            lstrcpynA(pRun->szProductName, DEFAULT_PRODUCT_NAME, sizeof(pRun->szProductName));
        MbsUpper(pRun->szProductName);
        WriteLog("Orvane: Missing engine path from registry and from argument, set to default "
                 "path[%s] ProductName[%s]\n",
                 pRun->szEngPath, pRun->szProductName);
    }
    else
    {
        WriteLog("Orvane: Missing engine path from registry and from argument, set to default "
                 "[%s]\n",
                 pRun->szEngPath);
    }
    return 0;
}

// A file where the engine directory or one of its parents should be: nothing could be copied
// into it, and a run that went on would record a directory that is not there.
static int RefuseFileInTheWay(RUN_STATE* pRun)
{
    char szPath[MAX_PATH];
    lstrcpynA(szPath, pRun->szEngPath, sizeof(szPath));
    for (;;)
    {
        DWORD dwAttr = g_pfnGetFileAttributesA(szPath);
        if (dwAttr != INVALID_FILE_ATTRIBUTES)
        {
            if (dwAttr & FILE_ATTRIBUTE_DIRECTORY)
                return 0;
            return RefuseEngineDir(pRun,
                                   "Orvane: Invalid Scan Engine path [%s], a file is in the way\n",
                                   pRun->szEngPath);
        }
        char* pSep = MbsRChr(szPath, '\\');
        if (!pSep || pSep == szPath || pSep[-1] == ':')
            return 0;
        *pSep = '\0';
    }
}

int ResolveFirstInstallEngineDir(RUN_STATE* pRun)
{
    int nExit;
    lstrcpynA(pRun->szEngPath, pRun->lpCmdLine, sizeof(pRun->szEngPath));
    if (!pRun->szEngPath[0])
    {
        nExit = SetDefaultEngineDir(pRun, TRUE);
        if (nExit)
            return nExit;
    }
    else
    {
        char szDrive[3];
        GetDrive(pRun->szEngPath, szDrive);
        if (!HasColonBackslash(pRun->szEngPath))
            return RefuseEngineDir(pRun, s_szNoDrive, pRun->szEngPath);
        if (strlen(pRun->szEngPath) > 3)
        {
            if (!szDrive[0])
                return RefuseEngineDir(
                    pRun, "Orvane: Invalid Scan Engine path [%s] from argument, can't copy file.\n",
                    pRun->szEngPath);
            nExit = CheckLength(pRun, pRun->szEngPath);
            if (nExit)
                return nExit;
        }
        else
        {
            if (!szDrive[0])
                return RefuseEngineDir(pRun, s_szNoDrive, pRun->szEngPath);
            ReplaceRoot(pRun, szDrive);
        }
    }
    if (!IsSingleBytePath(pRun->szEngPath))
        return RefuseEngineDir(pRun, s_szLocalized, pRun->szEngPath);
    return RefuseFileInTheWay(pRun);
}

int ResolveUpdateEngineDir(RUN_STATE* pRun, BOOL* pbFromRecord)
{
    int nExit;
    char szDrive[3];
    *pbFromRecord = FALSE;
    pRun->pReg->SetBasePath(REG_SCANENGINE_PATH);
    pRun->pReg->GetString("", "", "Engine", "", pRun->szEngPath, sizeof(pRun->szEngPath));

    if (pRun->szEngPath[0])
    {
        // The directory of the earlier installation wins over any argument; a stored root is
        // used as stored.
        *pbFromRecord = TRUE;
        GetDrive(pRun->szEngPath, szDrive);
        if (!HasColonBackslash(pRun->szEngPath))
            return RefuseEngineDir(pRun, s_szNoDrive, pRun->szEngPath);
        if (!szDrive[0])
            return RefuseEngineDir(
                pRun, "Orvane: Invalid Scan Engine path [%s] from registry, can't copy file \n",
                pRun->szEngPath);
        nExit = CheckLength(pRun, pRun->szEngPath);
        if (nExit)
            return nExit;
    }
    else
    {
        WriteLog("Orvane: Can't get eng path from registry\n");
        const char* pszArg = pRun->lpCmdLine;
        if (!pszArg[0])
            return SetDefaultEngineDir(pRun, FALSE);

        GetDrive(pszArg, szDrive);
        if (!HasColonBackslash(pszArg))
            return RefuseEngineDir(pRun, s_szNoDrive, pszArg);
        if (strlen(pszArg) > 3)
        {
            WriteLog("Orvane: files will be copied to dir [%s], based on argument entered\n",
                     pszArg);
            lstrcpynA(pRun->szEngPath, pszArg, sizeof(pRun->szEngPath));
            if (!szDrive[0])
                return RefuseEngineDir(
                    pRun,
                    "Orvane: Invalid Scan Engine path [%s], can't copy files please try again!!\n",
                    pRun->szEngPath);
            nExit = CheckLength(pRun, pRun->szEngPath);
            if (nExit)
                return nExit;
        }
        else
        {
            WriteLog("Orvane: get engine path from argument [%s]\n", pszArg);
            if (!szDrive[0])
                return RefuseEngineDir(pRun, s_szNoDrive, pszArg);
            lstrcpynA(pRun->szEngPath, pszArg, sizeof(pRun->szEngPath));
            ReplaceRoot(pRun, szDrive);
        }
    }
    if (!IsSingleBytePath(pRun->szEngPath))
        return RefuseEngineDir(pRun, s_szLocalized, pRun->szEngPath);
    return RefuseFileInTheWay(pRun);
}

// ---------------------------------------------------------------------------------------------
// Who else may change the engine directory. The program writes and deletes there as the system
// account or an administrator, and the directory is on PATH: a directory that others may change,
// or a link that leads elsewhere, would let them choose what it writes, deletes or loads.

static int RefuseUnsafeDir(RUN_STATE* pRun, const char* pszPlace, const char* pszFound)
{
    char szLine[3 * MAX_PATH];
    _snprintf(szLine, sizeof(szLine), "Orvane: Invalid Scan Engine path [%s], [%s] %s\n",
              pRun->szEngPath, pszPlace, pszFound);
    szLine[sizeof(szLine) - 1] = '\0';
    return RefuseEngineDir(pRun, "%s", szLine);
}

static BOOL IsReparsePoint(const char* pszPath)
{
    DWORD dwAttr = g_pfnGetFileAttributesA(pszPath);
    return dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_REPARSE_POINT);
}

static const char s_szLinkFound[] = "is a link (junction, symbolic link or mount point)";

// A reparse point at the engine directory or any directory above it, up to the drive's root or
// the share.
static int RefuseLinkOnTheWay(RUN_STATE* pRun)
{
    char szPath[MAX_PATH];
    lstrcpynA(szPath, pRun->szEngPath, sizeof(szPath));
    for (;;)
    {
        if (IsReparsePoint(szPath))
            return RefuseUnsafeDir(pRun, szPath, s_szLinkFound);
        char* pSep = MbsRChr(szPath, '\\');
        if (!pSep || pSep <= szPath + 1 || pSep[-1] == ':')
            return 0;
        *pSep = '\0';
    }
}

// An existing directory of the engine: refused when someone untrusted owns it (an owner can
// always give himself the rights back), given the protected list when others may change it.
static int SecureExistingDir(RUN_STATE* pRun, const char* pszDir)
{
    SECURITY_FINDING found;
    ReadDirectorySecurity(pszDir, &found);
    if (!found.bKnown)
    {
        // A volume that keeps no security (FAT): nothing to close, and nothing to guard file by
        // file either, as it holds neither links nor second names. Taking every file there for
        // planted would recopy the whole engine at every update and stage what is in use.
        WriteLog("Orvane: no security of [%s] known, error [%d]\n", pszDir, (int)found.dwError);
        return 0;
    }
    if (!found.bOwnerTrusted)
    {
        char szFound[160];
        _snprintf(szFound, sizeof(szFound), "is owned by another account [%s]", found.szOwner);
        szFound[sizeof(szFound) - 1] = '\0';
        return RefuseUnsafeDir(pRun, pszDir, szFound);
    }
    if (!found.bOpen)
        return 0;
    DWORD dwError = LockDirectory(pszDir);
    if (dwError != ERROR_SUCCESS)
    {
        char szFound[160];
        _snprintf(szFound, sizeof(szFound),
                  "may be changed by others and can't be closed, error [%d]", (int)dwError);
        szFound[sizeof(szFound) - 1] = '\0';
        return RefuseUnsafeDir(pRun, pszDir, szFound);
    }
    WriteLog("Orvane: [%s] could be changed by others, access now limited to administrators\n",
             pszDir);
    // Whatever others put there before stays: each file is looked at before it is written.
    g_bGuardEngineFiles = TRUE;
    return 0;
}

int CheckEngineDirSafety(RUN_STATE* pRun)
{
    g_bGuardEngineFiles = FALSE;
    if (!IsFileSecurityPlatform())
        return 0;
    int nExit = RefuseLinkOnTheWay(pRun);
    if (nExit)
        return nExit;

    static const char* const s_apszSubDirs[] = {"Logs", "Incoming"};
    char aszSubDirs[2][MAX_PATH];
    for (int i = 0; i < 2; i++)
    {
        _snprintf(aszSubDirs[i], MAX_PATH, "%s\\%s", pRun->szEngPath, s_apszSubDirs[i]);
        aszSubDirs[i][MAX_PATH - 1] = '\0';
        if (IsReparsePoint(aszSubDirs[i]))
            return RefuseUnsafeDir(pRun, aszSubDirs[i], s_szLinkFound);
    }

    DWORD dwAttr = g_pfnGetFileAttributesA(pRun->szEngPath);
    if (dwAttr == INVALID_FILE_ATTRIBUTES || !(dwAttr & FILE_ATTRIBUTE_DIRECTORY))
        return 0; // made by this run, with the list it needs
    nExit = SecureExistingDir(pRun, pRun->szEngPath);
    for (int i = 0; i < 2 && !nExit; i++)
    {
        dwAttr = g_pfnGetFileAttributesA(aszSubDirs[i]);
        if (dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_DIRECTORY))
            nExit = SecureExistingDir(pRun, aszSubDirs[i]);
    }
    return nExit;
}

void FormSubDir(char* szOut, const char* pszEngPath, const char* pszName)
{
    _snprintf(szOut, MAX_PATH, "%s\\%s", pszEngPath, pszName);
    szOut[MAX_PATH - 1] = '\0';
}
