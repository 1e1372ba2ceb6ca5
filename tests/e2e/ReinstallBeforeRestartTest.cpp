// A removal that finds the engine section in use asks for its files' deletion at the restart; an
// install before that restart must leave the engine whole after it, also where it finds the
// section current and copies nothing of it, and keep the directories the removal asked to delete.
#include "FlowSupport.h"

#include "Restart.h"

#include <memory>
#include <string>
#include <vector>

using namespace flow;

namespace
{

struct REINSTALL_CASE
{
    const char* pszWindows;
    const char* pszLabel;
    const char* pszProduct; // the product set up before the restart
    bool bNewerPackage;     // from a package with a newer engine DLL: the section is copied
    bool bHeldAtInstall;    // the engine DLLs and signatures still held by the scanner
};

// The deletions left in the store that no rename of the same file follows: on the NT family
// pairs "name, empty name" not followed by a pair renaming to that name; in WININIT.INI lines
// "NUL=name" not followed by a line "name=...".
std::vector<std::string> LoneDeletions(bool b9x)
{
    std::vector<std::string> lone;
    if (!b9x)
    {
        std::vector<std::string> list = harness::ReadPendingRenames();
        for (size_t i = 0; i + 1 < list.size(); i += 2)
        {
            if (!list[i + 1].empty())
                continue;
            std::string strName = list[i];
            bool bRenamed =
                i + 3 < list.size() && !list[i + 3].empty() &&
                lstrcmpiA(list[i + 3].c_str() + (list[i + 3][0] == '!'), strName.c_str()) == 0;
            if (!bRenamed)
                lone.push_back(strName);
        }
        return lone;
    }
    std::string strText = harness::ReadFileBytes(harness::WinInitPath());
    std::vector<std::string> lines;
    for (size_t i = 0; i < strText.size();)
    {
        size_t iEnd = strText.find("\r\n", i);
        if (iEnd == std::string::npos)
            iEnd = strText.size();
        lines.push_back(strText.substr(i, iEnd - i));
        i = iEnd + 2;
    }
    for (size_t i = 0; i < lines.size(); i++)
    {
        if (_strnicmp(lines[i].c_str(), "NUL=", 4) != 0)
            continue;
        std::string strName = lines[i].substr(4);
        bool bRenamed =
            i + 1 < lines.size() &&
            _strnicmp(lines[i + 1].c_str(), (strName + "=").c_str(), strName.size() + 1) == 0;
        if (!bRenamed)
            lone.push_back(strName);
    }
    return lone;
}

// A deletion of a directory at the restart as the removal records one: a delayed move to nothing
// of its short, upper-case name, or on 95/98 a last line "NUL=<name>" of the [Rename] section.
void PlantDirectoryDeletion(const std::string& strDir, bool b9x)
{
    std::string strName = harness::ShortUpper(strDir);
    if (!b9x)
    {
        ASSERT_TRUE(MoveFileExA(strName.c_str(), NULL, MOVEFILE_DELAY_UNTIL_REBOOT)) << strName;
        return;
    }
    std::string strText = harness::ReadFileBytes(harness::WinInitPath());
    if (strText.find("[Rename]") == std::string::npos)
        strText += "[Rename]\r\n";
    ASSERT_TRUE(
        harness::WriteFileBytes(harness::WinInitPath(), strText + "NUL=" + strName + "\r\n"));
}

class ReinstallBeforeRestart : public FlowTest
{
};

// Install A, the removal of A while a scanner holds every engine file of the OSKA section (exit
// code 2, their deletions at the restart, and those of Logs, Incoming and the engine directory),
// then before the restart another product or A again, from the same package (the section found
// current and left as it is) or a newer one (the section copied, or staged over the files the
// scanner still holds).
// No deletion is left for anything the install keeps, and the restart leaves the whole engine.
TEST_F(ReinstallBeforeRestart, LeavesTheWholeEngineAfterTheRestart)
{
    REQUIRE_WINE();
    const REINSTALL_CASE aCases[] = {
        {"win2k", "another product", "B", false, false},
        {"win2k", "another product, files still held", "B", false, true},
        {"win2k", "the same product again", "A", false, false},
        {"win2k", "a newer package, files still held", "B", true, true},
        {"win98", "another product", "B", false, false},
        {"win98", "another product, files still held", "B", false, true},
        {"win98", "the same product again", "A", false, false},
        {"win98", "a newer package, files still held", "B", true, true},
    };
    const std::string strPackage = SamplePackage("pkg");
    const std::string strNewer = NewerOskaPackage("newpkg");
    const std::string strEng = harness::TestDir() + "\\Shared Engine";
    for (const REINSTALL_CASE& c : aCases)
    {
        SCOPED_TRACE(std::string(c.pszWindows) + ", " + c.pszLabel);
        const bool b9x = std::string(c.pszWindows) == "win98";
        harness::ResetState();
        harness::DeleteTree(strEng);
        SetRecordView(c.pszWindows);
        if (b9x)
            RefuseDelayedMoves();
        harness::RunOptions opts;
        opts.strWindows = c.pszWindows;
        opts.strCurDir = strPackage;
        ASSERT_EQ(0u, harness::RunPelmora("/PROD:A /PATH:\"" + strEng + "\"", opts));
        {
            std::vector<std::unique_ptr<HeldFile>> held;
            std::vector<bool> keep;
            for (const std::string& strName : s_oskaSection)
                if (harness::FileExists(strEng + "\\" + strName))
                {
                    held.emplace_back(new HeldFile(strEng + "\\" + strName));
                    ASSERT_TRUE(held.back()->IsHeld()) << strName;
                    // The boot-time scanner is made from Morcmd.exe by every install on 98.
                    keep.push_back(c.bHeldAtInstall && strName.compare(0, 6, "Morcmd") != 0);
                }
            ASSERT_EQ(2u, harness::RunPelmora("/REMOVE /PROD:A", opts));
            for (size_t i = 0; i < held.size(); i++)
                if (!keep[i])
                    held[i]->Release();
            ASSERT_FALSE(LoneDeletions(b9x).empty()) << "the removal's deletions";
            for (const char* pszSub : {"\\Logs", "\\Incoming", ""})
            {
                std::string strDir = strEng + pszSub;
                if (!harness::FileExists(strDir))
                    CreateDirectoryA(strDir.c_str(), NULL);
                PlantDirectoryDeletion(strDir, b9x);
            }

            opts.strCurDir = c.bNewerPackage ? strNewer : strPackage;
            EXPECT_EQ(0u, harness::RunPelmora(std::string("/PROD:") + c.pszProduct + " /PATH:\"" +
                                                  strEng + "\"",
                                              opts));
            EXPECT_EQ(std::vector<std::string>(), LoneDeletions(b9x));
        }

        ASSERT_TRUE(harness::Restart());
        EXPECT_EQ(ExpectedEngineFiles(3, b9x ? Group9x : GroupNt), DirNames(strEng));
        EXPECT_TRUE(SameContent(opts.strCurDir + "\\Osk32dll.dll", strEng + "\\Osk32dll.dll"))
            << "the engine DLL of the last package";
        EXPECT_EQ(std::string("|") + c.pszProduct + "|", RecStr(s_szKey, "ProductList"));
        EXPECT_EQ(1u, RecDword("ReferenceCount"));
        EXPECT_EQ(3u, RecDword("dwEngIDs"));
    }
}

} // namespace
