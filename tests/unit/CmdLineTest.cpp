#include "UnitFixture.h"

#include <memory>
#include <string>
#include <vector>

using harness::FindMessage;
using harness::HasMessage;
using harness::LastRunMessages;

namespace
{

struct ParseResult
{
    int nResult;
    std::string strProduct;
    std::string strPath;
    BOOL bAddRefCount;
};

ParseResult Parse(const std::string& strText)
{
    ParseResult r;
    char szProduct[MAX_PATH] = "junk";
    char szPath[MAX_PATH] = "junk";
    r.bAddRefCount = 7;
    r.nResult = ParseCmdLine(strText.c_str(), szProduct, &r.bAddRefCount, szPath);
    r.strProduct = szProduct;
    r.strPath = szPath;
    return r;
}

class CmdLine : public UnitTest
{
};

TEST_F(CmdLine, EmptyTextAndNonSilentAloneSelectDefaults)
{
    g_bDefaultArgs = 1;
    ParseResult r = Parse("");
    EXPECT_EQ(0, r.nResult);
    EXPECT_EQ("", r.strProduct);
    EXPECT_EQ("", r.strPath);
    EXPECT_EQ(TRUE, r.bAddRefCount);
    EXPECT_EQ(1, g_bSilent);
    EXPECT_EQ(3u, g_dwEngIDs);
    EXPECT_EQ(std::vector<std::string>{"Orvane: No arg. set defalt\n"}, LastRunMessages());

    ResetGlobals();
    harness::ResetState();
    g_nLogState = -1;
    r = Parse("  /nS  ");
    EXPECT_EQ(0, r.nResult);
    EXPECT_EQ(0, g_bSilent);
    EXPECT_EQ(1, g_bDefaultArgs);
    EXPECT_EQ(3u, g_dwEngIDs);
    EXPECT_EQ((std::vector<std::string>{"Orvane: /NS -  pszTempCmdLine[  ]\n",
                                        "Orvane: /NS - only param, set default\n"}),
              LastRunMessages());
}

TEST_F(CmdLine, EngineSwitchAloneIsRejectedWithoutALineOfItsOwn)
{
    ParseResult r = Parse("/1");
    EXPECT_EQ(-1, r.nResult);
    EXPECT_EQ(1u, g_dwEngIDs);
    EXPECT_EQ((std::vector<std::string>{"Orvane: no /NS value, running silently\n",
                                        "Orvane: OSKA_ONLY -  g_dwEngIDs[1]\n",
                                        "Orvane: OSKA_ONLY -  pszTempCmdLine[]\n",
                                        "Orvane: no /NR value\n"}),
              LastRunMessages());

    // With a path but no product the name is what is missing.
    r = Parse("/V /PATH:C:\\Eng");
    EXPECT_EQ(-1, r.nResult);
    EXPECT_EQ("Orvane: missing product name\n", LastRunMessages().back());
}

TEST_F(CmdLine, LaterEngineGroupsOverrideEarlierOnes)
{
    struct
    {
        const char* pszText;
        DWORD dwExpected;
    } cases[] = {
        {"/1 /2 /PROD:A", 2}, {"/2 /3 /PROD:A", 3},    {"/i /PROD:A", 1}, {"/v /PROD:A", 2},
        {"/b /PROD:A", 3},    {"/I /V /B /PROD:A", 3}, {"/PROD:A /2", 2},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszText);
        g_dwEngIDs = 3;
        ParseResult r = Parse(c.pszText);
        EXPECT_EQ(0, r.nResult);
        EXPECT_EQ(c.dwExpected, g_dwEngIDs);
        EXPECT_EQ("A", r.strProduct);
    }
    // Only the first occurrence of the first form found is removed; the second stays and ends
    // up in the product name, which is then rejected.
    ParseResult r = Parse("/1 /PROD:A/1");
    EXPECT_EQ(-1, r.nResult);
    EXPECT_TRUE(HasMessage(LastRunMessages(), "Orvane: invalid product name [A/1]\n"));
}

