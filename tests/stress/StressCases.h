// The generated cases of the stress tests and what must hold after each, shared by the Wine unit
// tests, the native sanitizer tests and the fuzzers of tests/host/. Nothing here depends on a
// test framework: a check returns an empty text when the case holds, else what went wrong, and
// the caller reports it in its own way (a failed assertion, or an abort for a fuzzer).
//
// Every case draws from its own xorshift state, made from the run's seed and the case's index, so
// one failing case can be run again alone from the two numbers in its trace.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

#include "install/ArgText.h"
#include "reboot/WinInitText.h"
#include "sysint/PathEntry.h"

// Under AddressSanitizer a buffer handed to a routine ends exactly where the routine's buffer
// ends, so a read or write past it stops the run at the faulting access. Elsewhere a canary
// behind the buffer shows writes past it.
#if defined(__SANITIZE_ADDRESS__)
#define STRESS_CANARY_BYTES 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define STRESS_CANARY_BYTES 0
#endif
#endif
#ifndef STRESS_CANARY_BYTES
#define STRESS_CANARY_BYTES 64
#endif

namespace stress
{

// The run's seed: PELMORA_STRESS_SEED (decimal or 0x hex) when set, else a fixed one, so that
// scripts/test sees the same inputs every time.
inline uint32_t RunSeed()
{
    const char* psz = getenv("PELMORA_STRESS_SEED");
    if (psz && *psz)
        return (uint32_t)strtoul(psz, NULL, 0);
    return 0x5EED8u;
}

// True when PELMORA_STRESS_LONG=1 reaches the process. Wine hands the Unix environment to the
// Windows process; ctest hands its own environment to the test.
inline bool LongMode()
{
    const char* psz = getenv("PELMORA_STRESS_LONG");
    return psz && strcmp(psz, "1") == 0;
}

// The number of cases: nNormal in scripts/test, at least 100,000 in long mode, or exactly
// PELMORA_STRESS_COUNT.
inline int CaseCount(int nNormal)
{
    const char* psz = getenv("PELMORA_STRESS_COUNT");
    if (psz && *psz)
        return atoi(psz);
    return LongMode() ? 100000 : nNormal;
}

class Rng
{
  public:
    Rng(uint32_t uSeed, uint32_t uCase)
    {
        // splitmix-style mixing: neighbouring cases must not start from neighbouring states.
        uint64_t x = ((uint64_t)uSeed << 32) ^ uCase ^ 0x9E3779B97F4A7C15ull;
        x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
        x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
        x ^= x >> 31;
        m_u = x ? x : 1;
    }
    uint32_t Next()
    {
        m_u ^= m_u << 13;
        m_u ^= m_u >> 7;
        m_u ^= m_u << 17;
        return (uint32_t)(m_u >> 16);
    }
    // 0 .. n-1; n must be > 0.
    uint32_t Below(uint32_t n)
    {
        return Next() % n;
    }
    // lo .. hi inclusive.
    uint32_t Range(uint32_t lo, uint32_t hi)
    {
        if (hi <= lo)
            return lo;
        return lo + Below(hi - lo + 1);
    }
    bool Percent(uint32_t n)
    {
        return Below(100) < n;
    }
    template <size_t N> const char* Pick(const char* const (&apsz)[N])
    {
        return apsz[Below((uint32_t)N)];
    }
    // cch printable ASCII characters without the bytes in pszAvoid.
    std::string Printable(size_t cch, const char* pszAvoid = "")
    {
        std::string str;
        while (str.size() < cch)
        {
            char ch = (char)Range(0x20, 0x7E);
            if (!strchr(pszAvoid, ch))
                str += ch;
        }
        return str;
    }

