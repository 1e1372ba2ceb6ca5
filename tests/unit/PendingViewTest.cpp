// A pass's view of the removal's deletions in the engine directory: the short names it asks the
// system for (none while nothing is pending there), and the deletions it takes back from the
// pending list and from WININIT.INI as stored.
#include "Restart.h"
#include "UnitFixture.h"

#include "reboot/reboot.h"

#include <string>
#include <vector>

namespace
{

int g_nShortNameCalls;
DWORD WINAPI CountingGetShortPathNameA(LPCSTR pszLong, LPSTR pszShort, DWORD cch)
{
    g_nShortNameCalls++;
    return ::GetShortPathNameA(pszLong, pszShort, cch);
}

class PendingView : public UnitTest
{
};

// The deletion of each name, as a removal stores it on the platform: pairs of the pending list,
// or NUL= lines of WININIT.INI.
void PlantDeletions(bool b9x, const std::vector<std::string>& names)
{
    if (!b9x)
    {
        std::vector<std::wstring> list;
        for (const std::string& strName : names)
        {
            list.push_back(L"\\??\\" + std::wstring(strName.begin(), strName.end()));
            list.push_back(L"");
        }
        harness::WritePendingRenames(list);
        return;
    }
    std::string strText = "[Rename]\r\n";
    for (const std::string& strName : names)
        strText += "NUL=" + strName + "\r\n";
    ASSERT_TRUE(harness::WriteFileBytes(harness::WinInitPath(), strText));
}

// The names whose deletion is still stored.
std::vector<std::string> StoredDeletions(bool b9x)
{
    std::vector<std::string> names;
    if (!b9x)
    {
        std::vector<std::string> list = harness::ReadPendingRenames();
        for (size_t i = 0; i + 1 < list.size(); i += 2)
            names.push_back(list[i].substr(4));
        return names;
    }
    std::string strText = harness::ReadFileBytes(harness::WinInitPath());
    for (size_t i = strText.find("NUL="); i != std::string::npos; i = strText.find("NUL=", i))
    {
        size_t iEnd = strText.find("\r\n", i);
        names.push_back(strText.substr(i + 4, iEnd - i - 4));
        i = iEnd;
    }
    return names;
}

TEST_F(PendingView, AsksShortNamesOnlyWhereARequestCouldNameTheFile)
{
    const std::string strDir = harness::TestDir() + "\\Shared Engine";
    const std::string strOther = harness::TestDir() + "\\Other Engine";
    CreateDirectoryA(strDir.c_str(), NULL);
    CreateDirectoryA(strOther.c_str(), NULL);
    const std::string strShort = strDir + "\\Osk32dll.dll";       // an 8.3 name: its own short name
    const std::string strLong = strDir + "\\Oska signatures.dat"; // a made-up short name
    const std::string strElse = strOther + "\\Osk32dll.dll";
    for (const std::string& str : {strShort, strLong, strElse})
        ASSERT_TRUE(harness::WriteFileBytes(str, "x"));
    const std::string strUShort = harness::ShortUpper(strShort);
    const std::string strULong = harness::ShortUpper(strLong);
    const std::string strUElse = harness::ShortUpper(strElse);
    const std::string strUDir = harness::ShortUpper(strDir);

    const struct
    {
        const char* pszLabel;
        std::vector<std::string> planted;
        BOOL bPending;
        int nShortNameCalls; // the directory's included
        BOOL bShortKept, bLongKept, bDirKept;
        std::vector<std::string> left;
    } cases[] = {
        {"nothing stored", {}, FALSE, 0, FALSE, FALSE, FALSE, {}},
        {"another directory's file", {strUElse}, FALSE, 1, FALSE, FALSE, FALSE, {strUElse}},
        {"an 8.3 name", {strUElse, strUShort}, TRUE, 1, TRUE, FALSE, FALSE, {strUElse}},
        {"a made-up name", {strULong, strUShort}, TRUE, 2, TRUE, TRUE, FALSE, {}},
        {"the directory, after its file", {strUShort, strUDir}, TRUE, 1, TRUE, FALSE, TRUE, {}},
    };
    for (bool b9x : {false, true})
        for (const auto& c : cases)
        {
            SCOPED_TRACE(std::string(b9x ? "98, " : "2000, ") + c.pszLabel);
            harness::ResetState();
            g_dwOSType = b9x ? OSID_W98 : OSID_W2K;
            if (!c.planted.empty())
                PlantDeletions(b9x, c.planted);
            g_nShortNameCalls = 0;
            SeamOverrideGetShortPathNameA(CountingGetShortPathNameA);

            PENDING_VIEW view;
            OpenPendingView(&view, strDir.c_str());
            EXPECT_EQ(c.bPending, view.bPending);
            EXPECT_EQ(c.bShortKept, WithdrawDeletionInView(&view, strShort.c_str()));
            EXPECT_EQ(c.bLongKept, WithdrawDeletionInView(&view, strLong.c_str()));
            EXPECT_FALSE(WithdrawDeletionInView(&view, strElse.c_str()));
            EXPECT_EQ(c.bDirKept, WithdrawDeletionInView(&view, strDir.c_str()));
            ClosePendingView(&view);
            SeamOverrideGetShortPathNameA(NULL);
            EXPECT_EQ(c.nShortNameCalls, g_nShortNameCalls);
            EXPECT_EQ(c.left, StoredDeletions(b9x));
        }
}

} // namespace
