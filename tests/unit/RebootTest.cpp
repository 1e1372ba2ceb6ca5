// Replacement at restart: the delayed moves as Wine records them, WININIT.INI byte for byte, and
// the restart (wineboot -r) carrying both out.
#include "Restart.h"
#include "UnitFixture.h"

#include "reboot/reboot.h"

#include <string>
#include <vector>

using namespace std::string_literals;

namespace
{

// 95, 98 and ME have no delayed move; the call fails at once.
BOOL WINAPI FailingMoveFileExA(LPCSTR, LPCSTR, DWORD)
{
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

// The deletion is recorded for real, the rename is refused.
BOOL WINAPI RenameRefusingMoveFileExA(LPCSTR pszExisting, LPCSTR pszNew, DWORD dwFlags)
{
    if (pszNew == NULL)
        return ::MoveFileExA(pszExisting, pszNew, dwFlags);
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

const char s_szTarget[] = "C:\\PROGRA~1\\QM\\SHARED~1\\SCANEN~1\\OSK32DLL.DLL";
const char s_szStaged[] = "C:\\PROGRA~1\\QM\\SHARED~1\\SCANEN~1\\OSK32DLL.DLL000";

std::string RequestLines(const std::string& strTarget, const std::string& strStaged)
{
    return "NUL=" + strTarget + "\r\n" + strTarget + "=" + strStaged + "\r\n";
}

class Reboot : public UnitTest
{
  protected:
    // A target with old content and its staged copy with new content, under the test folder;
    // their short upper-case names as the copy pass would pass them.
    void MakePair(const char* pszName)
    {
        m_strTarget = harness::TestDir() + "\\" + pszName;
        m_strStaged = m_strTarget + "000";
        ASSERT_TRUE(harness::WriteFileBytes(m_strTarget, "old content"));
        ASSERT_TRUE(harness::WriteFileBytes(m_strStaged, "new content of the engine"));
        m_strShortTarget = harness::ShortUpper(m_strTarget);
        m_strShortStaged = harness::ShortUpper(m_strStaged);
    }
    void ExpectReplacedAfterRestart()
    {
        ASSERT_TRUE(harness::Restart());
        EXPECT_EQ("new content of the engine", harness::ReadFileBytes(m_strTarget));
        EXPECT_FALSE(harness::FileExists(m_strStaged));
    }
    std::string m_strTarget, m_strStaged, m_strShortTarget, m_strShortStaged;
};

TEST_F(Reboot, NtRouteRecordsDeletionThenRenameAndTheRestartCarriesThemOut)
{
    REQUIRE_WINE();
    MakePair("Osk32dll.dll");
    std::vector<std::string> before = harness::ReadPendingRenames();
    bool bWinInit;
    std::string strWinInit = harness::ReadFileBytes(harness::WinInitPath(), &bWinInit);

    EXPECT_TRUE(RemoveFileOnReboot(m_strShortStaged.c_str(), m_strShortTarget.c_str()));

    DWORD dwType;
    std::vector<std::string> after = harness::ReadPendingRenames(&dwType);
    EXPECT_EQ((DWORD)REG_MULTI_SZ, dwType);
    ASSERT_EQ(before.size() + 4, after.size());
    std::vector<std::string> added(after.end() - 4, after.end());
    EXPECT_EQ((std::vector<std::string>{"\\??\\" + m_strShortTarget, "",
                                        "\\??\\" + m_strShortStaged, "\\??\\" + m_strShortTarget}),
              added);
    bool bWinInitAfter;
    EXPECT_EQ(strWinInit, harness::ReadFileBytes(harness::WinInitPath(), &bWinInitAfter));
    EXPECT_EQ(bWinInit, bWinInitAfter);
    EXPECT_EQ((std::vector<std::string>{"RemoveFileOnReboot: from pszExisting [" +
                                            m_strShortStaged + "] to [" + m_strShortTarget + "] \n",
                                        "RemoveFileOnReboot: MoveFileEx\n"}),
              harness::LastRunMessages());

    ExpectReplacedAfterRestart();
}

TEST_F(Reboot, NtRouteRefusedRenameWithdrawsItsDeletion)
{
    // Another program's request, with a character that the ANSI code page lacks: it must be
    // written back unchanged.
    const std::vector<std::wstring> others = {L"\\??\\C:\\other\\\x03A9.tmp", L""};
    struct
    {
        const char* pszName;
        std::vector<std::wstring> before;
    } cases[] = {{"no other request", {}}, {"another program's request", others}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        harness::ResetState();
        g_nLogState = -1;
        harness::WritePendingRenames(c.before);
        bool bBefore;
        std::string strRawBefore = harness::ReadPendingRaw(&bBefore);
        SeamOverrideMoveFileExA(RenameRefusingMoveFileExA);

        EXPECT_TRUE(RemoveFileOnReboot(s_szStaged, s_szTarget));

        bool bAfter;
        EXPECT_EQ(strRawBefore, harness::ReadPendingRaw(&bAfter));
        EXPECT_EQ(bBefore, bAfter);
        EXPECT_EQ("[Rename]\r\n" + RequestLines(s_szTarget, s_szStaged),
                  harness::ReadFileBytes(harness::WinInitPath()));
        std::vector<std::string> msgs = harness::LastRunMessages();
        EXPECT_EQ((std::vector<std::string>{std::string("RemoveFileOnReboot: from pszExisting [") +
                                                s_szStaged + "] to [" + s_szTarget + "] \n",
                                            std::string("RemoveFileOnReboot: deletion of [") +
                                                s_szTarget + "] withdrawn\n",
                                            "RemoveFileOnReboot: Win9x\n"}),
                  msgs);
    }
}

TEST_F(Reboot, NineXRouteInsertsDeletionAboveRenameDirectlyUnderTheHeader)
{
    g_dwOSType = OSID_W98;
    SeamOverrideMoveFileExA(FailingMoveFileExA);
    const std::string strLines = RequestLines(s_szTarget, s_szStaged);
    struct
    {
        const char* pszName;
        bool bExists;
        std::string strBefore, strAfter;
    } cases[] = {
        {"missing file", false, "", "[Rename]\r\n" + strLines},
        {"empty file", true, "", "[Rename]\r\n" + strLines},
        {"section with an earlier request", true,
         "[Rename]\r\nNUL=C:\\A.DLL\r\nC:\\A.DLL=C:\\A.DLL000\r\n",
         "[Rename]\r\n" + strLines + "NUL=C:\\A.DLL\r\nC:\\A.DLL=C:\\A.DLL000\r\n"},
        {"section between others", true,
         "[Boot]\r\nx=1\r\n[Rename]\r\nC:\\B=C:\\C\r\n[Z]\r\ny=2\r\n",
         "[Boot]\r\nx=1\r\n[Rename]\r\n" + strLines + "C:\\B=C:\\C\r\n[Z]\r\ny=2\r\n"},
        {"header in other case", true, "[rename]\r\nNUL=C:\\A.DLL\r\n",
         "[rename]\r\nNUL=C:\\A.DLL\r\n[Rename]\r\n" + strLines},
        {"header without CR", true, "[Rename]\nNUL=C:\\A.DLL\n",
         "[Rename]\nNUL=C:\\A.DLL\n[Rename]\r\n" + strLines},
        {"last line without line end", true, "[Boot]\r\nshell=x",
         "[Boot]\r\nshell=x[Rename]\r\n" + strLines},
        {"NUL byte ahead of the header", true, std::string("x\0y\r\n[Rename]\r\n", 15),
         std::string("x\0y\r\n[Rename]\r\n", 15) + strLines},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        harness::ResetState();
        g_nLogState = -1;
        std::string strPendingBefore = harness::ReadPendingRaw();
        DeleteFileA(harness::WinInitPath().c_str());
        if (c.bExists)
        {
            ASSERT_TRUE(harness::WriteFileBytes(harness::WinInitPath(), c.strBefore));
        }

        EXPECT_TRUE(RemoveFileOnReboot(s_szStaged, s_szTarget));

        EXPECT_EQ(c.strAfter, harness::ReadFileBytes(harness::WinInitPath()));
        EXPECT_EQ(strPendingBefore, harness::ReadPendingRaw());
        EXPECT_EQ((std::vector<std::string>{std::string("RemoveFileOnReboot: from pszExisting [") +
                                                s_szStaged + "] to [" + s_szTarget + "] \n",
                                            "RemoveFileOnReboot: Win9x\n"}),
                  harness::LastRunMessages());
    }
}

TEST_F(Reboot, DelayedMoveRefusedByThePlatformFallsBackToWinInit)
{
    REQUIRE_WINE();
    // Wine refuses to append to a value that is not REG_MULTI_SZ: the delayed move fails for
    // real, as it does on 95, 98 and ME, and nothing is left recorded in the value.
    HKEY hKey;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                                           "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                                           KEY_SET_VALUE, &hKey));
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(hKey, "PendingFileRenameOperations", 0, REG_SZ, (const BYTE*)"x", 2));
    RegCloseKey(hKey);
    std::string strValue = harness::ReadPendingRaw();
    MakePair("Osk64dll.dll");

    EXPECT_TRUE(RemoveFileOnReboot(m_strShortStaged.c_str(), m_strShortTarget.c_str()));

    EXPECT_EQ(strValue, harness::ReadPendingRaw());
    EXPECT_EQ("[Rename]\r\n" + RequestLines(m_strShortTarget, m_strShortStaged),
              harness::ReadFileBytes(harness::WinInitPath()));
    EXPECT_EQ("RemoveFileOnReboot: Win9x\n", harness::LastRunMessages().back());
    ExpectReplacedAfterRestart();
}

TEST_F(Reboot, NineXSecondRequestStandsAboveTheFirst)
{
    g_dwOSType = OSID_W98;
    SeamOverrideMoveFileExA(FailingMoveFileExA);
    DeleteFileA(harness::WinInitPath().c_str());
    EXPECT_TRUE(RemoveFileOnReboot(s_szStaged, s_szTarget));
    EXPECT_TRUE(RemoveFileOnReboot("C:\\E\\OSKSIG.DA0000", "C:\\E\\OSKSIG.DA0"));
    EXPECT_EQ("[Rename]\r\n" + RequestLines("C:\\E\\OSKSIG.DA0", "C:\\E\\OSKSIG.DA0000") +
                  RequestLines(s_szTarget, s_szStaged),
              harness::ReadFileBytes(harness::WinInitPath()));
}

TEST_F(Reboot, NineXRestartCarriesOutTheRenameSection)
{
    REQUIRE_WINE();
    g_dwOSType = OSID_W98;
    SeamOverrideMoveFileExA(FailingMoveFileExA);
    MakePair("Brine.dll");
    std::string strFirstTarget = m_strTarget, strFirstStaged = m_strStaged;
    EXPECT_TRUE(RemoveFileOnReboot(m_strShortStaged.c_str(), m_strShortTarget.c_str()));
    MakePair("Brin.dat");
    EXPECT_TRUE(RemoveFileOnReboot(m_strShortStaged.c_str(), m_strShortTarget.c_str()));
    EXPECT_EQ(
        "[Rename]\r\n" + RequestLines(m_strShortTarget, m_strShortStaged) +
            RequestLines(harness::ShortUpper(strFirstTarget), harness::ShortUpper(strFirstStaged)),
        harness::ReadFileBytes(harness::WinInitPath()));

    ExpectReplacedAfterRestart();
    EXPECT_EQ("new content of the engine", harness::ReadFileBytes(strFirstTarget));
    EXPECT_FALSE(harness::FileExists(strFirstStaged));
}

TEST_F(Reboot, WinInitHeldOpenElsewhereIsLeftAlone)
{
    g_dwOSType = OSID_W95;
    SeamOverrideMoveFileExA(FailingMoveFileExA);
    const std::string strBefore = "[Rename]\r\nNUL=C:\\A.DLL\r\n";
    ASSERT_TRUE(harness::WriteFileBytes(harness::WinInitPath(), strBefore));
    HANDLE hFile = CreateFileA(harness::WinInitPath().c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFile) << GetLastError();

    EXPECT_FALSE(RemoveFileOnReboot(s_szStaged, s_szTarget));
    EXPECT_FALSE(AddWinInitRename(s_szStaged, NULL));

    CloseHandle(hFile);
    EXPECT_EQ(strBefore, harness::ReadFileBytes(harness::WinInitPath()));
    EXPECT_EQ("RemoveFileOnReboot: Win9x\n", harness::LastRunMessages().back());
}

TEST_F(Reboot, RenameLineThatCannotBeWrittenLeavesNoDeletionLine)
{
    g_dwOSType = OSID_W98;
    SeamOverrideMoveFileExA(FailingMoveFileExA);
    // "NUL=<target>" fits the line buffer, "<target>=<staged>" does not.
    std::string strTarget = "C:\\" + std::string(600, 'T');
    std::string strStaged = "C:\\" + std::string(600, 'S');
    const std::string strBefore = "[Rename]\r\nNUL=C:\\A.DLL\r\n";
    ASSERT_TRUE(harness::WriteFileBytes(harness::WinInitPath(), strBefore));

    EXPECT_FALSE(RemoveFileOnReboot(strStaged.c_str(), strTarget.c_str()));
    EXPECT_EQ(strBefore, harness::ReadFileBytes(harness::WinInitPath()));
}

TEST_F(Reboot, AddWinInitRenameTakesLinesUpToItsBuffer)
{
    DeleteFileA(harness::WinInitPath().c_str());
    // "<dest>=<source>\r\n" of 1023 bytes fits with its terminator; 1024 does not.
    std::string strDest = "C:\\D";
    std::string strFits = "C:\\" + std::string(1023 - 3 - strDest.size() - 3, 'X');
    std::string strTooLong = strFits + "Y";
    EXPECT_TRUE(AddWinInitRename(strFits.c_str(), strDest.c_str()));
    EXPECT_FALSE(AddWinInitRename(strTooLong.c_str(), strDest.c_str()));
    std::string strExpected = "[Rename]\r\n" + strDest + "=" + strFits + "\r\n";
    EXPECT_EQ(1023u + 10u, strExpected.size());
    EXPECT_EQ(strExpected, harness::ReadFileBytes(harness::WinInitPath()));
    EXPECT_TRUE(harness::LastRunMessages().empty());
}

// What a removal takes back and what an install takes back after it: only the lines and pairs
// meant, every other byte of WININIT.INI and every other request of the list kept in order.
TEST_F(Reboot, WithdrawalsTakeOutOnlyTheirRequests)
{
    const char* const pszS = "C:\\ENG\\OSK3~1.DLL";
    const char* const pszT = "C:\\ENG\\OSK32DLL.DLL";
    const std::string strT = pszT, strS = pszS;
    struct
    {
        const char* pszCase;
        bool bReplacement; // else the deletion that comes last
        std::string strBefore, strAfter;
    } aCases[] = {
        {"the replacement and its deletion", true,
         "[Boot]\r\nx=1\r\n[Rename]\r\nNUL=" + strT + "\r\n" + strT + "=" + strS +
             "\r\nNUL=C:\\B\r\nC:\\B=C:\\B0\r\n",
         "[Boot]\r\nx=1\r\n[Rename]\r\nNUL=C:\\B\r\nC:\\B=C:\\B0\r\n"},
        {"a replacement without its deletion", true, "[Rename]\n" + strT + "=" + strS + "\n",
         "[Rename]\n"},
        {"a staged name that only begins another", true,
         "[Rename]\r\n" + strT + "=" + strS + "0\r\n", ""},
        {"the last deletion, without its line end", false,
         "[Rename]\r\nNUL=" + strT + "\r\n" + strT + "=" + strS + "\r\nNUL=" + strT,
         "[Rename]\r\nNUL=" + strT + "\r\n" + strT + "=" + strS + "\r\n"},
        {"a deletion with a rename after it", false,
         "[Rename]\r\nNUL=" + strT + "\r\n" + strT + "=" + strS + "\r\n", ""},
        {"a deletion of a longer name", false, "[Rename]\r\nNUL=" + strT + "0\r\n", ""},
    };
    for (const auto& c : aCases)
    {
        SCOPED_TRACE(c.pszCase);
        ASSERT_TRUE(harness::WriteFileBytes(harness::WinInitPath(), c.strBefore));
        BOOL bDone =
            c.bReplacement ? WithdrawWinInitReplacement(pszS) : WithdrawWinInitDeletion(pszT);
        EXPECT_EQ(!c.strAfter.empty(), bDone != FALSE);
        EXPECT_EQ(c.strAfter.empty() ? c.strBefore : c.strAfter,
                  harness::ReadFileBytes(harness::WinInitPath()));
    }

    // The pending list: another program's request before and after ours.
    std::string strList;
    for (const std::string& str : {"\\??\\C:\\X"s, ""s, "\\??\\" + strT, ""s, "\\??\\" + strS,
                                   "!\\??\\" + strT, "\\??\\C:\\Y"s, ""s, "\\??\\" + strT, ""s})
        strList += str + '\0';
    strList += '\0';
    harness::SetMachineValue("SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                             "PendingFileRenameOperations", REG_MULTI_SZ, strList.data(),
                             (DWORD)strList.size());
    EXPECT_FALSE(WithdrawPendingReplacement("C:\\ENG\\OSK3~1.DL"));
    EXPECT_TRUE(WithdrawPendingReplacement(pszS));
    EXPECT_EQ((std::vector<std::string>{"\\??\\C:\\X", "", "\\??\\C:\\Y", "", "\\??\\" + strT, ""}),
              harness::ReadPendingRenames());
    EXPECT_FALSE(WithdrawLastPendingDeletion("C:\\Y0"));
    EXPECT_TRUE(WithdrawLastPendingDeletion(pszT));
    EXPECT_EQ((std::vector<std::string>{"\\??\\C:\\X", "", "\\??\\C:\\Y", ""}),
              harness::ReadPendingRenames());
}

} // namespace
