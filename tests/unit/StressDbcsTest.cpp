// The generated inputs again under code page 932: double-byte text in PATH values and argument
// texts, with trail bytes that equal "\" or a letter, which a byte-wise search mistakes.
#include "UnitFixture.h"

#include "StressAutoexec.h"
#include "StressGen.h"

#include <string>

using stress::Rng;

namespace
{

class StressDbcs : public UnitTest
{
  protected:
    void SetUp() override
    {
        UnitTest::SetUp();
        ASSERT_EQ(932u, GetACP()) << "this suite must run with LC_ALL=ja_JP.UTF-8";
    }
};

TEST_F(StressDbcs, PathEntryKeepsEveryOtherEntryAndStaysInsideTheBuffer)
{
    // U+8868 and U+30BD end with the byte of "\"; the second directory ends with one.
    const std::string astrDirs[] = {"C:\\PROGRA~1\\\x95\x5C\\SCANEN~1", "C:\\QM\\\x83\x5C",
                                    "C:\\\x83\x41\x83\x5C\\B"};
    const uint32_t uSeed = stress::RunSeed();
    const int nCases = stress::CaseCount(3000);
    for (int i = 0; i < nCases && !HasFailure(); i++)
    {
        SCOPED_TRACE(stress::CaseTrace(uSeed, i));
        Rng rng(uSeed, (uint32_t)i);
        stress::CheckPathCase(rng, astrDirs[rng.Below(3)], true);
    }
}

TEST_F(StressDbcs, ArgumentTextParsesToBoundedCleanFields)
{
    const uint32_t uSeed = stress::RunSeed();
    const int nCases = stress::CaseCount(2000);
    int nAccepted = 0;
    for (int i = 0; i < nCases && !HasFailure(); i++)
    {
        SCOPED_TRACE(stress::CaseTrace(uSeed, i));
        Rng rng(uSeed, (uint32_t)i);
        ResetGlobals();
        g_nLogState = -1;
        stress::CheckArgumentCase(rng, true, &nAccepted);
    }
    EXPECT_GT(nAccepted, nCases / 50) << "of " << nCases;
}

// C:\AUTOEXEC.BAT with double-byte text: trail bytes that equal "\" or a letter, a lone lead
// byte in front of the program's texts, PATH prefixes and the short path, short paths that hold
// double-byte characters.
TEST_F(StressDbcs, AutoexecKeepsEveryLineOfTheUser)
{
    const std::vector<std::string> shorts = {"C:\\PROGRA~1\\\x95\x5C\\SCANEN~1", "C:\\QM\\\x83\x5C",
                                             "C:\\\x83\x41\x83\x5C\\B", "C:\\ENGINE"};
    SeamOverrideGetShortPathNameA(stress::CaseGetShortPathNameA);
    const uint32_t uSeed = stress::RunSeed();
    const int nCases = stress::CaseCount(1200);
    for (int i = 0; i < nCases && !HasFailure(); i++)
    {
        SCOPED_TRACE(stress::CaseTrace(uSeed, i));
        Rng rng(uSeed, (uint32_t)i);
        stress::CheckAutoexecCase(rng, shorts, true);
    }
}

} // namespace
