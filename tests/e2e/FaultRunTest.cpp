// The real program run into faults of the machine it is given: installed files it cannot simply
// overwrite, a package that lacks a file, a file where the engine directory should be, registry
// values of unexpected types and a volume that fills during the copy. Each case checks what must
// hold afterwards: the answer, the log, the record as stored, the files on disk and that nothing
// of the machine's was lost.
#include "FlowSupport.h"

#include <algorithm>
#include <string>
#include <vector>

using namespace flow;
using harness::FindPrefix;
using harness::HasMessage;
using harness::LastRunMessages;
using harness::RunOptions;

namespace
{

const char s_szSessionKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char s_szNeedReboot[] = "Orvane: Install completes, but NEED_REBOOT\n";
const char s_szNoReboot[] = "Orvane: Install completes, not to reboot\n";

class FaultRun : public FlowTest
{
  protected:
    void SetUp() override
    {
        FlowTest::SetUp();
        m_strPackage = SamplePackage("pkg");
        m_strEng = harness::TestDir() + "\\eng";
    }
    DWORD Run(const std::string& strArgs, const std::string& strPackage,
              const char* pszWindows = "")
    {
        RunOptions opts;
        opts.strCurDir = strPackage;
        opts.strWindows = pszWindows;
        return harness::RunPelmora(strArgs, opts);
    }
    void TearDown() override
    {
        if (!SmallDrive().empty())
            DeleteFileA("X:\\filler");
        FlowTest::TearDown();
    }
    // A first install of the sample package by product A into a fresh engine directory, checked.
    void Install()
    {
        harness::DeleteTree(m_strEng);
        ASSERT_EQ(0u, Run("/PROD:A /PATH:" + m_strEng, m_strPackage));
        ASSERT_EQ(ExpectedEngineFiles(3, GroupNt), DirNames(m_strEng));
    }
    std::string m_strPackage;
    std::string m_strEng;
};

// Raw value of the NT environment or the session manager key, type and bytes as stored.
struct RawValue
{
    bool bExists = false;
    DWORD dwType = REG_NONE;
    std::string data;
    bool operator==(const RawValue& o) const
    {
        return bExists == o.bExists && dwType == o.dwType && data == o.data;
    }
};

RawValue ReadRaw(const char* pszKey, const char* pszName)
{
    RawValue v;
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return v;
    DWORD cb = 0;
    if (RegQueryValueExA(hKey, pszName, NULL, &v.dwType, NULL, &cb) == ERROR_SUCCESS)
    {
        v.bExists = true;
        v.data.assign(cb, '\0');
        RegQueryValueExA(hKey, pszName, NULL, &v.dwType, (BYTE*)&v.data[0], &cb);
        v.data.resize(cb);
    }
    RegCloseKey(hKey);
    return v;
}

void WriteRaw(const char* pszKey, const char* pszName, DWORD dwType, const std::string& data)
{
    HKEY hKey;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, KEY_SET_VALUE, &hKey));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(hKey, pszName, 0, dwType, (const BYTE*)data.data(),
                                            (DWORD)data.size()));
    RegCloseKey(hKey);
}

std::string Dword(DWORD dw)
{
    return std::string((const char*)&dw, sizeof(dw));
}

// ---------------------------------------------------------------------------------------------

