// Support services shared by every subsystem: the installation log, platform detection, the
// multibyte string helpers and the platform seam.
#pragma once

#include <windows.h>

#include <accctrl.h>

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

// WriteLog (mbcs.h) formats a message and appends it to the log. The log is appended only to an
// ordinary file with one name (not a link of any kind), opened without following a link; when
// anything else stands at its place, that is left untouched and the messages go to a file of
// this process's own beside it, created new: MorSetup-<process id>.log (a number is added after
// the process id when that name is taken).

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
// Libraries (Libraries.cpp). No library is ever taken from the current directory, and no system
// library from anywhere but the system directory.

// Narrows the platform's library search to the system directory where the platform can
// (SetDefaultDllDirectories, SetDllDirectoryA, looked up at run time); elsewhere leaves it as it
// is. The entry point calls it before anything else is loaded.
void RestrictLibrarySearch();

// Loads pszName from the system directory by its full path; NULL with the error when it fails.
HMODULE LoadSystemLibrary(const char* pszName);

// Loads a library of the suite by its file name from the program's own folder, else from the
// system directory; never from the current directory, the Windows directory or along PATH. NULL
// (ERROR_MOD_NOT_FOUND) when neither holds it.
HMODULE LoadSuiteLibrary(const char* pszName);

// VERSION and MPR calls, bound on first use from the libraries of the system directory (the
// program does not import them: neither is a library the loader knows). Each fails as the real
// call does, with ERROR_PROC_NOT_FOUND, when the library or the export cannot be had.
DWORD SysGetFileVersionInfoSizeA(LPCSTR pszPath, LPDWORD pdwHandle);
BOOL SysGetFileVersionInfoA(LPCSTR pszPath, DWORD dwHandle, DWORD cbBlock, LPVOID pBlock);
BOOL SysVerQueryValueA(LPCVOID pBlock, LPCSTR pszSubBlock, LPVOID* ppBuffer, PUINT pcbBuffer);
DWORD SysWNetCancelConnection2A(LPCSTR pszName, DWORD dwFlags, BOOL bForce);

// ---------------------------------------------------------------------------------------------
// File security (Security.cpp), on the NT family only: 95, 98 and ME have none.

// TRUE on the NT family (and not where the run's platform id says 95, 98 or ME).
BOOL IsFileSecurityPlatform();

// What the program must know of a file's or directory's security. "Trusted" are the system
// account, Administrators, TrustedInstaller and the account running the program.
struct SECURITY_FINDING
{
    DWORD dwError;      // the reading call's error, 0 when it was read
    BOOL bKnown;        // a descriptor was read
    BOOL bOwnerTrusted; // owned by a trusted account (or no owner recorded)
    BOOL bOpen;         // someone untrusted may change it (write, add, delete, rights, owner)
    char szOwner[96];   // the owner as SID text
};

// The directory's owner, and whether its list lets anyone untrusted change it or what is added
// to it (every entry counts, inherit-only ones too).
void ReadDirectorySecurity(const char* pszDir, SECURITY_FINDING* pInfo);
// The same for what a directory created in pszParent would inherit from it: only the entries
// passed on to files or directories below count.
void ReadInheritedSecurity(const char* pszParent, SECURITY_FINDING* pInfo);
// FALSE when the file behind the handle (opened with READ_CONTROL) is owned by an untrusted
// account; TRUE where the volume records no owner.
BOOL IsHandleOwnerTrusted(HANDLE hFile);
// The SID as text ("S-1-5-32-544"), bounded by cchText.
void FormatSid(const BYTE* pSid, DWORD cbSid, char* szText, size_t cchText);

// The protected list the program gives a directory that others could change: the system account
// and Administrators full control, Users (and, from Windows 8 on, ALL APPLICATION PACKAGES) read
// and execute, all inherited by what is below; owner Administrators; nothing inherited from
// above (2000 and later).
struct PROTECTED_SECURITY
{
    SECURITY_DESCRIPTOR sd;
    DWORD adwAcl[32];
    DWORD adwOwner[4];
};
void BuildProtectedSecurity(PROTECTED_SECURITY* pProt);
// Creates the directory with the protected list from its first moment.
BOOL CreateProtectedDirectory(const char* pszDir);
// Gives an existing directory the protected list (passed on to what is in it where the platform
// does so); the error number, 0 on success.
DWORD LockDirectory(const char* pszDir);

// ---------------------------------------------------------------------------------------------
// Platform detection.

