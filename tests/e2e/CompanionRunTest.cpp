// The companion probe of the real program: on Windows 98 a product of its own adds the boot-time
// scanner line to C:\AUTOEXEC.BAT only when the companion product answers through one of its
// in-process components. The components are the stand-ins next to the program under test,
// registered with the regsvr32 of their own bitness, so the 32-bit program asks 32-bit COM
// servers registered in the 32-bit view, as on a real machine.
#include "FlowSupport.h"

#include "CompanionData.h"
#include "CompanionSupport.h"

#include <string>
#include <vector>

using namespace flow;
using harness::RunOptions;

namespace
{

const char* const s_apszDlls[] = {"CompanionA.dll", "CompanionB.dll"};

DWORD RunRegsvr32(const char* pszDll, bool bUnregister)
{
    return harness::RunRegsvr32(harness::ProgramDir() + "\\" + pszDll, bUnregister);
}

class CompanionRun : public FlowTest
{
  protected:
    void SetUp() override
    {
        FlowTest::SetUp();
        harness::ClearCompanionData();
        for (const char* pszDll : s_apszDlls)
            ASSERT_EQ(0u, RunRegsvr32(pszDll, false)) << pszDll;
    }
    void TearDown() override
    {
        for (const char* pszDll : s_apszDlls)
            EXPECT_EQ(0u, RunRegsvr32(pszDll, true)) << pszDll;
        harness::ClearCompanionData();
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
        harness::ClearCompanionData();
        SetRecordView("win98");
        if (c.bProductsOfA)
            harness::SetCompanionValue(COMPANION_A_DATA_KEY, COMPANION_VALUE_PRODUCTS, REG_MULTI_SZ,
                                       "QUILLPEN\0", 10);
        if (c.bBAnswers)
        {
            DWORD dwOk = S_OK;
            harness::SetCompanionValue(COMPANION_B_DATA_KEY, COMPANION_VALUE_RESULT, REG_DWORD,
                                       &dwOk, sizeof(dwOk));
        }
        ASSERT_TRUE(harness::WriteFileBytes("C:\\AUTOEXEC.BAT", strAdmin));
        std::string strEng = harness::TestDir() + "\\eng";
        RunOptions opts;
        opts.strWindows = "win98";
        opts.strCurDir = strPackage;
        EXPECT_EQ(0u, harness::RunPelmora("/PROD:Quillpen /PATH:" + strEng, opts));

        // The program's process created the component objects it asked.
        EXPECT_LT(0u, harness::CompanionInstances(COMPANION_A_DATA_KEY));
        if (!c.bProductsOfA)
        {
            EXPECT_LT(0u, harness::CompanionInstances(COMPANION_B_DATA_KEY));
        }
        std::string strShort = harness::ShortName(strEng);
        std::string strWant = "@ECHO OFF\r\nPATH=C:\\WINDOWS;" + strShort +
                              "\r\nSET AVENGINE=" + strShort + "\r\n" +
                              (c.bLine ? strShort + "\\PROBIT.EXE\r\n" : std::string());
        EXPECT_EQ(strWant, harness::ReadFileBytes("C:\\AUTOEXEC.BAT"));
    }
}

} // namespace
