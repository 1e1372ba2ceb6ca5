// Fakes of the security calls of the seam. Wine keeps no descriptor: it maps one onto the Unix
// mode and makes one up from the mode when asked, so the owner is always the running account and
// no list names anyone but it, the system account and Everyone. These answer for chosen paths
// with a descriptor given as SDDL text, and record, as SDDL text, the descriptors the program
// passes, before the real call is made with them.
#pragma once

#include "support/support.h"

#include <sddl.h>

#include <map>
#include <string>

namespace secfake
{

// Upper-cased path -> the descriptor its GetFileSecurityA answers with.
inline std::map<std::string, std::string>& Answers()
{
    static std::map<std::string, std::string> s_answers;
    return s_answers;
}
// Path as passed -> the descriptor the program gave it ("" for none, the inherited list).
inline std::map<std::string, std::string>& Given()
{
    static std::map<std::string, std::string> s_given;
    return s_given;
}
inline std::string Upper(std::string str)
{
    for (char& ch : str)
        ch = (char)toupper((unsigned char)ch);
    return str;
}

inline std::string ToSddl(PSECURITY_DESCRIPTOR pSD)
{
    LPSTR psz = NULL;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(
            pSD, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &psz,
            NULL))
        return "(unconvertible " + std::to_string(GetLastError()) + ")";
    std::string str = psz;
    LocalFree(psz);
    return str;
}

// Copies the descriptor of the SDDL text into the caller's buffer as the real call does.
inline BOOL AnswerWithSddl(const std::string& strSddl, PSECURITY_DESCRIPTOR pSD, DWORD cb,
                           LPDWORD pcbNeeded)
{
    PSECURITY_DESCRIPTOR pMade = NULL;
    ULONG cbMade = 0;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(strSddl.c_str(), SDDL_REVISION_1,
                                                              &pMade, &cbMade))
        return FALSE;
    *pcbNeeded = cbMade;
    BOOL bFits = cbMade <= cb;
    if (bFits)
        memcpy(pSD, pMade, cbMade);
    LocalFree(pMade);
    if (!bFits)
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return bFits;
}

inline BOOL WINAPI FakeGetFileSecurityA(LPCSTR pszPath, SECURITY_INFORMATION si,
                                        PSECURITY_DESCRIPTOR pSD, DWORD cb, LPDWORD pcbNeeded)
{
    auto it = Answers().find(Upper(pszPath));
    if (it == Answers().end())
        return LateGetFileSecurityA(pszPath, si, pSD, cb, pcbNeeded);
    return AnswerWithSddl(it->second, pSD, cb, pcbNeeded);
}

inline BOOL WINAPI RecordCreateDirectoryA(LPCSTR pszPath, LPSECURITY_ATTRIBUTES pSA)
{
    Given()[pszPath] = pSA && pSA->lpSecurityDescriptor ? ToSddl(pSA->lpSecurityDescriptor) : "";
    return CreateDirectoryA(pszPath, pSA);
}

inline DWORD WINAPI RecordSetNamedSecurityInfoA(LPSTR pszName, SE_OBJECT_TYPE type,
                                                SECURITY_INFORMATION si, PSID pOwner, PSID pGroup,
                                                PACL pDacl, PACL pSacl)
{
    SECURITY_DESCRIPTOR sd;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    if (si & OWNER_SECURITY_INFORMATION)
        SetSecurityDescriptorOwner(&sd, pOwner, FALSE);
    if (si & DACL_SECURITY_INFORMATION)
        SetSecurityDescriptorDacl(&sd, TRUE, pDacl, FALSE);
    if (si & PROTECTED_DACL_SECURITY_INFORMATION)
        SetSecurityDescriptorControl(&sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    Given()[pszName] = ToSddl(&sd);
    return LateSetNamedSecurityInfoA(pszName, type, si, pOwner, pGroup, pDacl, pSacl);
}

// Windows 10, which knows ALL APPLICATION PACKAGES (the prefix may report an older version).
inline BOOL WINAPI FakeWindows10(LPOSVERSIONINFOA pvi)
{
    pvi->dwMajorVersion = 10;
    pvi->dwMinorVersion = 0;
    pvi->dwPlatformId = VER_PLATFORM_WIN32_NT;
    return TRUE;
}

// Installs the fakes for the length of a scope, with nothing answered or recorded yet.
class Scope
{
  public:
    Scope()
    {
        Answers().clear();
        Given().clear();
        SeamOverrideGetFileSecurityA(FakeGetFileSecurityA);
        SeamOverrideCreateDirectoryA(RecordCreateDirectoryA);
        SeamOverrideSetNamedSecurityInfoA(RecordSetNamedSecurityInfoA);
    }
    ~Scope()
    {
        SeamRestoreAll();
    }
};

// The protected list as SDDL, with ALL APPLICATION PACKAGES where the platform knows it.
inline std::string ProtectedSddl(bool bAppPackages)
{
    return std::string("O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)") +
           (bAppPackages ? "(A;OICI;0x1200a9;;;AC)" : "");
}

} // namespace secfake
