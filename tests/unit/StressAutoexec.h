// Generated C:\AUTOEXEC.BAT files for the stress tests of the two editors and the Windows 95/98
// branch (StripAutoexecLines9x, AddMorEngPath9x, SetAutoexecLines9x), the model of what each
// must leave on disk, and the checks of one case. Used by StressTest.cpp and, under code page
// 932, StressDbcsTest.cpp.
//
// A file is lines of random length (over 255 and over 2047 bytes among them) with CR LF, LF, CR
// CR LF or no line end and bare CRs inside, NUL and other control bytes, bytes above 0x7F or
// double-byte characters, the program's texts ("SET AVENGINE=", "SET AVENGINE =",
// "PROBIT.EXE") and PATH prefixes at the start and in the middle of lines, PATH lines around the
// 2047-character limit, and sometimes a Ctrl-Z with more text behind it. A case also picks the
// state the disk is in (a work file C:\AUTOEXEC.$$$ left over, with or without the batch file, a
// read-only or hidden batch file), whether MoveFileExA exists (as on NT) or not (as on 95/98),
// the short path, and whether the scanner line is wanted.
#pragma once

#include "StressGen.h"

#include "Harness.h"
#include "support/support.h"
#include "sysint/sysint.h"

#include <string>
#include <vector>

