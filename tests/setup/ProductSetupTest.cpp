// Product setups built with the tools setup authors use (integration/: NSIS and Windows
// Installer), run silently as deployment tools run them: every setup is started with an exact
// command line and its exit code is read from the process, with nothing in between that could
// cut it to 8 bits or quote an argument. The setups were built from the unpacked release archive
// by BuildSetups.sh (build\setups): Morvelin from the samples' defaults, Quillpen around a package
// whose Osk32dll.dll is newer, Broken around a package without FileList.ini.
#include "FlowSupport.h"

#include <algorithm>
#include <string.h>

using namespace flow;

namespace
{

const char s_szUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char* const s_products[] = {"Morvelin", "Quillpen", "Broken"};

std::string SetupDir()
{
    return harness::BuildDir() + "\\setups";
}

// The package the setups carry, as the archive holds it.
std::string ArchivePackage()
{
    return SetupDir() + "\\archive\\package";
}

std::string ProgramFiles()
{
    return harness::DefaultEngineRoot().substr(0, harness::DefaultEngineRoot().size() - 3);
}

std::string ProductDir(const char* pszProduct)
{
    return ProgramFiles() + "\\Quillmark\\" + pszProduct;
}

std::string EngineDir()
{
    return harness::DefaultEngineRoot() + "\\SharedComponents\\ScanEngine";
}

// The 32-bit msiexec: the packages are 32-bit ones, started as a 32-bit bootstrapper would.
std::string Msiexec()
{
    char sz[MAX_PATH];
    if (!GetSystemWow64DirectoryA(sz, sizeof(sz)))
        GetSystemDirectoryA(sz, sizeof(sz));
    return std::string("\"") + sz + "\\msiexec.exe\"";
}

std::string UninstallValue(const char* pszProduct, const char* pszName)
{
    std::string str;
    harness::ReadMachineValue((std::string(s_szUninstallKey) + pszProduct).c_str(), pszName,
                              nullptr, &str);
    while (!str.empty() && str.back() == '\0')
        str.pop_back();
    return str;
}

unsigned Fnv(const std::string& str)
{
    unsigned h = 2166136261u;
    for (unsigned char c : str)
        h = (h ^ c) * 16777619u;
    return h;
}

// What a run leaves on the machine: the record, the engine directory's files and contents, the
// environment, AUTOEXEC.BAT, WININIT.INI and the pending renames.
std::string Snapshot()
{
    std::string str;
    for (const char* psz : {"ProductList", "UnlistedProducts"})
        str += std::string(psz) + "=" + RecStr(s_szKey, psz) + "\n";
    for (const char* psz : {"ReferenceCount", "dwEngIDs", "Timeout"})
        str += std::string(psz) + "=" + std::to_string(RecDword(psz)) + "\n";
    for (const char* psz : {"Engine", "Logs", "Incoming"})
        str += std::string(psz) + "=" + RecStr(s_szPathKey, psz) + "\n";
    for (const std::string& strName : DirNames(EngineDir()))
        str += strName + " " +
               std::to_string(Fnv(harness::ReadFileBytes(EngineDir() + "\\" + strName))) + "\n";
    str += "AVENGINE=" + EnvStr(s_szNtEnvKey, "AVENGINE") + "\n";
    str += "PATH=" + EnvStr(s_szNtEnvKey, "PATH") + "\n";
    str += "AUTOEXEC.BAT=" + harness::ReadFileBytes("C:\\AUTOEXEC.BAT") + "\n";
    str += "WININIT.INI=" + harness::ReadFileBytes(harness::WinInitPath()) + "\n";
    for (const std::string& strPending : harness::ReadPendingRenames())
        str += "pending " + strPending + "\n";
    return str;
}

// What the archive's Pelmora alone leaves when run from the archive's package for a product.
std::string PelmoraAlone(const char* pszProduct, const char* pszWindows)
{
    harness::SetWindowsVersion("Pelmora.exe", pszWindows);
    EXPECT_EQ(0u, harness::RunCommandLine("\"" + SetupDir() +
                                              "\\archive\\Pelmora.exe\" /PROD:" + pszProduct,
                                          ArchivePackage().c_str()));
    std::string str = Snapshot();
    harness::ResetState();
    return str;
}

// The temporary folders an NSIS setup unpacks into ($PLUGINSDIR, ns*.tmp in TEMP).
std::vector<std::string> NsisTempDirs()
{
    std::vector<std::string> dirs;
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA((harness::TempDir() + "ns*.tmp").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return dirs;
    do
        dirs.push_back(fd.cFileName);
    while (FindNextFileA(hFind, &fd));
    FindClose(hFind);
    return dirs;
}

// A visible window of the process with that caption (any caption for NULL) other than hNot: the
// message box over the setup's own window, which carries the same caption.
struct OTHER_WINDOW
{
    DWORD dwPid;
    const char* pszCaption;
    HWND hNot;
    HWND hFound;
};

BOOL CALLBACK OtherWindowProc(HWND hWnd, LPARAM lParam)
{
    OTHER_WINDOW* p = (OTHER_WINDOW*)lParam;
    DWORD dwPid = 0;
    char sz[256] = "";
    GetWindowThreadProcessId(hWnd, &dwPid);
    GetWindowTextA(hWnd, sz, sizeof(sz));
    if (dwPid != p->dwPid || hWnd == p->hNot || !IsWindowVisible(hWnd) ||
        (p->pszCaption && strcmp(sz, p->pszCaption) != 0))
        return TRUE;
    p->hFound = hWnd;
    return FALSE;
}

HWND OtherWindow(DWORD dwPid, const char* pszCaption, HWND hNot)
{
    OTHER_WINDOW find = {dwPid, pszCaption, hNot, NULL};
    EnumWindows(OtherWindowProc, (LPARAM)&find);
    return find.hFound;
}

class ProductSetup : public harness::PelmoraTest
{
  protected:
    void SetUp() override
    {
        REQUIRE_WINE();
        if (sizeof(void*) == 8 && !getenv("PELMORA_I386"))
            GTEST_SKIP() << "the setups are 32-bit programs: they run in the 32-bit run "
                            "(scripts/test-i686)";
        ASSERT_TRUE(harness::FileExists(SetupDir() + "\\MorvelinSetup.exe"))
            << "no setups in " << SetupDir() << " (BuildSetups.sh)";
        Clean();
        harness::PelmoraTest::SetUp();
    }
    void TearDown() override
    {
        harness::PelmoraTest::TearDown();
        Clean();
    }
    static void Clean()
    {
        for (const char* psz : s_products)
        {
            RegDeleteKeyExA(HKEY_LOCAL_MACHINE, (std::string(s_szUninstallKey) + psz).c_str(),
                            KEY_WOW64_32KEY, 0);
            harness::SetWindowsVersion((std::string(psz) + "Setup.exe").c_str(), "");
        }
        harness::SetWindowsVersion("Uninstall.exe", "");
        harness::DeleteTree(ProgramFiles() + "\\Quillmark");
        for (const std::string& strDir : NsisTempDirs())
            harness::DeleteTree(harness::TempDir() + strDir);
    }
    static void SetWindows(const char* pszWindows)
    {
        for (const char* psz : {"MorvelinSetup.exe", "QuillpenSetup.exe", "BrokenSetup.exe",
                                "Uninstall.exe", "Pelmora.exe"})
            harness::SetWindowsVersion(psz, pszWindows);
    }
};

// Two products installed, updated while the engine is in use, and removed, through their NSIS
// setups and uninstallers, on the NT family and on Windows 98 (AUTOEXEC.BAT, WININIT.INI).
TEST_F(ProductSetup, NsisInstallUpdateInUseRestartAndRemoval)
{
    for (const char* pszWindows : {"", "win98"})
    {
        SCOPED_TRACE(*pszWindows ? pszWindows : "prefix default");
        harness::ResetState();
        Clean();
        std::string strAlone = PelmoraAlone("Morvelin", pszWindows);
        SetWindows(pszWindows);

        // Product A on a clean machine: done, and the machine as Pelmora alone leaves it.
        std::string strSetupA = "\"" + SetupDir() + "\\MorvelinSetup.exe\" /S";
        ASSERT_EQ(0u, harness::RunCommandLine(strSetupA));
        EXPECT_EQ(strAlone, Snapshot());
        std::string strDirA = ProductDir("Morvelin");
        EXPECT_EQ((std::vector<std::string>{"filelist.ini", "pelmora.exe", "uninstall.exe"}),
                  DirNames(strDirA));
        EXPECT_TRUE(SameContent(ArchivePackage() + "\\FileList.ini", strDirA + "\\FileList.ini"));
        EXPECT_EQ("Morvelin", UninstallValue("Morvelin", "DisplayName"));
        EXPECT_EQ("\"" + strDirA + "\\Uninstall.exe\"",
                  UninstallValue("Morvelin", "UninstallString"));
        std::string strQuietA = UninstallValue("Morvelin", "QuietUninstallString");
        EXPECT_EQ("\"" + strDirA + "\\Uninstall.exe\" /S _?=" + strDirA, strQuietA);
        EXPECT_TRUE(NsisTempDirs().empty()) << "the setup left its temporary folder";

        // Product B with a newer engine DLL while the installed one is in use: a restart.
        std::string strDll = EngineDir() + "\\Osk32dll.dll";
        {
            HeldFile held(strDll);
            ASSERT_TRUE(held.IsHeld());
            EXPECT_EQ(3010u,
                      harness::RunCommandLine("\"" + SetupDir() + "\\QuillpenSetup.exe\" /S"));
        }
        EXPECT_EQ("|MORVELIN|QUILLPEN|", RecStr(s_szKey, "ProductList"));
        EXPECT_FALSE(SameContent(SetupDir() + "\\newer\\Osk32dll.dll", strDll));
        ASSERT_TRUE(harness::Restart());
        EXPECT_TRUE(SameContent(SetupDir() + "\\newer\\Osk32dll.dll", strDll));
        EXPECT_TRUE(NsisTempDirs().empty()) << "the setup left its temporary folder";

        // The uninstallers as deployment tools run them: the engine stays for B, then goes.
        ASSERT_FALSE(strQuietA.empty());
        EXPECT_EQ(0u, harness::RunCommandLine(strQuietA));
        EXPECT_EQ("|QUILLPEN|", RecStr(s_szKey, "ProductList"));
        EXPECT_TRUE(harness::FileExists(strDll));
        EXPECT_EQ("", UninstallValue("Morvelin", "DisplayName"));
        EXPECT_FALSE(harness::FileExists(strDirA + "\\Pelmora.exe"));
        EXPECT_FALSE(harness::FileExists(strDirA + "\\FileList.ini"));

        std::string strQuietB = UninstallValue("Quillpen", "QuietUninstallString");
        ASSERT_FALSE(strQuietB.empty());
        EXPECT_EQ(0u, harness::RunCommandLine(strQuietB));
        EXPECT_FALSE(harness::FileExists(strDll));
        EXPECT_EQ("", RecStr(s_szPathKey, "Engine"));
        EXPECT_EQ("", UninstallValue("Quillpen", "DisplayName"));
    }
}

// A package without FileList.ini: the silent setup ends with Pelmora's code 4 and leaves nothing;
// run with its window, it stops with a message naming the code, its meaning and the log.
TEST_F(ProductSetup, NsisBrokenPackageStopsNamingCode4AndTheLog)
{
    std::string strSetup = "\"" + SetupDir() + "\\BrokenSetup.exe\"";
    EXPECT_EQ(4u, harness::RunCommandLine(strSetup + " /S"));
    EXPECT_TRUE(NsisTempDirs().empty()) << "the setup left its temporary folder";
    EXPECT_EQ("", UninstallValue("Broken", "DisplayName"));
    EXPECT_FALSE(harness::FileExists(ProductDir("Broken") + "\\Pelmora.exe"));
    EXPECT_LE(0, harness::FindPrefix(harness::LastRunMessages(), "Orvane: Missing Filelist at ["));

    // With its window: the directory page first, then the message.
    PROCESS_INFORMATION pi;
    ASSERT_TRUE(harness::StartCommandLine(strSetup, NULL, &pi));
    // A setup left running would keep the test's output open: it goes whatever happens.
    struct Ender
    {
        PROCESS_INFORMATION* p;
        ~Ender()
        {
            if (WaitForSingleObject(p->hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(p->hProcess, 1);
        }
    } ender = {&pi};
    HWND hMain = NULL;
    for (int i = 0; i < 300 && !hMain; ++i)
    {
        Sleep(100);
        hMain = OtherWindow(pi.dwProcessId, NULL, NULL);
    }
    ASSERT_NE((HWND)NULL, hMain);
    char szCaption[256] = "";
    Sleep(500);
    GetWindowTextA(hMain, szCaption, sizeof(szCaption));
    EXPECT_EQ(0, strncmp(szCaption, "Broken Setup", 12)) << szCaption;
    PostMessageA(hMain, WM_COMMAND, IDOK, 0); // "Install"
    HWND hBox = NULL;
    for (int i = 0; i < 300 && !hBox; ++i)
    {
        Sleep(100);
        hBox = OtherWindow(pi.dwProcessId, NULL, hMain);
    }
    ASSERT_NE((HWND)NULL, hBox);
    Sleep(300);
    std::string strText;
    for (const harness::ControlInfo& c : harness::ReadControls(hBox))
        if (c.strClass == "Static")
            strText += c.strText;
    std::string strShot = harness::Screenshot("nsis-setup-code4");
    EXPECT_NE(std::string::npos, strText.find("Pelmora stopped with code 4: no FileList.ini"))
        << strText;
    EXPECT_NE(std::string::npos, strText.find(harness::LogPath())) << strText;
    // The exit code and the temporary folder were checked by the silent run; the windowed one
    // then waits on its aborted page, and ends with the test (Ender).
    std::printf("screenshot: %s\n", strShot.c_str());
}

// The Windows Installer packages: deferred, as the system account, exit code 2 turned into a
// restart at the end (3010), removal before the files go, and a failure rolled back with the
// code named in the installation's log.
TEST_F(ProductSetup, MsiInstallUpdateInUseRestartAndRemoval)
{
    std::string strAlone = PelmoraAlone("Morvelin", "");
    std::string strMsiA = "\"" + SetupDir() + "\\MorvelinSetup.msi\"";
    std::string strMsiB = "\"" + SetupDir() + "\\QuillpenSetup.msi\"";
    std::string strLog = SetupDir() + "\\msi-";

    EXPECT_EQ(0u, harness::RunCommandLine(Msiexec() + " /i " + strMsiA + " /qn /l*v \"" + strLog +
                                          "a.log\""));
    EXPECT_EQ(strAlone, Snapshot());
    EXPECT_TRUE(harness::FileExists(ProductDir("Morvelin") + "\\Pelmora.exe"));

    std::string strDll = EngineDir() + "\\Osk32dll.dll";
    {
        HeldFile held(strDll);
        ASSERT_TRUE(held.IsHeld());
        EXPECT_EQ(3010u, harness::RunCommandLine(Msiexec() + " /i " + strMsiB +
                                                 " /qn REBOOT=ReallySuppress /l*v \"" + strLog +
                                                 "b.log\""));
    }
    EXPECT_EQ("|MORVELIN|QUILLPEN|", RecStr(s_szKey, "ProductList"));
    ASSERT_TRUE(harness::Restart());
    EXPECT_TRUE(SameContent(SetupDir() + "\\newer\\Osk32dll.dll", strDll));

    EXPECT_EQ(0u, harness::RunCommandLine(Msiexec() + " /x " + strMsiA + " /qn /l*v \"" + strLog +
                                          "xa.log\""));
    EXPECT_EQ("|QUILLPEN|", RecStr(s_szKey, "ProductList"));
    EXPECT_TRUE(harness::FileExists(strDll));
    EXPECT_FALSE(harness::FileExists(ProductDir("Morvelin") + "\\Pelmora.exe"));
    EXPECT_EQ(0u, harness::RunCommandLine(Msiexec() + " /x " + strMsiB + " /qn /l*v \"" + strLog +
                                          "xb.log\""));
    EXPECT_FALSE(harness::FileExists(strDll));
    EXPECT_EQ("", RecStr(s_szPathKey, "Engine"));
}

TEST_F(ProductSetup, MsiBrokenPackageFailsNamingCode4InItsLog)
{
    std::string strLog = SetupDir() + "\\msi-broken.log";
    DeleteFileA(strLog.c_str());
    EXPECT_EQ(1603u, harness::RunCommandLine(Msiexec() + " /i \"" + SetupDir() +
                                             "\\BrokenSetup.msi\" /qn /l*v \"" + strLog + "\""));
    std::string strText = harness::ReadFileBytes(strLog);
    // The log is UTF-16 or ANSI, as msiexec writes it: compare its bytes without the zeros.
    strText.erase(std::remove(strText.begin(), strText.end(), '\0'), strText.end());
    EXPECT_NE(std::string::npos, strText.find("Pelmora stopped with code 4: no FileList.ini"))
        << strLog;
    EXPECT_NE(std::string::npos, strText.find("MorSetup.log")) << strLog;
    // Rolled back: nothing of the product stays.
    EXPECT_FALSE(harness::FileExists(ProductDir("Broken") + "\\Pelmora.exe"));
}

} // namespace
