// The first-install flow of the real process on the sample package: the engine directory, the
// record in the 32-bit registry view, the files on disk, AVENGINE and PATH in the system
// environment, the log, the result message, and the ways out with codes 3, 6 and an error number.
#include "FlowSupport.h"

#include <stdlib.h>
#include <string>
#include <vector>

using namespace flow;
using harness::FindMessage;
using harness::HasMessage;
using harness::LastRunMessages;
using harness::RunOptions;
using harness::RunPelmora;

namespace
{

class FirstInstallFlow : public FlowTest
{
  protected:
    DWORD Run(const std::string& strText, const std::string& strPackage)
    {
        RunOptions opts;
        opts.strCurDir = strPackage;
        return RunPelmora(strText, opts);
    }
    // Everything a completed first install leaves for this engine directory.
    void ExpectInstalled(const std::string& strEng, const std::string& strPackage,
                         const std::string& strList, DWORD dwEngIDs, DWORD dwStoredIDs)
    {
        EXPECT_EQ(strEng, RecStr(s_szPathKey, "Engine"));
        EXPECT_EQ(strEng + "\\Logs", RecStr(s_szPathKey, "Logs"));
        EXPECT_EQ(strEng + "\\Incoming", RecStr(s_szPathKey, "Incoming"));
        EXPECT_EQ(1u, RecDword("ReferenceCount"));
        EXPECT_EQ(dwStoredIDs, RecDword("dwEngIDs"));
        EXPECT_EQ(strList, RecStr(s_szKey, "ProductList"));
        EXPECT_EQ(60u, RecDword("Timeout"));
        std::string str;
        EXPECT_FALSE(RecordString(s_szKey, "version", &str));

        EXPECT_EQ(ExpectedEngineFiles(dwEngIDs, GroupNt), DirNames(strEng));
        for (const std::string& strName : DirNames(strEng))
        {
            if (strName == "logs" || strName == "incoming")
            {
                EXPECT_TRUE(GetFileAttributesA((strEng + "\\" + strName).c_str()) &
                            FILE_ATTRIBUTE_DIRECTORY);
            }
            else
            {
                EXPECT_TRUE(SameContent(strPackage + "\\" + strName, strEng + "\\" + strName))
                    << strName;
            }
        }

        // The environment names the directory by its short form, as the last PATH entry.
        std::string strShort = harness::ShortName(strEng);
        EXPECT_EQ(strShort, EnvStr(s_szNtEnvKey, "AVENGINE"));
        EXPECT_EQ(m_strPathBefore + ";" + strShort, EnvStr(s_szNtEnvKey, "PATH"));
    }
};

TEST_F(FirstInstallFlow, EmptyArgumentTextInstallsIntoTheDefaultDirectory)
{
    std::string strPackage = SamplePackage("pkg");
    DWORD dwPathType = REG_NONE;
    std::string strPath;
    EnvValue(s_szNtEnvKey, "PATH", &strPath, &dwPathType);

    EXPECT_EQ(0u, Run("", strPackage));

    // ProgramFilesDir of the 32-bit view (or c:\Program Files where the view has none).
    std::string strEng = harness::DefaultEngineRoot() + "\\SharedComponents\\ScanEngine";
    ExpectInstalled(strEng, strPackage, "|MORVELIN|", 3, 3);
    DWORD dwType = REG_NONE;
    EnvValue(s_szNtEnvKey, "PATH", &strPath, &dwType);
    EXPECT_EQ(dwPathType, dwType) << "PATH keeps its type";

    std::vector<std::string> msgs = LastRunMessages();
    ExpectInOrder(msgs, {
                            "Orvane: bFormerInstalled [FALSE!]\n",
                            "Orvane: Missing argument and Registry!!\n",
                            "Orvane: New Install\n",
                            "Orvane: Missing engine path from registry and from argument, set to "
                            "default path[" +
                                strEng + "] ProductName[MORVELIN]\n",
                            "Orvane: have ",
                            "Orvane: Engine files is copied to [" + strEng + "]\n",
                            "Orvane: File Copy from [" + strPackage + "\\salvor.exe] to [" +
                                strEng + "\\salvor.exe] Successfully\n",
                            "Orvane: source file " + strPackage +
                                "\\Osk32dll.dll is the latest, copy the entire OSKA section \n",
                            "Orvane: source file " + strPackage +
                                "\\Brine.dll is the latest, copy the entire BRIN section \n",
                            "Orvane: File Copy from [" + strPackage + "\\Brin.dat] to [" + strEng +
                                "\\Brin.dat] Successfully\n",
                            "Orvane: Set Timeout to 60\n",
                            "Orvane: Create szLogPath Dir [" + strEng + "\\Logs]\n",
                            "Orvane: Create szIncoming Dir [" + strEng + "\\Incoming]\n",
                            "Orvane: Set AVENGINE - WNT+\n",
                            "The Env path is [",
                        });
    ASSERT_GE(msgs.size(), 2u);
    EXPECT_EQ("Orvane: first install completes\n", msgs[msgs.size() - 2]);
    EXPECT_EQ(s_szEnd, msgs.back());
    // A first install neither refreshes staged copies nor speaks of a restart.
    EXPECT_FALSE(HasMessage(msgs, "Orvane: check 000\n"));
}

TEST_F(FirstInstallFlow, DefaultDirectoryFollowsProgramFilesDirOfThe32BitView)
{
    std::string strPackage = SamplePackage("pkg");
    std::string strPrograms = harness::TestDir() + "\\Programs32";
    CreateDirectoryA(strPrograms.c_str(), NULL);
    harness::SetMachineString("SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                              strPrograms);

    EXPECT_EQ(0u, Run("", strPackage));
    ExpectInstalled(strPrograms + "\\QM\\SharedComponents\\ScanEngine", strPackage, "|MORVELIN|", 3,
                    3);
}

TEST_F(FirstInstallFlow, ProductAndPathKeepTheNameAndTheDirectory)
{
    std::string strPackage = SamplePackage("pkg");
    // A quoted directory with blanks, the product name upper-cased.
    std::string strEng = harness::TestDir() + "\\Engine Dir";
    EXPECT_EQ(0u, Run("/PROD:Quillpen /PATH:\"" + strEng + "\"", strPackage));
    ExpectInstalled(strEng, strPackage, "|QUILLPEN|", 3, 3);
    std::vector<std::string> msgs = LastRunMessages();
    EXPECT_FALSE(HasMessage(msgs, "Orvane: Missing argument and Registry!!\n"));
    ExpectInOrder(msgs, {"Orvane: New Install\n", "Orvane: Check if multibyte\n", "Orvane: have ",
                         "Orvane: Engine files is copied to [" + strEng + "]\n"});
    EXPECT_EQ(s_szEnd, msgs.back());

    // A product without a path goes to the default directory under its own name.
    harness::ResetState();
    EXPECT_EQ(0u, Run("/PROD:Quillpen", strPackage));
    std::string strDefault = harness::DefaultEngineRoot() + "\\SharedComponents\\ScanEngine";
    ExpectInstalled(strDefault, strPackage, "|QUILLPEN|", 3, 3);
    EXPECT_TRUE(HasMessage(LastRunMessages(),
                           "Orvane: Missing engine path from registry and from argument, set to "
                           "default path[" +
                               strDefault + "] ProductName[QUILLPEN]\n"));
}

TEST_F(FirstInstallFlow, EngineSwitchesChooseTheSections)
{
    std::string strPackage = SamplePackage("pkg");
    struct
    {
        const char* pszSwitch;
        DWORD dwEngIDs;
    } cases[] = {{"/1", 1}, {"/2", 2}, {"/3", 3}, {"/i", 1}, {"/V", 2}, {"/b", 3}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszSwitch);
        harness::ResetState();
        std::string strEng = harness::TestDir() + "\\eng" + std::to_string(c.dwEngIDs) +
                             (c.pszSwitch[1] >= 'A' ? "x" : "");
        EXPECT_EQ(0u, Run(std::string(c.pszSwitch) + " /PROD:A /PATH:" + strEng, strPackage));
        ExpectInstalled(strEng, strPackage, "|A|", c.dwEngIDs, c.dwEngIDs);
        std::vector<std::string> msgs = LastRunMessages();
        // The common section's pass first, then the engine sections of the set.
        EXPECT_EQ(c.dwEngIDs == 3 ? 2 : 1,
                  CountPrefix(msgs, "Orvane: ShouldCopyEntireSection? [FILE]\n"));
        int nOska = harness::FindPrefix(msgs, "Orvane: source file " + strPackage +
                                                  "\\Osk32dll.dll is the latest, copy the "
                                                  "entire OSKA section");
        int nBrin = harness::FindPrefix(msgs, "Orvane: source file " + strPackage +
                                                  "\\Brine.dll is the latest, copy the entire "
                                                  "BRIN section");
        EXPECT_EQ(c.dwEngIDs != 2, nOska >= 0);
        EXPECT_EQ(c.dwEngIDs != 1, nBrin >= 0);
        if (c.dwEngIDs == 3)
        {
            EXPECT_LT(nOska, nBrin);
        }
    }
}

TEST_F(FirstInstallFlow, NoReferenceSwitchStillStoresOneReference)
{
    std::string strPackage = SamplePackage("pkg");
    std::string strEng = harness::TestDir() + "\\eng";
    EXPECT_EQ(0u, Run("/NR /PROD:Brin /PATH:" + strEng, strPackage));
    ExpectInstalled(strEng, strPackage, "|BRIN|", 3, 3);
    EXPECT_EQ(1u, RecDword("ReferenceCount"));
    EXPECT_EQ(s_szEnd, LastRunMessages().back());
}

TEST_F(FirstInstallFlow, ConfigurationFileGivesTheSetAndTheDirectory)
{
    std::string strPackage = SamplePackage("pkg");
    struct
    {
        const char* pszIds; // the dwEngIDs line, nullptr for none
        DWORD dwDeployed;   // the sections: 3 for both
        DWORD dwStored;
    } cases[] = {{"0", 3, 0}, {"2", 2, 2}, {nullptr, 3, 3}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszIds ? c.pszIds : "no dwEngIDs");
        harness::ResetState();
        std::string strName = c.pszIds ? std::string("ids") + c.pszIds : "noids";
        std::string strEng = harness::TestDir() + "\\" + strName;
        std::string strIni = harness::TestDir() + "\\" + strName + ".ini";
        std::string strText = "[Path]\r\nENG=" + strEng + "\r\n";
        if (c.pszIds)
            strText = "[EngineID]\r\ndwEngIDs=" + std::string(c.pszIds) + "\r\n" + strText;
        ASSERT_TRUE(harness::WriteFileBytes(strIni, strText));
        // Engine switches have no say in configuration mode.
        EXPECT_EQ(0u, Run("/CFG /1 /PROD:Cfg /PATH:" + strIni, strPackage));
        ExpectInstalled(strEng, strPackage, "|CFG|", c.dwDeployed, c.dwStored);
        EXPECT_EQ(s_szEnd, LastRunMessages().back());
    }

