// Every library the program loads. It runs with the rights of the setup that starts it, from the
// folder that setup unpacked it into, and with a current directory that may be any folder: the
// platform's own search takes a library of a system name from either before the system
// directory, so a file planted there would run inside the program. Hence the search is narrowed
// before anything else loads, the system libraries that the loader does not know (VERSION, MPR)
// are loaded from the system directory by their full path and never imported, and a library of
// the suite is looked for only where the suite puts it.
#include "support.h"

#include <stdio.h>
#include <string.h>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

typedef BOOL(WINAPI* PFN_SetDefaultDllDirectories)(DWORD);
typedef BOOL(WINAPI* PFN_SetDllDirectoryA)(LPCSTR);

void RestrictLibrarySearch()
{
    // Looked up, not imported: 95 to NT 4 and the first releases of 2000 and XP lack both, and
    // an import would keep the program from starting there. Where they are missing the search
    // stays as it is; every load below names its file by full path anyway.
    HMODULE hKernel = GetModuleHandleA("kernel32.dll");
    if (!hKernel)
        return;
    PFN_SetDefaultDllDirectories pfnSetDefault =
        (PFN_SetDefaultDllDirectories)(void*)GetProcAddress(hKernel, "SetDefaultDllDirectories");
    if (pfnSetDefault)
        pfnSetDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Takes the current directory out of the search on XP SP1 and later.
    PFN_SetDllDirectoryA pfnSetDir =
        (PFN_SetDllDirectoryA)(void*)GetProcAddress(hKernel, "SetDllDirectoryA");
    if (pfnSetDir)
        pfnSetDir("");
}

// szPath (MAX_PATH) = pszDir, a backslash unless pszDir ends in one, and pszName.
static BOOL JoinLibraryPath(char* szPath, const char* pszDir, const char* pszName)
{
    size_t cchDir = strlen(pszDir);
    if (cchDir == 0)
        return FALSE;
    BOOL bSep = pszDir[cchDir - 1] == '\\' && !MbsIsTrailByte(pszDir, cchDir - 1);
    int n = _snprintf(szPath, MAX_PATH, "%s%s%s", pszDir, bSep ? "" : "\\", pszName);
    if (n < 0 || n >= MAX_PATH)
    {
        szPath[0] = '\0';
        return FALSE;
    }
    return TRUE;
}

HMODULE LoadSystemLibrary(const char* pszName)
{
    char szDir[MAX_PATH], szPath[MAX_PATH];
    UINT cch = GetSystemDirectoryA(szDir, sizeof(szDir));
    if (cch == 0 || cch >= sizeof(szDir) || !JoinLibraryPath(szPath, szDir, pszName))
    {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    return LoadLibraryA(szPath);
}

// A file (not a directory) of that name.
static BOOL IsFile(const char* pszPath)
{
    DWORD dwAttr = GetFileAttributesA(pszPath);
    return dwAttr != INVALID_FILE_ATTRIBUTES && !(dwAttr & FILE_ATTRIBUTE_DIRECTORY);
}

// The program's own folder, then the system directory: nothing else. The Windows directory and
// the directories of PATH are left out, as is the current directory: an ordinary user may be
// able to write to one of them (a PATH entry, the engine directory among them), and the library
// would then run as the system account.
static BOOL FindSuiteLibrary(const char* pszName, char* szPath)
{
    char szDir[MAX_PATH];
    DWORD cch = GetModuleFileNameA(NULL, szDir, sizeof(szDir));
    char* pszSep = (cch > 0 && cch < sizeof(szDir)) ? MbsRChr(szDir, '\\') : NULL;
    if (pszSep)
    {
        *pszSep = '\0';
        if (JoinLibraryPath(szPath, szDir, pszName) && IsFile(szPath))
            return TRUE;
    }
    UINT cchSys = GetSystemDirectoryA(szDir, sizeof(szDir));
    if (cchSys > 0 && cchSys < sizeof(szDir) && JoinLibraryPath(szPath, szDir, pszName) &&
        IsFile(szPath))
        return TRUE;
    szPath[0] = '\0';
    return FALSE;
}

HMODULE LoadSuiteLibrary(const char* pszName)
{
    char szPath[MAX_PATH];
    if (!FindSuiteLibrary(pszName, szPath))
    {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    return LoadLibraryA(szPath);
}

// ---------------------------------------------------------------------------------------------
// VERSION and MPR, bound on first use. The libraries stay loaded for the rest of the process.

static FARPROC SystemProc(HMODULE* phLib, const char* pszLib, const char* pszProc)
{
    if (!*phLib)
        *phLib = LoadSystemLibrary(pszLib);
    FARPROC pfn = *phLib ? GetProcAddress(*phLib, pszProc) : NULL;
    if (!pfn)
        SetLastError(ERROR_PROC_NOT_FOUND);
    return pfn;
}

static HMODULE s_hVersion;
static HMODULE s_hMpr;

typedef DWORD(WINAPI* PFN_GetFileVersionInfoSizeA)(LPCSTR, LPDWORD);
typedef BOOL(WINAPI* PFN_GetFileVersionInfoA)(LPCSTR, DWORD, DWORD, LPVOID);
typedef BOOL(WINAPI* PFN_VerQueryValueA)(LPCVOID, LPCSTR, LPVOID*, PUINT);
typedef DWORD(WINAPI* PFN_WNetCancelConnection2A)(LPCSTR, DWORD, BOOL);

DWORD SysGetFileVersionInfoSizeA(LPCSTR pszPath, LPDWORD pdwHandle)
{
    static PFN_GetFileVersionInfoSizeA s_pfn;
    if (!s_pfn)
        s_pfn = (PFN_GetFileVersionInfoSizeA)(void*)SystemProc(&s_hVersion, "version.dll",
                                                               "GetFileVersionInfoSizeA");
    return s_pfn ? s_pfn(pszPath, pdwHandle) : 0;
}

BOOL SysGetFileVersionInfoA(LPCSTR pszPath, DWORD dwHandle, DWORD cbBlock, LPVOID pBlock)
{
    static PFN_GetFileVersionInfoA s_pfn;
    if (!s_pfn)
        s_pfn = (PFN_GetFileVersionInfoA)(void*)SystemProc(&s_hVersion, "version.dll",
                                                           "GetFileVersionInfoA");
    return s_pfn ? s_pfn(pszPath, dwHandle, cbBlock, pBlock) : FALSE;
}

BOOL SysVerQueryValueA(LPCVOID pBlock, LPCSTR pszSubBlock, LPVOID* ppBuffer, PUINT pcbBuffer)
{
    static PFN_VerQueryValueA s_pfn;
    if (!s_pfn)
        s_pfn = (PFN_VerQueryValueA)(void*)SystemProc(&s_hVersion, "version.dll", "VerQueryValueA");
    return s_pfn ? s_pfn(pBlock, pszSubBlock, ppBuffer, pcbBuffer) : FALSE;
}

DWORD SysWNetCancelConnection2A(LPCSTR pszName, DWORD dwFlags, BOOL bForce)
{
    static PFN_WNetCancelConnection2A s_pfn;
    if (!s_pfn)
        s_pfn = (PFN_WNetCancelConnection2A)(void*)SystemProc(&s_hMpr, "mpr.dll",
                                                              "WNetCancelConnection2A");
    return s_pfn ? s_pfn(pszName, dwFlags, bForce) : ERROR_PROC_NOT_FOUND;
}
