// The registry class over the real registry, in a scratch key of the 32-bit view that every test
// removes again.
#include "UnitFixture.h"

#include "RegClass/RegClass.h"

#include <string>
#include <vector>
#include <string.h>

namespace
{

const char s_szScratch[] = "SOFTWARE\\Quillmark\\RegClassScratch";
const char s_szFill = (char)0xCC;

// Raw access to the scratch key with the platform calls, so the checks do not go through the
// class under test.
LONG RawOpen(const std::string& strKey, HKEY* phKey, REGSAM sam = KEY_WOW64_32KEY)
{
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, strKey.c_str(), 0, KEY_ALL_ACCESS | sam, phKey);
}

bool KeyExists(const std::string& strKey, REGSAM sam = KEY_WOW64_32KEY)
{
    HKEY hKey;
    if (RawOpen(strKey, &hKey, sam) != ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    return true;
}

void RawSet(const std::string& strKey, const char* pszName, DWORD dwType, const void* pData,
            DWORD cb)
{
    HKEY hKey;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, strKey.c_str(), 0, NULL, 0,
                                             KEY_ALL_ACCESS | KEY_WOW64_32KEY, NULL, &hKey, NULL));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(hKey, pszName, 0, dwType, (const BYTE*)pData, cb));
    RegCloseKey(hKey);
}

void RawSetString(const std::string& strKey, const char* pszName, const std::string& strValue,
                  DWORD dwType = REG_SZ)
{
    RawSet(strKey, pszName, dwType, strValue.c_str(), (DWORD)strValue.size() + 1);
}

void RawSetDword(const std::string& strKey, const char* pszName, DWORD dw)
{
    RawSet(strKey, pszName, REG_DWORD, &dw, sizeof(dw));
}

// The stored type and bytes of a value; false when it cannot be read.
bool RawGet(const std::string& strKey, const char* pszName, DWORD* pdwType, std::string* pData)
{
    HKEY hKey;
    if (RawOpen(strKey, &hKey) != ERROR_SUCCESS)
        return false;
    BYTE ab[1024];
    DWORD cb = sizeof(ab);
    LONG l = RegQueryValueExA(hKey, pszName, NULL, pdwType, ab, &cb);
    RegCloseKey(hKey);
    if (l != ERROR_SUCCESS)
        return false;
    pData->assign((const char*)ab, cb);
    return true;
}

std::string KeyClass(const std::string& strKey)
{
    HKEY hKey;
    if (RawOpen(strKey, &hKey) != ERROR_SUCCESS)
        return "<no key>";
    char szClass[128] = "";
    DWORD cch = sizeof(szClass);
    LONG l =
        RegQueryInfoKeyA(hKey, szClass, &cch, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);
    RegCloseKey(hKey);
    return l == ERROR_SUCCESS ? std::string(szClass, cch) : "<query failed>";
}

// The DWORD as read, or dwDefault where the read fails.
DWORD DwordOr(RegClass& reg, const char* pszKey, const char* pszSubKey, const char* pszName,
              DWORD dwDefault)
{
    DWORD dw = dwDefault;
    reg.ReadDWORD(pszKey, pszSubKey, pszName, &dw);
    return dw;
}

class RegClassTest : public UnitTest
{
  protected:
    void TearDown() override
    {
        HKEY hKey;
        if (RawOpen(s_szScratch, &hKey) == ERROR_SUCCESS)
        {
            RegDeleteTreeA(hKey, NULL);
            RegCloseKey(hKey);
            RegDeleteKeyExA(HKEY_LOCAL_MACHINE, s_szScratch, KEY_WOW64_32KEY, 0);
        }
        EXPECT_FALSE(KeyExists(s_szScratch));
        UnitTest::TearDown();
    }
};

