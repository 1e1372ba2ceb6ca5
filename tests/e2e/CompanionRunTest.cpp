// The companion probe of the real program: on Windows 98 a product of its own adds the boot-time
// scanner line to C:\AUTOEXEC.BAT only when the companion product answers through one of its
// in-process components. The components are the stand-ins next to the program under test,
// registered with the regsvr32 of their own bitness, so the 32-bit program asks 32-bit COM
// servers registered in the 32-bit view, as on a real machine.
#include "FlowSupport.h"

#include "CompanionData.h"

#include <string>
#include <vector>

using namespace flow;
using harness::RunOptions;

namespace
{

const char* const s_apszDlls[] = {"CompanionA.dll", "CompanionB.dll"};

// regsvr32 of the program's bitness: a 64-bit test process finds the 32-bit one in the WOW64
// system directory.
std::string Regsvr32Path()
{
    char sz[MAX_PATH];
    UINT cch;
    if (!harness::ProgramIs64Bit() && sizeof(void*) == 8)
        cch = GetSystemWow64DirectoryA(sz, sizeof(sz));
    else
        cch = GetSystemDirectoryA(sz, sizeof(sz));
    EXPECT_TRUE(cch > 0 && cch < sizeof(sz)) << GetLastError();
    return std::string(sz, cch < sizeof(sz) ? cch : 0) + "\\regsvr32.exe";
}

DWORD RunRegsvr32(const char* pszDll, bool bUnregister)
{
    std::string strExe = Regsvr32Path();
    std::string strCmd = "\"" + strExe + "\" /s " + (bUnregister ? "/u " : "") + "\"" +
                         harness::ProgramDir() + "\\" + pszDll + "\"";
    std::vector<char> cmd(strCmd.begin(), strCmd.end());
    cmd.push_back('\0');
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(strExe.c_str(), cmd.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
    {
        ADD_FAILURE() << "cannot start " << strExe << ": " << GetLastError();
        return (DWORD)-1;
    }
    DWORD dwExit = (DWORD)-1;
    if (WaitForSingleObject(pi.hProcess, harness::Patience(60000)) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &dwExit);
    else
        ADD_FAILURE() << "regsvr32 did not end";
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return dwExit;
}

void SetDword(const char* pszKey, const char* pszName, DWORD dw)
{
    HKEY hKey = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, pszKey, 0, NULL, 0, KEY_ALL_ACCESS,
                                             NULL, &hKey, NULL));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(hKey, pszName, 0, REG_DWORD, (const BYTE*)&dw, 4));
    RegCloseKey(hKey);
}

void SetProducts(const char* pszMulti, DWORD cb)
{
    HKEY hKey = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, COMPANION_A_DATA_KEY, 0, NULL, 0,
                                             KEY_ALL_ACCESS, NULL, &hKey, NULL));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(hKey, COMPANION_VALUE_PRODUCTS, 0, REG_MULTI_SZ,
                                            (const BYTE*)pszMulti, cb));
    RegCloseKey(hKey);
}

DWORD Instances(const char* pszKey)
{
    DWORD dw = 0, cb = sizeof(dw);
    if (RegGetValueA(HKEY_CURRENT_USER, pszKey, COMPANION_VALUE_INSTANCES, RRF_RT_REG_DWORD, NULL,
                     &dw, &cb) != ERROR_SUCCESS)
        return 0;
    return dw;
}

void ClearData()
{
    RegDeleteTreeA(HKEY_CURRENT_USER, COMPANION_A_DATA_KEY);
    RegDeleteTreeA(HKEY_CURRENT_USER, COMPANION_B_DATA_KEY);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Quillmark Companion");
}

class CompanionRun : public FlowTest
{
  protected:
    void SetUp() override
    {
        FlowTest::SetUp();
        ClearData();
        for (const char* pszDll : s_apszDlls)
            ASSERT_EQ(0u, RunRegsvr32(pszDll, false)) << pszDll;
    }
    void TearDown() override
    {
        for (const char* pszDll : s_apszDlls)
            EXPECT_EQ(0u, RunRegsvr32(pszDll, true)) << pszDll;
        ClearData();
        FlowTest::TearDown();
    }
};

TEST_F(CompanionRun, ScannerLineOn98OnlyWhenACompanionComponentAnswers)
{
    REQUIRE_WINE();
    const struct
    {
        const char* pszName;
        bool bProductsOfA; // component A lists a product
        bool bBAnswers;    // component B answers S_OK
        bool bLine;
    } cases[] = {
        {"A lists a product", true, false, true},
        {"B answers", false, true, true},
        {"neither answers", false, false, false},
    };
    std::string strPackage = SamplePackage("pkg");
    const std::string strAdmin = "@ECHO OFF\r\nPATH=C:\\WINDOWS\r\n";
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        harness::ResetState();
        ClearData();
        SetRecordView("win98");
        if (c.bProductsOfA)
            SetProducts("QUILLPEN\0", 10);
        if (c.bBAnswers)
            SetDword(COMPANION_B_DATA_KEY, COMPANION_VALUE_RESULT, S_OK);
        ASSERT_TRUE(harness::WriteFileBytes("C:\\AUTOEXEC.BAT", strAdmin));
        std::string strEng = harness::TestDir() + "\\eng";
        RunOptions opts;
        opts.strWindows = "win98";
        opts.strCurDir = strPackage;
        EXPECT_EQ(0u, harness::RunPelmora("/PROD:Quillpen /PATH:" + strEng, opts));

        // The program's process created the component objects it asked.
        EXPECT_LT(0u, Instances(COMPANION_A_DATA_KEY));
        if (!c.bProductsOfA)
        {
            EXPECT_LT(0u, Instances(COMPANION_B_DATA_KEY));
        }
        std::string strShort = harness::ShortName(strEng);
        std::string strWant = "@ECHO OFF\r\nPATH=C:\\WINDOWS;" + strShort +
                              "\r\nSET AVENGINE=" + strShort + "\r\n" +
                              (c.bLine ? strShort + "\\PROBIT.EXE\r\n" : std::string());
        EXPECT_EQ(strWant, harness::ReadFileBytes("C:\\AUTOEXEC.BAT"));
    }
}

} // namespace
