// Runs under a Japanese locale (code page 932): a lookup must not find a target that starts on
// the trail byte of a double-byte character, whose second byte can be "\".
#include "Restart.h"
#include "UnitFixture.h"

#include "reboot/reboot.h"

#include <string>

namespace
{

// U+8868 in code page 932: its trail byte is the byte of "\".
const char s_szHyou[] = "\x95\x5C";

class DbcsPending : public UnitTest
{
  protected:
    void SetUp() override
    {
        UnitTest::SetUp();
        ASSERT_EQ(932u, GetACP()) << "this suite must run with LC_ALL=ja_JP.UTF-8";
    }
};

TEST_F(DbcsPending, TargetNeverMatchesFromATrailByte)
{
    const std::string strTarget = "\\X.DLL";
    const std::string strInsideChar = std::string("C:\\E") + s_szHyou + "X.DLL";
    const std::string strAfterChar = std::string("C:\\E") + s_szHyou + "\\X.DLL";
    for (DWORD dwOS : {(DWORD)OSID_W2K, (DWORD)OSID_W98})
    {
        SCOPED_TRACE(dwOS);
        g_dwOSType = dwOS;
        ASSERT_TRUE(
            harness::WriteFileBytes(harness::WinInitPath(), "NUL=" + strInsideChar + "\r\n"));
        EXPECT_FALSE(CanYouFindMe(strTarget.c_str(), strInsideChar.c_str()));
        ASSERT_TRUE(
            harness::WriteFileBytes(harness::WinInitPath(), "NUL=" + strAfterChar + "\r\n"));
        EXPECT_TRUE(CanYouFindMe(strTarget.c_str(), strAfterChar.c_str()));
    }
}

} // namespace