    // An update merges with a stored 0 as with any other value.
    std::string strEng = harness::TestDir() + "\\ids0";
    harness::ResetState();
    std::string strIni = harness::TestDir() + "\\ids0.ini";
    EXPECT_EQ(0u, Run("/CFG /PROD:Cfg /PATH:" + strIni, strPackage));
    EXPECT_EQ(0u, RecDword("dwEngIDs"));
    EXPECT_EQ(0u, Run("/1 /PROD:Cfg", strPackage));
    std::vector<std::string> msgs = LastRunMessages();
    EXPECT_TRUE(HasMessage(msgs, "Orvane: Former EngID [0]\n"));
    EXPECT_TRUE(HasMessage(msgs, "Orvane: dwEngID [1]\n"));
    EXPECT_EQ(1u, RecDword("dwEngIDs"));
}

TEST_F(FirstInstallFlow, FileInUseIsStagedAndTheRunStillAnswersZeroWithMessage5)
{
    REQUIRE_WINE();
    std::string strPackage = SamplePackage("pkg");
    std::string strEng = harness::TestDir() + "\\eng";
    // An engine directory without a record, whose old OSKA DLL a running scanner holds.
    CreateDirectoryA(strEng.c_str(), NULL);
    std::string strTarget = strEng + "\\Osk32dll.dll";
    ASSERT_TRUE(CopyFileA(VersionDll("1.0.0.0").c_str(), strTarget.c_str(), FALSE));
    // Held open, its version cannot be read and the times decide: make it plainly older.
    HANDLE hFile =
        CreateFileA(strTarget.c_str(), FILE_WRITE_ATTRIBUTES, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFile) << GetLastError();
    SYSTEMTIME st = {2001, 1, 1, 1, 0, 0, 0, 0};
    FILETIME ftOld;
    SystemTimeToFileTime(&st, &ftOld);
    EXPECT_TRUE(SetFileTime(hFile, NULL, NULL, &ftOld)) << GetLastError();
    CloseHandle(hFile);
    HeldFile held(strTarget);
    ASSERT_TRUE(held.IsHeld());

    RunOptions opts;
    opts.strCurDir = strPackage;
    PROCESS_INFORMATION pi;
    ASSERT_TRUE(harness::StartPelmora("/NS /PROD:A /PATH:" + strEng, opts, &pi));
    std::string strLast;
    EXPECT_EQ("The install is successful, files are updated.",
              ReadResultMessage(pi, "first-install-in-use-message-5", &strLast));
    EXPECT_EQ("Orvane: first install completes\n", strLast);
    EXPECT_EQ(0u, harness::WaitForExit(&pi, 30000));

    std::vector<std::string> msgs = LastRunMessages();
    EXPECT_TRUE(HasMessage(msgs, "Orvane: Can't do CopyFile from [" + strPackage +
                                     "\\Osk32dll.dll] to [" + strTarget +
                                     "] with error [32], reboot needed\n"));
    EXPECT_FALSE(HasMessage(msgs, "Orvane: Install completes, but NEED_REBOOT\n"));
    EXPECT_EQ(s_szEnd, msgs.back());
    EXPECT_EQ(1u, RecDword("ReferenceCount"));

    // The DLL and its signature pair wait as staged copies, the DLL's replacement scheduled.
    EXPECT_TRUE(SameContent(strPackage + "\\Osk32dll.dll", strTarget + "000"));
    EXPECT_TRUE(harness::FileExists(strEng + "\\Osksig.da0000"));
    EXPECT_TRUE(harness::FileExists(strEng + "\\Osksig.dat000"));
    std::vector<std::string> pending = harness::ReadPendingRenames();
    std::string strShortTarget = "\\??\\" + harness::ShortUpper(strTarget);
    std::string strShortStaged = "\\??\\" + harness::ShortUpper(strTarget + "000");
    bool bRename = false;
    for (size_t i = 0; i + 1 < pending.size(); i += 2)
        bRename = bRename || (pending[i] == strShortStaged && pending[i + 1] == strShortTarget);
    EXPECT_TRUE(bRename) << "no pending rename of " << strShortStaged;

    held.Release();
    EXPECT_TRUE(SameContent(VersionDll("1.0.0.0"), strTarget));
    ASSERT_TRUE(harness::Restart());
    EXPECT_TRUE(SameContent(strPackage + "\\Osk32dll.dll", strTarget));
    EXPECT_FALSE(harness::FileExists(strTarget + "000"));
    // The signature pair had no installed files to replace: a target without a short name is
    // not scheduled, so its staged copies wait for the next update that deploys the section.
}