TEST_F(CmdLine, ProductNameRules)
{
    ParseResult r = Parse("/prod:  Morvelin /path:C:\\Eng Dir");
    EXPECT_EQ(0, r.nResult);
    EXPECT_EQ("MORVELIN", r.strProduct);
    EXPECT_EQ("C:\\Eng Dir", r.strPath);
    EXPECT_TRUE(HasMessage(LastRunMessages(), "Orvane: product name [MORVELIN]\n"));

    r = Parse("/PROD:abc/PATH:D:\\x");
    EXPECT_EQ(0, r.nResult);
    EXPECT_EQ("ABC", r.strProduct);
    EXPECT_EQ("D:\\x", r.strPath);

    struct
    {
        const char* pszText;
        const char* pszLog;
    } invalid[] = {
        {"/PROD:a:b", "Orvane: invalid product name [A:B]\n"},
        {"/PROD:a\\b", "Orvane: invalid product name [A\\B]\n"},
        {"/PROD:C:\\x", "Orvane: invalid product name [C:\\X]\n"},
    };
    for (const auto& c : invalid)
    {
        SCOPED_TRACE(c.pszText);
        r = Parse(c.pszText);
        EXPECT_EQ(-1, r.nResult);
        EXPECT_EQ(c.pszLog, LastRunMessages().back());
    }

    for (const char* psz : {"/PROD:", "/PROD:   ", "/PATH:C:\\x", "/PROD:/PATH:C:\\x", "xyz"})
    {
        SCOPED_TRACE(psz);
        r = Parse(psz);
        EXPECT_EQ(-1, r.nResult);
        EXPECT_EQ("Orvane: missing product name\n", LastRunMessages().back());
    }
}

TEST_F(CmdLine, PathTextRules)
{
    struct
    {
        const char* pszText;
        int nResult;
        const char* pszPath;
        const char* pszLastLog;
    } cases[] = {
        {"/PROD:A /PATH:\"C:\\Program Files\\Eng\"", 0, "C:\\Program Files\\Eng",
         "Orvane: the path/ini file [C:\\Program Files\\Eng]\n"},
        {"/PATH:  c:\\MixedCase\\Eng  /PROD:A", 0, "c:\\MixedCase\\Eng", nullptr},
        {"/PROD:A /PATH:x\"C:\\a b\"y", 0, "C:\\a b", nullptr},
        {"/PROD:A /PATH:\"C:\\a b", 0, "C:\\a b", nullptr},
        {"/PROD:A /PATH:C:\\a b\"", 0, "C:\\a b", nullptr},
        {"/PROD:A /PATH:C:\\a\"b", -1, "", "Orvane: invalie path/ini file [C:\\a\"b]\n"},
        {"/PROD:A /PATH:", -1, "", "Orvane: missing path/ini file\n"},
        {"/PROD:A /PATH:   ", -1, "", "Orvane: missing path/ini file\n"},
        {"/PATH:/PROD:A", -1, "", "Orvane: missing path/ini file\n"},
        {"/PROD:A /PATH:\"  \"", -1, "", "Orvane: missing path/ini file\n"},
        {"/PROD:A", 0, "", "Orvane: no argument for /PATH[/PROD:A]\n"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszText);
        harness::ResetState();
        g_nLogState = -1;
        ParseResult r = Parse(c.pszText);
        EXPECT_EQ(c.nResult, r.nResult);
        EXPECT_EQ(c.pszPath, r.strPath);
        if (c.pszLastLog)
        {
            EXPECT_EQ(c.pszLastLog, LastRunMessages().back());
        }
    }
    // One quote inside the text: both lines, in order.
    harness::ResetState();
    g_nLogState = -1;
    Parse("/PROD:A /PATH:C:\\a\"b");
    std::vector<std::string> msgs = LastRunMessages();
    int n = FindMessage(msgs, "Orvane: missing one quotation\n");
    ASSERT_GE(n, 0);
    EXPECT_EQ(n + 1, FindMessage(msgs, "Orvane: invalie path/ini file [C:\\a\"b]\n"));
}

