// The C:\AUTOEXEC.BAT content edits: the engine's lines out, the new ones in, the PATH entry, and
// the removal, with one recogniser of the engine's lines and one set of formatters.
#include "AutoexecText.h"

#include <string.h>

#define CTRL_Z '\x1A'

static const char s_szAvEnginePrefix[] = "SET AVENGINE=";
static const char s_szProbitName[] = "PROBIT.EXE";

// ---------------------------------------------------------------------------------------------
// Output that never goes past its room: a piece that would not fit marks it, and a marked output
// is answered as AUTOEXEC_NO_ROOM.

struct OUT_BYTES
{
    char* pb;
    size_t cb;
    size_t cbMax;
    BOOL bNoRoom;
};

static void OutAppend(OUT_BYTES* pOut, const char* pb, size_t cb)
{
    if (pOut->bNoRoom || cb > pOut->cbMax - pOut->cb)
    {
        pOut->bNoRoom = TRUE;
        return;
    }
    if (cb > 0)
        memcpy(pOut->pb + pOut->cb, pb, cb);
    pOut->cb += cb;
}

static void OutAppendText(OUT_BYTES* pOut, const char* psz)
{
    OutAppend(pOut, psz, strlen(psz));
}

static size_t OutResult(const OUT_BYTES* pOut)
{
    return pOut->bNoRoom ? AUTOEXEC_NO_ROOM : pOut->cb;
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

// The step from the character at pb[i] of a text of cb bytes to the next one.
static size_t CharStep(const char* pb, size_t i, size_t cb)
{
    return (s_abLead[(BYTE)pb[i]] && i + 1 < cb && pb[i + 1] != '\0') ? 2 : 1;
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
    for (size_t i = 0; i + cch <= cb; i += CharStep(pb, i, cb))
    {
        if (memcmp(pb + i, pszFind, cch) == 0)
            return TRUE;
    }
    return FALSE;
}

// TRUE when the line's content (its line end taken off) is exactly pszText.
static BOOL IsLineExactly(const char* pb, size_t cbLine, const char* pszText)
{
    size_t cch = ContentLength(pb, cbLine);
    return cch == strlen(pszText) && memcmp(pb, pszText, cch) == 0;
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
    for (size_t i = 0; i + cch <= cb; i += CharStep(pb, i, cb))
    {
        if (i > 0 && memcmp(pb + i, pszDir, cch) == 0 && IsEntryBound(pb[i - 1], ";= \t") &&
            (i + cch == cb || IsEntryBound(pb[i + cch], "; \t")))
            return TRUE;
    }
    return FALSE;
}

// The platform's _strnicmp in the C locale: letter case of ASCII letters only.
static BOOL StartsWithNoCase(const char* pb, size_t cb, const char* pszPrefix)
{
    size_t cch = strlen(pszPrefix);
    if (cb < cch)
        return FALSE;
    for (size_t i = 0; i < cch; i++)
    {
        char ch = pb[i];
        if (ch >= 'a' && ch <= 'z')
            ch = (char)(ch - 'a' + 'A');
        if (ch != pszPrefix[i])
            return FALSE;
    }
    return TRUE;
}

// The PATH line is the first line that begins, in its first column, with one of these.
static BOOL IsPathLine(const char* pb, size_t cb)
{
    return StartsWithNoCase(pb, cb, "SET PATH") || StartsWithNoCase(pb, cb, "PATH") ||
           StartsWithNoCase(pb, cb, "@PATH");
}

// The first PATH line of the text pb[0, cbText): TRUE with its offset and length when there is one.
static BOOL FindPathLine(const char* pb, size_t cbText, size_t* piLine, size_t* pcbLine)
{
    size_t cbLine;
    for (size_t i = 0; i < cbText; i += cbLine)
    {
        cbLine = LineLength(pb + i, cbText - i);
        if (IsPathLine(pb + i, cbLine))
        {
            *piLine = i;
            *pcbLine = cbLine;
            return TRUE;
        }
    }
    return FALSE;
}

// ---------------------------------------------------------------------------------------------
// The engine's lines.

// Joins the texts of apszParts into szLine (cchLine bytes), cut there and always terminated.
static void JoinParts(char* szLine, size_t cchLine, const char* const* apszParts, size_t nParts)
{
    size_t cch = 0;
    for (size_t i = 0; i < nParts; i++)
    {
        size_t cchPart = strlen(apszParts[i]);
        if (cchPart > cchLine - 1 - cch)
            cchPart = cchLine - 1 - cch;
        memcpy(szLine + cch, apszParts[i], cchPart);
        cch += cchPart;
    }
    szLine[cch] = '\0';
}

void FormatAutoexecLine(int nLine, const char* pszOemPath, const char* pszEnd, char* szLine,
                        size_t cchLine)
{
    const char* apszParts[3] = {"PATH=", pszOemPath, pszEnd};
    if (nLine == AUTOEXEC_AVENGINE_LINE)
    {
        apszParts[0] = s_szAvEnginePrefix;
    }
    else if (nLine == AUTOEXEC_PROBIT_LINE)
    {
        apszParts[0] = pszOemPath;
        apszParts[1] = "\\PROBIT.EXE";
    }
    JoinParts(szLine, cchLine, apszParts, 3);
}

// The PATH entry of the engine directory: ";" and the short path.
static void FormatEntry(const char* pszOemPath, char* szEntry, size_t cchEntry)
{
    const char* apszParts[2] = {";", pszOemPath};
    JoinParts(szEntry, cchEntry, apszParts, 2);
}

// Whose a line is (AutoexecText.h): the one recogniser of the engine's lines. pszOemPath NULL:
// no line is this directory's. The lead-byte table must be read.
enum
{
    AUTOEXEC_USER_LINE,
    AUTOEXEC_ENGINE_LINE,      // an engine's line, not recognised as this directory's
    AUTOEXEC_THIS_ENGINE_LINE, // the AVENGINE or scanner line of pszOemPath, as written
};

static int LineOwner(const char* pb, size_t cbLine, const char* pszOemPath)
{
    if (pszOemPath)
    {
        char szLine[MAX_PATH + 32];
        FormatAutoexecLine(AUTOEXEC_AVENGINE_LINE, pszOemPath, "", szLine, sizeof(szLine));
        if (IsLineExactly(pb, cbLine, szLine))
            return AUTOEXEC_THIS_ENGINE_LINE;
        FormatAutoexecLine(AUTOEXEC_PROBIT_LINE, pszOemPath, "", szLine, sizeof(szLine));
        if (IsLineExactly(pb, cbLine, szLine))
            return AUTOEXEC_THIS_ENGINE_LINE;
    }
    if (LineHolds(pb, cbLine, s_szAvEnginePrefix) || LineHolds(pb, cbLine, "SET AVENGINE =") ||
        LineHolds(pb, cbLine, s_szProbitName))
        return AUTOEXEC_ENGINE_LINE;
    return AUTOEXEC_USER_LINE;
}

// ---------------------------------------------------------------------------------------------
// The edits.

size_t StripAutoexecText(const char* pbIn, size_t cbIn, const char* pszAppend, char* pbOut,
                         size_t cbOutMax)
{
    ReadLeadBytes();
    OUT_BYTES out = {pbOut, 0, cbOutMax, FALSE};
    const size_t cbText = TextLength(pbIn, cbIn);
    size_t cbLine;
    for (size_t i = 0; i < cbText; i += cbLine)
    {
        cbLine = LineLength(pbIn + i, cbText - i);
        if (LineOwner(pbIn + i, cbLine, NULL) == AUTOEXEC_USER_LINE)
            OutAppend(&out, pbIn + i, cbLine);
    }
    // Lines added later must not run into an open last line.
    if (out.cb > 0 && !out.bNoRoom && out.pb[out.cb - 1] != '\n')
        OutAppendText(&out, "\r\n");
    if (pszAppend)
        OutAppendText(&out, pszAppend);
    OutAppend(&out, pbIn + cbText, cbIn - cbText);
    return OutResult(&out);
}

size_t AddAutoexecPathEntry(const char* pbIn, size_t cbIn, const char* pszOemPath, char* pbOut,
                            size_t cbOutMax, AUTOEXEC_PATH_EDIT* pEdit)
{
    ReadLeadBytes();
    OUT_BYTES out = {pbOut, 0, cbOutMax, FALSE};
    const size_t cbText = TextLength(pbIn, cbIn);
    const size_t cchEntry = 1 + strlen(pszOemPath);
    pEdit->iLine = 0;
    pEdit->cbLine = 0;
    if (!FindPathLine(pbIn, cbText, &pEdit->iLine, &pEdit->cbLine))
    {
        // Appended to an unfinished last line, the PATH setting would become part of it.
        pEdit->nResult = AUTOEXEC_PATH_APPENDED;
        OutAppend(&out, pbIn, cbText);
        if (cbText > 0 && pbIn[cbText - 1] != '\n')
            OutAppendText(&out, "\r\n");
        OutAppendText(&out, "PATH=");
        OutAppendText(&out, pszOemPath);
        OutAppend(&out, pbIn + cbText, cbIn - cbText);
        return OutResult(&out);
    }

    const char* pLine = pbIn + pEdit->iLine;
    const size_t cbLine = pEdit->cbLine;
    const size_t cbContent = ContentLength(pLine, cbLine);
    OutAppend(&out, pbIn, pEdit->iLine);
    if (PathLineHoldsEntry(pLine, cbContent, pszOemPath))
    {
        pEdit->nResult = AUTOEXEC_PATH_HELD;
        OutAppend(&out, pLine, cbLine);
    }
    else if (cbContent + cchEntry + 1 > AUTOEXEC_PATH_LINE_MAX)
    {
        pEdit->nResult = AUTOEXEC_PATH_TOO_LONG;
        OutAppend(&out, pLine, cbLine);
    }
    else
    {
        // The entry goes in front of the line end, which stays as it was; a line without LF gets
        // one, after its CRs or a CR of its own.
        pEdit->nResult = AUTOEXEC_PATH_EXTENDED;
        OutAppend(&out, pLine, cbContent);
        OutAppendText(&out, ";");
        OutAppendText(&out, pszOemPath);
        OutAppend(&out, pLine + cbContent, cbLine - cbContent);
        if (pLine[cbLine - 1] != '\n')
            OutAppendText(&out, cbLine > cbContent ? "\n" : "\r\n");
    }
    OutAppend(&out, pLine + cbLine, cbIn - pEdit->iLine - cbLine);
    return OutResult(&out);
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

void LogAutoexecPathEdit(const char* pbIn, const AUTOEXEC_PATH_EDIT* pEdit, const char* pszOemPath)
{
    if (pEdit->nResult != AUTOEXEC_PATH_TOO_LONG && pEdit->nResult != AUTOEXEC_PATH_EXTENDED)
        return;
    const char* pLine = pbIn + pEdit->iLine;
    const size_t cbContent = ContentLength(pLine, pEdit->cbLine);
    char szLog[AUTOEXEC_PATH_LINE_MAX + 1];
    FormatLineForLog(szLog, sizeof(szLog), pLine, cbContent, "", pLine[pEdit->cbLine - 1] == '\n');
    WriteLog("Orvane: The original path is [%s]\n", szLog);
    if (pEdit->nResult == AUTOEXEC_PATH_TOO_LONG)
    {
        WriteLog("Orvane: AddMorEngPath9x - the path line is too long, leave it unchanged\n");
        return;
    }
    char szEntry[MAX_PATH + 1];
    FormatEntry(pszOemPath, szEntry, sizeof(szEntry));
    FormatLineForLog(szLog, sizeof(szLog), pLine, cbContent, szEntry, TRUE);
    WriteLog("Orvane: AddMorEngPath9x - the new path [%s]\n", szLog);
}

// Takes every whole entry pszEntry out of the cb bytes at pb, by the rule of RemovePathEntry over
// a content that may hold NUL bytes. Returns the new length.
static size_t RemoveEntryBytes(char* pb, size_t cb, const char* pszEntry)
{
    const size_t cchEntry = strlen(pszEntry);
    // Every removal can join text into a new occurrence before it, so the search restarts.
    size_t i = 0;
    while (i + cchEntry <= cb)
    {
        if (memcmp(pb + i, pszEntry, cchEntry) == 0 &&
            (i + cchEntry == cb || pb[i + cchEntry] == ';'))
        {
            memmove(pb + i, pb + i + cchEntry, cb - i - cchEntry);
            cb -= cchEntry;
            i = 0;
            continue;
        }
        i += CharStep(pb, i, cb);
    }
    return cb;
}

size_t RemoveAutoexecText(const char* pbIn, size_t cbIn, const char* pszOemPath, char* pbOut,
                          size_t cbOutMax)
{
    ReadLeadBytes();
    OUT_BYTES out = {pbOut, 0, cbOutMax, FALSE};
    char szPathLine[MAX_PATH + 8];
    char szEntry[MAX_PATH + 2];
    FormatAutoexecLine(AUTOEXEC_PATH_LINE, pszOemPath, "", szPathLine, sizeof(szPathLine));
    FormatEntry(pszOemPath, szEntry, sizeof(szEntry));

    const size_t cbText = TextLength(pbIn, cbIn);
    BOOL bPathLineSeen = FALSE;
    size_t cbLine;
    for (size_t i = 0; i < cbText; i += cbLine)
    {
        const char* pb = pbIn + i;
        cbLine = LineLength(pb, cbText - i);
        if (LineOwner(pb, cbLine, pszOemPath) == AUTOEXEC_THIS_ENGINE_LINE)
        {
            WriteLog("Orvane: remove line [%.*s] from C:\\AUTOEXEC.BAT\n",
                     (int)ContentLength(pb, cbLine), pb);
            continue;
        }
        if (bPathLineSeen || !IsPathLine(pb, cbLine))
        {
            OutAppend(&out, pb, cbLine);
            continue;
        }
        bPathLineSeen = TRUE;
        if (IsLineExactly(pb, cbLine, szPathLine))
        {
            WriteLog("Orvane: remove line [%s] from C:\\AUTOEXEC.BAT\n", szPathLine);
            continue;
        }
        // The line end and every other byte of the line stay. A line longer than the editor takes
        // never had the entry added.
        const size_t cbContent = ContentLength(pb, cbLine);
        if (cbContent > AUTOEXEC_PATH_LINE_MAX || out.bNoRoom || cbContent > out.cbMax - out.cb)
        {
            OutAppend(&out, pb, cbLine);
            continue;
        }
        memcpy(out.pb + out.cb, pb, cbContent);
        size_t cbNew = RemoveEntryBytes(out.pb + out.cb, cbContent, szEntry);
        out.cb += cbNew;
        OutAppend(&out, pb + cbContent, cbLine - cbContent);
        if (cbNew != cbContent)
            WriteLog("Orvane: remove path [%s] from C:\\AUTOEXEC.BAT\n", szEntry);
    }
    OutAppend(&out, pbIn + cbText, cbIn - cbText);
    return OutResult(&out);
}
