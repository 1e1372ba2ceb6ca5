// The freshness test on real files: DLLs with real version resources from the sample build,
// last-write times set on disk, and the log as written.
#include "UnitFixture.h"

#include "DeployFiles.h"
#include "deploy/deploy.h"

#include <string>
#include <vector>

using namespace deploytest;

namespace
{

std::string VersionLine(const std::string& strPath, const char* pszDotted)
{
    std::string strVer = pszDotted;
    for (char& c : strVer)
        if (c == '.')
            c = ':';
    return "Orvane: File [" + strPath + "] version [" + strVer + "]\n";
}

// The line for a file without a version resource, with the error number the platform gives.
std::string NoVersionLine(const std::string& strPath)
{
    DWORD dwHandle;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(0u, GetFileVersionInfoSizeA(strPath.c_str(), &dwHandle));
    DWORD dwErr = GetLastError();
    EXPECT_NE(0u, dwErr);
    EXPECT_NE(0xdeadbeefu, dwErr);
    return "Can't GetFileVersionInfoSize return [" + std::to_string(dwErr) +
           "], can't get ver of [" + strPath + "]\n";
}

const char s_szSourceTimeLine[] = "Orvane: Source file time [%s] \n";

std::string TimeLine(const char* pszFormat, const char* pszText)
{
    char sz[128];
    _snprintf(sz, sizeof(sz), pszFormat, pszText);
    sz[sizeof(sz) - 1] = '\0';
    return sz;
}

class Freshness : public UnitTest
{
  protected:
    void SetUp() override
    {
        UnitTest::SetUp();
        m_strDest = harness::TestDir() + "\\Osk32dll.dll";
        CreateDirectoryA((harness::TestDir() + "\\pkg").c_str(), NULL);
        m_strSource = harness::TestDir() + "\\pkg\\Osk32dll.dll";
    }
    std::string m_strDest, m_strSource;
};

TEST_F(Freshness, SampleVersionsAreReadBackExactly)
{
    struct
    {
        const char* pszVersion;
        DWORD dwMS, dwLS;
    } cases[] = {{"1.0.0.0", 0x00010000, 0x00000000},
                 {"1.2.3.4", 0x00010002, 0x00030004},
                 {"1.2.3.5", 0x00010002, 0x00030005},
                 {"1.9.9.9", 0x00010009, 0x00090009},
                 {"2.0.0.0", 0x00020000, 0x00000000}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszVersion);
        g_nLogState = -1;
        DWORD dwMS = 0xdeadbeef, dwLS = 0xdeadbeef;
        std::string strPath = VersionDll(c.pszVersion);
        ASSERT_EQ(1, QueryFileVersion(strPath.c_str(), &dwMS, &dwLS));
        EXPECT_EQ(c.dwMS, dwMS);
        EXPECT_EQ(c.dwLS, dwLS);
        EXPECT_EQ(std::vector<std::string>{VersionLine(strPath, c.pszVersion)},
                  harness::LastRunMessages());
    }
}

TEST_F(Freshness, FileWithoutVersionResourceLeavesResultsUntouched)
{
    for (bool bExists : {true, false})
    {
        SCOPED_TRACE(bExists ? "text file" : "missing file");
        g_nLogState = -1;
        PlaceFile(m_strDest, bExists ? "text" : nullptr, 0);
        std::string strExpected = NoVersionLine(m_strDest);
        DWORD dwMS = 0xdeadbeef, dwLS = 0xfeedface;
        EXPECT_EQ(0, QueryFileVersion(m_strDest.c_str(), &dwMS, &dwLS));
        EXPECT_EQ(0xdeadbeefu, dwMS);
        EXPECT_EQ(0xfeedfaceu, dwLS);
        EXPECT_EQ(std::vector<std::string>{strExpected}, harness::LastRunMessages());
    }
}

