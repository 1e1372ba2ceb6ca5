#include "Harness.h"
#include "support/support.h"

#include <sddl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace harness
{

static const char s_szEnvKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
static const char s_szSessionKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
static const char s_szMeParentKey[] = "SYSTEM\\CurrentControlSet\\Control\\SessionManager";
static const char s_szCurrentVersionKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
static const char s_szBaselineKey[] = "Software\\PelmoraHarness\\Baseline";

bool IsWine()
{
    HMODULE hNtdll = GetModuleHandleA("ntdll.dll");
    return hNtdll && GetProcAddress(hNtdll, "wine_get_version") != NULL;
}

std::string ModuleDir()
{
    char sz[MAX_PATH];
    DWORD cch = GetModuleFileNameA(NULL, sz, sizeof(sz));
    std::string s(sz, cch);
    return s.substr(0, s.find_last_of('\\'));
}

std::string ProgramDir()
{
    // PELMORA_PROGRAM_DIR names another build's bin directory (the shipped 32-bit program run
    // from 64-bit tests); the stand-ins are taken from the same directory.
    char sz[MAX_PATH];
    DWORD cch = GetEnvironmentVariableA("PELMORA_PROGRAM_DIR", sz, sizeof(sz));
    if (cch > 0 && cch < sizeof(sz))
        return std::string(sz, cch);
    return ModuleDir();
}

std::string PelmoraExePath()
{
    return ProgramDir() + "\\Pelmora.exe";
}

bool ProgramIs64Bit()
{
    DWORD dwType = 0;
    return GetBinaryTypeA(PelmoraExePath().c_str(), &dwType) && dwType == SCS_64BIT_BINARY;
}

std::string BuildDir()
{
    std::string s = ModuleDir();
    return s.substr(0, s.find_last_of('\\'));
}

std::string WorkDir()
{
    char sz[MAX_PATH];
    DWORD cch = GetEnvironmentVariableA("PELMORA_WORK_DIR", sz, sizeof(sz));
    if (cch > 0 && cch < sizeof(sz))
    {
        CreateDirectoryA(sz, NULL);
        return std::string(sz, cch);
    }
    return BuildDir();
}

std::string TempDir()
{
    char sz[MAX_PATH];
    DWORD cch = GetTempPathA(sizeof(sz), sz);
    return std::string(sz, cch);
}

std::string LogPath()
{
    std::string s = TempDir();
    if (!s.empty() && s.back() != '\\')
        s += '\\';
    return s + "MorSetup.log";
}

std::string ReadFileBytes(const std::string& strPath, bool* pbExists)
{
    std::string data;
    FILE* f = fopen(strPath.c_str(), "rb");
    if (pbExists)
        *pbExists = f != nullptr;
    if (!f)
        return data;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
        data.append(buf, n);
    fclose(f);
    return data;
}

bool OpenDirToEveryone(const std::string& strDir)
{
    PSECURITY_DESCRIPTOR pOpen = NULL;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;OICI;FA;;;WD)", SDDL_REVISION_1,
                                                              &pOpen, NULL))
        return false;
    bool bSet = SetFileSecurityA(strDir.c_str(), DACL_SECURITY_INFORMATION, pOpen) != 0;
    LocalFree(pOpen);
    return bSet;
}

std::string EveryoneRights(const std::string& strDir)
{
    char abSD[4096];
    DWORD cb = 0;
    if (!GetFileSecurityA(strDir.c_str(), DACL_SECURITY_INFORMATION, abSD, sizeof(abSD), &cb))
        return "(unreadable)";
    LPSTR psz = NULL;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(
            abSD, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &psz, NULL))
        return "(unconvertible)";
    std::string strSddl = psz;
    LocalFree(psz);
    size_t posEnd = strSddl.find(";;;WD)");
    if (posEnd == std::string::npos)
        return "";
    size_t posStart = strSddl.rfind(';', posEnd - 1);
    return strSddl.substr(posStart + 1, posEnd - posStart - 1);
}

