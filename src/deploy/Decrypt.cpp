// An engine file copied from an encrypted folder, or into one, arrives encrypted, and then only
// the account that copied it can read it: the services that load the engine could not. The suite's
// Unseal.dll removes the encryption; the times are put back afterwards because the freshness
// test of later runs compares them.
#include "decrypt.h"

#include "support/support.h"

typedef BOOL(WINAPI* PFN_RemoveEncryption)(LPCSTR);

// Opening with these flags works for every attribute combination a file may have; the "keep"
// time of all bits set stops the handle's own writes from moving the times again.
#define DECRYPT_OPEN_FLAGS                                                                         \
    (FILE_FLAG_BACKUP_SEMANTICS | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |                \
     FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL)

void DecryptCopiedFile(const char* pszPath)
{
    // 95, 98 and ME have no file-system encryption.
    if (Is9xFamilyPlatform())
        return;

    DWORD dwAttr = g_pfnGetFileAttributesA(pszPath);
    if (dwAttr == INVALID_FILE_ATTRIBUTES || !(dwAttr & FILE_ATTRIBUTE_ENCRYPTED))
        return;

    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA(pszPath, &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return;
    FindClose(hFind);

    SetFileAttributesA(pszPath, 0);

    // Where the suite puts it, never from the current directory (the package folder).
    HMODULE hUnseal = LoadSuiteLibrary("Unseal.dll");
    if (hUnseal)
    {
        PFN_RemoveEncryption pfnRemoveEncryption =
            (PFN_RemoveEncryption)(void*)GetProcAddress(hUnseal, "RemoveEncryption");
        if (pfnRemoveEncryption)
            pfnRemoveEncryption(pszPath);
        FreeLibrary(hUnseal);
    }

    HANDLE hFile =
        CreateFileA(pszPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                    OPEN_EXISTING, DECRYPT_OPEN_FLAGS, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return;
    FILETIME ftKeep = {0xFFFFFFFF, 0xFFFFFFFF};
    SetFileTime(hFile, &ftKeep, &ftKeep, &ftKeep);
    SetFileTime(hFile, &fd.ftCreationTime, &fd.ftLastAccessTime, &fd.ftLastWriteTime);
    CloseHandle(hFile);
}