TEST_F(FaultRun, ReadOnlyInstalledFileIsReplacedOrStagedAndTheRestartReplacesIt)
{
    REQUIRE_WINE();
    Install();
    std::string strNew = NewerOskaPackage("newpkg");
    std::string strDll = m_strEng + "\\Osk32dll.dll";

    // Read-only and free: the update replaces it in place.
    ASSERT_TRUE(SetFileAttributesA(strDll.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(0u, Run("/PROD:A", strNew));
    std::vector<std::string> msgs = LastRunMessages();
    EXPECT_TRUE(HasMessage(msgs, s_szNoReboot));
    EXPECT_TRUE(SameContent(strNew + "\\Osk32dll.dll", strDll));
    EXPECT_EQ(ExpectedEngineFiles(3, GroupNt), DirNames(m_strEng));

    // Read-only and in use: staged beside it, and the restart puts the new file in place,
    // read-only attribute or not.
    std::string strNewer = NewerOskaPackage("newerpkg");
    HANDLE hTouch = CreateFileA((strNewer + "\\Osk32dll.dll").c_str(), FILE_WRITE_ATTRIBUTES, 0,
                                NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, hTouch);
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER uli;
    uli.LowPart = ft.dwLowDateTime;
    uli.HighPart = ft.dwHighDateTime;
    uli.QuadPart += 10000000ull * 3600; // an hour ahead of the installed copy
    ft.dwLowDateTime = uli.LowPart;
    ft.dwHighDateTime = uli.HighPart;
    SetFileTime(hTouch, NULL, NULL, &ft);
    CloseHandle(hTouch);
    ASSERT_TRUE(SetFileAttributesA(strDll.c_str(), FILE_ATTRIBUTE_READONLY));
    std::string strOld = harness::ReadFileBytes(strDll);
    {
        HeldFile held(strDll);
        ASSERT_TRUE(held.IsHeld());
        EXPECT_EQ(2u, Run("/PROD:A", strNewer));
        msgs = LastRunMessages();
        EXPECT_TRUE(HasMessage(msgs, s_szNeedReboot));
        EXPECT_NE(-1, FindPrefix(msgs, "Orvane: Can't do CopyFile from [" + strNewer +
                                           "\\Osk32dll.dll] to [" + strDll + "] with error ["));
        EXPECT_TRUE(SameContent(strNewer + "\\Osk32dll.dll", strDll + "000"));
    }
    EXPECT_EQ(strOld, harness::ReadFileBytes(strDll)) << "the file in use is kept whole";
    ASSERT_TRUE(harness::Restart());
    EXPECT_TRUE(SameContent(strNewer + "\\Osk32dll.dll", strDll));
    EXPECT_FALSE(harness::FileExists(strDll + "000"));
    EXPECT_EQ(ExpectedEngineFiles(3, GroupNt), DirNames(m_strEng));
}

TEST_F(FaultRun, PackageFileListedButMissingLeavesTheInstalledFileWhole)
{
    REQUIRE_WINE();
    // A first install from a package without one engine file and one common file: the rest is
    // installed, the run completes, and the missing files are named in the log.
    std::string strThin = SamplePackage("thinpkg");
    ASSERT_TRUE(DeleteFileA((strThin + "\\Osksig.dat").c_str()));
    ASSERT_TRUE(DeleteFileA((strThin + "\\MorSigV.vxd").c_str()));
    EXPECT_EQ(0u, Run("/PROD:A /PATH:" + m_strEng, strThin));
    std::vector<std::string> msgs = LastRunMessages();
    EXPECT_NE(-1,
              FindPrefix(msgs, "Orvane: Can't do CopyFile from [" + strThin + "\\Osksig.dat] to [" +
                                   m_strEng + "\\Osksig.dat] with error [2]"));
    EXPECT_TRUE(HasMessage(msgs, "Orvane: first install completes\n"));
    std::vector<std::string> names = ExpectedEngineFiles(3, GroupNt);
    names.erase(std::find(names.begin(), names.end(), "osksig.dat"));
    EXPECT_EQ(names, DirNames(m_strEng));
    EXPECT_EQ(1u, RecDword("ReferenceCount"));

    // An update whose package lacks a file that is installed: the installed file stays as it
    // was, no staged copy is left, and the run asks for the restart the failed copy calls for.
    harness::ResetState();
    Install();
    std::string strNew = NewerOskaPackage("newpkg");
    ASSERT_TRUE(DeleteFileA((strNew + "\\Osksig.dat").c_str()));
    std::string strBefore = harness::ReadFileBytes(m_strEng + "\\Osksig.dat");
    EXPECT_EQ(2u, Run("/PROD:B", strNew));
    msgs = LastRunMessages();
    EXPECT_NE(-1, FindPrefix(msgs, "Orvane: Can't CopyFile to temp location from [" + strNew +
                                       "\\Osksig.dat] to [" + m_strEng + "\\Osksig.dat000]"));
    EXPECT_EQ(strBefore, harness::ReadFileBytes(m_strEng + "\\Osksig.dat"));
    EXPECT_TRUE(SameContent(strNew + "\\Osk32dll.dll", m_strEng + "\\Osk32dll.dll"));
    EXPECT_EQ(ExpectedEngineFiles(3, GroupNt), DirNames(m_strEng));
    EXPECT_EQ("|A|B|", RecStr(s_szKey, "ProductList"));
    EXPECT_EQ(2u, RecDword("ReferenceCount"));
}

TEST_F(FaultRun, FileWhereTheEngineDirectoryShouldBeEndsWithCode3)
{
    REQUIRE_WINE();
    std::string strFile = harness::TestDir() + "\\engfile";
    ASSERT_TRUE(harness::WriteFileBytes(strFile, "not a directory\r\n"));
    const std::string strRefused = "Orvane: Invalid Scan Engine path [";

    // First install: the file itself, and a directory below it.
    for (const std::string& strPath : {strFile, strFile + "\\eng"})
    {
        SCOPED_TRACE(strPath);
        harness::ResetState();
        EXPECT_EQ(3u, Run("/PROD:A /PATH:" + strPath, m_strPackage));
        std::vector<std::string> msgs = LastRunMessages();
        ASSERT_GE(msgs.size(), 3u);
        EXPECT_EQ(strRefused + strPath + "], a file is in the way\n", msgs[msgs.size() - 3]);
        EXPECT_EQ("Orvane: Invalid ScanEngine Path\n", msgs[msgs.size() - 2]);
        EXPECT_EQ(-1, FindPrefix(msgs, "Orvane: File Copy from"));
        EXPECT_FALSE(KeyExists(s_szKey));
        EXPECT_EQ(m_strPathBefore, EnvStr(s_szNtEnvKey, "PATH"));
        EXPECT_EQ("not a directory\r\n", harness::ReadFileBytes(strFile));
    }

    // Update whose stored directory is that file: refused before the record or the environment
    // change; the record keeps what it held.
    harness::ResetState();
    PlantRecord(strFile, 3, 4, "|A|");
    EXPECT_EQ(3u, Run("/PROD:B", m_strPackage));
    std::vector<std::string> msgs = LastRunMessages();
    EXPECT_TRUE(HasMessage(msgs, strRefused + strFile + "], a file is in the way\n"));
    EXPECT_EQ(-1, FindPrefix(msgs, "Orvane: File Copy from"));
    EXPECT_EQ("|A|", RecStr(s_szKey, "ProductList"));
    EXPECT_EQ(4u, RecDword("ReferenceCount"));
    EXPECT_EQ(strFile, RecStr(s_szPathKey, "Engine"));
    EXPECT_EQ("", RecStr(s_szPathKey, "Logs"));
    EXPECT_EQ(m_strPathBefore, EnvStr(s_szNtEnvKey, "PATH"));
    EXPECT_EQ("not a directory\r\n", harness::ReadFileBytes(strFile));
}

TEST_F(FaultRun, RecordValuesOfUnexpectedTypes)
{
    REQUIRE_WINE();
    struct Case
    {
        const char* pszName;
        const char* pszKey;
        const char* pszValue;
        DWORD dwType;
        std::string data;
        DWORD dwRefAfter;         // ReferenceCount after an update by B
        const char* pszListAfter; // ProductList after, nullptr: the value kept as planted
    };
    const std::string strLong(300, 'Q');
    const Case cases[] = {
        // A count that cannot be read counts as none: the new product makes it 1.
        {"count as text", s_szKey, "ReferenceCount", REG_SZ, std::string("5\0", 2), 1, "|A|B|"},
        {"count as binary", s_szKey, "ReferenceCount", REG_BINARY, Dword(5), 1, "|A|B|"},
        {"count of 8 bytes", s_szKey, "ReferenceCount", REG_QWORD, Dword(5) + Dword(0), 1, "|A|B|"},
        {"count of 2 bytes", s_szKey, "ReferenceCount", REG_DWORD, std::string("\x05\x00", 2), 6,
         "|A|B|"},
        {"list without its NUL", s_szKey, "ProductList", REG_SZ, "|A|", 2, "|A|B|"},
        {"empty list", s_szKey, "ProductList", REG_SZ, "", 2, "|B|"},
        {"list as multi-string", s_szKey, "ProductList", REG_MULTI_SZ,
         std::string("|A|\0|C|\0\0", 9), 2, nullptr},
        {"list as expandable text", s_szKey, "ProductList", REG_EXPAND_SZ,
         std::string("|A|C|\0", 6), 2, nullptr},
        {"list longer than a reader takes", s_szKey, "ProductList", REG_SZ,
         "|" + strLong + "|" + std::string(1, '\0'), 2, nullptr},
        {"engine set as binary", s_szKey, "dwEngIDs", REG_BINARY, Dword(1), 2, "|A|B|"},
        {"engine directory without its NUL", s_szPathKey, "Engine", REG_SZ, "", 2, "|A|B|"},
        {"engine directory as a number", s_szPathKey, "Engine", REG_DWORD, Dword(7), 2, "|A|B|"},
        {"logs directory as a number", s_szPathKey, "Logs", REG_DWORD, Dword(7), 2, "|A|B|"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        harness::ResetState();
        Install();
        std::string data = c.data;
        if (std::string(c.pszName) == "engine directory without its NUL")
            data = m_strEng; // the stored directory, its NUL left off
        harness::SetMachineValue(c.pszKey, c.pszValue, c.dwType, data.data(), (DWORD)data.size());

        DWORD dwExit = Run("/PROD:B /PATH:" + m_strEng, m_strPackage);
        EXPECT_EQ(0u, dwExit);
        std::vector<std::string> msgs = LastRunMessages();
        ASSERT_FALSE(msgs.empty());
        EXPECT_EQ(s_szEnd, msgs.back());
        EXPECT_TRUE(HasMessage(msgs, s_szNoReboot));
        EXPECT_EQ(c.dwRefAfter, RecDword("ReferenceCount"));
        if (c.pszListAfter)
        {
            EXPECT_EQ(c.pszListAfter, RecStr(s_szKey, "ProductList"));
        }
        else
        {
            // The list of other products is kept, type and bytes.
            DWORD dwType = 0;
            std::string stored;
            ASSERT_TRUE(harness::ReadMachineValue(s_szKey, "ProductList", &dwType, &stored));
            EXPECT_EQ(c.dwType, dwType);
            EXPECT_EQ(c.data, stored);
        }
        EXPECT_EQ(m_strEng, RecStr(s_szPathKey, "Engine"));
        EXPECT_EQ(ExpectedEngineFiles(3, GroupNt), DirNames(m_strEng));
        EXPECT_EQ(m_strPathBefore + ";" + harness::ShortName(m_strEng),
                  EnvStr(s_szNtEnvKey, "PATH"));
    }
}

TEST_F(FaultRun, EnvironmentValuesOfUnexpectedTypesAreKept)
{
    REQUIRE_WINE();
    struct Case
    {
        const char* pszName;
        DWORD dwType;
        std::string data;
        bool bEdited; // the PATH is a text the run edits; otherwise kept as it is
    };
    std::string strLong;
    for (int i = 0; i < 1500; i++)
        strLong += "C:\\Long\\Dir" + std::to_string(i) + ";";
    strLong += "C:\\End";
    const Case cases[] = {
        {"expandable", REG_EXPAND_SZ,
         std::string("%SystemRoot%\\system32;%SystemRoot%") + std::string(1, '\0'), true},
        {"text without its NUL", REG_SZ, "C:\\A;C:\\B", true},
        {"empty text", REG_SZ, std::string(), true},
        {"very long", REG_EXPAND_SZ, strLong + std::string(1, '\0'), true},
        {"multi-string", REG_MULTI_SZ, std::string("C:\\A\0C:\\B\0\0", 11), false},
        {"number", REG_DWORD, Dword(42), false},
        {"binary", REG_BINARY, std::string("C:\\A;C:\\B", 9), false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        harness::ResetState();
        WriteRaw(s_szNtEnvKey, "PATH", c.dwType, c.data);
        DWORD dwAv = 9;
        WriteRaw(s_szNtEnvKey, "AVENGINE", REG_DWORD, Dword(dwAv));
        EXPECT_EQ(0u, Run("/PROD:A /PATH:" + m_strEng, m_strPackage));
        std::vector<std::string> msgs = LastRunMessages();
        ASSERT_FALSE(msgs.empty());
        EXPECT_EQ(s_szEnd, msgs.back());
        std::string strEngShort = harness::ShortName(m_strEng);
        EXPECT_EQ(strEngShort, EnvStr(s_szNtEnvKey, "AVENGINE"));
        RawValue path = ReadRaw(s_szNtEnvKey, "PATH");
        EXPECT_EQ(c.dwType, path.dwType);
        if (c.bEdited)
        {
            std::string strBefore = c.data.substr(0, c.data.find('\0'));
            EXPECT_EQ(strBefore + ";" + strEngShort + std::string(1, '\0'), path.data);
        }
        else
        {
            EXPECT_EQ(c.data, path.data);
            EXPECT_NE(-1, FindPrefix(msgs, "SetRegistryAndService: PATH is unreadable"));
        }
        // An update over it changes nothing more: the entry is there once.
        EXPECT_EQ(0u, Run("/PROD:A", m_strPackage));
        EXPECT_EQ(path, ReadRaw(s_szNtEnvKey, "PATH"));
    }
}

TEST_F(FaultRun, PendingRenamesOfUnexpectedTypesAreKept)
{
    REQUIRE_WINE();
    struct Case
    {
        const char* pszName;
        DWORD dwType;
        std::string data;
    };
    const Case cases[] = {
        {"number", REG_DWORD, Dword(1)},
        {"binary", REG_BINARY, std::string("\\??\\C:\\x\0\0", 10)},
        {"text", REG_SZ, std::string("\\??\\C:\\x\0", 9)},
        {"empty", REG_SZ, std::string()},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        harness::ResetState();
        Install();
        std::string strNew = NewerOskaPackage("newpkg");
        std::string strDll = m_strEng + "\\Osk32dll.dll";
        WriteRaw(s_szSessionKey, "PendingFileRenameOperations", c.dwType, c.data);
        RawValue before = ReadRaw(s_szSessionKey, "PendingFileRenameOperations");
        std::string strWinInit = harness::ReadFileBytes(harness::WinInitPath());
        {
            HeldFile held(strDll);
            ASSERT_TRUE(held.IsHeld());
            EXPECT_EQ(2u, Run("/PROD:A", strNew));
        }
        std::vector<std::string> msgs = LastRunMessages();
        EXPECT_TRUE(HasMessage(msgs, s_szNeedReboot));
        // The delayed move is refused over a value of another type, and WININIT.INI carries the
        // request; the value itself is left as the machine had it.
        EXPECT_TRUE(HasMessage(msgs, "RemoveFileOnReboot: Win9x\n"));
        EXPECT_EQ(before, ReadRaw(s_szSessionKey, "PendingFileRenameOperations"));
        std::string strAfter = harness::ReadFileBytes(harness::WinInitPath());
        std::string strTarget = harness::ShortUpper(strDll);
        EXPECT_NE(std::string::npos, strAfter.find("NUL=" + strTarget + "\r\n" + strTarget + "=" +
                                                   harness::ShortUpper(strDll + "000") + "\r\n"))
            << strAfter;
        // Every earlier byte of WININIT.INI is still there, in order.
        size_t nFrom = 0;
        for (char ch : strWinInit)
        {
            nFrom = strAfter.find(ch, nFrom);
            ASSERT_NE(std::string::npos, nFrom);
            nFrom++;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// A volume that fills during an update's copy.

TEST_F(FaultRun, VolumeThatFillsDuringTheCopyLeavesNoInstalledFileDamaged)
{
    REQUIRE_WINE();
    if (SmallDrive().empty())
        GTEST_SKIP() << "no small volume as drive X: (the machine refused the tmpfs mount)";
    const std::string strEng = "X:\\eng";
    // The installed engine: the sample package, put there as a first install on a larger drive
    // would have, and the record that points at it.
    ASSERT_TRUE(CreateDirectoryA(strEng.c_str(), NULL));
    std::vector<std::string> installed;
    for (const auto* pSection : {&s_filesSection, &s_oskaSection, &s_brinSection})
        for (const std::string& strName : *pSection)
            if (std::find(s_not9xFiles.begin(), s_not9xFiles.end(), strName) == s_not9xFiles.end())
            {
                ASSERT_TRUE(CopyFileA((m_strPackage + "\\" + strName).c_str(),
                                      (strEng + "\\" + strName).c_str(), FALSE));
                installed.push_back(strName);
            }
    ASSERT_TRUE(CreateDirectoryA((strEng + "\\Logs").c_str(), NULL));
    ASSERT_TRUE(CreateDirectoryA((strEng + "\\Incoming").c_str(), NULL));
    PlantRecord(strEng, 3, 1, "|A|");
    std::vector<std::string> before = DirNames(strEng);

    // A package whose engine files are each about 1 MiB larger and newer.
    std::string strBig = SamplePackage("bigpkg");
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    for (const std::string& strName : installed)
    {
        std::string strPath = strBig + "\\" + strName;
        std::string data = harness::ReadFileBytes(strPath) + std::string(1 << 20, 'P');
        ASSERT_TRUE(harness::WriteFileBytes(strPath, data));
        HANDLE h =
            CreateFileA(strPath.c_str(), FILE_WRITE_ATTRIBUTES, 0, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        SetFileTime(h, NULL, NULL, &ft);
        CloseHandle(h);
    }
    // Leave room for one and a half of them.
    ULARGE_INTEGER free, total, totalFree;
    ASSERT_TRUE(GetDiskFreeSpaceExA("X:\\", &free, &total, &totalFree));
    ULONGLONG ullKeep = 1536ull * 1024;
    if (free.QuadPart > ullKeep)
    {
        ASSERT_TRUE(harness::WriteFileBytes("X:\\filler",
                                            std::string((size_t)(free.QuadPart - ullKeep), 'F')));
    }

    DWORD dwExit = Run("/PROD:B", strBig);
    DeleteFileA("X:\\filler");
    EXPECT_EQ(2u, dwExit) << "copies that failed ask for the restart";
    std::vector<std::string> msgs = LastRunMessages();
    ASSERT_FALSE(msgs.empty());
    EXPECT_EQ(s_szEnd, msgs.back());
    EXPECT_TRUE(HasMessage(msgs, s_szNeedReboot));
    int nFull = 0;
    for (const std::string& strMsg : msgs)
        if (strMsg.find("Orvane: Can't do CopyFile from [") == 0 &&
            (strMsg.find("with error [112]") != std::string::npos ||
             strMsg.find("with error [39]") != std::string::npos))
            nFull++;
    EXPECT_GT(nFull, 0) << "the log names the full volume";
    EXPECT_NE(-1, FindPrefix(msgs, "Orvane: File Copy from [")) << "the first file fitted";

    // Every installed file is either its old or its new content, never cut short or gone, and
    // no work file is left behind. A staged copy that exists is whole.
    int nReplaced = 0, nKept = 0;
    for (const std::string& strName : installed)
    {
        SCOPED_TRACE(strName);
        std::string strTarget = strEng + "\\" + strName;
        bool bExists;
        std::string data = harness::ReadFileBytes(strTarget, &bExists);
        ASSERT_TRUE(bExists);
        if (data == harness::ReadFileBytes(strBig + "\\" + strName))
            nReplaced++;
        else if (data == harness::ReadFileBytes(m_strPackage + "\\" + strName))
            nKept++;
        else
            ADD_FAILURE() << "damaged: " << data.size() << " bytes";
        if (harness::FileExists(strTarget + "000"))
        {
            EXPECT_TRUE(SameContent(strBig + "\\" + strName, strTarget + "000"));
        }
    }
    EXPECT_GT(nReplaced, 0);
    EXPECT_GT(nKept, 0);
    std::vector<std::string> after = DirNames(strEng);
    after.erase(std::remove_if(after.begin(), after.end(),
                               [](const std::string& s)
                               { return s.size() > 3 && s.compare(s.size() - 3, 3, "000") == 0; }),
                after.end());
    EXPECT_EQ(before, after);
    EXPECT_EQ("|A|B|", RecStr(s_szKey, "ProductList"));
    EXPECT_EQ(2u, RecDword("ReferenceCount"));
}

} // namespace
