// The removal flow of the real process (/REMOVE): two products release the engine one after the
// other on the NT family and on 98, a DLL in use deleted by the restart, an install before that
// restart, records whose engine must stay (an unknown count, an r80 installation), and the
// arguments the mode refuses.
#include "FlowSupport.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using namespace flow;
using harness::HasMessage;
using harness::LastRunMessages;
using harness::RunOptions;

namespace
{

const char s_szRemoved[] = "Orvane: Remove completes, not to reboot\n";
const char s_szRemovedReboot[] = "Orvane: Remove completes, but NEED_REBOOT\n";
const char s_szKept[] = "Orvane: Engine still referenced, nothing removed\n";
const char s_szNoRecord[] = "Orvane: No ScanEngine record, nothing to remove\n";
const char s_szUserAutoexec[] = "@ECHO OFF\r\nREM the user's own lines\r\n"
                                "PATH=C:\\WINDOWS;C:\\WINDOWS\\COMMAND\r\n"
                                "SET TEMP=C:\\TEMP\r\n";

class RemoveFlow : public FlowTest
{
  protected:
    void SetUp() override
    {
        FlowTest::SetUp();
        m_strPackage = SamplePackage("pkg");
        m_strEng = harness::TestDir() + "\\eng";
    }
    // A reset machine for pszWindows ("winxp" or "win98": delayed moves refused, the user's
    // AUTOEXEC.BAT).
    void ResetFor(const char* pszWindows)
    {
        m_strWindows = pszWindows;
        m_b9x = m_strWindows == "win98";
        harness::ResetState();
        harness::DeleteTree(m_strEng);
        SetRecordView(pszWindows);
        if (m_b9x)
        {
            RefuseDelayedMoves();
            ASSERT_TRUE(harness::WriteFileBytes("C:\\AUTOEXEC.BAT", s_szUserAutoexec));
        }
    }
    DWORD Run(const std::string& strText, const std::string& strPackage = std::string())
    {
        RunOptions opts;
        opts.strWindows = m_strWindows;
        opts.strCurDir = strPackage.empty() ? m_strPackage : strPackage;
        return harness::RunPelmora(strText, opts);
    }
    std::string LastLine()
    {
        std::vector<std::string> msgs = LastRunMessages();
        EXPECT_GE(msgs.size(), 2u);
        EXPECT_EQ(s_szEnd, msgs.back());
        return msgs.size() >= 2 ? msgs.end()[-2] : std::string();
    }
    // What the engine leaves in the environment, as the install wrote it.
    std::string Environment()
    {
        if (m_b9x)
            return harness::ReadFileBytes("C:\\AUTOEXEC.BAT");
        return EnvStr(s_szNtEnvKey, "PATH") + "|" + EnvStr(s_szNtEnvKey, "AVENGINE");
    }
    PlatformGroup Group() const
    {
        return m_b9x ? Group9x : GroupNt;
    }

