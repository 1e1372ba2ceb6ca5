// A package folder and an engine directory for the copy pass and the staged-copy refresh: the
// package is the current directory and FileList.ini in it is g_szFileList, as in a run; files
// with real version resources or known content and exact times; handles that keep files in use.
#pragma once

#include "DeployFiles.h"
#include "Restart.h"

#include "deploy/deploy.h"

#include <string>
#include <vector>

namespace deploytest
{

// Content of a file that carries no version resource, with its last-write time set exactly.
inline void PlaceText(const std::string& strPath, const std::string& strContent, LONGLONG llTime)
{
    DeleteFileA(strPath.c_str());
    ASSERT_TRUE(harness::WriteFileBytes(strPath, strContent)) << strPath;
    HANDLE h = CreateFileA(strPath.c_str(), FILE_WRITE_ATTRIBUTES, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << strPath << " error " << GetLastError();
    FILETIME ft = TimeAt(llTime);
    EXPECT_TRUE(SetFileTime(h, NULL, NULL, &ft)) << GetLastError();
    CloseHandle(h);
}

// What a file holds, for comparisons that print well: "dll <version>" for the bytes of a sample
// version DLL, the content itself otherwise.
inline std::string DllTag(const char* pszVersion)
{
    return std::string("dll ") + pszVersion;
}
inline std::string Describe(const std::string& strData)
{
    for (const char* pszVersion : {"1.0.0.0", "1.2.3.4", "1.2.3.5", "1.9.9.9", "2.0.0.0"})
        if (strData == harness::ReadFileBytes(VersionDll(pszVersion)))
            return DllTag(pszVersion);
    return strData.size() > 200 ? "<" + std::to_string(strData.size()) + " other bytes>" : strData;
}

inline std::string JoinLines(const std::vector<std::string>& msgs)
{
    std::string s;
    for (const auto& m : msgs)
        s += "  " + m;
    return s;
}

// Every expected line appears in msgs, in this order (other lines may stand between them).
inline ::testing::AssertionResult InOrder(const std::vector<std::string>& msgs,
                                          const std::vector<std::string>& expected)
{
    size_t i = 0;
    for (const auto& e : expected)
    {
        while (i < msgs.size() && msgs[i] != e)
            i++;
        if (i == msgs.size())
            return ::testing::AssertionFailure() << "not found in this order: " << e << "log:\n"
                                                 << JoinLines(msgs);
        i++;
    }
    return ::testing::AssertionSuccess();
}

inline int CountOf(const std::vector<std::string>& msgs, const std::string& strLine)
{
    int n = 0;
    for (const auto& m : msgs)
        n += m == strLine;
    return n;
}

inline int CountPrefix(const std::vector<std::string>& msgs, const std::string& strPrefix)
{
    int n = 0;
    for (const auto& m : msgs)
        n += m.compare(0, strPrefix.size(), strPrefix) == 0;
    return n;
}

// 95, 98 and ME have no delayed move: the call fails at once, as the real one does there.
inline BOOL WINAPI NoDelayedMoveFileExA(LPCSTR, LPCSTR, DWORD)
{
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

class PassTest : public UnitTest
{
  protected:
    void SetUp() override
    {
        UnitTest::SetUp();
        GetCurrentDirectoryA(sizeof(m_szSavedDir), m_szSavedDir);
        m_strPkg = harness::TestDir() + "\\pkg";
        m_strEng = harness::TestDir() + "\\engine";
        CreateDirectoryA(m_strPkg.c_str(), NULL);
        CreateDirectoryA(m_strEng.c_str(), NULL);
        ASSERT_TRUE(SetCurrentDirectoryA(m_strPkg.c_str())) << GetLastError();
        lstrcpynA(g_szFileList, (m_strPkg + "\\FileList.ini").c_str(), MAX_PATH);
    }
    void TearDown() override
    {
        ReleaseAll();
        SetCurrentDirectoryA(m_szSavedDir);
        UnitTest::TearDown();
    }

    void WriteManifest(const std::string& strText)
    {
        ASSERT_TRUE(harness::WriteFileBytes(m_strPkg + "\\FileList.ini", strText));
    }
    std::string Pkg(const std::string& strName) const
    {
        return m_strPkg + "\\" + strName;
    }
    std::string Eng(const std::string& strName) const
    {
        return m_strEng + "\\" + strName;
    }
    std::string Staged(const std::string& strName) const
    {
        return Eng(strName) + "000";
    }
    std::string Content(const std::string& strPath) const
    {
        bool bExists = false;
        std::string s = harness::ReadFileBytes(strPath, &bExists);
        return bExists ? Describe(s) : "<missing>";
    }

    // Keeps a file in use until ReleaseAll (or the end of the test). Share mode 0 by default:
    // every copy over the file and every deletion of it fails, as for a loaded engine.
    HANDLE Hold(const std::string& strPath, DWORD dwShare = 0)
    {
        HANDLE h = CreateFileA(strPath.c_str(), GENERIC_READ, dwShare, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
        EXPECT_NE(INVALID_HANDLE_VALUE, h) << strPath << " error " << GetLastError();
        if (h != INVALID_HANDLE_VALUE)
            m_held.push_back(h);
        return h;
    }
    void ReleaseAll()
    {
        for (HANDLE h : m_held)
            CloseHandle(h);
        m_held.clear();
    }

    // One copy pass with its own log banner; the pass's messages land in m_msgs.
    BOOL CopyPass(int nSection, BOOL bNeedReboot = FALSE, const std::string& strEng = "")
    {
        BeginCase(GetSectionName(nSection));
        CopySectionFiles((strEng.empty() ? m_strEng : strEng).c_str(), nSection, &bNeedReboot);
        m_msgs = CaseMessages();
        return bNeedReboot;
    }
    void RefreshPass(int nSection)
    {
        BeginCase(GetSectionName(nSection));
        UpdateZeroSuffixFiles(m_strEng.c_str(), nSection);
        m_msgs = CaseMessages();
    }

    // Log lines of the copy pass.
    std::string CopiedLine(const std::string& strName) const
    {
        return "Orvane: File Copy from [" + Pkg(strName) + "] to [" + Eng(strName) +
               "] Successfully\n";
    }
    std::string CantCopyLine(const std::string& strName, int nError = ERROR_SHARING_VIOLATION)
    {
        return "Orvane: Can't do CopyFile from [" + Pkg(strName) + "] to [" + Eng(strName) +
               "] with error [" + std::to_string(nError) + "], reboot needed\n";
    }
    // The first line of the replacement request for a staged file, with the names as the pass
    // passes them: short and upper-cased. The files must exist when this is called.
    std::string RequestLine(const std::string& strName, const std::string& strEng = "")
    {
        std::string strTarget = (strEng.empty() ? m_strEng : strEng) + "\\" + strName;
        return "RemoveFileOnReboot: from pszExisting [" + harness::ShortUpper(strTarget + "000") +
               "] to [" + harness::ShortUpper(strTarget) + "] \n";
    }
    // The four strings of one request in PendingFileRenameOperations: delete, then rename.
    std::vector<std::string> PendingRequest(const std::string& strName)
    {
        std::string strTarget = "\\??\\" + harness::ShortUpper(Eng(strName));
        return {strTarget, "", "\\??\\" + harness::ShortUpper(Staged(strName)), strTarget};
    }
    // The two WININIT.INI lines of one request: deletion above rename.
    std::string WinInitRequest(const std::string& strName, const std::string& strEng = "")
    {
        std::string strTarget = (strEng.empty() ? m_strEng : strEng) + "\\" + strName;
        std::string strShortTarget = harness::ShortUpper(strTarget);
        return "NUL=" + strShortTarget + "\r\n" + strShortTarget + "=" +
               harness::ShortUpper(strTarget + "000") + "\r\n";
    }

    char m_szSavedDir[MAX_PATH];
    std::string m_strPkg, m_strEng;
    std::vector<HANDLE> m_held;
    std::vector<std::string> m_msgs;
};

} // namespace deploytest
