// The lines that Windows 95/98 takes from C:\AUTOEXEC.BAT: the AVENGINE setting, the boot-time
// scanner and the engine directory's PATH entry. This is the file side: reading the file, the one
// crash-safe rewrite and the creation of a missing file. What the content becomes is worked out
// in AutoexecText.cpp; an install (SetAutoexecLines9x) rewrites the file once, its old lines out,
// the new ones and the PATH entry in.
//
// The batch file is the user's: every byte of it that is not one of the program's lines must come
// through an edit unchanged, whatever it holds (NUL and other control bytes, lines of any length,
// CR LF, LF or no line end, a Ctrl-Z end-of-file marker and bytes behind it). So the file is
// read whole into a heap buffer and edited as bytes.
//
// An edit never writes into C:\AUTOEXEC.BAT itself. The new content is written whole into the
// work file C:\AUTOEXEC.$$$, which then replaces the batch file in one rename (MoveFileEx). Where
// there is no MoveFileEx (Windows 95/98) the batch file is deleted and the work file renamed; a
// run stopped between the two leaves the complete new content in the work file alone. A work
// file found at the start is therefore, with the batch file present, an unfinished rewrite that
// is discarded, and with the batch file missing, a finished one that is put in place.
#include "sysint.h"

#include "support/support.h"

#include <string.h>

static const char s_szBatchFile[] = "C:\\AUTOEXEC.BAT";
static const char s_szWorkFile[] = "C:\\AUTOEXEC.$$$";

// No batch file that DOS runs comes near this size: a larger file is left alone.
#define BATCH_MAX_BYTES (4u * 1024u * 1024u)

// ---------------------------------------------------------------------------------------------
// Byte buffers on the heap. An edit never goes past the size asked for: one that would not fit
// marks the buffer, and a marked buffer is never written anywhere.

struct ByteBuf
{
    char* pb;
    size_t cb;
    size_t cbMax;
    BOOL bOverflow;
};

static BOOL BufAlloc(ByteBuf* pBuf, size_t cbMax)
{
    pBuf->cb = 0;
    pBuf->cbMax = cbMax;
    pBuf->bOverflow = FALSE;
    pBuf->pb = (char*)HeapAlloc(GetProcessHeap(), 0, cbMax > 0 ? cbMax : 1);
    if (!pBuf->pb)
        WriteLog("Orvane: not enough memory to edit C:\\AUTOEXEC.BAT\n");
    return pBuf->pb != NULL;
}

static void BufFree(ByteBuf* pBuf)
{
    if (pBuf->pb)
        HeapFree(GetProcessHeap(), 0, pBuf->pb);
    pBuf->pb = NULL;
    pBuf->cb = 0;
}

// Takes the result of an edit of AutoexecText.h into the buffer it was written to.
static void BufTake(ByteBuf* pBuf, size_t cbResult)
{
    if (cbResult == AUTOEXEC_NO_ROOM)
        pBuf->bOverflow = TRUE;
    else
        pBuf->cb = cbResult;
}

static BOOL BufEquals(const ByteBuf* pA, const ByteBuf* pB)
{
    return pA->cb == pB->cb && memcmp(pA->pb, pB->pb, pA->cb) == 0;
}

// ---------------------------------------------------------------------------------------------
// Files.

