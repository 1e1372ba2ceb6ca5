// The C:\AUTOEXEC.BAT content edits (src/sysint/AutoexecText.h) on generated or fuzzed contents,
// and what must hold after an install's edit and after the removal, for the native stress test
// and the fuzz target. The Wine stress tests (tests/unit/StressAutoexec.h) compare the file on
// disk with a model of every byte; here the checks are the invariants that the user's side of
// the file depends on, read off the edits' results:
//   - the install (the engine's lines out, the new ones in, the PATH entry) keeps every line of
//     the user's, in order, the only changes the entry in one PATH line and a line end given to
//     an open line, and adds its own lines once each;
//   - the removal takes out only this directory's lines as written and its entry, never a line
//     that merely holds an engine text or the directory;
//   - the removal after the install gives back the user's lines;
//   - every edit stays inside the room it asks for, and a third install changes nothing more.
#pragma once

#include "StressCases.h"
#include "sysint/AutoexecText.h"

#include <string>
#include <vector>

namespace stress
{

// ---------------------------------------------------------------------------------------------
// The rules, as the checks read them.

// TRUE when a character of strText starts at nAt (a lead byte and the non-NUL byte after it are
// one character); HoldsText: when strFind occurs there.
inline bool OnBoundaryAt(const std::string& strText, size_t nAt)
{
    size_t i = 0;
    while (i < nAt)
        i += (IsDBCSLeadByte((BYTE)strText[i]) && i + 1 < strText.size() && strText[i + 1] != '\0')
                 ? 2
                 : 1;
    return i == nAt;
}

inline bool HoldsText(const std::string& strText, const std::string& strFind)
{
    for (size_t i = 0; i + strFind.size() <= strText.size();
         i += (IsDBCSLeadByte((BYTE)strText[i]) && i + 1 < strText.size() && strText[i + 1] != '\0')
                  ? 2
                  : 1)
        if (strText.compare(i, strFind.size(), strFind) == 0)
            return true;
    return false;
}

struct BatchLine
{
    std::string strContent; // without its line end
    std::string strEnd;     // the LF and the CRs in front of it, or the CRs of the last line
};

// The text in front of the first Ctrl-Z as lines, and the rest.
inline std::vector<BatchLine> BatchLines(const std::string& strFile, std::string* pstrTail)
{
    size_t nText = strFile.find('\x1A');
    if (nText == std::string::npos)
        nText = strFile.size();
    *pstrTail = strFile.substr(nText);
    std::vector<BatchLine> lines;
    for (size_t i = 0; i < nText;)
    {
        size_t nLf = strFile.find('\n', i);
        size_t nEnd = (nLf == std::string::npos || nLf >= nText) ? nText : nLf + 1;
        std::string strLine = strFile.substr(i, nEnd - i);
        size_t cch = strLine.size() - (strLine.back() == '\n' ? 1 : 0);
        while (cch > 0 && strLine[cch - 1] == '\r')
            cch--;
        lines.push_back({strLine.substr(0, cch), strLine.substr(cch)});
        i = nEnd;
    }
    return lines;
}

inline bool IsEngineText(const BatchLine& line)
{
    const std::string strLine = line.strContent + line.strEnd;
    return HoldsText(strLine, "SET AVENGINE=") || HoldsText(strLine, "SET AVENGINE =") ||
           HoldsText(strLine, "PROBIT.EXE");
}

inline bool IsPathPrefixed(const std::string& strContent)
{
    std::string strHead = strContent.substr(0, 8);
    for (char& ch : strHead)
        if (ch >= 'a' && ch <= 'z')
            ch = (char)(ch - 'a' + 'A');
    return strHead.compare(0, 8, "SET PATH") == 0 || strHead.compare(0, 4, "PATH") == 0 ||
           strHead.compare(0, 5, "@PATH") == 0;
}

// What the removal leaves of the first PATH line's content: every entry after the first that is
// strShort dropped with its ";" (an entry of a longer line stays: the editor never adds to one).
// An entry behind a dangling lead byte has its ";" read as that byte's trail byte and does not
// count as one.
inline std::string ContentWithoutEntries(const std::string& strContent, const std::string& strShort)
{
    if (strContent.size() > AUTOEXEC_PATH_LINE_MAX)
        return strContent;
    std::vector<std::string> parts = SplitPath(strContent);
    std::string strOut = parts[0];
    for (size_t i = 1; i < parts.size(); i++)
        if (parts[i] != strShort)
            strOut += ";" + parts[i];
    return strOut;
}

// TRUE when strEnd is the line end strOld, or strOld without LF given one as the edits give it.
inline bool IsLineEndKept(const std::string& strOld, const std::string& strNew)
{
    if (strNew == strOld)
        return true;
    return strOld.find('\n') == std::string::npos &&
           (strNew == strOld + "\r\n" || strNew == strOld + "\n");
}

// A text for a fault message: bytes outside printable ASCII as \xNN, cut after 300.
inline std::string Printed(const std::string& str)
{
    static const char s_szHex[] = "0123456789ABCDEF";
    std::string strOut;
    for (size_t i = 0; i < str.size() && i < 300; i++)
    {
        const BYTE b = (BYTE)str[i];
        if (b >= 0x20 && b < 0x7F && b != '\\')
            strOut += (char)b;
        else
            strOut += std::string("\\x") + s_szHex[b >> 4] + s_szHex[b & 15];
    }
    return str.size() > 300 ? strOut + "..." : strOut;
}

inline std::string LineText(const BatchLine& line)
{
    return "[" + Printed(line.strContent + line.strEnd) + "]";
}

// ---------------------------------------------------------------------------------------------
// The edits, each in a buffer of exactly the room it asks for: under AddressSanitizer a write past
// it stops the run.

inline bool RunStrip(const std::string& strIn, const std::string& strAppend, std::string* pstrOut)
{
    std::vector<char> out(strIn.size() + 2 + strAppend.size() + 1);
    size_t cb = StripAutoexecText(strIn.data(), strIn.size(), strAppend.c_str(), out.data(),
                                  out.size() - 1);
    if (cb == AUTOEXEC_NO_ROOM)
        return false;
    pstrOut->assign(out.data(), cb);
    return true;
}

inline bool RunAddPath(const std::string& strIn, const std::string& strShort, std::string* pstrOut,
                       AUTOEXEC_PATH_EDIT* pEdit)
{
    std::vector<char> out(strIn.size() + AUTOEXEC_PATH_ROOM(strShort.size()) + 1);
    size_t cb = AddAutoexecPathEntry(strIn.data(), strIn.size(), strShort.c_str(), out.data(),
                                     out.size() - 1, pEdit);
    if (cb == AUTOEXEC_NO_ROOM)
        return false;
    pstrOut->assign(out.data(), cb);
    return true;
}

inline bool RunRemove(const std::string& strIn, const std::string& strShort, std::string* pstrOut)
{
    std::vector<char> out(strIn.size() + 1);
    size_t cb =
        RemoveAutoexecText(strIn.data(), strIn.size(), strShort.c_str(), out.data(), strIn.size());
    if (cb == AUTOEXEC_NO_ROOM)
        return false;
    pstrOut->assign(out.data(), cb);
    return true;
}

// The install's edit of SetAutoexecLines9x: the engine's lines out, the new ones in, the entry.
inline bool RunInstall(const std::string& strIn, const std::string& strShort, bool bScan,
                       std::string* pstrOut)
{
    char szLine[MAX_PATH + 32];
    FormatAutoexecLine(AUTOEXEC_AVENGINE_LINE, strShort.c_str(), "\r\n", szLine, sizeof(szLine));
    std::string strAppend = szLine;
    FormatAutoexecLine(AUTOEXEC_PROBIT_LINE, strShort.c_str(), "\r\n", szLine, sizeof(szLine));
    if (bScan)
        strAppend += szLine;
    std::string strLines;
    AUTOEXEC_PATH_EDIT edit;
    return RunStrip(strIn, strAppend, &strLines) && RunAddPath(strLines, strShort, pstrOut, &edit);
}

// ---------------------------------------------------------------------------------------------
// The checks. Each returns "" when the case holds, else what went wrong.

// The install's result strAfter of strBefore.
inline std::string InstallFault(const std::string& strBefore, const std::string& strAfter,
                                const std::string& strShort, bool bScan)
{
    std::string strTailBefore, strTailAfter;
    std::vector<BatchLine> before = BatchLines(strBefore, &strTailBefore);
    std::vector<BatchLine> after = BatchLines(strAfter, &strTailAfter);
    if (strTailAfter != strTailBefore)
        return "the Ctrl-Z and what follows it changed";
    size_t iAfter = 0;
    bool bPathSeen = false;
    for (const BatchLine& line : before)
    {
        if (IsEngineText(line))
            continue;
        if (iAfter >= after.size())
            return "a line of the user's lost: " + LineText(line);
        const BatchLine& got = after[iAfter++];
        const bool bFirstPath = !bPathSeen && IsPathPrefixed(line.strContent);
        bPathSeen = bPathSeen || bFirstPath;
        if (!IsLineEndKept(line.strEnd, got.strEnd))
            return "a line end changed: " + LineText(line) + " became " + LineText(got);
        if (bFirstPath && got.strContent == line.strContent + ";" + strShort &&
            got.strEnd.find('\n') != std::string::npos)
            continue;
        if (got.strContent != line.strContent)
            return "a line of the user's changed: " + LineText(line) + " became " + LineText(got);
        // A PATH line left as it was holds the directory already, or has no room for it.
        if (bFirstPath && !HoldsText(line.strContent, strShort) &&
            line.strContent.size() + strShort.size() + 2 <= AUTOEXEC_PATH_LINE_MAX)
            return "no entry added to the PATH line " + LineText(line);
    }
    // Then the engine's lines, once each, and a PATH line where the file had none.
    std::vector<BatchLine> own = {{"SET AVENGINE=" + strShort, "\r\n"}};
    if (bScan)
        own.push_back({strShort + "\\PROBIT.EXE", "\r\n"});
    if (!bPathSeen)
        own.push_back({"PATH=" + strShort, ""});
    for (const BatchLine& line : own)
    {
        if (iAfter >= after.size() || after[iAfter].strContent != line.strContent ||
            after[iAfter].strEnd != line.strEnd)
            return "the engine's line " + LineText(line) + " missing at line " +
                   std::to_string(iAfter);
        iAfter++;
    }
    if (iAfter != after.size())
        return "a line added: " + LineText(after[iAfter]);
    return "";
}

// The removal's result strAfter of strBefore: of this directory's, only the lines as written, the
// first PATH line where it is "PATH=" and the directory, and the entries of the first PATH line
// go. After an install (bAfterInstall, strBefore the content before it) the engine's lines of
// every kind are gone, and the line ends the install gave stay.
inline std::string RemovalFault(const std::string& strBefore, const std::string& strAfter,
                                const std::string& strShort, bool bAfterInstall)
{
    const char* pszWhat = bAfterInstall ? "install and removal: " : "removal: ";
    std::string strTailBefore, strTailAfter;
    std::vector<BatchLine> before = BatchLines(strBefore, &strTailBefore);
    std::vector<BatchLine> after = BatchLines(strAfter, &strTailAfter);
    if (strTailAfter != strTailBefore)
        return pszWhat + std::string("the Ctrl-Z and what follows it changed");
    size_t iAfter = 0;
    bool bPathSeen = false;
    for (const BatchLine& line : before)
    {
        if (bAfterInstall ? IsEngineText(line)
                          : (line.strContent == "SET AVENGINE=" + strShort ||
                             line.strContent == strShort + "\\PROBIT.EXE"))
            continue;
        const bool bFirstPath = !bPathSeen && IsPathPrefixed(line.strContent);
        bPathSeen = bPathSeen || bFirstPath;
        if (bFirstPath && line.strContent == "PATH=" + strShort)
            continue;
        if (iAfter >= after.size())
            return pszWhat + std::string("a line lost: ") + LineText(line);
        const BatchLine& got = after[iAfter++];
        const bool bEndKept =
            bAfterInstall ? IsLineEndKept(line.strEnd, got.strEnd) : got.strEnd == line.strEnd;
        const std::string strWant =
            bFirstPath ? ContentWithoutEntries(line.strContent, strShort) : line.strContent;
        // The entry the install put behind a dangling lead byte does not read as one.
        const bool bDangling = bAfterInstall && bFirstPath && !line.strContent.empty() &&
                               IsDBCSLeadByte((BYTE)line.strContent.back()) &&
                               OnBoundaryAt(line.strContent, line.strContent.size() - 1) &&
                               got.strContent == strWant + ";" + strShort;
        if (!bEndKept || (got.strContent != strWant && !bDangling))
            return pszWhat + std::string("a line changed: ") + LineText(line) + " became " +
                   LineText(got) + ", expected [" + Printed(strWant) + "]";
    }
    if (iAfter != after.size())
        return pszWhat + std::string("a line added: ") + LineText(after[iAfter]);
    return "";
}

// One case: the install's edit and its checks, two more installs, the removal after it, and the
// removal on the content as it came.
inline std::string AutoexecFault(const std::string& strBefore, const std::string& strShort,
                                 bool bScan)
{
    std::string strInstalled, strAgain, strThird, strRemoved;
    if (!RunInstall(strBefore, strShort, bScan, &strInstalled))
        return "install: no room";
    std::string strFault = InstallFault(strBefore, strInstalled, strShort, bScan);
    if (!strFault.empty())
        return strFault;
    // The branch settles after its second run: the appended PATH line gets its line end then.
    if (!RunInstall(strInstalled, strShort, bScan, &strAgain) ||
        !RunInstall(strAgain, strShort, bScan, &strThird))
        return "install again: no room";
    if (strThird != strAgain)
        return "a third install changed the file";
    if (!RunRemove(strInstalled, strShort, &strRemoved))
        return "removal: no room";
    strFault = RemovalFault(strBefore, strRemoved, strShort, true);
    if (!strFault.empty())
        return strFault;
    if (!RunRemove(strBefore, strShort, &strRemoved))
        return "removal: no room";
    return RemovalFault(strBefore, strRemoved, strShort, false);
}

// ---------------------------------------------------------------------------------------------
// The generator: lines of the user's (with the directory, PATH prefixes, near misses of the
// engine's texts), the engine's lines of this and other directories, PATH lines with and without
// the entry and around the length limit, CR LF, LF, bare CR or no line end, NUL and other control
// bytes, double-byte characters, and sometimes a Ctrl-Z with more behind it.
inline std::string RandomAutoexec(Rng& rng, const std::string& strShort, bool bDoubleByte)
{
    static const char* const s_apszPieces[] = {"SET AVENGINE=",
                                               "SET AVENGINE =",
                                               "PROBIT.EXE",
                                               "set avengine=",
                                               "probit.exe",
                                               "PATH ",
                                               "PATH=",
                                               "SET PATH=",
                                               "@path ",
                                               "Path;",
                                               "  PATH ",
                                               "REM ",
                                               "ECHO ",
                                               ";",
                                               " ",
                                               "\\PROBIT.EXE",
                                               "\\SUB",
                                               "%PATH%",
                                               "C:\\WINDOWS",
                                               "\t"};
    static const char* const s_apszEnds[] = {"\r\n", "\r\n", "\r\n", "\n", "\r", "\r\r\n", ""};
    const size_t nLines = rng.Range(0, rng.Percent(80) ? 8 : 30);
    std::string str;
    for (size_t i = 0; i < nLines; i++)
    {
        switch (rng.Below(8))
        {
        case 0:
            str += "SET AVENGINE=" + strShort;
            break;
        case 1:
            str += strShort + "\\PROBIT.EXE";
            break;
        case 2:
            str += rng.Percent(50) ? "PATH=" + strShort : "PATH C:\\W;" + strShort;
            break;
        case 3:
            // A PATH line around the limit of 2047 characters.
            str += "PATH=" + std::string(2047 - 8 - strShort.size() + rng.Below(6), 'p');
            break;
        default:
        {
            const size_t nPieces = rng.Range(1, 8);
            for (size_t j = 0; j < nPieces; j++)
            {
                switch (rng.Below(6))
                {
                case 0:
                case 1:
                    str += rng.Pick(s_apszPieces);
                    break;
                case 2:
                    str += strShort;
                    break;
                case 3:
                    str += bDoubleByte ? DoubleByteChar(rng)
                                       : std::string(1, (char)rng.Range(0x80, 0xFF));
                    break;
                case 4:
                {
                    char ch = (char)rng.Below(32);
                    str += (ch == '\n' || ch == '\x1A') ? '\0' : ch;
                    break;
                }
                default:
                    str += rng.Printable(rng.Range(1, 10));
                    break;
                }
            }
            break;
        }
        }
        str += rng.Pick(s_apszEnds);
    }
    if (rng.Percent(15))
        str.insert(rng.Below((uint32_t)str.size() + 1),
                   rng.Percent(50) ? "\x1A" : "\x1ASET AVENGINE=X\r\n");
    return str;
}

} // namespace stress
