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
    // Step 0: the first install by A; step 1: the update by B with the engine DLL in use.
    std::string StepArgs(int nStep)
    {
        return nStep == 0 ? "/PROD:A /PATH:" + m_strEng : "/PROD:B";
    }
    DWORD StepExit(int nStep)
    {
        return nStep == 0 ? 0u : 2u;
    }
    RunOptions StepOptions(int nStep, const char* pszWindows)
    {
        RunOptions opts;
        opts.strWindows = pszWindows;
        opts.strCurDir = nStep == 0 ? m_strPackage : m_strNewPackage;
        return opts;
    }
    // Runs a step to its end; returns how long it took.
    DWORD RunStep(int nStep, const char* pszWindows)
    {
        DWORD dwStart = GetTickCount();
        EXPECT_EQ(StepExit(nStep),
                  harness::RunPelmora(StepArgs(nStep), StepOptions(nStep, pszWindows)))
            << "step " << nStep;
        return GetTickCount() - dwStart;
    }

    void KillAndResume(const char* pszWindows, int nDefaultKills)
    {
        m_strPackage = SamplePackage("pkg");
        m_strNewPackage = NewerOskaPackage("newpkg");
        m_strEng = harness::TestDir() + "\\eng";
        std::string strDll = m_strEng + "\\Osk32dll.dll";

        // The undisturbed install, and how long each step takes.
        Prepare(pszWindows);
        DWORD adwMs[2];
        adwMs[0] = RunStep(0, pszWindows);
        MachineState afterFirst = Capture(m_strEng);
        DWORD dwUpdateMs;
        {
            HeldFile held(strDll);
            ASSERT_TRUE(held.IsHeld());
            adwMs[1] = RunStep(1, pszWindows);
        }
        dwUpdateMs = adwMs[1];
        MachineState want = Capture(m_strEng);
        ASSERT_EQ("|A|B|", want.record["ProductList"]);
        ASSERT_EQ("2", want.record["ReferenceCount"]);

        const uint32_t uSeed = KillSeed();
        const int nKills = KillCount(nDefaultKills);
        printf("[ KilledRun ] %s: seed 0x%08X, %d stopped runs (PELMORA_KILL_SEED=0x%08X), "
               "steps of %lu and %lu ms\n",
               pszWindows, (unsigned)uSeed, nKills, (unsigned)uSeed, (unsigned long)adwMs[0],
               (unsigned long)dwUpdateMs);
        fflush(stdout);
        std::mt19937 rng(uSeed ^ (pszWindows[3] == '9' ? 0x98u : 0x2Bu));
        int nEndedBeforeKill = 0;
        for (int i = 0; i < nKills; i++)
        {
            int nStep = (int)(rng() % 2);
            DWORD dwDelay = (DWORD)(rng() % (adwMs[nStep] + 1));
            char szTrace[160];
            snprintf(szTrace, sizeof(szTrace),
                     "%s seed 0x%08X run %d: step %d stopped after %lu ms", pszWindows,
                     (unsigned)uSeed, i, nStep, (unsigned long)dwDelay);
            SCOPED_TRACE(szTrace);

            Prepare(pszWindows);
            if (nStep == 1)
            {
                RunStep(0, pszWindows);
                ExpectSameState(afterFirst, Capture(m_strEng));
            }
            {
                HeldFile held(strDll, nStep == 1);
                PROCESS_INFORMATION pi;
                ASSERT_TRUE(
                    harness::StartPelmora(StepArgs(nStep), StepOptions(nStep, pszWindows), &pi));
                if (WaitForSingleObject(pi.hProcess, dwDelay) == WAIT_TIMEOUT)
                    TerminateProcess(pi.hProcess, 0xDEAD);
                else
                    nEndedBeforeKill++;
                WaitForSingleObject(pi.hProcess, 30000);
                CloseHandle(pi.hProcess);
                CloseHandle(pi.hThread);

                // The same setup run again, to its end.
                RunStep(nStep, pszWindows);
            }
            if (nStep == 0)
            {
                ExpectSameState(afterFirst, Capture(m_strEng));
                HeldFile held(strDll, true);
                RunStep(1, pszWindows);
            }
            std::vector<std::string> msgs = LastRunMessages();
            ASSERT_FALSE(msgs.empty());
            EXPECT_EQ(s_szEnd, msgs.back());
            ExpectSameState(want, Capture(m_strEng));
            if (HasFailure())
                break;
        }
        printf("[ KilledRun ] %s: %d runs stopped, %d ended before their stop\n", pszWindows,
               nKills - nEndedBeforeKill, nEndedBeforeKill);
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
        bool IsHeld() const
        {
            return m_hFile != INVALID_HANDLE_VALUE;
        }

      private:
        HANDLE m_hFile;
    };

    std::string m_strPackage, m_strNewPackage, m_strEng;
};

TEST_F(KilledRun, StoppedAndRunAgainOnNt)
{
    REQUIRE_WINE();
    KillAndResume("win2k", 20);
}

TEST_F(KilledRun, StoppedAndRunAgainOn98WithAutoexecAndWinInit)
{
    REQUIRE_WINE();
    KillAndResume("win98", 20);
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
