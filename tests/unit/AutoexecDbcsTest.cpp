// Runs under a Japanese locale (code page 932, the same for ANSI and OEM): letters, ":" and "\"
// can be trail bytes, and the PATH line search must not find the short path inside a character.
#include "UnitFixture.h"

#include "sysint/sysint.h"

#include <string>

namespace
{

const char s_szBatch[] = "C:\\AUTOEXEC.BAT";
const char s_szShort[] = "C:\\ENGINE";

DWORD WINAPI FakeShortPath(LPCSTR, LPSTR pszShort, DWORD cchShort)
{
    DWORD cch = (DWORD)strlen(s_szShort);
    if (cchShort <= cch)
        return cch + 1;
    memcpy(pszShort, s_szShort, cch + 1);
    return cch;
}

class AutoexecDbcs : public UnitTest
{
  protected:
    void SetUp() override
    {
        UnitTest::SetUp();
        ASSERT_EQ(932u, GetACP()) << "this suite must run with LC_ALL=ja_JP.UTF-8";
        SeamOverrideGetShortPathNameA(FakeShortPath);
    }
};

TEST_F(AutoexecDbcs, ShortPathIsFoundOnlyOnCharacterBoundaries)
{
    const struct
    {
        const char* pszName;
        std::string strBefore;
        std::string strAfter;
    } cases[] = {
        // 0x95 0x43 is one character: the "C" that follows the lead byte starts no match.
        {"inside a double-byte character",
         "PATH D:\\\x95"
         "C:\\ENGINE\r\n",
         "PATH D:\\\x95"
         "C:\\ENGINE;C:\\ENGINE\r\n"},
        {"after a double-byte character", "PATH D:\\\x95\x5C;C:\\ENGINE\r\n",
         "PATH D:\\\x95\x5C;C:\\ENGINE\r\n"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        ASSERT_TRUE(harness::WriteFileBytes(s_szBatch, c.strBefore));
        EXPECT_EQ(1, AddMorEngPath9x("C:\\Program Files\\Engine"));
        EXPECT_EQ(c.strAfter, harness::ReadFileBytes(s_szBatch));
    }
}

} // namespace
