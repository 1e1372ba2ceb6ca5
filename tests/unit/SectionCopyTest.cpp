// The copy pass over real packages under Wine: files held open so that the copy over them fails,
// staged copies and their replacement requests in PendingFileRenameOperations or WININIT.INI,
// the restart (wineboot -r) carrying them out, and the engine directory fitted to the platform.
#include "PassFixture.h"

#include "reboot/reboot.h"

#include <string>
#include <vector>

using namespace deploytest;

namespace
{

// The deletion is recorded for real, the rename is refused.
BOOL WINAPI RenameRefusingMoveFileExA(LPCSTR pszExisting, LPCSTR pszNew, DWORD dwFlags)
{
    if (pszNew == NULL)
        return ::MoveFileExA(pszExisting, pszNew, dwFlags);
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

// Fails for the path g_strNoShortName; the rest go to the real call.
std::string g_strNoShortName;
DWORD WINAPI PickyGetShortPathNameA(LPCSTR pszLong, LPSTR pszShort, DWORD cch)
{
    if (g_strNoShortName == pszLong)
    {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    return ::GetShortPathNameA(pszLong, pszShort, cch);
}

const char s_szOska[] = "[OSKA]\r\n1=Osk32dll.dll\r\n2=Osksig.da0\r\n3=Osksig.dat\r\n";
const char* const s_apszNot9x[] = {"Morcmd.exe",  "Morcmd.dat",   "MorSig.vxd",
                                   "MorSigV.vxd", "Tarn_dyn.vxd", "salvor.exe"};

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class SectionCopy : public PassTest
{
  protected:
    // An OSKA package newer than the installed engine: the DLL by version, the pair by time.
    void MakeOska(const char* pszPkgVersion = "2.0.0.0", const std::string& strTag = "new",
                  LONGLONG llPkgTime = DAY)
    {
        WriteManifest(s_szOska);
        PlaceFile(Pkg("Osk32dll.dll"), pszPkgVersion, llPkgTime);
        PlaceText(Pkg("Osksig.da0"), strTag + " da0", llPkgTime);
        PlaceText(Pkg("Osksig.dat"), strTag + " dat", llPkgTime);
        if (!harness::FileExists(Eng("Osk32dll.dll")))
        {
            PlaceFile(Eng("Osk32dll.dll"), "1.0.0.0", 0);
            PlaceText(Eng("Osksig.da0"), "old da0", 0);
            PlaceText(Eng("Osksig.dat"), "old dat", 0);
        }
    }
    // The installed files as they were; the DLL can be read only once it is let go.
    void ExpectOldInstalled()
    {
        if (m_held.empty())
        {
            EXPECT_EQ(DllTag("1.0.0.0"), Content(Eng("Osk32dll.dll")));
        }
        EXPECT_EQ("old da0", Content(Eng("Osksig.da0")));
        EXPECT_EQ("old dat", Content(Eng("Osksig.dat")));
    }
    void ExpectStaged(const char* pszVersion, const std::string& strTag)
    {
        EXPECT_EQ(DllTag(pszVersion), Content(Staged("Osk32dll.dll")));
        EXPECT_EQ(strTag + " da0", Content(Staged("Osksig.da0")));
        EXPECT_EQ(strTag + " dat", Content(Staged("Osksig.dat")));
    }
    void ExpectReplacedAfterRestart(const char* pszVersion, const std::string& strTag)
    {
        ReleaseAll();
        EXPECT_EQ(DllTag("1.0.0.0"), Content(Eng("Osk32dll.dll")));
        ASSERT_TRUE(harness::Restart());
        EXPECT_EQ(DllTag(pszVersion), Content(Eng("Osk32dll.dll")));
        EXPECT_EQ(strTag + " da0", Content(Eng("Osksig.da0")));
        EXPECT_EQ(strTag + " dat", Content(Eng("Osksig.dat")));
        for (const char* psz : {"Osk32dll.dll", "Osksig.da0", "Osksig.dat"})
            EXPECT_FALSE(harness::FileExists(Staged(psz))) << psz;
    }
    // The lines that show the DLL staged with its pair, each scheduled, in this order, and the
    // installed data files skipped.
    std::vector<std::string> StagedInOrderLines()
    {
        return {CantCopyLine("Osk32dll.dll"),
                RequestLine("Osk32dll.dll"),
                RequestLine("Osksig.da0"),
                RequestLine("Osksig.dat"),
                "Orvane: File [Osksig.da0] is copied.\n",
                "Orvane: File [Osksig.dat] is copied.\n"};
    }
    void PlaceNot9xFiles()
    {
        for (const char* psz : s_apszNot9x)
            PlaceText(Eng(psz), std::string("9x file ") + psz, 0);
    }
};

// ---------------------------------------------------------------------------------------------
// Files in use on Windows 2000 and Windows 98, through to the restart.

TEST_F(SectionCopy, W2kDllInUseIsStagedWithItsPairAndTheRestartPutsThemInPlace)
{
    REQUIRE_WINE();
    MakeOska();
    std::vector<std::string> before = harness::ReadPendingRenames();
    bool bWinInit;
    std::string strWinInit = harness::ReadFileBytes(harness::WinInitPath(), &bWinInit);
    g_dwOSType = OSID_W2K;
    Hold(Eng("Osk32dll.dll"));

    EXPECT_TRUE(CopyPass(SECTION_OSKA));

    ExpectOldInstalled();
    ExpectStaged("2.0.0.0", "new");
    EXPECT_TRUE(InOrder(m_msgs, StagedInOrderLines()));
    EXPECT_EQ(3, CountOf(m_msgs, "RemoveFileOnReboot: MoveFileEx\n"));
    EXPECT_EQ(3, CountPrefix(m_msgs, "RemoveFileOnReboot: from "));
    EXPECT_EQ(0, CountPrefix(m_msgs, "Orvane: File Copy from "));
    // The snapshot was empty of these targets.
    EXPECT_EQ(0, CountPrefix(m_msgs, "Orvane: file "));

    DWORD dwType;
    std::vector<std::string> after = harness::ReadPendingRenames(&dwType);
    EXPECT_EQ((DWORD)REG_MULTI_SZ, dwType);
    EXPECT_EQ(
        Concat(before, Concat(PendingRequest("Osk32dll.dll"),
                              Concat(PendingRequest("Osksig.da0"), PendingRequest("Osksig.dat")))),
        after);
    bool bWinInitAfter;
    EXPECT_EQ(strWinInit, harness::ReadFileBytes(harness::WinInitPath(), &bWinInitAfter));
    EXPECT_EQ(bWinInit, bWinInitAfter);

    ExpectReplacedAfterRestart("2.0.0.0", "new");
}

TEST_F(SectionCopy, Win98DllInUseGoesToWinInitAndTheRestartCarriesOutTheRenameSection)
{
    REQUIRE_WINE();
    MakeOska();
    DeleteFileA(harness::WinInitPath().c_str());
    std::string strPending = harness::ReadPendingRaw();
    g_dwOSType = OSID_W98;
    SeamOverrideMoveFileExA(NoDelayedMoveFileExA);
    Hold(Eng("Osk32dll.dll"));

    EXPECT_TRUE(CopyPass(SECTION_OSKA));

    ExpectOldInstalled();
    ExpectStaged("2.0.0.0", "new");
    const std::string strWinInitLine =
        "Orvane: get wininit file from " + harness::WinInitPath() + "\n";
    EXPECT_TRUE(
        InOrder(m_msgs, {CantCopyLine("Osk32dll.dll"), strWinInitLine,
                         "Orvane: wininit file not found.\n", RequestLine("Osk32dll.dll"),
                         "RemoveFileOnReboot: Win9x\n", strWinInitLine, RequestLine("Osksig.da0"),
                         "RemoveFileOnReboot: Win9x\n", strWinInitLine, RequestLine("Osksig.dat"),
                         "RemoveFileOnReboot: Win9x\n", "Orvane: File [Osksig.da0] is copied.\n",
                         "Orvane: File [Osksig.dat] is copied.\n"}));
    EXPECT_EQ(3, CountOf(m_msgs, "RemoveFileOnReboot: Win9x\n"));
    EXPECT_EQ(0, CountPrefix(m_msgs, "Orvane: file "));
    // A missing file is created with the header; each request's deletion line stands above its
    // rename line, and each later request above the earlier ones.
    EXPECT_EQ("[Rename]\r\n" + WinInitRequest("Osksig.dat") + WinInitRequest("Osksig.da0") +
                  WinInitRequest("Osk32dll.dll"),
              harness::ReadFileBytes(harness::WinInitPath()));
    EXPECT_EQ(strPending, harness::ReadPendingRaw());
    // Windows 98: no Morcmd.exe in the engine directory, so no Probit.exe either.
    EXPECT_FALSE(harness::FileExists(Eng("Probit.exe")));

    ExpectReplacedAfterRestart("2.0.0.0", "new");
}

// ---------------------------------------------------------------------------------------------
// CanYouFindMe within a pass.

TEST_F(SectionCopy, NtTargetScheduledByAnEarlierRunGetsNoSecondRequest)
{
    REQUIRE_WINE();
    g_dwOSType = OSID_W2K;
    MakeOska("1.9.9.9", "first");
    Hold(Eng("Osk32dll.dll"));
    EXPECT_TRUE(CopyPass(SECTION_OSKA));
    ExpectStaged("1.9.9.9", "first");
    std::string strPending = harness::ReadPendingRaw();

    // A later run with a newer package, the engine still in use: the staged copies are brought
    // up to date, the requests of the earlier run stand.
    MakeOska("2.0.0.0", "second", 2 * DAY);
    EXPECT_TRUE(CopyPass(SECTION_OSKA));

    ExpectOldInstalled();
    ExpectStaged("2.0.0.0", "second");
    EXPECT_EQ(0, CountPrefix(m_msgs, "RemoveFileOnReboot: "));
    EXPECT_TRUE(InOrder(
        m_msgs,
        {"Orvane: ShouldCopyEntireSection? [ZeroSuffix files]\n",
         "Orvane: source file " + Pkg("Osk32dll.dll") +
             " is the latest, copy the entire OSKA section \n",
         CantCopyLine("Osk32dll.dll"),
         "Orvane: ZeroSuffix file " + Staged("Osk32dll.dll") + " exists\n",
         "Orvane: file " + harness::ShortUpper(Eng("Osk32dll.dll")) + " is already in reg\n",
         "Orvane: file " + harness::ShortUpper(Eng("Osksig.da0")) + " is already in reg\n",
         "Orvane: file " + harness::ShortUpper(Eng("Osksig.dat")) + " is already in reg\n",
         "Orvane: File [Osksig.da0] is copied.\n", "Orvane: File [Osksig.dat] is copied.\n"}));
    EXPECT_EQ(strPending, harness::ReadPendingRaw());

    ExpectReplacedAfterRestart("2.0.0.0", "second");
}

TEST_F(SectionCopy, Win98TargetScheduledByAnEarlierRunGetsNoSecondRequest)
{
    REQUIRE_WINE();
    g_dwOSType = OSID_W98;
    SeamOverrideMoveFileExA(NoDelayedMoveFileExA);
    DeleteFileA(harness::WinInitPath().c_str());
    MakeOska("1.9.9.9", "first");
    Hold(Eng("Osk32dll.dll"));
    EXPECT_TRUE(CopyPass(SECTION_OSKA));
    std::string strWinInit = harness::ReadFileBytes(harness::WinInitPath());
    ASSERT_EQ("[Rename]\r\n" + WinInitRequest("Osksig.dat") + WinInitRequest("Osksig.da0") +
                  WinInitRequest("Osk32dll.dll"),
              strWinInit);

    MakeOska("2.0.0.0", "second", 2 * DAY);
    EXPECT_TRUE(CopyPass(SECTION_OSKA));

    ExpectStaged("2.0.0.0", "second");
    EXPECT_EQ(0, CountPrefix(m_msgs, "RemoveFileOnReboot: "));
    EXPECT_TRUE(InOrder(
        m_msgs, {"Orvane: file " + harness::ShortUpper(Eng("Osk32dll.dll")) + " is in wininit\n",
                 "Orvane: file " + harness::ShortUpper(Eng("Osksig.da0")) + " is in wininit\n",
                 "Orvane: file " + harness::ShortUpper(Eng("Osksig.dat")) + " is in wininit\n"}));
    EXPECT_EQ(strWinInit, harness::ReadFileBytes(harness::WinInitPath()));

    ExpectReplacedAfterRestart("2.0.0.0", "second");
}

// Once the section counts as updated against its staged copies, every file in use is staged from
// the package, even over a staged copy that is newer than the packaged file: the section's
// staged copies must come from one package.
TEST_F(SectionCopy, EngineSectionUpdatedAgainstItsStagedCopiesRestagesEveryFileInUse)
{
    REQUIRE_WINE();
    g_dwOSType = OSID_W2K;
    MakeOska();
    WriteManifest("[OSKA]\r\n1=Osk32dll.dll\r\n2=Oskeng.dll\r\n3=Osksig.da0\r\n4=Osksig.dat\r\n");
    PlaceFile(Pkg("Oskeng.dll"), "1.9.9.9", DAY);
    PlaceFile(Eng("Oskeng.dll"), "1.0.0.0", 0);
    PlaceFile(Staged("Osk32dll.dll"), "1.9.9.9", 0);
    PlaceFile(Staged("Oskeng.dll"), "2.0.0.0", 3 * DAY);
    std::vector<std::string> before = harness::ReadPendingRenames();
    Hold(Eng("Osk32dll.dll"));
    Hold(Eng("Oskeng.dll"));

    EXPECT_TRUE(CopyPass(SECTION_OSKA));

    EXPECT_TRUE(InOrder(m_msgs, {"Orvane: source file " + Pkg("Osk32dll.dll") +
                                     " is the latest, copy the entire OSKA section \n",
                                 CantCopyLine("Oskeng.dll"),
                                 "Orvane: ZeroSuffix file " + Staged("Oskeng.dll") + " exists\n",
                                 RequestLine("Oskeng.dll")}));
    EXPECT_EQ(DllTag("1.9.9.9"), Content(Staged("Oskeng.dll")));
    EXPECT_EQ(
        Concat(before, Concat(Concat(PendingRequest("Osk32dll.dll"), PendingRequest("Osksig.da0")),
                              Concat(PendingRequest("Osksig.dat"), PendingRequest("Oskeng.dll")))),
        harness::ReadPendingRenames());

    ExpectReplacedAfterRestart("2.0.0.0", "new");
    EXPECT_EQ(DllTag("1.9.9.9"), Content(Eng("Oskeng.dll")));
}

// Both engine DLLs in use stage the signature pair twice in one pass.
TEST_F(SectionCopy, NtSnapshotMissesWhatThePassScheduledButEachRequestIsRecordedOnce)
{
    REQUIRE_WINE();
    g_dwOSType = OSID_W2K;
    MakeOska();
    WriteManifest("[OSKA]\r\n1=Osk32dll.dll\r\n2=Osk64dll.dll\r\n3=Osksig.da0\r\n4=Osksig.dat\r\n");
    PlaceFile(Pkg("Osk64dll.dll"), "2.0.0.0", DAY);
    PlaceFile(Eng("Osk64dll.dll"), "1.0.0.0", 0);
    std::vector<std::string> before = harness::ReadPendingRenames();
    Hold(Eng("Osk32dll.dll"));
    Hold(Eng("Osk64dll.dll"));

    EXPECT_TRUE(CopyPass(SECTION_OSKA));

    const std::string strDa0 = harness::ShortUpper(Eng("Osksig.da0"));
    const std::string strDat = harness::ShortUpper(Eng("Osksig.dat"));
    EXPECT_TRUE(InOrder(m_msgs, {RequestLine("Osk32dll.dll"), RequestLine("Osksig.da0"),
                                 RequestLine("Osksig.dat"), RequestLine("Osk64dll.dll"),
                                 RequestLine("Osksig.da0"),
                                 "RemoveFileOnReboot: [" + strDa0 + "] already pending\n",
                                 RequestLine("Osksig.dat"),
                                 "RemoveFileOnReboot: [" + strDat + "] already pending\n"}));
    // The snapshot predates the pass's own requests.
    EXPECT_EQ(0, CountPrefix(m_msgs, "Orvane: file "));
    EXPECT_EQ(Concat(before,
                     Concat(Concat(PendingRequest("Osk32dll.dll"), PendingRequest("Osksig.da0")),
                            Concat(PendingRequest("Osksig.dat"), PendingRequest("Osk64dll.dll")))),
              harness::ReadPendingRenames());

    ExpectReplacedAfterRestart("2.0.0.0", "new");
    EXPECT_EQ(DllTag("2.0.0.0"), Content(Eng("Osk64dll.dll")));
    EXPECT_FALSE(harness::FileExists(Staged("Osk64dll.dll")));
}

TEST_F(SectionCopy, Win98RereadFileFindsWhatThePassScheduled)
{
    REQUIRE_WINE();
    g_dwOSType = OSID_W98;
    SeamOverrideMoveFileExA(NoDelayedMoveFileExA);
    DeleteFileA(harness::WinInitPath().c_str());
    MakeOska();
    WriteManifest("[OSKA]\r\n1=Osk32dll.dll\r\n2=Osk64dll.dll\r\n3=Osksig.da0\r\n4=Osksig.dat\r\n");
    PlaceFile(Pkg("Osk64dll.dll"), "2.0.0.0", DAY);
    PlaceFile(Eng("Osk64dll.dll"), "1.0.0.0", 0);
    Hold(Eng("Osk32dll.dll"));
    Hold(Eng("Osk64dll.dll"));

    EXPECT_TRUE(CopyPass(SECTION_OSKA));

    const std::string strDa0 = harness::ShortUpper(Eng("Osksig.da0"));
    const std::string strDat = harness::ShortUpper(Eng("Osksig.dat"));
    EXPECT_TRUE(InOrder(m_msgs, {RequestLine("Osk32dll.dll"), RequestLine("Osksig.da0"),
                                 RequestLine("Osksig.dat"), RequestLine("Osk64dll.dll"),
                                 "Orvane: file " + strDa0 + " is in wininit\n",
                                 "Orvane: file " + strDat + " is in wininit\n"}));
    EXPECT_EQ(4, CountPrefix(m_msgs, "RemoveFileOnReboot: from "));
    EXPECT_EQ("[Rename]\r\n" + WinInitRequest("Osk64dll.dll") + WinInitRequest("Osksig.dat") +
                  WinInitRequest("Osksig.da0") + WinInitRequest("Osk32dll.dll"),
              harness::ReadFileBytes(harness::WinInitPath()));

    ExpectReplacedAfterRestart("2.0.0.0", "new");
    EXPECT_EQ(DllTag("2.0.0.0"), Content(Eng("Osk64dll.dll")));
}

// A value that needs the heap: the pass takes it whole, finds the earlier run's request at its
// end and frees the buffer as its last step.
TEST_F(SectionCopy, NtLargePendingValueIsReadWholeAndFreedAtTheEnd)
{
    REQUIRE_WINE();
    g_dwOSType = OSID_W2K;
    MakeOska();
    // Requests of other programs (deletions of files that do not exist), then the earlier
    // run's request for the DLL, past the first 1280 bytes.
    std::vector<std::wstring> value;
    for (int i = 0; i < 40; i++)
    {
        value.push_back(L"\\??\\C:\\nonexistent\\other" + std::to_wstring(i) + L".tmp");
        value.push_back(L"");
    }
    // The earlier run's staged copy, older than the package: it is staged anew, not scheduled.
    PlaceFile(Staged("Osk32dll.dll"), "1.9.9.9", 0);
    for (const std::string& s : PendingRequest("Osk32dll.dll"))
        value.push_back(std::wstring(s.begin(), s.end()));
    harness::WritePendingRenames(value);
    size_t cbValue = harness::ReadPendingRaw().size() / 2;
    ASSERT_GT(cbValue, (size_t)REGBUF_SIZE);
    Hold(Eng("Osk32dll.dll"));

    EXPECT_TRUE(CopyPass(SECTION_OSKA));

    const std::string strIncrease =
        "Orvane: increase RegBuf length to [" + std::to_string(cbValue) + "]\n";
    EXPECT_TRUE(InOrder(m_msgs, {strIncrease,
                                 "Orvane: file " + harness::ShortUpper(Eng("Osk32dll.dll")) +
                                     " is already in reg\n",
                                 RequestLine("Osksig.da0"), RequestLine("Osksig.dat")}));
    EXPECT_EQ(1, CountOf(m_msgs, strIncrease));
    EXPECT_EQ("Orvane: free RegBuf\n", m_msgs.back());
    EXPECT_EQ(2, CountPrefix(m_msgs, "RemoveFileOnReboot: from "));

    ExpectReplacedAfterRestart("2.0.0.0", "new");
}

// ---------------------------------------------------------------------------------------------
// The faults mended in src/reboot, as a pass meets them.

TEST_F(SectionCopy, NtRefusedRenameWithdrawsTheDeletionAndTheRestartUsesWinInit)
{
    REQUIRE_WINE();
    g_dwOSType = OSID_W2K;
    MakeOska();
    DeleteFileA(harness::WinInitPath().c_str());
    std::string strPending = harness::ReadPendingRaw();
    SeamOverrideMoveFileExA(RenameRefusingMoveFileExA);
    Hold(Eng("Osk32dll.dll"));

    EXPECT_TRUE(CopyPass(SECTION_OSKA));

    EXPECT_EQ(strPending, harness::ReadPendingRaw());
    EXPECT_EQ("[Rename]\r\n" + WinInitRequest("Osksig.dat") + WinInitRequest("Osksig.da0") +
                  WinInitRequest("Osk32dll.dll"),
              harness::ReadFileBytes(harness::WinInitPath()));
    EXPECT_EQ(3, CountPrefix(m_msgs, "RemoveFileOnReboot: deletion of ["));
    EXPECT_EQ(3, CountOf(m_msgs, "RemoveFileOnReboot: Win9x\n"));

    ExpectReplacedAfterRestart("2.0.0.0", "new");
}

TEST_F(SectionCopy, Win98WinInitHeldOpenRecordsNothingAndTheRestartDeletesNothing)
{
    REQUIRE_WINE();
    g_dwOSType = OSID_W98;
    SeamOverrideMoveFileExA(NoDelayedMoveFileExA);
    MakeOska();
    const std::string strWinInit = "[Rename]\r\n";
    ASSERT_TRUE(harness::WriteFileBytes(harness::WinInitPath(), strWinInit));
    std::string strPending = harness::ReadPendingRaw();
    Hold(Eng("Osk32dll.dll"));
    Hold(harness::WinInitPath());

    EXPECT_TRUE(CopyPass(SECTION_OSKA));

    ReleaseAll();
    EXPECT_EQ(strWinInit, harness::ReadFileBytes(harness::WinInitPath()));
    EXPECT_EQ(strPending, harness::ReadPendingRaw());
    EXPECT_EQ(3, CountOf(m_msgs, "RemoveFileOnReboot: Win9x\n"));
    ExpectStaged("2.0.0.0", "new");

    // Nothing was recorded: the installed files survive the restart with their old content.
    ASSERT_TRUE(harness::Restart());
    ExpectOldInstalled();
    ExpectStaged("2.0.0.0", "new");
}

TEST_F(SectionCopy, ShortNameThatCannotBeHadLeavesThatFileUnscheduled)
{
    REQUIRE_WINE();
    g_dwOSType = OSID_W2K;
    MakeOska();
    std::vector<std::string> before = harness::ReadPendingRenames();
    SeamOverrideGetShortPathNameA(PickyGetShortPathNameA);
    g_strNoShortName = Staged("Osk32dll.dll");
    Hold(Eng("Osk32dll.dll"));

    EXPECT_TRUE(CopyPass(SECTION_OSKA));
    g_strNoShortName.clear();

    EXPECT_TRUE(
        InOrder(m_msgs, {"Orvane: GetShortPathName szFile:" + Staged("Osk32dll.dll") + " fail: 2\n",
                         "Orvane: GetShortPathName " + harness::ShortName(Eng("Osk32dll.dll")) +
                             " of szEngFile:" + Eng("Osk32dll.dll") + " \n",
                         RequestLine("Osksig.da0"), RequestLine("Osksig.dat")}));
    EXPECT_EQ(2, CountPrefix(m_msgs, "RemoveFileOnReboot: from "));
    // The pair's requests name the pair's own files.
    EXPECT_EQ(Concat(before, Concat(PendingRequest("Osksig.da0"), PendingRequest("Osksig.dat"))),
              harness::ReadPendingRenames());
    ExpectStaged("2.0.0.0", "new");

    ReleaseAll();
    ASSERT_TRUE(harness::Restart());
    // The DLL keeps its old content, with its staged copy beside it for a later run.
    EXPECT_EQ(DllTag("1.0.0.0"), Content(Eng("Osk32dll.dll")));
    EXPECT_EQ(DllTag("2.0.0.0"), Content(Staged("Osk32dll.dll")));
    EXPECT_EQ("new da0", Content(Eng("Osksig.da0")));
    EXPECT_EQ("new dat", Content(Eng("Osksig.dat")));
}

// An engine directory at the edge of MAX_PATH: paths that fit are used whole, an entry whose
// staged name would not fit is skipped with a line, and nothing reaches past a buffer.
TEST_F(SectionCopy, LongEngineDirectoryUsesPathsThatFitAndSkipsTheOthers)
{
    REQUIRE_WINE();
    g_dwOSType = OSID_W2K;
    MakeOska();
    std::string strBase = harness::TestDir() + "\\";
    for (size_t cchEng : {(size_t)243, (size_t)244})
    {
        SCOPED_TRACE(cchEng);
        harness::ResetState();
        // "Osk32dll.dll000" after the directory and a backslash: 259 characters fit, 260 not.
        std::string strEng = strBase + std::string(cchEng - strBase.size(), 'e');
        ASSERT_EQ(cchEng, strEng.size());
        ASSERT_TRUE(CreateDirectoryA(strEng.c_str(), NULL)) << GetLastError();
        std::string strDll = strEng + "\\Osk32dll.dll";
        PlaceFile(strDll, "1.0.0.0", 0);
        PlaceText(strEng + "\\Osksig.da0", "old da0", 0);
        PlaceText(strEng + "\\Osksig.dat", "old dat", 0);
        std::vector<std::string> before = harness::ReadPendingRenames();
        HANDLE h = Hold(strDll);

        EXPECT_EQ(cchEng == 243, CopyPass(SECTION_OSKA, FALSE, strEng) != FALSE);

        if (cchEng == 243)
        {
            EXPECT_TRUE(InOrder(m_msgs, {RequestLine("Osk32dll.dll", strEng),
                                         RequestLine("Osksig.da0", strEng),
                                         RequestLine("Osksig.dat", strEng)}));
            EXPECT_EQ(before.size() + 12, harness::ReadPendingRenames().size());
            CloseHandle(h);
            m_held.clear();
            ASSERT_TRUE(harness::Restart());
            EXPECT_EQ(DllTag("2.0.0.0"), Content(strDll));
            EXPECT_EQ("new da0", Content(strEng + "\\Osksig.da0"));
            EXPECT_FALSE(harness::FileExists(strDll + "000"));
        }
        else
        {
            // Skipped by both section decisions and by the walk.
            EXPECT_EQ(3, CountOf(m_msgs, "Orvane: file [Osk32dll.dll] in OSKA section makes a "
                                         "path too long, skipped\n"));
            EXPECT_EQ(0, CountPrefix(m_msgs, "RemoveFileOnReboot: "));
            EXPECT_EQ(before, harness::ReadPendingRenames());
            // The rest of the section is copied over the installed files.
            EXPECT_EQ("new da0", Content(strEng + "\\Osksig.da0"));
            EXPECT_EQ("new dat", Content(strEng + "\\Osksig.dat"));
            ReleaseAll();
            EXPECT_EQ(DllTag("1.0.0.0"), Content(strDll));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Files that are never staged, and the end of the pass on each platform.

TEST_F(SectionCopy, W2kMorcmdInUseSetsTheFlagStagesNothingAndIsRemovedAtTheEnd)
{
    REQUIRE_WINE();
    g_dwOSType = OSID_W2K;
    // The exclusion is case-blind: "MORCMD.DAT" is not staged either.
    WriteManifest("[FILES]\r\n1=Morcmd.exe\r\n2=MORCMD.DAT\r\n");
    PlaceText(Pkg("Morcmd.exe"), "new scanner", DAY);
    PlaceText(Pkg("MORCMD.DAT"), "new scanner data", DAY);
    PlaceText(Eng("Morcmd.exe"), "old scanner", 0);
    PlaceText(Eng("MORCMD.DAT"), "old scanner data", 0);
    std::string strPending = harness::ReadPendingRaw();
    // In use, but open to deletion (as a file mapped by a running program is not): the copy
    // over it fails, the deletion at the end of the pass takes effect once it is let go.
    Hold(Eng("Morcmd.exe"), FILE_SHARE_READ | FILE_SHARE_DELETE);
    Hold(Eng("MORCMD.DAT"), FILE_SHARE_READ | FILE_SHARE_DELETE);

    EXPECT_TRUE(CopyPass(SECTION_FILES));

    EXPECT_TRUE(InOrder(m_msgs, {CantCopyLine("Morcmd.exe"), CantCopyLine("MORCMD.DAT")}));
    EXPECT_EQ(m_msgs.back(), CantCopyLine("MORCMD.DAT"));
    EXPECT_EQ(0, CountPrefix(m_msgs, "Orvane: GetShortPathName"));
    EXPECT_FALSE(harness::FileExists(Staged("Morcmd.exe")));
    EXPECT_FALSE(harness::FileExists(Staged("MORCMD.DAT")));
    EXPECT_EQ(strPending, harness::ReadPendingRaw());
    ReleaseAll();
    EXPECT_FALSE(harness::FileExists(Eng("Morcmd.exe")));
    EXPECT_FALSE(harness::FileExists(Eng("MORCMD.DAT")));

    // Held with share mode 0 the deletion fails as the copy did; its result is ignored.
    harness::ResetState();
    PlaceText(Eng("Morcmd.exe"), "old scanner", 0);
    Hold(Eng("Morcmd.exe"));
    EXPECT_TRUE(CopyPass(SECTION_FILES));
    ReleaseAll();
    EXPECT_EQ("old scanner", Content(Eng("Morcmd.exe")));
    EXPECT_FALSE(harness::FileExists(Staged("Morcmd.exe")));
    EXPECT_FALSE(harness::FileExists(Eng("MORCMD.DAT")));
}

TEST_F(SectionCopy, UnknownPlatformStagesNothingAndRemovesTheSixFiles)
{
    g_dwOSType = OSID_UNKNOWN;
    MakeOska();
    PlaceNot9xFiles();
    std::string strPending = harness::ReadPendingRaw();
    bool bWinInit;
    std::string strWinInit = harness::ReadFileBytes(harness::WinInitPath(), &bWinInit);
    Hold(Eng("Osk32dll.dll"));

    EXPECT_TRUE(CopyPass(SECTION_OSKA));

    EXPECT_EQ(CantCopyLine("Osk32dll.dll"), m_msgs[m_msgs.size() - 3]);
    // Nothing was staged, so the pair is copied over the installed one.
    EXPECT_EQ(CopiedLine("Osksig.da0"), m_msgs[m_msgs.size() - 2]);
    EXPECT_EQ(CopiedLine("Osksig.dat"), m_msgs[m_msgs.size() - 1]);
    EXPECT_FALSE(harness::FileExists(Staged("Osk32dll.dll")));
    EXPECT_FALSE(harness::FileExists(Staged("Osksig.da0")));
    EXPECT_EQ(strPending, harness::ReadPendingRaw());
    bool bWinInitAfter;
    EXPECT_EQ(strWinInit, harness::ReadFileBytes(harness::WinInitPath(), &bWinInitAfter));
    EXPECT_EQ(bWinInit, bWinInitAfter);
    for (const char* psz : s_apszNot9x)
        EXPECT_FALSE(harness::FileExists(Eng(psz))) << psz;
}

TEST_F(SectionCopy, EndOfPassFitsTheEngineDirectoryToThePlatform)
{
    WriteManifest("[FILES]\r\n[OSKA]\r\n1=Morcmd.exe\r\n");
    struct
    {
        DWORD dwOS;
        bool bProbit;  // Probit.exe made from Morcmd.exe
        bool bRemoved; // the six files removed
    } cases[] = {
        {OSID_W95, true, false},     {OSID_W98, true, false}, {OSID_WME, false, false},
        {OSID_NT351, false, true},   {OSID_NT4, false, true}, {OSID_W2K, false, true},
        {OSID_UNKNOWN, false, true},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.dwOS);
        harness::ResetState();
        g_dwOSType = c.dwOS;
        PlaceNot9xFiles();
        PlaceText(Eng("Probit.exe"), "old probit", 0);
        PlaceText(Pkg("Morcmd.exe"), "9x file Morcmd.exe", 0);

        // An engine section with nothing newer ends before the end of the pass.
        EXPECT_FALSE(CopyPass(SECTION_OSKA));
        EXPECT_EQ("Orvane: no files updated in OSKA section, should not copy files over\n",
                  m_msgs.back());
        EXPECT_EQ("old probit", Content(Eng("Probit.exe")));
        for (const char* psz : s_apszNot9x)
            EXPECT_TRUE(harness::FileExists(Eng(psz))) << psz;

        // An empty common section reaches it.
        EXPECT_FALSE(CopyPass(SECTION_FILES));
        EXPECT_EQ(c.bProbit ? "9x file Morcmd.exe" : "old probit", Content(Eng("Probit.exe")));
        for (const char* psz : s_apszNot9x)
            EXPECT_EQ(!c.bRemoved, harness::FileExists(Eng(psz))) << psz;
        EXPECT_TRUE(m_msgs.empty()) << JoinLines(m_msgs);

        // So does every engine pass that copies: on 95/98 Probit.exe follows the new scanner.
        PlaceText(Pkg("Morcmd.exe"), "new scanner", DAY);
        EXPECT_FALSE(CopyPass(SECTION_OSKA));
        if (c.bProbit)
        {
            EXPECT_EQ("new scanner", Content(Eng("Morcmd.exe")));
            EXPECT_EQ("new scanner", Content(Eng("Probit.exe")));
        }
        else if (c.dwOS == OSID_WME)
        {
            EXPECT_EQ("new scanner", Content(Eng("Morcmd.exe")));
            EXPECT_EQ("old probit", Content(Eng("Probit.exe")));
        }
    }

    // Windows 98 without Morcmd.exe in the engine directory: Probit.exe is left as it is.
    harness::ResetState();
    g_dwOSType = OSID_W98;
    DeleteFileA(Eng("Morcmd.exe").c_str());
    PlaceText(Eng("Probit.exe"), "old probit", 0);
    EXPECT_FALSE(CopyPass(SECTION_FILES));
    EXPECT_EQ("old probit", Content(Eng("Probit.exe")));
    EXPECT_FALSE(harness::FileExists(Eng("Morcmd.exe")));
}

// ---------------------------------------------------------------------------------------------
// The common section: file by file, with the staged copies of earlier runs.

TEST_F(SectionCopy, CommonSectionCopiesNewerFilesAndRefreshesOnlyOlderStagedCopies)
{
    g_dwOSType = OSID_W2K;
    WriteManifest("[FILES]\r\n1=Latest.dll\r\n2=Common.dll\r\n3=Next.dll\r\n");
    PlaceFile(Pkg("Latest.dll"), "1.2.3.4", 0);
    PlaceFile(Eng("Latest.dll"), "1.2.3.4", 0);
    PlaceFile(Pkg("Common.dll"), "2.0.0.0", DAY);
    PlaceFile(Eng("Common.dll"), "1.0.0.0", 0);
    PlaceFile(Staged("Common.dll"), "1.0.0.0", 0);
    PlaceFile(Pkg("Next.dll"), "1.9.9.9", DAY);
    PlaceFile(Eng("Next.dll"), "1.0.0.0", 0);
    PlaceFile(Staged("Next.dll"), "2.0.0.0", 2 * DAY);
    PlaceNot9xFiles();
    std::string strPending = harness::ReadPendingRaw();

    EXPECT_FALSE(CopyPass(SECTION_FILES));

    auto version = [](const std::string& strPath, const char* pszVer)
    { return "Orvane: File [" + strPath + "] version [" + pszVer + "]\n"; };
    EXPECT_EQ((std::vector<std::string>{
                  version(Eng("Latest.dll"), "1:2:3:4"),
                  version(Pkg("Latest.dll"), "1:2:3:4"),
                  "Orvane: File [" + Eng("Latest.dll") + "] is the latest one\n",
                  version(Eng("Common.dll"), "1:0:0:0"),
                  version(Pkg("Common.dll"), "2:0:0:0"),
                  "Pelmora's Major version is newer\n",
                  CopiedLine("Common.dll"),
                  "Orvane: ZeroSuffix file " + Staged("Common.dll") + " exists\n",
                  version(Staged("Common.dll"), "1:0:0:0"),
                  version(Eng("Common.dll"), "2:0:0:0"),
                  "Pelmora's Major version is newer\n",
                  "Orvane: Should overwrite ZeroSuffix file " + Staged("Common.dll") + "\n",
                  "Orvane: Update ZeroSuffix file successfully\n",
                  version(Eng("Next.dll"), "1:0:0:0"),
                  version(Pkg("Next.dll"), "1:9:9:9"),
                  "Pelmora's Major version is newer\n",
                  CopiedLine("Next.dll"),
                  "Orvane: ZeroSuffix file " + Staged("Next.dll") + " exists\n",
                  version(Staged("Next.dll"), "2:0:0:0"),
                  version(Eng("Next.dll"), "1:9:9:9"),
                  "Orvane: Shouldn't overwrite exsiting " + Staged("Next.dll") + "\n",
              }),
              m_msgs);
    EXPECT_EQ(DllTag("1.2.3.4"), Content(Eng("Latest.dll")));
    EXPECT_EQ(DllTag("2.0.0.0"), Content(Eng("Common.dll")));
    EXPECT_EQ(DllTag("2.0.0.0"), Content(Staged("Common.dll")));
    EXPECT_EQ(DllTag("1.9.9.9"), Content(Eng("Next.dll")));
    EXPECT_EQ(DllTag("2.0.0.0"), Content(Staged("Next.dll")));
    EXPECT_FALSE(harness::FileExists(Staged("Latest.dll")));
    EXPECT_EQ(strPending, harness::ReadPendingRaw());
    for (const char* psz : s_apszNot9x)
        EXPECT_FALSE(harness::FileExists(Eng(psz))) << psz;

    // Everything up to date now: "is the latest one" for each, nothing copied, and a flag that
    // was set stays set.
    EXPECT_TRUE(CopyPass(SECTION_FILES, TRUE));
    EXPECT_TRUE(InOrder(m_msgs, {"Orvane: File [" + Eng("Latest.dll") + "] is the latest one\n",
                                 "Orvane: File [" + Eng("Common.dll") + "] is the latest one\n",
                                 "Orvane: File [" + Eng("Next.dll") + "] is the latest one\n"}));
    EXPECT_EQ(0, CountPrefix(m_msgs, "Orvane: File Copy"));
    EXPECT_EQ(0, CountPrefix(m_msgs, "Orvane: ZeroSuffix"));
}

TEST_F(SectionCopy, CommonSectionFileInUseNextToAStagedCopy)
{
    REQUIRE_WINE();
    g_dwOSType = OSID_W2K;
    WriteManifest("[FILES]\r\n1=Common.dll\r\n");
    PlaceFile(Pkg("Common.dll"), "2.0.0.0", DAY);
    PlaceFile(Eng("Common.dll"), "1.0.0.0", 0);
    std::vector<std::string> before = harness::ReadPendingRenames();
    Hold(Eng("Common.dll"));

    // A staged copy that is not older than the packaged file stands: nothing copied, and the
    // flag is set. A stopped run may have left it without its request, so it is scheduled
    // (once: a second pass finds the request and adds none).
    PlaceFile(Staged("Common.dll"), "2.0.0.0", DAY);
    std::string strStanding = Content(Staged("Common.dll"));
    EXPECT_TRUE(CopyPass(SECTION_FILES));
    EXPECT_TRUE(InOrder(m_msgs, {"Orvane: ZeroSuffix file " + Staged("Common.dll") + " exists\n",
                                 RequestLine("Common.dll")}));
    EXPECT_EQ(strStanding, Content(Staged("Common.dll")));
    EXPECT_EQ(Concat(before, PendingRequest("Common.dll")), harness::ReadPendingRenames());
    EXPECT_TRUE(CopyPass(SECTION_FILES));
    EXPECT_EQ(Concat(before, PendingRequest("Common.dll")), harness::ReadPendingRenames());
    harness::WritePendingRenames({});
    before = harness::ReadPendingRenames();

    // An older one is replaced and scheduled.
    PlaceFile(Staged("Common.dll"), "1.9.9.9", 0);
    EXPECT_TRUE(CopyPass(SECTION_FILES));
    EXPECT_TRUE(InOrder(m_msgs, {CantCopyLine("Common.dll"),
                                 "Orvane: ZeroSuffix file " + Staged("Common.dll") + " exists\n",
                                 "Pelmora's Major version is newer\n", RequestLine("Common.dll"),
                                 "RemoveFileOnReboot: MoveFileEx\n"}));
    EXPECT_EQ(DllTag("2.0.0.0"), Content(Staged("Common.dll")));
    EXPECT_EQ(Concat(before, PendingRequest("Common.dll")), harness::ReadPendingRenames());

    ReleaseAll();
    ASSERT_TRUE(harness::Restart());
    EXPECT_EQ(DllTag("2.0.0.0"), Content(Eng("Common.dll")));
    EXPECT_FALSE(harness::FileExists(Staged("Common.dll")));
}

TEST_F(SectionCopy, DeviceNamesInTheManifestAreRefusedAndNothingIsReportedCopied)
{
    // A device name opens the device in any directory and with any extension: the copy would
    // "succeed" into the null device or send the file to a port, and an engine section would
    // count as updated on a file that is not there.
    const char* const apszDevices[] = {"nul.dll",  "NUL",      "Con",     "aux.txt", "COM1",
                                       "lpt1.dll", "PRN .dll", "CONOUT$", "sub\\nul"};
    for (int nSection : {SECTION_FILES, SECTION_OSKA})
    {
        SCOPED_TRACE(nSection);
        g_dwOSType = OSID_W2K;
        std::string strText = std::string("[") + GetSectionName(nSection) + "]\r\n";
        int n = 0;
        for (const char* psz : apszDevices)
            strText += "d" + std::to_string(n++) + "=" + psz + "\r\n";
        strText += "c=Common.dll\r\n";
        WriteManifest(strText);
        PlaceText(Pkg("Common.dll"), "new common", DAY);
        PlaceText(Eng("Common.dll"), "old common", 0);

        CopyPass(nSection);

        // Every walk logs its refusals: the engine section is walked three times.
        for (const char* psz : apszDevices)
            EXPECT_EQ(nSection == SECTION_OSKA ? 3 : 1,
                      CountOf(m_msgs, std::string("Orvane: file [") + psz + "] in " +
                                          GetSectionLabel(nSection) +
                                          " section would leave its directory, refused\n"))
                << psz;
        EXPECT_EQ(1, CountPrefix(m_msgs, "Orvane: File Copy from ["));
        EXPECT_EQ(1, CountOf(m_msgs, CopiedLine("Common.dll")));
        // The engine section counts as updated on the one real file only.
        EXPECT_EQ(nSection == SECTION_OSKA ? 1 : 0, CountPrefix(m_msgs, "Orvane: source file "));
        if (nSection == SECTION_OSKA)
        {
            EXPECT_EQ(1, CountOf(m_msgs, "Orvane: source file " + Pkg("Common.dll") +
                                             " is the latest, copy the entire OSKA section \n"));
        }
        EXPECT_EQ("new common", Content(Eng("Common.dll")));
    }
    for (const char* psz : {"COM10", "NULL.dll", "conx", "console.dll", "LPT0", "xnul.dll", "aux_"})
    {
        SCOPED_TRACE(psz);
        EXPECT_TRUE(IsContainedFileName(psz));
    }
}

// A staged DLL that stands keeps the staged pair it was staged with, and its requests; a DLL
// whose staged pair is not whole (a run stopped between the two) is staged again with this
// package's pair.
TEST_F(SectionCopy, StagedDllThatStandsKeepsItsPairUnlessThePairIsNotWhole)
{
    REQUIRE_WINE();
    g_dwOSType = OSID_W2K;
    struct Case
    {
        bool bDa0, bDat; // staged pair files left by the earlier run
        bool bKept;
    } const cases[] = {{true, true, true}, {true, false, false}, {false, false, false}};
    for (const Case& c : cases)
    {
        SCOPED_TRACE(std::string("staged da0 ") + (c.bDa0 ? "left" : "missing") + ", dat " +
                     (c.bDat ? "left" : "missing"));
        harness::WritePendingRenames({});
        MakeOska("1.9.9.9", "new", DAY);
        PlaceFile(Staged("Osk32dll.dll"), "2.0.0.0", 2 * DAY);
        DeleteFileA(Staged("Osksig.da0").c_str());
        DeleteFileA(Staged("Osksig.dat").c_str());
        if (c.bDa0)
            PlaceText(Staged("Osksig.da0"), "staged da0", 2 * DAY);
        if (c.bDat)
            PlaceText(Staged("Osksig.dat"), "staged dat", 2 * DAY);
        Hold(Eng("Osk32dll.dll"));

        EXPECT_TRUE(CopyPass(SECTION_OSKA));
        ReleaseAll();
        if (c.bKept)
        {
            EXPECT_EQ(DllTag("2.0.0.0"), Content(Staged("Osk32dll.dll")));
            EXPECT_EQ("staged da0", Content(Staged("Osksig.da0")));
            EXPECT_EQ("staged dat", Content(Staged("Osksig.dat")));
        }
        else
        {
            ExpectStaged("1.9.9.9", "new");
        }
        EXPECT_TRUE(InOrder(m_msgs, StagedInOrderLines()));
        EXPECT_EQ(Concat(Concat(PendingRequest("Osk32dll.dll"), PendingRequest("Osksig.da0")),
                         PendingRequest("Osksig.dat")),
                  harness::ReadPendingRenames());
        ExpectOldInstalled();
    }
}

// A section copy that a stopped run began and did not finish leaves its marker, and the next
// pass copies that section whole although nothing in it is newer, once. A pass that is not
// stopped leaves no marker, and a directory of the marker's name is no marker.
TEST_F(SectionCopy, UnfinishedSectionCopyIsCopiedWholeOnce)
{
    REQUIRE_WINE();
    g_dwOSType = OSID_W2K;
    const std::string strMarker = Eng("~PMOSKA.TMP");
    const std::string strUnfinished = "Orvane: copy of the OSKA section was begun and not "
                                      "finished, copy the entire OSKA section\n";
    const std::string strNothing =
        "Orvane: no files updated in OSKA section, should not copy files over\n";
    MakeOska();
    CopyPass(SECTION_OSKA);
    EXPECT_EQ(1, CountOf(m_msgs, CopiedLine("Osksig.dat")));
    EXPECT_FALSE(harness::FileExists(strMarker));

    // The pair rebuilt earlier than the installed one: not newer, but the marker says the copy
    // was not finished.
    MakeOska("2.0.0.0", "rebuilt", -DAY);
    PlaceText(strMarker, "", 0);
    CopyPass(SECTION_OSKA);
    EXPECT_TRUE(InOrder(m_msgs, {strUnfinished, CopiedLine("Osk32dll.dll"),
                                 CopiedLine("Osksig.da0"), CopiedLine("Osksig.dat")}));
    EXPECT_EQ("rebuilt da0", Content(Eng("Osksig.da0")));
    EXPECT_FALSE(harness::FileExists(strMarker));
    CopyPass(SECTION_OSKA);
    EXPECT_EQ(1, CountOf(m_msgs, strNothing));

    ASSERT_TRUE(CreateDirectoryA(strMarker.c_str(), NULL));
    CopyPass(SECTION_OSKA);
    EXPECT_EQ(1, CountOf(m_msgs, strNothing));
    EXPECT_EQ(0, CountOf(m_msgs, strUnfinished));
    EXPECT_TRUE(harness::FileExists(strMarker));
    RemoveDirectoryA(strMarker.c_str());
}

class CopyWorkFile : public UnitTest
{
};

TEST_F(CopyWorkFile, ALinkAtItsNameIsNotWrittenThrough)
{
    // Between the pass's clean-up and a copy, someone who may write to the engine directory puts
    // a hard link to a file of theirs under the work file's name.
    const std::string strDir = harness::TestDir();
    const std::string strOther = strDir + "\\other.txt", strTarget = strDir + "\\Brine.dll";
    ASSERT_TRUE(harness::WriteFileBytes(strOther, "not the engine's"));
    ASSERT_TRUE(harness::WriteFileBytes(strDir + "\\new.dll", "new engine"));
    ASSERT_TRUE(harness::WriteFileBytes(strTarget, "old engine"));
    ASSERT_TRUE(CreateHardLinkA((strDir + "\\~PMCOPY.TMP").c_str(), strOther.c_str(), NULL))
        << GetLastError();
    EXPECT_TRUE(CopyOverSafely((strDir + "\\new.dll").c_str(), strTarget.c_str()));
    EXPECT_EQ("not the engine's", harness::ReadFileBytes(strOther));
    EXPECT_EQ("new engine", harness::ReadFileBytes(strTarget));
    EXPECT_FALSE(harness::FileExists(strDir + "\\~PMCOPY.TMP"));
}

// Wine reports no reparse points: the file of this identity is reported as one.
BY_HANDLE_FILE_INFORMATION g_fiReparse;

BOOL WINAPI ReparseFileInformation(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION pfi)
{
    if (!GetFileInformationByHandle(hFile, pfi))
        return FALSE;
    if (pfi->nFileIndexLow == g_fiReparse.nFileIndexLow &&
        pfi->nFileIndexHigh == g_fiReparse.nFileIndexHigh)
        pfi->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    return TRUE;
}

// In an engine directory that was open to others, a target that is a link (another name of a
// file elsewhere, or a reparse point) is removed as the link before the copy makes a file of its
// own; the file it led to is never touched. Elsewhere the copies look at no file first.
TEST_F(CopyWorkFile, ATargetThatIsALinkIsRemovedAsTheLinkWhereTheDirectoryWasOpen)
{
    const std::string strDir = harness::TestDir();
    const std::string strOther = strDir + "\\other.txt", strTarget = strDir + "\\Brine.dll";
    ASSERT_TRUE(harness::WriteFileBytes(strDir + "\\new.dll", "new engine"));
    struct
    {
        const char* pszCase;
        BOOL bGuard;
        bool bReparse;
    } cases[] = {
        {"a hard link, the directory closed", FALSE, false},
        {"a hard link, the directory found open", TRUE, false},
        {"a reparse point, the directory found open", TRUE, true},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszCase);
        DeleteFileA(strTarget.c_str());
        DeleteFileA(harness::LogPath().c_str());
        g_nLogState = -1;
        ASSERT_TRUE(harness::WriteFileBytes(strOther, "not the engine's"));
        if (c.bReparse)
        {
            ASSERT_TRUE(harness::WriteFileBytes(strTarget, "a link"));
            HANDLE h =
                CreateFileA(strTarget.c_str(), 0, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
            ASSERT_TRUE(GetFileInformationByHandle(h, &g_fiReparse));
            CloseHandle(h);
            SeamOverrideGetFileInformationByHandle(ReparseFileInformation);
        }
        else
        {
            ASSERT_TRUE(CreateHardLinkA(strTarget.c_str(), strOther.c_str(), NULL));
        }
        // The log exists before the link goes, or it might be made with the link's freed
        // identity and be taken for the fake's reparse point.
        WriteLog("copy\n");
        g_bGuardEngineFiles = c.bGuard;
        EXPECT_TRUE(CopyOverSafely((strDir + "\\new.dll").c_str(), strTarget.c_str()));
        SeamOverrideGetFileInformationByHandle(NULL);
        EXPECT_EQ("not the engine's", harness::ReadFileBytes(strOther));
        EXPECT_EQ("new engine", harness::ReadFileBytes(strTarget));
        std::vector<std::string> lines = {"copy\n"};
        if (c.bGuard)
            lines.push_back("Orvane: [" + strTarget + "] is a link, the link removed\n");
        EXPECT_EQ(lines, harness::LastRunMessages());
    }
}

} // namespace
