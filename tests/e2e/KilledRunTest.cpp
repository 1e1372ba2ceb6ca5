// Runs stopped at random points, as a setup that is cancelled or a machine that loses power
// stops them, and then run again. The second run must finish the install as one undisturbed run
// would have: the same files, the same record (the product listed once, the count raised once),
// the same PATH, AUTOEXEC.BAT and WININIT.INI, and nothing of the machine's lost.
//
// The stopping points are drawn from a seed: PELMORA_KILL_SEED (decimal or 0x hex) picks it,
// PELMORA_KILL_COUNT the number of stopped runs per platform, PELMORA_KILL_LONG=1 runs 200 per
// platform. A failure names the seed, the run and the delay.
#include "FlowSupport.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <random>
#include <string>
#include <vector>

using namespace flow;
using harness::LastRunMessages;
using harness::RunOptions;

namespace
{

uint32_t KillSeed()
{
    const char* psz = getenv("PELMORA_KILL_SEED");
    return psz && *psz ? (uint32_t)strtoul(psz, nullptr, 0) : 0x5EEDC0DEu;
}

int KillCount(int nDefault)
{
    const char* psz = getenv("PELMORA_KILL_COUNT");
    if (psz && *psz)
        return atoi(psz);
    psz = getenv("PELMORA_KILL_LONG");
    return psz && strcmp(psz, "1") == 0 ? 200 : nDefault;
}

// An administrator's AUTOEXEC.BAT and a WININIT.INI with another program's pending request.
const char s_szAutoexec[] = "@ECHO OFF\r\nREM the administrator's own lines\r\n"
                            "PATH=C:\\WINDOWS;C:\\WINDOWS\\COMMAND;C:\\DOS\r\n"
                            "SET TEMP=C:\\TEMP\r\nLH C:\\MOUSE\\MOUSE.COM /Y\r\n";
const char s_szWinInit[] = "; another setup's request\r\n[Rename]\r\nNUL=C:\\OLD\\A.DLL\r\n";

// Everything the install leaves, as one comparable text.
struct MachineState
{
    std::map<std::string, std::string> files; // engine directory: name -> content
    std::map<std::string, std::string> record;
    std::string strPath, strAvEngine, strAutoexec, strWinInit;
    std::vector<std::string> pending;
    std::vector<std::string> testDir;
    std::string strKeys; // which keys of the record exist
};

MachineState Capture(const std::string& strEng)
{
    MachineState s;
    for (const std::string& strName : DirNames(strEng))
        s.files[strName] = harness::ReadFileBytes(strEng + "\\" + strName);
    for (const char* psz : {"ProductList", "UnlistedProducts", "ReleasingProduct"})
        s.record[psz] = RecStr(s_szKey, psz);
    for (const char* psz : {"Engine", "Logs", "Incoming"})
        s.record[psz] = RecStr(s_szPathKey, psz);
    for (const char* psz : {"ReferenceCount", "dwEngIDs", "Timeout"})
        s.record[psz] = std::to_string(RecDword(psz));
    s.strPath = EnvStr(s_szNtEnvKey, "PATH");
    s.strAvEngine = EnvStr(s_szNtEnvKey, "AVENGINE");
    s.strAutoexec = harness::ReadFileBytes("C:\\AUTOEXEC.BAT");
    s.strWinInit = harness::ReadFileBytes(harness::WinInitPath());
    s.pending = harness::ReadPendingRenames();
    s.testDir = DirNames(harness::TestDir());
    for (const char* psz : {"SOFTWARE\\Quillmark", s_szKey, s_szPathKey})
        s.strKeys += KeyExists(psz) ? "1" : "0";
    return s;
}

void ExpectSameState(const MachineState& want, const MachineState& got, bool bExactCount = false)
{
    EXPECT_EQ(want.strKeys, got.strKeys) << "Quillmark, ScanEngine, Path";
    // A run stopped between raising ReferenceCount and adding its product to ProductList counts
    // the product again when it is run once more. The count is raised first on purpose: the
    // other order would leave a listed product uncounted, and an uninstall could then take the
    // engine from under it. So the count may be one above, never below.
    std::map<std::string, std::string> wantRecord = want.record, gotRecord = got.record;
    const std::string strWantCount = wantRecord["ReferenceCount"];
    const std::string strGotCount = gotRecord["ReferenceCount"];
    EXPECT_TRUE(strGotCount == strWantCount ||
                (!bExactCount && strGotCount == std::to_string(atoi(strWantCount.c_str()) + 1)))
        << "ReferenceCount " << strGotCount << ", undisturbed " << strWantCount;
    wantRecord.erase("ReferenceCount");
    gotRecord.erase("ReferenceCount");
    EXPECT_EQ(wantRecord, gotRecord);
    std::vector<std::string> wantNames, gotNames;
    for (const auto& f : want.files)
        wantNames.push_back(f.first);
    for (const auto& f : got.files)
        gotNames.push_back(f.first);
    EXPECT_EQ(wantNames, gotNames);
    for (const auto& f : want.files)
    {
        auto it = got.files.find(f.first);
        if (it != got.files.end())
        {
            EXPECT_TRUE(f.second == it->second) << f.first << " differs";
        }
    }
    EXPECT_EQ(want.strPath, got.strPath);
    EXPECT_EQ(want.strAvEngine, got.strAvEngine);
    EXPECT_EQ(want.strAutoexec, got.strAutoexec);
    EXPECT_EQ(want.strWinInit, got.strWinInit);
    EXPECT_EQ(want.pending, got.pending);
    EXPECT_EQ(want.testDir, got.testDir) << "nothing written beside the engine directory";
}

// The runs of a sequence: who runs it from which package, and whether the engine DLL is in use.
struct Step
{
    const char* pszProduct; // "A" is the first install into the test's engine directory
    char chPackage;         // 'A' the sample, 'B', 'C', 'D' as MakePackages makes them
    bool bHeld;
    DWORD dwExit;
};

// The sequences the stopped runs are drawn from.
enum Sequence
{
    // A first install, then an update with a newer DLL in use.
    SeqUpdateInUse,
    // Then another update with the DLL still in use whose DLL is not newer than the staged one
    // but whose signature files are newer than the installed ones: the staged DLL stands and
    // keeps the pair it was staged with.
    SeqStagedDllStands,
    // A first install, then an update whose DLL is newer by version and whose signature files,
    // rebuilt earlier, are not newer by time: a stop between the two must not leave them so.
    SeqRebuiltSignatures,
};

const std::vector<Step>& Steps(Sequence seq)
{
    static const std::vector<Step> update = {{"A", 'A', false, 0}, {"B", 'N', true, 2}};
    static const std::vector<Step> stands = {
        {"A", 'A', false, 0}, {"B", 'B', true, 2}, {"C", 'C', true, 2}};
    static const std::vector<Step> rebuilt = {{"A", 'A', false, 0}, {"D", 'D', false, 0}};
    return seq == SeqUpdateInUse ? update : seq == SeqStagedDllStands ? stands : rebuilt;
}

class KilledRun : public FlowTest
{
  protected:
    // The machine before the install: on 95/98 the administrator's files and delayed moves that
    // fail as they do there.
    void Prepare(const char* pszWindows)
    {
        harness::ResetState();
        SetRecordView(pszWindows);
        harness::DeleteTree(m_strEng);
        if (strcmp(pszWindows, "win98") == 0)
        {
            ASSERT_TRUE(harness::WriteFileBytes("C:\\AUTOEXEC.BAT", s_szAutoexec));
            ASSERT_TRUE(harness::WriteFileBytes(harness::WinInitPath(), s_szWinInit));
            HKEY hKey;
            ASSERT_EQ(ERROR_SUCCESS,
                      RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                                    "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                                    KEY_SET_VALUE, &hKey));
            RegSetValueExA(hKey, "PendingFileRenameOperations", 0, REG_SZ, (const BYTE*)"x", 2);
            RegCloseKey(hKey);
        }
    }
    // The packages: A the sample; N a newer DLL (by version and time); B the same with signature
    // files of its own, newer than A's; C A's DLL with signature files newer than A's and older
    // than B's; D a newer DLL with signature files of its own rebuilt a day before.
    void MakePackages()
    {
        m_packages['A'] = SamplePackage("pkg");
        m_packages['N'] = NewerOskaPackage("newpkg");
        m_packages['B'] = NewerOskaPackage("pkgb");
        OskaSignatures(m_packages['B'], "B", 7200, 4u << 20);
        m_packages['C'] = SamplePackage("pkgc");
        OskaSignatures(m_packages['C'], "C", 3600, 0);
        m_packages['D'] = NewerOskaPackage("pkgd");
        OskaSignatures(m_packages['D'], "D", -86400, 4u << 20);
    }
    std::string StepArgs(const Step& step)
    {
        return step.pszProduct[0] == 'A' ? "/PROD:A /PATH:" + m_strEng
                                         : std::string("/PROD:") + step.pszProduct;
    }
    RunOptions StepOptions(const Step& step, const char* pszWindows)
    {
        RunOptions opts;
        opts.strWindows = pszWindows;
        opts.strCurDir = m_packages[step.chPackage];
        return opts;
    }
    // Runs a step to its end; returns how long it took.
    DWORD RunStep(const Step& step, const char* pszWindows)
    {
        HeldFile held(m_strEng + "\\Osk32dll.dll", step.bHeld);
        DWORD dwStart = GetTickCount();
        EXPECT_EQ(step.dwExit, harness::RunPelmora(StepArgs(step), StepOptions(step, pszWindows)))
            << "step " << step.pszProduct;
        return GetTickCount() - dwStart;
    }
    // After a stop in a step that brings a new DLL: true when the stop left that DLL (installed
    // or staged) without its signature files.
    bool StoppedBetweenDllAndPair(const Step& step)
    {
        const std::string& strPkg = m_packages[step.chPackage];
        std::string strSuffix = step.bHeld ? "000" : "";
        return step.pszProduct[0] != 'A' &&
               SameContent(strPkg + "\\Osk32dll.dll", m_strEng + "\\Osk32dll.dll" + strSuffix) &&
               !SameContent(strPkg + "\\Osksig.da0", m_strEng + "\\Osksig.da0" + strSuffix);
    }

    void KillAndResume(const char* pszWindows, Sequence seq, int nDefaultKills)
    {
        static const char* const s_apszSeq[] = {"update with the DLL in use",
                                                "a staged DLL that stands",
                                                "signature files rebuilt earlier"};
        MakePackages();
        m_strEng = harness::TestDir() + "\\eng";
        const std::vector<Step>& steps = Steps(seq);

        // The undisturbed sequence, the state after each step and how long each step takes.
        Prepare(pszWindows);
        std::vector<DWORD> adwMs;
        std::vector<MachineState> after;
        for (const Step& step : steps)
        {
            adwMs.push_back(RunStep(step, pszWindows));
            after.push_back(Capture(m_strEng));
        }
        const MachineState& want = after.back();
        std::string strList = "|";
        for (const Step& step : steps)
            strList += std::string(step.pszProduct) + "|";
        ASSERT_EQ(strList, want.record.at("ProductList"));
        ASSERT_EQ(std::to_string(steps.size()), want.record.at("ReferenceCount"));

        const uint32_t uSeed = KillSeed();
        const int nKills = KillCount(nDefaultKills);
        printf("[ KilledRun ] %s, %s: seed 0x%08X, %d stopped runs (PELMORA_KILL_SEED=0x%08X), "
               "steps of",
               pszWindows, s_apszSeq[seq], (unsigned)uSeed, nKills, (unsigned)uSeed);
        for (DWORD dw : adwMs)
            printf(" %lu", (unsigned long)dw);
        printf(" ms\n");
        fflush(stdout);
        std::mt19937 rng(uSeed ^ (pszWindows[3] == '9' ? 0x98u : 0x2Bu) ^ ((uint32_t)seq << 8));
        int nEndedBeforeKill = 0, nBetween = 0;
        for (int i = 0; i < nKills; i++)
        {
            int nStep = (int)(rng() % steps.size());
            DWORD dwDelay = (DWORD)(rng() % (adwMs[nStep] + 1));
            char szTrace[200];
            snprintf(szTrace, sizeof(szTrace),
                     "%s, %s, seed 0x%08X run %d: step %d stopped after %lu ms", pszWindows,
                     s_apszSeq[seq], (unsigned)uSeed, i, nStep, (unsigned long)dwDelay);
            SCOPED_TRACE(szTrace);

            Prepare(pszWindows);
            for (int k = 0; k < nStep; k++)
                RunStep(steps[k], pszWindows);
            if (nStep > 0)
                ExpectSameState(after[nStep - 1], Capture(m_strEng));
            const Step& stopped = steps[nStep];
            {
                HeldFile held(m_strEng + "\\Osk32dll.dll", stopped.bHeld);
                PROCESS_INFORMATION pi;
                ASSERT_TRUE(harness::StartPelmora(StepArgs(stopped),
                                                  StepOptions(stopped, pszWindows), &pi));
                if (WaitForSingleObject(pi.hProcess, dwDelay) == WAIT_TIMEOUT)
                    TerminateProcess(pi.hProcess, 0xDEAD);
                else
                    nEndedBeforeKill++;
                WaitForSingleObject(pi.hProcess, 30000);
                CloseHandle(pi.hProcess);
                CloseHandle(pi.hThread);
            }
            if (StoppedBetweenDllAndPair(stopped))
                nBetween++;
            // The same setup run again, to its end, and the rest of the sequence.
            for (size_t k = nStep; k < steps.size(); k++)
            {
                RunStep(steps[k], pszWindows);
                if (k == 0)
                    ExpectSameState(after[0], Capture(m_strEng));
            }
            std::vector<std::string> msgs = LastRunMessages();
            ASSERT_FALSE(msgs.empty());
            EXPECT_EQ(s_szEnd, msgs.back());
            ExpectSameState(want, Capture(m_strEng));
            if (HasFailure())
                break;
        }
        printf("[ KilledRun ] %s, %s: %d runs stopped, %d ended before their stop, %d stopped "
               "with the new DLL beside signature files of another package\n",
               pszWindows, s_apszSeq[seq], nKills - nEndedBeforeKill, nEndedBeforeKill, nBetween);
        fflush(stdout);
    }

    // Removals stopped at random points: install A, install B, then the removal by A or by B
    // (the last reference) is stopped and run again by the same product. It must end as the
    // undisturbed removal ends, exactly (a removal never counts one too many), and a removal by
    // another product after it changes nothing.
    std::string RemovalArgs(int nStep)
    {
        static const char* const s_apsz[] = {"", "/PROD:B", "/REMOVE /PROD:A", "/REMOVE /PROD:B"};
        return nStep == 0 ? "/PROD:A /PATH:" + m_strEng : s_apsz[nStep];
    }
    DWORD RunRemovalStep(int nStep, const char* pszWindows)
    {
        RunOptions opts;
        opts.strWindows = pszWindows;
        opts.strCurDir = m_strPackage;
        DWORD dwStart = GetTickCount();
        EXPECT_EQ(0u, harness::RunPelmora(RemovalArgs(nStep), opts)) << "step " << nStep;
        return GetTickCount() - dwStart;
    }

    void KillRemovalAndResume(const char* pszWindows, int nDefaultKills)
    {
        m_strPackage = SamplePackage("pkg");
        m_strEng = harness::TestDir() + "\\eng";
        Prepare(pszWindows);
        MachineState before = Capture(m_strEng);
        DWORD adwMs[4];
        MachineState want[4];
        for (int nStep = 0; nStep < 4; nStep++)
        {
            adwMs[nStep] = RunRemovalStep(nStep, pszWindows);
            want[nStep] = Capture(m_strEng);
        }
        ASSERT_EQ("|B|", want[2].record["ProductList"]);
        ASSERT_EQ("1", want[2].record["ReferenceCount"]);
        ASSERT_EQ("000", want[3].strKeys);
        // Everything of ours gone: the machine as it was before the first install.
        ExpectSameState(before, want[3], true);

        const uint32_t uSeed = KillSeed();
        const int nKills = KillCount(nDefaultKills);
        printf("[ KilledRun ] %s removal: seed 0x%08X, %d stopped runs, removals of %lu and %lu "
               "ms\n",
               pszWindows, (unsigned)uSeed, nKills, (unsigned long)adwMs[2],
               (unsigned long)adwMs[3]);
        fflush(stdout);
        std::mt19937 rng(uSeed ^ (pszWindows[3] == '9' ? 0x9898u : 0x2B2Bu));
        int nEndedBeforeKill = 0;
        for (int i = 0; i < nKills; i++)
        {
            int nStep = 2 + (int)(rng() % 2);
            DWORD dwDelay = (DWORD)(rng() % (adwMs[nStep] + 1));
            char szTrace[160];
            snprintf(szTrace, sizeof(szTrace),
                     "%s seed 0x%08X removal run %d: step %d stopped after %lu ms", pszWindows,
                     (unsigned)uSeed, i, nStep, (unsigned long)dwDelay);
            SCOPED_TRACE(szTrace);

            Prepare(pszWindows);
            for (int n = 0; n < nStep; n++)
                RunRemovalStep(n, pszWindows);
            RunOptions opts;
            opts.strWindows = pszWindows;
            opts.strCurDir = m_strPackage;
            PROCESS_INFORMATION pi;
            ASSERT_TRUE(harness::StartPelmora(RemovalArgs(nStep), opts, &pi));
            if (WaitForSingleObject(pi.hProcess, dwDelay) == WAIT_TIMEOUT)
                TerminateProcess(pi.hProcess, 0xDEAD);
            else
                nEndedBeforeKill++;
            WaitForSingleObject(pi.hProcess, 30000);
            CloseHandle(pi.hProcess);
            CloseHandle(pi.hThread);

            RunRemovalStep(nStep, pszWindows);
            ExpectSameState(want[nStep], Capture(m_strEng), true);
            if (nStep == 2)
            {
                RunRemovalStep(3, pszWindows);
                ExpectSameState(want[3], Capture(m_strEng), true);
            }
            EXPECT_EQ(0u, harness::RunPelmora("/REMOVE /PROD:C", opts));
            ExpectSameState(want[3], Capture(m_strEng), true);
            if (HasFailure())
                break;
        }
        printf("[ KilledRun ] %s removal: %d runs stopped, %d ended before their stop\n",
               pszWindows, nKills - nEndedBeforeKill, nEndedBeforeKill);
        fflush(stdout);
    }

    // HeldFile that holds only when asked to.
    class HeldFile
    {
      public:
        explicit HeldFile(const std::string& strPath, bool bHold = true)
            : m_hFile(INVALID_HANDLE_VALUE)
        {
            if (bHold)
            {
                m_hFile = CreateFileA(strPath.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, NULL);
                EXPECT_NE(INVALID_HANDLE_VALUE, m_hFile) << strPath << " " << GetLastError();
            }
        }
        ~HeldFile()
        {
            if (m_hFile != INVALID_HANDLE_VALUE)
                CloseHandle(m_hFile);
        }

      private:
        HANDLE m_hFile;
    };

    std::map<char, std::string> m_packages;
    std::string m_strPackage; // the removal sequences' one package
    std::string m_strEng;
};

TEST_F(KilledRun, StoppedAndRunAgainOnNt)
{
    REQUIRE_WINE();
    KillAndResume("win2k", SeqUpdateInUse, 20);
}

TEST_F(KilledRun, StoppedAndRunAgainOn98WithAutoexecAndWinInit)
{
    REQUIRE_WINE();
    KillAndResume("win98", SeqUpdateInUse, 20);
}

TEST_F(KilledRun, StoppedBesideAStagedDllThatStandsOnNtAnd98)
{
    REQUIRE_WINE();
    for (const char* pszWindows : {"win2k", "win98"})
    {
        KillAndResume(pszWindows, SeqStagedDllStands, 10);
        if (HasFailure())
            break;
    }
}

TEST_F(KilledRun, StoppedWithSignatureFilesRebuiltEarlierOnNtAnd98)
{
    REQUIRE_WINE();
    for (const char* pszWindows : {"win2k", "win98"})
    {
        KillAndResume(pszWindows, SeqRebuiltSignatures, 10);
        if (HasFailure())
            break;
    }
}

TEST_F(KilledRun, RemovalStoppedAndRunAgainOnNt)
{
    REQUIRE_WINE();
    KillRemovalAndResume("win2k", 12);
}

TEST_F(KilledRun, RemovalStoppedAndRunAgainOn98WithAutoexecAndWinInit)
{
    REQUIRE_WINE();
    KillRemovalAndResume("win98", 12);
}

} // namespace
