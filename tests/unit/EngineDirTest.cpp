#include "UnitFixture.h"

#include "SecurityFakes.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

using harness::LastRunMessages;

namespace
{

const char s_szCurrentVersion[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

class EngineDir : public UnitTest
{
  protected:
    void SetUp() override
    {
        UnitTest::SetUp();
        m_pRun.reset(new RUN_STATE());
        m_pReg.reset(new RegBaseKeyClass(HKEY_LOCAL_MACHINE));
        m_pRun->pReg = m_pReg.get();
    }
    void TearDown() override
    {
        m_pReg.reset();
        UnitTest::TearDown();
    }
    // A fresh run with this path argument and a fresh log; the registry stays as the test set it.
    RUN_STATE* Run(const std::string& strArg, const char* pszProduct = "")
    {
        DeleteFileA(harness::LogPath().c_str());
        g_nLogState = -1;
        ZeroMemory(m_pRun.get(), sizeof(RUN_STATE));
        m_pRun->pReg = m_pReg.get();
        lstrcpynA(m_pRun->lpCmdLine, strArg.c_str(), sizeof(m_pRun->lpCmdLine));
        lstrcpynA(m_pRun->szProductName, pszProduct, sizeof(m_pRun->szProductName));
        return m_pRun.get();
    }
    // The refusal tail: reason and the invalid-path line. The End banner after them is the run's
    // way out, which the whole-process tests of the refusals pin.
    static void ExpectRefusal(const std::string& strReason)
    {
        std::vector<std::string> msgs = LastRunMessages();
        ASSERT_GE(msgs.size(), 2u);
        EXPECT_EQ(strReason, msgs[msgs.size() - 2]);
        EXPECT_EQ("Orvane: Invalid ScanEngine Path\n", msgs.back());
    }
    std::unique_ptr<RUN_STATE> m_pRun;
    std::unique_ptr<RegBaseKeyClass> m_pReg;
};

TEST_F(EngineDir, FirstInstallFromTheArgument)
{
    RUN_STATE* pRun = Run("D:\\Shared\\Eng");
    EXPECT_EQ(0, ResolveFirstInstallEngineDir(pRun));
    EXPECT_STREQ("D:\\Shared\\Eng", pRun->szEngPath);
    EXPECT_EQ(std::vector<std::string>{"Orvane: Check if multibyte\n"}, LastRunMessages());

    // A drive root goes below that drive's Program Files, whatever ProgramFilesDir says; the
    // root line has no line end of its own.
    harness::SetMachineString(s_szCurrentVersion, "ProgramFilesDir", "E:\\Progs");
    pRun = Run("D:\\");
    EXPECT_EQ(0, ResolveFirstInstallEngineDir(pRun));
    EXPECT_STREQ("D:\\Program Files\\QM\\SharedComponents\\ScanEngine", pRun->szEngPath);
    EXPECT_EQ((std::vector<std::string>{"Orvane: can't copy engine files to root dir [D:\\] ",
                                        "Orvane: the engine files are now copying to "
                                        "[D:\\Program Files\\QM\\SharedComponents\\ScanEngine]\n",
                                        "Orvane: Check if multibyte\n"}),
              LastRunMessages());
    std::string strLog = harness::ReadLog();
    EXPECT_NE(std::string::npos, strLog.find("root dir [D:\\] < ")) << strLog;
}

TEST_F(EngineDir, FirstInstallRefusals)
{
    struct
    {
        const char* pszArg;
        std::string strReason;
    } cases[] = {
        {"relative\\dir", "Orvane: Invalid Scan Engine path [relative\\dir], please try again!!\n"},
        {"\\\\server\\share\\eng",
         "Orvane: Invalid Scan Engine path [\\\\server\\share\\eng], please try again!!\n"},
        {"X:", "Orvane: Invalid Scan Engine path [X:], please try again!!\n"},
        {":\\", "Orvane: Invalid Scan Engine path [:\\], please try again!!\n"},
        {"ab:\\eng",
         "Orvane: Invalid Scan Engine path [ab:\\eng] from argument, can't copy file.\n"},
        {"C:\\Moteur\xE9", "Orvane: Invalid Scan Engine path [C:\\Moteur\xE9], can't install "
                           "with localized path.\n"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszArg);
        RUN_STATE* pRun = Run(c.pszArg);
        EXPECT_EQ(3, ResolveFirstInstallEngineDir(pRun));
        ExpectRefusal(c.strReason);
    }

    // Too long to hold its Incoming directory: refused, not cut.
    std::string strLong = "C:\\" + std::string(248, 'e');
    RUN_STATE* pRun = Run(strLong);
    EXPECT_EQ(3, ResolveFirstInstallEngineDir(pRun));
    ExpectRefusal("Orvane: Invalid Scan Engine path [" + strLong +
                  "], longer than 250 characters\n");
    pRun = Run(strLong.substr(0, 250));
    EXPECT_EQ(0, ResolveFirstInstallEngineDir(pRun));
}

TEST_F(EngineDir, DefaultDirectoryAndProductName)
{
    harness::SetMachineString(s_szCurrentVersion, "ProgramFilesDir", "E:\\Progs");
    RUN_STATE* pRun = Run("");
    EXPECT_EQ(0, ResolveFirstInstallEngineDir(pRun));
    EXPECT_STREQ("E:\\Progs\\QM\\SharedComponents\\ScanEngine", pRun->szEngPath);
    EXPECT_STREQ("MORVELIN", pRun->szProductName);
    // Judged twice: the program-files directory, then the whole directory.
    EXPECT_EQ((std::vector<std::string>{
                  "Orvane: Check if multibyte\n",
                  "Orvane: Missing engine path from registry and from argument, set to default "
                  "path[E:\\Progs\\QM\\SharedComponents\\ScanEngine] ProductName[MORVELIN]\n",
                  "Orvane: Check if multibyte\n"}),
              LastRunMessages());

    // A given product name is kept (upper-cased); an absent value gives c:\Program Files.
    harness::DeleteMachineValue(s_szCurrentVersion, "ProgramFilesDir");
    pRun = Run("", "Suite");
    EXPECT_EQ(0, ResolveFirstInstallEngineDir(pRun));
    EXPECT_STREQ("c:\\Program Files\\QM\\SharedComponents\\ScanEngine", pRun->szEngPath);
    EXPECT_STREQ("SUITE", pRun->szProductName);

    // A localized program-files directory is replaced by its drive and "\Program Files".
    harness::SetMachineString(s_szCurrentVersion, "ProgramFilesDir", "F:\\Programm\xE9");
    pRun = Run("");
    EXPECT_EQ(0, ResolveFirstInstallEngineDir(pRun));
    EXPECT_STREQ("F:\\Program Files\\QM\\SharedComponents\\ScanEngine", pRun->szEngPath);

    // Without a drive it is refused.
    harness::SetMachineString(s_szCurrentVersion, "ProgramFilesDir", "Programm\xE9");
    pRun = Run("");
    EXPECT_EQ(3, ResolveFirstInstallEngineDir(pRun));
    ExpectRefusal("Orvane: Invalid Scan Engine path [Programm\xE9], please try again!!\n");

    // One too long to take the sub-path is refused, not cut.
    std::string strLong = "G:\\" + std::string(230, 'p');
    harness::SetMachineString(s_szCurrentVersion, "ProgramFilesDir", strLong);
    pRun = Run("");
    EXPECT_EQ(3, ResolveFirstInstallEngineDir(pRun));
    ExpectRefusal("Orvane: Invalid Scan Engine path [" + strLong +
                  "\\QM\\SharedComponents\\ScanEngine], longer than 250 characters\n");
}

TEST_F(EngineDir, UpdateTakesTheStoredDirectoryFirst)
{
    BOOL bFromRecord = FALSE;
    harness::SetMachineString(REG_SCANENGINE_PATH, "Engine", "E:\\Stored");
    RUN_STATE* pRun = Run("F:\\Argument");
    EXPECT_EQ(0, ResolveUpdateEngineDir(pRun, &bFromRecord));
    EXPECT_STREQ("E:\\Stored", pRun->szEngPath);
    EXPECT_TRUE(bFromRecord);

    // A stored root is used as stored.
    harness::SetMachineString(REG_SCANENGINE_PATH, "Engine", "E:\\");
    pRun = Run("");
    EXPECT_EQ(0, ResolveUpdateEngineDir(pRun, &bFromRecord));
    EXPECT_STREQ("E:\\", pRun->szEngPath);

    // An invalid stored directory refuses the run even with a valid argument.
    harness::SetMachineString(REG_SCANENGINE_PATH, "Engine", "Stored");
    pRun = Run("F:\\Argument");
    EXPECT_EQ(3, ResolveUpdateEngineDir(pRun, &bFromRecord));
    ExpectRefusal("Orvane: Invalid Scan Engine path [Stored], please try again!!\n");

    harness::SetMachineString(REG_SCANENGINE_PATH, "Engine", "ab:\\x");
    pRun = Run("F:\\Argument");
    EXPECT_EQ(3, ResolveUpdateEngineDir(pRun, &bFromRecord));
    ExpectRefusal("Orvane: Invalid Scan Engine path [ab:\\x] from registry, can't copy file \n");

    harness::SetMachineString(REG_SCANENGINE_PATH, "Engine", "E:\\Stor\xE9");
    pRun = Run("");
    EXPECT_EQ(3, ResolveUpdateEngineDir(pRun, &bFromRecord));
    ExpectRefusal(
        "Orvane: Invalid Scan Engine path [E:\\Stor\xE9], can't install with localized path.\n");
}

TEST_F(EngineDir, UpdateWithoutAStoredDirectory)
{
    BOOL bFromRecord = TRUE;
    harness::SetMachineString(REG_SCANENGINE_PATH, "Engine", "");
    RUN_STATE* pRun = Run("F:\\Argument");
    EXPECT_EQ(0, ResolveUpdateEngineDir(pRun, &bFromRecord));
    EXPECT_STREQ("F:\\Argument", pRun->szEngPath);
    EXPECT_FALSE(bFromRecord);
    EXPECT_EQ((std::vector<std::string>{
                  "Orvane: Can't get eng path from registry\n",
                  "Orvane: files will be copied to dir [F:\\Argument], based on argument entered\n",
                  "Orvane: Check if multibyte\n"}),
              LastRunMessages());

    pRun = Run("G:\\");
    EXPECT_EQ(0, ResolveUpdateEngineDir(pRun, &bFromRecord));
    EXPECT_STREQ("G:\\Program Files\\QM\\SharedComponents\\ScanEngine", pRun->szEngPath);
    EXPECT_EQ("Orvane: get engine path from argument [G:\\]\n", LastRunMessages()[1]);

    pRun = Run("ab:\\xy");
    EXPECT_EQ(3, ResolveUpdateEngineDir(pRun, &bFromRecord));
    ExpectRefusal(
        "Orvane: Invalid Scan Engine path [ab:\\xy], can't copy files please try again!!\n");

    pRun = Run("Z:");
    EXPECT_EQ(3, ResolveUpdateEngineDir(pRun, &bFromRecord));
    ExpectRefusal("Orvane: Invalid Scan Engine path [Z:], please try again!!\n");

    // No argument: the default directory, judged only once (its program-files part).
    harness::SetMachineString(s_szCurrentVersion, "ProgramFilesDir", "E:\\Progs");
    pRun = Run("");
    EXPECT_EQ(0, ResolveUpdateEngineDir(pRun, &bFromRecord));
    EXPECT_STREQ("E:\\Progs\\QM\\SharedComponents\\ScanEngine", pRun->szEngPath);
    EXPECT_EQ((std::vector<std::string>{
                  "Orvane: Can't get eng path from registry\n", "Orvane: Check if multibyte\n",
                  "Orvane: Missing engine path from registry and from argument, set to default "
                  "[E:\\Progs\\QM\\SharedComponents\\ScanEngine]\n"}),
              LastRunMessages());
    EXPECT_STREQ("", pRun->szProductName);
}

TEST_F(EngineDir, SingleBytePathPlainTextPassesAccentsDoNot)
{
    EXPECT_TRUE(IsSingleBytePath("C:\\Program Files\\QM-1_2 (x86)"));
    EXPECT_FALSE(IsSingleBytePath("C:\\Caf\xE9"));
    EXPECT_FALSE(IsSingleBytePath("C:\\\xA0"));
}

// The names in a directory, in lower case, without "." and "..".
std::vector<std::string> Names(const std::string& strDir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA((strDir + "\\*").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return names;
    do
    {
        std::string str = fd.cFileName;
        for (char& ch : str)
            ch = (char)tolower((unsigned char)ch);
        if (str != "." && str != "..")
            names.push_back(str);
    } while (FindNextFileA(hFind, &fd));
    FindClose(hFind);
    return names;
}

// Wine reports no reparse points: the attribute is added for the chosen paths.
std::vector<std::string> g_reparse;

DWORD WINAPI FakeReparseAttributes(LPCSTR pszPath)
{
    DWORD dwAttr = GetFileAttributesA(pszPath);
    for (const std::string& str : g_reparse)
        if (dwAttr != INVALID_FILE_ATTRIBUTES && lstrcmpiA(str.c_str(), pszPath) == 0)
            dwAttr |= FILE_ATTRIBUTE_REPARSE_POINT;
    return dwAttr;
}

// A link on the way, a directory of another account's: refused before anything is written.
// Trusted owners pass, and a directory closed to others is left as it is.
TEST_F(EngineDir, LinksAndOtherAccountsDirectoriesAreRefused)
{
    const std::string strTop = harness::TestDir() + "\\top";
    const std::string strEng = strTop + "\\Eng";
    const std::string strLogs = strEng + "\\Logs";
    ASSERT_TRUE(CreateDirectoryA(strTop.c_str(), NULL));
    ASSERT_TRUE(CreateDirectoryA(strEng.c_str(), NULL));
    ASSERT_TRUE(CreateDirectoryA(strLogs.c_str(), NULL));
    const std::string strLink = "is a link (junction, symbolic link or mount point)";
    const std::string strClosed = "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    struct
    {
        const char* pszCase;
        std::string strReparse;
        std::string strOwnedPath, strSddl;
        std::string strFound; // "" when accepted
    } cases[] = {
        {"the engine directory a link", strEng, "", "", "[" + strEng + "] " + strLink},
        {"a parent a link", strTop, "", "", "[" + strTop + "] " + strLink},
        {"Logs a link", strLogs, "", "", "[" + strLogs + "] " + strLink},
        {"owned by another user", "", strEng, "O:S-1-5-21-7-8-9-1001" + strClosed,
         "[" + strEng + "] is owned by another account [S-1-5-21-7-8-9-1001]"},
        {"Logs owned by another user", "", strLogs, "O:S-1-5-21-7-8-9-1001" + strClosed,
         "[" + strLogs + "] is owned by another account [S-1-5-21-7-8-9-1001]"},
        {"owned by Administrators", "", strEng, "O:BA" + strClosed, ""},
        {"owned by TrustedInstaller", "", strEng,
         "O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464" + strClosed, ""},
        {"owned by the system account", "", strEng, "O:SY" + strClosed, ""},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszCase);
        secfake::Scope fakes;
        g_reparse = {c.strReparse};
        SeamOverrideGetFileAttributesA(FakeReparseAttributes);
        if (!c.strOwnedPath.empty())
            secfake::Answers()[secfake::Upper(c.strOwnedPath)] = c.strSddl;
        RUN_STATE* pRun = Run("");
        lstrcpynA(pRun->szEngPath, strEng.c_str(), sizeof(pRun->szEngPath));
        if (c.strFound.empty())
        {
            EXPECT_EQ(0, CheckEngineDirSafety(pRun));
            EXPECT_EQ(std::vector<std::string>{}, LastRunMessages());
        }
        else
        {
            EXPECT_EQ(3, CheckEngineDirSafety(pRun));
            ExpectRefusal("Orvane: Invalid Scan Engine path [" + strEng + "], " + c.strFound +
                          "\n");
        }
        EXPECT_EQ((std::map<std::string, std::string>{}), secfake::Given());
        EXPECT_FALSE(g_bGuardEngineFiles);
    }
    {
        // A volume that keeps no security (FAT) tells no owner and cannot be closed, and holds no
        // links: the run goes on as before.
        secfake::Scope fakes;
        secfake::Answers()[secfake::Upper(strEng)] = "";
        RUN_STATE* pRun = Run("");
        lstrcpynA(pRun->szEngPath, strEng.c_str(), sizeof(pRun->szEngPath));
        EXPECT_EQ(0, CheckEngineDirSafety(pRun));
        EXPECT_EQ(
            std::vector<std::string>{"Orvane: no security of [" + strEng + "] known, error [0]\n"},
            LastRunMessages());
        EXPECT_FALSE(g_bGuardEngineFiles);
    }
    // 95, 98 and ME have neither links nor owners.
    secfake::Scope fakes;
    g_reparse = {strEng};
    SeamOverrideGetFileAttributesA(FakeReparseAttributes);
    RUN_STATE* pRun = Run("");
    lstrcpynA(pRun->szEngPath, strEng.c_str(), sizeof(pRun->szEngPath));
    g_dwOSType = OSID_WME;
    EXPECT_EQ(0, CheckEngineDirSafety(pRun));
}

// What Wine does show: a directory whose Unix mode lets others write (the list Wine makes up then
// grants Everyone write) is one that others may change. It gets the protected list, which Wine
// maps onto the mode, so that its list then grants Everyone nothing.
TEST_F(EngineDir, DirectoryOthersMayChangeIsClosed)
{
    const std::string strEng = harness::TestDir() + "\\Eng";
    ASSERT_TRUE(CreateDirectoryA(strEng.c_str(), NULL));
    ASSERT_TRUE(harness::OpenDirToEveryone(strEng));
    ASSERT_EQ("0x1301ff", harness::EveryoneRights(strEng))
        << "Wine's list for a mode that lets others write";

    secfake::Scope fakes;
    SeamOverrideGetVersionExA(secfake::FakeWindows10);
    RUN_STATE* pRun = Run("");
    lstrcpynA(pRun->szEngPath, strEng.c_str(), sizeof(pRun->szEngPath));
    EXPECT_EQ(0, CheckEngineDirSafety(pRun));
    EXPECT_EQ(std::vector<std::string>{"Orvane: [" + strEng +
                                       "] could be changed by others, access now limited to "
                                       "administrators\n"},
              LastRunMessages());
    EXPECT_EQ((std::map<std::string, std::string>{{strEng, secfake::ProtectedSddl(true)}}),
              secfake::Given());
    EXPECT_TRUE(g_bGuardEngineFiles);
    // Wine maps Users' read and execute onto the mode's bits for others.
    EXPECT_EQ("0x1200a9", harness::EveryoneRights(strEng));

    // Closed now: the next run finds nothing to do.
    pRun = Run("");
    lstrcpynA(pRun->szEngPath, strEng.c_str(), sizeof(pRun->szEngPath));
    EXPECT_EQ(0, CheckEngineDirSafety(pRun));
    EXPECT_EQ(std::vector<std::string>{}, LastRunMessages());
    EXPECT_FALSE(g_bGuardEngineFiles);
}

// The flows themselves, in this process so that the seam can show a link: the first install
// into a link and the removal over an engine directory replaced by one end with 3 before any
// write or deletion; the record, the environment and the files stay as they were.
TEST_F(EngineDir, FirstInstallAndRemovalRefuseALinkAndChangeNothing)
{
    const std::string strEng = harness::TestDir() + "\\Eng";
    ASSERT_TRUE(CreateDirectoryA(strEng.c_str(), NULL));
    ASSERT_TRUE(harness::WriteFileBytes(strEng + "\\Osk32dll.dll", "victim's"));
    g_dwOSType = OSID_W2K;
    const std::string strRefusal = "Orvane: Invalid Scan Engine path [" + strEng + "], [" + strEng +
                                   "] is a link (junction, symbolic link or mount point)\n";
    DWORD dwType;
    std::string strValue;
    {
        // A first install into another account's directory, too.
        secfake::Scope fakes;
        secfake::Answers()[secfake::Upper(strEng)] = "O:S-1-5-21-7-8-9-1001D:(A;OICI;FA;;;WD)";
        RUN_STATE* pRun = Run(strEng, "QUILLPEN");
        EXPECT_EQ(3, RunFirstInstall(pRun));
        ExpectRefusal("Orvane: Invalid Scan Engine path [" + strEng + "], [" + strEng +
                      "] is owned by another account [S-1-5-21-7-8-9-1001]\n");
        EXPECT_EQ((std::map<std::string, std::string>{}), secfake::Given());
    }
    g_reparse = {strEng};
    SeamOverrideGetFileAttributesA(FakeReparseAttributes);
    RUN_STATE* pRun = Run(strEng, "QUILLPEN");
    EXPECT_EQ(3, RunFirstInstall(pRun));
    ExpectRefusal(strRefusal);
    EXPECT_FALSE(harness::ReadMachineValue(REG_SCANENGINE_PATH, "Engine", &dwType, &strValue));
    EXPECT_FALSE(harness::ReadMachineValue(REG_SCANENGINE, "ReferenceCount", &dwType, &strValue));
    EXPECT_FALSE(harness::ReadMachineValue(
        "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", "AVENGINE", &dwType,
        &strValue));
    EXPECT_EQ(std::vector<std::string>{"osk32dll.dll"}, Names(strEng));

    harness::SetMachineString(REG_SCANENGINE_PATH, "Engine", strEng);
    DWORD dwOne = 1;
    harness::SetMachineValue(REG_SCANENGINE, "ReferenceCount", REG_DWORD, &dwOne, sizeof(dwOne));
    harness::SetMachineString(REG_SCANENGINE, "ProductList", "|QUILLPEN|");
    pRun = Run("", "QUILLPEN");
    EXPECT_EQ(3, RunRemove(pRun));
    ExpectRefusal(strRefusal);
    EXPECT_EQ("victim's", harness::ReadFileBytes(strEng + "\\Osk32dll.dll"));
    EXPECT_EQ(std::vector<std::string>{"osk32dll.dll"}, Names(strEng));
    ASSERT_TRUE(harness::ReadMachineValue(REG_SCANENGINE, "ReferenceCount", &dwType, &strValue));
    EXPECT_EQ(std::string((const char*)&dwOne, sizeof(dwOne)), strValue);
    ASSERT_TRUE(harness::ReadMachineValue(REG_SCANENGINE, "ProductList", &dwType, &strValue));
    EXPECT_EQ(0, strValue.compare(0, 10, "|QUILLPEN|"));
}

} // namespace
