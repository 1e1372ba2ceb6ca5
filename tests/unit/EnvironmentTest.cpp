// SetRegistryAndService on the NT family and ME, over the prefix's real system environment keys
// and the log as written.
#include "UnitFixture.h"

#include "sysint/sysint.h"

#include <string>
#include <vector>

namespace
{

const char s_szNtKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
const char s_szMeKey[] = "SYSTEM\\CurrentControlSet\\Control\\SessionManager\\Environment";
const char s_szMeParent[] = "SYSTEM\\CurrentControlSet\\Control\\SessionManager";

typedef std::vector<std::string> Lines;

// A registry value as the A calls see it: type and text without the NUL the read hands back.
struct RegText
{
    bool bExists = false;
    DWORD dwType = REG_NONE;
    std::string strText;

    bool operator==(const RegText& o) const
    {
        return bExists == o.bExists && dwType == o.dwType && strText == o.strText;
    }
    bool operator!=(const RegText& o) const
    {
        return !(*this == o);
    }
};

void PrintTo(const RegText& v, std::ostream* os)
{
    if (!v.bExists)
        *os << "(missing)";
    else
        *os << "type " << v.dwType << " [" << v.strText << "]";
}

RegText ReadText(const char* pszKey, const char* pszName)
{
    RegText v;
    v.bExists = harness::ReadMachineValue(pszKey, pszName, &v.dwType, &v.strText);
    while (!v.strText.empty() && v.strText.back() == '\0')
        v.strText.pop_back();
    return v;
}

RegText Text(DWORD dwType, const std::string& strText)
{
    RegText v;
    v.bExists = true;
    v.dwType = dwType;
    v.strText = strText;
    return v;
}

void WriteText(const char* pszKey, const char* pszName, const RegText& v)
{
    if (!v.bExists)
        harness::DeleteMachineValue(pszKey, pszName);
    else
        harness::SetMachineValue(pszKey, pszName, v.dwType, v.strText.c_str(),
                                 (DWORD)v.strText.size() + 1);
}

bool KeyExists(const char* pszKey)
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    return true;
}

DWORD WINAPI FailingShortPath(LPCSTR, LPSTR pszShort, DWORD cchShort)
{
    if (cchShort)
        pszShort[0] = '\0';
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
}

class Environment : public UnitTest
{
  protected:
    void SetUp() override
    {
        UnitTest::SetUp();
        m_strEngDir = harness::TestDir() + "\\Shared Scan Engine";
        ASSERT_TRUE(CreateDirectoryA(m_strEngDir.c_str(), NULL)) << GetLastError();
        char sz[MAX_PATH];
        DWORD cch = GetShortPathNameA(m_strEngDir.c_str(), sz, sizeof(sz));
        ASSERT_TRUE(cch > 0 && cch < sizeof(sz)) << GetLastError();
        m_strShort = sz;
        // Only a short path that differs from the long one shows which of them was written.
        ASSERT_NE(m_strEngDir, m_strShort);
        m_strEntry = ";" + m_strShort;
    }

    // One call as a fresh process would make it; the messages it logged.
    Lines Run(DWORD dwOSType)
    {
        DeleteFileA(harness::LogPath().c_str());
        g_nLogState = -1;
        g_dwOSType = dwOSType;
        SetRegistryAndService(m_strEngDir.c_str(), "MORVELIN");
        return harness::LastRunMessages();
    }

    // The log of an edit that went through.
    Lines EditLog(bool bMe, const std::string& strBefore, const std::string& strAfter) const
    {
        return {bMe ? "Orvane: Set AVENGINE - WME\n" : "Orvane: Set AVENGINE - WNT+\n",
                "Add Engine path [" + m_strShort + (bMe ? "]..\n" : "]\n"),
                "Env [" + strBefore + "]\n", "The Env path is [" + strAfter + "]\n"};
    }

    std::string m_strEngDir;
    std::string m_strShort;
    std::string m_strEntry;
};

const DWORD s_adwNtFamily[] = {OSID_NT351, OSID_NT4, OSID_W2K};

