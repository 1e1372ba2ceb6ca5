// The generator of the stress tests: every case draws from its own xorshift state, made from the
// run's seed and the case's index, so one failing case can be run again alone from the two
// numbers in its trace.
#pragma once

#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

#include "install/install.h"
#include "sysint/sysint.h"

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

// Splits a PATH text at every ";" (a separator can never be a trail byte of code page 932).
inline std::vector<std::string> SplitPath(const std::string& strPath)
{
    std::vector<std::string> parts;
    size_t nStart = 0;
    for (;;)
    {
        size_t nSemi = strPath.find(';', nStart);
        if (nSemi == std::string::npos)
        {
            parts.push_back(strPath.substr(nStart));
            return parts;
        }
        parts.push_back(strPath.substr(nStart, nSemi - nStart));
        nStart = nSemi + 1;
    }
}

// A random PATH text around the directory strDir: the directory itself 0..n times (never as the
// first entry, which has no separator before it and so does not count), its subdirectories,
// longer names that begin with it, other letter case, %VAR% references and empty entries, up to
// cchTarget bytes. bDoubleByte mixes double-byte characters into the random entries.
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

// Runs AppendUniquePathEntry on one random PATH text and checks it against the model: every
// entry that is not the directory kept in order, the directory once and last, nothing written
// past the buffer, and a text that does not fit left as it was.
inline void CheckPathCase(Rng& rng, const std::string& strDir, bool bDoubleByte)
{
    size_t cchTarget = rng.Percent(5) ? rng.Range(4096, 32760) : rng.Range(0, 600);
    std::string strBefore = RandomPathText(rng, strDir, cchTarget, bDoubleByte);
    // The value of an environment variable holds at most 32767 characters; whole entries are
    // dropped, so no double-byte character is cut in half.
    while (strBefore.size() > 32767)
        strBefore.resize(strBefore.rfind(';'));
    const std::string strEntry = ";" + strDir;
    std::vector<std::string> parts = SplitPath(strBefore);
    std::string strExpected;
    bool bFirstKept = true;
    for (size_t i = 0; i < parts.size(); i++)
    {
        if (i > 0 && parts[i] == strDir)
            continue;
        if (!bFirstKept)
            strExpected += ';';
        strExpected += parts[i];
        bFirstKept = false;
    }
    strExpected += strEntry;

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

    const size_t cbCanary = 64;
    std::vector<char> buf(cbBuffer + cbCanary, '\x7f');
    memcpy(buf.data(), strBefore.c_str(), strBefore.size() + 1);
    for (size_t i = 0; i < cbCanary; i++)
        buf[cbBuffer + i] = (char)(0xA5 ^ i);

    DWORD cch = AppendUniquePathEntry(buf.data(), cbBuffer, strEntry.c_str());

    for (size_t i = 0; i < cbCanary; i++)
        ASSERT_EQ((char)(0xA5 ^ i), buf[cbBuffer + i]) << "written past the buffer at +" << i;
    ASSERT_NE(nullptr, memchr(buf.data(), '\0', cbBuffer)) << "no NUL inside the buffer";
    std::string strAfter(buf.data());
    if (strExpected.size() + 1 <= cbBuffer)
    {
        EXPECT_EQ(strExpected, strAfter)
            << "buffer " << cbBuffer << " before [" << strBefore << "]";
        EXPECT_EQ(strExpected.size(), cch);
    }
    else
    {
        EXPECT_EQ(strBefore, strAfter) << "no room, buffer " << cbBuffer;
        EXPECT_EQ(strBefore.size(), cch);
    }
}

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
                str += DoubleByteChar(rng);
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

// The next character of pszText under the process's code page: 2 for a lead byte with its
// trail, else 1.
inline size_t CharLength(const char* pszText)
{
    return (IsDBCSLeadByte((BYTE)*pszText) && pszText[1]) ? 2 : 1;
}

// A field of MAX_PATH bytes with a canary behind it: NUL-terminated inside, nothing beyond.
inline void CheckField(const std::vector<char>& field, const char* pszName)
{
    ASSERT_NE(nullptr, memchr(field.data(), '\0', MAX_PATH)) << pszName << " not terminated";
    for (size_t i = MAX_PATH; i < field.size(); i++)
        ASSERT_EQ((char)0xA5, field[i]) << pszName << " written past MAX_PATH at +" << i;
}

// *pnAccepted counts the texts the parser took, so a run can show it reached that branch.
inline void CheckArgumentCase(Rng& rng, bool bDoubleByte, int* pnAccepted)
{
    std::string strText = RandomArgumentText(rng, bDoubleByte);
    g_bDefaultArgs = (int)rng.Below(2);
    std::vector<char> product(MAX_PATH + 32, (char)0xA5);
    std::vector<char> path(MAX_PATH + 32, (char)0xA5);
    memset(product.data(), 'j', MAX_PATH);
    memset(path.data(), 'j', MAX_PATH);
    BOOL bAddRef = 7;

    int nResult = ParseCmdLine(strText.c_str(), product.data(), &bAddRef, path.data());

    ASSERT_TRUE(nResult == 0 || nResult == -1) << nResult << " for [" << strText << "]";
    CheckField(product, "product name");
    CheckField(path, "path");
    EXPECT_TRUE(bAddRef == 0 || bAddRef == 1) << bAddRef;
    if (strText.size() >= MAX_PATH)
    {
        EXPECT_EQ(-1, nResult) << "a text the working copy cannot hold was parsed";
    }
    if (nResult == 0)
    {
        (*pnAccepted)++;
        for (const char* p = product.data(); *p; p += CharLength(p))
        {
            if (CharLength(p) == 2)
                continue;
            EXPECT_FALSE(*p >= 'a' && *p <= 'z') << "lower case in [" << product.data() << "]";
            EXPECT_TRUE(*p != '/' && *p != ':' && *p != '\\')
                << "separator in [" << product.data() << "] from [" << strText << "]";
        }
    }

    // The argument text of a whole command line: the program name gone, no blank or control
    // byte in front, and a pointer into the same text.
    std::string strLine;
    if (rng.Percent(50))
        strLine = "\"C:\\Program Files\\Q M\\Pelmora.exe\"";
    else
        strLine = rng.Percent(50) ? "Pelmora.exe" : "\"unclosed name";
    strLine += rng.Percent(80) ? std::string(rng.Range(0, 3), ' ') : std::string("\t\x01");
    strLine += strText;
    const char* pszArgs = GetArgumentText(strLine.c_str());
    ASSERT_TRUE(pszArgs >= strLine.c_str() && pszArgs <= strLine.c_str() + strLine.size());
    EXPECT_TRUE(*pszArgs == '\0' || (BYTE)*pszArgs > 32) << "[" << strLine << "]";
    if (strLine[0] == '"' && strLine.find('"', 1) != std::string::npos)
    {
        EXPECT_GT(pszArgs, strLine.c_str() + strLine.find('"', 1)) << "the name was not taken off";
    }
}

} // namespace stress
