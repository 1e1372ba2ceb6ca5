// The manifest walk and the whole-section decision over real packages: FileList.ini read by the
// platform's profile reader, files with real versions and times, the log as written.
#include "UnitFixture.h"

#include "DeployFiles.h"
#include "deploy/deploy.h"

#include <string>
#include <vector>

using namespace deploytest;

namespace
{

class Manifest : public UnitTest
{
  protected:
    void SetUp() override
    {
        UnitTest::SetUp();
        GetCurrentDirectoryA(sizeof(m_szSavedDir), m_szSavedDir);
        m_strPkg = harness::TestDir() + "\\pkg";
        m_strEng = harness::TestDir() + "\\engine";
        CreateDirectoryA(m_strPkg.c_str(), NULL);
        CreateDirectoryA(m_strEng.c_str(), NULL);
        ASSERT_TRUE(SetCurrentDirectoryA(m_strPkg.c_str()));
        lstrcpynA(g_szFileList, (m_strPkg + "\\FileList.ini").c_str(), MAX_PATH);
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(m_szSavedDir);
        UnitTest::TearDown();
    }
    void WriteManifest(const std::string& strText)
    {
        ASSERT_TRUE(harness::WriteFileBytes(m_strPkg + "\\FileList.ini", strText));
    }
    std::string Pkg(const std::string& strName) const
    {
        return m_strPkg + "\\" + strName;
    }
    std::string Eng(const std::string& strName) const
    {
        return m_strEng + "\\" + strName;
    }
    char m_szSavedDir[MAX_PATH];
    std::string m_strPkg, m_strEng;
};

BOOL CollectNames(const MANIFEST_ENTRY* pEntry, void* pContext)
{
    ((std::vector<std::string>*)pContext)->push_back(pEntry->szName);
    return TRUE;
}

std::vector<std::string> WalkNames(const std::string& strEng, int nSection)
{
    std::vector<std::string> names;
    EXPECT_TRUE(WalkManifestSection(strEng.c_str(), nSection, CollectNames, &names));
    return names;
}

const char s_szOskaManifest[] = "[FILES]\r\nf1=Common.dll\r\n"
                                "[OSKA]\r\n"
                                "1=Osk32dll.dll\r\n"
                                "2=Osksig.da0\r\n"
                                "3=Osksig.dat\r\n"
                                "4=Osk64dll.dll\r\n"
                                "5=Morcmd.exe\r\n"
                                "[BRIN]\r\nb1=Brine.dll\r\n";

TEST_F(Manifest, WalkGivesEntriesInFileOrderWithTheirPaths)
{
    WriteManifest("; a comment line\r\n[oska]\r\nz = Osk32dll.dll \r\na=Osksig.dat\r\n"
                  "m=Brin.dat\r\n[Files]\r\nk=Common.dll\r\n");
    std::vector<MANIFEST_ENTRY> entries;
    auto collect = [](const MANIFEST_ENTRY* p, void* pv) -> BOOL
    {
        ((std::vector<MANIFEST_ENTRY>*)pv)->push_back(*p);
        return TRUE;
    };
    EXPECT_TRUE(WalkManifestSection(m_strEng.c_str(), SECTION_OSKA, collect, &entries));
    ASSERT_EQ(3u, entries.size());
    EXPECT_STREQ("Osk32dll.dll", entries[0].szName);
    EXPECT_STREQ("Osksig.dat", entries[1].szName);
    EXPECT_STREQ("Brin.dat", entries[2].szName);
    EXPECT_EQ(Pkg("Osksig.dat"), entries[1].szSource);
    EXPECT_EQ(Eng("Osksig.dat"), entries[1].szTarget);
    EXPECT_EQ(Eng("Osksig.dat000"), entries[1].szStaged);
    EXPECT_EQ(std::vector<std::string>{"Common.dll"}, WalkNames(m_strEng, SECTION_FILES));
    EXPECT_TRUE(WalkNames(m_strEng, SECTION_BRIN).empty());
    EXPECT_TRUE(harness::LastRunMessages().empty());

    // Each walk reads the file anew.
    WriteManifest("[BRIN]\r\nx=Brine.dll\r\n");
    EXPECT_EQ(std::vector<std::string>{"Brine.dll"}, WalkNames(m_strEng, SECTION_BRIN));
    EXPECT_TRUE(WalkNames(m_strEng, SECTION_OSKA).empty());

    // The callback ends a walk.
    WriteManifest(s_szOskaManifest);
    int nCalls = 0;
    auto stopAtSecond = [](const MANIFEST_ENTRY*, void* pv) -> BOOL { return ++*(int*)pv < 2; };
    EXPECT_FALSE(WalkManifestSection(m_strEng.c_str(), SECTION_OSKA, stopAtSecond, &nCalls));
    EXPECT_EQ(2, nCalls);
}

TEST_F(Manifest, EntriesThatWouldLeaveTheirDirectoryAreRefused)
{
    const char* const apszBad[] = {"..\\Osk32dll.dll",
                                   "C:\\Windows\\evil.dll",
                                   "c:evil.dll",
                                   "\\evil.dll",
                                   "/evil.dll",
                                   "sub\\..\\..\\x",
                                   "a/../../x",
                                   "..",
                                   ".. \\x",
                                   "x\\...\\y",
                                   "Osksig.dat:stream",
                                   "\\\\server\\x"};
    std::string strText = "[OSKA]\r\n";
    int n = 0;
    for (const char* pszBad : apszBad)
        strText += "bad" + std::to_string(n++) + "=" + pszBad + "\r\n";
    strText += "good=Osksig.dat\r\nempty=\r\nok2=sub\\Osksig.dat\r\n";
    WriteManifest(strText);

    EXPECT_EQ((std::vector<std::string>{"Osksig.dat", "sub\\Osksig.dat"}),
              WalkNames(m_strEng, SECTION_OSKA));
    std::vector<std::string> expected;
    for (const char* pszBad : apszBad)
        expected.push_back(std::string("Orvane: file [") + pszBad +
                           "] in OSKA section would leave its directory, refused\n");
    expected.push_back("Orvane: key [empty] in OSKA section names no file, skipped\n");
    EXPECT_EQ(expected, harness::LastRunMessages());

    for (const char* pszBad : apszBad)
    {
        SCOPED_TRACE(pszBad);
        EXPECT_FALSE(IsContainedFileName(pszBad));
    }
    for (const char* pszGood : {"Osksig.dat", "a.b.c", ".hidden", "sub\\x.dll", "x..y"})
    {
        SCOPED_TRACE(pszGood);
        EXPECT_TRUE(IsContainedFileName(pszGood));
    }
}

TEST_F(Manifest, EntryWhosePathsWouldNotFitIsSkipped)
{
    // An engine directory such that the staged name of a 10-character file name fills MAX_PATH
    // exactly (259 characters and the NUL); one character more does not fit.
    std::string strEng = m_strEng + "\\";
    strEng += std::string(MAX_PATH - 1 - 14 - strEng.size(), 'e');
    ASSERT_EQ((size_t)MAX_PATH - 1, strEng.size() + 1 + 10 + 3);
    WriteManifest("[BRIN]\r\n1=Brine.dll1\r\n2=Brine.dll12\r\n3=Brin.dat\r\n");

    EXPECT_EQ((std::vector<std::string>{"Brine.dll1", "Brin.dat"}),
              WalkNames(strEng, SECTION_BRIN));
    EXPECT_EQ(
        std::vector<std::string>{
            "Orvane: file [Brine.dll12] in BRIN section makes a path too long, skipped\n"},
        harness::LastRunMessages());

    // A value longer than its buffer is cut by the reader and then cannot fit either.
    g_nLogState = -1;
    std::string strLong(400, 'v');
    WriteManifest("[FILES]\r\n1=" + strLong + "\r\n2=Common.dll\r\n");
    EXPECT_EQ(std::vector<std::string>{"Common.dll"}, WalkNames(m_strEng, SECTION_FILES));
    std::vector<std::string> msgs = harness::LastRunMessages();
    ASSERT_EQ(1u, msgs.size());
    EXPECT_EQ(0u, msgs[0].find("Orvane: file [vvvv"));
    EXPECT_NE(std::string::npos, msgs[0].find("] in Common Section section makes a path too long"));

    char sz[MAX_PATH];
    EXPECT_TRUE(JoinEntryPath(sz, "D:\\", "Brine.dll", "000"));
    EXPECT_STREQ("D:\\Brine.dll000", sz);
    EXPECT_FALSE(JoinEntryPath(sz, strEng.c_str(), "Brine.dll12", "000"));
    EXPECT_STREQ("", sz);
}

TEST_F(Manifest, SectionBeyondTheKeyListLimitWalksOnlyTheNamesThatArrived)
{
    // Two-character names take three characters each: 86 fit in the list of 260.
    std::string strText = "[OSKA]\r\n";
    std::vector<std::string> all;
    for (int i = 10; i < 100; i++)
    {
        strText += std::to_string(i) + "=f" + std::to_string(i) + ".dat\r\n";
        all.push_back("f" + std::to_string(i) + ".dat");
    }
    WriteManifest(strText);
    std::vector<std::string> names = WalkNames(m_strEng, SECTION_OSKA);
    EXPECT_EQ(std::vector<std::string>(all.begin(), all.begin() + 86), names);
    // A name cut in two names no entry: it is logged, never taken for another key.
    // The list ended between two names: nothing was cut, nothing logged.
    EXPECT_TRUE(harness::LastRunMessages().empty());

    // Exactly at the limit: 86 names and nothing cut.
    g_nLogState = -1;
    strText = "[OSKA]\r\n";
    for (int i = 10; i < 96; i++)
        strText += std::to_string(i) + "=f" + std::to_string(i) + ".dat\r\n";
    WriteManifest(strText);
    EXPECT_EQ(std::vector<std::string>(all.begin(), all.begin() + 86),
              WalkNames(m_strEng, SECTION_OSKA));
    EXPECT_TRUE(harness::LastRunMessages().empty());

    // Three-character names (four characters each): 64 arrive whole, the 65th arrives cut to
    // "k7" and ends the list. The cut name is no key of the section: logged, not walked, and
    // nothing after it is read.
    g_nLogState = -1;
    strText = "[OSKA]\r\n";
    all.clear();
    for (int i = 10; i < 100; i++)
    {
        strText += "k" + std::to_string(i) + "=f" + std::to_string(i) + ".dat\r\n";
        all.push_back("f" + std::to_string(i) + ".dat");
    }
    WriteManifest(strText);
    EXPECT_EQ(std::vector<std::string>(all.begin(), all.begin() + 64),
              WalkNames(m_strEng, SECTION_OSKA));
    EXPECT_EQ(std::vector<std::string>{"Orvane: key [k7] in OSKA section names no file, skipped\n"},
              harness::LastRunMessages());
}

TEST_F(Manifest, MissingManifestSectionOrEntriesDecideNothingNewer)
{
    PlaceFile(Pkg("Osksig.dat"), "text", HOUR);
    struct
    {
        const char* pszName;
        const char* pszManifest; // nullptr: no FileList.ini at all
    } cases[] = {{"no manifest", nullptr},
                 {"no section", "[FILES]\r\n1=Osksig.dat\r\n"},
                 {"empty section", "[OSKA]\r\n[BRIN]\r\n1=Osksig.dat\r\n"}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        DeleteFileA((m_strPkg + "\\FileList.ini").c_str());
        if (c.pszManifest)
            WriteManifest(c.pszManifest);
        BeginCase(c.pszName);
        EXPECT_EQ(0, ShouldCopyEntireSection(m_strEng.c_str(), SECTION_OSKA, FALSE));
        EXPECT_EQ((std::vector<std::string>{
                      "Orvane: ShouldCopyEntireSection? [FILE]\n",
                      "Orvane: no files updated in OSKA section, should not copy files over\n"}),
                  CaseMessages());
    }
    // The manifest is only read.
    EXPECT_EQ(cases[2].pszManifest, harness::ReadFileBytes(m_strPkg + "\\FileList.ini"));
}

TEST_F(Manifest, OnlyOsksigDatNewerCopiesTheOskaSection)
{
    WriteManifest(s_szOskaManifest);
    for (const char* pszName : {"Osk32dll.dll", "Osk64dll.dll"})
    {
        PlaceFile(Pkg(pszName), "1.2.3.4", 0);
        PlaceFile(Eng(pszName), "1.2.3.4", 0);
    }
    for (const char* pszName : {"Osksig.da0", "Morcmd.exe"})
    {
        PlaceFile(Pkg(pszName), "text", 0);
        PlaceFile(Eng(pszName), "text", 0);
    }
    PlaceFile(Pkg("Osksig.dat"), "text", HOUR);
    PlaceFile(Eng("Osksig.dat"), "text", 0);

    g_dwOSType = OSID_W2K;
    BeginCase("plain");
    EXPECT_EQ(1, ShouldCopyEntireSection(m_strEng.c_str(), SECTION_OSKA, FALSE));
    std::vector<std::string> msgs = CaseMessages();
    ASSERT_FALSE(msgs.empty());
    EXPECT_EQ("Orvane: ShouldCopyEntireSection? [FILE]\n", msgs.front());
    EXPECT_EQ("Orvane: source file " + Pkg("Osksig.dat") +
                  " is the latest, copy the entire OSKA section \n",
              msgs.back());
    // The walk stops there: the entries after it are not examined.
    for (const std::string& s : msgs)
        EXPECT_EQ(std::string::npos, s.find("Osk64dll.dll")) << s;

    // With Osksig.dat equal as well, nothing is newer.
    PlaceFile(Eng("Osksig.dat"), "text", HOUR);
    BeginCase("all equal");
    EXPECT_EQ(0, ShouldCopyEntireSection(m_strEng.c_str(), SECTION_OSKA, FALSE));
    msgs = CaseMessages();
    ASSERT_FALSE(msgs.empty());
    EXPECT_EQ("Orvane: no files updated in OSKA section, should not copy files over\n",
              msgs.back());
    EXPECT_NE(-1, harness::FindPrefix(msgs, "Orvane: File [" + Eng("Osk64dll.dll")));
}

TEST_F(Manifest, NineXOnlyFilesDoNotCountOnNtFamily)
{
    PlaceFile(Pkg("Osk32dll.dll"), "1.2.3.4", 0);
    PlaceFile(Eng("Osk32dll.dll"), "1.2.3.4", 0);
    for (const char* pszName : {"Morcmd.exe", "morcmd.EXE", "Morcmd.dat", "MorSig.vxd",
                                "MorSigV.vxd", "Tarn_dyn.vxd", "salvor.exe"})
    {
        PlaceFile(Pkg(pszName), "text", HOUR);
        PlaceFile(Eng(pszName), "text", 0);
    }
    struct
    {
        const char* pszFile;
        DWORD dwOSType;
        int nExpected;
    } cases[] = {
        {"Morcmd.exe", OSID_W2K, 0},     {"Morcmd.exe", OSID_NT4, 0},
        {"Morcmd.exe", OSID_NT351, 0},   {"Morcmd.exe", OSID_W98, 1},
        {"Morcmd.exe", OSID_W95, 1},     {"Morcmd.exe", OSID_WME, 1},
        {"Morcmd.exe", OSID_UNKNOWN, 1}, {"morcmd.EXE", OSID_W2K, 1},
        {"Morcmd.dat", OSID_W2K, 0},     {"MorSig.vxd", OSID_NT4, 0},
        {"MorSigV.vxd", OSID_W2K, 0},    {"Tarn_dyn.vxd", OSID_NT351, 0},
        {"salvor.exe", OSID_W2K, 1},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(std::string(c.pszFile) + " on " + std::to_string(c.dwOSType));
        WriteManifest(std::string("[OSKA]\r\n1=Osk32dll.dll\r\n2=") + c.pszFile + "\r\n");
        g_dwOSType = c.dwOSType;
        BeginCase(c.pszFile);
        EXPECT_EQ(c.nExpected, ShouldCopyEntireSection(m_strEng.c_str(), SECTION_OSKA, FALSE));
        std::vector<std::string> msgs = CaseMessages();
        // The file goes through the freshness test (and its time lines) either way.
        EXPECT_NE(-1, harness::FindPrefix(msgs, "Orvane: Source file time ["));
        ASSERT_FALSE(msgs.empty());
        EXPECT_EQ(c.nExpected ? "Orvane: source file " + Pkg(c.pszFile) +
                                    " is the latest, copy the entire OSKA section \n"
                              : "Orvane: no files updated in OSKA section, should not copy files "
                                "over\n",
                  msgs.back());
    }
}

TEST_F(Manifest, ZeroSuffixModeEndsAtTheFirstEntryWithoutAStagedCopy)
{
    WriteManifest("[BRIN]\r\n1=Brine.dll\r\n2=Brin.da1\r\n3=Brin.dat\r\n");
    PlaceFile(Pkg("Brine.dll"), "1.2.3.5", 0);
    PlaceFile(Pkg("Brin.da1"), "text", HOUR);
    PlaceFile(Pkg("Brin.dat"), "text", HOUR);
    // The installed files are all older: plain mode would say 1; only staged copies count here.
    PlaceFile(Eng("Brine.dll"), "1.0.0.0", 0);
    PlaceFile(Eng("Brin.da1"), "text", 0);
    PlaceFile(Eng("Brin.dat"), "text", 0);
    g_dwOSType = OSID_W2K;

    struct
    {
        const char* pszName;
        const char* apszStaged[3]; // version or "text" of Brine.dll000, Brin.da1000, Brin.dat000
        LONGLONG allStagedTimes[3];
        int nExpected;
        int nVersionLines; // the entries examined show as version lines
    } cases[] = {
        {"first without staged copy, later ones older", {nullptr, "text", "text"}, {0, 0, 0}, 0, 0},
        {"all staged, none older", {"1.2.3.5", "text", "text"}, {0, HOUR, HOUR}, 0, 2},
        {"all staged, first older", {"1.2.3.4", "text", "text"}, {0, HOUR, HOUR}, 1, 2},
        {"second missing, third older", {"1.2.3.5", nullptr, "text"}, {0, 0, 0}, 0, 2},
        {"only the third older, by one tick",
         {"1.2.3.5", "text", "text"},
         {0, HOUR, HOUR - 1},
         1,
         2},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        const char* apszFiles[] = {"Brine.dll000", "Brin.da1000", "Brin.dat000"};
        for (int i = 0; i < 3; i++)
            PlaceFile(Eng(apszFiles[i]), c.apszStaged[i], c.allStagedTimes[i]);
        BeginCase(c.pszName);
        EXPECT_EQ(c.nExpected, ShouldCopyEntireSection(m_strEng.c_str(), SECTION_BRIN, TRUE));
        std::vector<std::string> msgs = CaseMessages();
        ASSERT_FALSE(msgs.empty());
        EXPECT_EQ("Orvane: ShouldCopyEntireSection? [ZeroSuffix files]\n", msgs.front());
        int nVersionLines = 0;
        for (const std::string& s : msgs)
            if (s.find("Orvane: File [") == 0)
                nVersionLines++;
        EXPECT_EQ(c.nVersionLines, nVersionLines);
        if (c.nExpected)
        {
            EXPECT_EQ(0u, msgs.back().find("Orvane: source file " + m_strPkg + "\\Brin"));
        }
        else
        {
            EXPECT_EQ("Orvane: no files updated in BRIN section, should not copy files over\n",
                      msgs.back());
        }
    }

    // Nothing on disk changed: the installed files are as placed.
    WIN32_FILE_ATTRIBUTE_DATA fad;
    ASSERT_TRUE(GetFileAttributesExA(Eng("Brin.dat").c_str(), GetFileExInfoStandard, &fad));
    FILETIME ft = TimeAt(0);
    EXPECT_EQ(0, CompareFileTime(&ft, &fad.ftLastWriteTime));
}

} // namespace