// A work file can be left read-only by an older version's copy of a read-only batch file; it
// must still go.
static void DeleteWorkFile()
{
    SetFileAttributesA(s_szWorkFile, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(s_szWorkFile);
}

// Settles a work file left by an interrupted run before anything else looks at the batch file.
// With the batch file present the work file is an unfinished rewrite and is discarded. With the
// batch file missing it is a finished rewrite stopped between the deletion of the batch file and
// the rename, so it is put in place. Returns FALSE only when such a work file cannot be put in
// place: it then holds the user's batch file, and nothing may be created over it.
static BOOL SettleLeftoverWorkFile()
{
    DWORD dwAttr = g_pfnGetFileAttributesA(s_szWorkFile);
    if (dwAttr == INVALID_FILE_ATTRIBUTES || (dwAttr & FILE_ATTRIBUTE_DIRECTORY))
        return TRUE;
    if (PathExists(s_szBatchFile))
    {
        WriteLog("Orvane: remove C:\\AUTOEXEC.$$$ left by an earlier run\n");
        DeleteWorkFile();
        return TRUE;
    }
    if (MoveFileA(s_szWorkFile, s_szBatchFile))
    {
        WriteLog("Orvane: C:\\AUTOEXEC.BAT missing, put C:\\AUTOEXEC.$$$ left by an earlier run "
                 "in its place\n");
        return TRUE;
    }
    WriteLog("Orvane: C:\\AUTOEXEC.BAT missing, fail to put C:\\AUTOEXEC.$$$ left by an earlier "
             "run in its place error [%d]\n",
             (int)GetLastError());
    return FALSE;
}

enum
{
    LOAD_OK,
    LOAD_NO_FILE, // the batch file cannot be opened
    LOAD_REFUSED, // too large, no memory or a read error; logged
};

// Reads the whole batch file into pBuf (freed by the caller on LOAD_OK only).
static int LoadBatchFile(ByteBuf* pBuf)
{
    pBuf->pb = NULL;
    HANDLE hFile = CreateFileA(s_szBatchFile, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return LOAD_NO_FILE;
    DWORD dwHigh = 0;
    DWORD cbFile = GetFileSize(hFile, &dwHigh);
    if (cbFile == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
    {
        WriteLog("Orvane: fail to read C:\\AUTOEXEC.BAT error [%d]\n", (int)GetLastError());
        CloseHandle(hFile);
        return LOAD_REFUSED;
    }
    if (dwHigh != 0 || cbFile > BATCH_MAX_BYTES)
    {
        WriteLog("Orvane: C:\\AUTOEXEC.BAT is larger than %d bytes, leave it unchanged\n",
                 (int)BATCH_MAX_BYTES);
        CloseHandle(hFile);
        return LOAD_REFUSED;
    }
    if (!BufAlloc(pBuf, cbFile))
    {
        CloseHandle(hFile);
        return LOAD_REFUSED;
    }
    // The file may have shrunk since its size was taken; what was read is what counts.
    while (pBuf->cb < pBuf->cbMax)
    {
        DWORD cbRead = 0;
        if (!ReadFile(hFile, pBuf->pb + pBuf->cb, (DWORD)(pBuf->cbMax - pBuf->cb), &cbRead, NULL))
        {
            WriteLog("Orvane: fail to read C:\\AUTOEXEC.BAT error [%d]\n", (int)GetLastError());
            CloseHandle(hFile);
            BufFree(pBuf);
            return LOAD_REFUSED;
        }
        if (cbRead == 0)
            break;
        pBuf->cb += cbRead;
    }
    CloseHandle(hFile);
    return LOAD_OK;
}

static HANDLE CreateWorkFile()
{
    return CreateFileA(s_szWorkFile, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       NULL);
}

// Writes the new content into the open work file, makes sure it is on the disk and closes the
// file. On failure the work file is removed and FALSE returned.
static BOOL FillWorkFile(HANDLE hWork, const ByteBuf* pContent)
{
    BOOL bOk = !pContent->bOverflow;
    DWORD dwError = ERROR_INSUFFICIENT_BUFFER;
    if (bOk && pContent->cb > 0)
    {
        DWORD cbWritten = 0;
        bOk = WriteFile(hWork, pContent->pb, (DWORD)pContent->cb, &cbWritten, NULL) &&
              cbWritten == pContent->cb;
        if (!bOk)
            dwError = GetLastError();
    }
    // The batch file is about to go: the new content must be on the disk first.
    if (bOk && !FlushFileBuffers(hWork))
    {
        bOk = FALSE;
        dwError = GetLastError();
    }
    CloseHandle(hWork);
    if (!bOk)
    {
        WriteLog("Orvane: fail to write C:\\AUTOEXEC.$$$ error [%d]\n", (int)dwError);
        DeleteWorkFile();
    }
    return bOk;
}

// Puts the work file in place of the batch file. Returns TRUE when it is there.
static BOOL ReplaceBatchByWorkFile()
{
    DWORD dwAttr = g_pfnGetFileAttributesA(s_szBatchFile);
    // A read-only batch file is one its owner does not want changed. Windows refuses to replace
    // it, but Wine would not, so the attribute is looked at here.
    if (dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_READONLY))
    {
        WriteLog("Orvane: fail to replace C:\\AUTOEXEC.BAT by C:\\AUTOEXEC.$$$ error [%d]\n",
                 (int)ERROR_ACCESS_DENIED);
        DeleteWorkFile();
        return FALSE;
    }
    // The batch file keeps its hidden and system attributes.
    if (dwAttr != INVALID_FILE_ATTRIBUTES &&
        (dwAttr & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
        SetFileAttributesA(s_szWorkFile, dwAttr & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                                   FILE_ATTRIBUTE_ARCHIVE));

    if (g_pfnMoveFileExA(s_szWorkFile, s_szBatchFile, MOVEFILE_REPLACE_EXISTING))
        return TRUE;
    DWORD dwError = GetLastError();
    if (dwError == ERROR_CALL_NOT_IMPLEMENTED)
    {
        // Windows 95/98. Between the deletion and the rename the new content is in the work file
        // alone, and a run stopped there is completed by the next one.
        if (DeleteFileA(s_szBatchFile) || !PathExists(s_szBatchFile))
        {
            if (MoveFileA(s_szWorkFile, s_szBatchFile))
                return TRUE;
            WriteLog("Orvane: fail to rename C:\\AUTOEXEC.$$$ to C:\\AUTOEXEC.BAT error [%d]\n",
                     (int)GetLastError());
            // Not removed: it is the batch file now.
            return FALSE;
        }
        dwError = GetLastError();
    }
    WriteLog("Orvane: fail to replace C:\\AUTOEXEC.BAT by C:\\AUTOEXEC.$$$ error [%d]\n",
             (int)dwError);
    DeleteWorkFile();
    return FALSE;
}

enum
{
    STORE_DONE,         // the batch file holds the new content, or held it already
    STORE_NO_WORK_FILE, // the work file cannot be created: not logged, GetLastError tells why
    STORE_FAILED,       // logged; the batch file keeps its content
};

// The one rewrite of the batch file, read as pIn: pOut goes whole into the work file, which then
// takes the batch file's place. A file that would not change is not written: a repeated run
// leaves it alone.
static int StoreBatchFile(const ByteBuf* pIn, const ByteBuf* pOut)
{
    if (!pOut->bOverflow && BufEquals(pIn, pOut))
        return STORE_DONE;
    HANDLE hWork = CreateWorkFile();
    if (hWork == INVALID_HANDLE_VALUE)
        return STORE_NO_WORK_FILE;
    if (!FillWorkFile(hWork, pOut) || !ReplaceBatchByWorkFile())
        return STORE_FAILED;
    return STORE_DONE;
}

// StoreBatchFile for the removals of lines, which tell of a work file they cannot create with its
// error. Returns 1 when the batch file holds pOut, else 0.
static int StoreLinesEdit(const ByteBuf* pIn, const ByteBuf* pOut)
{
    int nStore = StoreBatchFile(pIn, pOut);
    if (nStore == STORE_NO_WORK_FILE)
        WriteLog("Orvane: fail to create C:\\AUTOEXEC.$$$ error [%d]\n", (int)GetLastError());
    return nStore == STORE_DONE ? 1 : 0;
}

// The one way a missing batch file comes to be: created in place, never over a file that has
// appeared meanwhile, and written in one piece. Nothing is logged when it cannot be created.
static HANDLE CreateBatchFile()
{
    return CreateFileA(s_szBatchFile, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                       NULL);
}

// Writes the cb bytes at pb into the new batch file and closes it. FALSE when the write failed
// (logged).
static BOOL FillNewBatchFile(HANDLE hBatch, const char* pb, size_t cb)
{
    BOOL bOk = TRUE;
    DWORD cbWritten = 0;
    if (cb > 0 && !WriteFile(hBatch, pb, (DWORD)cb, &cbWritten, NULL))
    {
        WriteLog("Orvane: fail to write C:\\AUTOEXEC.BAT error [%d]\n", (int)GetLastError());
        bOk = FALSE;
    }
    CloseHandle(hBatch);
    return bOk;
}

// ---------------------------------------------------------------------------------------------
// The editors.

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
    if (!SettleLeftoverWorkFile())
        return 0;
    ByteBuf in;
    int nLoad = LoadBatchFile(&in);
    if (nLoad == LOAD_NO_FILE)
        WriteLog("Orvane: fail to open C:\\AUTOEXEC.BAT error [%d]\n", (int)GetLastError());
    if (nLoad != LOAD_OK)
        return 0;
    ByteBuf out;
    int nResult = 0;
    if (BufAlloc(&out, in.cb + 2))
    {
        BufTake(&out, StripAutoexecText(in.pb, in.cb, NULL, out.pb, out.cbMax));
        nResult = StoreLinesEdit(&in, &out);
        BufFree(&out);
    }
    BufFree(&in);
    return nResult;
}

// Logs the short path that the PATH entry is made of, or that there is none (pszOemPath NULL):
// then FALSE.
static BOOL LogShortPath(const char* pszEngPath, const char* pszOemPath)
{
    if (!pszOemPath)
    {
        WriteLog("Orvane: AddMorEngPath9x - fail to get short path name from [%s]\n", pszEngPath);
        return FALSE;
    }
    WriteLog("Orvane: AddMorEngPath9x - the short path [;%s]\n", pszOemPath);
    return TRUE;
}

// The PATH entry added to the content pBase into pOut (allocated here). FALSE when there is no
// memory for it (logged).
static BOOL EditPathEntry(const ByteBuf* pBase, const char* pszOemPath, ByteBuf* pOut,
                          AUTOEXEC_PATH_EDIT* pEdit)
{
    if (!BufAlloc(pOut, pBase->cb + AUTOEXEC_PATH_ROOM(strlen(pszOemPath))))
        return FALSE;
    BufTake(pOut,
            AddAutoexecPathEntry(pBase->pb, pBase->cb, pszOemPath, pOut->pb, pOut->cbMax, pEdit));
    return TRUE;
}

// The PATH entry's rewrite tells of a work file it cannot create in its own words, and then ends
// without its closing line.
static int StorePathEdit(const ByteBuf* pIn, const ByteBuf* pOut)
{
    if (StoreBatchFile(pIn, pOut) != STORE_NO_WORK_FILE)
        return 1;
    WriteLog("Orvane: AddMorEngPath9x - open file C:\\AUTOEXEC.$$$ fail\n");
    return 0;
}

// The batch file is missing: it is created with a PATH line of the engine directory alone.
static int CreateBatchWithPath(const char* pszEngPath)
{
    WriteLog("Orvane: AddMorEngPath9x - missing file C:\\AUTOEXEC.BAT, create a new one here\n");
    HANDLE hBatch = CreateBatchFile();
    if (hBatch == INVALID_HANDLE_VALUE)
    {
        WriteLog("Orvane: AddMorEngPath9x - fail to create autoexec.bat\n");
        WriteLog("Orvane: AddMorEngPath9x - end\n");
        return 0;
    }
    char szOemPath[MAX_PATH];
    if (!GetOemShortPath(pszEngPath, szOemPath))
    {
        WriteLog("Orvane: AddMorEngPath9x - fail to get short path name from [%s]\n", pszEngPath);
        FillNewBatchFile(hBatch, "", 0);
    }
    else
    {
        char szLine[MAX_PATH + 8];
        FormatAutoexecLine(AUTOEXEC_PATH_LINE, szOemPath, "\r\n", szLine, sizeof(szLine));
        FillNewBatchFile(hBatch, szLine, strlen(szLine));
        FormatAutoexecLine(AUTOEXEC_PATH_LINE, szOemPath, "\n", szLine, sizeof(szLine));
        WriteLog("Orvane: AddMorEngPath9x - add new path [%s]\n", szLine);
    }
    WriteLog("Orvane: AddMorEngPath9x - end\n");
    return 0;
}

int AddMorEngPath9x(const char* pszEngPath)
{
    WriteLog("Orvane: AddMorEngPath9x - start\n");
    if (!SettleLeftoverWorkFile())
    {
        WriteLog("Orvane: AddMorEngPath9x - end\n");
        return 0;
    }

    ByteBuf in;
    int nLoad = LoadBatchFile(&in);
    if (nLoad != LOAD_OK)
    {
        WriteLog("Orvane: AddMorEngPath9x - open file C:\\AUTOEXEC.BAT fail\n");
        if (nLoad == LOAD_REFUSED || PathExists(s_szBatchFile))
        {
            WriteLog("Orvane: AddMorEngPath9x - end\n");
            return 0;
        }
        return CreateBatchWithPath(pszEngPath);
    }

    char szOemPath[MAX_PATH];
    const BOOL bShort = GetOemShortPath(pszEngPath, szOemPath);
    ByteBuf out;
    out.pb = NULL;
    AUTOEXEC_PATH_EDIT edit;
    int nResult = 1;
    if (LogShortPath(pszEngPath, bShort ? szOemPath : NULL) &&
        EditPathEntry(&in, szOemPath, &out, &edit))
    {
        LogAutoexecPathEdit(in.pb, &edit, szOemPath);
        // Failures are logged there; the batch file then keeps its content.
        nResult = StorePathEdit(&in, &out);
    }
    BufFree(&out);
    BufFree(&in);
    if (nResult)
        WriteLog("Orvane: AddMorEngPath9x - end\n");
    return nResult;
}

// The log lines of the engine's lines as the branch adds them.
static void LogEngineLine(const char* pszWhat, int nLine, const char* pszOemPath)
{
    char szLine[MAX_PATH + 32];
    FormatAutoexecLine(nLine, pszOemPath, "\n", szLine, sizeof(szLine));
    WriteLog("Orvane: %s [%s]\n", pszWhat, szLine);
}

// The batch file is missing: it is created with both lines and the PATH line, written in one
// piece. Where it cannot be created or written, the PATH entry's editor has its own try, as it
// always has.
static void CreateBatchWithLines(const char* pszEngPath)
{
    WriteLog("Orvane: Missing autoexec.bat, create a new one \n");
    HANDLE hBatch = CreateBatchFile();
    if (hBatch == INVALID_HANDLE_VALUE)
    {
        WriteLog("Orvane: Can't create autoexec.bat \n");
        AddMorEngPath9x(pszEngPath);
        return;
    }
    char szOemPath[MAX_PATH];
    const BOOL bShort = GetOemShortPath(pszEngPath, szOemPath);
    char szLines[2 * (MAX_PATH + 32)] = "";
    char szContent[sizeof(szLines) + AUTOEXEC_PATH_ROOM(MAX_PATH)];
    size_t cbContent = 0;
    AUTOEXEC_PATH_EDIT edit = {};
    if (bShort)
    {
        LogEngineLine("set AVENGINE to", AUTOEXEC_AVENGINE_LINE, szOemPath);
        // A new file belongs to no other product: the scanner line goes in unasked.
        LogEngineLine("Add probit", AUTOEXEC_PROBIT_LINE, szOemPath);
        FormatAutoexecLine(AUTOEXEC_AVENGINE_LINE, szOemPath, "\r\n", szLines, sizeof(szLines));
        size_t cch = strlen(szLines);
        FormatAutoexecLine(AUTOEXEC_PROBIT_LINE, szOemPath, "\r\n", szLines + cch,
                           sizeof(szLines) - cch);
        cbContent = AddAutoexecPathEntry(szLines, strlen(szLines), szOemPath, szContent,
                                         sizeof(szContent), &edit);
    }
    if (cbContent == AUTOEXEC_NO_ROOM || !FillNewBatchFile(hBatch, szContent, cbContent))
    {
        AddMorEngPath9x(pszEngPath);
        return;
    }
    WriteLog("Orvane: AddMorEngPath9x - start\n");
    if (LogShortPath(pszEngPath, bShort ? szOemPath : NULL))
        LogAutoexecPathEdit(szLines, &edit, szOemPath);
    WriteLog("Orvane: AddMorEngPath9x - end\n");
}

// The batch file is there: its engine's lines go, the new ones come (the scanner line only when
// ShouldAddBootScan says yes) and the PATH entry is added, in one rewrite. The log tells it as
// the two steps it has always told.
static void RewriteBatchWithLines(const char* pszEngPath, const char* pszProductName)
{
    char szOemPath[MAX_PATH];
    char szAppend[2 * (MAX_PATH + 32)] = "";
    const BOOL bLines = GetOemShortPath(pszEngPath, szOemPath);
    BOOL bScan = FALSE;
    if (bLines)
    {
        FormatAutoexecLine(AUTOEXEC_AVENGINE_LINE, szOemPath, "\r\n", szAppend, sizeof(szAppend));
        bScan = ShouldAddBootScan(pszProductName);
        if (bScan)
        {
            size_t cch = strlen(szAppend);
            FormatAutoexecLine(AUTOEXEC_PROBIT_LINE, szOemPath, "\r\n", szAppend + cch,
                               sizeof(szAppend) - cch);
        }
    }

    // A file that cannot be read or edited gets no new lines; the PATH entry's editor then has
    // its own try.
    ByteBuf in, lines, out;
    lines.pb = NULL;
    out.pb = NULL;
    int nLoad = LoadBatchFile(&in);
    if (nLoad == LOAD_NO_FILE)
        WriteLog("Orvane: fail to open C:\\AUTOEXEC.BAT error [%d]\n", (int)GetLastError());
    if (nLoad != LOAD_OK)
    {
        AddMorEngPath9x(pszEngPath);
        return;
    }
    if (!BufAlloc(&lines, in.cb + 2 + strlen(szAppend)))
    {
        BufFree(&in);
        AddMorEngPath9x(pszEngPath);
        return;
    }
    BufTake(&lines,
            StripAutoexecText(in.pb, in.cb, bLines ? szAppend : NULL, lines.pb, lines.cbMax));
    AUTOEXEC_PATH_EDIT edit;
    const BOOL bEdited =
        bLines && !lines.bOverflow && EditPathEntry(&lines, szOemPath, &out, &edit);

    // Where the lines alone change the file, the rewrite is theirs: written now, and when it
    // fails the PATH entry's editor tries on the file as it is. Where they do not, the rewrite is
    // the PATH entry's, written after its log lines.
    const BOOL bLinesChange = lines.bOverflow || !BufEquals(&in, &lines);
    if (bLinesChange && !StoreLinesEdit(&in, bEdited ? &out : &lines))
    {
        BufFree(&out);
        BufFree(&lines);
        BufFree(&in);
        AddMorEngPath9x(pszEngPath);
        return;
    }
    if (bLines)
    {
        LogEngineLine("set AVENGINE to", AUTOEXEC_AVENGINE_LINE, szOemPath);
        if (bScan)
            LogEngineLine("set PROBIT to", AUTOEXEC_PROBIT_LINE, szOemPath);
    }
    WriteLog("Orvane: AddMorEngPath9x - start\n");
    int nResult = 1;
    if (LogShortPath(pszEngPath, bLines ? szOemPath : NULL) && bEdited)
    {
        LogAutoexecPathEdit(lines.pb, &edit, szOemPath);
        if (!bLinesChange)
            nResult = StorePathEdit(&in, &out);
    }
    BufFree(&out);
    BufFree(&lines);
    BufFree(&in);
    if (nResult)
        WriteLog("Orvane: AddMorEngPath9x - end\n");
}

void SetAutoexecLines9x(const char* pszEngPath, const char* pszProductName)
{
    WriteLog("Orvane: Set AVENGINE - W9X\n");
    // A work file that cannot be put in place of a missing batch file holds the user's file: no
    // new one is created over it.
    BOOL bSettled = SettleLeftoverWorkFile();
    if (PathExists(s_szBatchFile))
        RewriteBatchWithLines(pszEngPath, pszProductName);
    else if (bSettled)
        CreateBatchWithLines(pszEngPath);
    else
        AddMorEngPath9x(pszEngPath);
}

// ---------------------------------------------------------------------------------------------
// Removal.

int RemoveAutoexecLines9x(const char* pszEngPath)
{
    WriteLog("Orvane: Remove AVENGINE - W9X\n");
    if (!SettleLeftoverWorkFile())
        return 0;
    char szOemPath[MAX_PATH];
    if (!GetOemShortPath(pszEngPath, szOemPath))
    {
        WriteLog("Orvane: fail to get short path name from [%s]\n", pszEngPath);
        return 0;
    }
    ByteBuf in;
    int nLoad = LoadBatchFile(&in);
    if (nLoad == LOAD_NO_FILE)
    {
        WriteLog("Orvane: no C:\\AUTOEXEC.BAT to take our lines from\n");
        return 1;
    }
    if (nLoad != LOAD_OK)
        return 0;
    ByteBuf out;
    int nResult = 0;
    if (BufAlloc(&out, in.cb))
    {
        BufTake(&out, RemoveAutoexecText(in.pb, in.cb, szOemPath, out.pb, out.cbMax));
        nResult = StoreLinesEdit(&in, &out);
        BufFree(&out);
    }
    BufFree(&in);
    return nResult;
}
