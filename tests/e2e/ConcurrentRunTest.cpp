// Runs started together by different products' setups.
#include "FlowSupport.h"
#include "Harness.h"

#include "install/install.h"

#include <string>
#include <vector>

namespace
{

class ConcurrentRun : public harness::PelmoraTest
{
};

std::string StoredString(const char* pszName)
{
    std::string strData;
    DWORD dwType = 0;
    if (!harness::ReadMachineValue("SOFTWARE\\Quillmark\\ScanEngine", pszName, &dwType, &strData))
        return "absent";
    return std::string(strData.c_str());
}

DWORD StoredDword(const char* pszName)
{
    std::string strData;
    DWORD dwType = 0;
    if (!harness::ReadMachineValue("SOFTWARE\\Quillmark\\ScanEngine", pszName, &dwType, &strData) ||
        dwType != REG_DWORD || strData.size() != 4)
        return 0xFFFFFFFF;
    return *(const DWORD*)strData.data();
}

TEST_F(ConcurrentRun, ARunWaitsForTheOneHoldingTheLock)
{
    // The test plays a run that holds the lock: the program must not decide before it lets go.
    HANDLE hMutex = CreateMutexA(NULL, TRUE, "Global\\" PELMORA_RUN_LOCK_NAME);
    ASSERT_TRUE(hMutex != NULL) << GetLastError();
    harness::RunOptions opts;
    opts.strCurDir = harness::BuildDir() + "\\sample";
    std::string strEng = harness::TestDir() + "\\eng";
    PROCESS_INFORMATION pi;
    ASSERT_TRUE(harness::StartPelmora("/PROD:A /PATH:" + strEng, opts, &pi));
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(pi.hProcess, 3000))
        << "the run went on while another held the lock";
    EXPECT_EQ(-1, harness::FindPrefix(harness::LastRunMessages(), "Orvane: bFormerInstalled"));
    ReleaseMutex(hMutex);
    CloseHandle(hMutex);
    EXPECT_EQ(0u, harness::WaitForExit(&pi, 60000));
    EXPECT_NE(
        -1, harness::FindMessage(harness::LastRunMessages(), "Orvane: first install completes\n"));
}

TEST_F(ConcurrentRun, TwoProductsAtOnceBothRegisterAndCount)
{
    harness::RunOptions opts;
    opts.strCurDir = harness::BuildDir() + "\\sample";
    std::string strEng = harness::TestDir() + "\\eng";
    PROCESS_INFORMATION piA, piB;
    ASSERT_TRUE(harness::StartPelmora("/PROD:A /PATH:" + strEng, opts, &piA));
    ASSERT_TRUE(harness::StartPelmora("/PROD:B /PATH:" + strEng, opts, &piB));
    DWORD dwA = harness::WaitForExit(&piA, 120000);
    DWORD dwB = harness::WaitForExit(&piB, 120000);
    EXPECT_TRUE(dwA == 0 || dwA == 2) << dwA;
    EXPECT_TRUE(dwB == 0 || dwB == 2) << dwB;
    std::string strList = StoredString("ProductList");
    EXPECT_TRUE(strList == "|A|B|" || strList == "|B|A|") << strList;
    EXPECT_EQ(2u, StoredDword("ReferenceCount"));
}

// Two products' updates at once on Windows 98, the engine DLL in use: both wait for the restart,
// both are counted once, and WININIT.INI and AUTOEXEC.BAT carry one request and one entry each.
TEST_F(ConcurrentRun, TwoUpdatesAtOnceOn98WithTheEngineInUse)
{
    REQUIRE_WINE();
    flow::SetRecordView("win98");
    HKEY hKey;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                                           "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                                           KEY_SET_VALUE, &hKey));
    RegSetValueExA(hKey, "PendingFileRenameOperations", 0, REG_SZ, (const BYTE*)"x", 2);
    RegCloseKey(hKey);
    harness::RunOptions opts;
    opts.strWindows = "win98";
    opts.strCurDir = flow::SamplePackage("pkg");
    std::string strEng = harness::TestDir() + "\\eng";
    ASSERT_EQ(0u, harness::RunPelmora("/PROD:A /PATH:" + strEng, opts));

    opts.strCurDir = flow::NewerOskaPackage("newpkg");
    std::string strDll = strEng + "\\Osk32dll.dll";
    flow::HeldFile held(strDll);
    ASSERT_TRUE(held.IsHeld());
    PROCESS_INFORMATION piB, piC;
    ASSERT_TRUE(harness::StartPelmora("/PROD:B", opts, &piB));
    ASSERT_TRUE(harness::StartPelmora("/PROD:C", opts, &piC));
    EXPECT_EQ(2u, harness::WaitForExit(&piB, 120000));
    EXPECT_EQ(2u, harness::WaitForExit(&piC, 120000));

    std::string strList = flow::RecStr(flow::s_szKey, "ProductList");
    EXPECT_TRUE(strList == "|A|B|C|" || strList == "|A|C|B|") << strList;
    EXPECT_EQ(3u, flow::RecDword("ReferenceCount"));
    std::string strTarget = harness::ShortUpper(strDll);
    std::string strWinInit = harness::ReadFileBytes(harness::WinInitPath());
    std::string strDelete = "NUL=" + strTarget + "\r\n";
    size_t nAt = strWinInit.find(strDelete);
    EXPECT_NE(std::string::npos, nAt) << strWinInit;
    EXPECT_EQ(std::string::npos, strWinInit.find(strDelete, nAt + 1)) << "requested twice";
    std::string strAutoexec = harness::ReadFileBytes("C:\\AUTOEXEC.BAT");
    size_t nSet = strAutoexec.find("SET AVENGINE=");
    EXPECT_NE(std::string::npos, nSet) << strAutoexec;
    EXPECT_EQ(std::string::npos, strAutoexec.find("SET AVENGINE=", nSet + 1)) << strAutoexec;

    held.Release();
    ASSERT_TRUE(harness::Restart());
    EXPECT_TRUE(flow::SameContent(opts.strCurDir + "\\Osk32dll.dll", strDll));
    EXPECT_FALSE(harness::FileExists(strDll + "000"));
}

} // namespace
