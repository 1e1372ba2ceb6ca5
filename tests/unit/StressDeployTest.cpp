// Generated manifests and directories for the copy pass, the staged-copy refresh and the section
// decision, run against a real engine directory: whatever FileList.ini says, nothing outside the
// engine directory may change, the package stays as it was, and every file in the engine
// directory holds what it held before or the bytes of a packaged file.
#include "UnitFixture.h"

#include "StressDeploy.h"

#include <algorithm>
#include <string>
#include <vector>

using stress::Rng;
using namespace deploytest;

namespace
{

// 95, 98 and ME have no delayed move; the request then goes to WININIT.INI.
BOOL WINAPI NoDelayedMove(LPCSTR, LPCSTR, DWORD)
{
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

class StressDeploy : public UnitTest
{
  protected:
    void SetUp() override
    {
        UnitTest::SetUp();
        GetCurrentDirectoryA(sizeof(m_szSavedDir), m_szSavedDir);
        // The package and the engine directory at different depths, so that a name climbing out
        // of one reaches files of the other's surroundings: the sources of "..\bait.dll" exist,
        // and the places it would land hold guard files.
        m_strTop = harness::TestDir();
        m_strPkg = m_strTop + "\\pkgside\\pkg";
        m_strEngRoot = m_strTop + "\\engside\\deep\\engine";
        for (const char* psz : {"\\pkgside", "\\pkgside\\pkg", "\\pkgside\\sibling", "\\engside",
                                "\\engside\\deep", "\\engside\\deep\\sibling"})
            CreateDirectoryA((m_strTop + psz).c_str(), NULL);
        Put("\\bait.dll", "top bait");
        Put("\\pkgside\\bait.dll", "package-side bait");
        Put("\\pkgside\\sibling\\bait.dll", "package-side sibling bait");
        Put("\\pkgside\\Common.dll", "package-side common");
        Put("\\engside\\guard.txt", "guard");
        Put("\\engside\\deep\\guard.txt", "guard of the engine's parent");
        Put("\\engside\\deep\\sibling\\bait.dll", "sibling bait");
        Put("\\engside\\deep\\sibling\\Common.dll", "sibling common");
        ASSERT_TRUE(SetCurrentDirectoryA(m_strPkg.c_str())) << GetLastError();
        lstrcpynA(g_szFileList, (m_strPkg + "\\FileList.ini").c_str(), MAX_PATH);
        CreateDirectoryA(m_strEngRoot.c_str(), NULL);
        m_strShortEngRoot = harness::ShortUpper(m_strEngRoot);
        stress::SnapshotTree(m_strTop, "", m_strEngRoot, &m_guard);
        for (const char* psz : {"C:\\bait.dll", "C:\\Windows\\bait.dll", "C:\\Common.dll"})
            m_outside.push_back(std::make_pair(std::string(psz), harness::FileExists(psz)));
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(m_szSavedDir);
        UnitTest::TearDown();
    }
    void Put(const char* pszRel, const char* pszData)
    {
        ASSERT_TRUE(harness::WriteFileBytes(m_strTop + pszRel, pszData));
    }

    // Fills the package and the engine directory for one case; *pstrEng receives the engine
    // directory the pass is given.
    void PlaceCase(Rng& rng, std::string* pstrEng)
    {
        stress::EmptyDirectory(m_strPkg);
        harness::DeleteTree(m_strEngRoot);
        if (!rng.Percent(5))
        {
            ASSERT_TRUE(
                harness::WriteFileBytes(m_strPkg + "\\FileList.ini", stress::RandomManifest(rng)));
        }
        static const char* const s_apszVersions[] = {"1.0.0.0", "1.2.3.4", "1.2.3.5", "1.9.9.9",
                                                     "2.0.0.0"};
        bool bSub = rng.Percent(20);
        if (bSub)
            CreateDirectoryA((m_strPkg + "\\sub").c_str(), NULL);
        for (const char* pszName : stress::s_apszPlainNames)
        {
            if (!rng.Percent(70))
                continue;
            const char* pszKind = rng.Percent(30) ? rng.Pick(s_apszVersions) : "text";
            std::string strPath = m_strPkg + "\\" + pszName;
            if (std::string(pszKind) == "text")
                PlaceText(strPath, std::string("package ") + pszName + std::to_string(rng.Next()),
                          (LONGLONG)rng.Below(4) * DAY);
            else
                PlaceFile(strPath, pszKind, (LONGLONG)rng.Below(4) * DAY);
        }
        if (bSub)
            PlaceText(m_strPkg + "\\sub\\Common.dll", "package sub common", DAY);

        // The engine directory: missing (the pass creates it), the root, or a directory so deep
        // that the paths of longer names no longer fit.
        *pstrEng = m_strEngRoot;
        if (rng.Percent(20))
        {
            size_t cch = m_strEngRoot.size() + 1;
            size_t cchDeep = rng.Range(200, 250);
            if (cchDeep > cch + 1)
                *pstrEng += "\\" + std::string(cchDeep - cch, 'e');
        }
        if (rng.Percent(10))
            return;
        ASSERT_TRUE(Create_Dir(pstrEng->c_str()) || harness::FileExists(*pstrEng));
        if (rng.Percent(20))
            CreateDirectoryA((*pstrEng + "\\sub").c_str(), NULL);
        for (const char* pszName : stress::s_apszPlainNames)
        {
            std::string strPath = *pstrEng + "\\" + pszName;
            if (strPath.size() + 3 >= MAX_PATH)
                continue;
            if (rng.Percent(40))
            {
                if (rng.Percent(30))
                    PlaceFile(strPath, rng.Pick(s_apszVersions), (LONGLONG)rng.Below(4) * DAY);
                else
                    PlaceText(strPath, std::string("installed ") + pszName,
                              (LONGLONG)rng.Below(4) * DAY);
                if (rng.Percent(10))
                    SetFileAttributesA(strPath.c_str(), FILE_ATTRIBUTE_READONLY);
            }
            if (rng.Percent(15))
                PlaceText(strPath + "000", std::string("staged ") + pszName,
                          (LONGLONG)rng.Below(4) * DAY);
        }
    }

    // Every file below strDir: relative path -> bytes.
    static void Contents(const std::string& strDir, std::map<std::string, std::string>* pFiles)
    {
        stress::TREE tree;
        stress::SnapshotTree(strDir, "", "", &tree);
        for (const auto& item : tree)
            if (item.second.strData != "<dir>")
                (*pFiles)[item.first] = item.second.strData;
    }

    // A path the platform wrote into a replacement request or WININIT.INI: inside the engine
    // directory (short, upper-case form).
    bool InsideEngine(const std::string& strPath) const
    {
        std::string strPlain = strPath.compare(0, 4, "\\??\\") == 0 ? strPath.substr(4) : strPath;
        return stress::StartsWithNoCase(strPlain, m_strShortEngRoot + "\\") ||
               stress::StartsWithNoCase(strPlain, m_strEngRoot + "\\");
    }

    // Whether the package holds the file strRel names, as the platform resolves the name: "/"
    // for "\\", trailing dots and blanks of a component dropped, letter case ignored.
    static bool InPackage(const stress::TREE& pkg, const std::string& strRel)
    {
        std::string strName, strComp;
        for (size_t i = 0; i <= strRel.size(); i++)
        {
            char ch = i < strRel.size() ? strRel[i] : '\\';
            if (ch != '\\' && ch != '/')
            {
                strComp += ch;
                continue;
            }
            while (!strComp.empty() && (strComp.back() == '.' || strComp.back() == ' '))
                strComp.pop_back();
            strName += (strName.empty() ? "" : "\\") + strComp;
            strComp.clear();
        }
        for (const auto& item : pkg)
            if (item.second.strData != "<dir>" &&
                lstrcmpiA(item.first.c_str(), strName.c_str()) == 0)
                return true;
        return false;
    }

    // The end of a pass removes the 9x-only files everywhere but on 95, 98 and ME, also those it
    // has just copied (the platform drops trailing dots and blanks, and ignores case).
    static bool RemovedAtTheEnd(const std::string& strTarget)
    {
        if (g_dwOSType == OSID_W95 || g_dwOSType == OSID_W98 || g_dwOSType == OSID_WME)
            return false;
        std::string strName = strTarget.substr(strTarget.find_last_of("\\/") + 1);
        while (!strName.empty() && (strName.back() == '.' || strName.back() == ' '))
            strName.pop_back();
        for (const char* psz : {"Morcmd.exe", "Morcmd.dat", "MorSig.vxd", "MorSigV.vxd",
                                "Tarn_dyn.vxd", "salvor.exe"})
            if (lstrcmpiA(strName.c_str(), psz) == 0)
                return true;
        return false;
    }

    void RunCase(Rng& rng, int* pnCopied)
    {
        std::string strEng;
        PlaceCase(rng, &strEng);
        if (HasFatalFailure())
            return;
        int nSection = (int)rng.Below(3);
        // Mostly a manifest that has the section walked, so that the pass has work.
        if (rng.Percent(60))
        {
            std::string strHead = std::string("[") + GetSectionName(nSection) + "]\r\n";
            for (uint32_t n = rng.Range(1, 6); n > 0; n--)
                strHead += "p" + std::to_string(n) + "=" + stress::RandomEntryName(rng) + "\r\n";
            harness::WriteFileBytes(m_strPkg + "\\FileList.ini",
                                    strHead + harness::ReadFileBytes(m_strPkg + "\\FileList.ini"));
        }
        g_dwOSType = rng.Below(7);
        SeamRestoreAll();
        bool b9x = g_dwOSType == OSID_W95 || g_dwOSType == OSID_W98 || g_dwOSType == OSID_WME;
        if (b9x && rng.Percent(50))
            SeamOverrideMoveFileExA(NoDelayedMove);

        stress::TREE pkgBefore;
        stress::SnapshotTree(m_strPkg, "", "", &pkgBefore);
        std::set<std::string> allowed;
        for (const auto& item : pkgBefore)
            if (item.second.strData != "<dir>")
                allowed.insert(item.second.strData);
        std::map<std::string, std::string> files;
        Contents(m_strEngRoot, &files);
        for (const auto& f : files)
            allowed.insert(f.second);
        std::vector<std::string> pendingBefore = harness::ReadPendingRenames();
        bool bWinInit = false;
        std::string strWinInit = harness::ReadFileBytes(harness::WinInitPath(), &bWinInit);

        // A loaded engine: one installed file in use, so that the pass stages.
        HANDLE hHeld = INVALID_HANDLE_VALUE;
        if (rng.Percent(15))
        {
            std::string strHeld = strEng + "\\" + rng.Pick(stress::s_apszPlainNames);
            hHeld = CreateFileA(strHeld.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
        }

        DeleteFileA(harness::LogPath().c_str());
        BeginCase("stress");
        BOOL bNeedReboot = rng.Percent(20);
        BOOL bBefore = bNeedReboot;
        switch (rng.Below(8))
        {
        case 0:
        {
            int n = ShouldCopyEntireSection(strEng.c_str(), nSection, rng.Percent(50));
            EXPECT_TRUE(n == 0 || n == 1) << n;
            break;
        }
        case 1:
            UpdateZeroSuffixFiles(strEng.c_str(), nSection);
            break;
        default:
            CopySectionFiles(strEng.c_str(), nSection, &bNeedReboot);
            if (rng.Percent(50))
                UpdateZeroSuffixFiles(strEng.c_str(), (int)rng.Below(3));
            break;
        }
        if (hHeld != INVALID_HANDLE_VALUE)
            CloseHandle(hHeld);
        SeamRestoreAll();
        std::vector<std::string> msgs = CaseMessages();

        EXPECT_TRUE(bNeedReboot == FALSE || bNeedReboot == TRUE) << bNeedReboot;
        if (bBefore)
        {
            EXPECT_TRUE(bNeedReboot) << "a pass cleared the flag";
        }

        // Nothing outside the engine directory changed, the package least of all.
        stress::TREE guardAfter;
        stress::SnapshotTree(m_strTop, "", m_strEngRoot, &guardAfter);
        for (auto it = guardAfter.begin(); it != guardAfter.end();)
            it = it->first.compare(0, 12, "pkgside\\pkg\\") == 0 ? guardAfter.erase(it) : ++it;
        stress::TREE guardBefore = m_guard;
        for (auto it = guardBefore.begin(); it != guardBefore.end();)
            it = it->first.compare(0, 12, "pkgside\\pkg\\") == 0 ? guardBefore.erase(it) : ++it;
        EXPECT_EQ("", stress::TreeDifference(guardBefore, guardAfter)) << "around the engine";
        stress::TREE pkgAfter;
        stress::SnapshotTree(m_strPkg, "", "", &pkgAfter);
        EXPECT_EQ("", stress::TreeDifference(pkgBefore, pkgAfter)) << "in the package";
        for (const auto& outside : m_outside)
            EXPECT_EQ(outside.second, harness::FileExists(outside.first)) << outside.first;

        // Every file of the engine directory holds bytes that were there or in the package.
        files.clear();
        Contents(m_strEngRoot, &files);
        for (const auto& f : files)
            EXPECT_TRUE(allowed.count(f.second))
                << f.first << " holds bytes of no packaged file: " << Describe(f.second);

        // Every copy the log reports went from the package into the engine directory.
        const std::string strCopied = "Orvane: File Copy from [";
        for (const auto& m : msgs)
        {
            if (m.compare(0, strCopied.size(), strCopied) != 0)
                continue;
            size_t nTo = m.find("] to [");
            ASSERT_NE(std::string::npos, nTo) << m;
            std::string strSource = m.substr(strCopied.size(), nTo - strCopied.size());
            std::string strTarget = m.substr(nTo + 6, m.find("] Successfully") - nTo - 6);
            EXPECT_TRUE(stress::StartsWithNoCase(strSource, m_strPkg + "\\")) << m;
            EXPECT_TRUE(stress::StartsWithNoCase(strTarget, strEng + "\\")) << m;
            bool bExists = false;
            std::string strData = harness::ReadFileBytes(strTarget, &bExists);
            if (!bExists && RemovedAtTheEnd(strTarget))
                continue;
            EXPECT_TRUE(bExists) << "reported copied, but no such file: " << m;
            EXPECT_TRUE(allowed.count(strData)) << m;
            (*pnCopied)++;
        }

        // A section counts as updated only on a file of the package: the source the decision
        // names is one of the files the package held.
        const std::string strLatest = "Orvane: source file ";
        for (const auto& m : msgs)
        {
            if (m.compare(0, strLatest.size(), strLatest) != 0)
                continue;
            std::string strSource =
                m.substr(strLatest.size(), m.find(" is the latest, ") - strLatest.size());
            EXPECT_TRUE(stress::StartsWithNoCase(strSource, m_strPkg + "\\")) << m;
            EXPECT_TRUE(InPackage(pkgBefore, strSource.substr(m_strPkg.size() + 1)))
                << "counted as newer, but no such packaged file: " << m;
        }

        // Replacement requests name files of the engine directory only; then they are withdrawn
        // so the next case starts from the same machine.
        std::vector<std::string> pendingAfter = harness::ReadPendingRenames();
        for (size_t i = pendingBefore.size(); i < pendingAfter.size(); i++)
            EXPECT_TRUE(pendingAfter[i].empty() || InsideEngine(pendingAfter[i]))
                << "request for " << pendingAfter[i];
        if (pendingAfter != pendingBefore)
        {
            std::vector<std::wstring> wide;
            for (const auto& s : pendingBefore)
                wide.push_back(stress::Widen(s));
            harness::WritePendingRenames(wide);
        }
        bool bWinInitAfter = false;
        std::string strWinInitAfter =
            harness::ReadFileBytes(harness::WinInitPath(), &bWinInitAfter);
        if (strWinInitAfter != strWinInit || bWinInitAfter != bWinInit)
        {
            size_t nStart = 0;
            while (nStart < strWinInitAfter.size())
            {
                size_t nEnd = strWinInitAfter.find("\r\n", nStart);
                if (nEnd == std::string::npos)
                    nEnd = strWinInitAfter.size();
                std::string strLine = strWinInitAfter.substr(nStart, nEnd - nStart);
                nStart = nEnd + 2;
                size_t nEq = strLine.find('=');
                if (strLine.empty() || strLine[0] == '[' || nEq == std::string::npos)
                    continue;
                std::string strLeft = strLine.substr(0, nEq);
                EXPECT_TRUE(strLeft == "NUL" || InsideEngine(strLeft)) << strLine;
                EXPECT_TRUE(InsideEngine(strLine.substr(nEq + 1))) << strLine;
            }
            if (bWinInit)
                harness::WriteFileBytes(harness::WinInitPath(), strWinInit);
            else
                DeleteFileA(harness::WinInitPath().c_str());
        }
    }

    char m_szSavedDir[MAX_PATH];
    std::string m_strTop, m_strPkg, m_strEngRoot, m_strShortEngRoot;
    stress::TREE m_guard;
    std::vector<std::pair<std::string, bool>> m_outside;
};

TEST_F(StressDeploy, PassesOverRandomManifestsWriteOnlyPackagedBytesInsideTheEngineDirectory)
{
    const uint32_t uSeed = stress::RunSeed();
    const int nCases = stress::CaseCount(150);
    int nCopied = 0;
    DWORD dwStart = GetTickCount();
    for (int i = 0; i < nCases && !HasFailure(); i++)
    {
        SCOPED_TRACE(stress::CaseTrace(uSeed, i));
        Rng rng(uSeed, (uint32_t)i);
        RunCase(rng, &nCopied);
    }
    // Without copies the checks of copied files would never have run.
    EXPECT_GT(nCopied, nCases / 5) << "of " << nCases;
    printf("[ stress   ] %d cases, %d reported copies, %lu ms\n", nCases, nCopied,
           (unsigned long)(GetTickCount() - dwStart));
}

} // namespace
