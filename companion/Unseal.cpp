// Stand-in for the suite's Unseal.dll. RemoveEncryption(path) removes file-system encryption from
// one file through the platform's own decryption call.
//
// For tests it keeps a record of its calls, but only where its key
// HKEY_CURRENT_USER\Software\PelmoraTest\Unseal exists (it never creates the key):
//   Calls            REG_DWORD  number of calls so far
//   LastPath         REG_SZ     the argument of the last call
//   AttributesAtCall REG_DWORD  the file's attributes when the last call came in
// and, when the key holds Rewrite = 1 (REG_DWORD), it rewrites the file's content in place after
// the decryption, as decrypting an encrypted file does on disk, so that its times move.
#include <windows.h>

static const char s_szTestKey[] = "Software\\PelmoraTest\\Unseal";

static void RewriteInPlace(LPCSTR pszPath)
{
    HANDLE hFile = CreateFileA(pszPath, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return;
    DWORD cb = GetFileSize(hFile, NULL);
    BYTE* pData = cb && cb != INVALID_FILE_SIZE ? (BYTE*)HeapAlloc(GetProcessHeap(), 0, cb) : NULL;
    DWORD cbDone = 0;
    if (pData && ReadFile(hFile, pData, cb, &cbDone, NULL) && cbDone == cb)
    {
        SetFilePointer(hFile, 0, NULL, FILE_BEGIN);
        WriteFile(hFile, pData, cb, &cbDone, NULL);
    }
    // A write of the same bytes may leave the times alone on some file systems: set them too.
    FILETIME ftNow;
    GetSystemTimeAsFileTime(&ftNow);
    SetFileTime(hFile, &ftNow, &ftNow, &ftNow);
    if (pData)
        HeapFree(GetProcessHeap(), 0, pData);
    CloseHandle(hFile);
}

extern "C" __declspec(dllexport) BOOL WINAPI RemoveEncryption(LPCSTR pszPath)
{
    HKEY hKey = NULL;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, s_szTestKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &hKey) !=
        ERROR_SUCCESS)
        hKey = NULL;
    if (hKey)
    {
        DWORD dwCalls = 0, cb = sizeof(dwCalls);
        if (RegQueryValueExA(hKey, "Calls", NULL, NULL, (BYTE*)&dwCalls, &cb) != ERROR_SUCCESS)
            dwCalls = 0;
        dwCalls++;
        RegSetValueExA(hKey, "Calls", 0, REG_DWORD, (const BYTE*)&dwCalls, sizeof(dwCalls));
        RegSetValueExA(hKey, "LastPath", 0, REG_SZ, (const BYTE*)pszPath,
                       (DWORD)lstrlenA(pszPath) + 1);
        DWORD dwAttr = GetFileAttributesA(pszPath);
        RegSetValueExA(hKey, "AttributesAtCall", 0, REG_DWORD, (const BYTE*)&dwAttr,
                       sizeof(dwAttr));
    }

    BOOL bResult = DecryptFileA(pszPath, 0);

    if (hKey)
    {
        DWORD dwRewrite = 0, cb = sizeof(dwRewrite);
        if (RegQueryValueExA(hKey, "Rewrite", NULL, NULL, (BYTE*)&dwRewrite, &cb) ==
                ERROR_SUCCESS &&
            dwRewrite == 1)
            RewriteInPlace(pszPath);
        RegCloseKey(hKey);
    }
    return bResult;
}