TEST_F(Freshness, Matrix)
{
    // Texts of the stamps, written out by hand: UTC as stored, month first, two blanks.
    const char* const pszAt = "03/05/2024  07:08:09";
    const char* const pszHourLater = "03/05/2024  08:08:09";
    const std::string strD = m_strDest, strS = m_strSource;
    const std::string strSrcTimeHour = TimeLine(s_szSourceTimeLine, pszHourLater);
    const std::string strDstTime = TimeLine("Orvane: Dest file time [%s]\n", pszAt);
    const std::string strSrcTimeSame = TimeLine(s_szSourceTimeLine, pszAt);
    // Placeholders for lines whose error number comes from the platform.
    const std::string strNoVerDest = "<no version: dest>", strNoVerSource = "<no version: source>";

    struct Case
    {
        const char* pszName;
        const char* pszDest;
        LONGLONG llDestTime;
        const char* pszSource;
        LONGLONG llSourceTime;
        int nExpected;
        std::vector<std::string> lines;
    } cases[] = {
        {"same version, same time",
         "1.2.3.4",
         0,
         "1.2.3.4",
         0,
         0,
         {VersionLine(strD, "1.2.3.4"), VersionLine(strS, "1.2.3.4")}},
        {"same version, later source",
         "1.2.3.4",
         0,
         "1.2.3.4",
         HOUR,
         1,
         {VersionLine(strD, "1.2.3.4"), VersionLine(strS, "1.2.3.4"), strSrcTimeHour, strDstTime}},
        {"major newer, older time",
         "1.9.9.9",
         0,
         "2.0.0.0",
         -DAY,
         1,
         {VersionLine(strD, "1.9.9.9"), VersionLine(strS, "2.0.0.0"),
          "Pelmora's Major version is newer\n"}},
        {"minor number lives in the MS half",
         "1.0.0.0",
         0,
         "1.2.3.4",
         -DAY,
         1,
         {VersionLine(strD, "1.0.0.0"), VersionLine(strS, "1.2.3.4"),
          "Pelmora's Major version is newer\n"}},
        {"revision newer, older time",
         "1.2.3.4",
         0,
         "1.2.3.5",
         -DAY,
         1,
         {VersionLine(strD, "1.2.3.4"), VersionLine(strS, "1.2.3.5"),
          "Pelmora's Minor version is newer\n"}},
        {"lower version, later time",
         "1.2.3.4",
         0,
         "1.0.0.0",
         HOUR,
         1,
         {VersionLine(strD, "1.2.3.4"), VersionLine(strS, "1.0.0.0"), strSrcTimeHour, strDstTime}},
        {"lower version, older time",
         "2.0.0.0",
         0,
         "1.9.9.9",
         -HOUR,
         0,
         {VersionLine(strD, "2.0.0.0"), VersionLine(strS, "1.9.9.9")}},
        {"destination missing", nullptr, 0, "1.0.0.0", -DAY, 1, {}},
        {"source missing", "1.0.0.0", 0, nullptr, 0, 0, {"Source file not exit, skip it\n"}},
        {"both missing", nullptr, 0, nullptr, 0, 0, {"Source file not exit, skip it\n"}},
        {"destination without version, later source",
         "text",
         0,
         "2.0.0.0",
         HOUR,
         1,
         {strNoVerDest, strSrcTimeHour, strDstTime}},
        {"destination without version, older source",
         "text",
         0,
         "2.0.0.0",
         -HOUR,
         0,
         {strNoVerDest}},
        {"source without version, later source",
         "1.2.3.4",
         0,
         "text",
         HOUR,
         1,
         {VersionLine(strD, "1.2.3.4"), strNoVerSource, strSrcTimeHour, strDstTime}},
        {"neither has a version, same time", "text", 0, "text", 0, 0, {strNoVerDest}},
        {"half a second later, equal texts",
         "1.2.3.4",
         0,
         "1.2.3.4",
         HALF_SECOND,
         1,
         {VersionLine(strD, "1.2.3.4"), VersionLine(strS, "1.2.3.4"), strSrcTimeSame, strDstTime}},
        {"half a second earlier",
         "1.2.3.4",
         HALF_SECOND,
         "1.2.3.4",
         0,
         0,
         {VersionLine(strD, "1.2.3.4"), VersionLine(strS, "1.2.3.4")}},
        {"one tick later", "text", 0, "text", 1, 1, {strNoVerDest, strSrcTimeSame, strDstTime}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        PlaceFile(m_strDest, c.pszDest, c.llDestTime);
        PlaceFile(m_strSource, c.pszSource, c.llSourceTime);
        std::vector<std::string> expected;
        for (const std::string& s : c.lines)
            expected.push_back(s == strNoVerDest     ? NoVersionLine(strD)
                               : s == strNoVerSource ? NoVersionLine(strS)
                                                     : s);
        BeginCase(c.pszName);
        EXPECT_EQ(c.nExpected, IsSourceNewer(strD.c_str(), strS.c_str()));
        EXPECT_EQ(expected, CaseMessages());
    }
}

TEST_F(Freshness, ChangesNothingOnDisk)
{
    PlaceFile(m_strDest, "1.2.3.4", 0);
    PlaceFile(m_strSource, "2.0.0.0", HOUR);
    std::string strDestBefore = harness::ReadFileBytes(m_strDest);
    std::string strSourceBefore = harness::ReadFileBytes(m_strSource);
    EXPECT_EQ(1, IsSourceNewer(m_strDest.c_str(), m_strSource.c_str()));
    EXPECT_EQ(strDestBefore, harness::ReadFileBytes(m_strDest));
    EXPECT_EQ(strSourceBefore, harness::ReadFileBytes(m_strSource));
    // The probes read attributes only: the stamps stay as they were.
    WIN32_FILE_ATTRIBUTE_DATA fad;
    ASSERT_TRUE(GetFileAttributesExA(m_strDest.c_str(), GetFileExInfoStandard, &fad));
    FILETIME ft = TimeAt(0);
    EXPECT_EQ(0, CompareFileTime(&ft, &fad.ftLastWriteTime));
}

TEST_F(Freshness, DirectoryInPlaceOfTheSourceCountsAsAbsent)
{
    PlaceFile(m_strDest, "1.0.0.0", 0);
    DeleteFileA(m_strSource.c_str());
    ASSERT_TRUE(CreateDirectoryA(m_strSource.c_str(), NULL));
    EXPECT_EQ(0, IsSourceNewer(m_strDest.c_str(), m_strSource.c_str()));
    EXPECT_EQ(std::vector<std::string>{"Source file not exit, skip it\n"},
              harness::LastRunMessages());
}

} // namespace
