#include "FlowSupport.h"

#include <algorithm>
#include <string.h>

namespace flow
{

const char s_szKey[] = "SOFTWARE\\Quillmark\\ScanEngine";
const char s_szPathKey[] = "SOFTWARE\\Quillmark\\ScanEngine\\Path";
const char s_szNtEnvKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
const char s_szMeEnvKey[] = "SYSTEM\\CurrentControlSet\\Control\\SessionManager\\Environment";
const char s_szEnd[] = "------------------- End -----------------------\n\n";

const std::vector<std::string> s_filesSection = {"salvor.exe", "MorSig.vxd", "MorSigV.vxd",
                                                 "Tarn_dyn.vxd"};
const std::vector<std::string> s_oskaSection = {"Osk32dll.dll", "Osk64dll.dll", "Osksig.da0",
                                                "Osksig.dat",   "Morcmd.exe",   "Morcmd.dat"};
const std::vector<std::string> s_brinSection = {"Brine.dll", "Brine64.dll", "Brin.da1", "Brin.dat"};
const std::vector<std::string> s_not9xFiles = {"Morcmd.exe",  "Morcmd.dat",   "MorSig.vxd",
                                               "MorSigV.vxd", "Tarn_dyn.vxd", "salvor.exe"};

std::string SamplePackage(const char* pszName)
{
    std::string strSample = harness::BuildDir() + "\\sample";
    std::string strDir = harness::TestDir() + "\\" + pszName;
    harness::DeleteTree(strDir);
    CreateDirectoryA(strDir.c_str(), NULL);
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA((strSample + "\\*").c_str(), &fd);
    EXPECT_NE(INVALID_HANDLE_VALUE, hFind) << "no sample package in " << strSample;
    if (hFind == INVALID_HANDLE_VALUE)
        return strDir;
    do
    {
        // The package is the files; the folders beside them are the build's own.
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        std::string strName = fd.cFileName;
        if (strName == "cmake_install.cmake")
            continue;
        EXPECT_TRUE(CopyFileA((strSample + "\\" + strName).c_str(),
                              (strDir + "\\" + strName).c_str(), FALSE))
            << strName << " error " << GetLastError();
    } while (FindNextFileA(hFind, &fd));
    FindClose(hFind);
    EXPECT_TRUE(harness::FileExists(strDir + "\\FileList.ini"));
    return strDir;
}

std::string VersionDll(const char* pszVersion)
{
    std::string strName = pszVersion;
    for (char& c : strName)
        if (c == '.')
            c = '_';
    return harness::BuildDir() + "\\sample\\versions\\ver_" + strName + ".dll";
}

std::string NewerOskaPackage(const char* pszName)
{
    std::string strDir = SamplePackage(pszName);
    std::string strDll = strDir + "\\Osk32dll.dll";
    EXPECT_TRUE(CopyFileA(VersionDll("3.1.0.0").c_str(), strDll.c_str(), FALSE)) << GetLastError();
    // Newer in time as well: the version of an installed DLL held open with share mode 0 cannot
    // be read, and then the times decide. The copy keeps its build time, which may be earlier
    // than that of the sample's own DLL.
    HANDLE hFile =
        CreateFileA(strDll.c_str(), FILE_WRITE_ATTRIBUTES, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_NE(INVALID_HANDLE_VALUE, hFile) << GetLastError();
    FILETIME ftNow;
    GetSystemTimeAsFileTime(&ftNow);
    EXPECT_TRUE(SetFileTime(hFile, NULL, NULL, &ftNow)) << GetLastError();
    CloseHandle(hFile);
    return strDir;
}

void OskaSignatures(const std::string& strPackage, const char* pszTag, LONGLONG llSeconds,
                    size_t cbPad)
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    u.QuadPart += (ULONGLONG)(llSeconds * 10000000);
    ft.dwLowDateTime = u.LowPart;
    ft.dwHighDateTime = u.HighPart;
    for (const char* psz : {"Osksig.da0", "Osksig.dat"})
    {
        std::string strPath = strPackage + "\\" + psz;
        std::string strData = std::string("signatures of ") + pszTag;
        if (strcmp(psz, "Osksig.da0") == 0)
            strData.append(cbPad, 'S');
        EXPECT_TRUE(harness::WriteFileBytes(strPath, strData)) << strPath;
        HANDLE h =
            CreateFileA(strPath.c_str(), FILE_WRITE_ATTRIBUTES, 0, NULL, OPEN_EXISTING, 0, NULL);
        EXPECT_NE(INVALID_HANDLE_VALUE, h) << strPath << " " << GetLastError();
        EXPECT_TRUE(SetFileTime(h, NULL, NULL, &ft)) << GetLastError();
        CloseHandle(h);
    }
}

// File names compare without regard to case, as the file system does: a file put in place at
// the restart carries the upper-case short name the request gave it.
static std::string Lower(std::string str)
{
    for (char& c : str)
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
    return str;
}

static bool Contains(const std::vector<std::string>& names, const std::string& strName)
{
    return std::find(names.begin(), names.end(), strName) != names.end();
}

std::vector<std::string> ExpectedEngineFiles(DWORD dwEngIDs, PlatformGroup group)
{
    std::vector<std::string> names = {"Logs", "Incoming"};
    std::vector<const std::vector<std::string>*> sections = {&s_filesSection};
    if (dwEngIDs != 2)
        sections.push_back(&s_oskaSection);
    if (dwEngIDs != 1)
        sections.push_back(&s_brinSection);
    for (const auto* pSection : sections)
        for (const std::string& strName : *pSection)
            if (group != GroupNt || !Contains(s_not9xFiles, strName))
                names.push_back(strName);
    if (group == Group9x && Contains(names, "Morcmd.exe"))
        names.push_back("Probit.exe");
    for (std::string& strName : names)
        strName = Lower(strName);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> DirNames(const std::string& strDir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA((strDir + "\\*").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return names;
    do
    {
        if (strcmp(fd.cFileName, ".") && strcmp(fd.cFileName, ".."))
            names.push_back(Lower(fd.cFileName));
    } while (FindNextFileA(hFind, &fd));
    FindClose(hFind);
    std::sort(names.begin(), names.end());
    return names;
}

bool SameContent(const std::string& strA, const std::string& strB)
{
    bool bA, bB;
    std::string a = harness::ReadFileBytes(strA, &bA);
    std::string b = harness::ReadFileBytes(strB, &bB);
    return bA && bB && a == b;
}

HeldFile::HeldFile(const std::string& strPath)
{
    m_hFile = CreateFileA(strPath.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, NULL);
    EXPECT_NE(INVALID_HANDLE_VALUE, m_hFile)
        << "cannot hold " << strPath << " open, error " << GetLastError();
}

HeldFile::~HeldFile()
{
    Release();
}

void HeldFile::Release()
{
    if (m_hFile != INVALID_HANDLE_VALUE)
        CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
}

static REGSAM s_samRecordView = KEY_WOW64_32KEY;

void SetRecordView(const char* pszWindows)
{
    std::string strWindows = pszWindows ? pszWindows : "";
    bool b9x = strWindows == "win95" || strWindows == "win98" || strWindows == "winme";
    s_samRecordView = harness::ProgramIs64Bit() && b9x ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

static bool ReadRecordValue(const char* pszKey, const char* pszName, DWORD* pdwType,
                            std::string* pstrData)
{
    return harness::ReadMachineValue(pszKey, pszName, pdwType, pstrData, s_samRecordView);
}

bool RecordString(const char* pszKey, const char* pszName, std::string* pstr)
{
    DWORD dwType = REG_NONE;
    if (!ReadRecordValue(pszKey, pszName, &dwType, pstr))
        return false;
    EXPECT_EQ((DWORD)REG_SZ, dwType) << pszName;
    while (!pstr->empty() && pstr->back() == '\0')
        pstr->pop_back();
    return true;
}

bool RecordDword(const char* pszName, DWORD* pdw)
{
    DWORD dwType = REG_NONE;
    std::string data;
    if (!ReadRecordValue(s_szKey, pszName, &dwType, &data))
        return false;
    EXPECT_EQ((DWORD)REG_DWORD, dwType) << pszName;
    if (data.size() != sizeof(DWORD))
        return false;
    memcpy(pdw, data.data(), sizeof(DWORD));
    return true;
}

std::string RecStr(const char* pszKey, const char* pszName)
{
    std::string str;
    return RecordString(pszKey, pszName, &str) ? str : std::string();
}

DWORD RecDword(const char* pszName)
{
    DWORD dw;
    return RecordDword(pszName, &dw) ? dw : 0xFFFFFFFF;
}

bool KeyExists(const char* pszKey)
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, KEY_READ | s_samRecordView, &hKey) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    return true;
}

void PlantRecord(const std::string& strEngine, DWORD dwEngIDs, DWORD dwRefCount,
                 const std::string& strProductList)
{
    HKEY hKey;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, s_szPathKey, 0, NULL, 0,
                                             KEY_ALL_ACCESS | KEY_WOW64_32KEY, NULL, &hKey, NULL));
    RegCloseKey(hKey);
    if (!strEngine.empty())
        harness::SetMachineString(s_szPathKey, "Engine", strEngine);
    harness::SetMachineValue(s_szKey, "dwEngIDs", REG_DWORD, &dwEngIDs, sizeof(dwEngIDs));
    harness::SetMachineValue(s_szKey, "ReferenceCount", REG_DWORD, &dwRefCount, sizeof(dwRefCount));
    DWORD dwTimeout = 60;
    harness::SetMachineValue(s_szKey, "Timeout", REG_DWORD, &dwTimeout, sizeof(dwTimeout));
    harness::SetMachineString(s_szKey, "ProductList", strProductList);
}

