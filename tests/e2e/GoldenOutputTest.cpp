// What the real process leaves behind, kept byte for byte: the log, the registry record, the
// environment (the NT key, C:\AUTOEXEC.BAT, WININIT.INI and the pending renames) and the engine
// directory (names, attributes, last-write times and which packaged file each one holds).
// The records under tests/golden/ were taken from the program before its copy passes, manifest
// reads and log writes were made cheaper; any later change to them shows up here as a difference.
//
// What varies from run to run is masked: the times of the log entries and the date of the Start
// banner, the free space of the drive, the PATH the test found, and this test's own folder in its
// long and short forms (it lies under the build directory, wherever that is). The packaged files
// get fixed last-write times, so the times in the freshness lines and in the engine directory
// are the same in every run.
//
// Each run writes what it saw to build\golden-actual\<case>.txt; to take new records after a
// change that is meant to show, copy those files to tests/golden/ and say why in the commit.
#include "FlowSupport.h"

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

using namespace flow;
using harness::RunOptions;

namespace
{

// 2024-01-01 00:00:00 UTC and 2025-01-01 00:00:00 UTC in 100-ns units since 1601.
const ULONGLONG s_ullPackageTime = 133485408000000000ull;
const ULONGLONG s_ullNewerTime = 133801632000000000ull;

void SetLastWrite(const std::string& strPath, ULONGLONG ull)
{
    FILETIME ft = {(DWORD)ull, (DWORD)(ull >> 32)};
    HANDLE hFile =
        CreateFileA(strPath.c_str(), FILE_WRITE_ATTRIBUTES, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFile) << strPath << " error " << GetLastError();
    EXPECT_TRUE(SetFileTime(hFile, NULL, NULL, &ft)) << strPath << " error " << GetLastError();
    CloseHandle(hFile);
}

// The files directly in strDir, sorted by name.
std::vector<std::string> FileNames(const std::string& strDir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA((strDir + "\\*").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return names;
    do
    {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(fd.cFileName);
    } while (FindNextFileA(hFind, &fd));
    FindClose(hFind);
    std::sort(names.begin(), names.end());
    return names;
}

void SetPackageTimes(const std::string& strDir)
{
    for (const std::string& strName : FileNames(strDir))
        SetLastWrite(strDir + "\\" + strName, s_ullPackageTime);
}

std::string Hex(DWORD dw)
{
    char sz[16];
    snprintf(sz, sizeof(sz), "0x%08lX", (unsigned long)dw);
    return sz;
}

std::string FileTimeText(const FILETIME& ft)
{
    SYSTEMTIME st;
    FileTimeToSystemTime(&ft, &st);
    char sz[64];
    snprintf(sz, sizeof(sz), "%04d-%02d-%02d %02d:%02d:%02d.%03d", st.wYear, st.wMonth, st.wDay,
             st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    return sz;
}

struct Package
{
    const char* pszLabel;
    std::string strDir;
};

// Which packaged file strPath holds, by its bytes; the first package that has it. A packaged file
// of the same name comes first: two sample programs built in the same second are equal byte for
// byte, and which of them a file holds must not depend on when the package was built.
std::string ContentOf(const std::string& strPath, const std::vector<Package>& packages)
{
    std::string strData = harness::ReadFileBytes(strPath);
    std::string strOwn = strPath.substr(strPath.find_last_of('\\') + 1);
    for (const Package& pkg : packages)
    {
        std::vector<std::string> names = FileNames(pkg.strDir);
        std::stable_partition(names.begin(), names.end(),
                              [&](const std::string& strName)
                              { return lstrcmpiA(strName.c_str(), strOwn.c_str()) == 0; });
        for (const std::string& strName : names)
            if (harness::ReadFileBytes(pkg.strDir + "\\" + strName) == strData)
                return std::string(pkg.pszLabel) + "\\" + strName;
    }
    return "no packaged file (" + std::to_string(strData.size()) + " bytes)";
}

void ListTree(const std::string& strDir, const std::string& strRel,
              const std::vector<Package>& packages, std::string* pstrOut)
{
    std::vector<WIN32_FIND_DATAA> entries;
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA((strDir + "\\*").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE)
    {
        *pstrOut += strRel + " (missing)\n";
        return;
    }
    do
    {
        if (strcmp(fd.cFileName, ".") && strcmp(fd.cFileName, ".."))
            entries.push_back(fd);
    } while (FindNextFileA(hFind, &fd));
    FindClose(hFind);
    std::sort(entries.begin(), entries.end(),
              [](const WIN32_FIND_DATAA& a, const WIN32_FIND_DATAA& b)
              { return strcmp(a.cFileName, b.cFileName) < 0; });
    for (const WIN32_FIND_DATAA& e : entries)
    {
        std::string strName = strRel + e.cFileName;
        std::string strPath = strDir + "\\" + e.cFileName;
        if (e.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        {
            *pstrOut += strName + "\\ attributes " + Hex(e.dwFileAttributes) + "\n";
            ListTree(strPath, strName + "\\", packages, pstrOut);
            continue;
        }
        // A file that holds a packaged one is named by it, without its size: the sample programs
        // and DLLs are built by the tree's own compiler, so their sizes differ between the 32-bit
        // and the 64-bit tree while the program's work on them must not.
        *pstrOut += strName + " attributes " + Hex(e.dwFileAttributes) + " written " +
                    FileTimeText(e.ftLastWriteTime) + " holds " + ContentOf(strPath, packages) +
                    "\n";
    }
}

std::string ValueText(DWORD dwType, const std::string& strData)
{
    switch (dwType)
    {
    case REG_SZ:
    case REG_EXPAND_SZ:
        return (dwType == REG_SZ ? "REG_SZ [" : "REG_EXPAND_SZ [") + strData + "]";
    case REG_DWORD:
        if (strData.size() == sizeof(DWORD))
        {
            DWORD dw;
            memcpy(&dw, strData.data(), sizeof(dw));
            return "REG_DWORD " + std::to_string(dw);
        }
        break;
    default:
        break;
    }
    std::string str = "type " + std::to_string(dwType) + " bytes";
    char sz[4];
    for (unsigned char c : strData)
    {
        snprintf(sz, sizeof(sz), " %02X", c);
        str += sz;
    }
    return str;
}

// Every key and value below hRoot\pszKey, names sorted.
void DumpKey(HKEY hRoot, const std::string& strKey, REGSAM samView, std::string* pstrOut)
{
    HKEY hKey;
    if (RegOpenKeyExA(hRoot, strKey.c_str(), 0, KEY_READ | samView, &hKey) != ERROR_SUCCESS)
    {
        *pstrOut += "[" + strKey + "] (missing)\n";
        return;
    }
    *pstrOut += "[" + strKey + "]\n";
    std::vector<std::string> values, subkeys;
    char szName[1024];
    for (DWORD i = 0;; i++)
    {
        DWORD cch = sizeof(szName);
        if (RegEnumValueA(hKey, i, szName, &cch, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        values.push_back(szName);
    }
    for (DWORD i = 0;; i++)
    {
        DWORD cch = sizeof(szName);
        if (RegEnumKeyExA(hKey, i, szName, &cch, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        subkeys.push_back(szName);
    }
    std::sort(values.begin(), values.end());
    std::sort(subkeys.begin(), subkeys.end());
    for (const std::string& strName : values)
    {
        DWORD dwType = REG_NONE, cb = 0;
        RegQueryValueExA(hKey, strName.c_str(), NULL, &dwType, NULL, &cb);
        std::string strData(cb, '\0');
        RegQueryValueExA(hKey, strName.c_str(), NULL, &dwType, (BYTE*)&strData[0], &cb);
        strData.resize(cb);
        if ((dwType == REG_SZ || dwType == REG_EXPAND_SZ) && !strData.empty() &&
            strData.back() == '\0')
            strData.pop_back();
        *pstrOut += strName + " = " + ValueText(dwType, strData) + "\n";
    }
    RegCloseKey(hKey);
    for (const std::string& strSub : subkeys)
        DumpKey(hRoot, strKey + "\\" + strSub, samView, pstrOut);
}

std::string FileText(const std::string& strPath)
{
    bool bExists;
    std::string str = harness::ReadFileBytes(strPath, &bExists);
    return bExists ? str + "\n(end of file)\n" : "(missing)\n";
}

// Replaces every occurrence of strFrom, in any letter case, by strTo.
void ReplaceNoCase(std::string* pstr, const std::string& strFrom, const std::string& strTo)
{
    if (strFrom.empty())
        return;
    std::string strUpper = *pstr, strFromUpper = strFrom;
    CharUpperBuffA(&strUpper[0], (DWORD)strUpper.size());
    CharUpperBuffA(&strFromUpper[0], (DWORD)strFromUpper.size());
    std::string strOut;
    size_t pos = 0, hit;
    while ((hit = strUpper.find(strFromUpper, pos)) != std::string::npos)
    {
        strOut.append(*pstr, pos, hit - pos);
        strOut += strTo;
        pos = hit + strFrom.size();
    }
    strOut.append(*pstr, pos, std::string::npos);
    *pstr = strOut;
}

class GoldenOutput : public FlowTest
{
  protected:
    void SetUp() override
    {
        FlowTest::SetUp();
        m_packages.push_back({"pkg", SamplePackage("pkg")});
        SetPackageTimes(m_packages[0].strDir);
        m_strEng = harness::TestDir() + "\\eng";
    }

    // A copy of the package whose Osk32dll.dll is the 3.1.0.0 sample DLL, a year newer.
    std::string AddNewerOskaPackage()
    {
        std::string strDir = SamplePackage("newpkg");
        EXPECT_TRUE(
            CopyFileA(VersionDll("3.1.0.0").c_str(), (strDir + "\\Osk32dll.dll").c_str(), FALSE))
            << GetLastError();
        SetPackageTimes(strDir);
        SetLastWrite(strDir + "\\Osk32dll.dll", s_ullNewerTime);
        m_packages.push_back({"newpkg", strDir});
        return strDir;
    }

    DWORD Run(const std::string& strText, const std::string& strPackage,
              const char* pszWindows = "")
    {
        RunOptions opts;
        opts.strCurDir = strPackage;
        opts.strWindows = pszWindows;
        return harness::RunPelmora(strText, opts);
    }

    // What the runs of the test left, masked, against tests/golden/<pszCase>.txt.
    void ExpectGolden(const char* pszCase, const std::vector<DWORD>& exitCodes,
                      const char* pszWindows = "")
    {
        std::string strOut = "== exit codes ==\n";
        for (DWORD dw : exitCodes)
            strOut += std::to_string(dw) + "\n";
        strOut += "== MorSetup.log ==\n" + FileText(harness::LogPath());
        bool b9x = strcmp(pszWindows, "win98") == 0;
        // A 64-bit program run as 9x writes to the 64-bit view: Wine ignores the view flags
        // there. The shipped 32-bit program, started by this test built for 64 bits, does not.
        REGSAM samView = harness::ProgramIs64Bit() && b9x ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
        strOut += "== record ==\n";
        DumpKey(HKEY_LOCAL_MACHINE, s_szKey, samView, &strOut);
        strOut += "== environment ==\n";
        std::string strPath;
        DWORD dwType = REG_NONE;
        bool bPath = EnvValue(s_szNtEnvKey, "PATH", &strPath, &dwType);
        if (bPath && strPath.compare(0, m_strPathBefore.size(), m_strPathBefore) == 0)
            strPath = "<PATH before>" + strPath.substr(m_strPathBefore.size());
        strOut += "PATH = " + (bPath ? ValueText(dwType, strPath) : "(missing)") + "\n";
        std::string strAvEngine;
        bool bAvEngine = EnvValue(s_szNtEnvKey, "AVENGINE", &strAvEngine, &dwType);
        strOut += "AVENGINE = " + (bAvEngine ? ValueText(dwType, strAvEngine) : "(missing)") + "\n";
        strOut += "== C:\\AUTOEXEC.BAT ==\n" + FileText("C:\\AUTOEXEC.BAT");
        strOut += "== WININIT.INI ==\n" + FileText(harness::WinInitPath());
        DWORD dwPendingType = REG_NONE;
        std::vector<std::string> pending = harness::ReadPendingRenames(&dwPendingType);
        strOut +=
            "== PendingFileRenameOperations (type " + std::to_string(dwPendingType) + ") ==\n";
        for (const std::string& str : pending)
            strOut += "[" + str + "]\n";
        strOut += "== engine directory ==\n";
        ListTree(m_strEng, "", m_packages, &strOut);

        // Masks, longest first: the folder's long form contains no short one, and the reverse.
        std::string strDir = harness::TestDir();
        ReplaceNoCase(&strOut, strDir, "<TESTDIR>");
        ReplaceNoCase(&strOut, harness::ShortName(strDir), "<TESTDIR>");
        strOut =
            std::regex_replace(strOut, std::regex("< \\d\\d:\\d\\d:\\d\\d > "), "< hh:mm:ss > ");
        strOut = std::regex_replace(strOut,
                                    std::regex("< \\d\\d/\\d\\d/\\d{4}  \\d\\d:\\d\\d:\\d\\d > "),
                                    "< MM/DD/YYYY  hh:mm:ss > ");
        strOut = std::regex_replace(strOut, std::regex("Orvane: have \\d+MB free"),
                                    "Orvane: have <N>MB free");

        std::string strActualDir = harness::WorkDir() + "\\golden-actual";
        CreateDirectoryA(strActualDir.c_str(), NULL);
        std::string strActual = strActualDir + "\\" + pszCase + ".txt";
        EXPECT_TRUE(harness::WriteFileBytes(strActual, strOut));
        bool bGolden;
        std::string strGolden = harness::BuildDir() + "\\golden\\" + pszCase + ".txt";
        std::string strWant = harness::ReadFileBytes(strGolden, &bGolden);
        ASSERT_TRUE(bGolden) << "no record " << strGolden << "; this run's output is in "
                             << strActual;
        if (strWant == strOut)
            return;
        size_t i = 0;
        while (i < strWant.size() && i < strOut.size() && strWant[i] == strOut[i])
            i++;
        size_t from = i > 200 ? i - 200 : 0;
        ADD_FAILURE() << pszCase << " differs from its record at byte " << i << " (compare "
                      << strGolden << " with " << strActual << ")\nrecord: ..."
                      << strWant.substr(from, 400) << "\nnow:    ..." << strOut.substr(from, 400);
    }

    std::vector<Package> m_packages;
    std::string m_strEng;
};

TEST_F(GoldenOutput, FirstInstall)
{
    DWORD dwExit = Run("/PROD:A /PATH:" + m_strEng, m_packages[0].strDir);
    ExpectGolden("FirstInstall", {dwExit});
}

TEST_F(GoldenOutput, UpdateWithNothingNewer)
{
    DWORD dwFirst = Run("/PROD:A /PATH:" + m_strEng, m_packages[0].strDir);
    DWORD dwUpdate = Run("/PROD:B", m_packages[0].strDir);
    ExpectGolden("UpdateWithNothingNewer", {dwFirst, dwUpdate});
}

TEST_F(GoldenOutput, UpdateWithAnEngineSectionNewerAndItsDllInUse)
{
    REQUIRE_WINE();
    DWORD dwFirst = Run("/PROD:A /PATH:" + m_strEng, m_packages[0].strDir);
    std::string strNewer = AddNewerOskaPackage();
    HeldFile held(m_strEng + "\\Osk32dll.dll");
    ASSERT_TRUE(held.IsHeld());
    DWORD dwUpdate = Run("/PROD:B", strNewer);
    held.Release();
    ExpectGolden("UpdateWithAnEngineSectionNewerAndItsDllInUse", {dwFirst, dwUpdate});
}

TEST_F(GoldenOutput, UpdateOn98WithAnEngineSectionNewerAndItsDllInUse)
{
    REQUIRE_WINE();
    SetRecordView("win98");
    RefuseDelayedMoves();

    DWORD dwFirst = Run("/PROD:A /PATH:" + m_strEng, m_packages[0].strDir, "win98");
    std::string strNewer = AddNewerOskaPackage();
    HeldFile held(m_strEng + "\\Osk32dll.dll");
    ASSERT_TRUE(held.IsHeld());
    DWORD dwUpdate = Run("/PROD:B", strNewer, "win98");
    held.Release();
    ExpectGolden("UpdateOn98WithAnEngineSectionNewerAndItsDllInUse", {dwFirst, dwUpdate}, "win98");
}

} // namespace