    std::string m_strPackage, m_strEng, m_strWindows;
    bool m_b9x = false;
};

// Install A, install B, remove A, remove B: the engine stays for B, then everything of ours goes
// and every byte of the user's stays.
TEST_F(RemoveFlow, TwoProductsReleaseTheEngineAndTheLastRemovesEverythingOfOurs)
{
    REQUIRE_WINE();
    for (const char* pszWindows : {"winxp", "win98"})
    {
        SCOPED_TRACE(pszWindows);
        ResetFor(pszWindows);
        DWORD dwPathType = REG_NONE;
        std::string strPathBefore;
        EnvValue(s_szNtEnvKey, "PATH", &strPathBefore, &dwPathType);

        ASSERT_EQ(0u, Run("/PROD:A /PATH:" + m_strEng));
        ASSERT_EQ(0u, Run("/PROD:B"));
        std::vector<std::string> installed = DirNames(m_strEng);
        ASSERT_EQ(ExpectedEngineFiles(3, Group()), installed);
        std::string strShort = harness::ShortName(m_strEng);

        // The user's own entries after ours, and the files of a scanner and a user.
        std::string strUserEnv;
        if (m_b9x)
        {
            strUserEnv = "SET USER=1\r\n";
            std::string strBatch = harness::ReadFileBytes("C:\\AUTOEXEC.BAT");
            ASSERT_NE(std::string::npos, strBatch.find(";" + strShort + "\r\n")) << strBatch;
            ASSERT_TRUE(harness::WriteFileBytes("C:\\AUTOEXEC.BAT", strBatch + strUserEnv));
        }
        else
        {
            strUserEnv = ";C:\\USER2";
            std::string strPath = EnvStr(s_szNtEnvKey, "PATH");
            ASSERT_EQ(strPathBefore + ";" + strShort, strPath);
            harness::SetMachineValue(s_szNtEnvKey, "PATH", dwPathType,
                                     (strPath + strUserEnv).c_str(),
                                     (DWORD)(strPath.size() + strUserEnv.size() + 1));
        }
        std::string strEnvAfterInstall = Environment();

        // A removes: its entry and its reference go, nothing else.
        EXPECT_EQ(0u, Run("/REMOVE /PROD:a"));
        EXPECT_EQ(s_szKept, LastLine());
        EXPECT_EQ("|B|", RecStr(s_szKey, "ProductList"));
        EXPECT_EQ(1u, RecDword("ReferenceCount"));
        EXPECT_EQ(installed, DirNames(m_strEng));
        EXPECT_EQ(strEnvAfterInstall, Environment());
        // Removed twice: the second finds A in no list and changes nothing.
        EXPECT_EQ(0u, Run("/REMOVE /PROD:A"));
        EXPECT_TRUE(HasMessage(LastRunMessages(),
                               "Orvane: ProdName[A] not registered, nothing to release\n"));
        EXPECT_EQ("|B|", RecStr(s_szKey, "ProductList"));
        EXPECT_EQ(1u, RecDword("ReferenceCount"));

        ASSERT_TRUE(harness::WriteFileBytes(m_strEng + "\\user.txt", "the user's"));
        ASSERT_TRUE(harness::WriteFileBytes(m_strEng + "\\Logs\\scan.log", "a scanner's log"));
        // An install stopped half way left the markers of its section copies and its work file.
        for (const char* pszName : {"~PMOSKA.TMP", "~PMBRIN.TMP", "~PMCOPY.TMP"})
            ASSERT_TRUE(harness::WriteFileBytes(m_strEng + "\\" + pszName, ""));

        // B held the last reference: the engine goes.
        EXPECT_EQ(0u, Run("/REMOVE /PROD:B"));
        EXPECT_EQ(s_szRemoved, LastLine());
        EXPECT_EQ((std::vector<std::string>{"logs", "user.txt"}), DirNames(m_strEng));
        EXPECT_EQ((std::vector<std::string>{"scan.log"}), DirNames(m_strEng + "\\Logs"));
        EXPECT_FALSE(KeyExists("SOFTWARE\\Quillmark"));
        if (m_b9x)
        {
            EXPECT_EQ(std::string(s_szUserAutoexec) + strUserEnv,
                      harness::ReadFileBytes("C:\\AUTOEXEC.BAT"));
            EXPECT_FALSE(harness::FileExists("C:\\AUTOEXEC.$$$"));
        }
        else
        {
            std::string strPath;
            DWORD dwType = REG_NONE;
            ASSERT_TRUE(EnvValue(s_szNtEnvKey, "PATH", &strPath, &dwType));
            EXPECT_EQ(strPathBefore + strUserEnv, strPath);
            EXPECT_EQ(dwPathType, dwType);
            EXPECT_FALSE(EnvValue(s_szNtEnvKey, "AVENGINE", &strPath));
        }
        std::string strEnvRemoved = Environment();

        // Removed again, by the same product or another: there is no record, nothing changes.
        for (const char* pszText : {"/REMOVE /PROD:B", "/remove /NR /prod:c"})
        {
            EXPECT_EQ(0u, Run(pszText));
            EXPECT_EQ(s_szNoRecord, LastLine());
            EXPECT_EQ((std::vector<std::string>{"logs", "user.txt"}), DirNames(m_strEng));
            EXPECT_EQ(strEnvRemoved, Environment());
            EXPECT_FALSE(KeyExists("SOFTWARE\\Quillmark"));
        }
    }
}

// The last product removed while a scanner holds the engine DLL, over a replacement that an
// update left pending for it: code 2, the replacements go with their staged copies, and the
// restart ends with the DLL gone, not with the staged copy put back in its place.
TEST_F(RemoveFlow, DllInUseOverAPendingReplacementIsDeletedAtTheRestart)
{
    REQUIRE_WINE();
    for (const char* pszWindows : {"winxp", "win98"})
    {
        SCOPED_TRACE(pszWindows);
        ResetFor(pszWindows);
        std::string strDll = m_strEng + "\\Osk32dll.dll";
        ASSERT_EQ(0u, Run("/PROD:A /PATH:" + m_strEng));
        std::string strWinInitBefore = harness::ReadFileBytes(harness::WinInitPath());
        {
            HeldFile held(strDll);
            ASSERT_TRUE(held.IsHeld());
            ASSERT_EQ(2u, Run("/PROD:B", NewerOskaPackage("newpkg")));
            ASSERT_TRUE(harness::FileExists(strDll + "000"));
            EXPECT_EQ(0u, Run("/REMOVE /PROD:A"));
            EXPECT_EQ(2u, Run("/REMOVE /PROD:B"));
        }
        std::vector<std::string> msgs = LastRunMessages();
        ASSERT_GE(msgs.size(), 2u);
        EXPECT_EQ(s_szRemovedReboot, msgs.end()[-2]);
        EXPECT_TRUE(harness::FileExists(strDll));
        EXPECT_FALSE(harness::FileExists(strDll + "000"));
        EXPECT_FALSE(KeyExists("SOFTWARE\\Quillmark"));
        // The requests left are the DLL's deletion and, on the NT family, after it the engine
        // directory's, which 95, 98 and ME cannot carry out at the restart.
        std::string strShortDll = harness::ShortUpper(strDll);
        if (m_b9x)
            EXPECT_EQ(strWinInitBefore.empty() ? "[Rename]\r\nNUL=" + strShortDll + "\r\n"
                                               : strWinInitBefore + "NUL=" + strShortDll + "\r\n",
                      harness::ReadFileBytes(harness::WinInitPath()));
        else
            EXPECT_EQ((std::vector<std::string>{"\\??\\" + strShortDll, "",
                                                "\\??\\" + harness::ShortUpper(m_strEng), ""}),
                      harness::ReadPendingRenames());
        int nStays = harness::FindMessage(msgs, "Orvane: Dir [" + m_strEng +
                                                    "] stays, the restart cannot remove it\n");
        if (m_b9x)
            EXPECT_LE(0, nStays);
        else
            EXPECT_EQ(-1, nStays);

        ASSERT_TRUE(harness::Restart());
        EXPECT_FALSE(harness::FileExists(strDll));
        EXPECT_FALSE(harness::FileExists(strDll + "000"));
        if (m_b9x)
            EXPECT_TRUE(DirNames(m_strEng).empty())
                << "the engine directory is empty after the restart";
        else
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(m_strEng.c_str()))
                << "the engine directory is gone after the restart";
    }
}

