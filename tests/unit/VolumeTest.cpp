// Free space of the target volume (through the seam for exact figures, and on the real drive)
// and directory creation on disk.
#include "UnitFixture.h"

#include "deploy/deploy.h"
#include "SecurityFakes.h"

#include <stdlib.h>

#include <string>
#include <vector>

namespace
{

// What the fake volume reports, and what it was asked.
DWORD g_dwSpc, g_dwBps, g_dwFreeClusters, g_dwFakeError;
BOOL g_bFakeFails;
std::vector<std::string> g_asked;

BOOL WINAPI FakeGetDiskFreeSpaceA(LPCSTR pszRoot, LPDWORD pdwSpc, LPDWORD pdwBps, LPDWORD pdwFree,
                                  LPDWORD pdwTotal)
{
    g_asked.push_back(pszRoot ? pszRoot : "<null>");
    if (g_bFakeFails)
    {
        // As the real call does: the error number is set before the failure is returned.
        SetLastError(g_dwFakeError);
        return FALSE;
    }
    *pdwSpc = g_dwSpc;
    *pdwBps = g_dwBps;
    *pdwFree = g_dwFreeClusters;
    *pdwTotal = g_dwFreeClusters + 1000;
    return TRUE;
}

void FakeVolume(DWORD dwSpc, DWORD dwBps, DWORD dwFreeClusters)
{
    g_dwSpc = dwSpc;
    g_dwBps = dwBps;
    g_dwFreeClusters = dwFreeClusters;
    g_bFakeFails = FALSE;
    g_asked.clear();
    SeamOverrideGetDiskFreeSpaceA(FakeGetDiskFreeSpaceA);
}

void FakeFailure(DWORD dwError)
{
    g_bFakeFails = TRUE;
    g_dwFakeError = dwError;
    g_asked.clear();
    SeamOverrideGetDiskFreeSpaceA(FakeGetDiskFreeSpaceA);
}

std::string HaveLine(unsigned long long ullMB, const std::string& strRoot)
{
    return "Orvane: have " + std::to_string(ullMB) + "MB free disk space available on drive " +
           strRoot + ".\n";
}

std::string OnlyLine(unsigned long long ullBytes, const std::string& strRoot)
{
    return "Orvane: only have " + std::to_string(ullBytes) + " free disk space left on drive " +
           strRoot + ". Not enough space to copy ScanEngine files\n";
}

class Volume : public UnitTest
{
};

TEST_F(Volume, ThresholdOfEachPlatformGroupExactlyAndOneByteLess)
{
    struct
    {
        DWORD dwOSType;
        unsigned long long ullThreshold;
    } cases[] = {{OSID_W95, 7460100},     {OSID_W98, 7460100}, {OSID_WME, 6605650},
                 {OSID_NT351, 7032900},   {OSID_NT4, 7032900}, {OSID_W2K, 7032900},
                 {OSID_UNKNOWN, 7032900}, {42, 7032900}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE("g_dwOSType " + std::to_string(c.dwOSType));
        g_dwOSType = c.dwOSType;

        // One-byte sectors make every byte count visible.
        g_nLogState = -1;
        FakeVolume(1, 1, (DWORD)c.ullThreshold);
        EXPECT_EQ(0u, CheckFreeDiskSpace("C:\\Program Files\\QM\\SharedComponents\\ScanEngine"));
        EXPECT_EQ(std::vector<std::string>{"C:\\"}, g_asked);
        EXPECT_EQ(std::vector<std::string>{HaveLine(c.ullThreshold >> 20, "C:\\")},
                  harness::LastRunMessages());

        g_nLogState = -1;
        FakeVolume(1, 1, (DWORD)c.ullThreshold - 1);
        EXPECT_EQ(6u, CheckFreeDiskSpace("C:\\Program Files\\QM\\SharedComponents\\ScanEngine"));
        EXPECT_EQ((std::vector<std::string>{HaveLine((c.ullThreshold - 1) >> 20, "C:\\"),
                                            OnlyLine(c.ullThreshold - 1, "C:\\")}),
                  harness::LastRunMessages());
    }
}

TEST_F(Volume, LargeVolumesAreCountedIn64Bits)
{
    g_dwOSType = OSID_W2K;
    struct
    {
        DWORD dwSpc, dwBps, dwFree;
        unsigned long long ullBytes;
        DWORD dwExpected;
    } cases[] = {
        // 8 GiB: the product of the three overflows 32 bits.
        {8, 512, 0x200000, 8ULL << 30, 0},
        // Exactly 4 GiB would read as 0 bytes in 32 bits.
        {8, 512, 0x100000, 4ULL << 30, 0},
        // A cluster size beyond 32 bits itself (65536 sectors of 65536 bytes).
        {65536, 65536, 3, 3ULL << 32, 0},
        // Close to the largest figure the call can report, with a fraction of a MiB.
        {128, 4096, 0xFFFFFFFF, 0xFFFFFFFFULL * 524288, 0},
        // Tiny clusters below the threshold: 2 bytes short.
        {1, 2, 3516449, 7032898, 6},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(std::to_string(c.ullBytes) + " bytes");
        g_nLogState = -1;
        FakeVolume(c.dwSpc, c.dwBps, c.dwFree);
        EXPECT_EQ(c.dwExpected, CheckFreeDiskSpace("d:\\Engine"));
        std::vector<std::string> expected{HaveLine(c.ullBytes / 1048576, "d:\\")};
        if (c.dwExpected)
            expected.push_back(OnlyLine(c.ullBytes, "d:\\"));
        EXPECT_EQ(expected, harness::LastRunMessages());
    }
}

TEST_F(Volume, PathWithoutDriveLetterIsQueriedUnchanged)
{
    g_dwOSType = OSID_NT4;
    const char* const pszUnc = "\\\\server\\share\\QM\\ScanEngine";
    FakeVolume(1, 512, 100);
    EXPECT_EQ(6u, CheckFreeDiskSpace(pszUnc));
    EXPECT_EQ(std::vector<std::string>{pszUnc}, g_asked);
    EXPECT_EQ((std::vector<std::string>{HaveLine(0, pszUnc), OnlyLine(51200, pszUnc)}),
              harness::LastRunMessages());
}

TEST_F(Volume, FailingQueryReturnsItsErrorNumber)
{
    g_dwOSType = OSID_W98;
    for (DWORD dwErr : {(DWORD)ERROR_PATH_NOT_FOUND, (DWORD)ERROR_NOT_READY,
                        (DWORD)ERROR_BAD_NETPATH, (DWORD)ERROR_ACCESS_DENIED})
    {
        SCOPED_TRACE(dwErr);
        g_nLogState = -1;
        FakeFailure(dwErr);
        EXPECT_EQ(dwErr, CheckFreeDiskSpace("E:\\QM"));
        EXPECT_EQ(std::vector<std::string>{"E:\\"}, g_asked);
        EXPECT_EQ(std::vector<std::string>{"Orvane: Can't GetDiskFreeSpace return [" +
                                           std::to_string(dwErr) + "]\n"},
                  harness::LastRunMessages());
    }

    // A failure that leaves no error number must still not read as enough space.
    g_nLogState = -1;
    FakeFailure(ERROR_SUCCESS);
    EXPECT_EQ((DWORD)ERROR_GEN_FAILURE, CheckFreeDiskSpace("E:\\QM"));
    EXPECT_EQ(std::vector<std::string>{"Orvane: Can't GetDiskFreeSpace return [31]\n"},
              harness::LastRunMessages());
}

TEST_F(Volume, RealDriveThatDoesNotExist)
{
    DWORD dwDrives = GetLogicalDrives();
    char chFree = 0;
    for (char ch = 'Q'; ch <= 'Y' && !chFree; ch++)
        if (!(dwDrives & (1u << (ch - 'A'))))
            chFree = ch;
    if (!chFree)
        GTEST_SKIP() << "every drive letter from Q to Y is in use";

    std::string strPath = std::string(1, chFree) + ":\\QM\\ScanEngine";
    std::string strRoot = std::string(1, chFree) + ":\\";
    DWORD dwSpc, dwBps, dwFree, dwTotal;
    SetLastError(0xdeadbeef);
    ASSERT_FALSE(GetDiskFreeSpaceA(strRoot.c_str(), &dwSpc, &dwBps, &dwFree, &dwTotal));
    DWORD dwErr = GetLastError();
    ASSERT_NE(0u, dwErr);

    g_dwOSType = OSID_W2K;
    EXPECT_EQ(dwErr, CheckFreeDiskSpace(strPath.c_str()));
    EXPECT_EQ(std::vector<std::string>{"Orvane: Can't GetDiskFreeSpace return [" +
                                       std::to_string(dwErr) + "]\n"},
              harness::LastRunMessages());
}

TEST_F(Volume, RealDriveBeyond4GiBIsPrintedRight)
{
    std::string strPath = harness::TestDir() + "\\ScanEngine";
    std::string strRoot = strPath.substr(0, 3);
    ULARGE_INTEGER uAvail, uTotal, uFree;
    ASSERT_TRUE(GetDiskFreeSpaceExA(strRoot.c_str(), &uAvail, &uTotal, &uFree)) << GetLastError();
    if (uFree.QuadPart < (5ULL << 30))
        GTEST_SKIP() << "the build drive has less than 5 GiB free";

    g_dwOSType = OSID_W2K;
    EXPECT_EQ(0u, CheckFreeDiskSpace(strPath.c_str()));
    std::vector<std::string> msgs = harness::LastRunMessages();
    ASSERT_EQ(1u, msgs.size());
    const std::string strHead = "Orvane: have ";
    ASSERT_EQ(0u, msgs[0].find(strHead)) << msgs[0];
    unsigned long long ullMB = strtoull(msgs[0].c_str() + strHead.size(), nullptr, 10);
    EXPECT_EQ(HaveLine(ullMB, strRoot), msgs[0]);
    // Other processes write meanwhile: the figure must lie near the drive's own, and above the
    // 4 GiB that a 32-bit product would wrap at.
    ASSERT_TRUE(GetDiskFreeSpaceExA(strRoot.c_str(), &uAvail, &uTotal, &uFree));
    unsigned long long ullNow = uFree.QuadPart >> 20;
    EXPECT_GT(ullMB, 4096u);
    EXPECT_LE(ullMB, ullNow + 512);
    EXPECT_GE(ullMB + 512, ullNow);
}

bool IsDirectory(const std::string& strPath)
{
    DWORD dw = GetFileAttributesA(strPath.c_str());
    return dw != INVALID_FILE_ATTRIBUTES && (dw & FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(Volume, CreateDirMakesEveryMissingLevel)
{
    std::string strBase = harness::TestDir();
    for (const char* pszSep : {"\\", "/"})
    {
        SCOPED_TRACE(pszSep);
        std::string strTop = strBase + "\\top" + (pszSep[0] == '/' ? "S" : "B");
        std::string strPath = strTop + pszSep + "Shared" + pszSep + "ScanEngine";
        ASSERT_FALSE(IsDirectory(strTop));
        EXPECT_NE(FALSE, Create_Dir(strPath.c_str()));
        EXPECT_TRUE(IsDirectory(strTop));
        EXPECT_TRUE(IsDirectory(strTop + "\\Shared"));
        EXPECT_TRUE(IsDirectory(strTop + "\\Shared\\ScanEngine"));

        // Present already: the final creation fails, and that is the answer.
        SetLastError(0xdeadbeef);
        EXPECT_EQ(FALSE, Create_Dir(strPath.c_str()));
        EXPECT_EQ((DWORD)ERROR_ALREADY_EXISTS, GetLastError());
        EXPECT_TRUE(IsDirectory(strTop + "\\Shared\\ScanEngine"));
    }
    EXPECT_TRUE(harness::LastRunMessages().empty());
}

TEST_F(Volume, CreateDirWithTrailingBackslashCreatesThroughTheInnerCall)
{
    std::string strDir = harness::TestDir() + "\\Logs";
    EXPECT_EQ(FALSE, Create_Dir((strDir + "\\").c_str()));
    EXPECT_TRUE(IsDirectory(strDir));
}

TEST_F(Volume, CreateDirDirectlyBelowARoot)
{
    char szWin[MAX_PATH];
    ASSERT_NE(0u, GetWindowsDirectoryA(szWin, sizeof(szWin)));
    std::string strPath = std::string(szWin, 3) + "PelmoraCreateDirTest";
    RemoveDirectoryA(strPath.c_str());
    ASSERT_FALSE(IsDirectory(strPath));
    EXPECT_NE(FALSE, Create_Dir(strPath.c_str()));
    EXPECT_TRUE(IsDirectory(strPath));
    EXPECT_EQ(FALSE, Create_Dir(strPath.c_str()));
    EXPECT_TRUE(RemoveDirectoryA(strPath.c_str())) << GetLastError();
}

TEST_F(Volume, CreateDirRefusesEmptyAndOverlongPaths)
{
    EXPECT_EQ(FALSE, Create_Dir(nullptr));
    EXPECT_EQ(FALSE, Create_Dir(""));
    EXPECT_EQ((std::vector<std::string>{"Orvane: Can't Create directory \n",
                                        "Orvane: Can't Create directory \n"}),
              harness::LastRunMessages());

    // A path that does not fit is not cut: a cut path would name some other directory.
    std::string strTop = harness::TestDir() + "\\long";
    std::string strPath = strTop + "\\" + std::string(MAX_PATH, 'x') + "\\leaf";
    SetLastError(0xdeadbeef);
    EXPECT_EQ(FALSE, Create_Dir(strPath.c_str()));
    EXPECT_EQ((DWORD)ERROR_FILENAME_EXCED_RANGE, GetLastError());
    EXPECT_FALSE(IsDirectory(strTop));
}

DWORD g_dwFakeMajor, g_dwFakeMinor;

BOOL WINAPI FakeVersion(LPOSVERSIONINFOA pvi)
{
    pvi->dwMajorVersion = g_dwFakeMajor;
    pvi->dwMinorVersion = g_dwFakeMinor;
    pvi->dwPlatformId = VER_PLATFORM_WIN32_NT;
    return TRUE;
}

// The parent's list, as the platform would return it, decides what a new directory gets: a list
// that passes on to it rights of others gives it the protected list at its creation, and the
// directory below it, now closed, inherits again.
TEST_F(Volume, CreateDirGivesTheProtectedListWhereTheParentPassesOnOthersRights)
{
    // Vista's root of the system drive: Authenticated Users may create folders and modify what
    // is below; Windows 2000's: Everyone full control.
    const std::string strVistaRoot = "O:SYD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
                                     "(A;;0x4;;;AU)(A;OICIIO;SDGXGWGR;;;AU)";
    const std::string strProgramFiles =
        "O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
        "D:(A;OICI;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)"
        "(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;OICIIO;GA;;;CO)";
    const std::string strProtected = secfake::ProtectedSddl(true);
    const std::string strBefore8 = secfake::ProtectedSddl(false);
    // NT 4 knows no protected list.
    const std::string strNt4 = "O:BAD:" + strBefore8.substr(7);
    struct
    {
        const char* pszCase;
        std::string strParent;
        DWORD dwOSType, dwMajor, dwMinor;
        std::string strGiven; // "" where it inherits
    } cases[] = {
        {"Vista's root on 10", strVistaRoot, OSID_W2K, 10, 0, strProtected},
        {"Vista's root on 7", strVistaRoot, OSID_W2K, 6, 1, strBefore8},
        {"Windows 2000's root", "D:(A;OICI;FA;;;WD)", OSID_W2K, 5, 0, strBefore8},
        {"NT 4", "D:(A;OICI;FA;;;WD)", OSID_NT4, 4, 0, strNt4},
        {"Program Files", strProgramFiles, OSID_W2K, 10, 0, ""},
        {"a volume without security (FAT)", "", OSID_W2K, 10, 0, ""},
        {"XP's Program Files", "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;PU)", OSID_W2K,
         5, 1, ""},
        {"others may add only to the parent itself", "D:(A;OICI;FA;;;SY)(A;;0x6;;;BU)", OSID_W2K,
         10, 0, ""},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszCase);
        const std::string strTop = harness::TestDir() + "\\top";
        harness::DeleteTree(strTop);
        ASSERT_TRUE(CreateDirectoryA(strTop.c_str(), NULL));
        DeleteFileA(harness::LogPath().c_str());
        g_nLogState = -1;
        g_dwOSType = c.dwOSType;
        secfake::Scope fakes;
        g_dwFakeMajor = c.dwMajor;
        g_dwFakeMinor = c.dwMinor;
        SeamOverrideGetVersionExA(FakeVersion);
        secfake::Answers()[secfake::Upper(strTop)] = c.strParent;
        EXPECT_NE(FALSE, Create_Dir((strTop + "\\Eng\\Logs").c_str()));

        // Wine's own list of the new directory keeps others out: its child inherits.
        std::map<std::string, std::string> expected = {{strTop + "\\Eng", c.strGiven},
                                                       {strTop + "\\Eng\\Logs", ""}};
        std::vector<std::string> lines;
        if (!c.strGiven.empty())
            lines.push_back("Orvane: [" + strTop + "\\Eng] would inherit rights of others from [" +
                            strTop + "], created for administrators only\n");
        EXPECT_EQ(expected, secfake::Given());
        EXPECT_EQ(lines, harness::LastRunMessages());
        EXPECT_TRUE(IsDirectory(strTop + "\\Eng\\Logs"));
    }
    // 95, 98 and ME: no security asked for or given.
    g_dwOSType = OSID_W98;
    secfake::Scope fakes;
    EXPECT_NE(FALSE, Create_Dir((harness::TestDir() + "\\nine\\Eng").c_str()));
    EXPECT_EQ((std::map<std::string, std::string>{}), secfake::Given());
}

} // namespace