// ---------------------------------------------------------------------------------------------
// Ways out before anything is copied.

class FirstInstallRefused : public FirstInstallFlow
{
  protected:
    // Nothing of the run lasts but the log: no record, no environment, no engine directory.
    void ExpectNothingWritten(const std::string& strEng)
    {
        EXPECT_FALSE(KeyExists("SOFTWARE\\Quillmark"));
        EXPECT_EQ(m_strPathBefore, EnvStr(s_szNtEnvKey, "PATH"));
        std::string str;
        EXPECT_FALSE(EnvValue(s_szNtEnvKey, "AVENGINE", &str)) << str;
        if (!strEng.empty())
        {
            EXPECT_FALSE(harness::FileExists(strEng)) << strEng;
        }
    }
};

TEST_F(FirstInstallRefused, InvalidEngineDirectoryEndsWithCode3)
{
    std::string strPackage = SamplePackage("pkg");
    std::string strDir = harness::TestDir();
    struct
    {
        std::string strPath;
        std::string strReason;
    } cases[] = {
        {"eng", "Orvane: Invalid Scan Engine path [eng], please try again!!\n"},
        {"\\\\server\\share\\eng",
         "Orvane: Invalid Scan Engine path [\\\\server\\share\\eng], please try again!!\n"},
        {"C:", "Orvane: Invalid Scan Engine path [C:], please try again!!\n"},
        {"ab:\\eng", "Orvane: Invalid Scan Engine path [ab:\\eng] from argument, can't copy "
                     "file.\n"},
        {strDir + "\\\xC9ngine", "Orvane: Invalid Scan Engine path [" + strDir +
                                     "\\\xC9ngine], can't install with localized path.\n"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.strPath);
        harness::ResetState();
        EXPECT_EQ(3u, Run("/PROD:A /PATH:" + c.strPath, strPackage));
        std::vector<std::string> msgs = LastRunMessages();
        ASSERT_GE(msgs.size(), 3u);
        EXPECT_EQ(c.strReason, msgs[msgs.size() - 3]);
        EXPECT_EQ("Orvane: Invalid ScanEngine Path\n", msgs[msgs.size() - 2]);
        EXPECT_EQ(s_szEnd, msgs.back());
        EXPECT_EQ(-1, harness::FindPrefix(msgs, "Orvane: have "));
        ExpectNothingWritten(c.strPath.size() > 3 && c.strPath[1] == ':' ? c.strPath : "");
    }
}

