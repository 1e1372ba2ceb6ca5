// The platform id of the real process under every Windows version that Wine can report.
#include "Harness.h"

#include <string>
#include <vector>

namespace
{

class PlatformRun : public harness::PelmoraTest
{
};

TEST_F(PlatformRun, EveryWindowsVersionGivesItsLogLine)
{
    REQUIRE_WINE();
    struct
    {
        const char* pszWindows;
        bool bMeKey;
        const char* pszLine; // nullptr: no platform line at all
    } cases[] = {
        {"win95", false, "Orvane: GetCurrentOSType: OSID_W95 [1]\n"},
        {"win98", false, "Orvane: GetCurrentOSType: OSID_W98 [2]\n"},
        {"winme", true, "Orvane: GetCurrentOSType: OSID_WME [6]\n"},
        {"winme", false, "Orvane: GetCurrentOSType: OSID_W98 [2]\n"},
        {"nt351", false, "Orvane: GetCurrentOSType: OSID_NT351 [3]\n"},
        {"nt40", false, "Orvane: GetCurrentOSType: OSID_NT4 [4]\n"},
        {"win2k", false, "Orvane: GetCurrentOSType: OSID_W2K [5]\n"},
        {"winxp", false, "Orvane: GetCurrentOSType: OSID_W2K [5]\n"},
        {"win7", false, nullptr},
        {"win10", false, nullptr},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(std::string(c.pszWindows) + (c.bMeKey ? " with the ME key" : ""));
        harness::ResetState();
        harness::SetMeEnvironmentKey(c.bMeKey);
        harness::RunOptions opts;
        opts.strWindows = c.pszWindows;
        opts.strCurDir = harness::MakePackageDir("pkg", false);
        EXPECT_EQ(4u, harness::RunPelmora("", opts));
        std::vector<std::string> msgs = harness::LastRunMessages();
        int n = harness::FindPrefix(msgs, "Orvane: GetCurrentOSType: ");
        int nEngPath = harness::FindMessage(msgs, "Orvane: The szEngPath[]\n");
        ASSERT_GE(nEngPath, 0);
        if (c.pszLine)
        {
            ASSERT_EQ(nEngPath + 1, n);
            EXPECT_EQ(c.pszLine, msgs[n]);
        }
        else
        {
            EXPECT_EQ(-1, n);
        }
    }
}

} // namespace
