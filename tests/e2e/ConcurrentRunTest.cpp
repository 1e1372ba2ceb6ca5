// Runs started together by different products' setups.
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

} // namespace
