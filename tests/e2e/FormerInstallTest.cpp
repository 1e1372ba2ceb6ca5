// The real process telling a first install from an update: the record prepared in the 32-bit
// registry view, the log lines of the earlier-installation test and of the stored record.
#include "Harness.h"

#include <string>
#include <vector>

using harness::FindPrefix;
using harness::LastRunMessages;
using harness::RunOptions;
using harness::RunPelmora;

namespace
{

const char s_szKey[] = "SOFTWARE\\Quillmark\\ScanEngine";
const char s_szPathKey[] = "SOFTWARE\\Quillmark\\ScanEngine\\Path";
const char s_szMissing[] = "Orvane: Missing argument and Registry!!\n";
const char s_szFalse[] = "Orvane: bFormerInstalled [FALSE!]\n";
const char s_szTrue[] = "Orvane: bFormerInstalled [TRUE!]\n";
const char s_szR80[] = "Pelmora is installing on top of Norvale Vigil r80\n";

void RawSet(const char* pszKey, const char* pszName, DWORD dwType, const void* pData, DWORD cb,
            REGSAM samView = KEY_WOW64_32KEY)
{
    HKEY hKey;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, NULL, 0,
                                             KEY_ALL_ACCESS | samView, NULL, &hKey, NULL));
    if (pszName)
    {
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(hKey, pszName, 0, dwType, (const BYTE*)pData, cb));
    }
    RegCloseKey(hKey);
}

void SetDword(const char* pszName, DWORD dw)
{
    RawSet(s_szKey, pszName, REG_DWORD, &dw, sizeof(dw));
}

void SetString(const char* pszName, const std::string& str)
{
    RawSet(s_szKey, pszName, REG_SZ, str.c_str(), (DWORD)str.size() + 1);
}

bool KeyExists(const char* pszKey, REGSAM samView)
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, KEY_READ | samView, &hKey) != ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    return true;
}

// Every value of a key as "name=type:bytes" lines, to see that a run changed nothing.
std::string Snapshot(const char* pszKey)
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, KEY_READ | KEY_WOW64_32KEY, &hKey) !=
        ERROR_SUCCESS)
        return "absent";
    std::string str;
    for (DWORD i = 0;; i++)
    {
        char szName[256];
        DWORD cchName = sizeof(szName);
        BYTE ab[1024];
        DWORD cb = sizeof(ab);
        DWORD dwType;
        if (RegEnumValueA(hKey, i, szName, &cchName, NULL, &dwType, ab, &cb) != ERROR_SUCCESS)
            break;
        str += std::string(szName) + "=" + std::to_string(dwType) + ":" +
               std::string((char*)ab, cb) + "\n";
    }
    RegCloseKey(hKey);
    return str;
}

// The harness resets the program's view only; a test that plants a record in the other view
// removes it again.
void Delete64BitRecord()
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &hKey) ==
        ERROR_SUCCESS)
    {
        RegDeleteTreeA(hKey, "Quillmark");
        RegCloseKey(hKey);
    }
    EXPECT_FALSE(KeyExists("SOFTWARE\\Quillmark", KEY_WOW64_64KEY));
}

class FormerInstall : public harness::PelmoraTest
{
  protected:
    void TearDown() override
    {
        Delete64BitRecord();
        harness::PelmoraTest::TearDown();
    }
    // The lines that the run wrote after the manifest test, cut to the first nCount.
    std::vector<std::string> LinesAfterManifest(const std::string& strArgs, size_t nCount)
    {
        RunOptions opts;
        opts.strCurDir = harness::MakePackageDir("pkg", true);
        RunPelmora(strArgs, opts);
        std::vector<std::string> msgs = LastRunMessages();
        int n = FindPrefix(msgs, "Orvane: Check file list from [");
        EXPECT_NE(-1, n);
        if (n == -1)
            return {};
        std::vector<std::string> after(msgs.begin() + n + 1, msgs.end());
        if (after.size() > nCount)
            after.resize(nCount);
        return after;
    }
};