bool WriteFileBytes(const std::string& strPath, const std::string& strData)
{
    FILE* f = fopen(strPath.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(strData.data(), 1, strData.size(), f) == strData.size();
    return fclose(f) == 0 && ok;
}

bool FileExists(const std::string& strPath)
{
    return GetFileAttributesA(strPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void DeleteTree(const std::string& strPath)
{
    DWORD dwAttr = GetFileAttributesA(strPath.c_str());
    if (dwAttr == INVALID_FILE_ATTRIBUTES)
        return;
    SetFileAttributesA(strPath.c_str(), dwAttr & ~FILE_ATTRIBUTE_READONLY);
    if (!(dwAttr & FILE_ATTRIBUTE_DIRECTORY))
    {
        DeleteFileA(strPath.c_str());
        return;
    }
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA((strPath + "\\*").c_str(), &fd);
    if (hFind != INVALID_HANDLE_VALUE)
    {
        do
        {
            if (strcmp(fd.cFileName, ".") && strcmp(fd.cFileName, ".."))
                DeleteTree(strPath + "\\" + fd.cFileName);
        } while (FindNextFileA(hFind, &fd));
        FindClose(hFind);
    }
    RemoveDirectoryA(strPath.c_str());
}

std::string TestDir()
{
    const ::testing::TestInfo* pInfo = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string strName = pInfo ? std::string(pInfo->test_suite_name()) + "." + pInfo->name()
                                : std::string("no-test");
    for (char& c : strName)
        if (c == '/' || c == '\\' || c == ':')
            c = '_';
    std::string strRoot = WorkDir() + "\\testdirs";
    CreateDirectoryA(strRoot.c_str(), NULL);
    std::string strDir = strRoot + "\\" + strName;
    static std::string s_strMade;
    if (s_strMade != strDir)
    {
        DeleteTree(strDir);
        CreateDirectoryA(strDir.c_str(), NULL);
        s_strMade = strDir;
    }
    return strDir;
}

std::string MakePackageDir(const char* pszName, bool bWithManifest)
{
    std::string strDir = TestDir() + "\\" + pszName;
    CreateDirectoryA(strDir.c_str(), NULL);
    if (bWithManifest)
        WriteFileBytes(strDir + "\\FileList.ini", "[FILES]\r\n[OSKA]\r\n[BRIN]\r\n");
    return strDir;
}

static void DeleteKeyTree(HKEY hRoot, const char* pszKey, REGSAM samView)
{
    HKEY hKey;
    if (RegOpenKeyExA(hRoot, pszKey, 0, KEY_ALL_ACCESS | samView, &hKey) != ERROR_SUCCESS)
        return;
    RegDeleteTreeA(hKey, NULL);
    RegCloseKey(hKey);
    RegDeleteKeyExA(hRoot, pszKey, samView, 0);
}

void SetWindowsVersion(const char* pszExe, const char* pszVersion)
{
    std::string strKey = std::string("Software\\Wine\\AppDefaults\\") + pszExe;
    if (!pszVersion || !*pszVersion)
    {
        DeleteKeyTree(HKEY_CURRENT_USER, strKey.c_str(), 0);
        return;
    }
    HKEY hKey;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, strKey.c_str(), 0, NULL, 0,
                                             KEY_ALL_ACCESS, NULL, &hKey, NULL));
    RegSetValueExA(hKey, "Version", 0, REG_SZ, (const BYTE*)pszVersion,
                   (DWORD)strlen(pszVersion) + 1);
    RegCloseKey(hKey);
}

void SetMeEnvironmentKey(bool bPresent)
{
    std::string strKey = std::string(s_szMeParentKey) + "\\Environment";
    if (bPresent)
    {
        HKEY hKey;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, strKey.c_str(), 0, NULL, 0,
                                                 KEY_ALL_ACCESS, NULL, &hKey, NULL));
        RegCloseKey(hKey);
    }
    else
    {
        DeleteKeyTree(HKEY_LOCAL_MACHINE, s_szMeParentKey, 0);
    }
}

