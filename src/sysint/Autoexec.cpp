// The lines that Windows 95/98 takes from C:\AUTOEXEC.BAT: the AVENGINE setting, the boot-time
// scanner and the engine directory's PATH entry.
//
// The batch file is the user's: every byte of it that is not one of the program's lines must come
// through an edit unchanged, whatever it holds (NUL and other control bytes, lines of any length,
// CR LF, LF or no line end, a Ctrl-Z end-of-file marker and bytes behind it). So the file is
// handled as bytes: it is read whole into a heap buffer and split into lines at LF, each line
// keeping its own line-end bytes; the program's lines are written with CR LF.
//
// DOS stops reading a batch file at the first Ctrl-Z. Only the text in front of it is edited and
// the program's new lines go there; the marker and every byte after it are kept as they are.
//
// An edit never writes into C:\AUTOEXEC.BAT itself. The new content is written whole into the
// work file C:\AUTOEXEC.$$$, which then replaces the batch file in one rename (MoveFileEx). Where
// there is no MoveFileEx (Windows 95/98) the batch file is deleted and the work file renamed; a
// run stopped between the two leaves the complete new content in the work file alone. A work
// file found at the start is therefore, with the batch file present, an unfinished rewrite that
// is discarded, and with the batch file missing, a finished one that is put in place.
#include "sysint.h"

#include "support/support.h"

#include <stdio.h>
#include <string.h>

static const char s_szBatchFile[] = "C:\\AUTOEXEC.BAT";
static const char s_szWorkFile[] = "C:\\AUTOEXEC.$$$";
// The same file under the name the branch has always used; the file system ignores the case.
static const char s_szBranchFile[] = "C:\\Autoexec.bat";

// A PATH line is edited while it, the entry and a line end fit in the 2047 characters the editor
// has always taken (its line end counted as one); a longer one is left as it is.
#define PATH_LINE_MAX 2047
// No batch file that DOS runs comes near this size: a larger file is left alone.
#define BATCH_MAX_BYTES (4u * 1024u * 1024u)
#define CTRL_Z '\x1A'

// ---------------------------------------------------------------------------------------------
// Byte buffers on the heap. Appending never goes past the size asked for: a piece that would
// not fit is refused and marks the buffer, and a marked buffer is never written anywhere.

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

static void BufAppend(ByteBuf* pBuf, const char* pb, size_t cb)
{
    if (pBuf->bOverflow || cb > pBuf->cbMax - pBuf->cb)
    {
        pBuf->bOverflow = TRUE;
        return;
    }
    memcpy(pBuf->pb + pBuf->cb, pb, cb);
    pBuf->cb += cb;
}

static void BufAppendText(ByteBuf* pBuf, const char* psz)
{
    BufAppend(pBuf, psz, strlen(psz));
}

static BOOL BufEquals(const ByteBuf* pA, const ByteBuf* pB)
{
    return pA->cb == pB->cb && memcmp(pA->pb, pB->pb, pA->cb) == 0;
}

// ---------------------------------------------------------------------------------------------
// Lines.

// Lead bytes of the ANSI code page, read once per edit: the searches below look at every byte.
static BOOL s_abLead[256];

static void ReadLeadBytes()
{
    for (int i = 0; i < 256; i++)
        s_abLead[i] = IsDBCSLeadByte((BYTE)i);
}

// The part of the file that DOS reads: everything in front of the first Ctrl-Z. A Ctrl-Z is never
// a trail byte, so no double-byte character is split here.
static size_t TextLength(const char* pb, size_t cb)
{
    const char* pZ = (const char*)memchr(pb, CTRL_Z, cb);
    return pZ ? (size_t)(pZ - pb) : cb;
}

// The line at pb: up to and including its LF, or to the end of the cb bytes.
static size_t LineLength(const char* pb, size_t cb)
{
    const char* pLf = (const char*)memchr(pb, '\n', cb);
    return pLf ? (size_t)(pLf - pb) + 1 : cb;
}