TEST_F(FormerInstall, NoRecordMeansFirstInstall)
{
    struct Case
    {
        const char* pszName;
        const char* pszArgs;
        bool bMissingLine;
    };
    const Case cases[] = {
        {"empty argument text", "", true},
        {"product without path", "/PROD:A", true},
        {"product and path", "/PROD:A /PATH:", false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        harness::ResetState();
        std::string strArgs = c.pszArgs;
        if (strArgs.find("/PATH:") != std::string::npos)
            strArgs += harness::TestDir() + "\\eng";
        std::vector<std::string> lines = LinesAfterManifest(strArgs, 3);
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(s_szFalse, lines[0]);
        EXPECT_EQ(c.bMissingLine, lines[1] == s_szMissing);
        EXPECT_EQ("Orvane: New Install\n", lines[c.bMissingLine ? 2 : 1]);
    }
}

TEST_F(FormerInstall, OnlyThePathKeyInTheProgramsViewCounts)
{
    struct Case
    {
        const char* pszName;
        const char* pszKey;
        REGSAM samView;
    };
    const Case cases[] = {
        {"record without Path key", s_szKey, KEY_WOW64_32KEY},
        {"Path key in the 64-bit view only", s_szPathKey, KEY_WOW64_64KEY},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        harness::ResetState();
        RawSet(c.pszKey, nullptr, 0, nullptr, 0, c.samView);
        std::vector<std::string> lines =
            LinesAfterManifest("/PROD:A /PATH:" + harness::TestDir() + "\\eng", 1);
        EXPECT_EQ(std::vector<std::string>{s_szFalse}, lines);
        Delete64BitRecord();
    }
}

TEST_F(FormerInstall, UpdateMergesTheEngineSetAndReadsTheList)
{
    const std::string strEng = harness::TestDir() + "\\eng";
    RawSet(s_szPathKey, "Engine", REG_SZ, strEng.c_str(), (DWORD)strEng.size() + 1);
    SetDword("dwEngIDs", 1);
    SetDword("ReferenceCount", 1);
    SetString("ProductList", "|MORVELIN|");

    std::vector<std::string> lines = LinesAfterManifest("/2 /PROD:B", 5);
    EXPECT_EQ((std::vector<std::string>{
                  "Retrieved ScanEngine version \n",
                  s_szTrue,
                  "Orvane: Former EngID [1]\n",
                  "Orvane: dwEngID [3]\n",
                  "Orvane: Product list from reg [|MORVELIN|]\n",
              }),
              lines);
    // The update that follows registers B and stores the merged set.
    auto dw = [](DWORD d) { return std::string((const char*)&d, 4); };
    EXPECT_EQ("dwEngIDs=4:" + dw(3) + "\nProductList=1:|MORVELIN|B|" + std::string(1, '\0') +
                  "\nReferenceCount=4:" + dw(2) + "\nTimeout=4:" + dw(60) + "\n",
              Snapshot(s_szKey));
}

TEST_F(FormerInstall, VersionValueAndWrongTypesInTheRecord)
{
    struct Case
    {
        const char* pszName;
        void (*pfnPrepare)();
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"r80 version",
         [] { SetString("version", "8.0.1"); },
         {"Retrieved ScanEngine version 8.0.1\n", s_szR80, s_szTrue, "Orvane: Former EngID [0]\n",
          "Orvane: dwEngID [3]\n", "Orvane: No Product list from reg\n"}},
        {"empty version",
         [] { SetString("version", ""); },
         {"Retrieved ScanEngine version \n", s_szTrue, "Orvane: Former EngID [0]\n",
          "Orvane: dwEngID [3]\n", "Orvane: No Product list from reg\n"}},
        {"version, list and engine set of the wrong types",
         []
         {
             SetDword("version", 80);
             SetDword("ProductList", 1);
             SetString("dwEngIDs", "2");
         },
         {"Retrieved ScanEngine version \n", s_szTrue, "Orvane: Former EngID [0]\n",
          "Orvane: dwEngID [3]\n", "Orvane: No Product list from reg\n"}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        harness::ResetState();
        RawSet(s_szPathKey, nullptr, 0, nullptr, 0);
        c.pfnPrepare();
        EXPECT_EQ(c.lines, LinesAfterManifest("/PROD:B", c.lines.size()));
    }

    // The engine set the caller asks for is kept when the record holds none.
    harness::ResetState();
    RawSet(s_szPathKey, nullptr, 0, nullptr, 0);
    std::vector<std::string> lines = LinesAfterManifest("/1 /PROD:B", 4);
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("Orvane: Former EngID [0]\n", lines[2]);
    EXPECT_EQ("Orvane: dwEngID [1]\n", lines[3]);
}

} // namespace
