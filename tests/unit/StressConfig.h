// The generator of the configuration-file stress tests: random /CFG texts and the files they
// name, with the engine set and the engine directory in every shape the profile readers meet.
#pragma once

#include "Harness.h"
#include "StressGen.h"

#include <algorithm>
#include <string>
#include <vector>

namespace stress
{

// Double-byte characters of code page 932 that the profile readers carry through Unicode and
// back unchanged, two of them with the byte of "\\" as their trail byte.
static const char* const s_apszKanji[] = {"\x95\x5C", "\x83\x5C", "\x83\x41",
                                          "\x82\xA0", "\x93\xFA", "\x96\x7B"};

// A random ENG value: a path around the 259 characters that fit and far beyond, with blanks,
// quotes, control bytes and (bDoubleByte) double-byte characters. *pbPlain tells a value the
// reader hands on unchanged: no blank, quote or control byte at either end.
inline std::string RandomEngValue(Rng& rng, bool bDoubleByte, bool* pbPlain)
{
    size_t cch;
    switch (rng.Below(6))
    {
    case 0:
        cch = rng.Range(255, 264);
        break;
    case 1:
        cch = rng.Range(264, 5000);
        break;
    default:
        cch = rng.Range(0, 60);
        break;
    }
    std::string str = rng.Percent(80) ? "C:\\" : "";
    while (str.size() < cch)
    {
        switch (rng.Below(14))
        {
        case 0:
            str += ' ';
            break;
        case 1:
            str += '"';
            break;
        case 2:
            str += (char)rng.Range(1, 31);
            break;
        case 3:
            if (bDoubleByte)
                str += rng.Pick(s_apszKanji);
            else
                str += (char)rng.Range(0x80, 0xFF);
            break;
        case 4:
            str += '\\';
            break;
        default:
            str += rng.Printable(1, " \"';\r\n");
            break;
        }
    }
    // Line ends and NUL end the value in the file; a case wants to know what it wrote.
    std::string strClean;
    for (char ch : str)
        if (ch != '\r' && ch != '\n' && ch != '\0' && ch != '\x1a')
            strClean += ch;
    switch (rng.Below(8))
    {
    case 0:
        strClean = "\"" + strClean + "\"";
        break;
    case 1:
        strClean = "  " + strClean + " \t";
        break;
    case 2:
        strClean = "\"" + strClean;
        break;
    default:
        break;
    }
    auto isEdge = [](char ch)
    { return ch == ' ' || ch == '\t' || ch == '"' || ch == '\'' || (unsigned char)ch < 32; };
    *pbPlain = !strClean.empty() && !isEdge(strClean.front()) && !isEdge(strClean.back());
    return strClean;
}

// One configuration file and its expected reading: the engine set and the ENG value when the
// file says them once, plainly.
struct CONFIG_CASE
{
    std::string strText;
    bool bKnownEngIDs = true; // dwEngIDs is written once as plain decimal, or not at all
    DWORD dwEngIDs = BOTH_OSKA_BRIN;
    bool bKnownEng = true; // ENG is written once, plainly (or not at all: empty)
    std::string strEng;
    size_t cchEngMax = 0; // the longest ENG value written anywhere in the file
};

inline CONFIG_CASE RandomConfigFile(Rng& rng, bool bDoubleByte)
{
    static const char* const s_apszIdHeaders[] = {"[EngineID]", "[engineid]", "[ENGINEID]",
                                                  "[ EngineID ]"};
    static const char* const s_apszPathHeaders[] = {"[Path]", "[path]", "[PATH]", "[ Path ]"};
    static const char* const s_apszOddIDs[] = {"-1",
                                               "4",
                                               "7",
                                               "4294967295",
                                               "99999999999",
                                               "0x2",
                                               " 2 ",
                                               "2abc",
                                               "abc",
                                               "",
                                               "+1",
                                               "\"2\"",
                                               "000000000000000000000000000000003"};
    CONFIG_CASE c;
    const char* pszEol = rng.Percent(80) ? "\r\n" : "\n";
    int nIdSections = 0, nIdKeys = 0, nPathSections = 0, nEngKeys = 0;
    uint32_t nBlocks = rng.Range(0, 5);
    for (uint32_t b = 0; b < nBlocks; b++)
    {
        switch (rng.Below(5))
        {
        case 0:
        case 1:
        {
            c.strText += std::string(rng.Pick(s_apszIdHeaders)) + pszEol;
            nIdSections++;
            uint32_t nKeys = rng.Range(0, 2);
            for (uint32_t k = 0; k < nKeys; k++)
            {
                nIdKeys++;
                std::string strValue;
                if (rng.Percent(60))
                {
                    c.dwEngIDs = rng.Range(0, 9);
                    strValue = std::to_string(c.dwEngIDs);
                }
                else
                {
                    strValue = rng.Pick(s_apszOddIDs);
                    c.bKnownEngIDs = false;
                }
                c.strText += (rng.Percent(80) ? "dwEngIDs=" : "DWENGIDS = ") + strValue + pszEol;
            }
            break;
        }
        case 2:
        case 3:
        {
            c.strText += std::string(rng.Pick(s_apszPathHeaders)) + pszEol;
            nPathSections++;
            uint32_t nKeys = rng.Range(0, 2);
            for (uint32_t k = 0; k < nKeys; k++)
            {
                nEngKeys++;
                bool bPlain;
                std::string strValue = RandomEngValue(rng, bDoubleByte, &bPlain);
                c.cchEngMax = std::max(c.cchEngMax, strValue.size());
                c.strEng = strValue;
                if (!bPlain)
                    c.bKnownEng = false;
                c.strText += (rng.Percent(80) ? "ENG=" : "eng=") + strValue + pszEol;
            }
            break;
        }
        default:
            // Other sections and lines: comments, keys of other names, a key list of its own.
            c.strText += rng.Percent(50) ? "[Other]" : "; comment";
            c.strText += pszEol;
            c.strText += "ENGX=C:\\other" + std::string(pszEol);
            c.strText += std::string(rng.Range(1, 400), 'z') + "=1" + pszEol;
            break;
        }
    }
    // Repeated sections or keys: which one wins is the reader's business.
    if (nIdSections > 1 || nIdKeys > 1)
        c.bKnownEngIDs = false;
    if (nPathSections > 1 || nEngKeys > 1)
        c.bKnownEng = false;
    if (nEngKeys == 0)
        c.strEng.clear();
    return c;
}

// One /CFG case: a configuration file written (or not) under strDir, the text after "/CFG", and
// RunConfigMode over it. Fields are MAX_PATH bytes with canaries behind them; a refused text
// leaves the path field as it was. *pnAccepted counts the accepted cases.
inline void CheckConfigCase(Rng& rng, const std::string& strDir, bool bDoubleByte, int* pnAccepted)
{
    static const char* const s_apszNames[] = {"engine.ini", "cfg file.ini", "x.cfg", "noext",
                                              "eng.INI"};
    // A name of its own per case: the platform keeps recently read profiles cached, and a file
    // rewritten within the same clock tick could be read as it was.
    std::string strName = std::to_string(rng.Below(1000000)) + rng.Pick(s_apszNames);
    if (bDoubleByte && rng.Percent(50))
        strName = std::string(rng.Pick(s_apszKanji)) + strName;
    std::string strIni = strDir + "\\" + strName;
    CONFIG_CASE c = RandomConfigFile(rng, bDoubleByte);
    uint32_t uFile = rng.Below(20);
    RemoveDirectoryA(strIni.c_str());
    DeleteFileA(strIni.c_str());
    if (uFile == 0)
        CreateDirectoryA(strIni.c_str(), NULL); // a directory of that name
    else if (uFile > 2)
    {
        ASSERT_TRUE(harness::WriteFileBytes(strIni, c.strText)) << strIni;
    }

    std::string strText(rng.Range(0, 3), ' ');
    if (rng.Percent(20))
        strText += "/NS ";
    if (rng.Percent(20))
        strText += rng.Percent(50) ? "/1 " : "/v ";
    if (rng.Percent(20))
        strText += "/NR ";
    strText += "/PROD:" + std::string(rng.Percent(50) ? "nav" : "Quillpen") + " /PATH:";
    strText += rng.Percent(50) ? "\"" + strIni + "\"" : strIni;

    std::vector<char> product(MAX_PATH + 32, (char)0xA5);
    std::vector<char> path(MAX_PATH + 32, (char)0xA5);
    memset(product.data(), 'j', MAX_PATH);
    memset(path.data(), 'j', MAX_PATH);
    path[100] = '\0';
    const std::vector<char> pathBefore = path;
    BOOL bAddRef = 7;
    g_dwEngIDs = 0xDEADu;

    DeleteFileA(harness::LogPath().c_str());
    g_nLogState = -1;
    int nResult = RunConfigMode(strText.c_str(), product.data(), &bAddRef, path.data());
    std::vector<std::string> msgs = harness::LastRunMessages();
    RemoveDirectoryA(strIni.c_str());
    DeleteFileA(strIni.c_str());
    std::string strLast = msgs.empty() ? "" : msgs.back();

    ASSERT_TRUE(nResult == 0 || nResult == -1) << nResult;
    ASSERT_EQ("", stress::FieldFault(product, "product name"));
    for (size_t i = MAX_PATH; i < path.size(); i++)
        ASSERT_EQ((char)0xA5, path[i]) << "path written past MAX_PATH at +" << i;
    EXPECT_TRUE(bAddRef == 0 || bAddRef == 1) << bAddRef;
    EXPECT_EQ(1, g_bCfgMode);
    if (nResult != 0)
    {
        EXPECT_TRUE(path == pathBefore) << "a refused file changed the path";
        EXPECT_TRUE(strLast.compare(0, 28, "Orvane: Can't find ini file ") == 0 ||
                    strLast == "Orvane: Engine path not found in .ini file\n" ||
                    strLast.compare(0, 37, "Orvane: Engine path in .ini file too ") == 0)
            << "refused without its reason: " << strLast;
    }
    else
    {
        (*pnAccepted)++;
        ASSERT_NE(nullptr, memchr(path.data(), '\0', MAX_PATH)) << "path not terminated";
        std::string strPath = path.data();
        EXPECT_FALSE(strPath.empty());
        EXPECT_LT(strPath.size(), (size_t)MAX_PATH);
        EXPECT_GE(c.cchEngMax + 2, strPath.size()) << "a path longer than any value written";
        EXPECT_EQ("Orvane: szEngPath from ini file [" + strPath + "]\n", strLast);
        for (const char* p = product.data(); *p; p += CharLength(p))
            EXPECT_TRUE(CharLength(p) == 2 ||
                        (*p != '/' && *p != ':' && *p != '\\' && !(*p >= 'a' && *p <= 'z')))
                << "product [" << product.data() << "]";
        // In configuration mode the path names a directory, never a .INI to refuse.
        EXPECT_EQ(0, CheckPathExtension(strPath.c_str()));
    }

    // What the file says plainly must come out as it says.
    if (uFile <= 2)
    {
        EXPECT_EQ(-1, nResult) << "no file, yet accepted";
        if (uFile != 0)
        {
            EXPECT_EQ("Orvane: Can't find ini file [" + strIni + "]\n", strLast);
        }
        return;
    }
    if (c.bKnownEngIDs)
    {
        EXPECT_EQ(c.dwEngIDs, g_dwEngIDs) << c.strText;
    }
    if (c.bKnownEng)
    {
        if (c.strEng.empty())
        {
            EXPECT_EQ("Orvane: Engine path not found in .ini file\n", strLast);
        }
        else if (c.strEng.size() < MAX_PATH)
        {
            EXPECT_EQ(c.strEng, std::string(path.data())) << "result " << nResult;
        }
        else
        {
            EXPECT_EQ(-1, nResult) << "a value of " << c.strEng.size() << " bytes was taken";
        }
    }
}

} // namespace stress
