// What a user without administrator rights can put where the program looks, run against the real
// process: libraries of system names planted beside the program and in its current directory
// (under Wine's native-first order for them, so that Wine searches as Windows does), and a hard
// link at the log's place.
#include "FlowSupport.h"

#include <sddl.h>

#include <string>
#include <vector>

using namespace flow;
using harness::LastRunMessages;
using harness::RunOptions;

namespace
{

const char* const s_apszPlanted[] = {"mpr.dll", "version.dll"};

// Where the planted libraries and their control program are built: beside the program's folder.
std::string PlantedDir()
{
    return harness::ProgramDir() + "\\..\\planted";
}

// Wine takes mpr and version from the program's search path first, as Windows does, in the
// program and the control program while this lives: WINEDLLOVERRIDES="mpr,version=n,b" as the
// per-program setting of the registry (a child takes its load order from the Unix environment
// it was started with, which a Windows process cannot change for it).
class NativeFirst
{
  public:
    NativeFirst()
    {
        for (const char* pszKey : s_apszOverrideKeys)
        {
            HKEY hKey;
            EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, pszKey, 0, NULL, 0,
                                                     KEY_ALL_ACCESS, NULL, &hKey, NULL));
            for (const char* pszName : {"mpr", "version"})
                RegSetValueExA(hKey, pszName, 0, REG_SZ, (const BYTE*)"native,builtin", 15);
            RegCloseKey(hKey);
        }
    }
    ~NativeFirst()
    {
        for (const char* pszKey : s_apszOverrideKeys)
            RegDeleteKeyA(HKEY_CURRENT_USER, pszKey);
    }

  private:
    static constexpr const char* s_apszOverrideKeys[] = {
        "Software\\Wine\\AppDefaults\\Pelmora.exe\\DllOverrides",
        "Software\\Wine\\AppDefaults\\planted_control.exe\\DllOverrides",
    };
};

// The planted libraries in a folder for the length of a scope; their markers are removed with
// them.
class Planted
{
  public:
    explicit Planted(const std::string& strDir) : m_strDir(strDir)
    {
        for (const char* pszName : s_apszPlanted)
            EXPECT_TRUE(
                CopyFileA((PlantedDir() + "\\" + pszName).c_str(), Path(pszName).c_str(), FALSE))
                << pszName << " " << GetLastError();
    }
    ~Planted()
    {
        for (const char* pszName : s_apszPlanted)
        {
            DeleteFileA(Path(pszName).c_str());
            DeleteFileA((Path(pszName) + ".loaded").c_str());
        }
    }
    std::vector<std::string> Loaded() const
    {
        std::vector<std::string> loaded;
        for (const char* pszName : s_apszPlanted)
            if (harness::FileExists(Path(pszName) + ".loaded"))
                loaded.push_back(pszName);
        return loaded;
    }

  private:
    std::string Path(const char* pszName) const
    {
        return m_strDir + "\\" + pszName;
    }
    std::string m_strDir;
};

// The messages of the last run, the free space (which other programs change) left out.
std::vector<std::string> RunMessages()
{
    std::vector<std::string> msgs = LastRunMessages();
    for (std::string& strMsg : msgs)
        if (strMsg.compare(0, 13, "Orvane: have ") == 0)
            strMsg = "Orvane: have (free space)";
    return msgs;
}

struct RunTrace
{
    DWORD dwInstall = 0, dwUpdate = 0;
    std::vector<std::string> install, update;
};

class Security : public FlowTest
{
  protected:
    // A first install and an update with nothing newer, which reads the versions of the
    // installed and the packaged files, from a machine and engine directory reset before.
    RunTrace InstallThenUpdate(const std::string& strPackage)
    {
        harness::ResetState();
        std::string strEng = harness::TestDir() + "\\eng";
        harness::DeleteTree(strEng);
        // After the reset, which clears the program's settings; with a version named, the
        // launcher keeps them.
        NativeFirst nativeFirst;
        RunOptions opts;
        opts.strWindows = "win10";
        opts.strCurDir = strPackage;
        RunTrace trace;
        trace.dwInstall = harness::RunPelmora("/PROD:Quillpen /PATH:" + strEng, opts);
        trace.install = RunMessages();
        trace.dwUpdate = harness::RunPelmora("/PROD:Quillpen /PATH:" + strEng, opts);
        trace.update = RunMessages();
        return trace;
    }
};

