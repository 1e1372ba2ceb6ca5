// The package check run as a build script runs it, "Pelmora.exe /CHECK > report.txt": the report
// on standard output and in the log, the answer, and nothing changed. And for two of its
// findings, the harm it predicts, shown by real runs of the same package.
#include "FlowSupport.h"

#include <string>
#include <vector>

using namespace flow;
using harness::FindPrefix;
using harness::HasMessage;
using harness::LastRunMessages;
using harness::RunOptions;

namespace
{

const DWORD s_dwCheckErrors = 0x2000000A;

class PackageCheck : public FlowTest
{
  protected:
    void TearDown() override
    {
        harness::DeleteTree(s_szShortPackage);
        FlowTest::TearDown();
    }
    // Runs the check in strPackage; the report as written to standard output, line by line.
    DWORD Check(const std::string& strArgs, const std::string& strPackage,
                std::vector<std::string>* pReport)
    {
        RunOptions opts;
        opts.strCurDir = strPackage;
        opts.strStdOut = harness::TestDir() + "\\report.txt";
        DWORD dwExit = harness::RunPelmora(strArgs, opts);
        std::string strOut = harness::ReadFileBytes(opts.strStdOut);
        pReport->clear();
        for (size_t nStart = 0; nStart < strOut.size();)
        {
            size_t nEnd = strOut.find("\r\n", nStart);
            EXPECT_NE(std::string::npos, nEnd) << "every line ends in CR LF";
            if (nEnd == std::string::npos)
                break;
            pReport->push_back(strOut.substr(nStart, nEnd - nStart));
            nStart = nEnd + 2;
        }
        return dwExit;
    }
    DWORD Run(const std::string& strArgs, const std::string& strPackage)
    {
        RunOptions opts;
        opts.strCurDir = strPackage;
        return harness::RunPelmora(strArgs, opts);
    }
    static std::string EngineDir()
    {
        return harness::DefaultEngineRoot() + "\\SharedComponents\\ScanEngine";
    }
    // The report's lines are the log's too, after "Orvane: ".
    static void ExpectLogged(const std::vector<std::string>& report)
    {
        std::vector<std::string> msgs = LastRunMessages();
        for (const std::string& strLine : report)
            EXPECT_TRUE(HasMessage(msgs, "Orvane: " + strLine + "\n")) << strLine;
        EXPECT_EQ(s_szEnd, msgs.empty() ? "" : msgs.back());
    }
    // A package directory short enough that a name can fit beside it and not in the engine
    // directory with "000".
    static const char s_szShortPackage[];
};

const char PackageCheck::s_szShortPackage[] = "C:\\pmcheck";

// Sections of key=value lines as a manifest.
std::string Manifest(const std::vector<std::pair<std::string, std::vector<std::string>>>& sections)
{
    std::string strText;
    for (const auto& section : sections)
    {
        strText += "[" + section.first + "]\r\n";
        for (const std::string& strLine : section.second)
            strText += strLine + "\r\n";
    }
    return strText;
}

// A BRIN section whose three first keys fill the 260-character key list (81 characters each with
// its NUL) so that the fourth, Late.dat, is past it.
std::vector<std::string> OverflowingBrin()
{
    return {std::string(80, 'a') + "=Brine.dll", std::string(80, 'b') + "=Brin.da1",
            std::string(80, 'c') + "=Brin.dat", std::string(80, 'd') + "=Late.dat"};
}

// ---------------------------------------------------------------------------------------------

TEST_F(PackageCheck, SamplePackageIsCleanAndNothingChanges)
{
    REQUIRE_WINE();
    std::string strPackage = SamplePackage("pkg");
    std::vector<std::string> report;
    EXPECT_EQ(0u, Check("/CHECK", strPackage, &report));
    std::vector<std::string> expected = {
        "Package check of [" + strPackage + "] for the engine directory [" + EngineDir() + "]",
        "Summary: 0 error(s), 0 warning(s); a run deploys 4 entries of FILES, 6 of OSKA, 4 of BRIN",
    };
    EXPECT_EQ(expected, report);
    ExpectLogged(report);
    EXPECT_FALSE(KeyExists(s_szKey)) << "no registry write";
    EXPECT_FALSE(harness::FileExists(harness::DefaultEngineRoot())) << "no engine directory";

    // No manifest: 4, as for every run.
    DeleteFileA((strPackage + "\\FileList.ini").c_str());
    EXPECT_EQ(4u, Check("/check", strPackage, &report));
    EXPECT_TRUE(report.empty());
}

TEST_F(PackageCheck, EveryMistakeIsReportedOnePerEntry)
{
    REQUIRE_WINE();
    const std::string strPkg = s_szShortPackage;
    harness::DeleteTree(strPkg);
    ASSERT_TRUE(CreateDirectoryA(strPkg.c_str(), NULL));
    ASSERT_TRUE(CreateDirectoryA((strPkg + "\\sub").c_str(), NULL));
    std::string strSample = harness::BuildDir() + "\\sample\\";
    for (const char* psz : {"salvor.exe", "Osk32dll.dll", "Brine.dll", "Brin.da1", "Brin.dat"})
        ASSERT_TRUE(CopyFileA((strSample + psz).c_str(), (strPkg + "\\" + psz).c_str(), FALSE));
    ASSERT_TRUE(
        CopyFileA((strSample + "Morcmd.exe").c_str(), (strPkg + "\\MORCMD.EXE").c_str(), FALSE));
    for (const char* psz : {"NoVersion.dll", "Other.dat", "Late.dat", "sub\\Inside.dat"})
        ASSERT_TRUE(harness::WriteFileBytes(strPkg + "\\" + psz, "data\r\n"));
    // One character too many for the staged name under the default engine directory; the
    // packaged file itself fits.
    std::string strLong(256 - EngineDir().size(), 'L');
    ASSERT_TRUE(harness::WriteFileBytes(strPkg + "\\" + strLong, "data\r\n"));

    ASSERT_TRUE(
        harness::WriteFileBytes(strPkg + "\\FileList.ini",
                                Manifest({{"FILES",
                                           {"1=salvor.exe", "2=Missing.dat", "3=..\\Outside.dat",
                                            "4=sub\\Inside.dat", "5=salvor.exe", "6=NoVersion.dll",
                                            "7=MORCMD.EXE", "8=" + strLong, "9=", "2=Other.dat"}},
                                          {"OSKA", {"1=Osk32dll.dll", "2=Gone.dat"}},
                                          {"BRIN", OverflowingBrin()}})));

    std::vector<std::string> report;
    EXPECT_EQ(s_dwCheckErrors, Check("/Check", strPkg, &report));
    const std::string strEng = EngineDir();
    std::vector<std::string> expected = {
        "Package check of [" + strPkg + "] for the engine directory [" + strEng + "]",
        "error: [FILES] 2=Missing.dat: listed file missing from the package: a run never deploys "
        "it",
        "error: [FILES] 3=..\\Outside.dat: not a plain file name inside the engine directory: a "
        "run refuses it, the file is never deployed",
        "error: [FILES] 4=sub\\Inside.dat: not a plain file name inside the engine directory: the "
        "copy fails on every run, and an update answers 2 (restart needed)",
        "warning: [FILES] 5=salvor.exe: the same file as [FILES] 1=salvor.exe: a run copies it "
        "twice, and a staged copy of the first is overwritten by the second",
        "warning: [FILES] 6=NoVersion.dll: DLL or program without a version resource: the "
        "freshness test falls back to the last-write times, so a rebuilt older version with a "
        "later date replaces a newer one",
        "warning: [FILES] 7=MORCMD.EXE: differs only in letter case from Morcmd.exe: a run "
        "compares that name with case and does not treat this file as Morcmd.exe",
        "error: [FILES] 8=" + strLong + ": under the default engine directory " + strEng +
            ", with 000 appended for staging, the path does not fit in 259 characters: a run "
            "skips it, the file is never deployed",
        "warning: [FILES] 9=: names no file: a run skips it",
        "error: [FILES] 2=Other.dat: repeated key name: a run reads only the first entry of that "
        "name, this file is never deployed",
        "error: [OSKA] 2=Gone.dat: listed file missing from the package: every run that deploys "
        "the OSKA section (a first install, an update bringing a newer engine) fails to copy it, "
        "and the update answers 2 (restart needed), again after every restart",
        "error: [OSKA] 1=Osk32dll.dll: engine DLL without its signature pair (Osksig.da0 and "
        "Osksig.dat not listed): a run deploys the DLL without it, while staging, when the DLL "
        "is in use, brings the pair along",
        "error: [BRIN] " + std::string(80, 'd') +
            "=Late.dat: past the 260-character key list of the section: a run never reads this "
            "entry, the file is never deployed",
        "Summary: 8 error(s), 4 warning(s); a run deploys 4 entries of FILES, 1 of OSKA, 3 of BRIN",
    };
    EXPECT_EQ(expected.size(), report.size());
    for (size_t i = 0; i < expected.size() || i < report.size(); i++)
        EXPECT_EQ(i < expected.size() ? expected[i] : "", i < report.size() ? report[i] : "")
            << "line " << i;
    ExpectLogged(report);
    EXPECT_FALSE(KeyExists(s_szKey)) << "no registry write";
    EXPECT_FALSE(harness::FileExists(harness::DefaultEngineRoot())) << "no engine directory";

    // Non-silent: the outcome and where the report is, in a message box.
    PROCESS_INFORMATION pi;
    RunOptions opts;
    opts.strCurDir = strPkg;
    ASSERT_TRUE(harness::StartPelmora("/CHECK /NS", opts, &pi));
    std::string strBox = ReadResultMessage(pi, "PackageCheckErrors");
    EXPECT_EQ(s_dwCheckErrors, harness::WaitForExit(&pi, 30000));
    EXPECT_EQ("The package check found 8 error(s) and 4 warning(s): the package would misbehave "
              "on users' machines. The report is in " +
                  harness::LogPath() + ".",
              strBox);
}

TEST_F(PackageCheck, EntriesPastTheKeyListAreNeverDeployed)
{
    REQUIRE_WINE();
    std::string strPackage = SamplePackage("pkg");
    ASSERT_TRUE(harness::WriteFileBytes(strPackage + "\\Late.dat", "data\r\n"));
    ASSERT_TRUE(harness::WriteFileBytes(strPackage + "\\FileList.ini",
                                        Manifest({{"BRIN", OverflowingBrin()}})));
    std::vector<std::string> report;
    EXPECT_EQ(s_dwCheckErrors, Check("/CHECK", strPackage, &report));
    EXPECT_EQ(3u, report.size());
    EXPECT_NE(std::string::npos, report[1].find("=Late.dat: past the 260-character key list"));

    std::string strEng = harness::TestDir() + "\\eng";
    EXPECT_EQ(0u, Run("/2 /PROD:A /PATH:" + strEng, strPackage));
    EXPECT_EQ((std::vector<std::string>{"brin.da1", "brin.dat", "brine.dll", "incoming", "logs"}),
              DirNames(strEng))
        << "everything but the entry past the key list";
}

TEST_F(PackageCheck, MissingEngineFileAsksForARestartThatNeverHelps)
{
    REQUIRE_WINE();
    std::string strEng = harness::TestDir() + "\\eng";
    ASSERT_EQ(0u, Run("/PROD:A /PATH:" + strEng, SamplePackage("pkg")));

    // The next release lists a new engine file and does not ship it.
    auto Broken = [](const char* pszName)
    {
        std::string strPackage = NewerOskaPackage(pszName);
        std::string strManifest = harness::ReadFileBytes(strPackage + "\\FileList.ini");
        size_t nAt = strManifest.find("[BRIN]");
        strManifest.insert(nAt, "7=OskRules.dat\r\n\r\n");
        EXPECT_TRUE(harness::WriteFileBytes(strPackage + "\\FileList.ini", strManifest));
        return strPackage;
    };
    std::string strNew = Broken("newpkg");
    std::vector<std::string> report;
    EXPECT_EQ(s_dwCheckErrors, Check("/CHECK", strNew, &report));
    ASSERT_EQ(3u, report.size());
    EXPECT_EQ(0u, report[1].find("error: [OSKA] 7=OskRules.dat: listed file missing"));

    const std::string strFailed =
        "Orvane: Can't do CopyFile from [" + strNew + "\\OskRules.dat] to [" + strEng;
    EXPECT_EQ(2u, Run("/PROD:A", strNew));
    EXPECT_NE(-1, FindPrefix(LastRunMessages(), strFailed));
    ASSERT_TRUE(harness::Restart());

    // After the restart the next update that brings a newer engine asks for one again.
    std::string strNewer = Broken("newerpkg");
    HANDLE hFile = CreateFileA((strNewer + "\\Osk32dll.dll").c_str(), FILE_WRITE_ATTRIBUTES, 0,
                               NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER uli = {{ft.dwLowDateTime, ft.dwHighDateTime}};
    uli.QuadPart += 10000000ull * 3600; // an hour after the installed copy
    ft.dwLowDateTime = uli.LowPart;
    ft.dwHighDateTime = uli.HighPart;
    SetFileTime(hFile, NULL, NULL, &ft);
    CloseHandle(hFile);
    EXPECT_EQ(2u, Run("/PROD:A", strNewer));
    EXPECT_TRUE(HasMessage(LastRunMessages(), "Orvane: Install completes, but NEED_REBOOT\n"));
    EXPECT_FALSE(harness::FileExists(strEng + "\\OskRules.dat"));
}

} // namespace
