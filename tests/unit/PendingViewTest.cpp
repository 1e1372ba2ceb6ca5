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

// The copy pass's snapshot as the narrow registry call gives the value: every NUL but the last one
// shown as the separator, "" when there is no value.
std::string NarrowSnapshot()
{
    std::string data;
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return data;
    DWORD cb = 0;
    if (RegQueryValueExA(hKey, "PendingFileRenameOperations", NULL, NULL, NULL, &cb) ==
            ERROR_SUCCESS &&
        cb > 0)
    {
        data.resize(cb);
        if (RegQueryValueExA(hKey, "PendingFileRenameOperations", NULL, NULL, (BYTE*)&data[0],
                             &cb) != ERROR_SUCCESS)
            cb = 0;
        data.resize(cb);
    }
    RegCloseKey(hKey);
    for (size_t i = 0; i + 1 < data.size(); i++)
        if (data[i] == '\0')
            data[i] = '|';
    return data.c_str();
}

// After the view takes a deletion back, the pass's snapshot is made from the list the withdrawal
// stored, not read again: it must show what the value holds then, as the narrow call gives it,
// requests made since the view was opened and other programs' entries included.
TEST_F(PendingView, SnapshotAfterAWithdrawalShowsTheListAsStored)
{
    const std::string strDir = harness::TestDir() + "\\Shared Engine";
    CreateDirectoryA(strDir.c_str(), NULL);
    const std::string strKept = strDir + "\\Osk32dll.dll";
    const std::string strOther = strDir + "\\Brine.dll";
    for (const std::string& str : {strKept, strOther, strOther + "000"})
        ASSERT_TRUE(harness::WriteFileBytes(str, "x"));
    const std::string strUKept = harness::ShortUpper(strKept);
    const std::string strUOther = harness::ShortUpper(strOther);
    const std::wstring wstrDeletion = L"\\??\\" + std::wstring(strUKept.begin(), strUKept.end());

    const struct
    {
        const char* pszLabel;
        std::vector<std::wstring> planted;
        bool bRequestAfterOpen; // the pass asks for the other file's replacement meanwhile
    } cases[] = {
        {"the deletion alone", {wstrDeletion, L""}, false},
        {"beside another program's entries",
         {L"\\??\\C:\\Temp\\\u0416urnal.log", L"", wstrDeletion, L"",
          L"\\??\\C:\\Temp\\new.\u00e9xe", L"!\\??\\C:\\Temp\\old.exe"},
         false},
        {"after a request the view did not read", {wstrDeletion, L""}, true},
    };
    g_dwOSType = OSID_W2K;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszLabel);
        harness::ResetState();
        harness::WritePendingRenames(c.planted);

        PENDING_VIEW view;
        OpenPendingView(&view, strDir.c_str());
        if (c.bRequestAfterOpen)
        {
            ASSERT_TRUE(RemoveFileOnReboot(harness::ShortUpper(strOther + "000").c_str(),
                                           strUOther.c_str()));
        }
        EXPECT_TRUE(WithdrawDeletionInView(&view, strKept.c_str()));
        REG_BUF regBuf;
        TakeRegBufOfView(&regBuf, &view);
        ASSERT_NE(nullptr, regBuf.pszRegBuf);
        EXPECT_EQ(NarrowSnapshot(), regBuf.pszRegBuf);
        EXPECT_FALSE(CanYouFindMe(strUKept.c_str(), regBuf.pszRegBuf));
        EXPECT_EQ(c.bRequestAfterOpen, CanYouFindMe(strUOther.c_str(), regBuf.pszRegBuf) != FALSE);
        ReleaseRegBuf(&regBuf);
        ClosePendingView(&view);
    }
}

} // namespace
