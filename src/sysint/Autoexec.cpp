// The lines that Windows 95/98 takes from C:\AUTOEXEC.BAT: the AVENGINE setting, the boot-time
// scanner and the engine directory's PATH entry. The batch file is read and written in text mode,
// so a line end is CR LF in the file and "\n" here.
#include "sysint.h"

#include "support/support.h"

#include <stdio.h>
#include <string.h>

static const char s_szBatchFile[] = "C:\\AUTOEXEC.BAT";
static const char s_szWorkFile[] = "C:\\AUTOEXEC.$$$";
// The same file under the name the branch has always used; the file system ignores the case.
static const char s_szBranchFile[] = "C:\\Autoexec.bat";

// Piece sizes of the two editors: a longer line arrives as several pieces.
#define STRIP_PIECE 256
#define PATH_PIECE 2048

// A work file can be left read-only by a copy of a read-only batch file; it must still go.
static void DeleteWorkFile()
{
    SetFileAttributesA(s_szWorkFile, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(s_szWorkFile);
}

static BOOL EndsWithLineEnd(const char* pszPiece)
{
    size_t cch = strlen(pszPiece);
    return cch > 0 && pszPiece[cch - 1] == '\n';
}

BOOL GetOemShortPath(const char* pszEngPath, char* szOemPath)
{
    szOemPath[0] = '\0';
    DWORD cch = g_pfnGetShortPathNameA(pszEngPath, szOemPath, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH || szOemPath[0] == '\0')
    {
        szOemPath[0] = '\0';
        return FALSE;
    }
    // DOS reads the batch file in the OEM code page; the conversion keeps the length.
    CharToOemA(szOemPath, szOemPath);
    return TRUE;
}

int StripAutoexecLines9x()
{
    // A work file that an interrupted run left holds an older state of the batch file. Writing
    // it back would undo every change made since, so the copy always starts afresh.
    if (PathExists(s_szWorkFile))
    {
        WriteLog("Orvane: remove C:\\AUTOEXEC.$$$ left by an earlier run\n");
        DeleteWorkFile();
    }
    if (!CopyFileA(s_szBatchFile, s_szWorkFile, FALSE))
    {
        WriteLog("Orvane: fail to copy C:\\AUTOEXEC.BAT to C:\\AUTOEXEC.$$$ error [%d]\n",
                 (int)GetLastError());
        return 0;
    }

    FILE* pWork = fopen(s_szWorkFile, "rt");
    if (!pWork)
        return 0;
    FILE* pBatch = fopen(s_szBatchFile, "wt+");
    if (!pBatch)
    {
        fclose(pWork);
        return 0;
    }

    char szPiece[STRIP_PIECE];
    BOOL bLineOpen = FALSE;
    for (;;)
    {
        memset(szPiece, 0, sizeof(szPiece));
        if (!fgets(szPiece, sizeof(szPiece), pWork))
            break;
        if (MbsStr(szPiece, "SET AVENGINE=") || MbsStr(szPiece, "SET AVENGINE =") ||
            MbsStr(szPiece, "PROBIT.EXE"))
            continue;
        fputs(szPiece, pBatch);
        bLineOpen = !EndsWithLineEnd(szPiece);
    }
    // The caller appends lines to the file next; a last line without its line end would run
    // into the first of them and both would be lost to DOS.
    if (bLineOpen)
        fputs("\n", pBatch);

    fclose(pBatch);
    fclose(pWork);
    DeleteWorkFile();
    return 1;
}

// The PATH line is the first line that begins, in its first column, with one of these.
static BOOL IsPathPiece(const char* pszPiece)
{
    return _strnicmp(pszPiece, "SET PATH", 8) == 0 || _strnicmp(pszPiece, "PATH", 4) == 0 ||
           _strnicmp(pszPiece, "@PATH", 5) == 0;
}

// Puts the entry and a line end at the end of the PATH piece, in place of its own line end. A
// piece that would not fit any more is a line the buffer cannot hold whole; it is left as it is.
static BOOL AddEntryToPiece(char* szPiece, const char* pszEntry)
{
    size_t cchKeep = strlen(szPiece);
    if (EndsWithLineEnd(szPiece))
        cchKeep--;
    size_t cchEntry = strlen(pszEntry);
    if (cchKeep + cchEntry + 1 >= PATH_PIECE)
        return FALSE;
    memcpy(szPiece + cchKeep, pszEntry, cchEntry);
    szPiece[cchKeep + cchEntry] = '\n';
    szPiece[cchKeep + cchEntry + 1] = '\0';
    return TRUE;
}

// The batch file is missing: it is created with a PATH line of the engine directory alone.
static int CreateBatchWithPath(const char* pszEngPath)
{
    WriteLog("Orvane: AddMorEngPath9x - missing file C:\\AUTOEXEC.BAT, create a new one here\n");
    FILE* pBatch = fopen(s_szBatchFile, "wt+");
    if (!pBatch)
    {
        WriteLog("Orvane: AddMorEngPath9x - fail to create autoexec.bat\n");
        WriteLog("Orvane: AddMorEngPath9x - end\n");
        return 0;
    }
    char szOemPath[MAX_PATH];
    if (!GetOemShortPath(pszEngPath, szOemPath))
    {
        WriteLog("Orvane: AddMorEngPath9x - fail to get short path name from [%s]\n", pszEngPath);
    }
    else
    {
        char szLine[MAX_PATH + 8];
        _snprintf(szLine, sizeof(szLine), "PATH=%s\n", szOemPath);
        szLine[sizeof(szLine) - 1] = '\0';
        fputs(szLine, pBatch);
        WriteLog("Orvane: AddMorEngPath9x - add new path [%s]\n", szLine);
    }
    fclose(pBatch);
    WriteLog("Orvane: AddMorEngPath9x - end\n");
    return 0;
}

int AddMorEngPath9x(const char* pszEngPath)
{
    WriteLog("Orvane: AddMorEngPath9x - start\n");

    FILE* pBatch = fopen(s_szBatchFile, "rt");
    if (!pBatch)
    {
        WriteLog("Orvane: AddMorEngPath9x - open file C:\\AUTOEXEC.BAT fail\n");
        if (PathExists(s_szBatchFile))
        {
            WriteLog("Orvane: AddMorEngPath9x - end\n");
            return 0;
        }
        return CreateBatchWithPath(pszEngPath);
    }

    // "wt" empties a work file left by an earlier run, so only the current batch file is copied.
    FILE* pWork = fopen(s_szWorkFile, "wt");
    if (!pWork)
    {
        WriteLog("Orvane: AddMorEngPath9x - open file C:\\AUTOEXEC.$$$ fail\n");
        fclose(pBatch);
        return 0;
    }

    char szOemPath[MAX_PATH];
    if (!GetOemShortPath(pszEngPath, szOemPath))
    {
        WriteLog("Orvane: AddMorEngPath9x - fail to get short path name from [%s]\n", pszEngPath);
        fclose(pWork);
        fclose(pBatch);
        DeleteWorkFile();
        WriteLog("Orvane: AddMorEngPath9x - end\n");
        return 1;
    }
    char szEntry[MAX_PATH + 1];
    _snprintf(szEntry, sizeof(szEntry), ";%s", szOemPath);
    szEntry[sizeof(szEntry) - 1] = '\0';
    WriteLog("Orvane: AddMorEngPath9x - the short path [%s]\n", szEntry);

    char szPiece[PATH_PIECE];
    BOOL bPathSeen = FALSE;
    BOOL bLineOpen = FALSE;
    for (;;)
    {
        memset(szPiece, 0, sizeof(szPiece));
        if (!fgets(szPiece, sizeof(szPiece), pBatch))
            break;
        if (!bPathSeen && IsPathPiece(szPiece))
        {
            bPathSeen = TRUE;
            if (!MbsStr(szPiece, szOemPath))
            {
                WriteLog("Orvane: The original path is [%s]\n", szPiece);
                if (AddEntryToPiece(szPiece, szEntry))
                    WriteLog("Orvane: AddMorEngPath9x - the new path [%s]\n", szPiece);
                else
                    WriteLog("Orvane: AddMorEngPath9x - the path line is too long, leave it "
                             "unchanged\n");
            }
        }
        fputs(szPiece, pWork);
        bLineOpen = !EndsWithLineEnd(szPiece);
    }
    if (!bPathSeen)
    {
        // Appended to an unfinished last line, the PATH setting would become part of it.
        if (bLineOpen)
            fputs("\n", pWork);
        fputs("PATH=", pWork);
        fputs(szOemPath, pWork);
    }

    fclose(pWork);
    fclose(pBatch);
    DeleteFileA(s_szBatchFile);
    MoveFileA(s_szWorkFile, s_szBatchFile);
    WriteLog("Orvane: AddMorEngPath9x - end\n");
    return 1;
}

// Both lines name the engine directory in its OEM short form.
static void FormatAvEngineLine(char* szLine, size_t cchLine, const char* pszOemPath)
{
    _snprintf(szLine, cchLine, "SET AVENGINE=%s\n", pszOemPath);
    szLine[cchLine - 1] = '\0';
}

static void FormatProbitLine(char* szLine, size_t cchLine, const char* pszOemPath)
{
    _snprintf(szLine, cchLine, "%s\\PROBIT.EXE\n", pszOemPath);
    szLine[cchLine - 1] = '\0';
}

void SetAutoexecLines9x(const char* pszEngPath, const char* pszProductName)
{
    WriteLog("Orvane: Set AVENGINE - W9X\n");

    char szOemPath[MAX_PATH];
    char szLine[MAX_PATH + 32];
    if (!PathExists(s_szBranchFile))
    {
        WriteLog("Orvane: Missing autoexec.bat, create a new one \n");
        FILE* pBatch = fopen(s_szBranchFile, "wt+");
        if (!pBatch)
        {
            WriteLog("Orvane: Can't create autoexec.bat \n");
        }
        else
        {
            if (GetOemShortPath(pszEngPath, szOemPath))
            {
                FormatAvEngineLine(szLine, sizeof(szLine), szOemPath);
                WriteLog("Orvane: set AVENGINE to [%s]\n", szLine);
                fputs(szLine, pBatch);
                // A new file belongs to no other product: the scanner line goes in unasked.
                FormatProbitLine(szLine, sizeof(szLine), szOemPath);
                WriteLog("Orvane: Add probit [%s]\n", szLine);
                fputs(szLine, pBatch);
            }
            fclose(pBatch);
        }
    }
    else if (StripAutoexecLines9x() == 1)
    {
        FILE* pBatch = fopen(s_szBranchFile, "at");
        if (!pBatch)
        {
            WriteLog("Orvane: Can't open autoexec.bat \n");
        }
        else
        {
            if (GetOemShortPath(pszEngPath, szOemPath))
            {
                FormatAvEngineLine(szLine, sizeof(szLine), szOemPath);
                fputs(szLine, pBatch);
                WriteLog("Orvane: set AVENGINE to [%s]\n", szLine);
                if (ShouldAddBootScan(pszProductName))
                {
                    FormatProbitLine(szLine, sizeof(szLine), szOemPath);
                    fputs(szLine, pBatch);
                    WriteLog("Orvane: set PROBIT to [%s]\n", szLine);
                }
            }
            fclose(pBatch);
        }
    }

    AddMorEngPath9x(pszEngPath);
}
