// The refresh of staged copies left by earlier runs (UpdateZeroSuffixFiles) over real packages:
// which staged copies are rewritten, and the signature pair copied after each refreshed entry of
// an engine section.
#include "PassFixture.h"

#include <string>
#include <vector>

using namespace deploytest;

namespace
{

class ZeroSuffix : public PassTest
{
  protected:
    std::string VersionLine(const std::string& strPath, const char* pszVersion)
    {
        return "Orvane: File [" + strPath + "] version [" + pszVersion + "]\n";
    }
};

TEST_F(ZeroSuffix, CommonSectionRefreshesOnlyOlderStagedCopies)
{
    g_dwOSType = OSID_W2K;
    WriteManifest("[FILES]\r\n1=NoStage.dll\r\n2=Same.dll\r\n3=Older.dll\r\n4=Osksig.dat\r\n");
    PlaceFile(Pkg("NoStage.dll"), "2.0.0.0", DAY);
    PlaceFile(Pkg("Same.dll"), "1.2.3.4", DAY);
    PlaceFile(Pkg("Older.dll"), "2.0.0.0", DAY);
    PlaceText(Pkg("Osksig.da0"), "pkg da0", DAY);
    PlaceText(Pkg("Osksig.dat"), "pkg dat", DAY);
    PlaceFile(Eng("Older.dll"), "1.0.0.0", 0);
    PlaceFile(Staged("Same.dll"), "1.2.3.4", DAY);
    PlaceFile(Staged("Older.dll"), "1.0.0.0", 0);
    PlaceText(Staged("Osksig.dat"), "old dat", 0);
    std::string strPending = harness::ReadPendingRaw();
    bool bWinInit;
    std::string strWinInit = harness::ReadFileBytes(harness::WinInitPath(), &bWinInit);

    RefreshPass(SECTION_FILES);

    EXPECT_EQ((std::vector<std::string>{
                  "Orvane: Zero Suffix File [" + Staged("NoStage.dll") + "] not found\n",
                  VersionLine(Staged("Same.dll"), "1:2:3:4"),
                  VersionLine(Pkg("Same.dll"), "1:2:3:4"),
                  VersionLine(Staged("Older.dll"), "1:0:0:0"),
                  VersionLine(Pkg("Older.dll"), "2:0:0:0"),
                  "Pelmora's Major version is newer\n",
                  "Orvane: Update ZeroSuffix file successfully\n",
                  "Orvane: File [Osksig.dat] is copied\n",
              }),
              m_msgs);
    EXPECT_FALSE(harness::FileExists(Staged("NoStage.dll")));
    EXPECT_EQ(DllTag("1.2.3.4"), Content(Staged("Same.dll")));
    EXPECT_EQ(DllTag("2.0.0.0"), Content(Staged("Older.dll")));
    EXPECT_EQ("old dat", Content(Staged("Osksig.dat")));
    // No pair in the common section; the installed file is never touched; nothing scheduled.
    EXPECT_FALSE(harness::FileExists(Staged("Osksig.da0")));
    EXPECT_EQ(DllTag("1.0.0.0"), Content(Eng("Older.dll")));
    EXPECT_EQ(strPending, harness::ReadPendingRaw());
    bool bWinInitAfter;
    EXPECT_EQ(strWinInit, harness::ReadFileBytes(harness::WinInitPath(), &bWinInitAfter));
    EXPECT_EQ(bWinInit, bWinInitAfter);
}

TEST_F(ZeroSuffix, EngineSectionWhoseFirstEntryHasNoStagedCopyIsLeftAlone)
{
    g_dwOSType = OSID_W2K;
    WriteManifest("[OSKA]\r\n1=Osk32dll.dll\r\n2=Oskeng.dll\r\n3=Osksig.da0\r\n4=Osksig.dat\r\n");
    PlaceFile(Pkg("Osk32dll.dll"), "2.0.0.0", DAY);
    PlaceFile(Pkg("Oskeng.dll"), "2.0.0.0", DAY);
    PlaceText(Pkg("Osksig.da0"), "pkg da0", DAY);
    PlaceText(Pkg("Osksig.dat"), "pkg dat", DAY);
    PlaceFile(Staged("Oskeng.dll"), "1.0.0.0", 0);

    RefreshPass(SECTION_OSKA);

    EXPECT_EQ((std::vector<std::string>{
                  "Orvane: ShouldCopyEntireSection? [ZeroSuffix files]\n",
                  "Orvane: no files updated in OSKA section, should not copy files over\n"}),
              m_msgs);
    EXPECT_EQ(DllTag("1.0.0.0"), Content(Staged("Oskeng.dll")));
    EXPECT_FALSE(harness::FileExists(Staged("Osk32dll.dll")));
    EXPECT_FALSE(harness::FileExists(Staged("Osksig.da0")));
    EXPECT_FALSE(harness::FileExists(Staged("Osksig.dat")));
}

// What the pass has written of the pair at the moment it asks whether a staged copy exists,
// which it does once per entry: the pair staged copies are then removed (except when the
// question is about one of them), so each record shows the pair copies made since the last one.
struct PROBE
{
    std::string strPath, strDa0, strDat;
    bool operator==(const PROBE& o) const
    {
        return strPath == o.strPath && strDa0 == o.strDa0 && strDat == o.strDat;
    }
};
std::ostream& operator<<(std::ostream& os, const PROBE& p)
{
    return os << "{" << p.strPath << ", " << p.strDa0 << ", " << p.strDat << "}";
}
std::vector<PROBE> g_probes;
std::string g_strPairDa0, g_strPairDat;

std::string ContentOrMissing(const std::string& strPath)
{
    bool bExists = false;
    std::string s = harness::ReadFileBytes(strPath, &bExists);
    return bExists ? s : "-";
}

DWORD WINAPI PairWatchingGetFileAttributesA(LPCSTR pszPath)
{
    g_probes.push_back({pszPath, ContentOrMissing(g_strPairDa0), ContentOrMissing(g_strPairDat)});
    if (g_strPairDa0 != pszPath && g_strPairDat != pszPath)
    {
        DeleteFileA(g_strPairDa0.c_str());
        DeleteFileA(g_strPairDat.c_str());
    }
    return ::GetFileAttributesA(pszPath);
}

TEST_F(ZeroSuffix, EngineSectionRefreshesEveryStagedCopyAndThePairAfterEach)
{
    g_dwOSType = OSID_W2K;
    WriteManifest("[OSKA]\r\n1=Osk32dll.dll\r\n2=Oskeng.dll\r\n3=Osksig.da0\r\n4=Osksig.dat\r\n"
                  "5=Oskmore.dll\r\n");
    PlaceFile(Pkg("Osk32dll.dll"), "2.0.0.0", DAY);
    PlaceFile(Pkg("Oskeng.dll"), "1.9.9.9", DAY);
    PlaceFile(Pkg("Oskmore.dll"), "2.0.0.0", DAY);
    PlaceText(Pkg("Osksig.da0"), "pkg da0", DAY);
    PlaceText(Pkg("Osksig.dat"), "pkg dat", DAY);
    PlaceFile(Eng("Osk32dll.dll"), "1.0.0.0", 0);
    PlaceFile(Staged("Osk32dll.dll"), "1.0.0.0", 0);
    // Newer than the packaged file: refreshed all the same, an engine section has no
    // freshness test once it counts as updated.
    PlaceFile(Staged("Oskeng.dll"), "2.0.0.0", 2 * DAY);
    std::string strPending = harness::ReadPendingRaw();
    g_probes.clear();
    g_strPairDa0 = Staged("Osksig.da0");
    g_strPairDat = Staged("Osksig.dat");
    SeamOverrideGetFileAttributesA(PairWatchingGetFileAttributesA);

    RefreshPass(SECTION_OSKA);
    SeamOverrideGetFileAttributesA(NULL);

    EXPECT_EQ((std::vector<std::string>{
                  "Orvane: ShouldCopyEntireSection? [ZeroSuffix files]\n",
                  VersionLine(Staged("Osk32dll.dll"), "1:0:0:0"),
                  VersionLine(Pkg("Osk32dll.dll"), "2:0:0:0"),
                  "Pelmora's Major version is newer\n",
                  "Orvane: source file " + Pkg("Osk32dll.dll") +
                      " is the latest, copy the entire OSKA section \n",
                  "Orvane: Update ZeroSuffix file successfully\n",
                  "Orvane: Update ZeroSuffix file successfully\n",
                  "Orvane: File [Osksig.da0] is copied\n",
                  "Orvane: File [Osksig.dat] is copied\n",
                  "Orvane: Zero Suffix File [" + Staged("Oskmore.dll") + "] not found\n",
              }),
              m_msgs);
    EXPECT_EQ((std::vector<PROBE>{
                  // The section decision, then the walk.
                  {Staged("Osk32dll.dll"), "-", "-"},
                  {Staged("Osk32dll.dll"), "-", "-"},
                  // Written after the first entry ...
                  {Staged("Oskeng.dll"), "pkg da0", "pkg dat"},
                  // ... and again after the second.
                  {Staged("Osksig.da0"), "pkg da0", "pkg dat"},
                  {Staged("Osksig.dat"), "pkg da0", "pkg dat"},
                  {Staged("Oskmore.dll"), "pkg da0", "pkg dat"},
              }),
              g_probes);
    // Not after an entry without a staged copy.
    EXPECT_FALSE(harness::FileExists(Staged("Osksig.da0")));
    EXPECT_FALSE(harness::FileExists(Staged("Osksig.dat")));
    EXPECT_EQ(DllTag("2.0.0.0"), Content(Staged("Osk32dll.dll")));
    EXPECT_EQ(DllTag("1.9.9.9"), Content(Staged("Oskeng.dll")));
    EXPECT_FALSE(harness::FileExists(Staged("Oskmore.dll")));
    EXPECT_EQ(DllTag("1.0.0.0"), Content(Eng("Osk32dll.dll")));
    EXPECT_EQ(strPending, harness::ReadPendingRaw());
}

TEST_F(ZeroSuffix, BrinPairIsCopiedEvenWhenTheRefreshFails)
{
    REQUIRE_WINE();
    g_dwOSType = OSID_W2K;
    WriteManifest("[BRIN]\r\n1=Brine.dll\r\n2=Brin.da1\r\n3=Brin.dat\r\n");
    PlaceFile(Pkg("Brine.dll"), "2.0.0.0", DAY);
    PlaceText(Pkg("Brin.da1"), "pkg da1", DAY);
    PlaceText(Pkg("Brin.dat"), "pkg dat", DAY);
    PlaceFile(Staged("Brine.dll"), "1.0.0.0", 0);
    PlaceText(Staged("Brin.da1"), "old da1", 0);
    std::string strPending = harness::ReadPendingRaw();
    Hold(Staged("Brine.dll"));

    RefreshPass(SECTION_BRIN);

    ASSERT_GE(m_msgs.size(), 3u);
    EXPECT_EQ((std::vector<std::string>{"Orvane: Update ZeroSuffix file fails due to 32\n",
                                        "Orvane: File [Brin.da1] is copied\n",
                                        "Orvane: File [Brin.dat] is copied\n"}),
              std::vector<std::string>(m_msgs.end() - 3, m_msgs.end()));
    ReleaseAll();
    EXPECT_EQ(DllTag("1.0.0.0"), Content(Staged("Brine.dll")));
    // Overwritten where it existed, created where it did not; nothing scheduled for either.
    EXPECT_EQ("pkg da1", Content(Staged("Brin.da1")));
    EXPECT_EQ("pkg dat", Content(Staged("Brin.dat")));
    EXPECT_EQ(strPending, harness::ReadPendingRaw());
}

TEST_F(ZeroSuffix, PassesWithoutAnEngineDirectoryDoNothing)
{
    WriteManifest("[FILES]\r\n1=Common.dll\r\n");
    PlaceFile(Pkg("Common.dll"), "2.0.0.0", DAY);
    BOOL bNeedReboot = FALSE;
    for (const char* pszEng : {(const char*)NULL, ""})
    {
        BeginCase("no engine directory");
        UpdateZeroSuffixFiles(pszEng, SECTION_FILES);
        CopySectionFiles(pszEng, SECTION_FILES, &bNeedReboot);
        EXPECT_EQ((std::vector<std::string>{"Orvane: missing scan engine path\n",
                                            "Orvane: missing scan engine path\n"}),
                  CaseMessages());
    }
    EXPECT_FALSE(bNeedReboot);
}

} // namespace