TEST_F(CmdLine, SwitchFormsAreFoundInsideAForwardSlashPath)
{
    ParseResult r = Parse("/PROD:A /PATH:C:/Install/Data");
    EXPECT_EQ(0, r.nResult);
    EXPECT_EQ(1u, g_dwEngIDs);
    EXPECT_EQ("C:nstall/Data", r.strPath);
    EXPECT_TRUE(HasMessage(LastRunMessages(),
                           "Orvane: OSKA_ONLY -  pszTempCmdLine[/PROD:A /PATH:C:nstall/Data]\n"));
}

TEST_F(CmdLine, NoReferenceSwitch)
{
    ParseResult r = Parse("/nr /PROD:A");
    EXPECT_EQ(0, r.nResult);
    EXPECT_EQ(FALSE, r.bAddRefCount);
    EXPECT_TRUE(HasMessage(LastRunMessages(), "Orvane: /NR -  pszTempCmdLine[ /PROD:A]\n"));

    r = Parse("/PROD:A");
    EXPECT_EQ(TRUE, r.bAddRefCount);
    EXPECT_TRUE(HasMessage(LastRunMessages(), "Orvane: no /NR value\n"));
}

TEST_F(CmdLine, TextLongerThanTheWorkingCopyIsRefused)
{
    std::string strText = "/PROD:A /PATH:C:\\" + std::string(250, 'x');
    ParseResult r = Parse(strText);
    EXPECT_EQ(-1, r.nResult);
    EXPECT_EQ("", r.strPath);
    EXPECT_EQ("Orvane: argument text too long [" + std::to_string(strText.size()) +
                  " characters], at most 259 are accepted\n",
              LastRunMessages().back());

    // 259 characters still fit.
    strText = "/PROD:A /PATH:C:\\" + std::string(259 - 17, 'y');
    ASSERT_EQ(259u, strText.size());
    r = Parse(strText);
    EXPECT_EQ(0, r.nResult);
    EXPECT_EQ(strText.substr(14), r.strPath);
}

// The run looks for the non-silent switch once, in the whole argument text; the modes that parse
// the text after their own switch remove that same occurrence.
TEST_F(CmdLine, ModesParseTheNonSilentSwitchThatTheRunFound)
{
    struct
    {
        const char* pszText;
        int (*pfnParse)(RUN_STATE*);
        const char* pszLine;
    } cases[] = {
        {"/REMOVE  /ns /PROD:a /ns", ParseRemoveArguments,
         "Orvane: /NS -  pszTempCmdLine[ /PROD:a /ns]\n"},
        {"/cfg /PROD:a /nS /Ns /PATH:none.ini", ParseConfigArguments,
         "Orvane: /NS -  pszTempCmdLine[/PROD:a /nS  /PATH:none.ini]\n"},
    };
    std::unique_ptr<RUN_STATE> pRun(new RUN_STATE());
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszText);
        ResetGlobals();
        harness::ResetState();
        g_nLogState = -1;
        ZeroMemory(pRun.get(), sizeof(RUN_STATE));
        lstrcpynA(pRun->lpCmdLine, c.pszText, sizeof(pRun->lpCmdLine));
        pRun->pszNoSilent = FindNoSilentSwitch(pRun->lpCmdLine);
        c.pfnParse(pRun.get());
        EXPECT_EQ(0, g_bSilent);
        EXPECT_TRUE(HasMessage(LastRunMessages(), c.pszLine));
    }
}

