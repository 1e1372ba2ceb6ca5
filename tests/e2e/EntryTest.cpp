// Exit codes and log lines of the real process for the whole dispatch.
#include "Harness.h"

#include <string>
#include <vector>
#include <regex>
#include <string.h>

using harness::FindMessage;
using harness::HasMessage;
using harness::LastRunMessages;
using harness::RunOptions;
using harness::RunPelmora;

namespace
{

const std::string s_strEnd = "------------------- End -----------------------\n\n";
const std::string s_strInvalid = "Orvane: Invalid argument, Please check the usage \n";

class Entry : public harness::PelmoraTest
{
  protected:
    RunOptions InPackage(bool bWithManifest)
    {
        RunOptions opts;
        opts.strCurDir = harness::MakePackageDir("pkg", bWithManifest);
        return opts;
    }
};

struct BadArgCase
{
    const char* pszText;
    const char* pszReason; // the log line before the bad-argument line, or nullptr
};

TEST_F(Entry, BadArgumentsEndWithCode5AndTheirReason)
{
    // Silent: no dialog and no message box, the reason, the bad-argument line, the End banner.
    // The manifest is missing: bad arguments give 5, not 4.
    const BadArgCase cases[] = {
        {"C:\\Some Dir", "Orvane: missing product name\n"},
        {"/1", nullptr},
        {"/2 /3", nullptr},
        {"/CX /PROD:A", nullptr},
        {"/C", nullptr},
        {"/PROD:A:B", "Orvane: invalid product name [A:B]\n"},
        {"/PROD:A /PATH:C:\\a\"b", "Orvane: invalie path/ini file [C:\\a\"b]\n"},
        {"/PROD:A /PATH:", "Orvane: missing path/ini file\n"},
        {"/PROD:A /PATH:C:\\Eng\\setup.Ini",
         "Orvane: Invalid ScanEngine path, Please check the usage\n"},
        {"/CFG /PROD:A", "Orvane: missing Ini file name[/PROD:A]\n"},
        {"/cFg /PROD:A /PATH:C:\\none\\x.ini", "Orvane: Can't find ini file [C:\\none\\x.ini]\n"},
    };
    for (const BadArgCase& c : cases)
    {
        SCOPED_TRACE(c.pszText);
        harness::ResetState();
        EXPECT_EQ(5u, RunPelmora(c.pszText, InPackage(false)));
        std::vector<std::string> msgs = LastRunMessages();
        ASSERT_GE(msgs.size(), 4u);
        EXPECT_EQ("Orvane: START!!\n", msgs[0]);
        EXPECT_EQ(std::string("Orvane: The arg: [") + c.pszText + "]\n", msgs[1]);
        EXPECT_EQ(s_strEnd, msgs.back());
        EXPECT_EQ(s_strInvalid, msgs[msgs.size() - 2]);
        if (c.pszReason)
        {
            EXPECT_EQ(c.pszReason, msgs[msgs.size() - 3]);
        }
        EXPECT_FALSE(HasMessage(msgs, "Orvane: Display usage only\n"));
        EXPECT_EQ(-1, harness::FindPrefix(msgs, "Orvane: Check file list from ["));
    }
}

TEST_F(Entry, SlashCNotFollowedByFGNeverReachesTheParser)
{
    EXPECT_EQ(5u, RunPelmora("/cfx /PROD:A", InPackage(true)));
    std::vector<std::string> msgs = LastRunMessages();
    EXPECT_EQ((std::vector<std::string>{"Orvane: START!!\n", "Orvane: The arg: [/cfx /PROD:A]\n",
                                        "Orvane: Silent Mode\n", s_strInvalid, s_strEnd}),
              msgs);
}

// The mode is the longest switch that the text begins with, in any mix of case: "/CHECK" and
// "/CFG" (with whatever follows them) over the "/C" that is refused, any switch over a text that
// is only parsed. Each mode's first line follows the silent-mode line.
TEST_F(Entry, TheLongestModeSwitchAtTheStartSelectsTheMode)
{
    const struct
    {
        const char* pszText;
        const char* pszFirstLine;
        DWORD dwExit;
    } cases[] = {
        {"/cHeCkEd", "Orvane: Agr: CHECK\n", 4},
        {"/CFGX /PROD:A", "Orvane: Agr: CFG\n", 5},
        {"/Remove", "Orvane: Agr: REMOVE\n", 5},
        {"/Ch /PROD:A", s_strInvalid.c_str(), 5},
        {"/PROD:A /CHECK", "Orvane: no /NS value, running silently\n", 4},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszText);
        harness::ResetState();
        EXPECT_EQ(c.dwExit, RunPelmora(c.pszText, InPackage(false)));
        std::vector<std::string> msgs = LastRunMessages();
        ASSERT_GE(msgs.size(), 5u);
        EXPECT_EQ("Orvane: Silent Mode\n", msgs[2]);
        EXPECT_EQ(c.pszFirstLine, msgs[3]);
        EXPECT_EQ(s_strEnd, msgs.back());
    }
}

