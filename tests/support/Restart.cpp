#include "Restart.h"

#include "Harness.h"

#include <gtest/gtest.h>

namespace harness
{

static const char s_szSessionKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
static const WCHAR s_wszPending[] = L"PendingFileRenameOperations";

std::string WinInitPath()
{
    char sz[MAX_PATH];
    GetWindowsDirectoryA(sz, sizeof(sz));
    return std::string(sz) + "\\WININIT.INI";
}

std::string ReadPendingRaw(bool* pbExists)
{
    std::string data;
    if (pbExists)
        *pbExists = false;
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, s_szSessionKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return data;
    DWORD cb = 0;
    if (RegQueryValueExW(hKey, s_wszPending, NULL, NULL, NULL, &cb) == ERROR_SUCCESS)
    {
        data.resize(cb);
        RegQueryValueExW(hKey, s_wszPending, NULL, NULL, (BYTE*)&data[0], &cb);
        data.resize(cb);
        if (pbExists)
            *pbExists = true;
    }
    RegCloseKey(hKey);
    return data;
}

std::vector<std::string> ReadPendingRenames(DWORD* pdwType)
{
    std::vector<std::string> strings;
    if (pdwType)
        *pdwType = REG_NONE;
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, s_szSessionKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return strings;
    DWORD dwType = REG_NONE, cb = 0;
    if (RegQueryValueExW(hKey, s_wszPending, NULL, &dwType, NULL, &cb) == ERROR_SUCCESS)
    {
        std::wstring data(cb / sizeof(WCHAR) + 2, L'\0');
        RegQueryValueExW(hKey, s_wszPending, NULL, NULL, (BYTE*)&data[0], &cb);
        size_t cch = cb / sizeof(WCHAR);
        // Pairs of strings; a pair may hold an empty destination, the list ends with an empty
        // source.
        size_t i = 0;
        while (i < cch && data[i])
        {
            for (int nPart = 0; nPart < 2 && i < cch; nPart++)
            {
                std::wstring w(data.c_str() + i);
                char sz[4 * MAX_PATH] = "";
                WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, sz, sizeof(sz), NULL, NULL);
                strings.push_back(sz);
                i += w.size() + 1;
            }
        }
    }
    if (pdwType)
        *pdwType = dwType;
    RegCloseKey(hKey);
    return strings;
}

void WritePendingRenames(const std::vector<std::wstring>& strings)
{
    HKEY hKey;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, s_szSessionKey, 0, KEY_SET_VALUE, &hKey));
    if (strings.empty())
    {
        RegDeleteValueW(hKey, s_wszPending);
    }
    else
    {
        std::wstring data;
        for (const auto& s : strings)
            data += s + L'\0';
        data += L'\0';
        EXPECT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(hKey, s_wszPending, 0, REG_MULTI_SZ, (const BYTE*)data.data(),
                                 (DWORD)(data.size() * sizeof(WCHAR))));
    }
    RegCloseKey(hKey);
}

bool Restart()
{
    char szCmd[] = "wineboot.exe -r";
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(NULL, szCmd, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
    {
        ADD_FAILURE() << "cannot start wineboot.exe -r, error " << GetLastError();
        return false;
    }
    DWORD dwWait = WaitForSingleObject(pi.hProcess, harness::Patience(120000));
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    EXPECT_EQ(WAIT_OBJECT_0, dwWait) << "wineboot.exe -r did not end";
    return dwWait == WAIT_OBJECT_0;
}

std::string ShortName(const std::string& strPath)
{
    char sz[MAX_PATH] = "";
    DWORD cch = GetShortPathNameA(strPath.c_str(), sz, sizeof(sz));
    EXPECT_TRUE(cch > 0 && cch < sizeof(sz)) << strPath << " error " << GetLastError();
    return sz;
}

std::string ShortUpper(const std::string& strPath)
{
    std::string s = ShortName(strPath);
    CharUpperBuffA(&s[0], (DWORD)s.size());
    return s;
}

} // namespace harness