class ConfigMode : public UnitTest
{
  protected:
    std::string WriteIni(const std::string& strBody)
    {
        std::string strPath = harness::TestDir() + "\\engine.ini";
        harness::WriteFileBytes(strPath, strBody);
        return strPath;
    }
    int Run(const std::string& strText)
    {
        char szProduct[MAX_PATH], szPath[MAX_PATH] = "";
        BOOL bAddRef = 7;
        int n = RunConfigMode(strText.c_str(), szProduct, &bAddRef, szPath);
        m_strProduct = szProduct;
        m_strPath = szPath;
        m_bAddRef = bAddRef;
        return n;
    }
    std::string m_strProduct, m_strPath;
    BOOL m_bAddRef = 0;
};

TEST_F(ConfigMode, ReadsTheEngineSetAndDirectoryAndIgnoresEngineSwitches)
{
    std::string strIni = WriteIni("[EngineID]\r\ndwEngIDs=2\r\n[Path]\r\nENG=D:\\Shared Eng\r\n");
    EXPECT_EQ(0, Run("  /1 /NR /PROD:prod /PATH:\"" + strIni + "\""));
    EXPECT_EQ(2u, g_dwEngIDs);
    EXPECT_EQ("D:\\Shared Eng", m_strPath);
    EXPECT_EQ("PROD", m_strProduct);
    EXPECT_EQ(FALSE, m_bAddRef);
    std::vector<std::string> msgs = LastRunMessages();
    ASSERT_GE(msgs.size(), 2u);
    EXPECT_EQ("Orvane: Agr: CFG\n", msgs[0]);
    EXPECT_EQ("Orvane: CFG \n", msgs[1]);
    EXPECT_TRUE(HasMessage(msgs, "Orvane: ini file [" + strIni + "]\n"));
    EXPECT_TRUE(HasMessage(msgs, "Orvane: dwEngIDs from ini file [2]\n"));
    EXPECT_EQ("Orvane: szEngPath from ini file [D:\\Shared Eng]\n", msgs.back());
    EXPECT_EQ(-1, FindMessage(msgs, "Orvane: OSKA_ONLY -  g_dwEngIDs[1]\n"));

    // No dwEngIDs: both engines. Any other value is taken as it reads.
    strIni = WriteIni("[path]\r\neng=E:\\x\r\n");
    EXPECT_EQ(0, Run("/PROD:P /PATH:" + strIni));
    EXPECT_EQ(3u, g_dwEngIDs);
    strIni = WriteIni("[EngineID]\r\ndwEngIDs=7\r\n[Path]\r\nENG=E:\\x\r\n");
    EXPECT_EQ(0, Run("/PROD:P /PATH:" + strIni));
    EXPECT_EQ(7u, g_dwEngIDs);
}

// A name without a directory is the file of the current directory for the existence test and
// for every read, not a file of that name in the Windows directory.
TEST_F(ConfigMode, RelativeNameIsReadFromTheCurrentDirectory)
{
    char szWin[MAX_PATH], szCur[MAX_PATH];
    ASSERT_NE(0u, GetWindowsDirectoryA(szWin, sizeof(szWin)));
    ASSERT_NE(0u, GetCurrentDirectoryA(sizeof(szCur), szCur));
    const std::string strWinIni = std::string(szWin) + "\\engine.ini";
    ASSERT_TRUE(harness::WriteFileBytes(
        strWinIni, "[EngineID]\r\ndwEngIDs=1\r\n[Path]\r\nENG=C:\\FromWindows\r\n"));
    WriteIni("[EngineID]\r\ndwEngIDs=2\r\n[Path]\r\nENG=C:\\FromCurrent\r\n");
    ASSERT_TRUE(SetCurrentDirectoryA(harness::TestDir().c_str()));
    for (const char* pszName : {"engine.ini", ".\\engine.ini"})
    {
        SCOPED_TRACE(pszName);
        EXPECT_EQ(0, Run(std::string("/PROD:P /PATH:") + pszName));
        EXPECT_EQ("C:\\FromCurrent", m_strPath);
        EXPECT_EQ(2u, g_dwEngIDs);
    }
    SetCurrentDirectoryA(szCur);
    DeleteFileA(strWinIni.c_str());
}