TEST_F(Security, PlantedSystemLibrariesAreNeverLoadedAndTheRunEndsAsWithoutThem)
{
    const std::string strPackage = SamplePackage("pkg");
    const RunTrace plain = InstallThenUpdate(strPackage);
    ASSERT_EQ(0u, plain.dwInstall);
    ASSERT_EQ(0u, plain.dwUpdate);
    // The freshness test read versions through the real VERSION library (the planted one
    // answers none); the runs below must log the same.
    ASSERT_EQ(1, CountPrefix(plain.update, "Orvane: File [" + harness::TestDir() +
                                               "\\eng\\Osk32dll.dll] version [2:1:0:7]"));

    {
        // The check that can fail: a program that imports them loads them from its folder.
        NativeFirst nativeFirst;
        std::vector<std::string> markers;
        for (const char* pszName : s_apszPlanted)
        {
            markers.push_back(PlantedDir() + "\\" + pszName + ".loaded");
            DeleteFileA(markers.back().c_str());
        }
        STARTUPINFOA si;
        ZeroMemory(&si, sizeof(si));
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi;
        std::string strControl = PlantedDir() + "\\planted_control.exe";
        ASSERT_TRUE(CreateProcessA(strControl.c_str(), NULL, NULL, NULL, FALSE, 0, NULL,
                                   PlantedDir().c_str(), &si, &pi))
            << GetLastError();
        harness::WaitForExit(&pi, 60000);
        for (const std::string& strMarker : markers)
        {
            EXPECT_TRUE(harness::FileExists(strMarker)) << strMarker;
            DeleteFileA(strMarker.c_str());
        }
    }

    struct
    {
        const char* pszPlace;
        std::string strDir;
    } places[] = {
        {"the program's folder", harness::ProgramDir()},
        {"the current directory", strPackage},
    };
    for (const auto& place : places)
    {
        SCOPED_TRACE(place.pszPlace);
        Planted planted(place.strDir);
        RunTrace trace = InstallThenUpdate(strPackage);
        EXPECT_EQ(std::vector<std::string>(), planted.Loaded());
        EXPECT_EQ(plain.dwInstall, trace.dwInstall);
        EXPECT_EQ(plain.dwUpdate, trace.dwUpdate);
        EXPECT_EQ(plain.install, trace.install);
        EXPECT_EQ(plain.update, trace.update);
    }
}

TEST_F(Security, AHardLinkAtTheLogsPlaceIsLeftAloneAndTheRunLogsToAFileOfItsOwn)
{
    const std::string strPackage = SamplePackage("pkg");
    const std::string strOther = harness::TestDir() + "\\other.txt";
    const std::string strBytes = "a file of someone else's\r\n";
    ASSERT_TRUE(harness::WriteFileBytes(strOther, strBytes));
    ASSERT_TRUE(CreateHardLinkA(harness::LogPath().c_str(), strOther.c_str(), NULL))
        << GetLastError();

    RunOptions opts;
    opts.strCurDir = strPackage;
    PROCESS_INFORMATION pi;
    ASSERT_TRUE(harness::StartPelmora("", opts, &pi));
    const std::string strOwn =
        harness::TempDir() + "MorSetup-" + std::to_string(pi.dwProcessId) + ".log";
    EXPECT_EQ(0u, harness::WaitForExit(&pi, opts.dwTimeoutMs));

    EXPECT_EQ(strBytes, harness::ReadFileBytes(strOther));
    bool bExists = false;
    std::string strLog = harness::ReadFileBytes(strOwn, &bExists);
    DeleteFileA(strOwn.c_str());
    ASSERT_TRUE(bExists) << strOwn;
    EXPECT_EQ(0u, strLog.find("\r\n----------------------  Start  ------------------- \r\n"));
    EXPECT_NE(std::string::npos, strLog.find("> Orvane: START!!\r\n"));
    EXPECT_NE(std::string::npos, strLog.find("> Orvane: first install completes\r\n< "));
    const std::string strEnd = "> ------------------- End -----------------------\r\n\r\n";
    EXPECT_EQ(strLog.size() - strEnd.size(), strLog.rfind(strEnd)) << "the End banner closes it";
    // The run itself as always.
    EXPECT_EQ(1u, RecDword("ReferenceCount"));
    EXPECT_EQ("|MORVELIN|", RecStr(s_szKey, "ProductList"));

    // An ordinary log is appended to as always, and no file of the run's own is made.
    DeleteFileA(harness::LogPath().c_str());
    ASSERT_TRUE(harness::WriteFileBytes(harness::LogPath(), "earlier runs\r\n"));
    ASSERT_TRUE(harness::StartPelmora("", opts, &pi));
    const std::string strOwn2 =
        harness::TempDir() + "MorSetup-" + std::to_string(pi.dwProcessId) + ".log";
    EXPECT_EQ(0u, harness::WaitForExit(&pi, opts.dwTimeoutMs));
    EXPECT_FALSE(harness::FileExists(strOwn2));
    strLog = harness::ReadLog();
    EXPECT_EQ(0u, strLog.find("earlier runs\r\n\r\n----------------------  Start  "));
    EXPECT_TRUE(
        harness::HasMessage(LastRunMessages(), "Orvane: Install completes, not to reboot\n"));
}