// The last product removed while a scanner holds the engine DLL, then, before the restart,
// another product installed: with the DLL let go or still held, and with or without the
// replacement of an earlier update pending for it. The restart leaves that product's engine whole.
TEST_F(RemoveFlow, InstallBeforeTheRestartKeepsItsEngine)
{
    REQUIRE_WINE();
    for (const char* pszWindows : {"winxp", "win98"})
        for (bool bUpdateStaged : {false, true})
            for (bool bHeldAtInstall : {false, true})
            {
                SCOPED_TRACE(std::string(pszWindows) + (bUpdateStaged ? ", update staged" : "") +
                             (bHeldAtInstall ? ", held at the install" : ""));
                ResetFor(pszWindows);
                std::string strDll = m_strEng + "\\Osk32dll.dll";
                ASSERT_EQ(0u, Run("/PROD:A /PATH:" + m_strEng));
                {
                    HeldFile held(strDll);
                    ASSERT_TRUE(held.IsHeld());
                    // On 98 the boot-time scanner too, which the install makes from Morcmd.exe.
                    std::unique_ptr<HeldFile> pScanner;
                    if (m_b9x)
                    {
                        pScanner.reset(new HeldFile(m_strEng + "\\Probit.exe"));
                        ASSERT_TRUE(pScanner->IsHeld());
                    }
                    if (bUpdateStaged)
                    {
                        ASSERT_EQ(2u, Run("/PROD:A", NewerOskaPackage("newpkg")));
                    }
                    ASSERT_EQ(2u, Run("/REMOVE /PROD:A"));
                    if (bHeldAtInstall)
                    {
                        EXPECT_EQ(0u, Run("/PROD:B /PATH:" + m_strEng));
                    }
                }
                if (!bHeldAtInstall)
                {
                    EXPECT_EQ(0u, Run("/PROD:B /PATH:" + m_strEng));
                }

                ASSERT_TRUE(harness::Restart());
                EXPECT_EQ(ExpectedEngineFiles(3, Group()), DirNames(m_strEng));
                EXPECT_TRUE(harness::ReadFileBytes(m_strPackage + "\\Osk32dll.dll") ==
                            harness::ReadFileBytes(strDll))
                    << "the engine DLL of B's package";
                EXPECT_EQ("|B|", RecStr(s_szKey, "ProductList"));
            }
}

