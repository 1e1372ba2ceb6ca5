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

// The archive's Pelmora run from a package folder with that argument text: its exit code.
DWORD RunArchivePelmora(const std::string& strArgs, const std::string& strPackage)
{
    return harness::RunCommandLine("\"" + SetupDir() + "\\archive\\Pelmora.exe\" " + strArgs,
                                   strPackage.c_str());
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

// A silent msiexec run with its log (SetupDir()\msi-<strName>.log): its exit code.
DWORD Msi(const std::string& strArgs, const std::string& strName)
{
    std::string strLog = SetupDir() + "\\msi-" + strName + ".log";
    DeleteFileA(strLog.c_str());
    return harness::RunCommandLine(Msiexec() + " " + strArgs + " /qn /l*v \"" + strLog + "\"");
}

std::string MsiPackage(const char* pszFile)
{
    return "\"" + SetupDir() + "\\" + pszFile + "\"";
}

// The log of that run. It is UTF-16 or ANSI, as msiexec writes it: its bytes without the zeros.
std::string MsiLog(const std::string& strName)
{
    std::string strText = harness::ReadFileBytes(SetupDir() + "\\msi-" + strName + ".log");
    strText.erase(std::remove(strText.begin(), strText.end(), '\0'), strText.end());
    return strText;
}

// The product codes of the installed Windows Installer products with that name, and version
// (any for NULL), as their entries under the Uninstall key name them.
std::vector<std::string> MsiProducts(const char* pszProduct, const char* pszVersion = NULL)
{
    std::vector<std::string> codes;
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, s_szUninstallKey, 0, KEY_READ | KEY_WOW64_32KEY, &hKey) !=
        ERROR_SUCCESS)
        return codes;
    char szName[MAX_PATH];
    for (DWORD i = 0; RegEnumKeyA(hKey, i, szName, sizeof(szName)) == ERROR_SUCCESS; i++)
    {
        std::string strKey = std::string(s_szUninstallKey) + szName;
        std::string strDisplay, strVersion;
        harness::ReadMachineValue(strKey.c_str(), "DisplayName", nullptr, &strDisplay);
        harness::ReadMachineValue(strKey.c_str(), "DisplayVersion", nullptr, &strVersion);
        if (szName[0] == '{' && strDisplay.c_str() == std::string(pszProduct) &&
            (!pszVersion || strVersion.c_str() == std::string(pszVersion)))
            codes.push_back(szName);
    }
    RegCloseKey(hKey);
    return codes;
}

// What a rollback action of the Windows Installer sample did, from the installation's log: it
// starts "<product folder>\Pelmora.exe <strArgs>". Wine runs a rollback action only after it
// has removed the files the installation put in place, so the action may find no Pelmora.exe
// ("could not be started"): its decision is then carried out here, with the package the
// product's folder held, as Windows runs it while the files are still there.
void ExpectUndone(const std::string& strLogName, const std::string& strArgs,
                  const std::string& strPackage)
{
    std::string strText = MsiLog(strLogName);
    std::string strCmd = "\"" + ProductDir("Morvelin") + "\\Pelmora.exe\" " + strArgs;
    if (strText.find("could not be started (Windows error 2): " + strCmd) != std::string::npos)
        EXPECT_EQ(0u, RunArchivePelmora(strArgs, strPackage));
    else
        EXPECT_NE(std::string::npos, strText.find("Pelmora: " + strCmd + " in "))
            << "no undo in " << strLogName;
}

