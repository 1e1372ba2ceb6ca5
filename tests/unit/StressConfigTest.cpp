// Generated configuration files for /CFG: the engine set and the engine directory in every shape
// the profile readers meet, with fields that must stay bounded and a refusal that leaves the path
// as it was.
#include "UnitFixture.h"

#include "StressConfig.h"

using stress::Rng;

namespace
{

class StressConfig : public UnitTest
{
};

TEST_F(StressConfig, ConfigurationFilesGiveBoundedPathsAndTheSetTheyState)
{
    const std::string strDir = harness::TestDir();
    const uint32_t uSeed = stress::RunSeed();
    const int nCases = stress::CaseCount(1500);
    int nAccepted = 0;
    DWORD dwStart = GetTickCount();
    for (int i = 0; i < nCases && !HasFailure(); i++)
    {
        SCOPED_TRACE(stress::CaseTrace(uSeed, i));
        Rng rng(uSeed, (uint32_t)i);
        ResetGlobals();
        stress::CheckConfigCase(rng, strDir, false, &nAccepted);
    }
    // Without accepted files the checks of the returned path would never have run.
    EXPECT_GT(nAccepted, nCases / 20) << "of " << nCases;
    printf("[ stress   ] %d cases, %d accepted, %lu ms\n", nCases, nAccepted,
           (unsigned long)(GetTickCount() - dwStart));
}

} // namespace
