// The update flow of the real process over a first install of the sample package (or a record
// planted as an earlier installation left it): product list and reference count, the merged
// engine set, the directory values, a drive short of space, a file in use and the restart, the
// r8 ending, and the refusal of a stored engine directory.
#include "FlowSupport.h"

#include <algorithm>
#include <string>
#include <vector>
#include <string.h>

using namespace flow;
using harness::FindMessage;
using harness::FindPrefix;
using harness::HasMessage;
using harness::LastRunMessages;
using harness::RunOptions;
using harness::RunPelmora;

namespace
{

const char s_szNotToReboot[] = "Orvane: Install completes, not to reboot\n";
const char s_szNeedReboot[] = "Orvane: Install completes, but NEED_REBOOT\n";

class UpdateFlow : public FlowTest
{
  protected:
    void SetUp() override
    {
        FlowTest::SetUp();
        m_strPackage = SamplePackage("pkg");
        m_strEng = harness::TestDir() + "\\eng";
    }
    DWORD Run(const std::string& strText, const std::string& strPackage = std::string())
    {
        RunOptions opts;
        opts.strCurDir = strPackage.empty() ? m_strPackage : strPackage;
        return RunPelmora(strText, opts);
    }
    // A first install of the sample package into m_strEng.
    void Install(const std::string& strArgs)
    {
        ASSERT_EQ(0u, Run(strArgs + " /PATH:" + m_strEng));
        ASSERT_EQ("Orvane: first install completes\n", LastRunMessages().end()[-2]);
    }
    // The ending of an update that completed without a file waiting for the restart.
    void ExpectCompleted(const std::vector<std::string>& msgs)
    {
        ASSERT_GE(msgs.size(), 2u);
        EXPECT_EQ(s_szNotToReboot, msgs[msgs.size() - 2]);
        EXPECT_EQ(s_szEnd, msgs.back());
    }
    void ExpectEnvironment(const std::string& strEng)
    {
        std::string strShort = harness::ShortName(strEng);
        EXPECT_EQ(strShort, EnvStr(s_szNtEnvKey, "AVENGINE"));
        // Set again on every update, and still there once, as the last entry.
        EXPECT_EQ(m_strPathBefore + ";" + strShort, EnvStr(s_szNtEnvKey, "PATH"));
    }
    std::string m_strPackage, m_strEng;
};

TEST_F(UpdateFlow, NewProductAddsAReferenceAndJoinsTheList)
{
    Install("/PROD:A");
    EXPECT_EQ(0u, Run("/PROD:Brin"));
    EXPECT_EQ("|A|BRIN|", RecStr(s_szKey, "ProductList"));
    EXPECT_EQ(2u, RecDword("ReferenceCount"));
    EXPECT_EQ(3u, RecDword("dwEngIDs"));
    EXPECT_EQ(60u, RecDword("Timeout"));
    EXPECT_EQ(m_strEng, RecStr(s_szPathKey, "Engine"));
    ExpectEnvironment(m_strEng);
    EXPECT_EQ(ExpectedEngineFiles(3, GroupNt), DirNames(m_strEng));

    std::vector<std::string> msgs = LastRunMessages();
    ExpectInOrder(msgs, {
                            "Orvane: bFormerInstalled [TRUE!]\n",
                            "Orvane: Former EngID [3]\n",
                            "Orvane: dwEngID [3]\n",
                            "Orvane: Product list from reg [|A|]\n",
                            "Orvane: Update, engine files will be copied to previous location\n",
                            "Orvane: Current ReferenceCount is [(1)]\n",
                            "Orvane: Timeout in reg is [(60)]\n",
                            "Orvane: Check if multibyte\n",
                            "Orvane: Set AVENGINE - WNT+\n",
                            "Orvane: Check Name[BRIN] in [|A|]\n",
                            "Orvane: Add ref count!!\n",
                            "Orvane: the current reference count in the registry is [1] and going "
                            "to be [2]\n",
                            "Orvane: set ref count to [2]\n",
                            "Orvane: Add ProdName[BRIN] to ProductList[|A|]\n",
                            "Orvane: have ",
                            "Orvane: ShouldCopyEntireSection? [FILE]\n",
                            "Orvane: check 000\n",
                        });
    ExpectCompleted(msgs);
    // The subdirectories of the stored directory exist: nothing is created.
    EXPECT_EQ(-1, FindPrefix(msgs, "Orvane: Create sz"));
    EXPECT_FALSE(HasMessage(msgs, "Orvane: New Install\n"));
}

TEST_F(UpdateFlow, ListedProductKeepsCountAndListAndTheDefaultProductJoins)
{
    Install("/PROD:A");
    // Listed in any letter case: nothing changes.
    EXPECT_EQ(0u, Run("/PROD:a"));
    EXPECT_EQ("|A|", RecStr(s_szKey, "ProductList"));
    EXPECT_EQ(1u, RecDword("ReferenceCount"));
    std::vector<std::string> msgs = LastRunMessages();
    EXPECT_TRUE(HasMessage(msgs, "Orvane: ProductName[A] found, keep ref count as [1]\n"));
    ExpectCompleted(msgs);

    // An empty argument text updates for the default product.
    EXPECT_EQ(0u, Run(""));
    EXPECT_EQ("|A|MORVELIN|", RecStr(s_szKey, "ProductList"));
    EXPECT_EQ(2u, RecDword("ReferenceCount"));
    EXPECT_TRUE(HasMessage(LastRunMessages(), "Orvane: Check Name[MORVELIN] in [|A|]\n"));
    EXPECT_EQ(m_strEng, RecStr(s_szPathKey, "Engine"));

    // So does default mode with a product but no path: the default product is what registers.
    EXPECT_EQ(0u, Run("setup /PROD:Quill"));
    EXPECT_EQ("|A|MORVELIN|", RecStr(s_szKey, "ProductList"));
    EXPECT_EQ(2u, RecDword("ReferenceCount"));
    EXPECT_TRUE(HasMessage(LastRunMessages(), "Orvane: Check Name[MORVELIN] in [|A|MORVELIN|]\n"));
}

TEST_F(UpdateFlow, NoReferenceSwitchAddsTheProductOnly)
{
    Install("/PROD:A");
    EXPECT_EQ(0u, Run("/NR /PROD:C"));
    EXPECT_EQ("|A|C|", RecStr(s_szKey, "ProductList"));
    EXPECT_EQ(1u, RecDword("ReferenceCount"));
    std::vector<std::string> msgs = LastRunMessages();
    ExpectInOrder(msgs, {"Orvane: Check Name[C] in [|A|]\n",
                         "Orvane: Don't change reference count because of /nr switch\n",
                         "Orvane: Only add ProdName[C] to ProductList [|A|]\n"});
    EXPECT_FALSE(HasMessage(msgs, "Orvane: Add ref count!!\n"));
    ExpectCompleted(msgs);
}

// A product that ProductList cannot take still holds its one reference: it is recorded in
// UnlistedProducts, which the membership test of every later run consults, so running it again
// changes nothing. Where neither value has room the count is not raised at all.
TEST_F(UpdateFlow, ProductThatCannotBeListedRaisesTheCountOnce)
{
    Install("/PROD:A");
    const std::string strFull = "|" + std::string(251, 'F') + "|";  // 253: NEWPROD| passes 259
    const std::string strExact = "|" + std::string(249, 'E') + "|"; // 251: NEWPROD| ends at 259
    const std::string strExpand("|DELTA|\0", 8);
    struct
    {
        const char* pszName;
        const char* pszArgs;
        const char* pszProduct;
        DWORD dwListType;
        std::string strList;      // ProductList as planted
        std::string strUnlisted;  // UnlistedProducts as planted, "" for none
        DWORD dwCount;            // ReferenceCount after each of the three runs
        std::string strListAfter; // ProductList after them
        std::string strUnlistedAfter;
        std::vector<std::string> firstRun; // lines of the first run, in order
    } cases[] = {
        {"no room in the list",
         "/PROD:NEWPROD",
         "NEWPROD",
         REG_SZ,
         strFull,
         "",
         6,
         strFull,
         "|NEWPROD|",
         {"Orvane: ProductList would grow past 259 characters, ProdName[NEWPROD] not added\n",
          "Orvane: set ref count to [6]\n",
          "Orvane: Add ProdName[NEWPROD] to UnlistedProducts[]\n"}},
        {"list that is not a string",
         "/1 /PROD:Eps",
         "EPS",
         REG_EXPAND_SZ,
         strExpand,
         "",
         6,
         strExpand,
         "|EPS|",
         {"Orvane: Check Name[EPS] in [|DELTA|]\n",
          "Orvane: ProductList in reg is not a string, left as it is\n",
          "Orvane: set ref count to [6]\n", "Orvane: Add ProdName[EPS] to UnlistedProducts[]\n"}},
        {"list that takes the name exactly",
         "/PROD:NEWPROD",
         "NEWPROD",
         REG_SZ,
         strExact,
         "",
         6,
         strExact + "NEWPROD|",
         "",
         {"Orvane: set ref count to [6]\n",
          "Orvane: Add ProdName[NEWPROD] to ProductList[" + strExact + "]\n"}},
        {"no room anywhere",
         "/PROD:NEWPROD",
         "NEWPROD",
         REG_SZ,
         strFull,
         strFull,
         5,
         strFull,
         strFull,
         {"Orvane: ProductList would grow past 259 characters, ProdName[NEWPROD] not added\n",
          "Orvane: UnlistedProducts would grow past 259 characters, ProdName[NEWPROD] not "
          "added\n",
          "Orvane: ProdName[NEWPROD] can be recorded nowhere, keep ref count as [5]\n"}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        harness::SetMachineValue(s_szKey, "ProductList", c.dwListType, c.strList.data(),
                                 (DWORD)c.strList.size() + (c.dwListType == REG_SZ ? 1 : 0));
        harness::DeleteMachineValue(s_szKey, "UnlistedProducts");
        if (!c.strUnlisted.empty())
            harness::SetMachineString(s_szKey, "UnlistedProducts", c.strUnlisted);
        DWORD dwFive = 5;
        harness::SetMachineValue(s_szKey, "ReferenceCount", REG_DWORD, &dwFive, sizeof(dwFive));
        for (int nRun = 1; nRun <= 3; nRun++)
        {
            SCOPED_TRACE(nRun);
            EXPECT_EQ(0u, Run(c.pszArgs));
            std::vector<std::string> msgs = LastRunMessages();
            ExpectCompleted(msgs);
            EXPECT_EQ(c.dwCount, RecDword("ReferenceCount"));
            if (nRun == 1 || c.dwCount == 5)
            {
                ExpectInOrder(msgs, c.firstRun);
            }
            else
            {
                // Found where the first run recorded it.
                EXPECT_TRUE(HasMessage(msgs, "Orvane: ProductName[" + std::string(c.pszProduct) +
                                                 "] found, keep ref count as [6]\n"));
                EXPECT_EQ(-1, FindPrefix(msgs, "Orvane: set ref count"));
            }
            EXPECT_EQ(-1, FindPrefix(msgs, "Orvane: ProductList would grow past 259 characters, "
                                           "ProdName[EPS]"))
                << "an expandable list does not grow";
        }
        DWORD dwType = 0;
        std::string strStored;
        ASSERT_TRUE(harness::ReadMachineValue(s_szKey, "ProductList", &dwType, &strStored));
        EXPECT_EQ(c.dwListType, dwType);
        if (c.dwListType == REG_SZ)
            strStored.resize(strlen(strStored.c_str()));
        EXPECT_EQ(c.strListAfter, strStored);
        EXPECT_EQ(c.strUnlistedAfter, RecStr(s_szKey, "UnlistedProducts"));
    }
}

TEST_F(UpdateFlow, SecondEngineOverTheFirstDeploysAndStoresBoth)
{
    Install("/1 /PROD:A");
    EXPECT_EQ(1u, RecDword("dwEngIDs"));
    EXPECT_EQ(ExpectedEngineFiles(1, GroupNt), DirNames(m_strEng));
    // An older OSKA DLL in the engine directory: the OSKA section is deployed again.
    ASSERT_TRUE(
        CopyFileA(VersionDll("1.0.0.0").c_str(), (m_strEng + "\\Osk32dll.dll").c_str(), FALSE));

    EXPECT_EQ(0u, Run("/2 /PROD:A"));
    EXPECT_EQ(3u, RecDword("dwEngIDs"));
    EXPECT_EQ(ExpectedEngineFiles(3, GroupNt), DirNames(m_strEng));
    EXPECT_TRUE(SameContent(m_strPackage + "\\Osk32dll.dll", m_strEng + "\\Osk32dll.dll"));
    EXPECT_TRUE(SameContent(m_strPackage + "\\Brin.dat", m_strEng + "\\Brin.dat"));

    std::vector<std::string> msgs = LastRunMessages();
    // Copy passes over sections 0, 1 and 2, then refresh passes over the same sections.
    ExpectInOrder(msgs,
                  {
                      "Orvane: Former EngID [1]\n",
                      "Orvane: dwEngID [3]\n",
                      "Orvane: have ",
                      "Orvane: File Copy from [" + m_strPackage + "\\salvor.exe] to [" + m_strEng +
                          "\\salvor.exe] Successfully\n",
                      "Orvane: ShouldCopyEntireSection? [FILE]\n",
                      "Orvane: source file " + m_strPackage +
                          "\\Osk32dll.dll is the latest, copy the entire OSKA section \n",
                      "Orvane: ShouldCopyEntireSection? [FILE]\n",
                      "Orvane: source file " + m_strPackage +
                          "\\Brine.dll is the latest, copy the entire BRIN section \n",
                      "Orvane: check 000\n",
                      "Orvane: Zero Suffix File [" + m_strEng + "\\salvor.exe000] not found\n",
                      "Orvane: Zero Suffix File [" + m_strEng + "\\Tarn_dyn.vxd000] not found\n",
                      "Orvane: ShouldCopyEntireSection? [ZeroSuffix files]\n",
                      "Orvane: no files updated in OSKA section, should not copy files over\n",
                      "Orvane: ShouldCopyEntireSection? [ZeroSuffix files]\n",
                      "Orvane: no files updated in BRIN section, should not copy files over\n",
                  });
    int nCheck = FindMessage(msgs, "Orvane: check 000\n");
    EXPECT_EQ(2,
              CountPrefix(msgs, "Orvane: ShouldCopyEntireSection? [ZeroSuffix files]\n", nCheck));
    ExpectCompleted(msgs);
}

TEST_F(UpdateFlow, StoredDirectoryWritesOnlyTheValuesOfMissingSubdirectories)
{
    Install("/PROD:A");
    harness::SetMachineString(s_szPathKey, "Logs", "kept logs");
    harness::SetMachineString(s_szPathKey, "Incoming", "kept incoming");
    std::string strOther = harness::TestDir() + "\\other";

    // The stored directory wins over the argument; both subdirectories exist.
    EXPECT_EQ(0u, Run("/PROD:B /PATH:" + strOther));
    EXPECT_EQ(m_strEng, RecStr(s_szPathKey, "Engine"));
    EXPECT_EQ("kept logs", RecStr(s_szPathKey, "Logs"));
    EXPECT_EQ("kept incoming", RecStr(s_szPathKey, "Incoming"));
    EXPECT_FALSE(harness::FileExists(strOther));
    std::vector<std::string> msgs = LastRunMessages();
    EXPECT_EQ(-1, FindPrefix(msgs, "Orvane: Create sz"));
    EXPECT_FALSE(HasMessage(msgs, "Orvane: Can't get eng path from registry\n"));
    ExpectCompleted(msgs);

    // A missing subdirectory is created and its value written; the other stays as stored.
    harness::DeleteTree(m_strEng + "\\Incoming");
    EXPECT_EQ(0u, Run("/PROD:B"));
    EXPECT_EQ("kept logs", RecStr(s_szPathKey, "Logs"));
    EXPECT_EQ(m_strEng + "\\Incoming", RecStr(s_szPathKey, "Incoming"));
    EXPECT_TRUE(harness::FileExists(m_strEng + "\\Incoming"));
    msgs = LastRunMessages();
    EXPECT_EQ(1, CountPrefix(msgs, "Orvane: Create sz"));
    ExpectInOrder(msgs, {"Orvane: Check if multibyte\n",
                         "Orvane: Create szIncoming Dir [" + m_strEng + "\\Incoming]\n",
                         "Orvane: Set AVENGINE - WNT+\n"});
}

TEST_F(UpdateFlow, DirectoryFromTheArgumentWritesAllThreeValues)
{
    Install("/PROD:A");
    harness::DeleteMachineValue(s_szPathKey, "Engine");
    harness::SetMachineString(s_szPathKey, "Logs", "kept logs");
    harness::SetMachineString(s_szPathKey, "Incoming", "kept incoming");

    // The same directory again, its subdirectories present: all three values written.
    EXPECT_EQ(0u, Run("/PROD:B /PATH:" + m_strEng));
    EXPECT_EQ(m_strEng, RecStr(s_szPathKey, "Engine"));
    EXPECT_EQ(m_strEng + "\\Logs", RecStr(s_szPathKey, "Logs"));
    EXPECT_EQ(m_strEng + "\\Incoming", RecStr(s_szPathKey, "Incoming"));
    std::vector<std::string> msgs = LastRunMessages();
    ExpectInOrder(msgs, {"Orvane: Can't get eng path from registry\n",
                         "Orvane: files will be copied to dir [" + m_strEng +
                             "], based on argument entered\n",
                         "Orvane: Check if multibyte\n", "Orvane: Set AVENGINE - WNT+\n"});
    EXPECT_EQ(-1, FindPrefix(msgs, "Orvane: Create sz"));
    ExpectCompleted(msgs);

    // A new directory from the argument: created, filled, and published.
    harness::DeleteMachineValue(s_szPathKey, "Engine");
    std::string strNew = harness::TestDir() + "\\new engine";
    EXPECT_EQ(0u, Run("/PROD:B /PATH:\"" + strNew + "\""));
    EXPECT_EQ(strNew, RecStr(s_szPathKey, "Engine"));
    EXPECT_EQ(strNew + "\\Logs", RecStr(s_szPathKey, "Logs"));
    EXPECT_EQ(strNew + "\\Incoming", RecStr(s_szPathKey, "Incoming"));
    EXPECT_EQ(ExpectedEngineFiles(3, GroupNt), DirNames(strNew));
    msgs = LastRunMessages();
    ExpectInOrder(msgs, {"Orvane: Create szLogPath Dir [" + strNew + "\\Logs]\n",
                         "Orvane: Create szIncoming Dir [" + strNew + "\\Incoming]\n"});
    std::string strShort = harness::ShortName(strNew);
    EXPECT_EQ(strShort, EnvStr(s_szNtEnvKey, "AVENGINE"));
    EXPECT_EQ(m_strPathBefore + ";" + harness::ShortName(m_strEng) + ";" + strShort,
              EnvStr(s_szNtEnvKey, "PATH"));

    // Neither a stored directory nor an argument: the default directory.
    harness::DeleteMachineValue(s_szPathKey, "Engine");
    EXPECT_EQ(0u, Run("/PROD:B"));
    std::string strDefault = harness::DefaultEngineRoot() + "\\SharedComponents\\ScanEngine";
    EXPECT_EQ(strDefault, RecStr(s_szPathKey, "Engine"));
    EXPECT_TRUE(HasMessage(LastRunMessages(),
                           "Orvane: Missing engine path from registry and from argument, set to "
                           "default [" +
                               strDefault + "]\n"));
    EXPECT_EQ(ExpectedEngineFiles(3, GroupNt), DirNames(strDefault));
}

TEST_F(UpdateFlow, DriveShortOfSpaceStillCopies)
{
    std::string strDrive = SmallDrive();
    if (strDrive.empty())
        GTEST_SKIP() << "no small drive X: (scripts/test mounts a tmpfs for it where the machine "
                        "allows mount -t tmpfs)";
    std::string strEng = strDrive + "\\UpdateFlow";
    harness::DeleteTree(strEng);
    ASSERT_TRUE(CreateDirectoryA(strEng.c_str(), NULL)) << GetLastError();
    PlantRecord(strEng, 3, 1, "|A|");

    DWORD dwExit = Run("/PROD:B");
    std::vector<std::string> msgs = LastRunMessages();
    std::vector<std::string> names = DirNames(strEng);
    harness::DeleteTree(strEng);

    EXPECT_EQ(0u, dwExit);
    ExpectInOrder(msgs, {"Orvane: have ", "Orvane: only have ",
                         "Orvane: File Copy from [" + m_strPackage + "\\Brin.dat] to [" + strEng +
                             "\\Brin.dat] Successfully\n",
                         "Orvane: check 000\n"});
    ExpectCompleted(msgs);
    EXPECT_EQ(ExpectedEngineFiles(3, GroupNt), names);
    EXPECT_EQ("|A|B|", RecStr(s_szKey, "ProductList"));
}

TEST_F(UpdateFlow, FileInUseIsStagedWithCode2AndMessage4ThenTheRestartReplacesIt)
{
    REQUIRE_WINE();
    Install("/PROD:A");
    std::string strNewPackage = NewerOskaPackage("newpkg");
    std::string strTarget = m_strEng + "\\Osk32dll.dll";
    HeldFile held(strTarget);
    ASSERT_TRUE(held.IsHeld());

    RunOptions opts;
    opts.strCurDir = strNewPackage;
    PROCESS_INFORMATION pi;
    ASSERT_TRUE(harness::StartPelmora("/NS /PROD:A", opts, &pi));
    std::string strLast;
    EXPECT_EQ("The install is successful. Please reboot your machine to make the update complete.",
              ReadResultMessage(pi, "update-in-use-message-4", &strLast));
    EXPECT_EQ(s_szNeedReboot, strLast);
    EXPECT_EQ(2u, harness::WaitForExit(&pi, 30000));

    std::vector<std::string> msgs = LastRunMessages();
    ExpectInOrder(
        msgs,
        {"Orvane: Can't do CopyFile from [" + strNewPackage + "\\Osk32dll.dll] to [" + strTarget +
             "] with error [32], reboot "
             "needed\n",
         "RemoveFileOnReboot: from pszExisting [" + harness::ShortUpper(strTarget + "000") +
             "] to [" + harness::ShortUpper(strTarget) + "] \n",
         "RemoveFileOnReboot: MoveFileEx\n", "Orvane: check 000\n", s_szNeedReboot, s_szEnd});
    EXPECT_EQ(s_szEnd, msgs.back());
    EXPECT_EQ(3u, RecDword("dwEngIDs"));

    // The new DLL and its signature pair wait beside the installed ones.
    EXPECT_TRUE(SameContent(strNewPackage + "\\Osk32dll.dll", strTarget + "000"));
    EXPECT_TRUE(SameContent(strNewPackage + "\\Osksig.dat", m_strEng + "\\Osksig.dat000"));
    std::vector<std::string> pending = harness::ReadPendingRenames();
    std::vector<std::string> expected = {"\\??\\" + harness::ShortUpper(strTarget), "",
                                         "\\??\\" + harness::ShortUpper(strTarget + "000"),
                                         "\\??\\" + harness::ShortUpper(strTarget)};
    ASSERT_GE(pending.size(), 4u);
    EXPECT_TRUE(std::search(pending.begin(), pending.end(), expected.begin(), expected.end()) !=
                pending.end());

    // A second, silent run while the file is still in use: code 2 again, no second request.
    size_t nPending = pending.size();
    EXPECT_EQ(2u, Run("/PROD:A", strNewPackage));
    EXPECT_EQ(nPending, harness::ReadPendingRenames().size());
    EXPECT_TRUE(
        HasMessage(LastRunMessages(), "Orvane: ZeroSuffix file " + strTarget + "000 exists\n"));

    held.Release();
    EXPECT_TRUE(SameContent(m_strPackage + "\\Osk32dll.dll", strTarget)) << "the old DLL stays";
    ASSERT_TRUE(harness::Restart());
    EXPECT_TRUE(SameContent(strNewPackage + "\\Osk32dll.dll", strTarget));
    EXPECT_FALSE(harness::FileExists(strTarget + "000"));
    EXPECT_FALSE(harness::FileExists(m_strEng + "\\Osksig.dat000"));
    EXPECT_TRUE(SameContent(strNewPackage + "\\Osksig.dat", m_strEng + "\\Osksig.dat"));

    // After the restart the same update has nothing left to wait for.
    EXPECT_EQ(0u, Run("/PROD:A", strNewPackage));
    ExpectCompleted(LastRunMessages());
}

// ---------------------------------------------------------------------------------------------
// The r8 ending and the refusal of a stored directory.

TEST_F(UpdateFlow, R80InstallationRegistersTheProductAndCopiesNothing)
{
    PlantRecord(m_strEng, 1, 1, "|A|");
    harness::SetMachineString(s_szKey, "version", "8.0.1");
    ASSERT_TRUE(CreateDirectoryA(m_strEng.c_str(), NULL));

    // A new product raises the count even under /NR.
    EXPECT_EQ(8u, Run("/NR /PROD:B"));
    std::vector<std::string> msgs = LastRunMessages();
    ExpectInOrder(msgs, {
                            "Retrieved ScanEngine version 8.0.1\n",
                            "Pelmora is installing on top of Norvale Vigil r80\n",
                            "Orvane: bFormerInstalled [TRUE!]\n",
                            "Orvane: Update, engine files will be copied to previous location\n",
                            "Orvane: Create szLogPath Dir [" + m_strEng + "\\Logs]\n",
                            "Orvane: Create szIncoming Dir [" + m_strEng + "\\Incoming]\n",
                            "Orvane: Set AVENGINE - WNT+\n",
                            "r8 logic\n",
                            "Orvane: Check Name[B] in [|A|]\n",
                            "Orvane: the current reference count in the registry is [1] and going "
                            "to be [2]\n",
                        });
    ASSERT_FALSE(msgs.empty());
    EXPECT_EQ("Orvane: set ref count to [2]\n", msgs.back());
    EXPECT_FALSE(HasMessage(msgs, s_szEnd));
    EXPECT_FALSE(HasMessage(msgs, "Orvane: Add ref count!!\n"));
    EXPECT_EQ(-1, FindPrefix(msgs, "Orvane: Add ProdName["));
    EXPECT_EQ(-1, FindPrefix(msgs, "Orvane: have "));
    EXPECT_EQ(-1, FindPrefix(msgs, "Orvane: File Copy from"));
    EXPECT_FALSE(HasMessage(msgs, "Orvane: check 000\n"));

    EXPECT_EQ("|A|B|", RecStr(s_szKey, "ProductList"));
    EXPECT_EQ(2u, RecDword("ReferenceCount"));
    EXPECT_EQ(1u, RecDword("dwEngIDs"));
    EXPECT_EQ("8.0.1", RecStr(s_szKey, "version"));
    EXPECT_EQ(m_strEng + "\\Logs", RecStr(s_szPathKey, "Logs"));
    EXPECT_EQ(m_strEng + "\\Incoming", RecStr(s_szPathKey, "Incoming"));
    EXPECT_EQ((std::vector<std::string>{"incoming", "logs"}), DirNames(m_strEng));
    ExpectEnvironment(m_strEng);

    // A listed product changes nothing; the default product of an empty text is added.
    EXPECT_EQ(8u, Run("/PROD:a"));
    EXPECT_EQ("|A|B|", RecStr(s_szKey, "ProductList"));
    EXPECT_EQ(2u, RecDword("ReferenceCount"));
    EXPECT_EQ("Orvane: Check Name[A] in [|A|B|]\n", LastRunMessages().back());
    EXPECT_EQ(8u, Run(""));
    EXPECT_EQ("|A|B|MORVELIN|", RecStr(s_szKey, "ProductList"));
    EXPECT_EQ(3u, RecDword("ReferenceCount"));
    EXPECT_EQ(1u, RecDword("dwEngIDs"));
    EXPECT_EQ((std::vector<std::string>{"incoming", "logs"}), DirNames(m_strEng));
}

TEST_F(UpdateFlow, InvalidStoredDirectoryEndsWithCode3BeforeAnythingIsCopied)
{
    PlantRecord("relative\\eng", 3, 1, "|A|");
    harness::DeleteMachineValue(s_szKey, "Timeout");

    // The stored value is judged even when the argument names a valid directory.
    EXPECT_EQ(3u, Run("/PROD:B /PATH:" + m_strEng));
    std::vector<std::string> msgs = LastRunMessages();
    ASSERT_GE(msgs.size(), 3u);
    EXPECT_EQ("Orvane: Invalid Scan Engine path [relative\\eng], please try again!!\n",
              msgs[msgs.size() - 3]);
    EXPECT_EQ("Orvane: Invalid ScanEngine Path\n", msgs[msgs.size() - 2]);
    EXPECT_EQ(s_szEnd, msgs.back());
    EXPECT_FALSE(harness::FileExists(m_strEng));
    // Only the time-out of the update start was written.
    EXPECT_EQ(60u, RecDword("Timeout"));
    EXPECT_EQ("|A|", RecStr(s_szKey, "ProductList"));
    EXPECT_EQ(1u, RecDword("ReferenceCount"));
    std::string str;
    EXPECT_FALSE(EnvValue(s_szNtEnvKey, "AVENGINE", &str)) << str;

    // A stored directory without a drive.
    PlantRecord("ab:\\eng", 3, 1, "|A|");
    EXPECT_EQ(3u, Run("/PROD:B"));
    msgs = LastRunMessages();
    ASSERT_GE(msgs.size(), 3u);
    EXPECT_EQ("Orvane: Invalid Scan Engine path [ab:\\eng] from registry, can't copy file \n",
              msgs[msgs.size() - 3]);
}

} // namespace