TEST_F(RemoveFlow, NonSilentRemovalShowsItsOutcome)
{
    REQUIRE_WINE();
    ResetFor("winxp");
    ASSERT_EQ(0u, Run("/PROD:A /PATH:" + m_strEng));
    ASSERT_EQ(0u, Run("/PROD:B"));
    struct
    {
        const char* pszText;
        const char* pszMessage;
        const char* pszShot;
    } cases[] = {
        {"/REMOVE /NS /PROD:A",
         "The product no longer uses the shared scan engine. Other products still use it, so it "
         "stays.",
         "remove-released"},
        {"/REMOVE /NS /PROD:C",
         "The product does not use the shared scan engine, nothing is removed.", "remove-nothing"},
        {"/REMOVE /NS /PROD:B", "The shared scan engine is removed.", "remove-removed"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszText);
        RunOptions opts;
        opts.strWindows = m_strWindows;
        opts.strCurDir = m_strPackage;
        PROCESS_INFORMATION pi;
        ASSERT_TRUE(harness::StartPelmora(c.pszText, opts, &pi));
        EXPECT_EQ(c.pszMessage, ReadResultMessage(pi, c.pszShot));
        EXPECT_EQ(0u, harness::WaitForExit(&pi, 30000));
        std::string strLog;
        for (const std::string& str : LastRunMessages())
            strLog += str;
        EXPECT_TRUE(HasMessage(LastRunMessages(), "Orvane: Non Silent Mode\n")) << strLog;
    }
}

// Records whose engine must stay whatever the count says: the product is released, and no file,
// environment entry or record key is deleted.
TEST_F(RemoveFlow, UnknownCountOrR80RecordReleasesTheProductAndDeletesNothing)
{
    REQUIRE_WINE();
    struct
    {
        const char* pszCase;
        DWORD dwType; // REG_NONE: ReferenceCount deleted
        std::string strCount;
        const char* pszVersion;
        const char* pszCountAfter; // "": absent
    } cases[] = {
        {"count 9999", REG_DWORD, std::string("\x0F\x27\0\0", 4), nullptr, "9999"},
        {"count absent", REG_NONE, "", nullptr, ""},
        {"count a string", REG_SZ, std::string("1\0", 2), nullptr, ""},
        {"r80 record", REG_DWORD, std::string("\x01\0\0\0", 4), "8.0", "0"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszCase);
        ResetFor("winxp");
        ASSERT_EQ(0u, Run("/PROD:A /PATH:" + m_strEng));
        if (c.dwType == REG_NONE)
            harness::DeleteMachineValue(s_szKey, "ReferenceCount");
        else
            harness::SetMachineValue(s_szKey, "ReferenceCount", c.dwType, c.strCount.data(),
                                     (DWORD)c.strCount.size());
        if (c.pszVersion)
            harness::SetMachineString(s_szKey, "version", c.pszVersion);
        std::vector<std::string> files = DirNames(m_strEng);
        std::string strEnv = Environment();

        EXPECT_EQ(0u, Run("/REMOVE /PROD:A"));
        EXPECT_EQ("", RecStr(s_szKey, "ProductList"));
        if (c.pszCountAfter[0])
        {
            EXPECT_EQ((DWORD)atoi(c.pszCountAfter), RecDword("ReferenceCount"));
        }
        EXPECT_EQ(m_strEng, RecStr(s_szPathKey, "Engine"));
        EXPECT_EQ(60u, RecDword("Timeout"));
        EXPECT_EQ(files, DirNames(m_strEng));
        EXPECT_EQ(strEnv, Environment());
        EXPECT_FALSE(HasMessage(LastRunMessages(), "Orvane: Last reference released, remove the "
                                                   "engine\n"));
    }
}