TEST_F(Environment, NtFamilyPublishesTheShortPathOnceAtTheEndOfPath)
{
    const std::string e = m_strEntry;
    const RegText prefixPath = ReadText(s_szNtKey, "PATH");
    ASSERT_TRUE(prefixPath.bExists);
    ASSERT_EQ((DWORD)REG_EXPAND_SZ, prefixPath.dwType);
    ASSERT_NE(std::string::npos, prefixPath.strText.find("%SystemRoot%")) << prefixPath.strText;

    const struct
    {
        const char* pszName;
        DWORD dwType;
        std::string strBefore;
        std::string strAfter;
    } cases[] = {
        {"the prefix's own PATH", REG_EXPAND_SZ, prefixPath.strText, prefixPath.strText + e},
        {"unexpanded references kept", REG_EXPAND_SZ, "%SystemRoot%\\system32;%ProgramFiles%\\X",
         "%SystemRoot%\\system32;%ProgramFiles%\\X" + e},
        {"REG_SZ stays REG_SZ", REG_SZ, "C:\\WINDOWS", "C:\\WINDOWS" + e},
        {"existing entry at the end stays single", REG_EXPAND_SZ, "%SystemRoot%" + e,
         "%SystemRoot%" + e},
        {"two entries in the middle collapse to one at the end", REG_EXPAND_SZ,
         "%SystemRoot%" + e + ";C:\\TOOLS" + e + ";C:\\BIN", "%SystemRoot%;C:\\TOOLS;C:\\BIN" + e},
        {"first entry without a separator is not matched", REG_EXPAND_SZ,
         m_strShort + ";%SystemRoot%", m_strShort + ";%SystemRoot%" + e},
        {"subdirectory of the engine directory kept whole", REG_EXPAND_SZ,
         "%SystemRoot%" + e + "\\BIN;C:\\TOOLS", "%SystemRoot%" + e + "\\BIN;C:\\TOOLS" + e},
        {"empty PATH gives the entry alone", REG_EXPAND_SZ, "", e},
    };
    for (DWORD dwOSType : s_adwNtFamily)
    {
        for (const auto& c : cases)
        {
            SCOPED_TRACE(std::string(c.pszName) + ", platform " + std::to_string(dwOSType));
            WriteText(s_szNtKey, "AVENGINE", Text(REG_SZ, "C:\\OLD"));
            WriteText(s_szNtKey, "PATH", Text(c.dwType, c.strBefore));
            EXPECT_EQ(EditLog(false, c.strBefore, c.strAfter), Run(dwOSType));
            EXPECT_EQ(Text(REG_SZ, m_strShort), ReadText(s_szNtKey, "AVENGINE"));
            EXPECT_EQ(Text(c.dwType, c.strAfter), ReadText(s_szNtKey, "PATH"));
            EXPECT_FALSE(KeyExists(s_szMeParent));
        }
    }
}

TEST_F(Environment, MissingPathIsCreatedAsExpandSzHoldingTheEntryAlone)
{
    for (DWORD dwOSType : s_adwNtFamily)
    {
        SCOPED_TRACE("platform " + std::to_string(dwOSType));
        harness::DeleteMachineValue(s_szNtKey, "PATH");
        harness::DeleteMachineValue(s_szNtKey, "AVENGINE");
        ASSERT_FALSE(ReadText(s_szNtKey, "PATH").bExists);
        EXPECT_EQ(EditLog(false, "", m_strEntry), Run(dwOSType));
        EXPECT_EQ(Text(REG_EXPAND_SZ, m_strEntry), ReadText(s_szNtKey, "PATH"));
        EXPECT_EQ(Text(REG_SZ, m_strShort), ReadText(s_szNtKey, "AVENGINE"));

        // The next run finds its own entry and leaves the value as it is.
        EXPECT_EQ(EditLog(false, m_strEntry, m_strEntry), Run(dwOSType));
        EXPECT_EQ(Text(REG_EXPAND_SZ, m_strEntry), ReadText(s_szNtKey, "PATH"));
    }
}

TEST_F(Environment, PathThatIsNoTextIsLeftAsItIs)
{
    const DWORD dwWord = 0x3B433A5C;
    harness::SetMachineValue(s_szNtKey, "PATH", REG_DWORD, &dwWord, sizeof(dwWord));
    const Lines expected = {
        "Orvane: Set AVENGINE - WNT+\n",
        "SetRegistryAndService: PATH is unreadable (error [0], type [4]), left unchanged\n"};
    EXPECT_EQ(expected, Run(OSID_W2K));
    EXPECT_EQ(Text(REG_SZ, m_strShort), ReadText(s_szNtKey, "AVENGINE"));
    DWORD dwType;
    std::string strData;
    ASSERT_TRUE(harness::ReadMachineValue(s_szNtKey, "PATH", &dwType, &strData));
    EXPECT_EQ((DWORD)REG_DWORD, dwType);
    EXPECT_EQ(std::string((const char*)&dwWord, sizeof(dwWord)), strData);
}