// The line without its line end: the LF and the CRs right in front of it, or for a line without
// LF the CRs at its end.
static size_t ContentLength(const char* pb, size_t cbLine)
{
    size_t cch = cbLine;
    if (cch > 0 && pb[cch - 1] == '\n')
        cch--;
    while (cch > 0 && pb[cch - 1] == '\r')
        cch--;
    return cch;
}

// TRUE when pszFind occurs in the cb bytes at pb starting on a character boundary: the rule of
// MbsStr, over a line that may hold NUL bytes.
static BOOL LineHolds(const char* pb, size_t cb, const char* pszFind)
{
    size_t cch = strlen(pszFind);
    for (size_t i = 0; i + cch <= cb;)
    {
        if (memcmp(pb + i, pszFind, cch) == 0)
            return TRUE;
        i += (s_abLead[(BYTE)pb[i]] && i + 1 < cb && pb[i + 1] != '\0') ? 2 : 1;
    }
    return FALSE;
}

static BOOL IsEntryBound(char ch, const char* pszBounds)
{
    return ch != '\0' && strchr(pszBounds, ch) != NULL;
}

// TRUE when the content of the PATH line (cb bytes, its line end taken off) holds pszDir as a whole
// entry: behind the PATH prefix's "=" or blank or behind a ";", and followed by a ";", a blank or
// the end of the line. A longer entry that merely begins with it ("C:\ENG\BIN" for "C:\ENG") is
// another directory, as the removal and the other platforms' PATH hold it.
static BOOL PathLineHoldsEntry(const char* pb, size_t cb, const char* pszDir)
{
    size_t cch = strlen(pszDir);
    for (size_t i = 0; i + cch <= cb;)
    {
        if (i > 0 && memcmp(pb + i, pszDir, cch) == 0 && IsEntryBound(pb[i - 1], ";= \t") &&
            (i + cch == cb || IsEntryBound(pb[i + cch], "; \t")))
            return TRUE;
        i += (s_abLead[(BYTE)pb[i]] && i + 1 < cb && pb[i + 1] != '\0') ? 2 : 1;
    }
    return FALSE;
}

// The program's own lines, removed before the new ones are added: the texts anywhere in the
// line, compared with letter case.
static BOOL IsOwnLine(const char* pb, size_t cb)
{
    return LineHolds(pb, cb, "SET AVENGINE=") || LineHolds(pb, cb, "SET AVENGINE =") ||
           LineHolds(pb, cb, "PROBIT.EXE");
}

static BOOL StartsWithNoCase(const char* pb, size_t cb, const char* pszPrefix)
{
    size_t cch = strlen(pszPrefix);
    return cb >= cch && _strnicmp(pb, pszPrefix, cch) == 0;
}

// The PATH line is the first line that begins, in its first column, with one of these.
static BOOL IsPathLine(const char* pb, size_t cb)
{
    return StartsWithNoCase(pb, cb, "SET PATH") || StartsWithNoCase(pb, cb, "PATH") ||
           StartsWithNoCase(pb, cb, "@PATH");
}