// Faults a removal may meet: a manifest whose names would reach outside the engine directory,
// a read-only engine file, a list stored as another string type, an environment that is not
// ours. Only our files and entries go; everything else stays byte for byte.
TEST_F(RemoveFlow, FaultsTakeOnlyWhatIsOurs)
{
    REQUIRE_WINE();
    ResetFor("winxp");
    ASSERT_EQ(0u, Run("/PROD:A /PATH:" + m_strEng));
    ASSERT_EQ(0u, Run("/PROD:B"));

    // The same package with names that a manifest must never make a removal reach.
    std::string strHostile = SamplePackage("hostile");
    std::string strList = harness::ReadFileBytes(strHostile + "\\FileList.ini");
    size_t nFiles = strList.find("[FILES]");
    ASSERT_NE(std::string::npos, nFiles);
    strList.insert(strList.find('\n', nFiles) + 1,
                   "7=..\\outside.txt\r\n8=sub\\inner.txt\r\n9=NUL\r\n10=" + harness::TestDir() +
                       "\\victim.txt\r\n11=*.dll\r\n12=Logs\r\n");
    ASSERT_TRUE(harness::WriteFileBytes(strHostile + "\\FileList.ini", strList));
    for (const std::string& strPath :
         {harness::TestDir() + "\\outside.txt", harness::TestDir() + "\\victim.txt"})
        ASSERT_TRUE(harness::WriteFileBytes(strPath, "not ours"));
    ASSERT_TRUE(CreateDirectoryA((m_strEng + "\\sub").c_str(), NULL));
    ASSERT_TRUE(harness::WriteFileBytes(m_strEng + "\\sub\\inner.txt", "not ours"));
    ASSERT_TRUE(SetFileAttributesA((m_strEng + "\\Brin.dat").c_str(), FILE_ATTRIBUTE_READONLY));

    // The list as an expandable string, AVENGINE naming another directory.
    harness::SetMachineValue(s_szKey, "ProductList", REG_EXPAND_SZ, "|A|B|", 6);
    harness::SetMachineValue(s_szNtEnvKey, "AVENGINE", REG_SZ, "C:\\OTHER", 9);

    EXPECT_EQ(0u, Run("/REMOVE /PROD:A", strHostile));
    DWORD dwType = REG_NONE;
    std::string strValue;
    ASSERT_TRUE(harness::ReadMachineValue(s_szKey, "ProductList", &dwType, &strValue));
    EXPECT_EQ((DWORD)REG_EXPAND_SZ, dwType);
    EXPECT_EQ(std::string("|B|\0", 4), strValue);

    EXPECT_EQ(0u, Run("/REMOVE /PROD:B", strHostile));
    std::vector<std::string> msgs = LastRunMessages();
    EXPECT_TRUE(HasMessage(msgs, "Orvane: file [sub\\inner.txt] in Common Section section is not a "
                                 "plain file name, not removed\n"));
    EXPECT_TRUE(HasMessage(msgs, "Orvane: AVENGINE [C:\\OTHER] names another directory, left\n"));
    EXPECT_EQ((std::vector<std::string>{"sub"}), DirNames(m_strEng));
    EXPECT_EQ("not ours", harness::ReadFileBytes(m_strEng + "\\sub\\inner.txt"));
    EXPECT_EQ("not ours", harness::ReadFileBytes(harness::TestDir() + "\\outside.txt"));
    EXPECT_EQ("not ours", harness::ReadFileBytes(harness::TestDir() + "\\victim.txt"));
    EXPECT_EQ("C:\\OTHER", EnvStr(s_szNtEnvKey, "AVENGINE"));
    EXPECT_EQ(m_strPathBefore, EnvStr(s_szNtEnvKey, "PATH"));
    EXPECT_FALSE(KeyExists("SOFTWARE\\Quillmark"));
}

