// An engine DLL is usable only with the signature files of its own package. These runs lay down
// packages one over another, with the DLL in use and with runs stopped at the point where the
// DLL is in place or staged and its signature files are not yet, and check after the restart
// that the DLL and its two signature files are always those of one package.
#include "FlowSupport.h"

#include <string>
#include <vector>

using namespace flow;
using harness::LastRunMessages;
using harness::RunOptions;

namespace
{

const char* const s_apszOska[] = {"Osk32dll.dll", "Osksig.da0", "Osksig.dat"};

// True when strLog holds a whole line whose message begins with strPrefix and contains strAlso.
bool HasLogLine(const std::string& strLog, const std::string& strPrefix, const std::string& strAlso)
{
    for (size_t n = strLog.find("> " + strPrefix); n != std::string::npos;
         n = strLog.find("> " + strPrefix, n + 1))
    {
        size_t nEnd = strLog.find('\n', n);
        if (nEnd == std::string::npos)
            return false;
        size_t nAlso = strLog.find(strAlso, n);
        if (nAlso != std::string::npos && nAlso < nEnd)
            return true;
    }
    return false;
}

// A run started and stopped (TerminateProcess) as soon as the log holds a message that begins
// with strPrefix and contains strAlso: a run stopped at a point it reports. Returns false when
// the run ended first.
bool RunStoppedAt(const std::string& strArgs, const RunOptions& opts, const std::string& strPrefix,
                  const std::string& strAlso)
{
    const std::string strLogPath = harness::LogPath();
    DWORD cbFrom = (DWORD)harness::ReadFileBytes(strLogPath).size();
    PROCESS_INFORMATION pi;
    if (!harness::StartPelmora(strArgs, opts, &pi))
    {
        ADD_FAILURE() << "not started";
        return false;
    }
    bool bStopped = false;
    std::string strLog;
    const DWORD dwStart = GetTickCount();
    while (!bStopped && WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT &&
           GetTickCount() - dwStart < harness::Patience(60000))
    {
        HANDLE h = CreateFileA(strLogPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               NULL, OPEN_EXISTING, 0, NULL);
        if (h != INVALID_HANDLE_VALUE)
        {
            char buf[65536];
            DWORD cb;
            SetFilePointer(h, (LONG)cbFrom, NULL, FILE_BEGIN);
            while (ReadFile(h, buf, sizeof(buf), &cb, NULL) && cb > 0)
            {
                strLog.append(buf, cb);
                cbFrom += cb;
            }
            CloseHandle(h);
        }
        if (HasLogLine(strLog, strPrefix, strAlso))
            bStopped = TerminateProcess(pi.hProcess, 0xDEAD) != FALSE;
        else
            Sleep(0);
    }
    WaitForSingleObject(pi.hProcess, harness::Patience(30000));
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return bStopped;
}

class EnginePair : public FlowTest
{
  protected:
    // A reset machine for pszWindows ("win2k", or "win98" with delayed moves refused so that
    // requests go to WININIT.INI) and package A installed by product A into m_strEng.
    void InstallA(const char* pszWindows)
    {
        harness::ResetState();
        SetRecordView(pszWindows);
        if (std::string(pszWindows) == "win98")
            RefuseDelayedMoves();
        m_strEng = harness::TestDir() + "\\eng";
        harness::DeleteTree(m_strEng);
        ASSERT_EQ(0u, Run("/PROD:A /PATH:" + m_strEng, m_strA, pszWindows));
    }
    DWORD Run(const std::string& strArgs, const std::string& strPackage, const char* pszWindows)
    {
        return harness::RunPelmora(strArgs, Options(strPackage, pszWindows));
    }
    static RunOptions Options(const std::string& strPackage, const char* pszWindows)
    {
        RunOptions opts;
        opts.strCurDir = strPackage;
        opts.strWindows = pszWindows;
        return opts;
    }
    // The installed DLL and its pair hold the files of strPackage.
    void ExpectOskaFrom(const std::string& strPackage)
    {
        for (const char* psz : s_apszOska)
        {
            EXPECT_TRUE(SameContent(strPackage + "\\" + psz, m_strEng + "\\" + psz)) << psz;
        }
    }
    // Package A (the sample); B: a DLL newer by version and newer signatures; C: A's DLL and
    // signatures newer than A's but older than B's.
    void MakePackages(size_t cbPadB = 0)
    {
        m_strA = SamplePackage("a");
        m_strB = NewerOskaPackage("b");
        OskaSignatures(m_strB, "B", 7200, cbPadB);
        m_strC = SamplePackage("c");
        OskaSignatures(m_strC, "C", 3600);
    }
    std::string m_strA, m_strB, m_strC, m_strEng;
};

// A staged DLL that is not older than the package's stands, and keeps the pair it was staged
// with: the restart puts B's DLL in place with B's signature files, not with the later run's.
TEST_F(EnginePair, StagedDllThatStandsKeepsThePairItWasStagedWith)
{
    REQUIRE_WINE();
    MakePackages();
    for (const char* pszWindows : {"win2k", "win98"})
    {
        SCOPED_TRACE(pszWindows);
        InstallA(pszWindows);
        {
            HeldFile held(m_strEng + "\\Osk32dll.dll");
            ASSERT_TRUE(held.IsHeld());
            EXPECT_EQ(2u, Run("/PROD:B", m_strB, pszWindows));
            EXPECT_EQ(2u, Run("/PROD:C", m_strC, pszWindows));
            std::vector<std::string> msgs = LastRunMessages();
            ASSERT_FALSE(msgs.empty());
            EXPECT_EQ(s_szEnd, msgs.back());
            for (const char* psz : s_apszOska)
            {
                EXPECT_TRUE(SameContent(m_strB + "\\" + psz, m_strEng + "\\" + psz + "000")) << psz;
            }
        }
        ASSERT_TRUE(harness::Restart());
        ExpectOskaFrom(m_strB);
        EXPECT_EQ(ExpectedEngineFiles(3, pszWindows[3] == '9' ? Group9x : GroupNt),
                  DirNames(m_strEng));
    }
}

// A run stopped after it staged the DLL and before it staged the pair, run again by the same
// product or by the next one: after the restart the DLL and its pair come from one package, the
// one of the run that staged the DLL anew.
TEST_F(EnginePair, RunStoppedBetweenTheStagedDllAndItsPair)
{
    REQUIRE_WINE();
    // B's signature files are large, so that staging them takes long enough to stop the run in.
    MakePackages(32u << 20);
    struct Case
    {
        const char* pszWindows;
        const char* pszRerun;
    } const cases[] = {{"win2k", "B"}, {"win2k", "C"}, {"win98", "B"}, {"win98", "C"}};
    for (const Case& c : cases)
    {
        SCOPED_TRACE(std::string(c.pszWindows) + ", run again by " + c.pszRerun);
        const std::string& strRerun = c.pszRerun[0] == 'B' ? m_strB : m_strC;
        bool bLanded = false;
        for (int nTry = 0; nTry < 3 && !bLanded && !HasFatalFailure(); nTry++)
        {
            InstallA(c.pszWindows);
            HeldFile held(m_strEng + "\\Osk32dll.dll");
            ASSERT_TRUE(held.IsHeld());
            std::string strStaged = m_strEng + "\\Osk32dll.dll000";
            RunStoppedAt("/PROD:B", Options(m_strB, c.pszWindows), "Orvane: GetShortPathName ",
                         "of szFile:" + strStaged + " ");
            bLanded = SameContent(m_strB + "\\Osk32dll.dll", strStaged) &&
                      !harness::FileExists(m_strEng + "\\Osksig.da0000");
            if (!bLanded)
                continue;
            EXPECT_EQ(2u, Run(std::string("/PROD:") + c.pszRerun, strRerun, c.pszWindows));
            held.Release();
            ASSERT_TRUE(harness::Restart());
            ExpectOskaFrom(strRerun);
            EXPECT_EQ(ExpectedEngineFiles(3, c.pszWindows[3] == '9' ? Group9x : GroupNt),
                      DirNames(m_strEng));
        }
        EXPECT_TRUE(bLanded) << "no stop landed between the DLL and its pair in 3 tries (a "
                                "machine under heavy load?)";
    }
}

// An update stopped after it copied the DLL (newer by version) and before the signature files
// (rebuilt earlier than those installed, so not newer by time): the next run finds the section
// copy unfinished and copies the section whole, as an undisturbed run does.
TEST_F(EnginePair, SectionCopyStoppedAfterTheDllIsFinishedByTheNextRun)
{
    REQUIRE_WINE();
    m_strA = SamplePackage("a");
    std::string strD = NewerOskaPackage("d");
    OskaSignatures(strD, "D", -86400, 32u << 20);
    for (const char* pszWindows : {"win2k", "win98"})
    {
        SCOPED_TRACE(pszWindows);
        bool bLanded = false;
        for (int nTry = 0; nTry < 3 && !bLanded && !HasFatalFailure(); nTry++)
        {
            InstallA(pszWindows);
            RunStoppedAt("/PROD:D", Options(strD, pszWindows), "Orvane: File Copy from [",
                         "\\Osk32dll.dll] ");
            bLanded = SameContent(strD + "\\Osk32dll.dll", m_strEng + "\\Osk32dll.dll") &&
                      SameContent(m_strA + "\\Osksig.da0", m_strEng + "\\Osksig.da0");
            if (!bLanded)
                continue;
            EXPECT_EQ(0u, Run("/PROD:D", strD, pszWindows));
            std::vector<std::string> msgs = LastRunMessages();
            EXPECT_TRUE(harness::HasMessage(msgs, "Orvane: copy of the OSKA section was begun and "
                                                  "not finished, copy the entire OSKA section\n"));
            ExpectOskaFrom(strD);
            EXPECT_EQ(ExpectedEngineFiles(3, pszWindows[3] == '9' ? Group9x : GroupNt),
                      DirNames(m_strEng));

            // Finished: the run after it finds nothing newer, as after an undisturbed update.
            EXPECT_EQ(0u, Run("/PROD:D", strD, pszWindows));
            EXPECT_TRUE(harness::HasMessage(LastRunMessages(),
                                            "Orvane: no files updated in OSKA section, should "
                                            "not copy files over\n"));
        }
        EXPECT_TRUE(bLanded) << "no stop landed between the DLL and its signature files in 3 "
                                "tries (a machine under heavy load?)";
    }
}

} // namespace