TEST_F(Environment, PathBeyond4096BytesIsKeptWholeWithTheEntryAppended)
{
    const std::string e = m_strEntry;
    // 50 directories of 100 characters: 5049 bytes, with unexpanded references in between.
    std::string strLong = "%SystemRoot%\\system32";
    for (int i = 0; i < 50; i++)
        strLong += ";C:\\" + std::string(96, (char)('A' + i % 26));
    ASSERT_GT(strLong.size(), 4096u);
    ASSERT_EQ(';', strLong[3021]);
    // Short enough to read into 4096 bytes, too long to take the entry within them.
    const std::string strNearFull = "%SystemRoot%;" + std::string(4096 - 13 - e.size(), 'p');
    ASSERT_EQ(4096u, strNearFull.size() + e.size());

    const struct
    {
        const char* pszName;
        std::string strBefore;
        std::string strAfter;
    } cases[] = {
        {"longer than 4096 bytes", strLong, strLong + e},
        {"longer than 4096 bytes with the entry inside",
         strLong.substr(0, 3021) + e + strLong.substr(3021), strLong + e},
        {"pushed past 4096 bytes by the entry", strNearFull, strNearFull + e},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        WriteText(s_szNtKey, "PATH", Text(REG_EXPAND_SZ, c.strBefore));
        const Lines log = Run(OSID_W2K);
        EXPECT_EQ(Text(REG_EXPAND_SZ, c.strAfter), ReadText(s_szNtKey, "PATH"));
        // The log shows the value's first 4000 bytes, so every line keeps its end.
        ASSERT_EQ(4u, log.size());
        EXPECT_EQ("Orvane: Set AVENGINE - WNT+\n", log[0]);
        EXPECT_EQ("Add Engine path [" + m_strShort + "]\n", log[1]);
        EXPECT_EQ("Env [" + c.strBefore.substr(0, 4000) + "]\n", log[2]);
        EXPECT_EQ("The Env path is [" + c.strAfter.substr(0, 4000) + "]\n", log[3]);
    }
}

TEST_F(Environment, ShortPathFailureWritesAnEmptyAvengineAndLeavesPath)
{
    SeamOverrideGetShortPathNameA(FailingShortPath);
    const struct
    {
        DWORD dwOSType;
        const char* pszKey;
        RegText path;
    } cases[] = {
        {OSID_W2K, s_szNtKey, Text(REG_EXPAND_SZ, "%SystemRoot%;C:\\TOOLS")},
        {OSID_NT4, s_szNtKey, Text(REG_SZ, "C:\\WINNT" + m_strEntry + ";C:\\BIN")},
        {OSID_NT351, s_szNtKey, RegText()},
        {OSID_WME, s_szMeKey, Text(REG_EXPAND_SZ, "C:\\WINDOWS")},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE("platform " + std::to_string(c.dwOSType));
        harness::SetMeEnvironmentKey(c.dwOSType == OSID_WME);
        WriteText(c.pszKey, "AVENGINE", Text(REG_SZ, "C:\\OLD"));
        WriteText(c.pszKey, "PATH", c.path);
        const Lines expected = {c.dwOSType == OSID_WME ? "Orvane: Set AVENGINE - WME\n"
                                                       : "Orvane: Set AVENGINE - WNT+\n",
                                "fail to get short path from engine path [" + m_strEngDir + "]\n",
                                "The Env path is [" + c.path.strText + "]\n"};
        EXPECT_EQ(expected, Run(c.dwOSType));
        EXPECT_EQ(Text(REG_SZ, ""), ReadText(c.pszKey, "AVENGINE"));
        EXPECT_EQ(c.path, ReadText(c.pszKey, "PATH"));
    }
}