TEST_F(ConfigMode, Failures)
{
    EXPECT_EQ(-1, Run("/PROD:P"));
    EXPECT_EQ("Orvane: missing Ini file name[/PROD:P]\n", LastRunMessages().back());

    std::string strMissing = harness::TestDir() + "\\none.ini";
    EXPECT_EQ(-1, Run("/PROD:P /PATH:" + strMissing));
    EXPECT_EQ("Orvane: Can't find ini file [" + strMissing + "]\n", LastRunMessages().back());

    std::string strIni = WriteIni("[EngineID]\r\ndwEngIDs=1\r\n[Path]\r\nENG=\r\n");
    EXPECT_EQ(-1, Run("/PROD:P /PATH:" + strIni));
    EXPECT_EQ("Orvane: Engine path not found in .ini file\n", LastRunMessages().back());

    // A directory that would not fit the engine path is refused, not cut.
    std::string strLong = "C:\\" + std::string(300, 'd');
    strIni = WriteIni("[Path]\r\nENG=" + strLong + "\r\n");
    EXPECT_EQ(-1, Run("/PROD:P /PATH:" + strIni));
    EXPECT_EQ("", m_strPath);
    EXPECT_EQ("Orvane: Engine path in .ini file too long [303 characters], at most 259 are "
              "accepted\n",
              LastRunMessages().back());

    // 259 characters fit.
    std::string strFits = "C:\\" + std::string(256, 'd');
    strIni = WriteIni("[Path]\r\nENG=" + strFits + "\r\n");
    EXPECT_EQ(0, Run("/PROD:P /PATH:" + strIni));
    EXPECT_EQ(strFits, m_strPath);
}

TEST_F(CmdLine, ExtensionTest)
{
    struct
    {
        const char* pszPath;
        const char* pszExt;
        int nResult;
    } cases[] = {
        {"C:\\Eng\\setup.Ini", ".INI", -1},
        {"C:\\Eng\\setup.INI", ".INI", -1},
        {"C:\\Eng.ini\\sub", "", 0},
        {"C:\\Eng\\a.b.txt", ".TXT", 0},
        {"", "", 0},
        {"C:/x/y.iNi", ".INI", -1},
        {"C:\\Eng\\name.ini2", ".INI2", 0},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszPath);
        EXPECT_EQ(c.nResult, CheckPathExtension(c.pszPath));
        std::vector<std::string> msgs = LastRunMessages();
        std::string strLine =
            std::string("Orvane: szEngPath [") + c.pszPath + "] ext [" + c.pszExt + "]\n";
        if (c.nResult == 0)
        {
            EXPECT_EQ(strLine, msgs.back());
        }
        else
        {
            ASSERT_GE(msgs.size(), 2u);
            EXPECT_EQ(strLine, msgs[msgs.size() - 2]);
            EXPECT_EQ("Orvane: Invalid ScanEngine path, Please check the usage\n", msgs.back());
        }
    }
    g_bCfgMode = 1;
    EXPECT_EQ(0, CheckPathExtension("C:\\Eng\\setup.ini"));
}

TEST(ArgumentText, ProgramNameAndFollowingBlanksAreRemoved)
{
    EXPECT_STREQ("/PROD:A", GetArgumentText("\"C:\\Program Files\\Pelmora.exe\" /PROD:A"));
    EXPECT_STREQ("/PROD:A ", GetArgumentText("Pelmora.exe \t\r /PROD:A "));
    EXPECT_STREQ("", GetArgumentText("Pelmora.exe"));
    EXPECT_STREQ("", GetArgumentText("\"C:\\a b\\Pelmora.exe\"   "));
    EXPECT_STREQ("x", GetArgumentText("\"C:\\a b\\Pel\"mora.exe x"));
    EXPECT_STREQ("", GetArgumentText(""));
}

} // namespace