namespace stress
{

const char s_szAutoexecBat[] = "C:\\AUTOEXEC.BAT";
const char s_szAutoexecWork[] = "C:\\AUTOEXEC.$$$";

// ---------------------------------------------------------------------------------------------
// The rules, as the tests read them.

// The lead bytes of the process's code page, which does not change while it runs.
inline bool IsLeadByte(BYTE b)
{
    static bool s_abLead[256];
    static bool s_bRead = false;
    if (!s_bRead)
    {
        for (int i = 0; i < 256; i++)
            s_abLead[i] = IsDBCSLeadByte((BYTE)i) != FALSE;
        s_bRead = true;
    }
    return s_abLead[b];
}

// TRUE when strFind occurs in strLine starting on a character boundary of the process's code page
// (a lead byte and the non-NUL byte after it are one character).
inline bool HoldsOnBoundary(const std::string& strLine, const std::string& strFind)
{
    for (size_t i = 0; i + strFind.size() <= strLine.size();)
    {
        if (strLine.compare(i, strFind.size(), strFind) == 0)
            return true;
        bool bPair =
            IsLeadByte((BYTE)strLine[i]) && i + 1 < strLine.size() && strLine[i + 1] != '\0';
        i += bPair ? 2 : 1;
    }
    return false;
}

// The program's own lines: the texts anywhere, with letter case.
inline bool IsOwnBatchLine(const std::string& strLine)
{
    return HoldsOnBoundary(strLine, "SET AVENGINE=") ||
           HoldsOnBoundary(strLine, "SET AVENGINE =") || HoldsOnBoundary(strLine, "PROBIT.EXE");
}

inline bool StartsNoCase(const std::string& strLine, const char* pszPrefix)
{
    size_t cch = strlen(pszPrefix);
    if (strLine.size() < cch)
        return false;
    for (size_t i = 0; i < cch; i++)
    {
        char a = strLine[i];
        char b = pszPrefix[i];
        if (a >= 'a' && a <= 'z')
            a = (char)(a - 'a' + 'A');
        if (a != b)
            return false;
    }
    return true;
}

// A PATH line begins in its first column with one of the three prefixes, in any letter case.
inline bool IsPathBatchLine(const std::string& strLine)
{
    return StartsNoCase(strLine, "SET PATH") || StartsNoCase(strLine, "PATH") ||
           StartsNoCase(strLine, "@PATH");
}

// The text DOS reads (up to the first Ctrl-Z) and the rest, kept as it is.
inline size_t TextEnd(const std::string& strFile)
{
    size_t n = strFile.find('\x1A');
    return n == std::string::npos ? strFile.size() : n;
}

// Lines split at LF, each with its LF; the last one may have none.
inline std::vector<std::string> SplitBatchLines(const std::string& strText)
{
    std::vector<std::string> lines;
    size_t nStart = 0;
    while (nStart < strText.size())
    {
        size_t nLf = strText.find('\n', nStart);
        size_t nEnd = nLf == std::string::npos ? strText.size() : nLf + 1;
        lines.push_back(strText.substr(nStart, nEnd - nStart));
        nStart = nEnd;
    }
    return lines;
}

// The line without its line end: the LF and the CRs in front of it, or the CRs at the end.
inline size_t BatchContentLength(const std::string& strLine)
{
    size_t cch = strLine.size();
    if (cch > 0 && strLine[cch - 1] == '\n')
        cch--;
    while (cch > 0 && strLine[cch - 1] == '\r')
        cch--;
    return cch;
}

// What StripAutoexecLines9x leaves, with strAppend added as the branch adds its lines.
inline std::string ModelStrip(const std::string& strBefore, const std::string& strAppend)
{
    size_t nText = TextEnd(strBefore);
    std::string strOut;
    for (const std::string& strLine : SplitBatchLines(strBefore.substr(0, nText)))
        if (!IsOwnBatchLine(strLine))
            strOut += strLine;
    if (!strOut.empty() && strOut.back() != '\n')
        strOut += "\r\n";
    return strOut + strAppend + strBefore.substr(nText);
}

// TRUE when the PATH line's content holds strDir as a whole entry: on a character boundary, after
// a ";", "=", blank or tab and before a ";", blank, tab or the end of the content.
inline bool HoldsWholeEntry(const std::string& strContent, const std::string& strDir)
{
    for (size_t i = 0; i + strDir.size() <= strContent.size();)
    {
        if (i > 0 && strContent.compare(i, strDir.size(), strDir) == 0 &&
            std::string(";= \t").find(strContent[i - 1]) != std::string::npos &&
            strContent[i - 1] != '\0' &&
            (i + strDir.size() == strContent.size() ||
             (strContent[i + strDir.size()] != '\0' &&
              std::string("; \t").find(strContent[i + strDir.size()]) != std::string::npos)))
            return true;
        bool bPair = IsLeadByte((BYTE)strContent[i]) && i + 1 < strContent.size() &&
                     strContent[i + 1] != '\0';
        i += bPair ? 2 : 1;
    }
    return false;
}

// What AddMorEngPath9x leaves in an existing file. *pbTooLong tells that the PATH line was too
// long to take the entry.
inline std::string ModelAddPath(const std::string& strBefore, const std::string& strShort,
                                bool* pbTooLong)
{
    *pbTooLong = false;
    const std::string strEntry = ";" + strShort;
    size_t nText = TextEnd(strBefore);
    std::vector<std::string> lines = SplitBatchLines(strBefore.substr(0, nText));
    std::string strOut;
    bool bFound = false;
    for (const std::string& strLine : lines)
    {
        if (bFound || !IsPathBatchLine(strLine))
        {
            strOut += strLine;
            continue;
        }
        bFound = true;
        size_t cchContent = BatchContentLength(strLine);
        if (HoldsWholeEntry(strLine.substr(0, cchContent), strShort))
        {
            strOut += strLine;
        }
        else if (cchContent + strEntry.size() + 1 > 2047)
        {
            *pbTooLong = true;
            strOut += strLine;
        }
        else
        {
            std::string strEnd = strLine.substr(cchContent);
            if (strEnd.empty() || strEnd.back() != '\n')
                strEnd += strEnd.empty() ? "\r\n" : "\n";
            strOut += strLine.substr(0, cchContent) + strEntry + strEnd;
        }
    }
    if (!bFound)
    {
        if (!strOut.empty() && strOut.back() != '\n')
            strOut += "\r\n";
        strOut += "PATH=" + strShort;
    }
    return strOut + strBefore.substr(nText);
}

// ---------------------------------------------------------------------------------------------
// The generator.

// Random bytes of a line body: text, blanks, control bytes (NUL and CR among them, never LF or
// Ctrl-Z), bytes above 0x7F, and with bDoubleByte characters of code page 932 whose trail byte
// is "\" or a letter.
inline std::string BatchFiller(Rng& rng, size_t cch, bool bDoubleByte)
{
    std::string str;
    while (str.size() < cch)
    {
        uint32_t u = rng.Below(100);
        if (u < 60)
        {
            str += rng.Printable(rng.Range(1, 12));
        }
        else if (u < 70)
        {
            char ch = (char)rng.Below(32);
            if (ch != '\n' && ch != '\x1A')
                str += ch;
        }
        else if (u < 75)
        {
            str += (char)rng.Range(0x80, 0xFF);
        }
        else if (u < 90 && bDoubleByte)
        {
            str += DoubleByteChar(rng);
        }
        else
        {
            str += rng.Percent(50) ? " " : ";";
        }
    }
    return str;
}

// A length for a line body: mostly short, some around the 255 and 2047 bytes of the old pieces,
// some longer.
inline size_t BatchLineLength(Rng& rng)
{
    uint32_t u = rng.Below(100);
    if (u < 60)
        return rng.Range(0, 60);
    if (u < 75)
        return rng.Range(60, 250);
    if (u < 86)
        return rng.Range(250, 300);
    if (u < 93)
        return rng.Range(2030, 2070);
    if (u < 99)
        return rng.Range(2070, 5000);
    return rng.Range(5000, 20000);
}

// A PATH value around the short path: the directory itself, a subdirectory, other letter case,
// other entries.
inline std::string BatchPathValue(Rng& rng, const std::string& strShort, bool bDoubleByte,
                                  size_t cchTarget)
{
    std::string str;
    while (str.size() < cchTarget)
    {
        if (!str.empty())
            str += ';';
        switch (rng.Below(12))
        {
        case 0:
            str += strShort;
            break;
        case 1:
            str += strShort + "\\SUB";
            break;
        case 2:
        {
            std::string strLower = strShort;
            for (char& ch : strLower)
                if (ch >= 'A' && ch <= 'Z')
                    ch = (char)(ch - 'A' + 'a');
            str += strLower;
            break;
        }
        case 3:
            if (bDoubleByte)
            {
                // A lead byte in front: the short path's first byte becomes its trail byte.
                str += "D:\\\x95" + strShort;
                break;
            }
            str += "%PATH%";
            break;
        default:
            str += "C:\\" + BatchFiller(rng, rng.Range(1, 30), bDoubleByte);
            break;
        }
    }
    return str;
}

inline std::string BatchLineBody(Rng& rng, const std::string& strShort, bool bDoubleByte,
                                 size_t cchEntry)
{
    static const char* const s_apszOwn[] = {
        "SET AVENGINE=",          "SET AVENGINE =",         "PROBIT.EXE",
        "C:\\OLD\\PROBIT.EXE /S", "REM SET AVENGINE=C:\\X", "@SET AVENGINE=C:\\Y"};
    static const char* const s_apszAlmost[] = {
        "set avengine=", "SET AVENGINEX=1", "SET AVENGINE",    "probit.exe",
        "PROBIT.EX",     "SET  AVENGINE=",  "SET AVENGINE  =", "PROBIT .EXE"};
    static const char* const s_apszPath[] = {"PATH ",  "PATH=",  "SET PATH=",     "@PATH ",
                                             "@path ", "path=",  "Set Path=",     "SET PATHX=",
                                             "PATH",   "@PATH=", "PATHEXT=.COM;", "Path;"};
    static const char* const s_apszNotPath[] = {"  PATH ",   "\tPATH=",  "ECHO PATH ",
                                                "REM PATH=", "xPATH=",   "@ SET PATH=",
                                                "\rPATH=",   "\x1BPATH="};
    size_t cch = BatchLineLength(rng);
    uint32_t u = rng.Below(100);
    if (u < 30)
        return BatchFiller(rng, cch, bDoubleByte);
    if (u < 45)
    {
        // The program's texts at the start or anywhere in the line.
        std::string strOwn = rng.Pick(s_apszOwn);
        if (rng.Percent(40))
            return strOwn + BatchFiller(rng, cch, bDoubleByte);
        std::string strFill = BatchFiller(rng, cch, bDoubleByte);
        size_t nAt = rng.Below((uint32_t)strFill.size() + 1);
        return strFill.substr(0, nAt) + strOwn + strFill.substr(nAt);
    }
    if (u < 53)
    {
        std::string strFill = BatchFiller(rng, cch, bDoubleByte);
        size_t nAt = rng.Percent(50) ? 0 : rng.Below((uint32_t)strFill.size() + 1);
        return strFill.substr(0, nAt) + rng.Pick(s_apszAlmost) + strFill.substr(nAt);
    }
    if (u < 75)
    {
        std::string strPrefix = rng.Pick(s_apszPath);
        if (rng.Percent(30))
        {
            // Around the limit: content, entry and line end of 2045 to 2049 characters.
            size_t cchContent = 2047 - 1 - cchEntry + rng.Range(0, 4) - 2;
            std::string strBody = strPrefix + BatchPathValue(rng, strShort, bDoubleByte, 0);
            while (strBody.size() < cchContent)
                strBody += rng.Printable(1, ";");
            strBody.resize(cchContent);
            // No CR at the end: it would count as part of the line end.
            if (!strBody.empty() && strBody.back() == '\r')
                strBody.back() = 'r';
            return strBody;
        }
        return strPrefix +
               BatchPathValue(rng, strShort, bDoubleByte, rng.Percent(85) ? cch % 200 : cch);
    }
    if (u < 83)
        return rng.Pick(s_apszNotPath) + BatchPathValue(rng, strShort, bDoubleByte, cch % 100);
    if (u < 90 && bDoubleByte)
    {
        // A lone lead byte in front of the program's text or a PATH prefix: its first byte is a
        // trail byte, so the text does not count there.
        const char* apsz[] = {"PROBIT.EXE", "SET AVENGINE=", "PATH=C:\\A"};
        return BatchFiller(rng, cch % 40, false) + "\x83" + apsz[rng.Below(3)];
    }
    // The short path and the texts in the middle of other lines.
    return "ECHO " + BatchFiller(rng, cch % 50, bDoubleByte) + strShort + " PATH " +
           BatchFiller(rng, cch % 30, bDoubleByte);
}

inline const char* BatchLineEnd(Rng& rng)
{
    uint32_t u = rng.Below(100);
    if (u < 66)
        return "\r\n";
    if (u < 80)
        return "\n";
    if (u < 85)
        return "\r"; // a bare CR: the line goes on
    if (u < 89)
        return "\r\r\n";
    if (u < 93)
        return "\n\r";
    return ""; // runs into the next line
}

// A random batch file; cchEntry is the length of ";" and the short path.
inline std::string RandomBatchFile(Rng& rng, const std::string& strShort, bool bDoubleByte)
{
    if (rng.Percent(3))
        return "";
    const size_t cchEntry = strShort.size() + 1;
    size_t nLines = rng.Percent(80) ? rng.Range(1, 12) : rng.Range(12, 40);
    std::string str;
    for (size_t i = 0; i < nLines; i++)
    {
        str += BatchLineBody(rng, strShort, bDoubleByte, cchEntry);
        if (i + 1 < nLines || rng.Percent(65))
            str += BatchLineEnd(rng);
    }
    uint32_t u = rng.Below(100);
    if (u < 6)
    {
        // The end-of-file marker an old editor leaves.
        str += '\x1A';
    }
    else if (u < 18)
    {
        // A Ctrl-Z anywhere, with more text, more markers and the program's texts behind it.
        size_t nAt = rng.Below((uint32_t)str.size() + 1);
        std::string strBehind = "\x1A";
        size_t nMore = rng.Range(0, 4);
        for (size_t i = 0; i < nMore; i++)
        {
            strBehind += BatchLineBody(rng, strShort, bDoubleByte, cchEntry);
            strBehind += rng.Percent(20) ? "\x1A" : BatchLineEnd(rng);
        }
        str.insert(nAt, strBehind);
    }
    return str;
}

// ---------------------------------------------------------------------------------------------
// The seam: the short path the case chose, and MoveFileExA missing as on Windows 95/98.

inline std::string& CaseShortPath()
{
    static std::string s_str;
    return s_str;
}

inline DWORD WINAPI CaseGetShortPathNameA(LPCSTR, LPSTR pszShort, DWORD cchShort)
{
    const std::string& str = CaseShortPath();
    if (str.empty())
    {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    if (cchShort <= str.size())
        return (DWORD)str.size() + 1;
    memcpy(pszShort, str.c_str(), str.size() + 1);
    return (DWORD)str.size();
}

inline BOOL WINAPI MoveFileExMissing(LPCSTR, LPCSTR, DWORD)
{
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

// ---------------------------------------------------------------------------------------------
// The checks that do not lean on the model.

inline std::string Escaped(const std::string& str, size_t cchMax = 600)
{
    std::string strOut;
    for (size_t i = 0; i < str.size() && strOut.size() < cchMax; i++)
    {
        unsigned char ch = (unsigned char)str[i];
        if (ch >= 0x20 && ch < 0x7F && ch != '\\')
        {
            strOut += (char)ch;
        }
        else
        {
            char sz[8];
            snprintf(sz, sizeof(sz), "\\x%02X", ch);
            strOut += sz;
        }
    }
    if (strOut.size() >= cchMax)
        strOut += "...";
    return strOut;
}

// Every line of the text before that is not the program's own (all lines when !bDropOwn) is in
// the text after, in order and byte for byte; the only changes allowed are the entry in front of
// the line end of one PATH line and a line end given to the last line. Apart from them, the text
// after holds only the program's own lines and a final "PATH=" line with the short path.
inline void CheckUserLinesKept(const std::string& strBefore, const std::string& strAfter,
                               bool bDropOwn, const std::string& strShort)
{
    std::vector<std::string> before;
    for (const std::string& strLine : SplitBatchLines(strBefore.substr(0, TextEnd(strBefore))))
        if (!bDropOwn || !IsOwnBatchLine(strLine))
            before.push_back(strLine);
    std::vector<std::string> after;
    for (const std::string& strLine : SplitBatchLines(strAfter.substr(0, TextEnd(strAfter))))
        if (!bDropOwn || !IsOwnBatchLine(strLine))
            after.push_back(strLine);
    if (after.size() == before.size() + 1 && after.back() == "PATH=" + strShort)
        after.pop_back();
    ASSERT_EQ(before.size(), after.size()) << "lines of the user lost or added";
    bool bEdited = false;
    for (size_t i = 0; i < before.size(); i++)
    {
        const std::string& b = before[i];
        const std::string& a = after[i];
        if (a == b)
            continue;
        if (i + 1 == before.size() && (b.empty() || b.back() != '\n') && a == b + "\r\n")
            continue;
        size_t cchContent = BatchContentLength(b);
        std::string strEdited = b.substr(0, cchContent) + ";" + strShort;
        bool bEntry = !bEdited && IsPathBatchLine(b) &&
                      a.compare(0, strEdited.size(), strEdited) == 0 &&
                      a.size() > strEdited.size() && a.back() == '\n' &&
                      a.find_first_not_of("\r\n", strEdited.size()) == std::string::npos;
        ASSERT_TRUE(bEntry) << "line " << i << " changed: [" << Escaped(b) << "] became ["
                            << Escaped(a) << "]";
        bEdited = true;
    }
}

// The file as it stands: attributes off, work file gone.
inline void ClearBatchFiles()
{
    SetFileAttributesA(s_szAutoexecBat, FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesA(s_szAutoexecWork, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(s_szAutoexecWork);
}

inline int CountLines(const std::string& strText, const std::string& strLine)
{
    int n = 0;
    for (const std::string& s : SplitBatchLines(strText))
        n += s == strLine;
    return n;
}

// One generated case: the state of the disk, one of the three routines, the checks of the file
// as written. The short path candidates come from the caller (OEM form, as the seam gives them).
inline void CheckAutoexecCase(Rng& rng, const std::vector<std::string>& shorts, bool bDoubleByte)
{
    enum
    {
        OpStrip,
        OpAddPath,
        OpBranch
    };
    enum
    {
        StateNormal,
        StateLeftover, // a work file left beside the batch file: discarded
        StateRecover,  // a work file without the batch file: put in its place
        StateMissing,  // neither: created
        StateReadOnly, // a read-only batch file: never changed
    };
    const int nOp = (int)rng.Below(3);
    uint32_t uState = rng.Below(100);
    const int nState = uState < 68   ? StateNormal
                       : uState < 78 ? StateLeftover
                       : uState < 87 ? StateRecover
                       : uState < 94 ? StateMissing
                                     : StateReadOnly;
    bool bShort = !rng.Percent(4);
    CaseShortPath() = bShort ? shorts[rng.Below((uint32_t)shorts.size())] : std::string();
    const std::string strShort = CaseShortPath();
    const std::string strModelShort = bShort ? strShort : shorts[0];
    bool bNoMoveFileEx = rng.Percent(30);
    SeamOverrideMoveFileExA(bNoMoveFileEx ? MoveFileExMissing : NULL);
    const char* pszProduct = "MORVELIN";
    g_bDefaultArgs = FALSE;
    bool bScan = true;
    uint32_t uProduct = rng.Below(100);
    if (uProduct >= 60)
    {
        pszProduct = "OTHER";
        // Default mode asks for the scanner line; otherwise the probe finds no companion.
        g_bDefaultArgs = uProduct < 80;
        bScan = g_bDefaultArgs != FALSE;
    }
    bool bHidden = nState == StateNormal && rng.Percent(5);
    bool bWorkReadOnly = rng.Percent(nState == StateRecover ? 25 : 50);

    std::string strBefore = RandomBatchFile(rng, strModelShort, bDoubleByte);
    std::string strWork = RandomBatchFile(rng, strModelShort, bDoubleByte);
    DeleteFileA(harness::LogPath().c_str());
    g_nLogState = -1;
    ClearBatchFiles();
    DeleteFileA(s_szAutoexecBat);
    // What the routine starts from once the work file is settled.
    bool bExists = true;
    bool bReadOnly = nState == StateReadOnly;
    switch (nState)
    {
    case StateLeftover:
        ASSERT_TRUE(harness::WriteFileBytes(s_szAutoexecWork, strWork));
        ASSERT_TRUE(harness::WriteFileBytes(s_szAutoexecBat, strBefore));
        if (bWorkReadOnly)
            SetFileAttributesA(s_szAutoexecWork, FILE_ATTRIBUTE_READONLY);
        break;
    case StateRecover:
        ASSERT_TRUE(harness::WriteFileBytes(s_szAutoexecWork, strBefore));
        // The rename keeps the attribute: a read-only leftover becomes a read-only batch file.
        if (bWorkReadOnly)
            SetFileAttributesA(s_szAutoexecWork, FILE_ATTRIBUTE_READONLY);
        bReadOnly = bWorkReadOnly;
        break;
    case StateMissing:
        bExists = false;
        strBefore.clear();
        break;
    default:
        ASSERT_TRUE(harness::WriteFileBytes(s_szAutoexecBat, strBefore));
        if (bReadOnly)
            SetFileAttributesA(s_szAutoexecBat, FILE_ATTRIBUTE_READONLY);
        if (bHidden)
            SetFileAttributesA(s_szAutoexecBat, FILE_ATTRIBUTE_HIDDEN);
        break;
    }
    SCOPED_TRACE("op " + std::to_string(nOp) + " state " + std::to_string(nState) + " short [" +
                 Escaped(strShort) + "] product " + pszProduct +
                 (bNoMoveFileEx ? " without MoveFileEx" : "") + "; before [" + Escaped(strBefore) +
                 "] size " + std::to_string(strBefore.size()));

    // The model.
    const std::string strSet = "SET AVENGINE=" + strShort + "\r\n";
    const std::string strScan = strShort + "\\PROBIT.EXE\r\n";
    std::string strExpected;
    bool bExpectExists = true;
    int nExpected = 1;
    bool bTooLong = false;
    switch (nOp)
    {
    case OpStrip:
        if (!bExists)
        {
            bExpectExists = false;
            nExpected = 0;
            break;
        }
        strExpected = ModelStrip(strBefore, "");
        if (bReadOnly && strExpected != strBefore)
        {
            strExpected = strBefore;
            nExpected = 0;
        }
        break;
    case OpAddPath:
        if (!bExists)
        {
            strExpected = bShort ? "PATH=" + strShort + "\r\n" : "";
            nExpected = 0;
            break;
        }
        strExpected = bShort ? ModelAddPath(strBefore, strShort, &bTooLong) : strBefore;
        if (bReadOnly)
            strExpected = strBefore;
        break;
    default:
        if (!bExists)
        {
            strExpected = bShort ? strSet + strScan + "PATH=" + strShort : "";
            break;
        }
        strExpected = ModelStrip(strBefore, bShort ? strSet + (bScan ? strScan : "") : "");
        if (bShort)
            strExpected = ModelAddPath(strExpected, strShort, &bTooLong);
        if (bReadOnly)
            strExpected = strBefore;
        break;
    }

    int nResult = -1;
    switch (nOp)
    {
    case OpStrip:
        nResult = StripAutoexecLines9x();
        break;
    case OpAddPath:
        nResult = AddMorEngPath9x("C:\\Program Files\\QM\\Engine");
        break;
    default:
        SetAutoexecLines9x("C:\\Program Files\\QM\\Engine", pszProduct);
        nResult = nExpected;
        break;
    }

    bool bAfterExists = false;
    std::string strAfter = harness::ReadFileBytes(s_szAutoexecBat, &bAfterExists);
    DWORD dwAttr = GetFileAttributesA(s_szAutoexecBat);
    bool bWorkLeft = harness::FileExists(s_szAutoexecWork);
    std::vector<std::string> msgs = harness::LastRunMessages();
    ClearBatchFiles();

    ASSERT_TRUE(HeapValidate(GetProcessHeap(), 0, NULL)) << "the process heap is damaged";
    EXPECT_FALSE(bWorkLeft) << "C:\\AUTOEXEC.$$$ left behind";
    ASSERT_EQ(bExpectExists, bAfterExists);
    EXPECT_EQ(nExpected, nResult);
    if (strExpected != strAfter)
    {
        size_t n = 0;
        while (n < strExpected.size() && n < strAfter.size() && strExpected[n] == strAfter[n])
            n++;
        size_t nFrom = n > 40 ? n - 40 : 0;
        ADD_FAILURE() << "file differs from byte " << n << " (sizes " << strExpected.size()
                      << " expected, " << strAfter.size() << " written): expected ["
                      << Escaped(strExpected.substr(nFrom), 200) << "] written ["
                      << Escaped(strAfter.substr(nFrom), 200) << "]";
        return;
    }
    if (nState == StateRecover)
    {
        EXPECT_TRUE(harness::HasMessage(msgs, "Orvane: C:\\AUTOEXEC.BAT missing, put "
                                              "C:\\AUTOEXEC.$$$ left by an earlier run in its "
                                              "place\n"));
    }
    if (nState == StateLeftover)
    {
        EXPECT_TRUE(
            harness::HasMessage(msgs, "Orvane: remove C:\\AUTOEXEC.$$$ left by an earlier run\n"));
    }
    if (bAfterExists)
    {
        EXPECT_EQ(bReadOnly, (dwAttr & FILE_ATTRIBUTE_READONLY) != 0);
        EXPECT_EQ(bHidden, (dwAttr & FILE_ATTRIBUTE_HIDDEN) != 0);
    }
    if (bTooLong && !bReadOnly)
    {
        EXPECT_TRUE(harness::HasMessage(msgs, "Orvane: AddMorEngPath9x - the path line is too "
                                              "long, leave it unchanged\n"));
    }
    if (!bExists || bReadOnly)
        return;

    // The invariants, read off the file without the model.
    const size_t nTextBefore = TextEnd(strBefore);
    const size_t nTextAfter = TextEnd(strAfter);
    EXPECT_TRUE(strAfter.substr(nTextAfter) == strBefore.substr(nTextBefore))
        << "the Ctrl-Z and what follows it changed";
    const std::string strTextAfter = strAfter.substr(0, nTextAfter);
    CheckUserLinesKept(strBefore, strAfter, nOp != OpAddPath, strShort);
    if (nOp == OpBranch && bShort)
    {
        // The program's lines once each, and no other line of its own.
        int nOwn = 0;
        for (const std::string& strLine : SplitBatchLines(strTextAfter))
            nOwn += IsOwnBatchLine(strLine);
        EXPECT_EQ(1, CountLines(strTextAfter, strSet));
        EXPECT_EQ(bScan ? 1 : 0, CountLines(strTextAfter, strScan));
        EXPECT_EQ(bScan ? 2 : 1, nOwn);
    }
    if (nOp == OpStrip)
    {
        for (const std::string& strLine : SplitBatchLines(strTextAfter))
            EXPECT_FALSE(IsOwnBatchLine(strLine)) << "[" << Escaped(strLine) << "] kept";
    }

    // A later run finds the file as this one left it: the editors change nothing more, the
    // branch settles after its second run.
    if (rng.Percent(15))
    {
        ASSERT_TRUE(harness::WriteFileBytes(s_szAutoexecBat, strAfter));
        switch (nOp)
        {
        case OpStrip:
            EXPECT_EQ(1, StripAutoexecLines9x());
            EXPECT_TRUE(strAfter == harness::ReadFileBytes(s_szAutoexecBat)) << "strip again";
            break;
        case OpAddPath:
            EXPECT_EQ(1, AddMorEngPath9x("C:\\Program Files\\QM\\Engine"));
            EXPECT_TRUE(strAfter == harness::ReadFileBytes(s_szAutoexecBat)) << "add again";
            break;
        default:
        {
            SetAutoexecLines9x("C:\\Program Files\\QM\\Engine", pszProduct);
            std::string strSecond = harness::ReadFileBytes(s_szAutoexecBat);
            SetAutoexecLines9x("C:\\Program Files\\QM\\Engine", pszProduct);
            EXPECT_TRUE(strSecond == harness::ReadFileBytes(s_szAutoexecBat)) << "third run";
            break;
        }
        }
        EXPECT_FALSE(harness::FileExists(s_szAutoexecWork));
        ClearBatchFiles();
    }
}

} // namespace stress