TEST_F(FirstInstallRefused, InvalidEngineDirectoryShowsMessage6WhenNotSilent)
{
    REQUIRE_WINE();
    std::string strPackage = SamplePackage("pkg");
    RunOptions opts;
    opts.strCurDir = strPackage;
    PROCESS_INFORMATION pi;
    ASSERT_TRUE(harness::StartPelmora("/PROD:A /NS /PATH:eng", opts, &pi));
    std::string strLast;
    EXPECT_EQ("Invalid ScanEngine path, Pelmora can't process.",
              ReadResultMessage(pi, "invalid-path-message-6", &strLast));
    EXPECT_EQ("Orvane: Invalid Scan Engine path [eng], please try again!!\n", strLast);
    EXPECT_EQ(3u, harness::WaitForExit(&pi, 30000));
    std::vector<std::string> msgs = LastRunMessages();
    ASSERT_GE(msgs.size(), 2u);
    EXPECT_EQ("Orvane: Invalid ScanEngine Path\n", msgs[msgs.size() - 2]);
    EXPECT_EQ(s_szEnd, msgs.back());
    ExpectNothingWritten("");
}

TEST_F(FirstInstallRefused, SmallDriveEndsWithCode6)
{
    std::string strDrive = SmallDrive();
    if (strDrive.empty())
        GTEST_SKIP() << "no small drive X: (scripts/test mounts a tmpfs for it where the machine "
                        "allows mount -t tmpfs)";
    std::string strPackage = SamplePackage("pkg");
    std::string strEng = strDrive + "\\FirstInstallRefused";
    harness::DeleteTree(strEng);

    // Silent or not, the free-space way out shows no message box.
    RunOptions opts;
    opts.strCurDir = strPackage;
    PROCESS_INFORMATION pi;
    ASSERT_TRUE(harness::StartPelmora("/NS /PROD:A /PATH:" + strEng, opts, &pi));
    DWORD dwExit;
    EXPECT_FALSE(ShowedAWindow(&pi, &dwExit));
    EXPECT_EQ(6u, dwExit);

    std::vector<std::string> msgs = LastRunMessages();
    ASSERT_GE(msgs.size(), 3u);
    EXPECT_EQ(0u, msgs[msgs.size() - 3].find("Orvane: have ")) << msgs[msgs.size() - 3];
    EXPECT_EQ(0u, msgs[msgs.size() - 2].find("Orvane: only have "));
    EXPECT_NE(
        std::string::npos,
        msgs[msgs.size() - 2].find(
            " free disk space left on drive X:\\. Not enough space to copy ScanEngine files\n"))
        << msgs[msgs.size() - 2];
    EXPECT_EQ(s_szEnd, msgs.back());
    ExpectNothingWritten(strEng);
}

