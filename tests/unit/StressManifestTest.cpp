// A run reads each manifest section once: a plain section in one call of the section reader, any
// other name by name, and later walks get what the first one got. Generated manifests, plain
// ones and ones with every rule of the format (blanks, comments, lines without "=", repeated
// keys in other letter case, quotes, control characters, long values, key lists past their 260
// characters, missing, repeated and empty sections), are walked both ways: every walk of every
// section must hand on the same entries and log the same lines as the walk that asks the profile
// reader for every name.
#include "UnitFixture.h"

#include "StressDeploy.h"

#include <string>
#include <vector>

using stress::Rng;

namespace
{

// What a walk did: the entries it handed on and the lines it logged.
struct WALK
{
    std::string strEntries;
    std::vector<std::string> lines;
    bool operator==(const WALK& o) const
    {
        return strEntries == o.strEntries && lines == o.lines;
    }
};

BOOL RecordEntry(const MANIFEST_ENTRY* pEntry, void* pContext)
{
    std::string* pstr = (std::string*)pContext;
    *pstr += std::string(pEntry->szName) + "|" + pEntry->szSource + "|" + pEntry->szTarget + "|" +
             pEntry->szStaged + "\n";
    return TRUE;
}

// A manifest of plain sections, now and then with one entry that is not plain: its section is
// then read name by name.
std::string PlainManifest(Rng& rng)
{
    static const char* const s_apszHeaders[] = {"[FILES]", "[OSKA]", "[BRIN]",
                                                "[files]", "[Oska]", "[bRIN]"};
    static const char* const s_apszOdd[] = {"; comment=x",
                                            "k = v",
                                            "k",
                                            "=v",
                                            "k=\"q.dll\"",
                                            "k='q.dll'",
                                            "k= v",
                                            "k\t=v",
                                            "\xC4k=v",
                                            "k=a\x01"
                                            "b",
                                            "K1=dup.dll",
                                            "k=v "};
    std::string str;
    uint32_t nSections = rng.Range(1, 4);
    for (uint32_t s = 0; s < nSections; s++)
    {
        str += rng.Pick(s_apszHeaders);
        str += "\r\n";
        uint32_t nEntries = rng.Percent(10) ? rng.Range(80, 140) : rng.Range(0, 12);
        for (uint32_t e = 0; e < nEntries; e++)
        {
            if (rng.Percent(2))
            {
                str += rng.Pick(s_apszOdd);
                str += "\r\n";
                continue;
            }
            // Names that repeat an earlier one in other letter case: the first one counts.
            std::string strKey = rng.Percent(10) && e > 0 ? "K" + std::to_string(rng.Below(e))
                                                          : "k" + std::to_string(e);
            std::string strValue;
            switch (rng.Below(6))
            {
            case 0:
                strValue = "";
                break;
            case 1:
                strValue = std::string(rng.Range(200, 258), 'v') + ".dat";
                break;
            case 2:
                // Double-byte text of the code page and characters of the upper half.
                strValue = "\x82\xA0\x82\xA2-\xE9.dat";
                break;
            default:
                strValue = rng.Pick(stress::s_apszPlainNames);
                break;
            }
            str += strKey + "=" + strValue + "\r\n";
        }
    }
    return str;
}

class StressManifest : public UnitTest
{
  protected:
    void SetUp() override
    {
        UnitTest::SetUp();
        GetCurrentDirectoryA(sizeof(m_szSavedDir), m_szSavedDir);
        m_strDir = harness::TestDir();
        ASSERT_TRUE(SetCurrentDirectoryA(m_strDir.c_str())) << GetLastError();
        lstrcpynA(g_szFileList, (m_strDir + "\\FileList.ini").c_str(), MAX_PATH);
    }
    void TearDown() override
    {
        KeepManifestSections(FALSE);
        SetCurrentDirectoryA(m_szSavedDir);
        UnitTest::TearDown();
    }
    WALK Walk(int nSection)
    {
        WALK walk;
        size_t nBefore = harness::LastRunMessages().size();
        WalkManifestSection((m_strDir + "\\eng").c_str(), nSection, RecordEntry, &walk.strEntries);
        std::vector<std::string> msgs = harness::LastRunMessages();
        walk.lines.assign(msgs.begin() + (std::min)(nBefore, msgs.size()), msgs.end());
        return walk;
    }
    char m_szSavedDir[MAX_PATH];
    std::string m_strDir;
};

TEST_F(StressManifest, ASectionReadOnceGivesEveryWalkWhatTheReaderGivesNameByName)
{
    uint32_t uSeed = stress::RunSeed();
    int nCases = stress::CaseCount(1500);
    int nReadAtOnce = 0;
    for (int nCase = 0; nCase < nCases; nCase++)
    {
        SCOPED_TRACE(stress::CaseTrace(uSeed, nCase));
        Rng rng(uSeed, (uint32_t)nCase);
        std::string strManifest =
            rng.Percent(60) ? PlainManifest(rng) : stress::RandomManifest(rng);
        ASSERT_TRUE(harness::WriteFileBytes(g_szFileList, strManifest));
        for (int nSection = 0; nSection < 3; nSection++)
        {
            SCOPED_TRACE(nSection);
            KeepManifestSections(FALSE);
            WALK byName = Walk(nSection);
            KeepManifestSections(TRUE);
            DWORD dwReads = g_dwManifestValueReads;
            WALK first = Walk(nSection);
            if (g_dwManifestValueReads == dwReads && !first.strEntries.empty())
                nReadAtOnce++;
            dwReads = g_dwManifestValueReads;
            WALK again = Walk(nSection);
            EXPECT_EQ(dwReads, g_dwManifestValueReads) << "a later walk asked the reader again";
            KeepManifestSections(FALSE);
            if (!(byName == first) || !(byName == again))
            {
                ADD_FAILURE() << "walks differ for the manifest:\n"
                              << strManifest << "\nname by name:\n"
                              << byName.strEntries << "\nread once:\n"
                              << first.strEntries << "\nagain:\n"
                              << again.strEntries;
                return;
            }
        }
        // The log grows with every case; it only needs the lines of the walks above.
        DeleteFileA(harness::LogPath().c_str());
        g_nLogState = -1;
    }
    // The section read must have answered a good share of the walks, or this compared nothing.
    EXPECT_GT(nReadAtOnce, nCases / 5);
}

// The package check judges every key with the walk's own tests: the keys it finds walked are
// exactly the entries a walk hands on, in order and with the same paths, and the keys it finds
// past the key list are those the section holds beyond what the walk reads.
BOOL RecordPaths(const MANIFEST_ENTRY* pEntry, void* pContext)
{
    *(std::string*)pContext +=
        std::string(pEntry->szSource) + "|" + pEntry->szTarget + "|" + pEntry->szStaged + "\n";
    return TRUE;
}

struct EXAMINATION
{
    std::string strWalked;
    int nPast = 0;
    int nKeys = 0;
};

BOOL RecordExamined(const MANIFEST_EXAMINED* pEx, void* pContext)
{
    EXAMINATION* p = (EXAMINATION*)pContext;
    p->nKeys += pEx->bCutName ? 0 : 1;
    if (pEx->nVerdict == ENTRY_WALKED)
        RecordPaths(&pEx->entry, &p->strWalked);
    else if (pEx->nVerdict == ENTRY_PAST_KEY_LIST)
        p->nPast++;
    return TRUE;
}

TEST_F(StressManifest, TheCheckFindsWalkedWhatTheWalkHandsOn)
{
    uint32_t uSeed = stress::RunSeed();
    int nCases = stress::CaseCount(500);
    int nWithPast = 0;
    for (int nCase = 0; nCase < nCases; nCase++)
    {
        SCOPED_TRACE(stress::CaseTrace(uSeed, nCase));
        Rng rng(uSeed, (uint32_t)nCase);
        std::string strManifest =
            rng.Percent(60) ? PlainManifest(rng) : stress::RandomManifest(rng);
        ASSERT_TRUE(harness::WriteFileBytes(g_szFileList, strManifest));
        std::string strEng = m_strDir + "\\eng";
        for (int nSection = 0; nSection < 3; nSection++)
        {
            SCOPED_TRACE(nSection);
            std::string strWalked;
            WalkManifestSection(strEng.c_str(), nSection, RecordPaths, &strWalked);
            EXAMINATION ex;
            ASSERT_TRUE(ExamineManifestSection(strEng.c_str(), nSection, RecordExamined, &ex));
            EXPECT_EQ(strWalked, ex.strWalked) << strManifest;
            char szAll[32767];
            DWORD cchAll = GetPrivateProfileStringA(GetSectionName(nSection), NULL, "", szAll,
                                                    sizeof(szAll), g_szFileList);
            int nAll = 0;
            for (const char* p = szAll; p < szAll + cchAll && *p; p += strlen(p) + 1)
                nAll++;
            EXPECT_EQ(nAll, ex.nKeys);
            if (ex.nPast)
                nWithPast++;
        }
        DeleteFileA(harness::LogPath().c_str());
        g_nLogState = -1;
    }
    // Key lists past their bound must have come up, or the bound was never compared.
    EXPECT_GT(nWithPast, 0);
}

} // namespace
