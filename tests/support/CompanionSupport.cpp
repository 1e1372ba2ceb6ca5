#include "CompanionSupport.h"

#include "CompanionData.h"
#include "Harness.h"

#include <gtest/gtest.h>

#include <vector>

namespace harness
{

// True when the PE image at strPath is a 64-bit one (machine AMD64).
static bool IsImage64(const std::string& strPath)
{
    HANDLE hFile = CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    BYTE ab[512];
    DWORD cb = 0;
    BOOL bRead = ReadFile(hFile, ab, sizeof(ab), &cb, NULL);
    CloseHandle(hFile);
    if (!bRead || cb < 0x40)
        return false;
    DWORD dwPe = ab[0x3c] | (ab[0x3d] << 8) | (ab[0x3e] << 16) | ((DWORD)ab[0x3f] << 24);
    if (dwPe > cb - 6)
        return false;
    return (ab[dwPe + 4] | (ab[dwPe + 5] << 8)) == IMAGE_FILE_MACHINE_AMD64;
}

DWORD RunRegsvr32(const std::string& strDll, bool bUnregister)
{
    char sz[MAX_PATH];
    UINT cch;
    if (!IsImage64(strDll) && sizeof(void*) == 8)
        cch = GetSystemWow64DirectoryA(sz, sizeof(sz));
    else
        cch = GetSystemDirectoryA(sz, sizeof(sz));
    if (cch == 0 || cch >= sizeof(sz))
    {
        ADD_FAILURE() << "no system directory for " << strDll << ": " << GetLastError();
        return (DWORD)-1;
    }
    std::string strExe = std::string(sz, cch) + "\\regsvr32.exe";
    std::string strCmd =
        "\"" + strExe + "\" /s " + (bUnregister ? "/u " : "") + "\"" + strDll + "\"";
    return harness::RunCommandLine(strCmd, NULL, 60000);
}

void SetCompanionValue(const char* pszKey, const char* pszName, DWORD dwType, const void* pData,
                       DWORD cbData)
{
    HKEY hKey = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, pszKey, 0, NULL, 0, KEY_ALL_ACCESS,
                                             NULL, &hKey, NULL));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(hKey, pszName, 0, dwType, (const BYTE*)pData, cbData));
    RegCloseKey(hKey);
}

DWORD CompanionInstances(const char* pszKey)
{
    DWORD dw = 0;
    DWORD cb = sizeof(dw);
    if (RegGetValueA(HKEY_CURRENT_USER, pszKey, COMPANION_VALUE_INSTANCES, RRF_RT_REG_DWORD, NULL,
                     &dw, &cb) != ERROR_SUCCESS)
        return 0;
    return dw;
}

void ClearCompanionData()
{
    RegDeleteTreeA(HKEY_CURRENT_USER, COMPANION_A_DATA_KEY);
    RegDeleteTreeA(HKEY_CURRENT_USER, COMPANION_B_DATA_KEY);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Quillmark Companion");
}

} // namespace harness
