// The ME environment under a German locale (ANSI 1252, OEM 850): an accented letter of the short
// path has different bytes in the two code pages, so the registry shows which form went where.
#include "UnitFixture.h"

#include "sysint/sysint.h"

#include <string>
#include <vector>

namespace
{

const char s_szNtKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
const char s_szMeKey[] = "SYSTEM\\CurrentControlSet\\Control\\SessionManager\\Environment";

// Wine gives a name with a non-ASCII letter a generated short name in which the letter becomes
// "_", so the accented short path that Windows keeps for such a name comes from the seam.
const char s_szAnsiShort[] = "C:\\PROGRA~1\\QM\\PR\xDC"
                             "FUNG"; // "Ü" in 1252
const char s_szOemShort[] = "C:\\PROGRA~1\\QM\\PR\x9A"
                            "FUNG"; // "Ü" in 850
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

// The value's bytes as an A call returns them, without the NUL; "(missing)" when absent.
std::string ReadText(const char* pszKey, const char* pszName, DWORD* pdwType)
{
    std::string s;
    if (!harness::ReadMachineValue(pszKey, pszName, pdwType, &s))
        return "(missing)";
    while (!s.empty() && s.back() == '\0')
        s.pop_back();
    return s;
}

class EnvironmentOem : public UnitTest
{
  protected:
    void SetUp() override
    {
        UnitTest::SetUp();
        ASSERT_EQ(1252u, GetACP()) << "this suite must run with LC_ALL=de_DE.UTF-8";
        ASSERT_EQ(850u, GetOEMCP());
    }

    std::vector<std::string> Run(DWORD dwOSType)
    {
        DeleteFileA(harness::LogPath().c_str());
        g_nLogState = -1;
        g_dwOSType = dwOSType;
        SetRegistryAndService(m_strEngDir.c_str(), "MORVELIN");
        return harness::LastRunMessages();
    }

    const std::string m_strEngDir = "C:\\Program Files\\QM\\Pr\xFC"
                                    "fung Engine";
};

TEST_F(EnvironmentOem, MeAvengineTakesTheOemFormAndPathTheAnsiForm)
{
    SeamOverrideGetShortPathNameA(FakeAccentedShortPath);
    const std::string strAnsi = s_szAnsiShort;
    const std::string strOem = s_szOemShort;
    char szConverted[MAX_PATH];
    CharToOemA(s_szAnsiShort, szConverted);
    ASSERT_EQ(strOem, std::string(szConverted));

    DWORD dwType;
    const std::string strNtPath = ReadText(s_szNtKey, "PATH", &dwType);
    const std::string strNtAvEngine = ReadText(s_szNtKey, "AVENGINE", &dwType);
    harness::SetMeEnvironmentKey(true);
    harness::SetMachineString(s_szMeKey, "PATH", "C:\\WINDOWS;C:\\WINDOWS\\COMMAND");

    const std::vector<std::string> expected = {
        "Orvane: Set AVENGINE - WME\n", "Add Engine path [" + strAnsi + "]..\n",
        "Env [C:\\WINDOWS;C:\\WINDOWS\\COMMAND]\n",
        "The Env path is [C:\\WINDOWS;C:\\WINDOWS\\COMMAND;" + strAnsi + "]\n"};
    EXPECT_EQ(expected, Run(OSID_WME));
    EXPECT_EQ(m_strEngDir, g_strAskedFor);
    EXPECT_EQ(strOem, ReadText(s_szMeKey, "AVENGINE", &dwType));
    EXPECT_EQ((DWORD)REG_SZ, dwType);
    EXPECT_EQ("C:\\WINDOWS;C:\\WINDOWS\\COMMAND;" + strAnsi, ReadText(s_szMeKey, "PATH", &dwType));
    EXPECT_EQ((DWORD)REG_SZ, dwType);

    // The next run recognises its entry by the ANSI form and adds nothing.
    Run(OSID_WME);
    EXPECT_EQ("C:\\WINDOWS;C:\\WINDOWS\\COMMAND;" + strAnsi, ReadText(s_szMeKey, "PATH", &dwType));
    EXPECT_EQ(strOem, ReadText(s_szMeKey, "AVENGINE", &dwType));
    EXPECT_EQ(strNtPath, ReadText(s_szNtKey, "PATH", &dwType));
    EXPECT_EQ(strNtAvEngine, ReadText(s_szNtKey, "AVENGINE", &dwType));

    // The NT family keeps AVENGINE in the ANSI form.
    Run(OSID_W2K);
    EXPECT_EQ(strAnsi, ReadText(s_szNtKey, "AVENGINE", &dwType));
    EXPECT_EQ(strNtPath + ";" + strAnsi, ReadText(s_szNtKey, "PATH", &dwType));
}

} // namespace
