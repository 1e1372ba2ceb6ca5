// One pointer per platform call that tests must be able to make fail. Each starts at the real
// import; only tests change them, through the override calls.
#include "support.h"

PFN_GetVersionExA g_pfnGetVersionExA = ::GetVersionExA;
PFN_GetTempPathA g_pfnGetTempPathA = ::GetTempPathA;
PFN_GetFileAttributesA g_pfnGetFileAttributesA = ::GetFileAttributesA;
PFN_MoveFileExA g_pfnMoveFileExA = ::MoveFileExA;
PFN_GetDiskFreeSpaceA g_pfnGetDiskFreeSpaceA = ::GetDiskFreeSpaceA;
PFN_GetShortPathNameA g_pfnGetShortPathNameA = ::GetShortPathNameA;
PFN_GetFileInformationByHandle g_pfnGetFileInformationByHandle = ::GetFileInformationByHandle;
PFN_CreateDirectoryA g_pfnCreateDirectoryA = ::CreateDirectoryA;
PFN_GetFileSecurityA g_pfnGetFileSecurityA = LateGetFileSecurityA;
PFN_GetKernelObjectSecurity g_pfnGetKernelObjectSecurity = LateGetKernelObjectSecurity;
PFN_SetNamedSecurityInfoA g_pfnSetNamedSecurityInfoA = LateSetNamedSecurityInfoA;

void SeamOverrideGetVersionExA(PFN_GetVersionExA pfn)
{
    g_pfnGetVersionExA = pfn ? pfn : ::GetVersionExA;
}

void SeamOverrideGetTempPathA(PFN_GetTempPathA pfn)
{
    g_pfnGetTempPathA = pfn ? pfn : ::GetTempPathA;
}

void SeamOverrideGetFileAttributesA(PFN_GetFileAttributesA pfn)
{
    g_pfnGetFileAttributesA = pfn ? pfn : ::GetFileAttributesA;
}

void SeamOverrideMoveFileExA(PFN_MoveFileExA pfn)
{
    g_pfnMoveFileExA = pfn ? pfn : ::MoveFileExA;
}

void SeamOverrideGetDiskFreeSpaceA(PFN_GetDiskFreeSpaceA pfn)
{
    g_pfnGetDiskFreeSpaceA = pfn ? pfn : ::GetDiskFreeSpaceA;
}

void SeamOverrideGetShortPathNameA(PFN_GetShortPathNameA pfn)
{
    g_pfnGetShortPathNameA = pfn ? pfn : ::GetShortPathNameA;
}

void SeamOverrideGetFileInformationByHandle(PFN_GetFileInformationByHandle pfn)
{
    g_pfnGetFileInformationByHandle = pfn ? pfn : ::GetFileInformationByHandle;
}

void SeamOverrideCreateDirectoryA(PFN_CreateDirectoryA pfn)
{
    g_pfnCreateDirectoryA = pfn ? pfn : ::CreateDirectoryA;
}

void SeamOverrideGetFileSecurityA(PFN_GetFileSecurityA pfn)
{
    g_pfnGetFileSecurityA = pfn ? pfn : LateGetFileSecurityA;
}

void SeamOverrideGetKernelObjectSecurity(PFN_GetKernelObjectSecurity pfn)
{
    g_pfnGetKernelObjectSecurity = pfn ? pfn : LateGetKernelObjectSecurity;
}

void SeamOverrideSetNamedSecurityInfoA(PFN_SetNamedSecurityInfoA pfn)
{
    g_pfnSetNamedSecurityInfoA = pfn ? pfn : LateSetNamedSecurityInfoA;
}

void SeamRestoreAll()
{
    SeamOverrideGetVersionExA(NULL);
    SeamOverrideGetTempPathA(NULL);
    SeamOverrideGetFileAttributesA(NULL);
    SeamOverrideMoveFileExA(NULL);
    SeamOverrideGetDiskFreeSpaceA(NULL);
    SeamOverrideGetShortPathNameA(NULL);
    SeamOverrideGetFileInformationByHandle(NULL);
    SeamOverrideCreateDirectoryA(NULL);
    SeamOverrideGetFileSecurityA(NULL);
    SeamOverrideGetKernelObjectSecurity(NULL);
    SeamOverrideSetNamedSecurityInfoA(NULL);
}