  private:
    uint64_t m_u;
};

// The trace line of one case.
inline std::string CaseTrace(uint32_t uSeed, int nCase)
{
    char sz[96];
    snprintf(sz, sizeof(sz), "seed 0x%08X case %d (PELMORA_STRESS_SEED=0x%08X)", (unsigned)uSeed,
             nCase, (unsigned)uSeed);
    return sz;
}

// The next character of pszText under the process's code page: 2 for a lead byte with its
// trail, else 1.
inline size_t CharLength(const char* pszText)
{
    return (IsDBCSLeadByte((BYTE)*pszText) && pszText[1]) ? 2 : 1;
}

// A character that code page 932 writes with two bytes: a lead byte and a trail byte that is
// either 0x5C (the backslash's value) or a letter, the two a byte-wise search mistakes.
inline std::string DoubleByteChar(Rng& rng)
{
    static const unsigned char s_abLead[] = {0x81, 0x83, 0x88, 0x95, 0x9F, 0xE0, 0xEA};
    unsigned char bLead = s_abLead[rng.Below(sizeof(s_abLead))];
    unsigned char bTrail;
    switch (rng.Below(3))
    {
    case 0:
        bTrail = 0x5C;
        break;
    case 1:
        bTrail = (unsigned char)rng.Range('a', 'z');
        break;
    default:
        bTrail = (unsigned char)rng.Range('A', 'Z');
        break;
    }
    std::string str;
    str += (char)bLead;
    str += (char)bTrail;
    return str;
}

// ---------------------------------------------------------------------------------------------
// The PATH entry.

// Splits a PATH text at every ";" that starts a character. The generated texts hold only valid
// double-byte characters, where a ";" is never a trail byte; a fuzzer's text may put one behind
// a lead byte, and the platform then reads the two as one character.
inline std::vector<std::string> SplitPath(const std::string& strPath)
{
    std::vector<std::string> parts;
    size_t nStart = 0;
    const char* psz = strPath.c_str();
    for (size_t i = 0; i < strPath.size(); i += CharLength(psz + i))
    {
        if (psz[i] == ';')
        {
            parts.push_back(strPath.substr(nStart, i - nStart));
            nStart = i + 1;
        }
    }
    parts.push_back(strPath.substr(nStart));
    return parts;
}

// What AppendUniquePathEntry must make of strBefore when the result fits: every entry that is
// not strDir kept in order (the first entry too, as no separator stands before it), and the
// directory once, last.
inline std::string ExpectedPathText(const std::string& strBefore, const std::string& strDir)
{
    std::vector<std::string> parts = SplitPath(strBefore);
    std::string strExpected;
    for (size_t i = 0; i < parts.size(); i++)
    {
        if (i > 0 && parts[i] == strDir)
            continue;
        // The first entry is always kept, so every later one that stays follows a separator.
        if (i > 0)
            strExpected += ';';
        strExpected += parts[i];
    }
    return strExpected + ";" + strDir;
}

// A random PATH text around the directory strDir: the directory itself 0..n times (never as the
// first entry, which has no separator before it and so does not count), its subdirectories,
// longer names that begin with it, other letter case, %VAR% references and empty entries, up to
// cchTarget bytes. bDoubleByte mixes double-byte characters into the random entries, and now and
// then a lead byte at the end of one.
inline std::string RandomPathText(Rng& rng, const std::string& strDir, size_t cchTarget,
                                  bool bDoubleByte)
{
    static const char* const s_apszVars[] = {"%SystemRoot%", "%PATH%", "%windir%",
                                             "%%",           "%",      "%PROGRAMFILES%\\Q M"};
    std::string strPath;
    bool bFirst = true;
    while (strPath.size() < cchTarget)
    {
        std::string strEntry;
        // Every removal restarts the search from the beginning, so a long text with hundreds of
        // occurrences would take seconds a case; real values hold a few.
        uint32_t uKind = rng.Below(cchTarget > 2048 ? 200 : 10);
        switch (uKind < 10 ? uKind : 10 + uKind % 4)
        {
        case 0:
        case 1:
            strEntry = bFirst ? "C:\\WINDOWS" : strDir;
            break;
        case 2:
            strEntry = strDir + (rng.Percent(50) ? "\\BIN" : "2");
            break;
        case 3:
            strEntry = rng.Pick(s_apszVars);
            strEntry += rng.Percent(50) ? "\\system32" : "";
            break;
        case 4:
            strEntry = rng.Percent(50) ? "" : " ";
            break;
        case 5:
            strEntry = strDir;
            for (char& ch : strEntry)
                if (ch >= 'A' && ch <= 'Z')
                    ch = (char)(ch - 'A' + 'a');
            break;
        default:
        {
            strEntry = "C:\\";
            size_t cch = rng.Range(1, rng.Percent(5) ? 400 : 40);
            while (strEntry.size() < cch)
            {
                if (bDoubleByte && rng.Percent(30))
                    strEntry += DoubleByteChar(rng);
                else
                    strEntry += rng.Printable(1, ";");
            }
            // A lead byte left without its trail takes the separator after it as its trail
            // byte, so that ";" no longer ends the entry: a search that steps byte by byte
            // would split the text there.
            if (bDoubleByte && rng.Percent(5))
                strEntry += (char)0x83;
            break;
        }
        }
        if (!bFirst)
            strPath += ';';
        strPath += strEntry;
        bFirst = false;
    }
    return strPath;
}

// One generated case: the PATH text and the size of the buffer that holds it (exactly enough
// for the result, one byte short, the largest value, or some room between).
inline void RandomPathCase(Rng& rng, const std::string& strDir, bool bDoubleByte,
                           std::string* pstrBefore, DWORD* pcbBuffer)
{
    size_t cchTarget = rng.Percent(5) ? rng.Range(4096, 32760) : rng.Range(0, 600);
    std::string strBefore = RandomPathText(rng, strDir, cchTarget, bDoubleByte);
    // The value of an environment variable holds at most 32767 characters; whole entries are
    // dropped, so no double-byte character is cut in half.
    while (strBefore.size() > 32767)
        strBefore.resize(strBefore.rfind(';'));
    const std::string strExpected = ExpectedPathText(strBefore, strDir);

    DWORD cbBuffer;
    switch (rng.Below(4))
    {
    case 0:
        cbBuffer = (DWORD)strExpected.size() + 1; // exactly enough
        break;
    case 1:
        cbBuffer = (DWORD)strExpected.size(); // one byte short
        break;
    case 2:
        cbBuffer = 32768;
        break;
    default:
        cbBuffer = (DWORD)strBefore.size() + 1 + rng.Below(64) +
                   (DWORD)(strExpected.size() > strBefore.size()
                               ? rng.Below((uint32_t)(strExpected.size() - strBefore.size()))
                               : 0);
        break;
    }
    if (cbBuffer < strBefore.size() + 1)
        cbBuffer = (DWORD)strBefore.size() + 1;
    *pstrBefore = strBefore;
    *pcbBuffer = cbBuffer;
}

// Runs AppendUniquePathEntry on strBefore (no NUL inside) in a buffer of cbBuffer bytes (at
// least its length and NUL) and checks the result against the model: nothing written past the
// buffer, the result terminated inside it, and either the expected text or, when that does not
// fit, the text as it was.
inline std::string PathEntryFault(const std::string& strBefore, const std::string& strDir,
                                  DWORD cbBuffer)
{
    const std::string strEntry = ";" + strDir;
    const std::string strExpected = ExpectedPathText(strBefore, strDir);
    const size_t cbCanary = STRESS_CANARY_BYTES;
    std::vector<char> buf(cbBuffer + cbCanary, '\x7f');
    memcpy(buf.data(), strBefore.c_str(), strBefore.size() + 1);
    for (size_t i = 0; i < cbCanary; i++)
        buf[cbBuffer + i] = (char)(0xA5 ^ i);

    DWORD cch = AppendUniquePathEntry(buf.data(), cbBuffer, strEntry.c_str());

    for (size_t i = 0; i < cbCanary; i++)
    {
        if (buf[cbBuffer + i] != (char)(0xA5 ^ i))
            return "written past the buffer of " + std::to_string(cbBuffer) + " bytes at +" +
                   std::to_string(i);
    }
    if (!memchr(buf.data(), '\0', cbBuffer))
        return "no NUL inside the buffer of " + std::to_string(cbBuffer) + " bytes";
    const std::string strAfter(buf.data());
    const bool bFits = strExpected.size() + 1 <= cbBuffer;
    const std::string& strWanted = bFits ? strExpected : strBefore;
    if (strAfter != strWanted)
        return std::string(bFits ? "wrong result" : "a value without room was changed") +
               ", buffer " + std::to_string(cbBuffer) + "\n  before   [" + strBefore +
               "]\n  expected [" + strWanted + "]\n  got      [" + strAfter + "]";
    if (cch != strWanted.size())
        return "returned length " + std::to_string(cch) + ", the value holds " +
               std::to_string(strWanted.size());

    // The removal takes exactly the appended entry and every earlier one back out: what stays
    // is every other entry, in order, byte for byte.
    if (bFits)
    {
        // An entry behind a dangling lead byte has its ";" read as that byte's trail: the append
        // does not see it as an entry, and neither does the removal.
        const size_t cchKept = strExpected.size() - strEntry.size();
        const std::string strKept =
            MbsIsTrailByte(buf.data(), cchKept) ? strExpected : strExpected.substr(0, cchKept);
        DWORD cchAfter = RemovePathEntry(buf.data(), strEntry.c_str());
        const std::string strRemoved(buf.data());
        if (strRemoved != strKept)
            return "wrong removal\n  before   [" + strExpected + "]\n  expected [" + strKept +
                   "]\n  got      [" + strRemoved + "]";
        if (cchAfter != strKept.size())
            return "removal returned length " + std::to_string(cchAfter) + ", the value holds " +
                   std::to_string(strKept.size());
    }
    return "";
}

// ---------------------------------------------------------------------------------------------
// The argument text.

// A random argument text: the switches in their forms and cases, quotes, blanks, control
// bytes, double-byte characters when bDoubleByte, sometimes longer than the 259 characters the
// parser takes.
inline std::string RandomArgumentText(Rng& rng, bool bDoubleByte)
{
    static const char* const s_apszTokens[] = {
        "/PROD:", "/prod:", "/Prod:", "/PATH:", "/path:", "/NS", "/ns",
        "/nS",    "/NR",    "/nr",    "/1",     "/I",     "/v",  "/B",
        "/CFG",   "\"",     "\"\"",   " ",      "  ",     "\t",  "/",
        ":",      "\\",     "C:\\",   "NAV",    "norton", "a b", "/PROD:/PATH:"};
    size_t cchTarget = rng.Percent(10) ? rng.Range(250, 700) : rng.Range(0, 80);
    std::string str;
    while (str.size() < cchTarget)
    {
        switch (rng.Below(6))
        {
        case 0:
        case 1:
            str += rng.Pick(s_apszTokens);
            break;
        case 2:
            str += rng.Printable(rng.Range(1, 12));
            break;
        case 3:
            str += (char)rng.Range(1, 31);
            break;
        case 4:
            if (bDoubleByte)
            {
                // Now and then a lead byte that takes the next byte, a "/" or a blank perhaps,
                // as its trail byte.
                str += rng.Percent(10) ? std::string(1, (char)0x83) : DoubleByteChar(rng);
                break;
            }
            str += (char)rng.Range(0x80, 0xFF);
            break;
        default:
            str += ' ';
            break;
        }
    }
    return str;
}

// A field of MAX_PATH bytes: terminated inside, nothing written behind it.
inline std::string FieldFault(const std::vector<char>& field, const char* pszName)
{
    if (!memchr(field.data(), '\0', MAX_PATH))
        return std::string(pszName) + " not terminated within MAX_PATH";
    for (size_t i = MAX_PATH; i < field.size(); i++)
    {
        if (field[i] != (char)0xA5)
            return std::string(pszName) + " written past MAX_PATH at +" +
                   std::to_string(i - MAX_PATH);
    }
    return "";
}

// Runs ParseCmdLine on strText (no NUL inside) with the flags as the caller set them and checks
// the fields: each terminated within its MAX_PATH bytes and nothing behind them, a result of 0
// or -1, a text too long for the working copy refused, a known engine set, and an accepted
// product name in upper case without a separator. *pbAccepted tells whether the text was taken.
inline std::string ArgumentFault(const std::string& strText, bool* pbAccepted)
{
    const size_t cbCanary = STRESS_CANARY_BYTES;
    std::vector<char> product(MAX_PATH + cbCanary, (char)0xA5);
    std::vector<char> path(MAX_PATH + cbCanary, (char)0xA5);
    memset(product.data(), 'j', MAX_PATH);
    memset(path.data(), 'j', MAX_PATH);
    BOOL bAddRef = 7;
    *pbAccepted = false;

    int nResult = ParseCmdLine(strText.c_str(), product.data(), &bAddRef, path.data());

    const std::string strWhere = " for [" + strText + "]";
    if (nResult != 0 && nResult != -1)
        return "result " + std::to_string(nResult) + strWhere;
    std::string strFault = FieldFault(product, "product name");
    if (strFault.empty())
        strFault = FieldFault(path, "path");
    if (!strFault.empty())
        return strFault + strWhere;
    if (bAddRef != 0 && bAddRef != 1)
        return "reference flag " + std::to_string(bAddRef) + strWhere;
    if (g_dwEngIDs < OSKA_ONLY || g_dwEngIDs > BOTH_OSKA_BRIN)
        return "engine set " + std::to_string(g_dwEngIDs) + strWhere;
    if (strText.size() >= MAX_PATH && nResult != -1)
        return "a text the working copy cannot hold was parsed" + strWhere;
    if (nResult != 0)
        return "";
    *pbAccepted = true;
    for (const char* p = product.data(); *p; p += CharLength(p))
    {
        if (CharLength(p) == 2)
            continue;
        if (*p >= 'a' && *p <= 'z')
            return "lower case in [" + std::string(product.data()) + "]" + strWhere;
        if (*p == '/' || *p == ':' || *p == '\\')
            return "separator in [" + std::string(product.data()) + "]" + strWhere;
    }
    return "";
}

// A whole command line around strText: a program name quoted, plain or with its quote left open,
// then blanks or control bytes.
inline std::string RandomCommandLine(Rng& rng, const std::string& strText)
{
    std::string strLine;
    if (rng.Percent(50))
        strLine = "\"C:\\Program Files\\Q M\\Pelmora.exe\"";
    else
        strLine = rng.Percent(50) ? "Pelmora.exe" : "\"unclosed name";
    strLine += rng.Percent(80) ? std::string(rng.Range(0, 3), ' ') : std::string("\t\x01");
    return strLine + strText;
}

// Runs GetArgumentText on strLine (no NUL inside) and checks the answer: a pointer into the same
// text, on a character boundary, with no blank or control byte in front, and behind a quoted
// program name when the quote is closed.
inline std::string ArgumentTextFault(const std::string& strLine)
{
    const char* pszLine = strLine.c_str();
    const char* pszArgs = GetArgumentText(pszLine);
    const std::string strWhere = " in [" + strLine + "]";
    if (pszArgs < pszLine || pszArgs > pszLine + strLine.size())
        return "a pointer outside the command line" + strWhere;
    size_t nOffset = (size_t)(pszArgs - pszLine);
    size_t i = 0;
    while (i < nOffset)
        i += CharLength(pszLine + i);
    if (i != nOffset)
        return "the argument text starts on a trail byte, offset " + std::to_string(nOffset) +
               strWhere;
    if (*pszArgs != '\0' && (BYTE)*pszArgs <= 32)
        return "a blank or control byte in front, offset " + std::to_string(nOffset) + strWhere;
    if (strLine[0] == '"')
    {
        // The closing quote on a character boundary.
        size_t nQuote = 1;
        while (nQuote < strLine.size() && pszLine[nQuote] != '"')
            nQuote += CharLength(pszLine + nQuote);
        if (nQuote < strLine.size() && nOffset <= nQuote)
            return "the program name was not taken off" + strWhere;
    }
    return "";
}

// ---------------------------------------------------------------------------------------------
// WININIT.INI.

// A random WININIT.INI: sections and lines of any length, the header in other forms (other
// case, LF alone, inside a line), NUL and control bytes, a last line without its end.
inline std::string RandomWinInit(Rng& rng)
{
    static const char* const s_apszPieces[] = {"[Rename]\r\n",
                                               "[rename]\r\n",
                                               "[Rename]\n",
                                               "[Rename]",
                                               "[Boot]\r\n",
                                               "NUL=C:\\A.DLL\r\n",
                                               "C:\\B.DLL=C:\\B.DLL000\r\n",
                                               "\r\n",
                                               "\n",
                                               "\r",
                                               "x[Rename]\r\n",
                                               "[Rename]\r\r\n"};
    size_t cchTarget = rng.Percent(5) ? rng.Range(4096, 70000) : rng.Range(0, 300);
    std::string str;
    while (str.size() < cchTarget)
    {
        switch (rng.Below(4))
        {
        case 0:
            str += rng.Pick(s_apszPieces);
            break;
        case 1:
            str += (char)rng.Below(32);
            break;
        default:
            str += rng.Printable(rng.Range(1, 60));
            break;
        }
    }
    return str;
}

// The content with strLine added: every earlier byte kept, the line directly under the first
// "[Rename]\r\n", or a header and the line at the end.
inline std::string ExpectedWinInit(const std::string& strBefore, const std::string& strLine)
{
    const std::string strHeader = WININIT_RENAME_HEADER;
    size_t nHeader = strBefore.find(strHeader);
    if (nHeader == std::string::npos)
        return strBefore + strHeader + strLine;
    size_t nInsert = nHeader + strHeader.size();
    return strBefore.substr(0, nInsert) + strLine + strBefore.substr(nInsert);
}

// The content with strLine added as the last line of the first "[Rename]\r\n" section (before
// the next line that opens with "[", or at the end after closing an open last line with CR LF),
// every earlier byte kept; a header and the line at the end when there is none.
inline std::string ExpectedWinInitAppend(const std::string& strBefore, const std::string& strLine)
{
    const std::string strHeader = WININIT_RENAME_HEADER;
    size_t nHeader = strBefore.find(strHeader);
    if (nHeader == std::string::npos)
        return strBefore + strHeader + strLine;
    size_t nEnd = nHeader + strHeader.size();
    while (nEnd < strBefore.size() && strBefore[nEnd] != '[')
    {
        size_t nLf = strBefore.find('\n', nEnd);
        nEnd = nLf == std::string::npos ? strBefore.size() : nLf + 1;
    }
    std::string strClose = nEnd == strBefore.size() && strBefore[nEnd - 1] != '\n' ? "\r\n" : "";
    return strBefore.substr(0, nEnd) + strClose + strLine + strBefore.substr(nEnd);
}

// The same for AppendWinInitLine, in a view with exactly the room it asks for.
inline std::string WinInitAppendFault(const std::string& strBefore, const std::string& strLine)
{
    const size_t cbRoom = strBefore.size() + strLine.size() + WININIT_RENAME_HEADER_LEN + 2;
    const size_t cbCanary = STRESS_CANARY_BYTES;
    std::vector<BYTE> view(cbRoom + cbCanary, 0x7F);
    memcpy(view.data(), strBefore.data(), strBefore.size());
    DWORD cbNew = AppendWinInitLine(view.data(), (DWORD)strBefore.size(), strLine.data(),
                                    (DWORD)strLine.size());
    const std::string strExpected = ExpectedWinInitAppend(strBefore, strLine);
    if (cbNew != strExpected.size())
        return "appended: new size " + std::to_string(cbNew) + ", expected " +
               std::to_string(strExpected.size());
    if (memcmp(view.data(), strExpected.data(), strExpected.size()) != 0)
        return "appended: content differs from the model";
    for (size_t i = cbNew; i < view.size(); i++)
    {
        if (view[i] != 0x7F)
            return "appended: byte " + std::to_string(i) + " beyond the new content was written";
    }
    return "";
}

// Runs InsertWinInitLine on the content strBefore (any bytes, NUL too) in a view with exactly
// the room it asks for and checks the new content against the model, and that nothing beyond
// the new content was touched.
inline std::string WinInitFault(const std::string& strBefore, const std::string& strLine)
{
    const size_t cbRoom = strBefore.size() + strLine.size() + WININIT_RENAME_HEADER_LEN;
    const size_t cbCanary = STRESS_CANARY_BYTES;
    std::vector<BYTE> view(cbRoom + cbCanary, 0x7F);
    memcpy(view.data(), strBefore.data(), strBefore.size());

    DWORD cbNew = InsertWinInitLine(view.data(), (DWORD)strBefore.size(), strLine.data(),
                                    (DWORD)strLine.size());

    const std::string strExpected = ExpectedWinInit(strBefore, strLine);
    if (cbNew != strExpected.size())
        return "new size " + std::to_string(cbNew) + ", expected " +
               std::to_string(strExpected.size());
    if (memcmp(view.data(), strExpected.data(), strExpected.size()) != 0)
    {
        size_t i = 0;
        while (view[i] == (BYTE)strExpected[i])
            i++;
        return "content differs from byte " + std::to_string(i) + " of " +
               std::to_string(strExpected.size());
    }
    for (size_t i = cbNew; i < view.size(); i++)
    {
        if (view[i] != 0x7F)
            return "byte " + std::to_string(i) + " beyond the new content was written";
    }
    return WinInitAppendFault(strBefore, strLine);
}

} // namespace stress
