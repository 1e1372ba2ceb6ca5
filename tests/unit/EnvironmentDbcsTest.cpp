// The NT-family environment under code page 932: a PATH too long for one log line is shown up to
// a character boundary, never with half of a double-byte character before the closing bracket.
#include "UnitFixture.h"

#include "sysint/sysint.h"

#include <string>
#include <vector>

namespace
{

const char s_szNtKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

class EnvironmentDbcs : public UnitTest
{
  protected:
    void SetUp() override
    {
        UnitTest::SetUp();
        ASSERT_EQ(932u, GetACP()) << "this suite must run with LC_ALL=ja_JP.UTF-8";
    }
};

TEST_F(EnvironmentDbcs, LongPathIsLoggedUpToACharacterBoundary)
{
    const std::string strEngDir = harness::TestDir() + "\\Shared Scan Engine";
    ASSERT_TRUE(CreateDirectoryA(strEngDir.c_str(), NULL)) << GetLastError();
    char sz[MAX_PATH];
    DWORD cch = GetShortPathNameA(strEngDir.c_str(), sz, sizeof(sz));
    ASSERT_TRUE(cch > 0 && cch < sizeof(sz)) << GetLastError();
    const std::string strEntry = std::string(";") + sz;

    // U+30BD ("\x83\x5C") stands across the 4000th byte in the first case and just before it in
    // the second; the log shows 3999 and 4000 bytes.
    for (size_t cchShown : {(size_t)3999, (size_t)4000})
    {
        SCOPED_TRACE(cchShown);
        std::string strPath = "%SystemRoot%;C:\\";
        strPath += std::string(cchShown - strPath.size(), 'a');
        strPath += "\x83\x5C;C:\\TOOLS;" + std::string(200, 'b');
        ASSERT_GT(strPath.size(), 4096u);
        harness::SetMachineValue(s_szNtKey, "PATH", REG_EXPAND_SZ, strPath.c_str(),
                                 (DWORD)strPath.size() + 1);

        DeleteFileA(harness::LogPath().c_str());
        g_nLogState = -1;
        g_dwOSType = OSID_W2K;
        SetRegistryAndService(strEngDir.c_str(), "MORVELIN");

        DWORD dwType;
        std::string strRead;
        ASSERT_TRUE(harness::ReadMachineValue(s_szNtKey, "PATH", &dwType, &strRead));
        EXPECT_EQ((DWORD)REG_EXPAND_SZ, dwType);
        EXPECT_EQ(strPath + strEntry + '\0', strRead);
        const std::vector<std::string> expected = {
            "Orvane: Set AVENGINE - WNT+\n", "Add Engine path [" + std::string(sz) + "]\n",
            "Env [" + strPath.substr(0, cchShown) + "]\n",
            "The Env path is [" + strPath.substr(0, cchShown) + "]\n"};
        EXPECT_EQ(expected, harness::LastRunMessages());
    }
}

} // namespace
