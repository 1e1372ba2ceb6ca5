// Runs under a German locale: ANSI code page 1252, OEM code page 850. An accented letter has
// different bytes in the two, so the batch file shows which form was written.
#include "UnitFixture.h"

#include "sysint/sysint.h"

#include <string>

namespace
{

const char s_szBatch[] = "C:\\AUTOEXEC.BAT";

class AutoexecOem : public UnitTest
{
  protected:
    void SetUp() override
    {
        UnitTest::SetUp();
        ASSERT_EQ(1252u, GetACP()) << "this suite must run with LC_ALL=de_DE.UTF-8";
        ASSERT_EQ(850u, GetOEMCP());
    }
};

// Wine gives a name with a non-ASCII letter a generated short name in which the letter becomes
// "_", so the accented short path that Windows keeps for such a name comes from the seam.
const char s_szAnsiShort[] = "C:\\PROGRA~1\\QM\\PR\xDC"
                             "FUNG";
std::string g_strAskedFor;

DWORD WINAPI FakeAccentedShortPath(LPCSTR pszLong, LPSTR pszShort, DWORD cchShort)
{
    g_strAskedFor = pszLong;
    DWORD cch = (DWORD)strlen(s_szAnsiShort);
    if (cchShort <= cch)
        return cch + 1;
    memcpy(pszShort, s_szAnsiShort, cch + 1);
    return cch;
}

TEST_F(AutoexecOem, LinesCarryTheOemFormOfAnAccentedShortPath)
{
    const std::string strEngDir = "C:\\Program Files\\QM\\Pr\xFC"
                                  "fung Engine";
    SeamOverrideGetShortPathNameA(FakeAccentedShortPath);

    // "Ü" is 0xDC in 1252 and 0x9A in 850.
    char szOem[MAX_PATH];
    ASSERT_TRUE(GetOemShortPath(strEngDir.c_str(), szOem));
    EXPECT_EQ(strEngDir, g_strAskedFor);
    const std::string s = szOem;
    EXPECT_EQ("C:\\PROGRA~1\\QM\\PR\x9A"
              "FUNG",
              s);

    ASSERT_TRUE(harness::WriteFileBytes(s_szBatch, "PATH C:\\WINDOWS\r\nSET AVENGINE=C:\\OLD\r\n"));
    SetAutoexecLines9x(strEngDir.c_str(), "MORVELIN");
    EXPECT_EQ("PATH C:\\WINDOWS;" + s + "\r\nSET AVENGINE=" + s + "\r\n" + s + "\\PROBIT.EXE\r\n",
              harness::ReadFileBytes(s_szBatch));

    // The next run recognises its own entry by the OEM form and adds nothing.
    SetAutoexecLines9x(strEngDir.c_str(), "MORVELIN");
    EXPECT_EQ("PATH C:\\WINDOWS;" + s + "\r\nSET AVENGINE=" + s + "\r\n" + s + "\\PROBIT.EXE\r\n",
              harness::ReadFileBytes(s_szBatch));

    // A new file carries the OEM form as well.
    DeleteFileA(s_szBatch);
    SetAutoexecLines9x(strEngDir.c_str(), "OTHER");
    EXPECT_EQ("SET AVENGINE=" + s + "\r\n" + s + "\\PROBIT.EXE\r\nPATH=" + s,
              harness::ReadFileBytes(s_szBatch));
}

} // namespace
