// The same first install and update of the sample package on every platform Wine can report:
// the environment in C:\AUTOEXEC.BAT (95, 98), the ME key or the NT key; Probit.exe or the
// removal of the 9x-only files; WININIT.INI or delayed moves for a file in use; and the restart.
#include "FlowSupport.h"

#include <algorithm>
#include <string>
#include <vector>

using namespace flow;
using harness::HasMessage;
using harness::LastRunMessages;
using harness::RunOptions;

namespace
{

class PlatformFlow : public FlowTest
{
};

TEST_F(PlatformFlow, FirstInstallUpdateAndRestartOnEveryPlatform)
{
    REQUIRE_WINE();
    std::string strPackage = SamplePackage("pkg");
    std::string strNewPackage = NewerOskaPackage("newpkg");
    struct
    {
        const char* pszWindows;
        PlatformGroup group;
        const char* pszLine; // the platform's log line, nullptr for none
    } cases[] = {
        {"win95", Group9x, "Orvane: GetCurrentOSType: OSID_W95 [1]\n"},
        {"win98", Group9x, "Orvane: GetCurrentOSType: OSID_W98 [2]\n"},
        {"winme", GroupMe, "Orvane: GetCurrentOSType: OSID_WME [6]\n"},
        {"nt351", GroupNt, "Orvane: GetCurrentOSType: OSID_NT351 [3]\n"},
        {"nt40", GroupNt, "Orvane: GetCurrentOSType: OSID_NT4 [4]\n"},
        {"win2k", GroupNt, "Orvane: GetCurrentOSType: OSID_W2K [5]\n"},
        {"winxp", GroupNt, "Orvane: GetCurrentOSType: OSID_W2K [5]\n"},
        {"win10", GroupNt, nullptr},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszWindows);
        harness::ResetState();
        harness::SetMeEnvironmentKey(c.group == GroupMe);
        SetRecordView(c.pszWindows);
        if (c.group != GroupNt)
            RefuseDelayedMoves();
        bool bAutoexec;
        std::string strAutoexec = harness::ReadFileBytes("C:\\AUTOEXEC.BAT", &bAutoexec);
        std::string strWinInit = harness::ReadFileBytes(harness::WinInitPath());
        std::string strEng = harness::TestDir() + "\\" + c.pszWindows;
        RunOptions opts;
        opts.strWindows = c.pszWindows;

        // First install.
        opts.strCurDir = strPackage;
        EXPECT_EQ(0u, harness::RunPelmora("/PROD:A /PATH:" + strEng, opts));
        std::vector<std::string> msgs = LastRunMessages();
        if (c.pszLine)
        {
            EXPECT_TRUE(HasMessage(msgs, c.pszLine));
        }
        ASSERT_FALSE(msgs.empty());
        EXPECT_EQ(s_szEnd, msgs.back());
        EXPECT_EQ(ExpectedEngineFiles(3, c.group), DirNames(strEng));
        std::string strShort = harness::ShortName(strEng);
        std::string str;
        switch (c.group)
        {
        case GroupNt:
            EXPECT_TRUE(HasMessage(msgs, "Orvane: Set AVENGINE - WNT+\n"));
            EXPECT_EQ(strShort, EnvStr(s_szNtEnvKey, "AVENGINE"));
            EXPECT_EQ(m_strPathBefore + ";" + strShort, EnvStr(s_szNtEnvKey, "PATH"));
            EXPECT_EQ(strAutoexec, harness::ReadFileBytes("C:\\AUTOEXEC.BAT"));
            break;
        case GroupMe:
            EXPECT_TRUE(HasMessage(msgs, "Orvane: Set AVENGINE - WME\n"));
            EXPECT_EQ(strShort, EnvStr(s_szMeEnvKey, "AVENGINE"));
            EXPECT_EQ(";" + strShort, EnvStr(s_szMeEnvKey, "PATH"));
            EXPECT_FALSE(EnvValue(s_szNtEnvKey, "AVENGINE", &str)) << str;
            EXPECT_EQ(strAutoexec, harness::ReadFileBytes("C:\\AUTOEXEC.BAT"));
            break;
        case Group9x:
            EXPECT_TRUE(HasMessage(msgs, "Orvane: Set AVENGINE - W9X\n"));
            EXPECT_FALSE(EnvValue(s_szNtEnvKey, "AVENGINE", &str)) << str;
            EXPECT_EQ(m_strPathBefore, EnvStr(s_szNtEnvKey, "PATH"));
            if (!bAutoexec)
            {
                EXPECT_EQ("SET AVENGINE=" + strShort + "\r\n" + strShort +
                              "\\PROBIT.EXE\r\nPATH=" + strShort,
                          harness::ReadFileBytes("C:\\AUTOEXEC.BAT"));
            }
            else
            {
                EXPECT_NE(std::string::npos, harness::ReadFileBytes("C:\\AUTOEXEC.BAT")
                                                 .find("SET AVENGINE=" + strShort + "\r\n"));
            }
            // The boot-time scanner is the OSKA section's Morcmd.exe.
            EXPECT_TRUE(SameContent(strEng + "\\Morcmd.exe", strEng + "\\Probit.exe"));
            break;
        }

        // Update by a second product with a newer OSKA DLL, the installed one in use.
        std::string strTarget = strEng + "\\Osk32dll.dll";
        HeldFile held(strTarget);
        ASSERT_TRUE(held.IsHeld());
        opts.strCurDir = strNewPackage;
        EXPECT_EQ(2u, harness::RunPelmora("/PROD:B", opts));
        msgs = LastRunMessages();
        ASSERT_GE(msgs.size(), 2u);
        EXPECT_EQ("Orvane: Install completes, but NEED_REBOOT\n", msgs[msgs.size() - 2]);
        EXPECT_EQ(s_szEnd, msgs.back());
        EXPECT_EQ("|A|B|", RecStr(s_szKey, "ProductList"));
        EXPECT_EQ(2u, RecDword("ReferenceCount"));
        EXPECT_TRUE(SameContent(strNewPackage + "\\Osk32dll.dll", strTarget + "000"));
        EXPECT_EQ(ExpectedEngineFiles(3, c.group).size() + 3, DirNames(strEng).size())
            << "the DLL and its signature pair staged";
        std::string strShortTarget = harness::ShortUpper(strTarget);
        std::string strShortStaged = harness::ShortUpper(strTarget + "000");
        if (c.group == GroupNt)
        {
            EXPECT_TRUE(HasMessage(msgs, "RemoveFileOnReboot: MoveFileEx\n"));
            std::vector<std::string> pending = harness::ReadPendingRenames();
            std::vector<std::string> expected = {"\\??\\" + strShortTarget, "",
                                                 "\\??\\" + strShortStaged,
                                                 "\\??\\" + strShortTarget};
            EXPECT_TRUE(std::search(pending.begin(), pending.end(), expected.begin(),
                                    expected.end()) != pending.end());
            EXPECT_EQ(strWinInit, harness::ReadFileBytes(harness::WinInitPath()));
        }
        else
        {
            EXPECT_TRUE(HasMessage(msgs, "RemoveFileOnReboot: Win9x\n"));
            std::string strRename = harness::ReadFileBytes(harness::WinInitPath());
            EXPECT_EQ(0u, strRename.find("[Rename]\r\n")) << strRename;
            EXPECT_NE(std::string::npos,
                      strRename.find("NUL=" + strShortTarget + "\r\n" + strShortTarget + "=" +
                                     strShortStaged + "\r\n"))
                << strRename;
        }

        // The restart puts the new DLL in place.
        held.Release();
        ASSERT_TRUE(harness::Restart());
        EXPECT_TRUE(SameContent(strNewPackage + "\\Osk32dll.dll", strTarget));
        EXPECT_FALSE(harness::FileExists(strTarget + "000"));
        EXPECT_EQ(ExpectedEngineFiles(3, c.group), DirNames(strEng));
    }
}

} // namespace