TEST_F(RegClassTest, ReadDwordKeepsTheWordOnFailure)
{
    RawSetDword(s_szScratch, "dw", 42);
    RawSetString(s_szScratch, "sz", "42");
    RawSet(s_szScratch, "bin", REG_BINARY, "\x01\x02\x03\x04", 4);

    RegBaseKeyClass reg(HKEY_LOCAL_MACHINE);
    reg.SetBasePath(s_szScratch);
    EXPECT_EQ(42u, DwordOr(reg, "", "", "dw", 7));
    EXPECT_EQ(7u, DwordOr(reg, "", "", "missing", 7)) << "missing value";
    EXPECT_EQ(7u, DwordOr(reg, "nokey", "", "dw", 7)) << "missing key";
    EXPECT_EQ(7u, DwordOr(reg, "", "", "sz", 7)) << "REG_SZ";
    EXPECT_EQ(7u, DwordOr(reg, "", "", "bin", 7)) << "REG_BINARY of four bytes";
    DWORD dw = 7;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, reg.ReadDWORD("nokey", "", "dw", &dw));
    EXPECT_FALSE(KeyExists(std::string(s_szScratch) + "\\nokey")) << "a read creates nothing";
}

TEST_F(RegClassTest, GetStringResultsAndDefaultFill)
{
    RawSetString(s_szScratch, "sz", "value");
    RawSetString(s_szScratch, "expand", "%TEMP%", REG_EXPAND_SZ);
    RawSetString(s_szScratch, "long", "0123456789");
    // Eight characters stored without their NUL: they fill an 8-byte buffer with no end.
    RawSet(s_szScratch, "nonul", REG_SZ, "ABCDEFGH", 8);
    RawSetDword(s_szScratch, "dw", 1);

    RegBaseKeyClass reg(HKEY_LOCAL_MACHINE);
    reg.SetBasePath(s_szScratch);
    struct Case
    {
        const char* pszValue;
        const char* pszDefault;
        LONG lExpected;
        const char* pszExpected;
    };
    const Case cases[] = {
        {"sz", "def", ERROR_SUCCESS, "value"},
        {"expand", "def", ERROR_INVALID_DATATYPE, "def"},
        {"dw", "def", ERROR_INVALID_DATATYPE, "def"},
        {"long", "def", ERROR_MORE_DATA, "def"},
        {"nonul", "def", ERROR_MORE_DATA, "def"},
        {"missing", "def", ERROR_FILE_NOT_FOUND, "def"},
        {"missing", "defaulttoolong", ERROR_FILE_NOT_FOUND, "default"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(std::string(c.pszValue) + " / " + c.pszDefault);
        char szBuf[8];
        memset(szBuf, s_szFill, sizeof(szBuf));
        EXPECT_EQ(c.lExpected, reg.GetString("", "", c.pszValue, c.pszDefault, szBuf, 8));
        EXPECT_STREQ(c.pszExpected, szBuf);
        if (c.lExpected != ERROR_SUCCESS)
        {
            for (size_t i = strlen(c.pszExpected); i < sizeof(szBuf); i++)
                EXPECT_EQ(0, szBuf[i]) << "byte " << i;
        }
    }

    // A null default on a missing value: zero bytes over the whole buffer.
    char szBuf[16];
    memset(szBuf, s_szFill, sizeof(szBuf));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, reg.GetString("", "", "missing", NULL, szBuf, 16));
    EXPECT_EQ(std::string(16, '\0'), std::string(szBuf, 16));
}

// QueryValue keeps what is stored: type and bytes, no default filled in.
TEST_F(RegClassTest, QueryValueKeepsTypeAndBytes)
{
    RawSetString(s_szScratch, "expand", "|A|", REG_EXPAND_SZ);
    RawSet(s_szScratch, "bin", REG_BINARY, "ABCD", 4);
    RawSetDword(s_szScratch, "dw", 7);
    RawSetString(s_szScratch, "long", "0123456789");

    RegBaseKeyClass reg(HKEY_LOCAL_MACHINE);
    reg.SetBasePath(s_szScratch);
    struct Case
    {
        const char* pszKey;
        const char* pszValue;
        LONG lExpected;
        DWORD dwType;
        DWORD cbAfter;
        std::string strBytes; // the buffer's first cbAfter bytes on success
    };
    const Case cases[] = {
        {"", "expand", ERROR_SUCCESS, REG_EXPAND_SZ, 4, std::string("|A|\0", 4)},
        {"", "bin", ERROR_SUCCESS, REG_BINARY, 4, "ABCD"},
        {"", "dw", ERROR_SUCCESS, REG_DWORD, 4, std::string("\x07\0\0\0", 4)},
        {"", "long", ERROR_MORE_DATA, REG_SZ, 11, ""},
        {"", "missing", ERROR_FILE_NOT_FOUND, 0, 0, ""},
        {"nokey", "expand", ERROR_FILE_NOT_FOUND, 0, 0, ""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(std::string(c.pszKey) + "\\" + c.pszValue);
        char ab[8];
        memset(ab, s_szFill, sizeof(ab));
        DWORD dwType = 0xDEADBEEF;
        DWORD cb = sizeof(ab);
        EXPECT_EQ(c.lExpected, reg.QueryValue(c.pszKey, "", c.pszValue, &dwType, (BYTE*)ab, &cb));
        if (c.lExpected == ERROR_FILE_NOT_FOUND)
            continue;
        EXPECT_EQ(c.dwType, dwType);
        EXPECT_EQ(c.cbAfter, cb);
        if (c.lExpected == ERROR_SUCCESS)
        {
            EXPECT_EQ(c.strBytes, std::string(ab, cb));
            EXPECT_EQ(s_szFill, ab[cb]) << "nothing written past the stored bytes";
        }
    }
    DWORD dwType, cb = 4;
    BYTE ab[4];
    EXPECT_EQ(ERROR_INVALID_PARAMETER, reg.QueryValue("", "", "dw", NULL, ab, &cb));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, reg.QueryValue("", "", "dw", &dwType, ab, NULL));
}

