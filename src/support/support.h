// Support services shared by every subsystem: the installation log, platform detection, the
// multibyte string helpers and the platform seam.
#pragma once

#include <windows.h>

#include "mbcs.h"

// ---------------------------------------------------------------------------------------------
// Platform ids returned by GetCurrentOSType and kept in g_dwOSType.
enum
{
    OSID_UNKNOWN = 0,
    OSID_W95 = 1,
    OSID_W98 = 2,
    OSID_NT351 = 3,
    OSID_NT4 = 4,
    OSID_W2K = 5, // also every later NT-family version
    OSID_WME = 6,
};

// The program always works in the registry view that a 32-bit process gets. The i686 build gets
// it for free; a 64-bit build of the same sources must ask for it, or it would see other keys
// than the product does on 64-bit Windows.
#ifdef _WIN64
#define PELMORA_KEY_VIEW KEY_WOW64_32KEY
#else
#define PELMORA_KEY_VIEW 0
#endif

// ---------------------------------------------------------------------------------------------
// Installation log (MorSetup.log in the temporary directory).

// Banner state: -1 until the Start banner has been written, then 1 for the rest of the process.
extern int g_nLogState;

// WriteLog (mbcs.h) formats a message and appends it to the log.

// Fills szPath (MAX_PATH) with the full path of MorSetup.log. Returns FALSE when no directory
// yields a path that fits.
BOOL GetLogFilePath(char* szPath);

// From KeepLogFileOpen(TRUE) to KeepLogFileOpen(FALSE) WriteLog keeps the log file open between
// messages (sharing reading and writing, every entry appended at the end of the file as it is
// then); otherwise it opens and closes the file for every message, so that the file can be
// deleted or replaced between messages. The run's entry point keeps it open for the run.
void KeepLogFileOpen(BOOL bKeep);

// ---------------------------------------------------------------------------------------------
// Files.

// The existence test of every step: TRUE when a file or directory of that name exists. No access
// rights are asked for. Goes through the seam, so tests can make a file look absent or encrypted.
BOOL PathExists(const char* pszPath);

// ---------------------------------------------------------------------------------------------
// Platform detection.

// Returns the platform id (OSID_*) and logs it. Called once per run; others read g_dwOSType.
DWORD GetCurrentOSType();

// The platform id of the run (OSID_*): OSID_UNKNOWN until the entry point sets it once.
extern DWORD g_dwOSType;

// ---------------------------------------------------------------------------------------------
// Multibyte rules of the ANSI code page: see mbcs.h.

// ---------------------------------------------------------------------------------------------
// The platform seam: the few calls whose outcomes the test platform cannot produce. Production
// code calls them through these pointers; tests replace an entry for the length of one test.

typedef BOOL(WINAPI* PFN_GetVersionExA)(LPOSVERSIONINFOA);
typedef DWORD(WINAPI* PFN_GetTempPathA)(DWORD, LPSTR);
typedef DWORD(WINAPI* PFN_GetFileAttributesA)(LPCSTR);
typedef BOOL(WINAPI* PFN_MoveFileExA)(LPCSTR, LPCSTR, DWORD);
typedef BOOL(WINAPI* PFN_GetDiskFreeSpaceA)(LPCSTR, LPDWORD, LPDWORD, LPDWORD, LPDWORD);
typedef DWORD(WINAPI* PFN_GetShortPathNameA)(LPCSTR, LPSTR, DWORD);

extern PFN_GetVersionExA g_pfnGetVersionExA;
extern PFN_GetTempPathA g_pfnGetTempPathA;
extern PFN_GetFileAttributesA g_pfnGetFileAttributesA;
extern PFN_MoveFileExA g_pfnMoveFileExA;
extern PFN_GetDiskFreeSpaceA g_pfnGetDiskFreeSpaceA;
extern PFN_GetShortPathNameA g_pfnGetShortPathNameA;

// Each override installs pfn, or restores the real function when pfn is NULL.
void SeamOverrideGetVersionExA(PFN_GetVersionExA pfn);
void SeamOverrideGetTempPathA(PFN_GetTempPathA pfn);
void SeamOverrideGetFileAttributesA(PFN_GetFileAttributesA pfn);
void SeamOverrideMoveFileExA(PFN_MoveFileExA pfn);
void SeamOverrideGetDiskFreeSpaceA(PFN_GetDiskFreeSpaceA pfn);
void SeamOverrideGetShortPathNameA(PFN_GetShortPathNameA pfn);

// Restores every entry to the real function.
void SeamRestoreAll();