// No rollback action was scheduled: the product's reference stays as it was.
void ExpectNoUndo(const std::string& strLogName)
{
    std::string strText = MsiLog(strLogName);
    EXPECT_EQ(std::string::npos, strText.find("UndoInstallEngine")) << strLogName;
    EXPECT_EQ(std::string::npos, strText.find("UndoRemoveEngine")) << strLogName;
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

// What the archive's Pelmora alone leaves when run from a package (the archive's by default)
// for a product.
std::string PelmoraAlone(const char* pszProduct, const char* pszWindows,
                         const std::string& strPackage = ArchivePackage())
{
    harness::SetWindowsVersion("Pelmora.exe", pszWindows);
    EXPECT_EQ(0u, RunArchivePelmora(std::string("/PROD:") + pszProduct, strPackage));
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
        harness::SetWindowsVersion("Morvelin11Setup.exe", "");
        harness::SetWindowsVersion("Uninstall.exe", "");
        // A package that a failed test left installed would upgrade, or be upgraded by, the
        // next test's.
        for (const char* psz : s_products)
            for (const std::string& strCode : MsiProducts(psz))
                Msi("/x " + strCode + " REBOOT=ReallySuppress", "clean");
        harness::DeleteTree(ProgramFiles() + "\\Quillmark");
        for (const std::string& strDir : NsisTempDirs())
            harness::DeleteTree(harness::TempDir() + strDir);
    }
    static void SetWindows(const char* pszWindows)
    {
        for (const char* psz : {"MorvelinSetup.exe", "Morvelin11Setup.exe", "QuillpenSetup.exe",
                                "BrokenSetup.exe", "Uninstall.exe", "Pelmora.exe"})
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

// A product's life through its Windows Installer package, alone on the machine: a first install
// that fails after the engine's install, the install, a repair, a change that removes the
// feature and adds it again, the upgrade as the sample ships it, and the uninstall while the
// engine is in use, set up again before its restart and then without. After each step the record,
// the engine's files, AVENGINE and PATH as Pelmora alone leaves them for what is installed.
TEST_F(ProductSetup, MsiLifeAloneRepairChangeUpgradeRollbackUninstall)
{
    std::string strClean = Snapshot();
    std::string strAlone = PelmoraAlone("Morvelin", "");
    std::string strNewer = PelmoraAlone("Morvelin", "", SetupDir() + "\\newer");
    std::string strA = MsiPackage("MorvelinSetup.msi");
    std::string strDll = EngineDir() + "\\Osk32dll.dll";

    // A first install whose own later action fails: rolled back, the product released again.
    EXPECT_EQ(1603u, Msi("/i " + MsiPackage("MorvelinFailSetup.msi") + " FAILNOW=1", "fail1"));
    ExpectUndone("fail1", "/REMOVE /PROD:Morvelin", ArchivePackage());
    EXPECT_EQ(strClean, Snapshot());
    EXPECT_TRUE(MsiProducts("Morvelin").empty());

    EXPECT_EQ(0u, Msi("/i " + strA, "install"));
    EXPECT_EQ(strAlone, Snapshot());
    std::vector<std::string> codes10 = MsiProducts("Morvelin", "1.0.0");
    ASSERT_EQ(1u, codes10.size());

    // A repair after an engine file was lost: the engine whole again, the product counted once.
    ASSERT_TRUE(DeleteFileA((EngineDir() + "\\Brin.dat").c_str()));
    EXPECT_EQ(0u, Msi("/i " + strA + " REINSTALL=ALL REINSTALLMODE=vomus", "repair"));
    EXPECT_EQ(strAlone, Snapshot());
    ExpectNoUndo("repair");

    // The feature removed: the product's reference goes with it, and comes back with it.
    EXPECT_EQ(0u, Msi("/i " + strA + " REMOVE=Product", "change"));
    EXPECT_EQ(strClean, Snapshot());
    EXPECT_FALSE(harness::FileExists(ProductDir("Morvelin") + "\\Pelmora.exe"));
    EXPECT_EQ(0u, Msi("/i " + strA + " ADDLOCAL=Product", "addlocal"));
    EXPECT_EQ(strAlone, Snapshot());
    codes10 = MsiProducts("Morvelin", "1.0.0");
    ASSERT_EQ(1u, codes10.size());

    // The upgrade as the sample ships it, the old version removed before the new one goes in.
    EXPECT_EQ(0u, Msi("/i " + MsiPackage("Morvelin11Setup.msi"), "upgrade"));
    EXPECT_EQ(strNewer, Snapshot());
    EXPECT_EQ(1u, MsiProducts("Morvelin", "1.1.0").size());
    EXPECT_TRUE(MsiProducts("Morvelin", "1.0.0").empty());

    // The uninstall while the engine DLL is in use: 3010. The package installed again before the
    // restart keeps its engine whole through it; without, the restart leaves nothing, the engine
    // directory included.
    auto uninstallInUse = [&]()
    {
        HeldFile held(strDll);
        ASSERT_TRUE(held.IsHeld());
        EXPECT_EQ(3010u, Msi("/x " + MsiPackage("Morvelin11Setup.msi") + " REBOOT=ReallySuppress",
                             "uninstall"));
    };
    uninstallInUse();
    EXPECT_EQ(0u, Msi("/i " + MsiPackage("Morvelin11Setup.msi"), "again"));
    ASSERT_TRUE(harness::Restart());
    EXPECT_EQ(strNewer, Snapshot());
    uninstallInUse();
    EXPECT_EQ("", RecStr(s_szPathKey, "Engine"));
    EXPECT_TRUE(harness::FileExists(strDll));
    ASSERT_TRUE(harness::Restart());
    EXPECT_EQ(strClean, Snapshot());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(EngineDir().c_str()));
    EXPECT_TRUE(MsiProducts("Morvelin").empty());
}

// The same product beside another one that shares the engine: an early upgrade that fails, a
// late one that fails, the late upgrade with the old version's removal made as Windows makes it
// (UPGRADINGPRODUCTCODE set), the other product's uninstall, and a removal that fails after the
// engine's removal.
TEST_F(ProductSetup, MsiLifeBesideAnotherUpgradesRollbackAndRemoval)
{
    std::string strDll = EngineDir() + "\\Osk32dll.dll";
    std::string strLate = MsiPackage("Morvelin11LateSetup.msi");
    EXPECT_EQ(0u, Msi("/i " + MsiPackage("QuillpenSetup.msi"), "b"));
    std::string strB = Snapshot();
    EXPECT_EQ(0u, Msi("/i " + MsiPackage("MorvelinSetup.msi"), "a"));
    EXPECT_EQ("|QUILLPEN|MORVELIN|", RecStr(s_szKey, "ProductList"));
    EXPECT_EQ(2u, RecDword("ReferenceCount"));
    std::string strBoth = Snapshot();
    std::string strAvEngine = EnvStr(s_szNtEnvKey, "AVENGINE");
    std::string strPath = EnvStr(s_szNtEnvKey, "PATH");
    EXPECT_NE("", strAvEngine);

    // Early: 1.0 is removed before 1.1 fails, so 1.1's rollback releases the product, and the
    // engine stays for the other product as it was.
    EXPECT_EQ(1603u, Msi("/i " + MsiPackage("Morvelin11Setup.msi") + " FAILNOW=1", "earlyfail"));
    ExpectUndone("earlyfail", "/REMOVE /PROD:Morvelin", SetupDir() + "\\newer");
    EXPECT_EQ(strB, Snapshot());
    EXPECT_TRUE(MsiProducts("Morvelin").empty());

    // Late, as Windows runs it: 1.1 installed over 1.0, then 1.0's removal for the upgrade,
    // which keeps the reference that 1.1 now holds.
    EXPECT_EQ(0u, Msi("/i " + MsiPackage("MorvelinSetup.msi"), "a2"));
    EXPECT_EQ(strBoth, Snapshot());
    std::vector<std::string> codes10 = MsiProducts("Morvelin", "1.0.0");
    ASSERT_EQ(1u, codes10.size());
    // A late upgrade that fails: 1.0 stays installed, and so does its reference. (Wine's
    // rollback also deletes the files of the components that 1.0 shares, which the next step
    // puts back, and the upgrade code's registration, so that no later package finds 1.0 to
    // upgrade it: the next step names 1.0 by its product code.)
    EXPECT_EQ(1603u, Msi("/i " + MsiPackage("Morvelin11LateSetup.msi") + " FAILNOW=1", "latefail"));
    ExpectNoUndo("latefail");
    EXPECT_EQ(strBoth, Snapshot());
    EXPECT_EQ(codes10, MsiProducts("Morvelin"));

    EXPECT_EQ(0u, Msi("/i " + strLate, "late"));
    std::vector<std::string> codes11 = MsiProducts("Morvelin", "1.1.0");
    ASSERT_EQ(1u, codes11.size());
    EXPECT_EQ(0u, Msi("/x " + codes10[0] + " UPGRADINGPRODUCTCODE=" + codes11[0], "lateold"));
    EXPECT_EQ(std::string::npos, MsiLog("lateold").find("RemoveEngine"));
    EXPECT_EQ(codes11, MsiProducts("Morvelin"));
    EXPECT_EQ("|QUILLPEN|MORVELIN|", RecStr(s_szKey, "ProductList"));
    EXPECT_EQ(2u, RecDword("ReferenceCount"));
    EXPECT_TRUE(SameContent(SetupDir() + "\\newer\\Osk32dll.dll", strDll));
    EXPECT_EQ(strAvEngine, EnvStr(s_szNtEnvKey, "AVENGINE"));
    EXPECT_EQ(strPath, EnvStr(s_szNtEnvKey, "PATH"));
    EXPECT_TRUE(harness::FileExists(ProductDir("Morvelin") + "\\Pelmora.exe"));
    EXPECT_TRUE(harness::FileExists(ProductDir("Morvelin") + "\\FileList.ini"));

    // The other product goes: the engine stays for 1.1.
    EXPECT_EQ(0u, Msi("/x " + MsiPackage("QuillpenSetup.msi"), "xb"));
    EXPECT_EQ("|MORVELIN|", RecStr(s_szKey, "ProductList"));
    EXPECT_EQ(1u, RecDword("ReferenceCount"));
    EXPECT_TRUE(harness::FileExists(strDll));
    std::string strA = Snapshot();

    // A removal that fails after the engine went: its rollback installs the engine again for the
    // product. (Wine then leaves the product unregistered, where Windows restores it.)
    EXPECT_EQ(1603u, Msi("/x " + strLate + " FAILNOW=1", "xfail"));
    ExpectUndone("xfail", "/PROD:Morvelin", SetupDir() + "\\newer");
    EXPECT_EQ(strA, Snapshot());
}
// A product's life through its NSIS setup: set up again over itself, upgraded by a later build,
// uninstalled while the engine is in use (3010; the restart takes the files and the emptied
// directories), then installed, uninstalled in place and set up again before the restart that
// the uninstall left for its own file and folder: the restart keeps the new uninstaller. That
// last part on Windows 98 too, where those deletions are lines of WININIT.INI.
TEST_F(ProductSetup, NsisLifeReinstallUpgradeUninstallInUseSetupAgainBeforeRestart)
{
    std::string strClean = Snapshot();
    std::string strAlone = PelmoraAlone("Morvelin", "");
    std::string strNewer = PelmoraAlone("Morvelin", "", SetupDir() + "\\newer");
    std::string strSetup10 = "\"" + SetupDir() + "\\MorvelinSetup.exe\" /S";
    std::string strSetup11 = "\"" + SetupDir() + "\\Morvelin11Setup.exe\" /S";
    std::string strDir = ProductDir("Morvelin");
    std::string strDll = EngineDir() + "\\Osk32dll.dll";
    const std::vector<std::string> productFiles = {"filelist.ini", "pelmora.exe", "uninstall.exe"};

    ASSERT_EQ(0u, harness::RunCommandLine(strSetup10));
    EXPECT_EQ(0u, harness::RunCommandLine(strSetup10));
    EXPECT_EQ(strAlone, Snapshot());
    EXPECT_EQ("1.0.0", UninstallValue("Morvelin", "DisplayVersion"));

    EXPECT_EQ(0u, harness::RunCommandLine(strSetup11));
    EXPECT_EQ(strNewer, Snapshot());
    EXPECT_EQ("1.1.0", UninstallValue("Morvelin", "DisplayVersion"));
    EXPECT_EQ(productFiles, DirNames(strDir));

    {
        HeldFile held(strDll);
        ASSERT_TRUE(held.IsHeld());
        EXPECT_EQ(3010u,
                  harness::RunCommandLine(UninstallValue("Morvelin", "QuietUninstallString")));
    }
    // The engine directory's deletion comes after its file's.
    std::vector<std::string> pending = harness::ReadPendingRenames();
    auto itFile = std::find(pending.begin(), pending.end(), "\\??\\" + harness::ShortUpper(strDll));
    auto itDir =
        std::find(pending.begin(), pending.end(), "\\??\\" + harness::ShortUpper(EngineDir()));
    ASSERT_NE(pending.end(), itDir);
    EXPECT_NE(pending.end(), itFile);
    EXPECT_LT(itFile, itDir);
    EXPECT_EQ("", *(itDir + 1));
    ASSERT_TRUE(harness::Restart());
    EXPECT_EQ(strClean, Snapshot());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(EngineDir().c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(strDir.c_str()));

    // Uninstalled in place with nothing in use: only the uninstaller's own file and folder wait
    // for the restart, beside another program's replacement that must stay as it is.
    ASSERT_EQ(0u, harness::RunCommandLine(strSetup11));
    EXPECT_EQ(0u, harness::RunCommandLine(UninstallValue("Morvelin", "QuietUninstallString")));
    std::string strNow = Snapshot();
    EXPECT_EQ(strClean, strNow.substr(0, strNow.find("pending ")));
    std::vector<std::string> left = harness::ReadPendingRenames();
    EXPECT_NE(left.end(),
              std::find(left.begin(), left.end(), "\\??\\" + strDir + "\\Uninstall.exe"));
    // The list as the uninstall left it, after another program's replacement whose names the
    // ANSI code page cannot hold: the setup must keep that pair byte for byte.
    std::vector<std::wstring> both = {L"\\??\\C:\\other\\new\x65e5.dll",
                                      L"\\??\\C:\\other\\\x65e5.dll"};
    harness::WritePendingRenames(both);
    std::string strOther = harness::ReadPendingRaw();
    for (const std::string& str : left)
        both.push_back(std::wstring(str.begin(), str.end()));
    harness::WritePendingRenames(both);

    ASSERT_EQ(0u, harness::RunCommandLine(strSetup11));
    EXPECT_EQ(strOther, harness::ReadPendingRaw());
    ASSERT_TRUE(harness::Restart());
    EXPECT_EQ(strNewer, Snapshot());
    EXPECT_EQ(productFiles, DirNames(strDir));
    EXPECT_EQ("\"" + strDir + "\\Uninstall.exe\"", UninstallValue("Morvelin", "UninstallString"));

    // And it can still be uninstalled.
    EXPECT_EQ(0u, harness::RunCommandLine(UninstallValue("Morvelin", "QuietUninstallString")));
    EXPECT_EQ("", RecStr(s_szPathKey, "Engine"));
    EXPECT_EQ("", UninstallValue("Morvelin", "DisplayName"));
    ASSERT_TRUE(harness::Restart());

    // Windows 98, where the delayed moves fail (the pending value stored as REG_SZ): the
    // uninstaller's deletions are lines of WININIT.INI, which the setup takes back, every other
    // line kept.
    SetWindows("win98");
    harness::SetMachineValue("SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                             "PendingFileRenameOperations", REG_SZ, "", 1);
    ASSERT_EQ(0u, harness::RunCommandLine(strSetup11));
    std::string strWinInit = "[Rename]\r\nNUL=C:\\OTHER.TXT\r\n";
    ASSERT_TRUE(harness::WriteFileBytes(harness::WinInitPath(), strWinInit));
    EXPECT_EQ(0u, harness::RunCommandLine(UninstallValue("Morvelin", "QuietUninstallString")));
    EXPECT_NE(std::string::npos,
              harness::ReadFileBytes(harness::WinInitPath())
                  .find("NUL=" + harness::ShortName(strDir + "\\Uninstall.exe")));
    ASSERT_EQ(0u, harness::RunCommandLine(strSetup11));
    EXPECT_EQ(strWinInit, harness::ReadFileBytes(harness::WinInitPath()));
    ASSERT_TRUE(harness::Restart());
    EXPECT_EQ(productFiles, DirNames(strDir));
}
} // namespace