TEST_F(Environment, MeUsesItsOwnKeyAndLeavesTheNtKeyAlone)
{
    const RegText ntPath = ReadText(s_szNtKey, "PATH");
    const RegText ntAvEngine = ReadText(s_szNtKey, "AVENGINE");
    const std::string e = m_strEntry;
    // The short path is plain ASCII here, so its OEM form is the same text.
    char szOem[MAX_PATH];
    CharToOemA(m_strShort.c_str(), szOem);
    ASSERT_EQ(m_strShort, std::string(szOem));

    const struct
    {
        const char* pszName;
        bool bKey;
        RegText before;
        RegText after;
    } cases[] = {
        {"PATH with entries", true, Text(REG_SZ, "C:\\WINDOWS" + e + ";C:\\WINDOWS\\COMMAND"),
         Text(REG_SZ, "C:\\WINDOWS;C:\\WINDOWS\\COMMAND" + e)},
        {"REG_EXPAND_SZ kept", true, Text(REG_EXPAND_SZ, "%windir%;" + m_strShort + "\\BIN"),
         Text(REG_EXPAND_SZ, "%windir%;" + m_strShort + "\\BIN" + e)},
        {"no PATH", true, RegText(), Text(REG_EXPAND_SZ, e)},
        {"no ME key at all", false, RegText(), Text(REG_EXPAND_SZ, e)},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        harness::SetMeEnvironmentKey(false);
        if (c.bKey)
        {
            harness::SetMeEnvironmentKey(true);
            WriteText(s_szMeKey, "PATH", c.before);
        }
        EXPECT_EQ(EditLog(true, c.before.strText, c.after.strText), Run(OSID_WME));
        EXPECT_EQ(Text(REG_SZ, szOem), ReadText(s_szMeKey, "AVENGINE"));
        EXPECT_EQ(c.after, ReadText(s_szMeKey, "PATH"));
        EXPECT_EQ(ntPath, ReadText(s_szNtKey, "PATH"));
        EXPECT_EQ(ntAvEngine, ReadText(s_szNtKey, "AVENGINE"));
    }
}

TEST_F(Environment, OtherPlatformsLeaveBothKeysAlone)
{
    const RegText ntPath = ReadText(s_szNtKey, "PATH");
    const RegText ntAvEngine = ReadText(s_szNtKey, "AVENGINE");
    for (DWORD dwOSType : {OSID_UNKNOWN, OSID_W95, OSID_W98})
    {
        SCOPED_TRACE("platform " + std::to_string(dwOSType));
        DeleteFileA("C:\\AUTOEXEC.BAT");
        const Lines log = Run(dwOSType);
        EXPECT_EQ(0, harness::FindMessage(log, "Orvane: Set AVENGINE - W9X\n"));
        EXPECT_EQ(-1, harness::FindMessage(log, "Orvane: Set AVENGINE - WNT+\n"));
        EXPECT_EQ(-1, harness::FindMessage(log, "Orvane: Set AVENGINE - WME\n"));
        // The batch file took the setting instead.
        EXPECT_NE(std::string::npos,
                  harness::ReadFileBytes("C:\\AUTOEXEC.BAT").find("SET AVENGINE="));
        EXPECT_EQ(ntPath, ReadText(s_szNtKey, "PATH"));
        EXPECT_EQ(ntAvEngine, ReadText(s_szNtKey, "AVENGINE"));
        EXPECT_FALSE(KeyExists(s_szMeParent));
    }
}

// Every test above relies on this: what one test writes to the environment keys is gone before
// the next one starts.
TEST_F(Environment, HarnessPutsTheEnvironmentBackBetweenTests)
{
    const RegText ntPath = ReadText(s_szNtKey, "PATH");
    const RegText ntAvEngine = ReadText(s_szNtKey, "AVENGINE");
    ASSERT_FALSE(KeyExists(s_szMeParent));

    WriteText(s_szNtKey, "PATH", Text(REG_SZ, "C:\\CHANGED"));
    Run(OSID_W2K);
    harness::SetMeEnvironmentKey(true);
    Run(OSID_WME);
    ASSERT_NE(ntPath, ReadText(s_szNtKey, "PATH"));
    ASSERT_NE(ntAvEngine, ReadText(s_szNtKey, "AVENGINE"));
    ASSERT_TRUE(ReadText(s_szMeKey, "AVENGINE").bExists);

    harness::ResetState();
    EXPECT_EQ(ntPath, ReadText(s_szNtKey, "PATH"));
    EXPECT_EQ(ntAvEngine, ReadText(s_szNtKey, "AVENGINE"));
    EXPECT_FALSE(KeyExists(s_szMeParent));

    // A test that deleted PATH gets it back as well.
    harness::DeleteMachineValue(s_szNtKey, "PATH");
    harness::ResetState();
    EXPECT_EQ(ntPath, ReadText(s_szNtKey, "PATH"));
}

} // namespace