bool StartPelmora(const std::string& strArgText, const RunOptions& opts, PROCESS_INFORMATION* pPi)
{
    SetWindowsVersion("Pelmora.exe", opts.strWindows.c_str());
    // The argument text is what follows the program name: the name is quoted, then one blank.
    std::string strCmd = "\"" + PelmoraExePath() + "\" " + strArgText;
    std::vector<char> cmd(strCmd.begin(), strCmd.end());
    cmd.push_back('\0');
    std::string strCurDir = opts.strCurDir.empty() ? TestDir() : opts.strCurDir;
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    ZeroMemory(pPi, sizeof(*pPi));
    // Standard output redirected as a build script's "> report.txt" does it.
    HANDLE hStdOut = INVALID_HANDLE_VALUE;
    if (!opts.strStdOut.empty())
    {
        SECURITY_ATTRIBUTES sa = {sizeof(sa), NULL, TRUE};
        hStdOut = CreateFileA(opts.strStdOut.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        EXPECT_NE(INVALID_HANDLE_VALUE, hStdOut) << opts.strStdOut;
        si.dwFlags |= STARTF_USESTDHANDLES;
        si.hStdOutput = hStdOut;
    }
    // Right after a process was terminated in its start-up, Wine now and then refuses the next
    // start with ERROR_INTERNAL_ERROR; a moment later it starts. Other errors are the test's.
    BOOL bOk = FALSE;
    DWORD dwError = NO_ERROR;
    for (int nTry = 0; nTry < 3 && !bOk; nTry++)
    {
        if (nTry > 0)
            Sleep(500);
        bOk = CreateProcessA(PelmoraExePath().c_str(), cmd.data(), NULL, NULL,
                             hStdOut != INVALID_HANDLE_VALUE, 0, NULL, strCurDir.c_str(), &si, pPi);
        dwError = bOk ? NO_ERROR : GetLastError();
        if (!bOk && dwError != ERROR_INTERNAL_ERROR)
            break;
    }
    if (hStdOut != INVALID_HANDLE_VALUE)
        CloseHandle(hStdOut);
    EXPECT_TRUE(bOk) << "CreateProcessA failed, error " << dwError;
    return bOk != FALSE;
}

DWORD Patience(DWORD dwMs)
{
    char sz[16];
    DWORD cch = GetEnvironmentVariableA("PELMORA_TIMEOUT_FACTOR", sz, sizeof(sz));
    DWORD dwFactor = cch > 0 && cch < sizeof(sz) ? strtoul(sz, NULL, 10) : 1;
    if (dwFactor < 1)
        dwFactor = 1;
    return dwMs > 0xFFFFFFF0u / dwFactor ? 0xFFFFFFF0u : dwMs * dwFactor;
}

DWORD WaitForExit(PROCESS_INFORMATION* pPi, DWORD dwTimeoutMs)
{
    dwTimeoutMs = Patience(dwTimeoutMs);
    DWORD dwExit = 0xFFFFFFFF;
    if (!pPi->hProcess)
        return dwExit;
    if (WaitForSingleObject(pPi->hProcess, dwTimeoutMs) != WAIT_OBJECT_0)
    {
        ADD_FAILURE() << "the process did not end within " << dwTimeoutMs << " ms";
        TerminateProcess(pPi->hProcess, 0xDEAD);
        WaitForSingleObject(pPi->hProcess, 5000);
    }
    GetExitCodeProcess(pPi->hProcess, &dwExit);
    CloseHandle(pPi->hProcess);
    CloseHandle(pPi->hThread);
    pPi->hProcess = pPi->hThread = NULL;
    return dwExit;
}

DWORD RunPelmora(const std::string& strArgText, const RunOptions& opts)
{
    PROCESS_INFORMATION pi;
    if (!StartPelmora(strArgText, opts, &pi))
        return 0xFFFFFFFF;
    return WaitForExit(&pi, opts.dwTimeoutMs);
}

bool StartCommandLine(const std::string& strCmd, const char* pszCurDir, PROCESS_INFORMATION* pPi)
{
    std::vector<char> cmd(strCmd.begin(), strCmd.end());
    cmd.push_back('\0');
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    if (CreateProcessA(NULL, cmd.data(), NULL, NULL, FALSE, 0, NULL, pszCurDir, &si, pPi))
        return true;
    ADD_FAILURE() << "cannot start " << strCmd << ": error " << GetLastError();
    return false;
}

DWORD RunCommandLine(const std::string& strCmd, const char* pszCurDir, DWORD dwTimeoutMs)
{
    PROCESS_INFORMATION pi;
    if (!StartCommandLine(strCmd, pszCurDir, &pi))
        return 0xFFFFFFFF;
    return WaitForExit(&pi, dwTimeoutMs);
}

std::string ReadLog()
{
    return ReadFileBytes(LogPath());
}

// "< hh:mm:ss > " at p.
static bool IsTimePrefix(const char* p, size_t cchLeft)
{
    if (cchLeft < 13 || p[0] != '<' || p[1] != ' ' || p[4] != ':' || p[7] != ':' || p[10] != ' ' ||
        p[11] != '>' || p[12] != ' ')
        return false;
    for (int i : {2, 3, 5, 6, 8, 9})
        if (p[i] < '0' || p[i] > '9')
            return false;
    return true;
}

std::vector<std::string> LastRunMessages()
{
    std::string strLog = ReadLog();
    std::string strText;
    strText.reserve(strLog.size());
    for (size_t i = 0; i < strLog.size(); i++)
        if (!(strLog[i] == '\r' && i + 1 < strLog.size() && strLog[i + 1] == '\n'))
            strText += strLog[i];

    std::vector<std::string> msgs;
    const std::string strBanner = "\n----------------------  Start  ------------------- \n";
    size_t pos = strText.rfind(strBanner);
    if (pos == std::string::npos)
        return msgs;
    pos += strBanner.size();
    size_t eol = strText.find('\n', pos); // the date line
    if (eol == std::string::npos)
        return msgs;
    pos = eol + 1;
    while (pos < strText.size())
    {
        if (!IsTimePrefix(strText.c_str() + pos, strText.size() - pos))
            break;
        size_t start = pos + 13;
        size_t next = start;
        while (next < strText.size() &&
               !IsTimePrefix(strText.c_str() + next, strText.size() - next))
            next++;
        msgs.push_back(strText.substr(start, next - start));
        pos = next;
    }
    return msgs;
}

int FindMessage(const std::vector<std::string>& msgs, const std::string& strMsg)
{
    for (size_t i = 0; i < msgs.size(); i++)
        if (msgs[i] == strMsg)
            return (int)i;
    return -1;
}

int FindPrefix(const std::vector<std::string>& msgs, const std::string& strPrefix)
{
    for (size_t i = 0; i < msgs.size(); i++)
        if (msgs[i].compare(0, strPrefix.size(), strPrefix) == 0)
            return (int)i;
    return -1;
}

bool HasMessage(const std::vector<std::string>& msgs, const std::string& strMsg)
{
    return FindMessage(msgs, strMsg) >= 0;
}

struct FIND_WINDOW
{
    DWORD dwPid;
    const char* pszCaption;
    HWND hWnd;
};

static BOOL CALLBACK FindWindowProc(HWND hWnd, LPARAM lParam)
{
    FIND_WINDOW* pFind = (FIND_WINDOW*)lParam;
    DWORD dwPid = 0;
    GetWindowThreadProcessId(hWnd, &dwPid);
    if (dwPid != pFind->dwPid || !IsWindowVisible(hWnd))
        return TRUE;
    char sz[512];
    GetWindowTextA(hWnd, sz, sizeof(sz));
    if (strcmp(sz, pFind->pszCaption) == 0)
    {
        pFind->hWnd = hWnd;
        return FALSE;
    }
    return TRUE;
}

HWND FindProcessWindow(DWORD dwPid, const char* pszCaption)
{
    FIND_WINDOW find = {dwPid, pszCaption, NULL};
    EnumWindows(FindWindowProc, (LPARAM)&find);
    return find.hWnd;
}

HWND WaitForWindow(DWORD dwPid, const char* pszCaption, DWORD dwTimeoutMs)
{
    dwTimeoutMs = Patience(dwTimeoutMs);
    DWORD dwStart = GetTickCount();
    do
    {
        HWND hWnd = FindProcessWindow(dwPid, pszCaption);
        if (hWnd)
        {
            Sleep(200); // let the dialog finish its initialisation (centring)
            return hWnd;
        }
        Sleep(50);
    } while (GetTickCount() - dwStart < dwTimeoutMs);
    return NULL;
}

static BOOL CALLBACK ReadControlProc(HWND hWnd, LPARAM lParam)
{
    std::vector<ControlInfo>* pControls = (std::vector<ControlInfo>*)lParam;
    ControlInfo info;
    char sz[4096];
    GetClassNameA(hWnd, sz, sizeof(sz));
    info.strClass = sz;
    info.nId = (short)GetDlgCtrlID(hWnd);
    // WM_GETTEXT through SendMessage works across processes for window text.
    sz[0] = '\0';
    SendMessageTimeoutA(hWnd, WM_GETTEXT, sizeof(sz), (LPARAM)sz, SMTO_ABORTIFHUNG, 2000, NULL);
    info.strText = sz;
    GetWindowRect(hWnd, &info.rc);
    info.lStyle = GetWindowLongA(hWnd, GWL_STYLE);
    pControls->push_back(info);
    return TRUE;
}

std::vector<ControlInfo> ReadControls(HWND hWnd)
{
    std::vector<ControlInfo> controls;
    EnumChildWindows(hWnd, ReadControlProc, (LPARAM)&controls);
    return controls;
}

void CloseDialog(HWND hWnd, CloseMethod method)
{
    switch (method)
    {
    case CloseWithOk:
        // A click on the button, as the mouse would give it.
        PostMessageA(GetDlgItem(hWnd, IDOK), BM_CLICK, 0, 0);
        break;
    case CloseWithEnter:
        // Keys go through the dialog manager of the modal loop, as typed keys would.
        PostMessageA(GetDlgItem(hWnd, IDOK), WM_KEYDOWN, VK_RETURN, 0x001C0001);
        PostMessageA(GetDlgItem(hWnd, IDOK), WM_KEYUP, VK_RETURN, 0xC01C0001);
        break;
    case CloseWithEscape:
        PostMessageA(GetDlgItem(hWnd, IDOK), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageA(GetDlgItem(hWnd, IDOK), WM_KEYUP, VK_ESCAPE, 0xC0010001);
        break;
    case CloseWithCloseBox:
        PostMessageA(hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    }
}

std::string Screenshot(const std::string& strName)
{
    typedef char*(CDECL * PFN_UNIXNAME)(LPCWSTR);
    PFN_UNIXNAME pfnUnixName = (PFN_UNIXNAME)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                                                   "wine_get_unix_file_name");
    if (!pfnUnixName)
        return "";
    std::string strDir = WorkDir() + "\\screenshots";
    CreateDirectoryA(strDir.c_str(), NULL);
    std::string strFile = strDir + "\\" + strName + ".png";
    WCHAR wsz[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, strFile.c_str(), -1, wsz, MAX_PATH);
    char* pszUnix = pfnUnixName(wsz);
    if (!pszUnix)
        return "";
    std::string strCmd = std::string("/usr/bin/import -window root ") + pszUnix;
    HeapFree(GetProcessHeap(), 0, pszUnix);
    std::vector<char> cmd(strCmd.begin(), strCmd.end());
    cmd.push_back('\0');
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi;
    DeleteFileA(strFile.c_str());
    if (!CreateProcessA(NULL, cmd.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
        return "";
    WaitForSingleObject(pi.hProcess, 30000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    // The Unix child is not a Windows process we can wait on reliably: wait for the file.
    for (int i = 0; i < 100 && !FileExists(strFile); i++)
        Sleep(100);
    return FileExists(strFile) ? strFile : "";
}

// ---------------------------------------------------------------------------------------------
// The machine state that tests change, saved once per prefix (its pristine state) and put back
// before and after every test.

static void SaveValue(HKEY hStore, const char* pszName, HKEY hRoot, const char* pszKey,
                      const char* pszValue, REGSAM samView = 0)
{
    HKEY hKey;
    std::vector<BYTE> data(4);
    DWORD dwType = REG_NONE;
    if (RegOpenKeyExA(hRoot, pszKey, 0, KEY_READ | samView, &hKey) == ERROR_SUCCESS)
    {
        DWORD cb = 0;
        if (RegQueryValueExA(hKey, pszValue, NULL, &dwType, NULL, &cb) == ERROR_SUCCESS)
        {
            data.resize(4 + cb);
            RegQueryValueExA(hKey, pszValue, NULL, &dwType, data.data() + 4, &cb);
            data.resize(4 + cb);
            memcpy(data.data(), &dwType, 4);
            RegSetValueExA(hStore, pszName, 0, REG_BINARY, data.data(), (DWORD)data.size());
        }
        RegCloseKey(hKey);
    }
}

static void RestoreValue(HKEY hStore, const char* pszName, HKEY hRoot, const char* pszKey,
                         const char* pszValue, REGSAM samView = 0)
{
    HKEY hKey;
    if (RegCreateKeyExA(hRoot, pszKey, 0, NULL, 0, KEY_ALL_ACCESS | samView, NULL, &hKey, NULL) !=
        ERROR_SUCCESS)
        return;
    DWORD cb = 0;
    if (RegQueryValueExA(hStore, pszName, NULL, NULL, NULL, &cb) == ERROR_SUCCESS && cb >= 4)
    {
        std::vector<BYTE> data(cb);
        RegQueryValueExA(hStore, pszName, NULL, NULL, data.data(), &cb);
        DWORD dwType;
        memcpy(&dwType, data.data(), 4);
        RegSetValueExA(hKey, pszValue, 0, dwType, data.data() + 4, cb - 4);
    }
    else
    {
        RegDeleteValueA(hKey, pszValue);
    }
    RegCloseKey(hKey);
}

static void SaveFile(HKEY hStore, const char* pszName, const std::string& strPath)
{
    bool bExists;
    std::string data = ReadFileBytes(strPath, &bExists);
    if (bExists)
        RegSetValueExA(hStore, pszName, 0, REG_BINARY, (const BYTE*)data.data(),
                       (DWORD)data.size());
}

static void RestoreFile(HKEY hStore, const char* pszName, const std::string& strPath)
{
    DWORD cb = 0;
    if (RegQueryValueExA(hStore, pszName, NULL, NULL, NULL, &cb) == ERROR_SUCCESS)
    {
        std::string data(cb, '\0');
        RegQueryValueExA(hStore, pszName, NULL, NULL, (BYTE*)&data[0], &cb);
        SetFileAttributesA(strPath.c_str(), FILE_ATTRIBUTE_NORMAL);
        WriteFileBytes(strPath, data);
    }
    else
    {
        SetFileAttributesA(strPath.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(strPath.c_str());
    }
}

static std::string WinInitPath()
{
    char sz[MAX_PATH];
    GetWindowsDirectoryA(sz, sizeof(sz));
    return std::string(sz) + "\\WININIT.INI";
}

void SetMachineValue(const char* pszKey, const char* pszName, DWORD dwType, const void* pData,
                     DWORD cbData)
{
    HKEY hKey;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, NULL, 0,
                                             KEY_ALL_ACCESS | KEY_WOW64_32KEY, NULL, &hKey, NULL));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(hKey, pszName, 0, dwType, (const BYTE*)pData, cbData));
    RegCloseKey(hKey);
}

void SetMachineString(const char* pszKey, const char* pszName, const std::string& strValue)
{
    SetMachineValue(pszKey, pszName, REG_SZ, strValue.c_str(), (DWORD)strValue.size() + 1);
}

void DeleteMachineValue(const char* pszKey, const char* pszName)
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &hKey) ==
        ERROR_SUCCESS)
    {
        RegDeleteValueA(hKey, pszName);
        RegCloseKey(hKey);
    }
}