// The reads that report every failure by its number and never hand back an unended string.
TEST_F(RegClassTest, ReadsReturnTheErrorAndAlwaysEndTheText)
{
    RawSetDword(s_szScratch, "dw", 42);
    RawSetString(s_szScratch, "sz", "value");
    RawSetString(s_szScratch, "expand", "%TEMP%", REG_EXPAND_SZ);
    RawSet(s_szScratch, "nonul", REG_SZ, "ABCDEFG", 7);
    RawSet(s_szScratch, "bin", REG_BINARY, "\x01\x02\x03\x04", 4);
    RawSetString(s_szScratch, "long", std::string(1000, 'L'));

    RegBaseKeyClass reg(HKEY_LOCAL_MACHINE);
    reg.SetBasePath(s_szScratch);
    struct Case
    {
        const char* pszValue;
        LONG lDword;
        LONG lText;
        const char* pszText; // what an 8-byte buffer holds
    };
    const Case cases[] = {
        {"dw", ERROR_SUCCESS, ERROR_INVALID_DATATYPE, ""},
        {"sz", ERROR_INVALID_DATATYPE, ERROR_SUCCESS, "value"},
        {"expand", ERROR_INVALID_DATATYPE, ERROR_SUCCESS, "%TEMP%"},
        {"nonul", ERROR_INVALID_DATATYPE, ERROR_SUCCESS, "ABCDEFG"},
        {"bin", ERROR_INVALID_DATATYPE, ERROR_INVALID_DATATYPE, ""},
        {"long", ERROR_INVALID_DATATYPE, ERROR_MORE_DATA, ""},
        {"missing", ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND, ""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszValue);
        DWORD dw = 7;
        EXPECT_EQ(c.lDword, reg.ReadDWORD("", "", c.pszValue, &dw));
        EXPECT_EQ(c.lDword == ERROR_SUCCESS ? 42u : 7u, dw);
        char szBuf[8];
        memset(szBuf, s_szFill, sizeof(szBuf));
        EXPECT_EQ(c.lText, reg.ReadText("", "", c.pszValue, szBuf, sizeof(szBuf), NULL));
        EXPECT_STREQ(c.pszText, szBuf);

        // The heap reads take any size and type and end what they hand back.
        DWORD dwType = 0, cb = 0;
        BYTE* pData = NULL;
        LONG lAlloc = reg.ReadValueAlloc("", "", c.pszValue, &dwType, &pData, &cb);
        EXPECT_EQ(strcmp(c.pszValue, "missing") ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND, lAlloc);
        std::string strStored;
        DWORD dwStored = 0;
        if (RawGet(s_szScratch, c.pszValue, &dwStored, &strStored))
        {
            ASSERT_NE(nullptr, pData);
            EXPECT_EQ(dwStored, dwType);
            EXPECT_EQ(strStored, std::string((const char*)pData, cb));
            EXPECT_EQ(std::string(4, '\0'), std::string((const char*)pData + cb, 4));
        }
        else
        {
            EXPECT_EQ(nullptr, pData);
            EXPECT_EQ(0u, cb);
        }
        RegClass::FreeValue(pData);
    }
    EXPECT_EQ(ERROR_INVALID_PARAMETER, reg.ReadDWORD("", "", "dw", NULL));

    // UTF-16 in and out: a character the ANSI code page lacks survives the round trip.
    const WCHAR wszList[] = L"\\??\\C:\\\x0444.dll\0\0";
    ASSERT_EQ(ERROR_SUCCESS,
              reg.SetValueW("", "", "wide", REG_MULTI_SZ, (const BYTE*)wszList, sizeof(wszList)));
    DWORD dwType = 0, cb = 0;
    BYTE* pData = NULL;
    ASSERT_EQ(ERROR_SUCCESS, reg.ReadValueAllocW("", "", "wide", &dwType, &pData, &cb));
    EXPECT_EQ((DWORD)REG_MULTI_SZ, dwType);
    ASSERT_EQ(sizeof(wszList), cb);
    EXPECT_EQ(0, memcmp(wszList, pData, cb));
    RegClass::FreeValue(pData);
}