bool EnvValue(const char* pszKey, const char* pszName, std::string* pstr, DWORD* pdwType)
{
    pstr->clear();
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return false;
    DWORD dwType = REG_NONE, cb = 0;
    bool bFound = RegQueryValueExA(hKey, pszName, NULL, &dwType, NULL, &cb) == ERROR_SUCCESS;
    if (bFound)
    {
        pstr->assign(cb, '\0');
        RegQueryValueExA(hKey, pszName, NULL, &dwType, (BYTE*)&(*pstr)[0], &cb);
        pstr->resize(cb);
        while (!pstr->empty() && pstr->back() == '\0')
            pstr->pop_back();
    }
    if (pdwType)
        *pdwType = dwType;
    RegCloseKey(hKey);
    return bFound;
}

std::string EnvStr(const char* pszKey, const char* pszName)
{
    std::string str;
    EnvValue(pszKey, pszName, &str);
    return str;
}

void ExpectInOrder(const std::vector<std::string>& msgs, const std::vector<std::string>& prefixes)
{
    size_t nFrom = 0;
    for (const std::string& strPrefix : prefixes)
    {
        size_t i = nFrom;
        while (i < msgs.size() && msgs[i].compare(0, strPrefix.size(), strPrefix) != 0)
            i++;
        if (i == msgs.size())
        {
            std::string strAfter = nFrom > 0 && nFrom <= msgs.size() ? msgs[nFrom - 1] : "(start)";
            ADD_FAILURE() << "log line \"" << strPrefix << "\" missing after \"" << strAfter
                          << "\"";
            return;
        }
        nFrom = i + 1;
    }
}