TEST_F(Entry, ConfigurationModeInAnyCase)
{
    RunOptions opts = InPackage(true);
    std::string strIni = opts.strCurDir + "\\suite.ini";
    // The run goes on to install there: the directory is the test's own.
    std::string strEng = opts.strCurDir + "\\Eng\\a.ini";
    harness::WriteFileBytes(strIni, "[EngineID]\r\ndwEngIDs=1\r\n[Path]\r\nENG=" + strEng + "\r\n");
    std::string strText = "/cFg /2 /PROD:suite /PATH:" + strIni;
    DWORD dwExit = RunPelmora(strText, opts);
    std::vector<std::string> msgs = LastRunMessages();
    EXPECT_NE(5u, dwExit);
    EXPECT_NE(4u, dwExit);
    int n = FindMessage(msgs, "Orvane: Agr: CFG\n");
    ASSERT_EQ(3, n);
    EXPECT_EQ("Orvane: Silent Mode\n", msgs[2]);
    EXPECT_EQ("Orvane: CFG \n", msgs[4]);
    EXPECT_TRUE(HasMessage(msgs, "Orvane: dwEngIDs from ini file [1]\n"));
    // In configuration mode an engine directory ending in .ini passes the extension test.
    EXPECT_TRUE(HasMessage(msgs, "Orvane: szEngPath [" + strEng + "] ext [.INI]\n"));
    EXPECT_TRUE(HasMessage(msgs, "Orvane: The szEngPath[" + strEng + "]\n"));
    EXPECT_FALSE(HasMessage(msgs, "Orvane: BRIN_ONLY -  g_dwEngIDs[2]\n"));
}

TEST_F(Entry, DefaultModeAndParsedRunsReachTheManifestTest)
{
    struct
    {
        const char* pszText;
        std::vector<std::string> expected; // in this order, among the run's lines
    } cases[] = {
        {"",
         {"Orvane: without engine type argument set default to BOTH_OSKA_BRIN -  szEngPath[] "
          "lpCmdLine[]\n",
          "Orvane: No arg. set defalt\n", "Orvane: szProductName []\n",
          "Orvane: szEngPath [] ext []\n", "Orvane: The szEngPath[]\n"}},
        {"/PROD:Suite /PATH:C:/Dirs/Install/Bin",
         {"Orvane: Silent Mode\n", "Orvane: no /NS value, running silently\n",
          "Orvane: OSKA_ONLY -  g_dwEngIDs[1]\n", "Orvane: BOTH_OSKA_BRIN -  g_dwEngIDs[3]\n",
          "Orvane: product name [SUITE]\n", "Orvane: the path/ini file [C:/Dirsnstallin]\n",
          "Orvane: szProductName [SUITE]\n", "Orvane: The szEngPath[C:/Dirsnstallin]\n"}},
        {"/PROD:A /PATH:\"C:\\Program Files\\My Eng\"",
         {"Orvane: the path/ini file [C:\\Program Files\\My Eng]\n",
          "Orvane: szEngPath [C:\\Program Files\\My Eng] ext []\n"}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszText);
        harness::ResetState();
        RunOptions opts = InPackage(true);
        DWORD dwExit = RunPelmora(c.pszText, opts);
        EXPECT_NE(4u, dwExit);
        EXPECT_NE(5u, dwExit);
        std::vector<std::string> msgs = LastRunMessages();
        int nLast = -1;
        for (const std::string& s : c.expected)
        {
            int n = FindMessage(msgs, s);
            EXPECT_GT(n, nLast) << "missing or out of order: " << s;
            nLast = n;
        }
        EXPECT_TRUE(HasMessage(msgs, "Orvane: Check file list from [" + opts.strCurDir +
                                         "\\FileList.ini]\n"));
        EXPECT_FALSE(HasMessage(msgs, s_strInvalid));
    }
    // The run went on to install the (empty) package there.
    harness::DeleteTree("C:\\Program Files\\My Eng");
}

