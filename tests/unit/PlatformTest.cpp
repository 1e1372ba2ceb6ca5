#include "UnitFixture.h"

#include <string>

namespace
{

OSVERSIONINFOA g_fakeVersion;

BOOL WINAPI FakeGetVersionExA(LPOSVERSIONINFOA pvi)
{
    if (pvi->dwOSVersionInfoSize != 148)
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    *pvi = g_fakeVersion;
    return TRUE;
}

BOOL WINAPI FailingGetVersionExA(LPOSVERSIONINFOA)
{
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

void FakeVersion(DWORD dwPlatform, DWORD dwMajor, DWORD dwMinor)
{
    ZeroMemory(&g_fakeVersion, sizeof(g_fakeVersion));
    g_fakeVersion.dwOSVersionInfoSize = sizeof(g_fakeVersion);
    g_fakeVersion.dwPlatformId = dwPlatform;
    g_fakeVersion.dwMajorVersion = dwMajor;
    g_fakeVersion.dwMinorVersion = dwMinor;
    SeamOverrideGetVersionExA(FakeGetVersionExA);
}

class Platform : public UnitTest
{
};

TEST_F(Platform, EveryVersionGivesItsIdAndLogLine)
{
    struct
    {
        DWORD dwPlatform, dwMajor, dwMinor;
        bool bMeKey;
        DWORD dwId;
        const char* pszLog; // nullptr: no line
    } cases[] = {
        {VER_PLATFORM_WIN32_WINDOWS, 4, 0, true, 1, "Orvane: GetCurrentOSType: OSID_W95 [1]\n"},
        {VER_PLATFORM_WIN32_WINDOWS, 3, 95, true, 1, "Orvane: GetCurrentOSType: OSID_W95 [1]\n"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 10, false, 2, "Orvane: GetCurrentOSType: OSID_W98 [2]\n"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 90, false, 2, "Orvane: GetCurrentOSType: OSID_W98 [2]\n"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 90, true, 6, "Orvane: GetCurrentOSType: OSID_WME [6]\n"},
        {VER_PLATFORM_WIN32_WINDOWS, 5, 0, true, 6, "Orvane: GetCurrentOSType: OSID_WME [6]\n"},
        {VER_PLATFORM_WIN32_NT, 3, 51, false, 3, "Orvane: GetCurrentOSType: OSID_NT351 [3]\n"},
        {VER_PLATFORM_WIN32_NT, 4, 0, false, 4, "Orvane: GetCurrentOSType: OSID_NT4 [4]\n"},
        {VER_PLATFORM_WIN32_NT, 5, 2, false, 5, "Orvane: GetCurrentOSType: OSID_W2K [5]\n"},
        {VER_PLATFORM_WIN32_NT, 6, 1, false, 5, nullptr},
        {VER_PLATFORM_WIN32_NT, 10, 0, false, 5, nullptr},
        {VER_PLATFORM_WIN32_NT, 2, 0, false, 0, nullptr},
        {VER_PLATFORM_WIN32s, 3, 11, false, 0, nullptr},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.dwPlatform << " " << c.dwMajor << "." << c.dwMinor
                                        << (c.bMeKey ? " with ME key" : ""));
        harness::ResetState();
        harness::SetMeEnvironmentKey(c.bMeKey);
        g_nLogState = -1;
        FakeVersion(c.dwPlatform, c.dwMajor, c.dwMinor);
        EXPECT_EQ(c.dwId, GetCurrentOSType());
        std::vector<std::string> msgs = harness::LastRunMessages();
        if (c.pszLog)
            EXPECT_EQ(std::vector<std::string>{c.pszLog}, msgs);
        else
            EXPECT_TRUE(msgs.empty());
    }
}

TEST_F(Platform, FailedVersionQueryGivesZeroWithoutALine)
{
    SeamOverrideGetVersionExA(FailingGetVersionExA);
    EXPECT_EQ(0u, GetCurrentOSType());
    EXPECT_FALSE(harness::FileExists(harness::LogPath()));
}

TEST_F(Platform, SeamOverrideWithNullRestoresTheRealCall)
{
    SeamOverrideGetVersionExA(FailingGetVersionExA);
    SeamOverrideGetVersionExA(NULL);
    EXPECT_EQ((PFN_GetVersionExA)::GetVersionExA, g_pfnGetVersionExA);
    EXPECT_NE(0u, GetCurrentOSType());
}

} // namespace