// A list that another product's setup or an administrator rewrote as an expandable string: the
// update finds the product in it as the removal does, so the count neither drifts up on the
// update nor stays behind after the last removal.
TEST_F(RemoveFlow, ListRewrittenAsExpandableStringKeepsTheCountThroughUpdateAndRemoval)
{
    REQUIRE_WINE();
    ResetFor("winxp");
    auto ExpectRecord = [](DWORD dwCount, const std::string& strList)
    {
        EXPECT_EQ(dwCount, RecDword("ReferenceCount"));
        DWORD dwType = REG_NONE;
        std::string strValue;
        ASSERT_TRUE(harness::ReadMachineValue(s_szKey, "ProductList", &dwType, &strValue));
        EXPECT_EQ((DWORD)REG_EXPAND_SZ, dwType);
        EXPECT_EQ(strList, strValue);
        EXPECT_FALSE(harness::ReadMachineValue(s_szKey, "UnlistedProducts", &dwType, &strValue))
            << strValue;
    };
    ASSERT_EQ(0u, Run("/PROD:A /PATH:" + m_strEng));
    harness::SetMachineValue(s_szKey, "ProductList", REG_EXPAND_SZ, "|A|", 4);
    ExpectRecord(1, std::string("|A|\0", 4));

    EXPECT_EQ(0u, Run("/PROD:A"));
    EXPECT_TRUE(HasMessage(LastRunMessages(), "Orvane: ProductName[A] found, keep ref count as "
                                              "[1]\n"));
    ExpectRecord(1, std::string("|A|\0", 4));

    EXPECT_EQ(0u, Run("/REMOVE /PROD:A"));
    EXPECT_EQ(s_szRemoved, LastLine());
    EXPECT_FALSE(KeyExists("SOFTWARE\\Quillmark"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(m_strEng.c_str()))
        << "the engine directory is gone";
}

// The arguments of the mode: /PROD: required, no engine switch, no /PATH:, the manifest present.
TEST_F(RemoveFlow, ArgumentsItRefuses)
{
    ResetFor("winxp");
    struct
    {
        const char* pszText;
        bool bPackage;
        DWORD dwExit;
        const char* pszLine; // a line of the log, nullptr for none
    } cases[] = {
        {"/REMOVE", true, 5, nullptr},
        {"/REMOVE /I /PROD:A", true, 5, "Orvane: /REMOVE takes no engine switch\n"},
        {"/REMOVE /PROD:A /PATH:C:\\Eng", true, 5, "Orvane: /REMOVE takes no /PATH [C:\\Eng]\n"},
        {"/REMOVE /PROD:A:B", true, 5, "Orvane: invalid product name [A:B]\n"},
        {"/REMOVE /PROD:A", false, 4, nullptr},
        {"/rEmOvE /NR /PROD:A", true, 0, s_szNoRecord},
    };
    std::string strEmpty = harness::MakePackageDir("empty", false);
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszText);
        EXPECT_EQ(c.dwExit, Run(c.pszText, c.bPackage ? m_strPackage : strEmpty));
        std::vector<std::string> msgs = LastRunMessages();
        EXPECT_TRUE(HasMessage(msgs, "Orvane: Agr: REMOVE\n"));
        if (c.pszLine)
        {
            EXPECT_TRUE(HasMessage(msgs, c.pszLine));
        }
        EXPECT_FALSE(KeyExists("SOFTWARE\\Quillmark"));
    }
}

} // namespace
