// Files on disk for the deployment tests: sample DLLs of known versions and data files, with
// last-write times set exactly, and a log marker per case.
#pragma once

#include "UnitFixture.h"

#include <string>
#include <vector>

namespace deploytest
{

inline std::string VersionDll(const char* pszVersion)
{
    std::string strName = pszVersion;
    for (char& c : strName)
        if (c == '.')
            c = '_';
    return harness::BuildDir() + "\\sample\\versions\\ver_" + strName + ".dll";
}

// 2024-03-05 07:08:09 UTC plus an offset in 100-ns units.
inline FILETIME TimeAt(LONGLONG llOffset)
{
    SYSTEMTIME st = {2024, 3, 2, 5, 7, 8, 9, 0};
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    u.QuadPart += (ULONGLONG)llOffset;
    ft.dwLowDateTime = u.LowPart;
    ft.dwHighDateTime = u.HighPart;
    return ft;
}

constexpr LONGLONG HALF_SECOND = 5000000;
constexpr LONGLONG HOUR = 36000000000LL;
constexpr LONGLONG DAY = 24 * HOUR;

// What a case puts on disk: a sample DLL of that version, "text" for a file without a version
// resource, or nullptr for no file at all.
inline void PlaceFile(const std::string& strPath, const char* pszKind, LONGLONG llTime)
{
    DeleteFileA(strPath.c_str());
    if (pszKind == nullptr)
        return;
    if (std::string(pszKind) == "text")
        ASSERT_TRUE(harness::WriteFileBytes(strPath, "signature data\r\n"));
    else
        ASSERT_TRUE(CopyFileA(VersionDll(pszKind).c_str(), strPath.c_str(), FALSE))
            << VersionDll(pszKind) << " error " << GetLastError();
    HANDLE h = CreateFileA(strPath.c_str(), FILE_WRITE_ATTRIBUTES, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
    FILETIME ft = TimeAt(llTime);
    EXPECT_TRUE(SetFileTime(h, NULL, NULL, &ft)) << GetLastError();
    CloseHandle(h);
}

// Starts a new log banner and a marker line for one case: a case that logs nothing then reads
// back as empty rather than as the previous case's lines.
inline void BeginCase(const char* pszName)
{
    g_nLogState = -1;
    WriteLog("case: %s\n", pszName);
}

inline std::vector<std::string> CaseMessages()
{
    std::vector<std::string> msgs = harness::LastRunMessages();
    EXPECT_FALSE(msgs.empty());
    if (!msgs.empty())
    {
        EXPECT_EQ(0u, msgs[0].find("case: "));
        msgs.erase(msgs.begin());
    }
    return msgs;
}

} // namespace deploytest
