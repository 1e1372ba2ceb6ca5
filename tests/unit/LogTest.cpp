#include "UnitFixture.h"

#include "SecurityFakes.h"

#include <regex>
#include <string>

namespace
{

std::string g_strFakeTemp;
DWORD g_dwFakeTempResult;

DWORD WINAPI FakeGetTempPathA(DWORD cch, LPSTR psz)
{
    if (g_dwFakeTempResult == 0)
    {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    if (cch > 0)
        lstrcpynA(psz, g_strFakeTemp.c_str(), (int)cch);
    return g_dwFakeTempResult;
}

void FakeTemp(const std::string& strDir, DWORD dwResult)
{
    g_strFakeTemp = strDir;
    g_dwFakeTempResult = dwResult;
    SeamOverrideGetTempPathA(FakeGetTempPathA);
}

std::string WindowsLogPath()
{
    char sz[MAX_PATH];
    GetWindowsDirectoryA(sz, sizeof(sz));
    return std::string(sz) + "\\MorSetup.log";
}

class Log : public UnitTest
{
};

const char* const s_pszBanner = "\r\n----------------------  Start  ------------------- \r\n"
                                "< \\d\\d/\\d\\d/\\d{4}  \\d\\d:\\d\\d:\\d\\d > \r\n";
const char* const s_pszTime = "< \\d\\d:\\d\\d:\\d\\d > ";

TEST_F(Log, FileHoldsBannerDateLineAndTimedEntriesWithCrLf)
{
    WriteLog("Orvane: START!!\n");
    WriteLog("Orvane: free %I64u bytes, id [%d] %02d %s\n", 18446744073709551615ULL, 5, 7, "x");
    WriteLog("no line end ");
    WriteLog("next\n");
    std::string strExpected = std::string(s_pszBanner) + s_pszTime + "Orvane: START!!\r\n" +
                              s_pszTime +
                              "Orvane: free 18446744073709551615 bytes, id \\[5\\] 07 x\r\n" +
                              s_pszTime + "no line end " + s_pszTime + "next\r\n";
    std::string strLog = harness::ReadLog();
    EXPECT_TRUE(std::regex_match(strLog, std::regex(strExpected))) << strLog;
    EXPECT_EQ(1, g_nLogState);

    // The banner is written once per process; a new process (state -1) appends a second one.
    g_nLogState = -1;
    WriteLog("again\n");
    strLog = harness::ReadLog();
    EXPECT_TRUE(
        std::regex_match(strLog, std::regex(strExpected + s_pszBanner + s_pszTime + "again\r\n")))
        << strLog;
}

TEST_F(Log, AnotherRunAppendsBetweenTheMessagesOfARunThatKeepsTheFileOpen)
{
    // A run keeps the file open between messages; another run's entry, written through a handle
    // of its own as the runtime's append mode writes it, must land between ours and stay whole,
    // and each of our entries must be in the file as soon as it is logged.
    KeepLogFileOpen(TRUE);
    WriteLog("first\n");
    std::string strFirst = harness::ReadLog();
    HANDLE hOther = CreateFileA(harness::LogPath().c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_NE(INVALID_HANDLE_VALUE, hOther) << GetLastError();
    SetFilePointer(hOther, 0, NULL, FILE_END);
    DWORD cb;
    EXPECT_TRUE(WriteFile(hOther, "other run\r\n", 11, &cb, NULL));
    CloseHandle(hOther);
    WriteLog("second\n");
    std::string strLog = harness::ReadLog();
    KeepLogFileOpen(FALSE);
    EXPECT_TRUE(
        std::regex_match(strFirst, std::regex(std::string(s_pszBanner) + s_pszTime + "first\r\n")))
        << strFirst;
    EXPECT_TRUE(
        std::regex_match(strLog, std::regex(std::string(s_pszBanner) + s_pszTime +
                                            "first\r\nother run\r\n" + s_pszTime + "second\r\n")))
        << strLog;
}

TEST_F(Log, OverlongMessageIsCutNotOverrun)
{
    std::string strLong(10000, 'm');
    WriteLog("%s\n", strLong.c_str());
    std::vector<std::string> msgs = harness::LastRunMessages();
    ASSERT_EQ(1u, msgs.size());
    EXPECT_EQ(std::string(4095, 'm'), msgs[0]);
}

TEST_F(Log, DirectoryRules)
{
    char szPath[MAX_PATH];

    // A root with or without its backslash, and a directory with or without one.
    FakeTemp("C:\\", 3);
    ASSERT_TRUE(GetLogFilePath(szPath));
    EXPECT_STREQ("C:\\MorSetup.log", szPath);
    FakeTemp("C:", 2);
    ASSERT_TRUE(GetLogFilePath(szPath));
    EXPECT_STREQ("C:\\MorSetup.log", szPath);
    FakeTemp("C:\\Temp\\", 8);
    ASSERT_TRUE(GetLogFilePath(szPath));
    EXPECT_STREQ("C:\\Temp\\MorSetup.log", szPath);
    FakeTemp("C:\\Temp", 7);
    ASSERT_TRUE(GetLogFilePath(szPath));
    EXPECT_STREQ("C:\\Temp\\MorSetup.log", szPath);

    // Failed query, empty answer, a directory longer than the buffer, and one too long to take
    // the file name: the Windows directory.
    for (DWORD dwResult : {0u, 5u})
    {
        FakeTemp("", dwResult);
        ASSERT_TRUE(GetLogFilePath(szPath));
        EXPECT_EQ(WindowsLogPath(), szPath);
    }
    FakeTemp("C:\\" + std::string(300, 't'), 304);
    ASSERT_TRUE(GetLogFilePath(szPath));
    EXPECT_EQ(WindowsLogPath(), szPath);
    FakeTemp("C:\\" + std::string(250, 't') + "\\", 254);
    ASSERT_TRUE(GetLogFilePath(szPath));
    EXPECT_EQ(WindowsLogPath(), szPath);
}

TEST_F(Log, FailedTempQueryWritesIntoTheWindowsDirectory)
{
    std::string strWinLog = WindowsLogPath();
    DeleteFileA(strWinLog.c_str());
    FakeTemp("", 0);
    WriteLog("Orvane: START!!\n");
    std::string strLog = harness::ReadFileBytes(strWinLog);
    DeleteFileA(strWinLog.c_str());
    EXPECT_TRUE(std::regex_match(
        strLog, std::regex(std::string(s_pszBanner) + s_pszTime + "Orvane: START!!\r\n")))
        << strLog;
    EXPECT_FALSE(harness::FileExists(harness::LogPath()));
}

TEST_F(Log, UnopenableFileLosesTheMessageAndKeepsTheBannerPending)
{
    // The log held without sharing, by another program: every open fails.
    std::string strDir = harness::TestDir();
    std::string strLog = strDir + "\\MorSetup.log";
    HANDLE hHeld = CreateFileA(strLog.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, hHeld) << GetLastError();
    FakeTemp(strDir + "\\", (DWORD)strDir.size() + 1);
    WriteLog("lost\n");
    EXPECT_EQ(-1, g_nLogState);

    // Once the file can be opened the banner comes before the first message written.
    CloseHandle(hHeld);
    WriteLog("kept\n");
    EXPECT_EQ(1, g_nLogState);
    std::string strText = harness::ReadFileBytes(strLog);
    EXPECT_TRUE(
        std::regex_match(strText, std::regex(std::string(s_pszBanner) + s_pszTime + "kept\r\n")))
        << strText;
    // An ordinary file that is busy is no reason to log elsewhere.
    EXPECT_FALSE(harness::FileExists(strDir + "\\MorSetup-" +
                                     std::to_string(GetCurrentProcessId()) + ".log"));
}

// Wine reports neither reparse points nor (for a fake) a count of links we choose: the file whose
// identity is in g_fiFaked is reported with these.
BY_HANDLE_FILE_INFORMATION g_fiFaked;
DWORD g_dwFakeAttributes;
DWORD g_dwFakeLinks;

BOOL WINAPI FakeFileInformation(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION pfi)
{
    if (!GetFileInformationByHandle(hFile, pfi))
        return FALSE;
    if (pfi->dwVolumeSerialNumber == g_fiFaked.dwVolumeSerialNumber &&
        pfi->nFileIndexHigh == g_fiFaked.nFileIndexHigh &&
        pfi->nFileIndexLow == g_fiFaked.nFileIndexLow)
    {
        pfi->dwFileAttributes |= g_dwFakeAttributes;
        if (g_dwFakeLinks)
            pfi->nNumberOfLinks = g_dwFakeLinks;
    }
    return TRUE;
}

// The owner of the file whose identity is in g_fiFaked, when one is set.
std::string g_strFakeOwner;

BOOL WINAPI FakeOwner(HANDLE hFile, SECURITY_INFORMATION si, PSECURITY_DESCRIPTOR pSD, DWORD cb,
                      LPDWORD pcbNeeded)
{
    BY_HANDLE_FILE_INFORMATION fi;
    if (g_strFakeOwner.empty() || !GetFileInformationByHandle(hFile, &fi) ||
        fi.nFileIndexLow != g_fiFaked.nFileIndexLow ||
        fi.nFileIndexHigh != g_fiFaked.nFileIndexHigh)
        return LateGetKernelObjectSecurity(hFile, si, pSD, cb, pcbNeeded);
    return secfake::AnswerWithSddl("O:" + g_strFakeOwner, pSD, cb, pcbNeeded);
}

TEST_F(Log, AnythingButAnOrdinaryFileIsLeftAloneAndTheMessagesGoToAFileOfTheirOwnBesideIt)
{
    const std::string strDir = harness::TestDir() + "\\";
    const std::string strLog = strDir + "MorSetup.log";
    const std::string strOwn = strDir + "MorSetup-" + std::to_string(GetCurrentProcessId());
    const std::string strTheirs = "someone else's\r\n";
    struct
    {
        const char* pszCase;
        DWORD dwAttributes;
        DWORD dwLinks;
        bool bDirectory;
        bool bOwnNameTaken;
        const char* pszOwner; // through the seam: Wine makes every file the running account's
    } cases[] = {
        {"a second link, with the first own name taken", 0, 2, false, true, ""},
        {"a reparse point", FILE_ATTRIBUTE_REPARSE_POINT, 0, false, false, ""},
        {"a directory", 0, 0, true, false, ""},
        {"a file another user created", 0, 0, false, false, "S-1-5-21-7-8-9-1001"},
    };
    FakeTemp(strDir, (DWORD)strDir.size());
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszCase);
        g_nLogState = -1;
        if (c.bDirectory)
        {
            ASSERT_TRUE(CreateDirectoryA(strLog.c_str(), NULL));
        }
        else
        {
            ASSERT_TRUE(harness::WriteFileBytes(strLog, strTheirs));
            HANDLE h = CreateFileA(strLog.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                   OPEN_EXISTING, 0, NULL);
            ASSERT_TRUE(GetFileInformationByHandle(h, &g_fiFaked));
            CloseHandle(h);
        }
        if (c.bOwnNameTaken)
        {
            ASSERT_TRUE(harness::WriteFileBytes(strOwn + ".log", strTheirs));
        }
        g_dwFakeAttributes = c.dwAttributes;
        g_dwFakeLinks = c.dwLinks;
        SeamOverrideGetFileInformationByHandle(FakeFileInformation);
        g_strFakeOwner = c.pszOwner;
        SeamOverrideGetKernelObjectSecurity(FakeOwner);
        WriteLog("one\n");
        WriteLog("two\n");
        SeamOverrideGetFileInformationByHandle(NULL);

        if (c.bDirectory)
            EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY,
                      GetFileAttributesA(strLog.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
        else
            EXPECT_EQ(strTheirs, harness::ReadFileBytes(strLog));
        std::string strOwnLog = c.bOwnNameTaken ? strOwn + "-1.log" : strOwn + ".log";
        std::string strText = harness::ReadFileBytes(strOwnLog);
        EXPECT_TRUE(std::regex_match(strText, std::regex(std::string(s_pszBanner) + s_pszTime +
                                                         "one\r\n" + s_pszTime + "two\r\n")))
            << strText;
        if (c.bOwnNameTaken)
        {
            EXPECT_EQ(strTheirs, harness::ReadFileBytes(strOwn + ".log"));
        }
        DeleteFileA((strOwn + ".log").c_str());
        DeleteFileA((strOwn + "-1.log").c_str());
        DeleteFileA(strLog.c_str());
        RemoveDirectoryA(strLog.c_str());
    }
}

} // namespace
