// The engine environment written by a real first install, with the platform that Wine reports
// choosing the key: Windows ME (with its key present) and an NT-family version; on 95 and 98 the
// PATH line of C:\AUTOEXEC.BAT.
#include "Harness.h"
#include "Restart.h"

#include <string>
#include <vector>

namespace
{

const char s_szNtKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
const char s_szMeKey[] = "SYSTEM\\CurrentControlSet\\Control\\SessionManager\\Environment";

class EnvironmentRun : public harness::PelmoraTest
{
};

std::string ReadText(const char* pszKey, const char* pszName, DWORD* pdwType)
{
    std::string s;
    *pdwType = REG_NONE;
    if (!harness::ReadMachineValue(pszKey, pszName, pdwType, &s))
        return "(missing)";
    while (!s.empty() && s.back() == '\0')
        s.pop_back();
    return s;
}

TEST_F(EnvironmentRun, FirstInstallPublishesTheEngineInThePlatformsKey)
{
    REQUIRE_WINE();
    const struct
    {
        const char* pszWindows;
        bool bMe;
    } cases[] = {{"winme", true}, {"winxp", false}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszWindows);
        harness::ResetState();
        harness::SetMeEnvironmentKey(c.bMe);
        DWORD dwNtPathType;
        const std::string strNtPath = ReadText(s_szNtKey, "PATH", &dwNtPathType);
        DWORD dwType;
        const std::string strNtAvEngine = ReadText(s_szNtKey, "AVENGINE", &dwType);
        if (c.bMe)
            harness::SetMachineString(s_szMeKey, "PATH", "C:\\WINDOWS;C:\\WINDOWS\\COMMAND");
        const char* pszKey = c.bMe ? s_szMeKey : s_szNtKey;
        const std::string strBefore = ReadText(pszKey, "PATH", &dwType);

        const std::string strEngDir = harness::TestDir() + "\\Shared Engine " + c.pszWindows;
        harness::RunOptions opts;
        opts.strWindows = c.pszWindows;
        opts.strCurDir = harness::MakePackageDir("pkg", true);
        ASSERT_EQ(0u, harness::RunPelmora("/PROD:A /PATH:\"" + strEngDir + "\"", opts));

        char szShort[MAX_PATH];
        DWORD cch = GetShortPathNameA(strEngDir.c_str(), szShort, sizeof(szShort));
        ASSERT_TRUE(cch > 0 && cch < sizeof(szShort)) << GetLastError();
        const std::string strShort = szShort;
        ASSERT_NE(strEngDir, strShort);
        const std::string strAfter = strBefore + ";" + strShort;

        EXPECT_EQ(strShort, ReadText(pszKey, "AVENGINE", &dwType));
        EXPECT_EQ((DWORD)REG_SZ, dwType);
        EXPECT_EQ(strAfter, ReadText(pszKey, "PATH", &dwType));
        if (c.bMe)
        {
            EXPECT_EQ((DWORD)REG_SZ, dwType);
            EXPECT_EQ(strNtPath, ReadText(s_szNtKey, "PATH", &dwType));
            EXPECT_EQ(dwNtPathType, dwType);
            EXPECT_EQ(strNtAvEngine, ReadText(s_szNtKey, "AVENGINE", &dwType));
        }
        else
        {
            EXPECT_EQ(dwNtPathType, dwType);
        }

        const std::vector<std::string> msgs = harness::LastRunMessages();
        const int n = harness::FindPrefix(msgs, "Orvane: Set AVENGINE - ");
        ASSERT_GE(n, 0);
        ASSERT_LT(n + 3, (int)msgs.size());
        EXPECT_EQ(c.bMe ? "Orvane: Set AVENGINE - WME\n" : "Orvane: Set AVENGINE - WNT+\n",
                  msgs[n]);
        EXPECT_EQ("Add Engine path [" + strShort + (c.bMe ? "]..\n" : "]\n"), msgs[n + 1]);
        EXPECT_EQ("Env [" + strBefore + "]\n", msgs[n + 2]);
        EXPECT_EQ("The Env path is [" + strAfter + "]\n", msgs[n + 3]);
    }
}

// The text without the lines the program owns (its AVENGINE and boot-time scanner lines).
std::string WithoutOwnLines(const std::string& strText)
{
    std::string strOut;
    for (size_t i = 0; i < strText.size();)
    {
        size_t iEnd = strText.find('\n', i);
        iEnd = iEnd == std::string::npos ? strText.size() : iEnd + 1;
        std::string strLine = strText.substr(i, iEnd - i);
        if (strLine.compare(0, 13, "SET AVENGINE=") != 0 &&
            strLine.find("PROBIT.EXE") == std::string::npos)
            strOut += strLine;
        i = iEnd;
    }
    return strOut;
}

// On 95 and 98 the PATH line gets the engine's short path unless it holds it as a whole entry: a
// longer entry that begins with it is another directory. Every other byte of the file stays.
TEST_F(EnvironmentRun, NinetyFivePathLineComparesWholeEntries)
{
    REQUIRE_WINE();
    const std::string strEng = harness::TestDir() + "\\eng";
    CreateDirectoryA(strEng.c_str(), NULL);
    const std::string strShort = harness::ShortName(strEng);
    const struct
    {
        const char* pszLabel;
        std::string strLine; // the PATH line before the install
        bool bAdded;         // the entry is added at its end
    } cases[] = {
        {"inside a longer entry", "PATH C:\\WINDOWS;" + strShort + "\\BIN;C:\\DOS", true},
        {"the start of the last entry", "PATH C:\\WINDOWS;" + strShort + "2", true},
        {"a whole entry", "PATH C:\\WINDOWS;" + strShort + ";C:\\DOS", false},
        {"the first entry", "SET PATH=" + strShort + ";C:\\DOS", false},
    };
    for (const char* pszWindows : {"win98", "win95"})
        for (const auto& c : cases)
        {
            SCOPED_TRACE(std::string(pszWindows) + ", " + c.pszLabel);
            harness::ResetState();
            CreateDirectoryA(strEng.c_str(), NULL);
            const std::string strBefore = "@ECHO OFF\r\n" + c.strLine + "\r\nSET TEMP=C:\\TEMP\r\n";
            ASSERT_TRUE(harness::WriteFileBytes("C:\\AUTOEXEC.BAT", strBefore));
            harness::RunOptions opts;
            opts.strWindows = pszWindows;
            opts.strCurDir = harness::MakePackageDir("pkg", true);
            ASSERT_EQ(0u, harness::RunPelmora("/PROD:A /PATH:" + strEng, opts));

            const std::string strLine = c.bAdded ? c.strLine + ";" + strShort : c.strLine;
            EXPECT_EQ("@ECHO OFF\r\n" + strLine + "\r\nSET TEMP=C:\\TEMP\r\n",
                      WithoutOwnLines(harness::ReadFileBytes("C:\\AUTOEXEC.BAT")));
            EXPECT_EQ(c.bAdded,
                      harness::FindPrefix(harness::LastRunMessages(),
                                          "Orvane: AddMorEngPath9x - the new path [") >= 0);
        }
}

} // namespace