// A line as the log shows it: its content with "\n" for a line end, cut to the buffer.
static void FormatLineForLog(char* szLog, size_t cchLog, const char* pbContent, size_t cbContent,
                             const char* pszAfter, BOOL bLineEnd)
{
    size_t cchAfter = strlen(pszAfter);
    size_t cch = cbContent < cchLog - 1 ? cbContent : cchLog - 1;
    memcpy(szLog, pbContent, cch);
    if (cch + cchAfter < cchLog)
    {
        memcpy(szLog + cch, pszAfter, cchAfter);
        cch += cchAfter;
    }
    if (bLineEnd && cch + 1 < cchLog)
        szLog[cch++] = '\n';
    szLog[cch] = '\0';
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

// Puts out in place of the batch file (read as in) through the work file, and frees both. A file
// that would not change is not written: a repeated run leaves it alone. Returns 1 when the batch
// file holds out, 0 when it could not be replaced (it then keeps its content).
static int StoreIfChanged(ByteBuf* pIn, ByteBuf* pOut)
{
    int nResult = 1;
    if (!BufEquals(pIn, pOut))
    {
        HANDLE hWork = CreateWorkFile();
        if (hWork == INVALID_HANDLE_VALUE)
        {
            WriteLog("Orvane: fail to create C:\\AUTOEXEC.$$$ error [%d]\n", (int)GetLastError());
            nResult = 0;
        }
        else if (!FillWorkFile(hWork, pOut) || !ReplaceBatchByWorkFile())
        {
            nResult = 0;
        }
    }
    BufFree(pOut);
    BufFree(pIn);
    return nResult;
}

// Removes the program's own lines from the text DOS reads and adds pszAppend (lines with CR LF,
// or NULL for none) at its end, in front of a Ctrl-Z marker. An open last line is closed with
// CR LF first, so that lines added later cannot run into it. Returns 1 when the batch file holds
// the result, 0 when it could not be read or replaced (it then keeps its content).
static int RewriteWithoutOwnLines(const char* pszAppend)
{
    if (!SettleLeftoverWorkFile())
        return 0;
    ByteBuf in;
    int nLoad = LoadBatchFile(&in);
    if (nLoad == LOAD_NO_FILE)
        WriteLog("Orvane: fail to open C:\\AUTOEXEC.BAT error [%d]\n", (int)GetLastError());
    if (nLoad != LOAD_OK)
        return 0;

    const size_t cbAppend = pszAppend ? strlen(pszAppend) : 0;
    ByteBuf out;
    if (!BufAlloc(&out, in.cb + 2 + cbAppend))
    {
        BufFree(&in);
        return 0;
    }
    ReadLeadBytes();
    const size_t cbText = TextLength(in.pb, in.cb);
    size_t cbLine;
    for (size_t i = 0; i < cbText; i += cbLine)
    {
        cbLine = LineLength(in.pb + i, cbText - i);
        if (!IsOwnLine(in.pb + i, cbLine))
            BufAppend(&out, in.pb + i, cbLine);
    }
    if (out.cb > 0 && out.pb[out.cb - 1] != '\n')
        BufAppendText(&out, "\r\n");
    if (pszAppend)
        BufAppendText(&out, pszAppend);
    BufAppend(&out, in.pb + cbText, in.cb - cbText);

    return StoreIfChanged(&in, &out);
}

int StripAutoexecLines9x()
{
    return RewriteWithoutOwnLines(NULL);
}

// The batch file is missing: it is created with a PATH line of the engine directory alone.
static int CreateBatchWithPath(const char* pszEngPath)
{
    WriteLog("Orvane: AddMorEngPath9x - missing file C:\\AUTOEXEC.BAT, create a new one here\n");
    HANDLE hBatch =
        CreateFileA(s_szBatchFile, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
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
    }
    else
    {
        char szLine[MAX_PATH + 8];
        _snprintf(szLine, sizeof(szLine), "PATH=%s\r\n", szOemPath);
        szLine[sizeof(szLine) - 1] = '\0';
        DWORD cbWritten = 0;
        if (!WriteFile(hBatch, szLine, (DWORD)strlen(szLine), &cbWritten, NULL))
            WriteLog("Orvane: fail to write C:\\AUTOEXEC.BAT error [%d]\n", (int)GetLastError());
        _snprintf(szLine, sizeof(szLine), "PATH=%s\n", szOemPath);
        szLine[sizeof(szLine) - 1] = '\0';
        WriteLog("Orvane: AddMorEngPath9x - add new path [%s]\n", szLine);
    }
    CloseHandle(hBatch);
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
    if (!GetOemShortPath(pszEngPath, szOemPath))
    {
        WriteLog("Orvane: AddMorEngPath9x - fail to get short path name from [%s]\n", pszEngPath);
        BufFree(&in);
        WriteLog("Orvane: AddMorEngPath9x - end\n");
        return 1;
    }
    char szEntry[MAX_PATH + 1];
    _snprintf(szEntry, sizeof(szEntry), ";%s", szOemPath);
    szEntry[sizeof(szEntry) - 1] = '\0';
    const size_t cchEntry = strlen(szEntry);
    WriteLog("Orvane: AddMorEngPath9x - the short path [%s]\n", szEntry);

    // The first line of the text DOS reads that begins with a PATH prefix.
    ReadLeadBytes();
    const size_t cbText = TextLength(in.pb, in.cb);
    size_t nPathLine = 0;
    size_t cbLine = 0;
    BOOL bPathSeen = FALSE;
    for (size_t i = 0; i < cbText; i += cbLine)
    {
        cbLine = LineLength(in.pb + i, cbText - i);
        if (IsPathLine(in.pb + i, cbLine))
        {
            bPathSeen = TRUE;
            nPathLine = i;
            break;
        }
    }

    ByteBuf out;
    // At most the entry and a line end of three bytes, or "\r\n", "PATH=" and the short path.
    if (!BufAlloc(&out, in.cb + cchEntry + 2 + 5 + MAX_PATH + 8))
    {
        BufFree(&in);
        WriteLog("Orvane: AddMorEngPath9x - end\n");
        return 1;
    }
    char szLog[PATH_LINE_MAX + 1];
    if (bPathSeen)
    {
        const char* pLine = in.pb + nPathLine;
        const size_t cbContent = ContentLength(pLine, cbLine);
        const BOOL bLf = pLine[cbLine - 1] == '\n';
        BufAppend(&out, in.pb, nPathLine);
        if (PathLineHoldsEntry(pLine, cbContent, szOemPath))
        {
            BufAppend(&out, pLine, cbLine);
        }
        else
        {
            FormatLineForLog(szLog, sizeof(szLog), pLine, cbContent, "", bLf);
            WriteLog("Orvane: The original path is [%s]\n", szLog);
            if (cbContent + cchEntry + 1 > PATH_LINE_MAX)
            {
                WriteLog("Orvane: AddMorEngPath9x - the path line is too long, leave it "
                         "unchanged\n");
                BufAppend(&out, pLine, cbLine);
            }
            else
            {
                // The entry goes in front of the line end, which stays as it was; a line without
                // LF gets one, after its CRs or a CR of its own.
                BufAppend(&out, pLine, cbContent);
                BufAppend(&out, szEntry, cchEntry);
                BufAppend(&out, pLine + cbContent, cbLine - cbContent);
                if (!bLf)
                    BufAppendText(&out, cbLine > cbContent ? "\n" : "\r\n");
                FormatLineForLog(szLog, sizeof(szLog), pLine, cbContent, szEntry, TRUE);
                WriteLog("Orvane: AddMorEngPath9x - the new path [%s]\n", szLog);
            }
        }
        BufAppend(&out, pLine + cbLine, in.cb - nPathLine - cbLine);
    }
    else
    {
        // Appended to an unfinished last line, the PATH setting would become part of it.
        BufAppend(&out, in.pb, cbText);
        if (cbText > 0 && in.pb[cbText - 1] != '\n')
            BufAppendText(&out, "\r\n");
        BufAppendText(&out, "PATH=");
        BufAppendText(&out, szOemPath);
        BufAppend(&out, in.pb + cbText, in.cb - cbText);
    }

    if (!BufEquals(&in, &out))
    {
        HANDLE hWork = CreateWorkFile();
        if (hWork == INVALID_HANDLE_VALUE)
        {
            WriteLog("Orvane: AddMorEngPath9x - open file C:\\AUTOEXEC.$$$ fail\n");
            BufFree(&out);
            BufFree(&in);
            return 0;
        }
        // Failures are logged there; the batch file then keeps its content.
        if (FillWorkFile(hWork, &out))
            ReplaceBatchByWorkFile();
    }
    BufFree(&out);
    BufFree(&in);
    WriteLog("Orvane: AddMorEngPath9x - end\n");
    return 1;
}

// Both lines name the engine directory in its OEM short form. The log shows them with "\n", the
// file holds them with CR LF.
static void FormatAvEngineLine(char* szLine, size_t cchLine, const char* pszOemPath,
                               const char* pszEnd)
{
    _snprintf(szLine, cchLine, "SET AVENGINE=%s%s", pszOemPath, pszEnd);
    szLine[cchLine - 1] = '\0';
}

static void FormatProbitLine(char* szLine, size_t cchLine, const char* pszOemPath,
                             const char* pszEnd)
{
    _snprintf(szLine, cchLine, "%s\\PROBIT.EXE%s", pszOemPath, pszEnd);
    szLine[cchLine - 1] = '\0';
}

// The batch file is missing: it is created with both lines, written in one piece.
static void CreateBatchWithLines(const char* pszEngPath)
{
    WriteLog("Orvane: Missing autoexec.bat, create a new one \n");
    HANDLE hBatch = CreateFileA(s_szBranchFile, GENERIC_WRITE, 0, NULL, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, NULL);
    if (hBatch == INVALID_HANDLE_VALUE)
    {
        WriteLog("Orvane: Can't create autoexec.bat \n");
        return;
    }
    char szOemPath[MAX_PATH];
    if (GetOemShortPath(pszEngPath, szOemPath))
    {
        char szLine[MAX_PATH + 32];
        char szContent[2 * (MAX_PATH + 32)];
        FormatAvEngineLine(szLine, sizeof(szLine), szOemPath, "\n");
        WriteLog("Orvane: set AVENGINE to [%s]\n", szLine);
        FormatAvEngineLine(szContent, sizeof(szContent), szOemPath, "\r\n");
        // A new file belongs to no other product: the scanner line goes in unasked.
        FormatProbitLine(szLine, sizeof(szLine), szOemPath, "\n");
        WriteLog("Orvane: Add probit [%s]\n", szLine);
        size_t cch = strlen(szContent);
        FormatProbitLine(szContent + cch, sizeof(szContent) - cch, szOemPath, "\r\n");
        DWORD cbWritten = 0;
        if (!WriteFile(hBatch, szContent, (DWORD)strlen(szContent), &cbWritten, NULL))
            WriteLog("Orvane: fail to write C:\\AUTOEXEC.BAT error [%d]\n", (int)GetLastError());
    }
    CloseHandle(hBatch);
}

void SetAutoexecLines9x(const char* pszEngPath, const char* pszProductName)
{
    WriteLog("Orvane: Set AVENGINE - W9X\n");

    // A work file that cannot be put in place of a missing batch file holds the user's file: no
    // new one is created over it.
    BOOL bSettled = SettleLeftoverWorkFile();
    if (!PathExists(s_szBranchFile))
    {
        if (bSettled)
            CreateBatchWithLines(pszEngPath);
    }
    else
    {
        // The old lines go and the new ones come in one rewrite.
        char szOemPath[MAX_PATH];
        char szAppend[2 * (MAX_PATH + 32)] = "";
        BOOL bLines = GetOemShortPath(pszEngPath, szOemPath);
        BOOL bScan = FALSE;
        if (bLines)
        {
            FormatAvEngineLine(szAppend, sizeof(szAppend), szOemPath, "\r\n");
            bScan = ShouldAddBootScan(pszProductName);
            if (bScan)
            {
                size_t cch = strlen(szAppend);
                FormatProbitLine(szAppend + cch, sizeof(szAppend) - cch, szOemPath, "\r\n");
            }
        }
        if (RewriteWithoutOwnLines(bLines ? szAppend : NULL) == 1 && bLines)
        {
            char szLine[MAX_PATH + 32];
            FormatAvEngineLine(szLine, sizeof(szLine), szOemPath, "\n");
            WriteLog("Orvane: set AVENGINE to [%s]\n", szLine);
            if (bScan)
            {
                FormatProbitLine(szLine, sizeof(szLine), szOemPath, "\n");
                WriteLog("Orvane: set PROBIT to [%s]\n", szLine);
            }
        }
    }

    AddMorEngPath9x(pszEngPath);
}

// ---------------------------------------------------------------------------------------------
// Removal.

// TRUE when the line's content (its line end taken off) is exactly pszText.
static BOOL IsLineExactly(const char* pb, size_t cbLine, const char* pszText)
{
    size_t cch = ContentLength(pb, cbLine);
    return cch == strlen(pszText) && memcmp(pb, pszText, cch) == 0;
}

// Appends the PATH line at pb to pOut without the whole entries pszEntry; the line end and every
// other byte of the line stay. A line holding NUL bytes or longer than the editor takes is copied
// as it is: the editor never added to such a line.
static BOOL AppendPathLineWithout(ByteBuf* pOut, const char* pb, size_t cbLine,
                                  const char* pszEntry)
{
    size_t cchContent = ContentLength(pb, cbLine);
    char szLine[PATH_LINE_MAX + 1];
    if (cchContent > PATH_LINE_MAX || memchr(pb, '\0', cchContent) != NULL)
    {
        BufAppend(pOut, pb, cbLine);
        return FALSE;
    }
    memcpy(szLine, pb, cchContent);
    szLine[cchContent] = '\0';
    DWORD cchNew = RemovePathEntry(szLine, pszEntry);
    BufAppend(pOut, szLine, cchNew);
    BufAppend(pOut, pb + cchContent, cbLine - cchContent);
    return cchNew != cchContent;
}

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

    char szAvEngine[MAX_PATH + 16];
    char szProbit[MAX_PATH + 16];
    char szPathLine[MAX_PATH + 8];
    char szEntry[MAX_PATH + 2];
    _snprintf(szAvEngine, sizeof(szAvEngine), "SET AVENGINE=%s", szOemPath);
    _snprintf(szProbit, sizeof(szProbit), "%s\\PROBIT.EXE", szOemPath);
    _snprintf(szPathLine, sizeof(szPathLine), "PATH=%s", szOemPath);
    _snprintf(szEntry, sizeof(szEntry), ";%s", szOemPath);
    szAvEngine[sizeof(szAvEngine) - 1] = '\0';
    szProbit[sizeof(szProbit) - 1] = '\0';
    szPathLine[sizeof(szPathLine) - 1] = '\0';
    szEntry[sizeof(szEntry) - 1] = '\0';

    ByteBuf out;
    if (!BufAlloc(&out, in.cb))
    {
        BufFree(&in);
        return 0;
    }
    ReadLeadBytes();
    const size_t cbText = TextLength(in.pb, in.cb);
    BOOL bPathLineSeen = FALSE;
    size_t cbLine;
    for (size_t i = 0; i < cbText; i += cbLine)
    {
        const char* pb = in.pb + i;
        cbLine = LineLength(pb, cbText - i);
        if (IsLineExactly(pb, cbLine, szAvEngine) || IsLineExactly(pb, cbLine, szProbit))
        {
            WriteLog("Orvane: remove line [%.*s] from C:\\AUTOEXEC.BAT\n",
                     (int)ContentLength(pb, cbLine), pb);
            continue;
        }
        if (!bPathLineSeen && IsPathLine(pb, cbLine))
        {
            bPathLineSeen = TRUE;
            if (IsLineExactly(pb, cbLine, szPathLine))
            {
                WriteLog("Orvane: remove line [%s] from C:\\AUTOEXEC.BAT\n", szPathLine);
                continue;
            }
            if (AppendPathLineWithout(&out, pb, cbLine, szEntry))
                WriteLog("Orvane: remove path [%s] from C:\\AUTOEXEC.BAT\n", szEntry);
            continue;
        }
        BufAppend(&out, pb, cbLine);
    }
    BufAppend(&out, in.pb + cbText, in.cb - cbText);

    return StoreIfChanged(&in, &out);
}