namespace
{

TEST_F(Manifest, BundledSamplePackageIsCompleteWithRealVersions)
{
    std::string strSample = harness::BuildDir() + "\\sample";
    ASSERT_TRUE(SetCurrentDirectoryA(strSample.c_str()));
    lstrcpynA(g_szFileList, (strSample + "\\FileList.ini").c_str(), MAX_PATH);

    const std::vector<std::string> expected[] = {
        {"salvor.exe", "MorSig.vxd", "MorSigV.vxd", "Tarn_dyn.vxd"},
        {"Osk32dll.dll", "Osk64dll.dll", "Osksig.da0", "Osksig.dat", "Morcmd.exe", "Morcmd.dat"},
        {"Brine.dll", "Brine64.dll", "Brin.da1", "Brin.dat"}};
    for (int nSection = SECTION_FILES; nSection <= SECTION_BRIN; nSection++)
    {
        SCOPED_TRACE(GetSectionName(nSection));
        std::vector<std::string> names = WalkNames(m_strEng, nSection);
        EXPECT_EQ(expected[nSection], names);
        for (const std::string& strName : names)
        {
            SCOPED_TRACE(strName);
            EXPECT_TRUE(harness::FileExists(strSample + "\\" + strName));
            // Programs and libraries carry versions; data files do not.
            std::string strExt = strName.substr(strName.size() - 4);
            DWORD dwMS = 0, dwLS = 0;
            bool bBinary = strExt == ".dll" || strExt == ".exe";
            EXPECT_EQ(bBinary ? 1 : 0,
                      QueryFileVersion((strSample + "\\" + strName).c_str(), &dwMS, &dwLS));
            if (bBinary)
            {
                EXPECT_NE(0u, dwMS);
            }
        }
    }

    // A first deployment into an empty engine directory copies both engine sections.
    for (int nSection : {SECTION_OSKA, SECTION_BRIN})
        EXPECT_EQ(1, ShouldCopyEntireSection(m_strEng.c_str(), nSection, FALSE));
}

} // namespace