TEST_F(FirstInstallRefused, FailedFreeSpaceQueryEndsWithItsErrorNumber)
{
    std::string strPackage = SamplePackage("pkg");
    // A drive letter no volume stands behind, and a drive name the platform rejects.
    for (const char* pszPath : {"Q:\\Eng", "?:\\Eng"})
    {
        SCOPED_TRACE(pszPath);
        harness::ResetState();
        RunOptions opts;
        opts.strCurDir = strPackage;
        PROCESS_INFORMATION pi;
        ASSERT_TRUE(harness::StartPelmora(std::string("/PROD:A /NS /PATH:") + pszPath, opts, &pi));
        DWORD dwExit;
        EXPECT_FALSE(ShowedAWindow(&pi, &dwExit));

        std::vector<std::string> msgs = LastRunMessages();
        ASSERT_GE(msgs.size(), 2u);
        const std::string strPrefix = "Orvane: Can't GetDiskFreeSpace return [";
        const std::string& strLine = msgs[msgs.size() - 2];
        ASSERT_EQ(0u, strLine.find(strPrefix)) << strLine;
        DWORD dwError = strtoul(strLine.c_str() + strPrefix.size(), nullptr, 10);
        EXPECT_EQ(strPrefix + std::to_string(dwError) + "]\n", strLine);
        EXPECT_NE(0u, dwError);
        EXPECT_EQ(dwError, dwExit);
        EXPECT_EQ(s_szEnd, msgs.back());
        EXPECT_FALSE(HasMessage(msgs, "Orvane: Invalid ScanEngine Path\n"));
        ExpectNothingWritten("");
    }
}

} // namespace
