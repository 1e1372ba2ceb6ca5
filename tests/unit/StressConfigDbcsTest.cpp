// The generated configuration files again under code page 932: double-byte characters whose
// trail byte is that of "\" in the file's name and in its ENG value.
#include "UnitFixture.h"

#include "StressConfig.h"

using stress::Rng;

namespace
{

class StressConfigDbcs : public UnitTest
{
  protected:
    void SetUp() override
    {
        UnitTest::SetUp();
        ASSERT_EQ(932u, GetACP()) << "this suite must run with LC_ALL=ja_JP.UTF-8";
    }
};

TEST_F(StressConfigDbcs, ConfigurationFilesGiveBoundedPathsAndTheSetTheyState)
{
    const std::string strDir = harness::TestDir();
    const uint32_t uSeed = stress::RunSeed();
    const int nCases = stress::CaseCount(600);
    int nAccepted = 0;
    for (int i = 0; i < nCases && !HasFailure(); i++)
    {
        SCOPED_TRACE(stress::CaseTrace(uSeed, i));
        Rng rng(uSeed, (uint32_t)i);
        ResetGlobals();
        stress::CheckConfigCase(rng, strDir, true, &nAccepted);
    }
    EXPECT_GT(nAccepted, nCases / 20) << "of " << nCases;
}

} // namespace
