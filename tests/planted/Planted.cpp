// A library under a system library's name (mpr.dll, version.dll), as a user could plant it
// beside the program or in its current directory. It exports what the program calls of the real
// one and, when it is loaded, leaves a marker beside itself (<its path>.loaded). Its exports
// only fail, so a run that used them would show it in its log.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pReserved)
{
    (void)pReserved;
    if (dwReason != DLL_PROCESS_ATTACH)
        return TRUE;
    char szMarker[MAX_PATH + 16];
    DWORD cch = GetModuleFileNameA(hInstance, szMarker, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH)
        return TRUE;
    lstrcpyA(szMarker + cch, ".loaded");
    HANDLE hFile =
        CreateFileA(szMarker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile != INVALID_HANDLE_VALUE)
        CloseHandle(hFile);
    return TRUE;
}

#ifdef PLANTED_MPR
extern "C" __declspec(dllexport) DWORD WINAPI WNetCancelConnection2A(LPCSTR, DWORD, BOOL)
{
    return ERROR_NOT_SUPPORTED;
}
#endif

#ifdef PLANTED_VERSION
extern "C" __declspec(dllexport) DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR, LPDWORD)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return 0;
}

extern "C" __declspec(dllexport) BOOL WINAPI GetFileVersionInfoA(LPCSTR, DWORD, DWORD, LPVOID)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

extern "C" __declspec(dllexport) BOOL WINAPI VerQueryValueA(LPCVOID, LPCSTR, LPVOID*, PUINT)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}
#endif