TEST_F(RegClassTest, WritesStoreTheirTypesAndCreateKeyChainsWithTheClass)
{
    RegBaseKeyClass reg(HKEY_LOCAL_MACHINE);
    reg.SetBasePath(std::string(s_szScratch).c_str());
    // Base, key and subKey: three keys that do not exist yet.
    EXPECT_EQ(ERROR_SUCCESS, reg.SetDWORD("a", "b\\c", "dw", 0x12345678));
    for (const char* pszKey : {"", "\\a", "\\a\\b", "\\a\\b\\c"})
    {
        SCOPED_TRACE(pszKey);
        EXPECT_EQ("QmRegData", KeyClass(std::string(s_szScratch) + pszKey));
    }
    DWORD dwType = 0;
    std::string strData;
    ASSERT_TRUE(RawGet(std::string(s_szScratch) + "\\a\\b\\c", "dw", &dwType, &strData));
    EXPECT_EQ((DWORD)REG_DWORD, dwType);
    EXPECT_EQ(std::string("\x78\x56\x34\x12", 4), strData);
    // The write went to the 32-bit view only.
    EXPECT_FALSE(KeyExists(s_szScratch, KEY_WOW64_64KEY));

    EXPECT_EQ(ERROR_SUCCESS, reg.SetString("", "", "null", NULL));
    ASSERT_TRUE(RawGet(s_szScratch, "null", &dwType, &strData));
    EXPECT_EQ((DWORD)REG_SZ, dwType);
    EXPECT_EQ(std::string(1, '\0'), strData);

    EXPECT_EQ(ERROR_SUCCESS, reg.SetString("", "", "sz", "text"));
    ASSERT_TRUE(RawGet(s_szScratch, "sz", &dwType, &strData));
    EXPECT_EQ((DWORD)REG_SZ, dwType);
    EXPECT_EQ(std::string("text", 5), strData);

    const BYTE abMulti[] = {'a', 0, 'b', 'c', 0, 0};
    EXPECT_EQ(ERROR_SUCCESS, reg.SetMultiString("", "", "multi", abMulti, sizeof(abMulti)));
    EXPECT_EQ(ERROR_SUCCESS, reg.SetBinary("", "", "bin", abMulti, 3));
    BYTE abBuf[9];
    EXPECT_EQ(ERROR_SUCCESS, reg.GetMultiString("", "", "multi", NULL, 0, abBuf, 8));
    EXPECT_EQ(0, memcmp(abMulti, abBuf, sizeof(abMulti)));
    // The zero fill covers the size given and not a byte more.
    const BYTE abDef[] = {9, 9};
    memset(abBuf, 0xCC, sizeof(abBuf));
    EXPECT_EQ(ERROR_INVALID_DATATYPE, reg.GetBinary("", "", "multi", abDef, 2, abBuf, 8));
    EXPECT_EQ(std::string("\x09\x09\0\0\0\0\0\0\xCC", 9), std::string((char*)abBuf, 9));
    memset(abBuf, 0xCC, sizeof(abBuf));
    EXPECT_EQ(ERROR_MORE_DATA, reg.GetMultiString("", "", "multi", abDef, 2, abBuf, 4));
    EXPECT_EQ(std::string("\x09\x09\0\0\xCC", 5), std::string((char*)abBuf, 5));
    EXPECT_EQ(ERROR_SUCCESS, reg.GetBinary("", "", "bin", abDef, 2, abBuf, 4));
    EXPECT_EQ(0, memcmp(abMulti, abBuf, 3));

    // The same value read back through the other addressing forms.
    RegBaseKeyClass regA(HKEY_LOCAL_MACHINE);
    regA.SetBasePath((std::string(s_szScratch) + "\\a").c_str());
    EXPECT_EQ(0x12345678u, DwordOr(regA, "b", "c", "dw", 0));
    EXPECT_EQ(0x12345678u, DwordOr(regA, "b\\c", "", "dw", 0));
    RegClass root(HKEY_LOCAL_MACHINE);
    EXPECT_EQ(0x12345678u,
              DwordOr(root, (std::string(s_szScratch) + "\\a").c_str(), "b\\c", "dw", 0));
}

