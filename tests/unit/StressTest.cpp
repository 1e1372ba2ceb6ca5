// Generated inputs for the routines that take outside text: seeded and reproducible (the trace
// names the seed and the case), a few thousand cases each in scripts/test and at least 100,000
// with PELMORA_STRESS_LONG=1. Each case checks what must hold afterwards, not only that the
// routine returned.
#include "UnitFixture.h"

#include "Restart.h"
#include "StressAutoexec.h"
#include "StressGen.h"
#include "reboot/reboot.h"

#include <algorithm>
#include <string>
#include <vector>

using stress::Rng;

namespace
{

class Stress : public UnitTest
{
};

const char s_szEngDir[] = "C:\\PROGRA~1\\QM\\SHARED~1\\SCANEN~1";

TEST_F(Stress, PathEntryKeepsEveryOtherEntryAndStaysInsideTheBuffer)
{
    const uint32_t uSeed = stress::RunSeed();
    const int nCases = stress::CaseCount(5000);
    for (int i = 0; i < nCases && !HasFailure(); i++)
    {
        SCOPED_TRACE(stress::CaseTrace(uSeed, i));
        Rng rng(uSeed, (uint32_t)i);
        stress::CheckPathCase(rng, s_szEngDir, false);
    }
}

TEST_F(Stress, ArgumentTextParsesToBoundedCleanFields)
{
    const uint32_t uSeed = stress::RunSeed();
    const int nCases = stress::CaseCount(3000);
    int nAccepted = 0;
    for (int i = 0; i < nCases && !HasFailure(); i++)
    {
        SCOPED_TRACE(stress::CaseTrace(uSeed, i));
        Rng rng(uSeed, (uint32_t)i);
        ResetGlobals();
        g_nLogState = -1;
        stress::CheckArgumentCase(rng, false, &nAccepted);
    }
    // Without accepted texts the checks of the parsed fields would never have run.
    EXPECT_GT(nAccepted, nCases / 50) << "of " << nCases;
}

TEST_F(Stress, WinInitRenameKeepsEveryEarlierByte)
{
    const std::string strWinInit = harness::WinInitPath();
    const uint32_t uSeed = stress::RunSeed();
    const int nCases = stress::CaseCount(3000);
    for (int i = 0; i < nCases && !HasFailure(); i++)
    {
        SCOPED_TRACE(stress::CaseTrace(uSeed, i));
        Rng rng(uSeed, (uint32_t)i);
        bool bExists = rng.Below(8) != 0;
        std::string strBefore = bExists ? stress::RandomWinInit(rng) : std::string();
        DeleteFileA(strWinInit.c_str());
        if (bExists)
        {
            ASSERT_TRUE(harness::WriteFileBytes(strWinInit, strBefore));
        }
        // Lines around the 1023 bytes the routine takes.
        std::string strSource =
            "C:\\" +
            rng.Printable(rng.Percent(10) ? rng.Range(900, 1100) : rng.Range(1, 80), "\r\n=");
        std::string strDest;
        bool bDelete = rng.Percent(30);
        if (!bDelete)
            strDest = "C:\\" + rng.Printable(rng.Range(1, 80), "\r\n=");
        std::string strLine = (bDelete ? std::string("NUL") : strDest) + "=" + strSource + "\r\n";

        BOOL bResult = AddWinInitRename(strSource.c_str(), bDelete ? NULL : strDest.c_str());

        std::string strAfter = harness::ReadFileBytes(strWinInit);
        if (strLine.size() > 1023)
        {
            EXPECT_FALSE(bResult);
            EXPECT_EQ(strBefore, strAfter) << "a refused line changed the file";
            continue;
        }
        ASSERT_TRUE(bResult);
        std::string strExpected = stress::ExpectedWinInit(strBefore, strLine);
        ASSERT_EQ(strExpected.size(), strAfter.size());
        EXPECT_TRUE(strExpected == strAfter)
            << "first difference at byte "
            << std::mismatch(strExpected.begin(), strExpected.end(), strAfter.begin()).first -
                   strExpected.begin();
    }
}

// C:\AUTOEXEC.BAT through the two editors and the whole Windows 95/98 branch: every line of the
// user kept byte for byte and in order, the program's lines once each, the Ctrl-Z and what
// follows it untouched, no work file left, the heap intact.
TEST_F(Stress, AutoexecKeepsEveryLineOfTheUser)
{
    const std::vector<std::string> shorts = {"C:\\PROGRA~1\\QM\\SHARED~1\\SCANEN~1", "C:\\ENGINE",
                                             "D:\\Q\\E"};
    for (const std::string& s : shorts)
    {
        char sz[MAX_PATH];
        CharToOemA(s.c_str(), sz);
        ASSERT_EQ(s, sz) << "the short paths must read the same in the OEM code page";
    }
    SeamOverrideGetShortPathNameA(stress::CaseGetShortPathNameA);
    const uint32_t uSeed = stress::RunSeed();
    const int nCases = stress::CaseCount(2000);
    for (int i = 0; i < nCases && !HasFailure(); i++)
    {
        SCOPED_TRACE(stress::CaseTrace(uSeed, i));
        Rng rng(uSeed, (uint32_t)i);
        stress::CheckAutoexecCase(rng, shorts, false);
    }
}

} // namespace
