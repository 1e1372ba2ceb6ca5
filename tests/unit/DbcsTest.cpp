// Runs under a Japanese locale: the ANSI code page is 932, where 0x5C ("\") and letters can be
// trail bytes of double-byte characters.
#include "UnitFixture.h"

#include <string>

namespace
{

// U+8868 and U+30BD in code page 932: both end with the byte of "\".
const char s_szHyou[] = "\x95\x5C";
const char s_szSo[] = "\x83\x5C";

class Dbcs : public UnitTest
{
  protected:
    void SetUp() override
    {
        UnitTest::SetUp();
        ASSERT_EQ(932u, GetACP()) << "this suite must run with LC_ALL=ja_JP.UTF-8";
    }
};

std::string g_strFakeTemp;
DWORD WINAPI FakeGetTempPathA(DWORD cch, LPSTR psz)
{
    lstrcpynA(psz, g_strFakeTemp.c_str(), (int)cch);
    return (DWORD)g_strFakeTemp.size();
}

TEST_F(Dbcs, TrailByteBackslashOfTheTempDirectoryIsKept)
{
    std::string strDir = harness::TestDir() + "\\" + s_szHyou;
    ASSERT_TRUE(CreateDirectoryA(strDir.c_str(), NULL)) << GetLastError();
    g_strFakeTemp = strDir;
    SeamOverrideGetTempPathA(FakeGetTempPathA);

    char szPath[MAX_PATH];
    ASSERT_TRUE(GetLogFilePath(szPath));
    EXPECT_EQ(strDir + "\\MorSetup.log", szPath);

    WriteLog("Orvane: START!!\n");
    std::string strLog = harness::ReadFileBytes(strDir + "\\MorSetup.log");
    EXPECT_NE(std::string::npos, strLog.find("Orvane: START!!\r\n"));

    // A real final backslash after the character is still removed.
    g_strFakeTemp = strDir + "\\";
    ASSERT_TRUE(GetLogFilePath(szPath));
    EXPECT_EQ(strDir + "\\MorSetup.log", szPath);
}

TEST_F(Dbcs, ProductNameWithTrailBytesIsValidAndKeepsThem)
{
    // The trail byte 0x61 ("a") must not be upper-cased, and 0x5C is no backslash.
    std::string strName = std::string("a") + s_szHyou + "\x83\x61" + s_szSo;
    char szProduct[MAX_PATH], szPath[MAX_PATH];
    BOOL bAddRef;
    std::string strText = "/PROD:" + strName + " /PATH:C:\\" + s_szHyou + "\\x";
    ASSERT_EQ(0, ParseCmdLine(strText.c_str(), szProduct, &bAddRef, szPath));
    EXPECT_EQ(std::string("A") + s_szHyou + "\x83\x61" + s_szSo, szProduct);
    EXPECT_EQ(std::string("C:\\") + s_szHyou + "\\x", szPath);
}

TEST_F(Dbcs, HelpersFollowCharacterBoundaries)
{
    std::string s = std::string("x") + s_szSo + "\\y";
    EXPECT_FALSE(MbsIsTrailByte(s.c_str(), 1));
    EXPECT_TRUE(MbsIsTrailByte(s.c_str(), 2));
    EXPECT_FALSE(MbsIsTrailByte(s.c_str(), 3));
    EXPECT_EQ(s.c_str() + 3, MbsChr(s.c_str(), '\\'));
    EXPECT_EQ(s.c_str() + 3, MbsRChr(s.c_str(), '\\'));
    EXPECT_EQ(nullptr, MbsStr(s_szSo, "\\"));

    // A cut never splits a character.
    char sz[3];
    EXPECT_FALSE(MbsCopy(sz, sizeof(sz), s.c_str()));
    EXPECT_STREQ("x", sz);
}

TEST_F(Dbcs, ArgumentTextAfterADoubleByteProgramName)
{
    std::string strCmd = std::string("C:\\") + s_szSo + "\\Pelmora.exe  /PROD:A";
    EXPECT_STREQ("/PROD:A", GetArgumentText(strCmd.c_str()));
}

} // namespace

namespace
{

TEST_F(Dbcs, DoubleByteEngineDirectoryIsRefusedAsLocalized)
{
    EXPECT_FALSE(IsSingleBytePath((std::string("C:\\") + s_szHyou).c_str()));
    EXPECT_TRUE(IsSingleBytePath("C:\\Program Files\\QM"));
}

} // namespace