TEST_F(RegClassTest, PathRulesAtTheLimitAndSetBasePathCuts)
{
    RegBaseKeyClass reg(HKEY_LOCAL_MACHINE);
    char szOut[REG_KEYPATH_SIZE];
    EXPECT_EQ(ERROR_INVALID_PARAMETER, reg.BuildKeyPath(NULL, szOut, sizeof(szOut)));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, reg.BuildKeyPath("k", NULL, sizeof(szOut)));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, reg.BuildKeyPath("k", szOut, 0));

    // An empty base and an empty key: the root itself.
    EXPECT_EQ(ERROR_SUCCESS, reg.BuildKeyPath("", szOut, sizeof(szOut)));
    EXPECT_STREQ("", szOut);
    reg.SetBasePath("B");
    EXPECT_EQ(ERROR_SUCCESS, reg.BuildKeyPath("", szOut, sizeof(szOut)));
    EXPECT_STREQ("B", szOut);
    EXPECT_EQ(ERROR_SUCCESS, reg.BuildKeyPath("k", szOut, sizeof(szOut)));
    EXPECT_STREQ("B\\k", szOut);
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, reg.BuildKeyPath("k", szOut, 3));

    const std::string str255 =
        std::string(s_szScratch) + "\\" + std::string(255 - strlen(s_szScratch) - 1, 'x');
    ASSERT_EQ(255u, str255.size());
    reg.SetBasePath(str255.c_str());
    EXPECT_EQ(str255, reg.GetBasePath());
    EXPECT_EQ(ERROR_SUCCESS, reg.BuildKeyPath("", szOut, sizeof(szOut)));
    EXPECT_EQ(str255, szOut);
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, reg.BuildKeyPath("k", szOut, sizeof(szOut)));

    // A path that does not fit never reaches the registry.
    EXPECT_EQ(ERROR_SUCCESS, reg.SetDWORD("", "", "v", 5));
    EXPECT_EQ(5u, DwordOr(reg, "", "", "v", 0));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, reg.SetDWORD("k", "", "v", 5));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, reg.SetDWORD("", "k", "v", 5));
    EXPECT_EQ(9u, DwordOr(reg, "", "k", "v", 9));
    char szBuf[4] = "zzz";
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, reg.GetString("k", "", "v", "d", szBuf, 4));
    EXPECT_STREQ("d", szBuf);
    EXPECT_FALSE(reg.ValueExists("k", "v", NULL));
    EXPECT_FALSE(KeyExists(str255 + "\\k"));

    const std::string str300(300, 'p');
    reg.SetBasePath(str300.c_str());
    EXPECT_EQ(str300.substr(0, 255), reg.GetBasePath());

    // The plain class checks its key against the output too.
    RegClass root(HKEY_LOCAL_MACHINE);
    EXPECT_EQ(ERROR_SUCCESS, root.BuildKeyPath(str255.c_str(), szOut, sizeof(szOut)));
    EXPECT_EQ(str255, szOut);
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER,
              root.BuildKeyPath((str255 + "x").c_str(), szOut, sizeof(szOut)));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, root.BuildKeyPath(NULL, szOut, sizeof(szOut)));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, root.SetDWORD((str255 + "x").c_str(), "", "v", 1));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, root.SetDWORD(str255.c_str(), "k", "v", 1));
}

