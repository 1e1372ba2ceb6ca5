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

// A reset machine for a run as pszWindows, "win2k" or "win98" (delayed moves refused, so the
// requests go to WININIT.INI); true for win98.
bool ResetFor(const char* pszWindows)
{
    const bool b9x = std::string(pszWindows) == "win98";
    harness::ResetState();
    SetRecordView(pszWindows);
    if (b9x)
        RefuseDelayedMoves();
    return b9x;
}

// The whole request to replace the target by the staged copy at the restart, short names upper-
// cased: the deletion and the rename in PendingFileRenameOperations, or their two lines in
// WININIT.INI (b9x).
void ExpectRequested(bool b9x, const std::string& strShortTarget, const std::string& strShortStaged)
{
    if (b9x)
    {
        std::string strRename = harness::ReadFileBytes(harness::WinInitPath());
        EXPECT_NE(std::string::npos, strRename.find("NUL=" + strShortTarget + "\r\n" +
                                                    strShortTarget + "=" + strShortStaged + "\r\n"))
            << strRename;
        return;
    }
    std::vector<std::string> pending = harness::ReadPendingRenames();
    std::vector<std::string> expected = {"\\??\\" + strShortTarget, "", "\\??\\" + strShortStaged,
                                         "\\??\\" + strShortTarget};
    EXPECT_TRUE(std::search(pending.begin(), pending.end(), expected.begin(), expected.end()) !=
                pending.end());
}

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
            ExpectRequested(false, strShortTarget, strShortStaged);
            EXPECT_EQ(strWinInit, harness::ReadFileBytes(harness::WinInitPath()));
        }
        else
        {
            EXPECT_TRUE(HasMessage(msgs, "RemoveFileOnReboot: Win9x\n"));
            std::string strRename = harness::ReadFileBytes(harness::WinInitPath());
            EXPECT_EQ(0u, strRename.find("[Rename]\r\n")) << strRename;
            ExpectRequested(true, strShortTarget, strShortStaged);
        }

        // The restart puts the new DLL in place.
        held.Release();
        ASSERT_TRUE(harness::Restart());
        EXPECT_TRUE(SameContent(strNewPackage + "\\Osk32dll.dll", strTarget));
        EXPECT_FALSE(harness::FileExists(strTarget + "000"));
        EXPECT_EQ(ExpectedEngineFiles(3, c.group), DirNames(strEng));
    }
}

// A first install over an engine DLL in use whose signature files are not installed yet: the DLL
// and both files of its pair are staged, and the restart puts every one of them in place,
// although the pair's targets had no short name to be scheduled under.
TEST_F(PlatformFlow, FirstInstallOverADllInUseBringsItsWholePairAtTheRestart)
{
    REQUIRE_WINE();
    std::string strPackage = SamplePackage("pkg");
    for (const char* pszWindows : {"win2k", "win98"})
    {
        SCOPED_TRACE(pszWindows);
        const bool b9x = ResetFor(pszWindows);
        std::string strEng = harness::TestDir() + "\\" + pszWindows;
        ASSERT_TRUE(CreateDirectoryA(strEng.c_str(), NULL));
        ASSERT_TRUE(
            CopyFileA(VersionDll("1.0.0.0").c_str(), (strEng + "\\Brine.dll").c_str(), FALSE));
        HeldFile held(strEng + "\\Brine.dll");
        ASSERT_TRUE(held.IsHeld());

        RunOptions opts;
        opts.strWindows = pszWindows;
        opts.strCurDir = strPackage;
        EXPECT_EQ(0u, harness::RunPelmora("/PROD:A /PATH:" + strEng, opts));
        std::vector<std::string> msgs = LastRunMessages();
        ASSERT_FALSE(msgs.empty());
        EXPECT_EQ(s_szEnd, msgs.back());
        const char* const apszStaged[] = {"Brine.dll", "Brin.da1", "Brin.dat"};
        for (const char* psz : apszStaged)
        {
            EXPECT_TRUE(SameContent(strPackage + "\\" + psz, strEng + "\\" + psz + "000")) << psz;
        }
        for (const char* psz : {"Brin.da1", "Brin.dat"})
        {
            EXPECT_FALSE(harness::FileExists(strEng + "\\" + psz)) << psz;
            EXPECT_EQ(1, CountPrefix(msgs, std::string("RemoveFileOnReboot: from pszExisting [") +
                                               harness::ShortUpper(strEng + "\\" + psz + "000")))
                << psz;
        }

        held.Release();
        ASSERT_TRUE(harness::Restart());
        for (const char* psz : apszStaged)
        {
            EXPECT_TRUE(SameContent(strPackage + "\\" + psz, strEng + "\\" + psz)) << psz;
        }
        EXPECT_EQ(ExpectedEngineFiles(3, b9x ? Group9x : GroupNt), DirNames(strEng));
    }
}

// Another program's request for a file whose name begins with the engine DLL's name does not
// count as the DLL's own: the new DLL is scheduled with its signature pair, and after the
// restart it stands beside them.
TEST_F(PlatformFlow, RequestForAnotherFileDoesNotHideTheEngineDll)
{
    REQUIRE_WINE();
    std::string strPackage = SamplePackage("pkg");
    std::string strNewPackage = NewerOskaPackage("newpkg");
    for (const char* pszWindows : {"win2k", "win98"})
    {
        SCOPED_TRACE(pszWindows);
        const bool b9x = ResetFor(pszWindows);
        std::string strEng = harness::TestDir() + "\\" + pszWindows;
        RunOptions opts;
        opts.strWindows = pszWindows;
        opts.strCurDir = strPackage;
        ASSERT_EQ(0u, harness::RunPelmora("/PROD:A /PATH:" + strEng, opts));

        std::string strTarget = strEng + "\\Osk32dll.dll";
        std::string strShortTarget = harness::ShortUpper(strTarget);
        std::string strOther = strShortTarget + ".OLD";
        std::string strWinInitBefore = "[Rename]\r\nNUL=" + strOther + "\r\n";
        if (b9x)
            ASSERT_TRUE(harness::WriteFileBytes(harness::WinInitPath(), strWinInitBefore));
        else
            harness::WritePendingRenames(
                {L"\\??\\" + std::wstring(strOther.begin(), strOther.end()), L""});

        HeldFile held(strTarget);
        ASSERT_TRUE(held.IsHeld());
        opts.strCurDir = strNewPackage;
        EXPECT_EQ(2u, harness::RunPelmora("/PROD:A", opts));
        std::vector<std::string> msgs = LastRunMessages();
        std::string strShortStaged = harness::ShortUpper(strTarget + "000");
        EXPECT_FALSE(HasMessage(msgs, "Orvane: file " + strShortTarget + " is already in reg\n"));
        EXPECT_FALSE(HasMessage(msgs, "Orvane: file " + strShortTarget + " is in wininit\n"));
        ExpectRequested(b9x, strShortTarget, strShortStaged);

        held.Release();
        ASSERT_TRUE(harness::Restart());
        EXPECT_TRUE(SameContent(strNewPackage + "\\Osk32dll.dll", strTarget));
        for (const char* psz : {"Osksig.da0", "Osksig.dat"})
        {
            EXPECT_TRUE(SameContent(strNewPackage + "\\" + psz, strEng + "\\" + psz)) << psz;
        }
        EXPECT_EQ(ExpectedEngineFiles(3, b9x ? Group9x : GroupNt), DirNames(strEng));
    }
}

} // namespace
