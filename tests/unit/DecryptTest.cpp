// The fix-up of copied files: Unseal.dll (the stand-in built next to the tests) called for a file
// that the platform reports encrypted, its times put back, nothing done on 95/98/ME.
#include "UnitFixture.h"

#include "deploy/decrypt.h"

#include <string>

namespace
{

const char s_szUnsealKey[] = "Software\\PelmoraTest\\Unseal";

// Wine has no file-system encryption: the file named here is reported with the attribute.
std::string g_strEncrypted;
DWORD WINAPI EncryptedGetFileAttributesA(LPCSTR pszPath)
{
    DWORD dwAttr = ::GetFileAttributesA(pszPath);
    if (dwAttr != INVALID_FILE_ATTRIBUTES && g_strEncrypted == pszPath)
        dwAttr |= FILE_ATTRIBUTE_ENCRYPTED;
    return dwAttr;
}

struct FILE_TIMES
{
    FILETIME ftCreation, ftAccess, ftWrite;
};

FILETIME MakeTime(WORD wYear, WORD wMonth, WORD wDay)
{
    SYSTEMTIME st = {wYear, wMonth, 0, wDay, 4, 5, 6, 0};
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

bool SetTimes(const std::string& strPath, const FILE_TIMES& t)
{
    HANDLE h = CreateFileA(strPath.c_str(), FILE_WRITE_ATTRIBUTES, 0, NULL, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    BOOL bOk = SetFileTime(h, &t.ftCreation, &t.ftAccess, &t.ftWrite);
    CloseHandle(h);
    return bOk != FALSE;
}

FILE_TIMES GetTimes(const std::string& strPath)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    FILE_TIMES t = {};
    EXPECT_TRUE(GetFileAttributesExA(strPath.c_str(), GetFileExInfoStandard, &data));
    t.ftCreation = data.ftCreationTime;
    t.ftAccess = data.ftLastAccessTime;
    t.ftWrite = data.ftLastWriteTime;
    return t;
}

ULONGLONG Ticks(const FILETIME& ft)
{
    return ((ULONGLONG)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
}

DWORD ReadUnsealDword(const char* pszName, bool* pbFound = nullptr)
{
    DWORD dw = 0, cb = sizeof(dw);
    LONG l =
        RegGetValueA(HKEY_CURRENT_USER, s_szUnsealKey, pszName, RRF_RT_REG_DWORD, NULL, &dw, &cb);
    if (pbFound)
        *pbFound = l == ERROR_SUCCESS;
    return l == ERROR_SUCCESS ? dw : 0;
}

std::string ReadUnsealString(const char* pszName)
{
    char sz[1024] = "";
    DWORD cb = sizeof(sz);
    RegGetValueA(HKEY_CURRENT_USER, s_szUnsealKey, pszName, RRF_RT_REG_SZ, NULL, sz, &cb);
    return sz;
}

class Decrypt : public UnitTest
{
  protected:
    void SetUp() override
    {
        UnitTest::SetUp();
        ResetUnseal(true);
    }
    void TearDown() override
    {
        RegDeleteTreeA(HKEY_CURRENT_USER, s_szUnsealKey);
        RegDeleteKeyA(HKEY_CURRENT_USER, s_szUnsealKey);
        UnitTest::TearDown();
    }
    // A fresh record of the stand-in's calls; it rewrites the file when asked, as a real
    // decryption does, so that its times move.
    void ResetUnseal(bool bRewrite)
    {
        RegDeleteTreeA(HKEY_CURRENT_USER, s_szUnsealKey);
        HKEY hKey;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, s_szUnsealKey, 0, NULL, 0,
                                                 KEY_ALL_ACCESS, NULL, &hKey, NULL));
        DWORD dwRewrite = bRewrite ? 1 : 0;
        RegSetValueExA(hKey, "Rewrite", 0, REG_DWORD, (const BYTE*)&dwRewrite, sizeof(dwRewrite));
        RegCloseKey(hKey);
    }
    // An engine file with old, distinct times and attributes that the fix-up must clear.
    void MakeFile(const char* pszName)
    {
        m_strPath = harness::TestDir() + "\\" + pszName;
        SetFileAttributesA(m_strPath.c_str(), FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(harness::WriteFileBytes(m_strPath, "engine bytes"));
        m_times = {MakeTime(2001, 2, 3), MakeTime(2002, 3, 4), MakeTime(2003, 4, 5)};
        ASSERT_TRUE(SetTimes(m_strPath, m_times)) << GetLastError();
        m_times = GetTimes(m_strPath); // as the file system keeps them
        ASSERT_TRUE(SetFileAttributesA(m_strPath.c_str(), FILE_ATTRIBUTE_READONLY |
                                                              FILE_ATTRIBUTE_HIDDEN |
                                                              FILE_ATTRIBUTE_ARCHIVE));
        m_dwAttr = GetFileAttributesA(m_strPath.c_str());
        g_strEncrypted = m_strPath;
        SeamOverrideGetFileAttributesA(EncryptedGetFileAttributesA);
    }
    void ExpectTimesKept()
    {
        FILE_TIMES t = GetTimes(m_strPath);
        EXPECT_EQ(Ticks(m_times.ftCreation), Ticks(t.ftCreation));
        EXPECT_EQ(Ticks(m_times.ftAccess), Ticks(t.ftAccess));
        EXPECT_EQ(Ticks(m_times.ftWrite), Ticks(t.ftWrite));
    }
    void ExpectUntouched()
    {
        bool bFound = true;
        ReadUnsealDword("Calls", &bFound);
        EXPECT_FALSE(bFound) << "RemoveEncryption was called";
        EXPECT_EQ(m_dwAttr, GetFileAttributesA(m_strPath.c_str()));
        ExpectTimesKept();
    }
    std::string m_strPath;
    FILE_TIMES m_times;
    DWORD m_dwAttr;
};

// What a file with its attributes set to 0 reports.
DWORD ClearedAttributes(const std::string& strDir)
{
    std::string strProbe = strDir + "\\cleared.probe";
    harness::WriteFileBytes(strProbe, "x");
    SetFileAttributesA(strProbe.c_str(), 0);
    DWORD dw = GetFileAttributesA(strProbe.c_str());
    DeleteFileA(strProbe.c_str());
    return dw;
}

TEST_F(Decrypt, EncryptedFileOnTheNtFamilyIsUnsealedWithItsTimesKept)
{
    for (DWORD dwOS : {(DWORD)OSID_NT351, (DWORD)OSID_NT4, (DWORD)OSID_W2K, (DWORD)OSID_UNKNOWN})
    {
        SCOPED_TRACE(dwOS);
        ResetUnseal(true);
        MakeFile("Osk32dll.dll");
        g_dwOSType = dwOS;
        DWORD dwCleared = ClearedAttributes(harness::TestDir());

        DecryptCopiedFile(m_strPath.c_str());

        EXPECT_EQ(1u, ReadUnsealDword("Calls"));
        EXPECT_EQ(m_strPath, ReadUnsealString("LastPath"));
        // Cleared before the call, and left so.
        EXPECT_EQ(dwCleared, ReadUnsealDword("AttributesAtCall"));
        EXPECT_EQ(dwCleared, GetFileAttributesA(m_strPath.c_str()));
        EXPECT_EQ(0u, dwCleared & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
        ExpectTimesKept();
        EXPECT_EQ("engine bytes", harness::ReadFileBytes(m_strPath));
        EXPECT_TRUE(harness::LastRunMessages().empty());
    }
}

TEST_F(Decrypt, TheStandInMovesTheTimesWhenNotPutBack)
{
    // Without this the test above could not tell kept times from restored ones.
    MakeFile("Brine.dll");
    typedef BOOL(WINAPI * PFN)(LPCSTR);
    HMODULE hUnseal = LoadLibraryA("Unseal.dll");
    ASSERT_NE(nullptr, hUnseal) << GetLastError();
    PFN pfn = (PFN)(void*)GetProcAddress(hUnseal, "RemoveEncryption");
    ASSERT_NE(nullptr, pfn);
    SetFileAttributesA(m_strPath.c_str(), 0);
    pfn(m_strPath.c_str());
    FreeLibrary(hUnseal);
    FILE_TIMES t = GetTimes(m_strPath);
    EXPECT_NE(Ticks(m_times.ftWrite), Ticks(t.ftWrite));
    EXPECT_EQ(1u, ReadUnsealDword("Calls"));
}

TEST_F(Decrypt, NothingHappensOnNineXAndMe)
{
    for (DWORD dwOS : {(DWORD)OSID_W95, (DWORD)OSID_W98, (DWORD)OSID_WME})
    {
        SCOPED_TRACE(dwOS);
        ResetUnseal(true);
        MakeFile("Brin.dat");
        g_dwOSType = dwOS;
        DecryptCopiedFile(m_strPath.c_str());
        ExpectUntouched();
    }
}

TEST_F(Decrypt, FileWithoutTheEncryptedAttributeIsLeftAlone)
{
    g_dwOSType = OSID_W2K;
    MakeFile("Osksig.dat");
    g_strEncrypted = "";
    DecryptCopiedFile(m_strPath.c_str());
    ExpectUntouched();

    // A file that is not there: the attribute read fails and nothing is done.
    DecryptCopiedFile((harness::TestDir() + "\\missing.dll").c_str());
    bool bFound = true;
    ReadUnsealDword("Calls", &bFound);
    EXPECT_FALSE(bFound);
}

// Takes Unseal.dll out of the search path's first directory for the length of one scope.
class UnsealAway
{
  public:
    UnsealAway()
    {
        m_bMoved = MoveFileExA(Path().c_str(), (Path() + ".away").c_str(),
                               MOVEFILE_REPLACE_EXISTING) != FALSE;
    }
    ~UnsealAway()
    {
        if (m_bMoved)
            MoveFileExA((Path() + ".away").c_str(), Path().c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    static std::string Path()
    {
        return harness::ModuleDir() + "\\Unseal.dll";
    }
    bool m_bMoved;
};

TEST_F(Decrypt, MissingUnsealChangesNothingElse)
{
    g_dwOSType = OSID_W2K;
    MakeFile("Osk64dll.dll");
    DWORD dwCleared = ClearedAttributes(harness::TestDir());
    {
        UnsealAway away;
        ASSERT_TRUE(away.m_bMoved) << GetLastError();
        ASSERT_EQ(nullptr, LoadLibraryA("Unseal.dll"));
        DecryptCopiedFile(m_strPath.c_str());
    }
    ASSERT_TRUE(harness::FileExists(UnsealAway::Path()));
    bool bFound = true;
    ReadUnsealDword("Calls", &bFound);
    EXPECT_FALSE(bFound);
    EXPECT_EQ(dwCleared, GetFileAttributesA(m_strPath.c_str()));
    ExpectTimesKept();
    EXPECT_EQ("engine bytes", harness::ReadFileBytes(m_strPath));
    EXPECT_TRUE(harness::LastRunMessages().empty());
}

} // namespace

namespace
{

// The process's current directory and PATH, put back when the scope ends.
class SearchScope
{
  public:
    SearchScope()
    {
        char sz[MAX_PATH];
        GetCurrentDirectoryA(sizeof(sz), sz);
        m_strCurDir = sz;
        m_strPath.resize(32768);
        m_strPath.resize(GetEnvironmentVariableA("PATH", &m_strPath[0], 32768));
    }
    ~SearchScope()
    {
        SetCurrentDirectoryA(m_strCurDir.c_str());
        SetEnvironmentVariableA("PATH", m_strPath.c_str());
    }
    std::string m_strPath;

  private:
    std::string m_strCurDir;
};

// Beside the program (moved away here) and in the system directory the suite puts it; any other
// place may be one that an ordinary user can write to.
TEST_F(Decrypt, UnsealComesOnlyFromTheSystemDirectoryOnceMovedFromTheProgramsFolder)
{
    g_dwOSType = OSID_W2K;
    const std::string strOther = harness::TestDir() + "\\elsewhere";
    ASSERT_TRUE(CreateDirectoryA(strOther.c_str(), NULL)) << GetLastError();
    char szSys[MAX_PATH], szWin[MAX_PATH];
    ASSERT_NE(0u, GetSystemDirectoryA(szSys, sizeof(szSys)));
    ASSERT_NE(0u, GetWindowsDirectoryA(szWin, sizeof(szWin)));
    struct
    {
        const char* pszCase;
        std::string strDir; // where Unseal.dll is put
        std::string strCurDir;
        std::string strPathEntry;
        bool bCalled;
    } cases[] = {
        {"only in the current directory", strOther, strOther, "", false},
        {"the current directory also named on PATH", strOther, strOther, strOther, false},
        {"a relative PATH entry", strOther, harness::TestDir(), "elsewhere", false},
        {"an absolute PATH entry", strOther, harness::TestDir(), strOther, false},
        {"the Windows directory", szWin, harness::TestDir(), "", false},
        {"the system directory", szSys, harness::TestDir(), "", true},
    };
    UnsealAway away;
    ASSERT_TRUE(away.m_bMoved) << GetLastError();
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszCase);
        const std::string strPlaced = c.strDir + "\\Unseal.dll";
        ASSERT_TRUE(CopyFileA((UnsealAway::Path() + ".away").c_str(), strPlaced.c_str(), FALSE));
        SearchScope scope;
        ASSERT_TRUE(SetCurrentDirectoryA(c.strCurDir.c_str()));
        if (!c.strPathEntry.empty())
            SetEnvironmentVariableA("PATH", (c.strPathEntry + ";" + scope.m_strPath).c_str());
        ResetUnseal(true);
        MakeFile("Osk32dll.dll");
        DecryptCopiedFile(m_strPath.c_str());
        bool bFound = false;
        ReadUnsealDword("Calls", &bFound);
        EXPECT_EQ(c.bCalled, bFound);
        EXPECT_TRUE(DeleteFileA(strPlaced.c_str())) << GetLastError();
    }
}

} // namespace
