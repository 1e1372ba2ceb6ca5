// Directory creation under code page 932, where a double-byte character can end in the byte of
// "\" and must not be split there.
#include "UnitFixture.h"

#include "deploy/deploy.h"

#include <string>
#include <vector>

namespace
{

// U+8868 and U+30BD in code page 932: both end with the byte of "\".
const char s_szHyou[] = "\x95\x5C";
const char s_szSo[] = "\x83\x5C";

class DbcsDeploy : public UnitTest
{
  protected:
    void SetUp() override
    {
        UnitTest::SetUp();
        ASSERT_EQ(932u, GetACP()) << "this suite must run with LC_ALL=ja_JP.UTF-8";
    }
};

std::vector<std::string> Children(const std::string& strDir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((strDir + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do
    {
        std::string s = fd.cFileName;
        if (s != "." && s != "..")
            names.push_back(s);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return names;
}

TEST_F(DbcsDeploy, CreateDirDoesNotSplitAtATrailByte)
{
    std::string strBase = harness::TestDir();
    // The characters sit inside the names: a split at the trail byte would leave a name of its
    // own ("a" and a lone lead byte) that the platform turns into another directory.
    const std::string strName1 = std::string("a") + s_szHyou + "b";
    const std::string strName2 = std::string("c") + s_szSo + "d";
    std::string strLevel1 = strBase + "\\" + strName1;
    std::string strLevel2 = strLevel1 + "\\" + strName2;
    EXPECT_NE(FALSE, Create_Dir((strLevel2 + "\\x").c_str()));

    // Exactly one directory per level: none named by a lead byte alone.
    EXPECT_EQ(std::vector<std::string>{strName1}, Children(strBase));
    EXPECT_EQ(std::vector<std::string>{strName2}, Children(strLevel1));
    EXPECT_EQ(std::vector<std::string>{"x"}, Children(strLevel2));
}

} // namespace
