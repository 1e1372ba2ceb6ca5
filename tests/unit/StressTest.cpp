// Generated inputs for the routines that take outside text: seeded and reproducible (the trace
// names the seed and the case), a few thousand cases each in scripts/test and at least 100,000
// with PELMORA_STRESS_LONG=1. Each case checks what must hold afterwards, not only that the
// routine returned.
#include "UnitFixture.h"

#include "StressGen.h"

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

} // namespace