TEST_F(RegClassTest, DeleteKeyTreeAndDeleteValue)
{
    const std::string strTree = std::string(s_szScratch) + "\\tree";
    RawSetDword(strTree + "\\one\\deep1", "v", 1);
    RawSetDword(strTree + "\\one\\deep2", "v", 1);
    RawSetDword(strTree + "\\two", "v", 1);
    RawSetDword(strTree, "v", 1);
    RawSetDword(std::string(s_szScratch) + "\\keep", "v", 1);

    RegBaseKeyClass reg(HKEY_LOCAL_MACHINE);
    reg.SetBasePath(s_szScratch);
    EXPECT_EQ(ERROR_SUCCESS, reg.DeleteKeyTree("", "tree"));
    EXPECT_FALSE(KeyExists(strTree));
    EXPECT_TRUE(KeyExists(std::string(s_szScratch) + "\\keep")) << "a sibling survives";
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, reg.DeleteKeyTree("", "tree"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, reg.DeleteKeyTree("noparent", "tree"));

    // A key of one level, named by a key below the base.
    RawSetDword(std::string(s_szScratch) + "\\keep\\leaf", "v", 1);
    EXPECT_EQ(ERROR_SUCCESS, reg.DeleteKeyTree("keep", "leaf"));
    EXPECT_FALSE(KeyExists(std::string(s_szScratch) + "\\keep\\leaf"));

    // DeleteValue names its key below the base path, as every other member does.
    RawSetDword(s_szScratch, "gone", 1);
    RawSetDword(std::string(s_szScratch) + "\\keep", "gone", 1);
    EXPECT_EQ(ERROR_SUCCESS, reg.DeleteValue("", "gone"));
    DWORD dwType;
    std::string strData;
    EXPECT_FALSE(RawGet(s_szScratch, "gone", &dwType, &strData));
    EXPECT_TRUE(RawGet(std::string(s_szScratch) + "\\keep", "gone", &dwType, &strData));
    EXPECT_EQ(ERROR_SUCCESS, reg.DeleteValue("keep", "gone"));
    EXPECT_FALSE(RawGet(std::string(s_szScratch) + "\\keep", "gone", &dwType, &strData));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, reg.DeleteValue("", "gone"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, reg.DeleteValue("nokey", "gone"));

    // A key checked for the rights asked, and left as it was.
    EXPECT_EQ(ERROR_SUCCESS, reg.CheckKey("keep", "", KEY_ALL_ACCESS));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, reg.CheckKey("keep", "nokey", KEY_READ));
    EXPECT_FALSE(KeyExists(std::string(s_szScratch) + "\\keep\\nokey"));
}

TEST_F(RegClassTest, ValueExistsAndItsResultWord)
{
    RawSetDword(s_szScratch, "there", 1);
    RegBaseKeyClass reg(HKEY_LOCAL_MACHINE);
    reg.SetBasePath(s_szScratch);

    DWORD dwWord = 0;
    EXPECT_FALSE(reg.ValueExists("", "missing", &dwWord));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, dwWord) << "told whatever the word held";
    dwWord = 1;
    EXPECT_FALSE(reg.ValueExists("", "missing", &dwWord));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, dwWord);
    dwWord = 1;
    EXPECT_FALSE(reg.ValueExists("nokey", "there", &dwWord));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, dwWord);
    dwWord = 1;
    EXPECT_TRUE(reg.ValueExists("", "there", &dwWord));
    EXPECT_EQ(0u, dwWord);
    EXPECT_TRUE(reg.ValueExists("", "there", NULL));
}