bool ReadMachineValue(const char* pszKey, const char* pszName, DWORD* pdwType,
                      std::string* pstrData, REGSAM samView)
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, KEY_READ | samView, &hKey) != ERROR_SUCCESS)
        return false;
    DWORD cb = 0;
    bool bFound = RegQueryValueExA(hKey, pszName, NULL, pdwType, NULL, &cb) == ERROR_SUCCESS;
    if (bFound)
    {
        pstrData->assign(cb, '\0');
        RegQueryValueExA(hKey, pszName, NULL, pdwType, (BYTE*)&(*pstrData)[0], &cb);
        pstrData->resize(cb);
    }
    RegCloseKey(hKey);
    return bFound;
}

std::string DefaultEngineRoot()
{
    char sz[MAX_PATH] = "";
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, s_szCurrentVersionKey, 0, KEY_READ | KEY_WOW64_32KEY,
                      &hKey) == ERROR_SUCCESS)
    {
        DWORD cb = sizeof(sz) - 1;
        if (RegQueryValueExA(hKey, "ProgramFilesDir", NULL, NULL, (BYTE*)sz, &cb) != ERROR_SUCCESS)
            sz[0] = '\0';
        RegCloseKey(hKey);
    }
    return std::string(sz[0] ? sz : "c:\\Program Files") + "\\QM";
}

