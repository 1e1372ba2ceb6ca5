// Which Windows we run on. Called once by the entry point; every other step reads g_dwOSType.
#include "support.h"

DWORD g_dwOSType = OSID_UNKNOWN;

DWORD GetCurrentOSType()
{
    OSVERSIONINFOA vi;
    ZeroMemory(&vi, sizeof(vi));
    vi.dwOSVersionInfoSize = sizeof(vi); // 148, the size the oldest platforms accept
    if (!g_pfnGetVersionExA(&vi))
        return OSID_UNKNOWN;

    if (vi.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS)
    {
        if (vi.dwMajorVersion > 4 || (vi.dwMajorVersion == 4 && vi.dwMinorVersion != 0))
        {
            // Windows ME keeps the environment in the registry under this key (written without
            // a blank, unlike the NT "Session Manager"); 98 has no such key.
            HKEY hKey;
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                              "SYSTEM\\CurrentControlSet\\Control\\SessionManager\\Environment", 0,
                              KEY_ALL_ACCESS, &hKey) == ERROR_SUCCESS)
            {
                WriteLog("Orvane: GetCurrentOSType: OSID_WME [%d]\n", OSID_WME);
                RegCloseKey(hKey);
                return OSID_WME;
            }
            WriteLog("Orvane: GetCurrentOSType: OSID_W98 [%d]\n", OSID_W98);
            return OSID_W98;
        }
        WriteLog("Orvane: GetCurrentOSType: OSID_W95 [%d]\n", OSID_W95);
        return OSID_W95;
    }

    if (vi.dwPlatformId == VER_PLATFORM_WIN32_NT)
    {
        switch (vi.dwMajorVersion)
        {
        case 3:
            WriteLog("Orvane: GetCurrentOSType: OSID_NT351 [%d]\n", OSID_NT351);
            return OSID_NT351;
        case 4:
            WriteLog("Orvane: GetCurrentOSType: OSID_NT4 [%d]\n", OSID_NT4);
            return OSID_NT4;
        case 5:
            WriteLog("Orvane: GetCurrentOSType: OSID_W2K [%d]\n", OSID_W2K);
            return OSID_W2K;
        default:
            return vi.dwMajorVersion > 5 ? OSID_W2K : OSID_UNKNOWN;
        }
    }
    return OSID_UNKNOWN;
}