TEST_F(RegClassTest, KeyInfoEnumerationAndLongestValue)
{
    RawSetDword(std::string(s_szScratch) + "\\beta", "v", 1);
    RawSetDword(std::string(s_szScratch) + "\\alphabet", "v", 1);
    // Binary data: the longest size of string data is that of the stored (wide) form.
    RawSet(s_szScratch, "b", REG_BINARY, "0123456789abc", 13);
    RegBaseKeyClass reg(HKEY_LOCAL_MACHINE);
    reg.SetBasePath("SOFTWARE\\Quillmark");

    DWORD cSubKeys = 0, cchMaxSubKey = 0, cValues = 0;
    EXPECT_EQ(ERROR_SUCCESS,
              reg.QueryKeyInfo("RegClassScratch", "", NULL, NULL, &cSubKeys, &cchMaxSubKey, NULL,
                               &cValues, NULL, NULL, NULL, NULL));
    EXPECT_EQ(2u, cSubKeys);
    EXPECT_EQ(8u, cchMaxSubKey);
    EXPECT_EQ(1u, cValues);

    std::vector<std::string> names;
    LONG l;
    for (DWORD i = 0;; i++)
    {
        char szName[64];
        DWORD cch = sizeof(szName);
        l = reg.EnumSubKey("RegClassScratch", "", i, szName, &cch, NULL, NULL, NULL);
        if (l != ERROR_SUCCESS)
            break;
        names.push_back(szName);
    }
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, l);
    EXPECT_EQ((std::vector<std::string>{"alphabet", "beta"}), names);

    DWORD cbMax = 77;
    EXPECT_EQ(ERROR_SUCCESS, reg.GetMaxValueLen("RegClassScratch", "", 0, &cbMax));
    EXPECT_EQ(13u, cbMax);
    cbMax = 77;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, reg.GetMaxValueLen("RegClassScratch", "none", 0, &cbMax));
    EXPECT_EQ(77u, cbMax) << "stored only on success";
}

TEST_F(RegClassTest, ConnectToThisMachineByNameThenClose)
{
    RawSetDword(s_szScratch, "dw", 31);
    char szComputer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD cch = sizeof(szComputer);
    ASSERT_TRUE(GetComputerNameA(szComputer, &cch)) << GetLastError();
    const std::string strName = szComputer;

    RegBaseKeyClass reg(HKEY_LOCAL_MACHINE);
    reg.SetBasePath(s_szScratch);
    EXPECT_EQ(ERROR_SUCCESS, reg.Close()) << "nothing to release on a local object";
    EXPECT_EQ(HKEY_LOCAL_MACHINE, reg.GetRootKey());
    EXPECT_EQ(31u, DwordOr(reg, "", "", "dw", 0)) << "the predefined root stays usable";

    for (const std::string& strGiven : {strName, "\\" + strName, "\\\\" + strName})
    {
        SCOPED_TRACE(strGiven);
        EXPECT_EQ(ERROR_SUCCESS, reg.Connect(HKEY_LOCAL_MACHINE, strGiven.c_str()));
        EXPECT_EQ("\\\\" + strName, reg.GetMachine());
        EXPECT_NE((HKEY)NULL, reg.GetRootKey());
        EXPECT_EQ(31u, DwordOr(reg, "", "", "dw", 0)) << "reads through the connected root";
        EXPECT_EQ(ERROR_SUCCESS, reg.Close());
        EXPECT_EQ((HKEY)NULL, reg.GetRootKey());
        EXPECT_EQ("\\\\" + strName, reg.GetMachine()) << "Close keeps the name";
        EXPECT_EQ(ERROR_SUCCESS, reg.Close()) << "a second Close has nothing to release";
    }

    // Back to this machine without a name.
    EXPECT_EQ(ERROR_SUCCESS, reg.Connect(HKEY_LOCAL_MACHINE, ""));
    EXPECT_STREQ("", reg.GetMachine());
    EXPECT_EQ(HKEY_LOCAL_MACHINE, reg.GetRootKey());

    // 28 characters fit behind the two backslashes, 29 do not; a refusal leaves the object local.
    const std::string str29(29, 'M');
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, reg.Connect(HKEY_LOCAL_MACHINE, str29.c_str()));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, reg.Connect(HKEY_LOCAL_MACHINE, ("\\\\" + str29).c_str()));
    EXPECT_STREQ("", reg.GetMachine());
    EXPECT_EQ(HKEY_LOCAL_MACHINE, reg.GetRootKey());
    // A name that fits but is no machine here: the platform's error, nothing bound.
    LONG l = reg.Connect(HKEY_LOCAL_MACHINE, std::string(28, 'M').c_str());
    EXPECT_NE(ERROR_SUCCESS, l);
    EXPECT_STREQ("", reg.GetMachine());
    EXPECT_EQ(HKEY_LOCAL_MACHINE, reg.GetRootKey());
    EXPECT_EQ(31u, DwordOr(reg, "", "", "dw", 0));
}

} // namespace