int CountPrefix(const std::vector<std::string>& msgs, const std::string& strPrefix, int nFrom)
{
    int n = 0;
    for (size_t i = nFrom < 0 ? 0 : (size_t)nFrom; i < msgs.size(); i++)
        if (msgs[i].compare(0, strPrefix.size(), strPrefix) == 0)
            n++;
    return n;
}

std::string ReadResultMessage(const PROCESS_INFORMATION& pi, const char* pszShot,
                              std::string* pstrLastLine)
{
    HWND hBox = harness::WaitForWindow(pi.dwProcessId, "Pelmora", 30000);
    if (!hBox)
        return "";
    if (pstrLastLine)
    {
        std::vector<std::string> msgs = harness::LastRunMessages();
        *pstrLastLine = msgs.empty() ? "" : msgs.back();
    }
    std::string strText;
    for (const harness::ControlInfo& c : harness::ReadControls(hBox))
        if (_stricmp(c.strClass.c_str(), "Static") == 0 && !c.strText.empty())
            strText = c.strText;
    harness::Screenshot(pszShot);
    harness::CloseDialog(hBox, harness::CloseWithOk);
    return strText;
}

bool ShowedAWindow(PROCESS_INFORMATION* pi, DWORD* pdwExit)
{
    bool bWindow = false;
    DWORD dwStart = GetTickCount();
    while (WaitForSingleObject(pi->hProcess, 20) == WAIT_TIMEOUT &&
           GetTickCount() - dwStart < 60000)
    {
        HWND hWnd = harness::FindProcessWindow(pi->dwProcessId, "Pelmora");
        if (hWnd)
        {
            bWindow = true;
            harness::CloseDialog(hWnd, harness::CloseWithOk);
        }
    }
    *pdwExit = harness::WaitForExit(pi, 5000);
    return bWindow;
}

void RefuseDelayedMoves()
{
    HKEY hKey;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                                           "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                                           KEY_SET_VALUE, &hKey));
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExA(hKey, "PendingFileRenameOperations", 0, REG_SZ, (const BYTE*)"x", 2));
    RegCloseKey(hKey);
}

std::string SmallDrive()
{
    std::string strRoot = harness::SmallDrive();
    return strRoot.empty() ? "" : strRoot.substr(0, 2);
}

void FlowTest::SetUp()
{
    harness::PelmoraTest::SetUp();
    SetRecordView("");
    m_strPathBefore = EnvStr(s_szNtEnvKey, "PATH");
}

} // namespace flow
