// The resources compiled into Pelmora.exe, read from the built file.
#include "Harness.h"

#include <string>
#include <vector>

namespace
{

class Resources : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        m_hModule =
            LoadLibraryExA(harness::PelmoraExePath().c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_TRUE(m_hModule != NULL) << GetLastError();
    }
    void TearDown() override
    {
        if (m_hModule)
            FreeLibrary(m_hModule);
    }
    HMODULE m_hModule = NULL;
};

TEST_F(Resources, StringTableInUsEnglish)
{
    const char* const apszExpected[] = {
        "Pelmora",
        nullptr, // 2 and 3: the unused long usage texts, only present
        nullptr,
        "The install is successful. Please reboot your machine to make the update complete.",
        "The install is successful, files are updated.",
        "Invalid ScanEngine path, Pelmora can't process.",
        "Missing filelist.ini file, Pelmora can't process.",
    };
    for (UINT uId = 1; uId <= 7; uId++)
    {
        SCOPED_TRACE(uId);
        char sz[2048] = "";
        int cch = LoadStringA(m_hModule, uId, sz, sizeof(sz));
        if (apszExpected[uId - 1])
        {
            EXPECT_STREQ(apszExpected[uId - 1], sz);
        }
        else
        {
            EXPECT_GT(cch, 200);
        }
    }
    // Strings 1 to 15 share one block; it is in language 1033.
    EXPECT_TRUE(FindResourceExA(m_hModule, (LPCSTR)RT_STRING, MAKEINTRESOURCEA(1),
                                MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)) != NULL);
}

TEST_F(Resources, DialogTemplateAndVersionBlock)
{
    HRSRC hRes = FindResourceExA(m_hModule, (LPCSTR)RT_DIALOG, MAKEINTRESOURCEA(101),
                                 MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    ASSERT_TRUE(hRes != NULL);
    const WORD* pw = (const WORD*)LockResource(LoadResource(m_hModule, hRes));
    ASSERT_TRUE(pw != NULL);
    // DLGTEMPLATEEX: dlgVer 1, signature 0xFFFF, helpID, exStyle, style, cDlgItems, x, y, cx, cy.
    EXPECT_EQ(1, pw[0]);
    EXPECT_EQ(0xFFFF, pw[1]);
    DWORD dwExStyle = pw[4] | (pw[5] << 16);
    DWORD dwStyle = pw[6] | (pw[7] << 16);
    EXPECT_EQ(0u, dwExStyle);
    EXPECT_EQ((DWORD)(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT), dwStyle);
    EXPECT_EQ(7, pw[8]);
    EXPECT_EQ((std::vector<short>{0, 0, 380, 261}),
              (std::vector<short>{(short)pw[9], (short)pw[10], (short)pw[11], (short)pw[12]}));

    char szExe[MAX_PATH];
    lstrcpynA(szExe, harness::PelmoraExePath().c_str(), sizeof(szExe));
    DWORD dwHandle = 0;
    DWORD cb = GetFileVersionInfoSizeA(szExe, &dwHandle);
    ASSERT_GT(cb, 0u);
    std::vector<char> info(cb);
    ASSERT_TRUE(GetFileVersionInfoA(szExe, 0, cb, info.data()));
    VS_FIXEDFILEINFO* pFixed = NULL;
    UINT cbFixed = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", (void**)&pFixed, &cbFixed));
    EXPECT_EQ(0xFEEF04BDu, pFixed->dwSignature);
    char* pszName = NULL;
    UINT cchName = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904E4\\OriginalFilename",
                               (void**)&pszName, &cchName));
    EXPECT_STREQ("Pelmora.exe", pszName);
}

} // namespace