// An engine directory made beforehand that others may change (under Wine: one whose Unix mode
// lets others write, which Wine shows as Everyone's right to write), holding a DLL someone
// planted and, under an engine file's name, a second name of a file outside it: the run closes
// the directory before it writes, replaces the link rather than writing through it, and ends as
// always.
TEST_F(Security, AnEngineDirectoryOthersMayChangeIsClosedAndALinkInItIsReplacedNotWrittenThrough)
{
    const std::string strPackage = SamplePackage("pkg");
    const std::string strEng = harness::TestDir() + "\\Engine";
    const std::string strVictim = harness::TestDir() + "\\victim.dll";
    ASSERT_TRUE(CreateDirectoryA(strEng.c_str(), NULL));
    ASSERT_TRUE(harness::OpenDirToEveryone(strEng));
    ASSERT_EQ("0x1301ff", harness::EveryoneRights(strEng));
    ASSERT_TRUE(harness::WriteFileBytes(strEng + "\\planted.dll", "planted"));
    ASSERT_TRUE(harness::WriteFileBytes(strVictim, "the victim's"));
    ASSERT_TRUE(CreateHardLinkA((strEng + "\\Osk32dll.dll").c_str(), strVictim.c_str(), NULL));

    RunOptions opts;
    opts.strWindows = "win10";
    opts.strCurDir = strPackage;
    EXPECT_EQ(0u, harness::RunPelmora("/PROD:Quillpen /PATH:" + strEng, opts));
    std::vector<std::string> msgs = LastRunMessages();
    int nLocked =
        harness::FindMessage(msgs, "Orvane: [" + strEng +
                                       "] could be changed by others, access now limited to "
                                       "administrators\n");
    EXPECT_NE(-1, nLocked);
    EXPECT_LT(nLocked, harness::FindPrefix(msgs, "Orvane: Engine files is copied to"));
    EXPECT_TRUE(harness::HasMessage(msgs, "Orvane: [" + strEng +
                                              "\\Osk32dll.dll] is a link, the link removed\n"));
    EXPECT_TRUE(harness::HasMessage(msgs, "Orvane: first install completes\n"));
    EXPECT_EQ("the victim's", harness::ReadFileBytes(strVictim));
    EXPECT_TRUE(SameContent(strPackage + "\\Osk32dll.dll", strEng + "\\Osk32dll.dll"));
    // Wine maps the protected list onto the mode: others keep only Users' read and execute.
    EXPECT_EQ("0x1200a9", harness::EveryoneRights(strEng));
    EXPECT_EQ(1u, RecDword("ReferenceCount"));
}

// Files changed while others could change the directory are not taken at their word: an update
// over an engine directory opened after its install, with a signature file put there with a later
// time, closes the directory and puts the package's files in place of every one.
TEST_F(Security, AnUpdateOverADirectoryOthersCouldChangeTakesNoFileAtItsWord)
{
    const std::string strPackage = SamplePackage("pkg");
    const std::string strEng = harness::TestDir() + "\\Engine";
    RunOptions opts;
    opts.strWindows = "win10";
    opts.strCurDir = strPackage;
    ASSERT_EQ(0u, harness::RunPelmora("/PROD:Quillpen /PATH:" + strEng, opts));

    ASSERT_TRUE(harness::OpenDirToEveryone(strEng));
    const std::string strSig = strEng + "\\Osksig.dat";
    ASSERT_TRUE(harness::WriteFileBytes(strSig, "planted signatures"));
    HANDLE hSig =
        CreateFileA(strSig.c_str(), FILE_WRITE_ATTRIBUTES, 0, NULL, OPEN_EXISTING, 0, NULL);
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER ul = {{ft.dwLowDateTime, ft.dwHighDateTime}};
    ul.QuadPart += 3600ull * 10000000ull;
    ft.dwLowDateTime = ul.LowPart;
    ft.dwHighDateTime = ul.HighPart;
    ASSERT_TRUE(SetFileTime(hSig, NULL, NULL, &ft));
    CloseHandle(hSig);

    EXPECT_EQ(0u, harness::RunPelmora("/PROD:Quillpen /PATH:" + strEng, opts));
    EXPECT_TRUE(harness::HasMessage(LastRunMessages(),
                                    "Orvane: [" + strEng +
                                        "] could be changed by others, access now limited to "
                                        "administrators\n"));
    EXPECT_TRUE(SameContent(strPackage + "\\Osksig.dat", strSig));
    EXPECT_EQ("0x1200a9", harness::EveryoneRights(strEng));
}

} // namespace