std::string SmallDrive()
{
    ULARGE_INTEGER free, total, totalFree;
    if (!GetDiskFreeSpaceExA("X:\\", &free, &total, &totalFree))
        return "";
    // Only a volume too small for the engine counts: never a real disk mapped to X:.
    return total.QuadPart < 16u * 1024 * 1024 ? "X:\\" : "";
}

void ResetState()
{
    HKEY hStore;
    DWORD dwDisp;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, s_szBaselineKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                        &hStore, &dwDisp) != ERROR_SUCCESS)
    {
        ADD_FAILURE() << "cannot open the harness baseline key";
        return;
    }
    if (dwDisp == REG_CREATED_NEW_KEY)
    {
        SaveValue(hStore, "ProgramFilesDir", HKEY_LOCAL_MACHINE, s_szCurrentVersionKey,
                  "ProgramFilesDir", KEY_WOW64_32KEY);
        SaveValue(hStore, "PATH", HKEY_LOCAL_MACHINE, s_szEnvKey, "PATH");
        SaveValue(hStore, "AVENGINE", HKEY_LOCAL_MACHINE, s_szEnvKey, "AVENGINE");
        SaveValue(hStore, "Pending", HKEY_LOCAL_MACHINE, s_szSessionKey,
                  "PendingFileRenameOperations");
        SaveFile(hStore, "AUTOEXEC.BAT", "C:\\AUTOEXEC.BAT");
        SaveFile(hStore, "WININIT.INI", WinInitPath());
    }
    RestoreValue(hStore, "ProgramFilesDir", HKEY_LOCAL_MACHINE, s_szCurrentVersionKey,
                 "ProgramFilesDir", KEY_WOW64_32KEY);
    RestoreValue(hStore, "PATH", HKEY_LOCAL_MACHINE, s_szEnvKey, "PATH");
    RestoreValue(hStore, "AVENGINE", HKEY_LOCAL_MACHINE, s_szEnvKey, "AVENGINE");
    RestoreValue(hStore, "Pending", HKEY_LOCAL_MACHINE, s_szSessionKey,
                 "PendingFileRenameOperations");
    RestoreFile(hStore, "AUTOEXEC.BAT", "C:\\AUTOEXEC.BAT");
    RestoreFile(hStore, "WININIT.INI", WinInitPath());
    RegCloseKey(hStore);

    if (!SmallDrive().empty())
        DeleteTree("X:\\eng");

    // The default engine directory, where runs without a path argument install.
    DeleteTree(DefaultEngineRoot());

    // The record lives in the 32-bit view, where the program works. A 64-bit build run as
    // Windows 95, 98 or ME lands in the 64-bit view instead (Wine ignores the view flags of a
    // 9x process), so that view is cleared too.
    DeleteKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillmark", KEY_WOW64_32KEY);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillmark", KEY_WOW64_64KEY);
    SetMeEnvironmentKey(false);
    SetWindowsVersion("Pelmora.exe", "");
    // A test that kept the log open in this process: the file could not be deleted while it is.
    KeepLogFileOpen(FALSE);
    DeleteFileA(LogPath().c_str());
}

void PelmoraTest::SetUp()
{
    ResetState();
}

void PelmoraTest::TearDown()
{
    ResetState();
}

} // namespace harness
