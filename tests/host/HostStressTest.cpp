// The stress cases of the Wine unit tests, run natively under AddressSanitizer and
// UndefinedBehaviorSanitizer, with the code page chosen per test. Same seed handling and case
// counts: a few thousand cases a routine, 100,000 with PELMORA_STRESS_LONG=1. Here the log is in
// memory, so the cases also check the lines the routines log.
#include "AutoexecCases.h"
#include "EntryNameCases.h"
#include "StressGen.h"

#include <gtest/gtest.h>

#include <string>

using stress::Rng;

namespace
{

const char s_szEngDir[] = "C:\\PROGRA~1\\QM\\SHARED~1\\SCANEN~1";
// U+8868 and U+30BD end with the byte of "\"; the second directory ends with one.
const char* const s_apszDbcsDirs[] = {"C:\\PROGRA~1\\\x95\x5C\\SCANEN~1", "C:\\QM\\\x83\x5C",
                                      "C:\\\x83\x41\x83\x5C\\B"};

// Restores every flag the parser reads to its value at the start of a run.
void ResetParserFlags()
{
    g_bSilent = 1;
    g_bDefaultArgs = 0;
    g_bCfgMode = 0;
    g_dwEngIDs = BOTH_OSKA_BRIN;
}

// The PATH edit under one code page; a value left unchanged for want of room says so in the
// log, and an edited one logs nothing.
void RunPathCases(unsigned uCodePage, int nNormal)
{
    HostSetCodePage(uCodePage);
    const bool bDoubleByte = uCodePage == 932;
    const uint32_t uSeed = stress::RunSeed();
    const int nCases = stress::CaseCount(nNormal);
    int nNoRoom = 0;
    for (int i = 0; i < nCases && !::testing::Test::HasFailure(); i++)
    {
        SCOPED_TRACE(stress::CaseTrace(uSeed, i));
        Rng rng(uSeed, (uint32_t)i);
        std::string strDir = bDoubleByte ? s_apszDbcsDirs[rng.Below(3)] : s_szEngDir;
        std::string strBefore;
        DWORD cbBuffer;
        stress::RandomPathCase(rng, strDir, bDoubleByte, &strBefore, &cbBuffer);
        HostLogClear();
        std::string strFault = stress::PathEntryFault(strBefore, strDir, cbBuffer);
        ASSERT_TRUE(strFault.empty()) << strFault;

        const std::string strLog = HostLogText();
        if (stress::ExpectedPathText(strBefore, strDir).size() + 1 > cbBuffer)
        {
            nNoRoom++;
            EXPECT_NE(std::string::npos, strLog.find("has no room for [;" + strDir + "]"))
                << strLog;
        }
        else
        {
            EXPECT_EQ("", strLog);
        }
    }
    // The one-byte-short buffers must have reached the branch that leaves the value alone.
    EXPECT_GT(nNoRoom, nCases / 50) << "of " << nCases;
}

TEST(HostStress, PathEntryUnderCodePage1252)
{
    RunPathCases(1252, 5000);
}

TEST(HostStress, PathEntryUnderCodePage932)
{
    RunPathCases(932, 3000);
}

// The argument parser under one code page; a text too long for the working copy is refused
// with its reason in the log.
void RunArgumentCases(unsigned uCodePage, int nNormal)
{
    HostSetCodePage(uCodePage);
    const uint32_t uSeed = stress::RunSeed();
    const int nCases = stress::CaseCount(nNormal);
    int nAccepted = 0;
    int nTooLong = 0;
    for (int i = 0; i < nCases && !::testing::Test::HasFailure(); i++)
    {
        SCOPED_TRACE(stress::CaseTrace(uSeed, i));
        Rng rng(uSeed, (uint32_t)i);
        ResetParserFlags();
        HostLogClear();
        std::string strText = stress::RandomArgumentText(rng, uCodePage == 932);
        g_bDefaultArgs = (int)rng.Below(2);
        bool bAccepted = false;
        std::string strFault = stress::ArgumentFault(strText, &bAccepted);
        ASSERT_TRUE(strFault.empty()) << strFault;
        nAccepted += bAccepted ? 1 : 0;
        if (strText.size() >= MAX_PATH)
        {
            nTooLong++;
            EXPECT_NE(nullptr, strstr(HostLogText(), "argument text too long"));
        }
        strFault = stress::ArgumentTextFault(stress::RandomCommandLine(rng, strText));
        ASSERT_TRUE(strFault.empty()) << strFault;
    }
    EXPECT_GT(nAccepted, nCases / 50) << "of " << nCases;
    EXPECT_GT(nTooLong, nCases / 50) << "of " << nCases;
}

TEST(HostStress, ArgumentTextUnderCodePage1252)
{
    RunArgumentCases(1252, 3000);
}

TEST(HostStress, ArgumentTextUnderCodePage932)
{
    RunArgumentCases(932, 2000);
}

// The [Rename] line placed into random WININIT.INI contents, NUL bytes and near misses of the
// header included.
TEST(HostStress, WinInitLineKeepsEveryEarlierByte)
{
    const uint32_t uSeed = stress::RunSeed();
    const int nCases = stress::CaseCount(3000);
    int nUnderHeader = 0;
    for (int i = 0; i < nCases && !HasFailure(); i++)
    {
        SCOPED_TRACE(stress::CaseTrace(uSeed, i));
        Rng rng(uSeed, (uint32_t)i);
        std::string strBefore = rng.Below(8) != 0 ? stress::RandomWinInit(rng) : std::string();
        std::string strLine =
            (rng.Percent(30) ? std::string("NUL")
                             : "C:\\" + rng.Printable(rng.Range(1, 80), "\r\n=")) +
            "=C:\\" + rng.Printable(rng.Range(1, 900), "\r\n=") + "\r\n";
        std::string strFault = stress::WinInitFault(strBefore, strLine);
        ASSERT_TRUE(strFault.empty()) << strFault;
        nUnderHeader += strBefore.find(WININIT_RENAME_HEADER) != std::string::npos ? 1 : 0;
    }
    // Both ways, under a header and with a header appended, must have been taken.
    EXPECT_GT(nUnderHeader, nCases / 20) << "of " << nCases;
    EXPECT_LT(nUnderHeader, nCases - nCases / 20) << "of " << nCases;
}

// The AUTOEXEC.BAT edits on random contents: the install keeps the user's lines, the removal
// takes only this directory's, and the removal after the install gives the user's lines back.
void RunAutoexecCases(unsigned uCodePage, int nNormal)
{
    HostSetCodePage(uCodePage);
    const bool bDoubleByte = uCodePage == 932;
    const uint32_t uSeed = stress::RunSeed();
    const int nCases = stress::CaseCount(nNormal);
    int nPathLines = 0;
    for (int i = 0; i < nCases && !::testing::Test::HasFailure(); i++)
    {
        SCOPED_TRACE(stress::CaseTrace(uSeed, i));
        Rng rng(uSeed, (uint32_t)i);
        std::string strShort = bDoubleByte ? s_apszDbcsDirs[rng.Below(3)] : s_szEngDir;
        std::string strBefore = stress::RandomAutoexec(rng, strShort, bDoubleByte);
        HostLogClear();
        std::string strFault = stress::AutoexecFault(strBefore, strShort, rng.Percent(50));
        ASSERT_TRUE(strFault.empty())
            << strFault << "\n  before [" << stress::Printed(strBefore) << "]";
        nPathLines += strstr(HostLogText(), "remove path [") != NULL ? 1 : 0;
    }
    // The removal must have taken entries out of PATH lines, not only whole lines.
    EXPECT_GT(nPathLines, nCases / 20) << "of " << nCases;
}

TEST(HostStress, AutoexecUnderCodePage1252)
{
    RunAutoexecCases(1252, 1500);
}

TEST(HostStress, AutoexecUnderCodePage932)
{
    RunAutoexecCases(932, 1000);
}

// The manifest's entry names: a name the guards take never leads out of the directory or to a
// device, and the join stays inside MAX_PATH.
TEST(HostStress, EntryNamesStayInsideTheDirectory)
{
    const uint32_t uSeed = stress::RunSeed();
    const int nCases = stress::CaseCount(6000);
    int nContained = 0;
    for (int i = 0; i < nCases && !HasFailure(); i++)
    {
        SCOPED_TRACE(stress::CaseTrace(uSeed, i));
        Rng rng(uSeed, (uint32_t)i);
        const bool bDoubleByte = rng.Percent(50);
        HostSetCodePage(bDoubleByte ? 932 : 1252);
        const std::string strName = stress::RandomEntryName(rng, bDoubleByte);
        std::string strFault = stress::EntryNameFault(stress::EntryDir(rng.Below(4)), strName,
                                                      rng.Percent(50) ? "000" : NULL);
        ASSERT_TRUE(strFault.empty()) << strFault;
        nContained += IsContainedFileName(strName.c_str()) ? 1 : 0;
    }
    // Both ways, taken and refused, must have been reached.
    EXPECT_GT(nContained, nCases / 20) << "of " << nCases;
    EXPECT_LT(nContained, nCases - nCases / 20) << "of " << nCases;
}

} // namespace
