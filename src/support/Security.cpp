// File security on the NT family: who owns a directory or file, whether anyone but the accounts
// that run the machine may change it, and the protected list the program gives a directory that
// others could change. The program runs as the system account or an elevated administrator, and
// a directory others may write to would let them replace the engine it deploys, or plant a
// library in a directory of PATH.
//
// Descriptors are read and built here by their documented layouts rather than through ADVAPI32's
// helper calls, and the few ADVAPI32 calls needed are bound at run time: 95, 98 and ME have no
// file security and lack most of them, and NT 3.51 lacks SetNamedSecurityInfoA.
#include "support.h"

#include <stdio.h>
#include <string.h>

// The rights that change a directory or what is in it: write or add a file, add a directory,
// delete children or the directory itself, change its permissions or its owner.
#define CHANGE_RIGHTS                                                                              \
    (FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER |   \
     GENERIC_ALL | GENERIC_WRITE)

// Read and execute, as the platform's own "RX" right.
#define READ_EXECUTE_RIGHTS 0x001200A9

// SIDs by their layout: revision 1, the count of sub-authorities, the 6-byte authority, the
// sub-authorities (little-endian DWORDs).
static const BYTE s_abSystem[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
static const BYTE s_abAdmins[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
static const BYTE s_abUsers[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 2, 0, 0};
// Power Users hold modify rights in Program Files on 2000 and XP, where they can make themselves
// administrators anyway: counted with the trusted accounts, the default directory there is made
// and kept as before.
static const BYTE s_abPowerUsers[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x23, 2, 0, 0};
static const BYTE s_abAppPackages[] = {1, 2, 0, 0, 0, 0, 0, 15, 2, 0, 0, 0, 1, 0, 0, 0};
// NT SERVICE\TrustedInstaller: S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464.
static const BYTE s_abTrustedInstaller[] = {
    1,    6,    0,    0,    0,    0,    0,    5,    80,   0,    0,    0,    0xB5, 0x89, 0xFB, 0x38,
    0x19, 0x84, 0xC2, 0xCB, 0x5C, 0x6C, 0x23, 0x6D, 0x57, 0x00, 0x77, 0x6E, 0xC0, 0x02, 0x64, 0x87};
// CREATOR OWNER and OWNER RIGHTS: an entry for them gives its rights to the owner.
static const BYTE s_abCreatorOwner[] = {1, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0};
static const BYTE s_abOwnerRights[] = {1, 1, 0, 0, 0, 0, 0, 3, 4, 0, 0, 0};

BOOL IsFileSecurityPlatform()
{
    return !Is9xFamilyPlatform() && (GetVersion() & 0x80000000) == 0;
}

// The length of a SID that lies within cbMax bytes, 0 when it does not.
static DWORD SidLength(const BYTE* pSid, DWORD cbMax)
{
    if (cbMax < 8 || pSid[0] != 1 || pSid[1] > 15)
        return 0;
    DWORD cb = 8 + 4 * (DWORD)pSid[1];
    return cb <= cbMax ? cb : 0;
}

static BOOL IsSid(const BYTE* pSid, DWORD cbSid, const BYTE* pKnown, DWORD cbKnown)
{
    return cbSid == cbKnown && memcmp(pSid, pKnown, cbKnown) == 0;
}

// ---------------------------------------------------------------------------------------------
// ADVAPI32, bound on first use.

static FARPROC AdvapiProc(const char* pszName)
{
    static HMODULE s_hAdvapi;
    if (!s_hAdvapi)
        s_hAdvapi = LoadSystemLibrary("advapi32.dll");
    return s_hAdvapi ? GetProcAddress(s_hAdvapi, pszName) : NULL;
}

typedef BOOL(WINAPI* PFN_OpenProcessToken)(HANDLE, DWORD, PHANDLE);
typedef BOOL(WINAPI* PFN_GetTokenInformation)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD,
                                              PDWORD);
typedef BOOL(WINAPI* PFN_SetFileSecurityA)(LPCSTR, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR);

BOOL WINAPI LateGetFileSecurityA(LPCSTR pszPath, SECURITY_INFORMATION si, PSECURITY_DESCRIPTOR pSD,
                                 DWORD cb, LPDWORD pcbNeeded)
{
    static PFN_GetFileSecurityA s_pfn;
    if (!s_pfn)
        s_pfn = (PFN_GetFileSecurityA)(void*)AdvapiProc("GetFileSecurityA");
    if (!s_pfn)
    {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    return s_pfn(pszPath, si, pSD, cb, pcbNeeded);
}

BOOL WINAPI LateGetKernelObjectSecurity(HANDLE h, SECURITY_INFORMATION si, PSECURITY_DESCRIPTOR pSD,
                                        DWORD cb, LPDWORD pcbNeeded)
{
    static PFN_GetKernelObjectSecurity s_pfn;
    if (!s_pfn)
        s_pfn = (PFN_GetKernelObjectSecurity)(void*)AdvapiProc("GetKernelObjectSecurity");
    if (!s_pfn)
    {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    return s_pfn(h, si, pSD, cb, pcbNeeded);
}

DWORD WINAPI LateSetNamedSecurityInfoA(LPSTR pszName, SE_OBJECT_TYPE type, SECURITY_INFORMATION si,
                                       PSID pOwner, PSID pGroup, PACL pDacl, PACL pSacl)
{
    static PFN_SetNamedSecurityInfoA s_pfn;
    static PFN_SetFileSecurityA s_pfnFile;
    if (!s_pfn && !s_pfnFile)
    {
        s_pfn = (PFN_SetNamedSecurityInfoA)(void*)AdvapiProc("SetNamedSecurityInfoA");
        if (!s_pfn)
            s_pfnFile = (PFN_SetFileSecurityA)(void*)AdvapiProc("SetFileSecurityA");
    }
    if (s_pfn)
        return s_pfn(pszName, type, si, pOwner, pGroup, pDacl, pSacl);
    if (!s_pfnFile || type != SE_FILE_OBJECT)
        return ERROR_CALL_NOT_IMPLEMENTED;
    // NT 3.51 has only the call on a whole descriptor, and no inheritance to pass on.
    SECURITY_DESCRIPTOR sd;
    ZeroMemory(&sd, sizeof(sd));
    sd.Revision = SECURITY_DESCRIPTOR_REVISION;
    sd.Control = pDacl ? SE_DACL_PRESENT : 0;
    sd.Owner = pOwner;
    sd.Group = pGroup;
    sd.Dacl = pDacl;
    sd.Sacl = pSacl;
    if (s_pfnFile(pszName, si & (OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION), &sd))
        return ERROR_SUCCESS;
    return GetLastError();
}

// The SID of the account that runs the program, into abSid (SECURITY_MAX_SID_SIZE); its length,
// or 0 when the token cannot be read.
static DWORD RunningAccountSid(BYTE* abSid)
{
    static BYTE s_abSid[SECURITY_MAX_SID_SIZE];
    static DWORD s_cbSid;
    if (!s_cbSid)
    {
        PFN_OpenProcessToken pfnOpen = (PFN_OpenProcessToken)(void*)AdvapiProc("OpenProcessToken");
        PFN_GetTokenInformation pfnInfo =
            (PFN_GetTokenInformation)(void*)AdvapiProc("GetTokenInformation");
        HANDLE hToken;
        if (!pfnOpen || !pfnInfo || !pfnOpen(GetCurrentProcess(), TOKEN_QUERY, &hToken))
            return 0;
        // The SID follows the structure in the same buffer.
        union
        {
            TOKEN_USER user;
            DWORD_PTR ab[64];
        } info;
        DWORD cbInfo = 0;
        if (pfnInfo(hToken, TokenUser, &info, sizeof(info), &cbInfo))
        {
            const BYTE* pSid = (const BYTE*)info.user.User.Sid;
            DWORD cbAvail = (DWORD)((const BYTE*)&info + sizeof(info) - pSid);
            DWORD cb = pSid ? SidLength(pSid, cbAvail) : 0;
            if (cb && cb <= sizeof(s_abSid))
            {
                memcpy(s_abSid, pSid, cb);
                s_cbSid = cb;
            }
        }
        CloseHandle(hToken);
    }
    memcpy(abSid, s_abSid, s_cbSid);
    return s_cbSid;
}

// The system account, Administrators, TrustedInstaller, the account running the program (and
// Power Users, above).
static BOOL IsTrustedSid(const BYTE* pSid, DWORD cbSid)
{
    if (IsSid(pSid, cbSid, s_abSystem, sizeof(s_abSystem)) ||
        IsSid(pSid, cbSid, s_abAdmins, sizeof(s_abAdmins)) ||
        IsSid(pSid, cbSid, s_abTrustedInstaller, sizeof(s_abTrustedInstaller)) ||
        IsSid(pSid, cbSid, s_abPowerUsers, sizeof(s_abPowerUsers)))
        return TRUE;
    BYTE abRunning[SECURITY_MAX_SID_SIZE];
    DWORD cbRunning = RunningAccountSid(abRunning);
    return cbRunning && IsSid(pSid, cbSid, abRunning, cbRunning);
}

void FormatSid(const BYTE* pSid, DWORD cbSid, char* szText, size_t cchText)
{
    if (!SidLength(pSid, cbSid))
    {
        lstrcpynA(szText, "(no owner)", (int)cchText);
        return;
    }
    ULONGLONG ullAuthority = 0;
    for (int i = 2; i < 8; i++)
        ullAuthority = (ullAuthority << 8) | pSid[i];
    int n = _snprintf(szText, cchText, "S-1-%I64u", ullAuthority);
    for (int i = 0; i < pSid[1] && n >= 0 && (size_t)n < cchText; i++)
    {
        DWORD dwSub;
        memcpy(&dwSub, pSid + 8 + 4 * i, sizeof(dwSub));
        int m = _snprintf(szText + n, cchText - n, "-%lu", (unsigned long)dwSub);
        n = m < 0 ? -1 : n + m;
    }
    szText[cchText - 1] = '\0';
}

// ---------------------------------------------------------------------------------------------
// Reading a self-relative descriptor, as the platform returns it.

// The part of a self-relative descriptor at dwOffset, or NULL when it is absent or out of bounds.
static const BYTE* DescriptorPart(const BYTE* pSD, DWORD cbSD, DWORD dwOffset, DWORD* pcbLeft)
{
    if (dwOffset == 0 || dwOffset >= cbSD)
        return NULL;
    *pcbLeft = cbSD - dwOffset;
    return pSD + dwOffset;
}

// Fills *pInfo from a self-relative descriptor of cbSD bytes. bInherited: judge only the entries
// a new directory inside would receive, else every entry.
static void JudgeDescriptor(const BYTE* pSD, DWORD cbSD, BOOL bInherited, SECURITY_FINDING* pInfo)
{
    SECURITY_DESCRIPTOR_RELATIVE rel;
    if (cbSD < sizeof(rel))
        return;
    memcpy(&rel, pSD, sizeof(rel));
    if (!(rel.Control & SE_SELF_RELATIVE))
        return;

    DWORD cbLeft = 0;
    const BYTE* pOwner = DescriptorPart(pSD, cbSD, rel.Owner, &cbLeft);
    DWORD cbOwner = pOwner ? SidLength(pOwner, cbLeft) : 0;
    // A volume that keeps no security (FAT) answers with neither an owner nor a list: nothing
    // there can be told apart, nor closed.
    if (cbOwner == 0 && !(rel.Control & SE_DACL_PRESENT))
        return;
    pInfo->bKnown = TRUE;
    pInfo->bOwnerTrusted = cbOwner == 0 || IsTrustedSid(pOwner, cbOwner);
    FormatSid(pOwner, cbOwner, pInfo->szOwner, sizeof(pInfo->szOwner));

    // A null list grants everyone everything.
    const BYTE* pAcl =
        (rel.Control & SE_DACL_PRESENT) ? DescriptorPart(pSD, cbSD, rel.Dacl, &cbLeft) : NULL;
    if (!pAcl || cbLeft < sizeof(ACL))
    {
        pInfo->bOpen = TRUE;
        return;
    }
    ACL acl;
    memcpy(&acl, pAcl, sizeof(acl));
    DWORD cbAcl = acl.AclSize < cbLeft ? acl.AclSize : cbLeft;
    DWORD dwPos = sizeof(ACL);
    for (WORD i = 0; i < acl.AceCount && dwPos + sizeof(ACE_HEADER) <= cbAcl; i++)
    {
        ACE_HEADER hdr;
        memcpy(&hdr, pAcl + dwPos, sizeof(hdr));
        if (hdr.AceSize < sizeof(ACE_HEADER) || dwPos + hdr.AceSize > cbAcl)
            break;
        BOOL bCounts = !bInherited || (hdr.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE));
        // Deny entries are not weighed against grants: a grant to others is taken as open.
        if (bCounts && hdr.AceType == ACCESS_ALLOWED_ACE_TYPE && hdr.AceSize >= 8 + 8)
        {
            DWORD dwMask;
            memcpy(&dwMask, pAcl + dwPos + 4, sizeof(dwMask));
            const BYTE* pSid = pAcl + dwPos + 8;
            DWORD cbSid = SidLength(pSid, hdr.AceSize - 8);
            if ((dwMask & CHANGE_RIGHTS) && cbSid && !IsTrustedSid(pSid, cbSid) &&
                !IsSid(pSid, cbSid, s_abCreatorOwner, sizeof(s_abCreatorOwner)) &&
                !IsSid(pSid, cbSid, s_abOwnerRights, sizeof(s_abOwnerRights)))
                pInfo->bOpen = TRUE;
        }
        dwPos += hdr.AceSize;
    }
}

static void JudgeSecurity(const char* pszPath, BOOL bInherited, SECURITY_FINDING* pInfo)
{
    ZeroMemory(pInfo, sizeof(*pInfo));
    DWORD adwSD[1024];
    DWORD cbNeeded = 0;
    if (!g_pfnGetFileSecurityA(pszPath, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                               adwSD, sizeof(adwSD), &cbNeeded))
    {
        pInfo->dwError = GetLastError();
        return;
    }
    JudgeDescriptor((const BYTE*)adwSD,
                    cbNeeded && cbNeeded < sizeof(adwSD) ? cbNeeded : sizeof(adwSD), bInherited,
                    pInfo);
}

void ReadDirectorySecurity(const char* pszDir, SECURITY_FINDING* pInfo)
{
    JudgeSecurity(pszDir, FALSE, pInfo);
}

void ReadInheritedSecurity(const char* pszParent, SECURITY_FINDING* pInfo)
{
    JudgeSecurity(pszParent, TRUE, pInfo);
}

BOOL IsHandleOwnerTrusted(HANDLE hFile)
{
    DWORD adwSD[256];
    DWORD cbNeeded = 0;
    if (!g_pfnGetKernelObjectSecurity(hFile, OWNER_SECURITY_INFORMATION, adwSD, sizeof(adwSD),
                                      &cbNeeded))
        return TRUE; // a volume without security (FAT): nothing to tell owners apart by
    SECURITY_FINDING info;
    ZeroMemory(&info, sizeof(info));
    JudgeDescriptor((const BYTE*)adwSD, sizeof(adwSD), TRUE, &info);
    return !info.bKnown || info.bOwnerTrusted;
}

// ---------------------------------------------------------------------------------------------
// The protected list.

// Appends an entry granting dwMask to the SID, inherited by files and directories below.
static void AddGrant(BYTE* pAcl, DWORD* pdwPos, DWORD dwMask, const BYTE* pSid, DWORD cbSid)
{
    BYTE* pAce = pAcl + *pdwPos;
    ACE_HEADER hdr = {ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                      (WORD)(8 + cbSid)};
    memcpy(pAce, &hdr, sizeof(hdr));
    memcpy(pAce + 4, &dwMask, sizeof(dwMask));
    memcpy(pAce + 8, pSid, cbSid);
    *pdwPos += 8 + cbSid;
}

// Where the platform knows ALL APPLICATION PACKAGES: Windows 8 and later.
static BOOL KnowsAppPackages()
{
    if (g_dwOSType != OSID_W2K && g_dwOSType != OSID_UNKNOWN)
        return FALSE;
    OSVERSIONINFOA vi;
    ZeroMemory(&vi, sizeof(vi));
    vi.dwOSVersionInfoSize = sizeof(vi);
    if (!g_pfnGetVersionExA(&vi) || vi.dwPlatformId != VER_PLATFORM_WIN32_NT)
        return FALSE;
    return vi.dwMajorVersion > 6 || (vi.dwMajorVersion == 6 && vi.dwMinorVersion >= 2);
}

void BuildProtectedSecurity(PROTECTED_SECURITY* pProt)
{
    ZeroMemory(pProt, sizeof(*pProt));
    BYTE* pAcl = (BYTE*)pProt->adwAcl;
    DWORD dwPos = sizeof(ACL);
    AddGrant(pAcl, &dwPos, FILE_ALL_ACCESS, s_abSystem, sizeof(s_abSystem));
    AddGrant(pAcl, &dwPos, FILE_ALL_ACCESS, s_abAdmins, sizeof(s_abAdmins));
    AddGrant(pAcl, &dwPos, READ_EXECUTE_RIGHTS, s_abUsers, sizeof(s_abUsers));
    WORD wCount = 3;
    if (KnowsAppPackages())
    {
        AddGrant(pAcl, &dwPos, READ_EXECUTE_RIGHTS, s_abAppPackages, sizeof(s_abAppPackages));
        wCount++;
    }
    ACL acl = {ACL_REVISION, 0, (WORD)dwPos, wCount, 0};
    memcpy(pAcl, &acl, sizeof(acl));
    memcpy(pProt->adwOwner, s_abAdmins, sizeof(s_abAdmins));

    // An absolute descriptor, filled by its layout. NT 4 and earlier know no protected list:
    // there nothing is inherited after the fact anyway.
    pProt->sd.Revision = SECURITY_DESCRIPTOR_REVISION;
    pProt->sd.Control = SE_DACL_PRESENT;
    if (g_dwOSType == OSID_W2K || g_dwOSType == OSID_UNKNOWN)
        pProt->sd.Control |= SE_DACL_PROTECTED;
    pProt->sd.Owner = (PSID)pProt->adwOwner;
    pProt->sd.Dacl = (PACL)pProt->adwAcl;
}

DWORD LockDirectory(const char* pszDir)
{
    PROTECTED_SECURITY prot;
    BuildProtectedSecurity(&prot);
    SECURITY_INFORMATION si = DACL_SECURITY_INFORMATION;
    if (prot.sd.Control & SE_DACL_PROTECTED)
        si |= PROTECTED_DACL_SECURITY_INFORMATION;
    char szDir[MAX_PATH];
    lstrcpynA(szDir, pszDir, sizeof(szDir));
    DWORD dwError =
        g_pfnSetNamedSecurityInfoA(szDir, SE_FILE_OBJECT, si | OWNER_SECURITY_INFORMATION,
                                   prot.sd.Owner, NULL, prot.sd.Dacl, NULL);
    // An account that may not name Administrators as owner still closes the directory.
    if (dwError == ERROR_INVALID_OWNER)
        dwError =
            g_pfnSetNamedSecurityInfoA(szDir, SE_FILE_OBJECT, si, NULL, NULL, prot.sd.Dacl, NULL);
    return dwError;
}

BOOL CreateProtectedDirectory(const char* pszDir)
{
    PROTECTED_SECURITY prot;
    BuildProtectedSecurity(&prot);
    SECURITY_ATTRIBUTES sa = {sizeof(sa), &prot.sd, FALSE};
    if (g_pfnCreateDirectoryA(pszDir, &sa))
        return TRUE;
    if (GetLastError() != ERROR_INVALID_OWNER)
        return FALSE;
    prot.sd.Owner = NULL;
    return g_pfnCreateDirectoryA(pszDir, &sa);
}