TEST_F(Entry, MissingManifestEndsWithCode4)
{
    RunOptions opts = InPackage(false);
    EXPECT_EQ(4u, RunPelmora("/PROD:A /PATH:C:\\Eng", opts));
    std::vector<std::string> msgs = LastRunMessages();
    std::string strList = opts.strCurDir + "\\FileList.ini";
    ASSERT_GE(msgs.size(), 3u);
    EXPECT_EQ("Orvane: Check file list from [" + strList + "]\n", msgs[msgs.size() - 3]);
    EXPECT_EQ("Orvane: Missing Filelist at [" + strList + "]!!\n", msgs[msgs.size() - 2]);
    EXPECT_EQ(s_strEnd, msgs.back());

    // A drive root as current directory gives two backslashes before the name.
    harness::ResetState();
    opts.strCurDir = "C:\\";
    if (!harness::FileExists("C:\\FileList.ini"))
    {
        EXPECT_EQ(4u, RunPelmora("", opts));
        EXPECT_TRUE(
            HasMessage(LastRunMessages(), "Orvane: Missing Filelist at [C:\\\\FileList.ini]!!\n"));
    }
}

TEST_F(Entry, OverlongArgumentTextIsRefusedWithCode5)
{
    std::string strText = "/PROD:A /PATH:C:\\" + std::string(400, 'x');
    EXPECT_EQ(5u, RunPelmora(strText, InPackage(true)));
    std::vector<std::string> msgs = LastRunMessages();
    ASSERT_GE(msgs.size(), 3u);
    EXPECT_EQ("Orvane: argument text too long [417 characters], at most 259 are accepted\n",
              msgs[msgs.size() - 3]);
    EXPECT_EQ(s_strInvalid, msgs[msgs.size() - 2]);

    // An argument text far beyond any buffer (the platform allows 32 KiB) is refused the same.
    harness::ResetState();
    strText = "/PROD:A /PATH:C:\\" + std::string(30000, 'y');
    EXPECT_EQ(5u, RunPelmora(strText, InPackage(true)));
    EXPECT_EQ(s_strEnd, LastRunMessages().back());
}

TEST_F(Entry, RunsAppendToTheLogByteForByte)
{
    RunOptions opts = InPackage(false);
    ASSERT_EQ(4u, RunPelmora("", opts));
    ASSERT_EQ(4u, RunPelmora("", opts));
    std::string strList = opts.strCurDir + "\\FileList.ini";
    std::string strEscaped;
    for (char c : strList)
    {
        if (strchr("\\.[]()", c))
            strEscaped += '\\';
        strEscaped += c;
    }
    const std::string t = "< \\d\\d:\\d\\d:\\d\\d > ";
    std::string strRun =
        "\r\n----------------------  Start  ------------------- \r\n"
        "< \\d\\d/\\d\\d/\\d{4}  \\d\\d:\\d\\d:\\d\\d > \r\n" +
        t + "Orvane: START!!\r\n" + t + "Orvane: The arg: \\[\\]\r\n" + t +
        "Orvane: without engine type argument set default to BOTH_OSKA_BRIN -  szEngPath\\[\\] "
        "lpCmdLine\\[\\]\r\n" +
        t + "Orvane: No arg\\. set defalt\r\n" + t + "Orvane: szProductName \\[\\]\r\n" + t +
        "Orvane: szEngPath \\[\\] ext \\[\\]\r\n" + t + "Orvane: The szEngPath\\[\\]\r\n(" + t +
        "Orvane: GetCurrentOSType: [^\r\n]*\r\n)?" + t + "Orvane: Check file list from \\[" +
        strEscaped + "\\]\r\n" + t + "Orvane: Missing Filelist at \\[" + strEscaped + "\\]!!\r\n" +
        t + "------------------- End -----------------------\r\n\r\n";
    std::string strLog = harness::ReadLog();
    EXPECT_TRUE(std::regex_match(strLog, std::regex(strRun + strRun))) << strLog;
}

} // namespace
