// Pending-replacement lookup and the scheduling step: the RegBuf snapshot of the value as Wine
// stores it, WININIT.INI read anew, and short names that cannot be had.
#include "Restart.h"
#include "UnitFixture.h"

#include "reboot/reboot.h"

#include <string>
#include <vector>

namespace
{

BOOL WINAPI FailingMoveFileExA(LPCSTR, LPCSTR, DWORD)
{
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

// Fails for the name g_strFailFor; the rest go to the real call.
std::string g_strFailFor;
DWORD g_dwFakeResult; // 0: fail with ERROR_FILE_NOT_FOUND; else: return this count
DWORD WINAPI PickyGetShortPathNameA(LPCSTR pszLong, LPSTR pszShort, DWORD cch)
{
    if (g_strFailFor != pszLong)
        return ::GetShortPathNameA(pszLong, pszShort, cch);
    if (g_dwFakeResult == 0)
    {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    return g_dwFakeResult;
}

class Pending : public UnitTest
{
  protected:
    void MakePair(const char* pszName)
    {
        m_strTarget = harness::TestDir() + "\\" + pszName;
        m_strStaged = m_strTarget + "000";
        ASSERT_TRUE(harness::WriteFileBytes(m_strTarget, "old content"));
        ASSERT_TRUE(harness::WriteFileBytes(m_strStaged, "new content"));
        m_strShortTarget = harness::ShortUpper(m_strTarget);
        m_strShortStaged = harness::ShortUpper(m_strStaged);
        m_strGivenTarget = harness::ShortName(m_strTarget);
        m_strGivenStaged = harness::ShortName(m_strStaged);
    }
    // The lines of one scheduling step up to the lookup.
    std::vector<std::string> ScheduleLines()
    {
        return {
            "Orvane: GetShortPathName " + m_strGivenStaged + " of szFile:" + m_strStaged + " \n",
            "Orvane: GetShortPathName " + m_strGivenTarget + " of szEngFile:" + m_strTarget + " \n",
            "Orvane: CanYouFindMe\n"};
    }
    std::string RequestLine()
    {
        return "RemoveFileOnReboot: from pszExisting [" + m_strShortStaged + "] to [" +
               m_strShortTarget + "] \n";
    }
    std::string m_strTarget, m_strStaged, m_strShortTarget, m_strShortStaged;
    // As the platform gives them, before the upper-casing: what the log shows.
    std::string m_strGivenTarget, m_strGivenStaged;
};

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(Pending, NtFindsATargetScheduledByAnEarlierRun)
{
    MakePair("Osk32dll.dll");
    // The earlier run, as it left the registry.
    ASSERT_TRUE(RemoveFileOnReboot(m_strShortStaged.c_str(), m_strShortTarget.c_str()));
    std::string strValue = harness::ReadPendingRaw();
    g_nLogState = -1;

    g_dwOSType = OSID_W2K;
    REG_BUF regBuf;
    TakeRegBuf(&regBuf);
    ASSERT_NE(nullptr, regBuf.pszRegBuf);
    ScheduleReplacement(m_strStaged.c_str(), m_strTarget.c_str(), regBuf.pszRegBuf);
    ReleaseRegBuf(&regBuf);

    EXPECT_EQ(strValue, harness::ReadPendingRaw());
    EXPECT_EQ(
        Concat(ScheduleLines(), {"Orvane: file " + m_strShortTarget + " is already in reg\n"}),
        harness::LastRunMessages());
}

TEST_F(Pending, NtMissesWhatTheSamePassScheduledButRecordsItOnce)
{
    REQUIRE_WINE();
    MakePair("Osksig.dat");
    g_dwOSType = OSID_NT4;
    REG_BUF regBuf;
    TakeRegBuf(&regBuf);
    ASSERT_NE(nullptr, regBuf.pszRegBuf);
    ScheduleReplacement(m_strStaged.c_str(), m_strTarget.c_str(), regBuf.pszRegBuf);
    ScheduleReplacement(m_strStaged.c_str(), m_strTarget.c_str(), regBuf.pszRegBuf);
    ReleaseRegBuf(&regBuf);

    // The snapshot predates the first request, so the second one is asked for as well; a
    // second copy of the request in the value would delete the new file at restart.
    EXPECT_EQ(
        Concat(Concat(ScheduleLines(), {RequestLine(), "RemoveFileOnReboot: MoveFileEx\n"}),
               Concat(ScheduleLines(), {RequestLine(), "RemoveFileOnReboot: [" + m_strShortTarget +
                                                           "] already pending\n"})),
        harness::LastRunMessages());
    std::vector<std::string> pending = harness::ReadPendingRenames();
    ASSERT_GE(pending.size(), 4u);
    EXPECT_EQ((std::vector<std::string>{"\\??\\" + m_strShortTarget, "",
                                        "\\??\\" + m_strShortStaged, "\\??\\" + m_strShortTarget}),
              std::vector<std::string>(pending.end() - 4, pending.end()));
    int nTargets = 0;
    for (const auto& s : pending)
        nTargets += s == "\\??\\" + m_strShortTarget;
    EXPECT_EQ(2, nTargets);

    ASSERT_TRUE(harness::Restart());
    EXPECT_EQ("new content", harness::ReadFileBytes(m_strTarget));
    EXPECT_FALSE(harness::FileExists(m_strStaged));
}

TEST_F(Pending, NineXFindsWhatTheSamePassScheduledInTheRereadFile)
{
    MakePair("Brine.dll");
    SeamOverrideMoveFileExA(FailingMoveFileExA);
    for (DWORD dwOS : {(DWORD)OSID_W95, (DWORD)OSID_W98, (DWORD)OSID_WME})
    {
        SCOPED_TRACE(dwOS);
        harness::ResetState();
        g_nLogState = -1;
        g_dwOSType = dwOS;
        REG_BUF regBuf;
        TakeRegBuf(&regBuf);
        EXPECT_EQ(nullptr, regBuf.pszRegBuf);
        ScheduleReplacement(m_strStaged.c_str(), m_strTarget.c_str(), regBuf.pszRegBuf);
        ScheduleReplacement(m_strStaged.c_str(), m_strTarget.c_str(), regBuf.pszRegBuf);
        ReleaseRegBuf(&regBuf);

        EXPECT_EQ("[Rename]\r\nNUL=" + m_strShortTarget + "\r\n" + m_strShortTarget + "=" +
                      m_strShortStaged + "\r\n",
                  harness::ReadFileBytes(harness::WinInitPath()));
        std::string strWinInitLine =
            "Orvane: get wininit file from " + harness::WinInitPath() + "\n";
        EXPECT_EQ(
            Concat(Concat(ScheduleLines(), {strWinInitLine, "Orvane: wininit file not found.\n",
                                            RequestLine(), "RemoveFileOnReboot: Win9x\n"}),
                   Concat(ScheduleLines(), {strWinInitLine, "Orvane: file " + m_strShortTarget +
                                                                " is in wininit\n"})),
            harness::LastRunMessages());
    }
}

TEST_F(Pending, NineXSearchesEachPieceOfALongLineByItself)
{
    g_dwOSType = OSID_W98;
    const std::string strTarget = "C:\\ENG\\X.DLL";
    struct
    {
        const char* pszName;
        std::string strFile;
        BOOL bFound;
    } cases[] = {
        // Only where the entry ends: at the "=" or at the line end.
        {"the staged copy's name", "[Rename]\r\nNUL=C:\\ENG\\X.DLL000\r\n", FALSE},
        {"another file's name that begins with it", "[Rename]\r\nNUL=C:\\ENG\\X.DLL.OLD\r\n",
         FALSE},
        {"before the equals sign", "[Rename]\r\nC:\\ENG\\X.DLL=C:\\ENG\\X.DLL000\r\n", TRUE},
        {"before a line end without CR", "[Rename]\nNUL=C:\\ENG\\X.DLL\n", TRUE},
        {"ends a piece the line goes on after", std::string(243, 'x') + strTarget + "y\r\n", FALSE},
        {"letter case differs", "[Rename]\r\nNUL=c:\\eng\\x.dll\r\n", FALSE},
        {"straddles the 255-byte boundary", std::string(250, 'x') + strTarget + "\r\n", FALSE},
        {"starts the second piece", std::string(255, 'x') + strTarget + "\r\n", TRUE},
        {"on a later line", "[Rename]\r\n" + std::string(600, 'y') + "\r\n=" + strTarget, TRUE},
        {"no such line", "[Rename]\r\nNUL=C:\\ENG\\Y.DLL\r\n", FALSE},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        ASSERT_TRUE(harness::WriteFileBytes(harness::WinInitPath(), c.strFile));
        EXPECT_EQ(c.bFound, CanYouFindMe(strTarget.c_str(), NULL));
    }
}

// The lookup reads WININIT.INI as a text file: nothing behind a Ctrl-Z, and beside another
// program that holds the file open for writing, but not beside one that holds it to itself.
TEST_F(Pending, NineXReadsWinInitAsATextFileOpenBesideWriters)
{
    g_dwOSType = OSID_W98;
    const std::string strTarget = "C:\\ENG\\X.DLL";
    const std::string strLines = "[Rename]\r\nNUL=" + strTarget + "\r\n";
    const struct
    {
        const char* pszName;
        std::string strFile;
        bool bHeld;
        DWORD dwHolderShare;
        BOOL bFound;
    } cases[] = {
        {"behind a Ctrl-Z", "[Rename]\r\n\x1A" + strLines, false, 0, FALSE},
        {"ending at a Ctrl-Z", "[Rename]\r\nNUL=" + strTarget + "\x1A\r\n", false, 0, TRUE},
        {"held open for writing", strLines, true, FILE_SHARE_READ | FILE_SHARE_WRITE, TRUE},
        {"held to itself", strLines, true, 0, FALSE},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        ASSERT_TRUE(harness::WriteFileBytes(harness::WinInitPath(), c.strFile));
        HANDLE hHolder = INVALID_HANDLE_VALUE;
        if (c.bHeld)
        {
            hHolder =
                CreateFileA(harness::WinInitPath().c_str(), GENERIC_READ | GENERIC_WRITE,
                            c.dwHolderShare, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
            ASSERT_NE(INVALID_HANDLE_VALUE, hHolder) << GetLastError();
        }
        EXPECT_EQ(c.bFound, CanYouFindMe(strTarget.c_str(), NULL));
        if (hHolder != INVALID_HANDLE_VALUE)
            CloseHandle(hHolder);
    }
}

// The snapshot of the value as Wine stores it: a target is pending only where one of its strings
// ends with it, whatever prefix or letter case the request was recorded with.
TEST_F(Pending, NtFindsATargetOnlyWhereAPendingNameEndsWithIt)
{
    g_dwOSType = OSID_W2K;
    const char szTarget[] = "C:\\ENG\\OSK32DLL.DLL";
    struct
    {
        const char* pszName;
        std::vector<std::wstring> value;
        BOOL bFound;
    } cases[] = {
        {"deletion", {L"\\??\\C:\\ENG\\OSK32DLL.DLL", L""}, TRUE},
        {"rename that may replace",
         {L"\\??\\C:\\ENG\\OSK32DLL.DLL000", L"!\\??\\C:\\ENG\\OSK32DLL.DLL"},
         TRUE},
        {"other letter case", {L"\\??\\c:\\eng\\osk32dll.dll", L""}, TRUE},
        {"last string of the list", {L"\\??\\C:\\A", L"", L"\\??\\C:\\ENG\\OSK32DLL.DLL"}, TRUE},
        {"another file's name that begins with it",
         {L"\\??\\C:\\ENG\\OSK32DLL.DLL.OLD", L""},
         FALSE},
        {"the same with an underscore", {L"\\??\\C:\\ENG\\OSK32DLL.DLL_OLD", L""}, FALSE},
        {"the staged copy only", {L"\\??\\C:\\ENG\\OSK32DLL.DLL000", L""}, FALSE},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        harness::ResetState();
        harness::WritePendingRenames(c.value);
        REG_BUF regBuf;
        TakeRegBuf(&regBuf);
        ASSERT_NE(nullptr, regBuf.pszRegBuf);
        MbsUpper(regBuf.pszRegBuf); // as the scheduling step does before it asks
        EXPECT_EQ(c.bFound, CanYouFindMe(szTarget, regBuf.pszRegBuf));
        ReleaseRegBuf(&regBuf);
    }
}

TEST_F(Pending, EmptyTargetIsFoundWhereverThereIsSomethingToSearch)
{
    g_dwOSType = OSID_W2K;
    EXPECT_TRUE(CanYouFindMe("", ""));
    EXPECT_FALSE(CanYouFindMe("", NULL));
    EXPECT_FALSE(CanYouFindMe("C:\\X", ""));
    g_dwOSType = OSID_UNKNOWN; // searches the snapshot as the NT family does
    EXPECT_TRUE(CanYouFindMe("B", "A|B|"));
    EXPECT_FALSE(CanYouFindMe("B", NULL));

    g_dwOSType = OSID_WME;
    DeleteFileA(harness::WinInitPath().c_str());
    EXPECT_FALSE(CanYouFindMe("", "ignored on ME"));
    ASSERT_TRUE(harness::WriteFileBytes(harness::WinInitPath(), ""));
    EXPECT_FALSE(CanYouFindMe("", NULL));
    ASSERT_TRUE(harness::WriteFileBytes(harness::WinInitPath(), "\r\n"));
    EXPECT_TRUE(CanYouFindMe("", NULL));
}

// A value of exactly cbValue bytes in its narrow form: pairs of deletions of fixed-length names,
// the last one naming pszLast, plus the list's final NUL.
std::vector<std::wstring> ValueOfSize(size_t cbValue, const wchar_t* pszLast)
{
    std::vector<std::wstring> strings;
    std::wstring last = std::wstring(L"\\??\\") + pszLast;
    size_t cbUsed = 1 + last.size() + 1 + 1; // final NUL, the last pair
    while (cbValue - cbUsed > 40)
    {
        strings.push_back(L"\\??\\C:\\" + std::wstring(40 - 9, L'f'));
        strings.push_back(L"");
        cbUsed += 40;
    }
    size_t cchPad = cbValue - cbUsed - 2; // one more name with its own empty destination
    strings.push_back(std::wstring(cchPad, L'p'));
    strings.push_back(L"");
    strings.push_back(last);
    strings.push_back(L"");
    return strings;
}

TEST_F(Pending, SnapshotOverItsBufferComesFromTheHeap)
{
    g_dwOSType = OSID_W2K;
    for (size_t cb : {(size_t)1000, (size_t)1280, (size_t)1281, (size_t)5000})
    {
        SCOPED_TRACE(cb);
        harness::ResetState();
        g_nLogState = -1;
        harness::WritePendingRenames(ValueOfSize(cb, L"C:\\ENG\\LAST.DLL"));

        REG_BUF regBuf;
        TakeRegBuf(&regBuf);
        ASSERT_NE(nullptr, regBuf.pszRegBuf);
        EXPECT_EQ(cb - 1, strlen(regBuf.pszRegBuf));
        EXPECT_EQ(std::string("\\??\\C:\\ENG\\LAST.DLL||"),
                  std::string(regBuf.pszRegBuf + cb - 1 - 21));
        EXPECT_TRUE(CanYouFindMe("C:\\ENG\\LAST.DLL", regBuf.pszRegBuf));
        ReleaseRegBuf(&regBuf);
        EXPECT_EQ(nullptr, regBuf.pszRegBuf);

        std::vector<std::string> expected;
        if (cb > 1280)
            expected.push_back("Orvane: increase RegBuf length to [" + std::to_string(cb) + "]\n");
        expected.push_back("Orvane: CanYouFindMe\n");
        expected.push_back("Orvane: file C:\\ENG\\LAST.DLL is already in reg\n");
        if (cb > 1280)
            expected.push_back("Orvane: free RegBuf\n");
        EXPECT_EQ(expected, harness::LastRunMessages());
    }
}

void SetPendingBytes(DWORD dwType, const std::string& data)
{
    HKEY hKey;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                                           "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                                           KEY_SET_VALUE, &hKey));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(hKey, "PendingFileRenameOperations", 0, dwType,
                                            (const BYTE*)data.data(), (DWORD)data.size()));
    RegCloseKey(hKey);
}

TEST_F(Pending, SnapshotReadsTheValueAsOneString)
{
    for (DWORD dwOS : {(DWORD)OSID_UNKNOWN, (DWORD)OSID_W95, (DWORD)OSID_W98, (DWORD)OSID_WME})
    {
        SCOPED_TRACE(dwOS);
        g_dwOSType = dwOS;
        REG_BUF regBuf;
        TakeRegBuf(&regBuf);
        EXPECT_EQ(nullptr, regBuf.pszRegBuf);
        ReleaseRegBuf(&regBuf);
    }

    g_dwOSType = OSID_NT351;
    struct
    {
        const char* pszName;
        DWORD dwType; // REG_NONE: no value
        std::string strData;
        const char* pszSnapshot;
    } cases[] = {
        {"no value", REG_NONE, "", ""},
        {"deletion and rename", REG_MULTI_SZ,
         std::string("\\??\\C:\\A\0\0\\??\\C:\\A000\0\\??\\C:\\A\0\0", 32),
         "\\??\\C:\\A||\\??\\C:\\A000|\\??\\C:\\A|"},
        {"string value", REG_SZ, std::string("x\0", 2), "x"},
        {"bytes without a final NUL", REG_BINARY, "ABC", "ABC"},
        {"one NUL", REG_BINARY, std::string("\0", 1), ""},
        {"empty", REG_BINARY, "", ""},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        harness::ResetState();
        harness::WritePendingRenames({});
        if (c.dwType != REG_NONE)
            SetPendingBytes(c.dwType, c.strData);
        REG_BUF regBuf;
        // Left over from an earlier use: the snapshot must not show it.
        memset(regBuf.szBuf, 'Z', sizeof(regBuf.szBuf));
        TakeRegBuf(&regBuf);
        ASSERT_NE(nullptr, regBuf.pszRegBuf);
        EXPECT_STREQ(c.pszSnapshot, regBuf.pszRegBuf);
        ReleaseRegBuf(&regBuf);
    }
}

TEST_F(Pending, ShortNameThatCannotBeHadSchedulesNothing)
{
    MakePair("Brin.da1");
    g_dwOSType = OSID_W2K;
    SeamOverrideGetShortPathNameA(PickyGetShortPathNameA);
    const std::string strStagedShort = ScheduleLines()[0], strTargetShort = ScheduleLines()[1];
    const std::string strStagedFails =
        "Orvane: GetShortPathName szFile:" + m_strStaged + " fail: 2\n";
    const std::string strTargetFails =
        "Orvane: GetShortPathName szEngFile:" + m_strTarget + " fail: 2\n";
    const std::string strStagedTooLong =
        "Orvane: GetShortPathName szFile:" + m_strStaged + " fail: 122\n";
    const std::string strTargetTooLong =
        "Orvane: GetShortPathName szEngFile:" + m_strTarget + " fail: 122\n";
    struct
    {
        const char* pszName;
        std::string strFailFor;
        DWORD dwResult;
        std::vector<std::string> lines;
    } cases[] = {
        {"staged copy not found", m_strStaged, 0, {strStagedFails, strTargetShort}},
        {"target not found", m_strTarget, 0, {strStagedShort, strTargetFails}},
        {"staged copy's short name too long",
         m_strStaged,
         MAX_PATH + 40,
         {strStagedTooLong, strTargetShort}},
        {"target's short name just too long",
         m_strTarget,
         MAX_PATH,
         {strStagedShort, strTargetTooLong}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        harness::ResetState();
        g_nLogState = -1;
        std::string strValue = harness::ReadPendingRaw();
        g_strFailFor = c.strFailFor;
        g_dwFakeResult = c.dwResult;
        REG_BUF regBuf;
        TakeRegBuf(&regBuf);
        ScheduleReplacement(m_strStaged.c_str(), m_strTarget.c_str(), regBuf.pszRegBuf);
        ReleaseRegBuf(&regBuf);

        EXPECT_EQ(c.lines, harness::LastRunMessages());
        EXPECT_EQ(strValue, harness::ReadPendingRaw());
        EXPECT_FALSE(harness::FileExists(harness::WinInitPath()));
    }
}

// A staged copy whose target does not exist yet (a signature file staged with its DLL before it
// was ever installed) has no short name to give. It still reaches its place: under the target's
// long name on the NT family; on 95/98/ME, whose WININIT.INI needs short names, under the
// directory's short path and the name when that is a valid 8.3 name; otherwise at once, since
// nothing can hold a file that does not exist.
TEST_F(Pending, TargetNotThereYetStillReachesItsPlace)
{
    REQUIRE_WINE();
    SeamOverrideGetShortPathNameA(PickyGetShortPathNameA);
    enum Way
    {
        LongName,
        ShortForm,
        AtOnce,
    };
    struct
    {
        const char* pszName;
        DWORD dwOS;
        const char* pszFile;
        bool bDirHasNoShortName;
        Way way;
    } cases[] = {
        {"2000", OSID_W2K, "Brin.da1", false, LongName},
        {"NT 4, a name longer than 8.3", OSID_NT4, "Brin sig.data", false, LongName},
        {"98", OSID_W98, "Brin.da1", false, ShortForm},
        {"ME", OSID_WME, "Brin.dat", false, ShortForm},
        {"98, a name longer than 8.3", OSID_W98, "Brin sig.data", false, AtOnce},
        {"95, a directory without a short name", OSID_W95, "Brin.da1", true, AtOnce},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        harness::ResetState();
        g_nLogState = -1;
        g_dwOSType = c.dwOS;
        bool b9x = c.dwOS == OSID_W95 || c.dwOS == OSID_W98 || c.dwOS == OSID_WME;
        SeamOverrideMoveFileExA(b9x ? FailingMoveFileExA : NULL);
        // A folder of its own: the restart of an earlier case put its file in place.
        const std::string strDir = harness::TestDir() + "\\" + std::to_string(&c - cases);
        ASSERT_TRUE(CreateDirectoryA(strDir.c_str(), NULL));
        const std::string strTarget = strDir + "\\" + c.pszFile;
        const std::string strStaged = strTarget + "000";
        ASSERT_TRUE(harness::WriteFileBytes(strStaged, "new content"));
        const std::string strStagedShort = harness::ShortUpper(strStaged);
        g_strFailFor = c.bDirHasNoShortName ? strDir : std::string();
        g_dwFakeResult = 0;

        REG_BUF regBuf;
        TakeRegBuf(&regBuf);
        ScheduleReplacement(strStaged.c_str(), strTarget.c_str(), regBuf.pszRegBuf);
        ReleaseRegBuf(&regBuf);

        std::vector<std::string> msgs = harness::LastRunMessages();
        ASSERT_GE(msgs.size(), 3u);
        EXPECT_EQ("Orvane: GetShortPathName szEngFile:" + strTarget + " fail: 2\n", msgs[1]);
        std::string strRequested; // the target as the request names it
        switch (c.way)
        {
        case LongName:
        {
            strRequested = strTarget;
            MbsUpper(&strRequested[0]);
            EXPECT_EQ("Orvane: szEngFile:" + strTarget +
                          " does not exist yet, using its long name\n",
                      msgs[2]);
            std::vector<std::string> pending = harness::ReadPendingRenames();
            EXPECT_EQ(
                (std::vector<std::string>{"\\??\\" + strRequested, "", "\\??\\" + strStagedShort,
                                          "\\??\\" + strRequested}),
                pending);
            break;
        }
        case ShortForm:
        {
            strRequested = harness::ShortUpper(strDir) + "\\" + c.pszFile;
            MbsUpper(&strRequested[0]);
            EXPECT_EQ("Orvane: szEngFile:" + strTarget + " does not exist yet, using " +
                          harness::ShortName(strDir) + "\\" + c.pszFile + "\n",
                      msgs[2]);
            EXPECT_EQ("[Rename]\r\nNUL=" + strRequested + "\r\n" + strRequested + "=" +
                          strStagedShort + "\r\n",
                      harness::ReadFileBytes(harness::WinInitPath()));
            break;
        }
        case AtOnce:
            EXPECT_EQ(c.bDirHasNoShortName
                          ? "Orvane: GetShortPathName of the directory of szEngFile:" + strTarget +
                                " fail: 2\n"
                          : "Orvane: szEngFile:" + strTarget +
                                " does not exist yet and is no 8.3 name for WININIT.INI\n",
                      msgs[2]);
            ASSERT_EQ(4u, msgs.size());
            EXPECT_EQ("Orvane: File Move from [" + strStaged + "] to [" + strTarget +
                          "] Successfully, nothing can hold it\n",
                      msgs[3]);
            EXPECT_EQ("new content", harness::ReadFileBytes(strTarget));
            EXPECT_FALSE(harness::FileExists(strStaged));
            EXPECT_FALSE(harness::FileExists(harness::WinInitPath()));
            continue;
        }
        EXPECT_TRUE(harness::HasMessage(msgs, "RemoveFileOnReboot: from pszExisting [" +
                                                  strStagedShort + "] to [" + strRequested +
                                                  "] \n"));
        EXPECT_FALSE(harness::FileExists(strTarget));
        ASSERT_TRUE(harness::Restart());
        EXPECT_EQ("new content", harness::ReadFileBytes(strTarget));
        EXPECT_FALSE(harness::FileExists(strStaged));
    }
}

} // namespace

// A run stopped between its two delayed moves leaves the deletion of the target alone. The next
// run's lookup finds the target; the request is completed with its rename, so the restart puts
// the staged copy in place instead of only deleting the file. A complete request stays as it is.
TEST_F(Pending, NtDeletionLeftWithoutItsRenameGetsItAndTheRestartReplaces)
{
    REQUIRE_WINE();
    MakePair("Osk32dll.dll");
    g_dwOSType = OSID_W2K;
    ASSERT_TRUE(MoveFileExA(m_strShortTarget.c_str(), NULL, MOVEFILE_DELAY_UNTIL_REBOOT));
    std::vector<std::string> lone = harness::ReadPendingRenames();
    ASSERT_GE(lone.size(), 2u);
    g_nLogState = -1;

    REG_BUF regBuf;
    TakeRegBuf(&regBuf);
    ASSERT_NE(nullptr, regBuf.pszRegBuf);
    ScheduleReplacement(m_strStaged.c_str(), m_strTarget.c_str(), regBuf.pszRegBuf);
    ReleaseRegBuf(&regBuf);

    EXPECT_EQ(Concat(ScheduleLines(), {"Orvane: file " + m_strShortTarget + " is already in reg\n",
                                       "RemoveFileOnReboot: deletion of [" + m_strShortTarget +
                                           "] pending without its rename, add it\n",
                                       "RemoveFileOnReboot: MoveFileEx\n"}),
              harness::LastRunMessages());
    std::vector<std::string> expected = lone;
    expected.push_back("\\??\\" + m_strShortStaged);
    expected.push_back("\\??\\" + m_strShortTarget);
    std::vector<std::string> complete = harness::ReadPendingRenames();
    EXPECT_EQ(expected, complete);

    // Asked again, the request is whole: nothing is added.
    TakeRegBuf(&regBuf);
    ScheduleReplacement(m_strStaged.c_str(), m_strTarget.c_str(), regBuf.pszRegBuf);
    ReleaseRegBuf(&regBuf);
    EXPECT_EQ(complete, harness::ReadPendingRenames());

    ASSERT_TRUE(harness::Restart());
    EXPECT_EQ("new content", harness::ReadFileBytes(m_strTarget));
    EXPECT_FALSE(harness::FileExists(m_strStaged));
}

// The same on 95/98/ME: a run stopped between its two WININIT.INI lines leaves the rename line
// alone. The next run adds the deletion line above it, once, and the restart replaces the file.
TEST_F(Pending, NineXRenameLineLeftWithoutItsDeletionGetsItAndTheRestartReplaces)
{
    REQUIRE_WINE();
    MakePair("Brine.dll");
    g_dwOSType = OSID_W98;
    const std::string strOther = "; another setup's request\r\n[Rename]\r\nNUL=C:\\OLD\\A.DLL\r\n";
    ASSERT_TRUE(harness::WriteFileBytes(harness::WinInitPath(), strOther));
    ASSERT_TRUE(AddWinInitRename(m_strShortStaged.c_str(), m_strShortTarget.c_str()));
    g_nLogState = -1;

    REG_BUF regBuf;
    TakeRegBuf(&regBuf);
    ScheduleReplacement(m_strStaged.c_str(), m_strTarget.c_str(), regBuf.pszRegBuf);
    ScheduleReplacement(m_strStaged.c_str(), m_strTarget.c_str(), regBuf.pszRegBuf);
    ReleaseRegBuf(&regBuf);

    EXPECT_EQ("; another setup's request\r\n[Rename]\r\nNUL=" + m_strShortTarget + "\r\n" +
                  m_strShortTarget + "=" + m_strShortStaged + "\r\nNUL=C:\\OLD\\A.DLL\r\n",
              harness::ReadFileBytes(harness::WinInitPath()));
    std::vector<std::string> msgs = harness::LastRunMessages();
    int nAdded = 0;
    for (const auto& s : msgs)
        nAdded += s == "RemoveFileOnReboot: rename of [" + m_strShortTarget +
                           "] pending without its deletion, add it\n";
    EXPECT_EQ(1, nAdded);

    ASSERT_TRUE(harness::Restart());
    EXPECT_EQ("new content", harness::ReadFileBytes(m_strTarget));
    EXPECT_FALSE(harness::FileExists(m_strStaged));
}