// Returns the platform id (OSID_*) and logs it. Called once per run; others read g_dwOSType.
DWORD GetCurrentOSType();

// The platform id of the run (OSID_*): OSID_UNKNOWN until the entry point sets it once.
extern DWORD g_dwOSType;

// The two platform families. The NT family (3.51, 4, 2000 and every later version) keeps the
// pending replacements in the registry and knows file security; 95, 98 and ME keep them in
// WININIT.INI and know neither. An unknown platform belongs to neither family.
inline BOOL IsNtFamilyPlatform()
{
    return g_dwOSType == OSID_NT351 || g_dwOSType == OSID_NT4 || g_dwOSType == OSID_W2K;
}
inline BOOL Is9xFamilyPlatform()
{
    return g_dwOSType == OSID_W95 || g_dwOSType == OSID_W98 || g_dwOSType == OSID_WME;
}

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
typedef BOOL(WINAPI* PFN_GetFileInformationByHandle)(HANDLE, LPBY_HANDLE_FILE_INFORMATION);
typedef BOOL(WINAPI* PFN_CreateDirectoryA)(LPCSTR, LPSECURITY_ATTRIBUTES);
typedef BOOL(WINAPI* PFN_GetFileSecurityA)(LPCSTR, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR,
                                           DWORD, LPDWORD);
typedef BOOL(WINAPI* PFN_GetKernelObjectSecurity)(HANDLE, SECURITY_INFORMATION,
                                                  PSECURITY_DESCRIPTOR, DWORD, LPDWORD);
typedef DWORD(WINAPI* PFN_SetNamedSecurityInfoA)(LPSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID,
                                                 PSID, PACL, PACL);

extern PFN_GetVersionExA g_pfnGetVersionExA;
extern PFN_GetTempPathA g_pfnGetTempPathA;
extern PFN_GetFileAttributesA g_pfnGetFileAttributesA;
extern PFN_MoveFileExA g_pfnMoveFileExA;
extern PFN_GetDiskFreeSpaceA g_pfnGetDiskFreeSpaceA;
extern PFN_GetShortPathNameA g_pfnGetShortPathNameA;
// Wine reports no reparse points: only a fake can show how the log treats one.
extern PFN_GetFileInformationByHandle g_pfnGetFileInformationByHandle;
// Wine keeps no descriptor (it maps one onto the Unix mode and makes one up from it), so the
// descriptor the program gives a directory, and an owner other than the running account, can
// only be seen or produced through these. The security calls are bound at run time (95, 98 and ME
// lack them, NT 3.51 lacks SetNamedSecurityInfoA); the entries start at those binders.
extern PFN_CreateDirectoryA g_pfnCreateDirectoryA;
extern PFN_GetFileSecurityA g_pfnGetFileSecurityA;
extern PFN_GetKernelObjectSecurity g_pfnGetKernelObjectSecurity;
extern PFN_SetNamedSecurityInfoA g_pfnSetNamedSecurityInfoA;
BOOL WINAPI LateGetFileSecurityA(LPCSTR, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, DWORD,
                                 LPDWORD);
BOOL WINAPI LateGetKernelObjectSecurity(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, DWORD,
                                        LPDWORD);
DWORD WINAPI LateSetNamedSecurityInfoA(LPSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID, PSID,
                                       PACL, PACL);

// Each override installs pfn, or restores the real function when pfn is NULL.
void SeamOverrideGetVersionExA(PFN_GetVersionExA pfn);
void SeamOverrideGetTempPathA(PFN_GetTempPathA pfn);
void SeamOverrideGetFileAttributesA(PFN_GetFileAttributesA pfn);
void SeamOverrideMoveFileExA(PFN_MoveFileExA pfn);
void SeamOverrideGetDiskFreeSpaceA(PFN_GetDiskFreeSpaceA pfn);
void SeamOverrideGetShortPathNameA(PFN_GetShortPathNameA pfn);
void SeamOverrideGetFileInformationByHandle(PFN_GetFileInformationByHandle pfn);
void SeamOverrideCreateDirectoryA(PFN_CreateDirectoryA pfn);
void SeamOverrideGetFileSecurityA(PFN_GetFileSecurityA pfn);
void SeamOverrideGetKernelObjectSecurity(PFN_GetKernelObjectSecurity pfn);
void SeamOverrideSetNamedSecurityInfoA(PFN_SetNamedSecurityInfoA pfn);

// Restores every entry to the real function.
void SeamRestoreAll();
