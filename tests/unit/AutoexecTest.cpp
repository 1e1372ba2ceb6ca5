// The AUTOEXEC.BAT editors over the prefix's real C:\AUTOEXEC.BAT, compared byte for byte.
#include "UnitFixture.h"

#include "sysint/sysint.h"

#include <iterator>
#include <string>

namespace
{

const char s_szBatch[] = "C:\\AUTOEXEC.BAT";
const char s_szWork[] = "C:\\AUTOEXEC.$$$";

class Autoexec : public UnitTest
{
  protected:
    void SetUp() override
    {
        UnitTest::SetUp();
        m_strEngDir = harness::TestDir() + "\\Scan Engine Folder";
        ASSERT_TRUE(CreateDirectoryA(m_strEngDir.c_str(), NULL)) << GetLastError();
        char sz[MAX_PATH];
        DWORD cch = GetShortPathNameA(m_strEngDir.c_str(), sz, sizeof(sz));
        ASSERT_TRUE(cch > 0 && cch < sizeof(sz)) << GetLastError();
        CharToOemA(sz, sz);
        m_strShort = sz;
        // Only a short path that differs from the long one shows which of them was written.
        ASSERT_NE(m_strEngDir, m_strShort);
        DeleteFileA(s_szWork);
    }
    void TearDown() override
    {
        SetFileAttributesA(s_szBatch, FILE_ATTRIBUTE_NORMAL);
        SetFileAttributesA(s_szWork, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(s_szWork);
        UnitTest::TearDown();
    }

    static void WriteBatch(const std::string& strBytes)
    {
        SetFileAttributesA(s_szBatch, FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(harness::WriteFileBytes(s_szBatch, strBytes));
    }
    static std::string ReadBatch(bool* pbExists = nullptr)
    {
        return harness::ReadFileBytes(s_szBatch, pbExists);
    }

    std::string m_strEngDir;
    std::string m_strShort; // OEM short path of m_strEngDir
};

// A text with NUL bytes in it, whole.
template <size_t N> std::string Bytes(const char (&sz)[N])
{
    return std::string(sz, N - 1);
}

struct EditCase
{
    const char* pszName;
    std::string strBefore;
    std::string strAfter;
};

// ---------------------------------------------------------------------------------------------
// StripAutoexecLines9x

TEST_F(Autoexec, StripRemovesSettingsAndScannerLinesAnywhereInTheLineWithCase)
{
    WriteBatch("@ECHO OFF\r\n"
               "SET AVENGINE=C:\\OLD\r\n"
               "REM SET AVENGINE=C:\\REMARK\r\n"
               "SET AVENGINE =C:\\BLANK\r\n"
               "set avengine=C:\\SMALL\r\n"
               "C:\\OLD\\PROBIT.EXE\r\n"
               "D:\\OTHER\\PROBIT.EXE /A /B\r\n"
               "c:\\old\\probit.exe\r\n"
               "SET AVENGINEX=1\r\n"
               "PATH C:\\WINDOWS\r\n");
    EXPECT_EQ(1, StripAutoexecLines9x());
    EXPECT_EQ("@ECHO OFF\r\n"
              "set avengine=C:\\SMALL\r\n"
              "c:\\old\\probit.exe\r\n"
              "SET AVENGINEX=1\r\n"
              "PATH C:\\WINDOWS\r\n",
              ReadBatch());
    EXPECT_FALSE(harness::FileExists(s_szWork));
}

TEST_F(Autoexec, StripKeepsOtherContentByteForByte)
{
    // A line longer than the 255-character piece arrives in parts; they are written back whole.
    std::string strLong = "SET LONG=" + std::string(600, 'x');
    const EditCase cases[] = {
        {"empty file", "", ""},
        {"blank lines only", "\r\n\r\n", "\r\n\r\n"},
        {"long line", "ECHO 1\r\n" + strLong + "\r\nECHO 2\r\n",
         "ECHO 1\r\n" + strLong + "\r\nECHO 2\r\n"},
        {"tabs and trailing blanks", "\tSET A=1  \r\n", "\tSET A=1  \r\n"},
        // The caller appends lines next: an open last line is closed first.
        {"last line without line end", "ECHO 1\r\nECHO 2", "ECHO 1\r\nECHO 2\r\n"},
        {"removed last line without line end", "ECHO 1\r\nSET AVENGINE=C:\\X", "ECHO 1\r\n"},
        // The file is bytes: line ends, NUL and control bytes come through as they are.
        {"bare LF line ends", "ECHO 1\nSET AVENGINE=C:\\X\nECHO 2\n", "ECHO 1\nECHO 2\n"},
        {"NUL and control bytes", Bytes("ECHO A\0B\x01\r\nREM \0 PROBIT.EXE\r\nECHO C\x1B\r\n"),
         Bytes("ECHO A\0B\x01\r\nECHO C\x1B\r\n")},
        // Lines end at LF only: a bare CR does not end one.
        {"bare CR inside a line", "ECHO 1\rSET AVENGINE=C:\\X\r\nECHO 2\r\n", "ECHO 2\r\n"},
        // A whole line goes, however long, and the next line stays whole.
        {"scanner text past the 255th byte",
         "REM " + std::string(300, 'x') + " PROBIT.EXE " + std::string(300, 'y') + "\r\nECHO 2\r\n",
         "ECHO 2\r\n"},
        {"line longer than 2047 bytes", "ECHO " + std::string(3000, 'x') + "\r\n",
         "ECHO " + std::string(3000, 'x') + "\r\n"},
        // DOS stops at the first Ctrl-Z: only the text in front of it is edited.
        {"Ctrl-Z ends the text",
         "SET AVENGINE=C:\\X\r\nECHO 1\r\n\x1ASET AVENGINE=C:\\Y\r\nPROBIT.EXE",
         "ECHO 1\r\n\x1ASET AVENGINE=C:\\Y\r\nPROBIT.EXE"},
        {"Ctrl-Z inside the last line", "ECHO 1\x1A\r\nrest", "ECHO 1\r\n\x1A\r\nrest"},
        {"Ctrl-Z alone", "\x1A", "\x1A"},
    };
    for (const EditCase& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        WriteBatch(c.strBefore);
        EXPECT_EQ(1, StripAutoexecLines9x());
        EXPECT_EQ(c.strAfter, ReadBatch());
        EXPECT_FALSE(harness::FileExists(s_szWork));
    }
}

TEST_F(Autoexec, StripNeverWritesBackAWorkFileLeftByAnEarlierRun)
{
    const std::string strLive = "ECHO LIVE\r\nSET AVENGINE=C:\\OLD\r\nPATH C:\\NEW\r\n";
    const struct
    {
        const char* pszName;
        DWORD dwAttributes;
    } cases[] = {
        {"plain leftover", FILE_ATTRIBUTE_NORMAL},
        {"read-only leftover", FILE_ATTRIBUTE_READONLY},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        ASSERT_TRUE(harness::WriteFileBytes(s_szWork, "ECHO STALE\r\nPATH C:\\OLD\r\n"));
        ASSERT_TRUE(SetFileAttributesA(s_szWork, c.dwAttributes));
        WriteBatch(strLive);
        EXPECT_EQ(1, StripAutoexecLines9x());
        EXPECT_EQ("ECHO LIVE\r\nPATH C:\\NEW\r\n", ReadBatch());
        EXPECT_FALSE(harness::FileExists(s_szWork));
        EXPECT_TRUE(
            harness::HasMessage(harness::LastRunMessages(),
                                "Orvane: remove C:\\AUTOEXEC.$$$ left by an earlier run\n"));
    }
}

TEST_F(Autoexec, StripFailsWithoutTheBatchFileAndCreatesNothing)
{
    DeleteFileA(s_szBatch);
    EXPECT_EQ(0, StripAutoexecLines9x());
    EXPECT_FALSE(harness::FileExists(s_szBatch));
    EXPECT_FALSE(harness::FileExists(s_szWork));
}

TEST_F(Autoexec, StripOfABatchFileInUseFailsAndTheNextRunStartsFromTheLiveFile)
{
    WriteBatch("SET AVENGINE=C:\\OLD\r\nECHO 1\r\n");
    // Another program reads the file and lets nobody write it: the copy works, the rewrite not.
    HANDLE hFile = CreateFileA(s_szBatch, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFile) << GetLastError();
    EXPECT_EQ(0, StripAutoexecLines9x());
    CloseHandle(hFile);
    EXPECT_EQ("SET AVENGINE=C:\\OLD\r\nECHO 1\r\n", ReadBatch());
    // The rewrite that could not replace the batch file is discarded.
    EXPECT_FALSE(harness::FileExists(s_szWork));

    WriteBatch("SET AVENGINE=C:\\OLD\r\nECHO 2\r\n");
    EXPECT_EQ(1, StripAutoexecLines9x());
    EXPECT_EQ("ECHO 2\r\n", ReadBatch());
    EXPECT_FALSE(harness::FileExists(s_szWork));
}

// ---------------------------------------------------------------------------------------------
// AddMorEngPath9x

TEST_F(Autoexec, AddPathEditsTheFirstPathLineOrAppendsOne)
{
    const std::string s = m_strShort;
    const EditCase cases[] = {
        {"PATH and a blank", "@ECHO OFF\r\nPATH C:\\WINDOWS\r\nECHO 1\r\n",
         "@ECHO OFF\r\nPATH C:\\WINDOWS;" + s + "\r\nECHO 1\r\n"},
        {"PATH=", "PATH=C:\\WINDOWS;C:\\DOS\r\n", "PATH=C:\\WINDOWS;C:\\DOS;" + s + "\r\n"},
        {"@path in small letters", "@path c:\\dos\r\n", "@path c:\\dos;" + s + "\r\n"},
        {"SET PATH", "Set Path=C:\\WIN\r\n", "Set Path=C:\\WIN;" + s + "\r\n"},
        {"only the first of two PATH lines", "PATH C:\\A\r\nPATH C:\\B\r\n",
         "PATH C:\\A;" + s + "\r\nPATH C:\\B\r\n"},
        // The prefix rule takes another variable whose name begins with PATH for the PATH line.
        {"SET PATHX=", "SET PATHX=1\r\nPATH C:\\WIN\r\n",
         "SET PATHX=1;" + s + "\r\nPATH C:\\WIN\r\n"},
        {"indented PATH is not recognised", "  PATH C:\\WIN\r\n", "  PATH C:\\WIN\r\nPATH=" + s},
        {"PATH already holding the short path", "PATH C:\\A;" + s + ";C:\\B\r\nECHO\r\n",
         "PATH C:\\A;" + s + ";C:\\B\r\nECHO\r\n"},
        {"PATH holding it inside a longer name", "PATH " + s + "\\SUB\r\n",
         "PATH " + s + "\\SUB;" + s + "\r\n"},
        {"PATH as last line without line end", "ECHO 1\r\nPATH C:\\WIN",
         "ECHO 1\r\nPATH C:\\WIN;" + s + "\r\n"},
        {"empty file", "", "PATH=" + s},
        {"no PATH line", "ECHO 1\r\n", "ECHO 1\r\nPATH=" + s},
        // An unfinished last line must not swallow the PATH setting.
        {"no PATH line, last line without line end", "ECHO 1", "ECHO 1\r\nPATH=" + s},
        {"a path-like word later in a line", "ECHO PATH\r\n", "ECHO PATH\r\nPATH=" + s},
        // A PATH line begins a real line: the part of a long line after its 2047th byte does not.
        {"PATH past the 2047th byte of a line",
         "REM " + std::string(2043, 'x') + "PATH C:\\X\r\nECHO\r\n",
         "REM " + std::string(2043, 'x') + "PATH C:\\X\r\nECHO\r\nPATH=" + s},
        {"bare LF PATH line keeps its LF", "ECHO\nPATH C:\\W\nECHO 2\n",
         "ECHO\nPATH C:\\W;" + s + "\nECHO 2\n"},
        {"CR CR LF PATH line keeps its line end", "PATH C:\\W\r\r\n", "PATH C:\\W;" + s + "\r\r\n"},
        {"PATH line ending in a bare CR", "ECHO\r\nPATH C:\\W\r",
         "ECHO\r\nPATH C:\\W;" + s + "\r\n"},
        {"NUL in the PATH line", Bytes("PATH C:\\W\0X\r\n"), Bytes("PATH C:\\W\0X;") + s + "\r\n"},
        {"short path behind a NUL", Bytes("PATH C:\\W\0;") + s + "\r\n",
         Bytes("PATH C:\\W\0;") + s + "\r\n"},
        {"PATH behind a Ctrl-Z is not read", "ECHO 1\r\n\x1APATH C:\\X\r\n",
         "ECHO 1\r\nPATH=" + s + "\x1APATH C:\\X\r\n"},
        {"PATH line in front of a Ctrl-Z", "PATH C:\\W\r\n\x1A", "PATH C:\\W;" + s + "\r\n\x1A"},
        {"PATH line ending at a Ctrl-Z", "PATH C:\\W\x1A\x1A", "PATH C:\\W;" + s + "\r\n\x1A\x1A"},
        {"open last line ending at a Ctrl-Z", "ECHO 1\x1A", "ECHO 1\r\nPATH=" + s + "\x1A"},
    };
    for (const EditCase& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        WriteBatch(c.strBefore);
        EXPECT_EQ(1, AddMorEngPath9x(m_strEngDir.c_str()));
        EXPECT_EQ(c.strAfter, ReadBatch());
        EXPECT_FALSE(harness::FileExists(s_szWork));
    }
}

TEST_F(Autoexec, AddPathLogsTheEntryAndTheLineBeforeAndAfter)
{
    WriteBatch("PATH C:\\WIN\r\n");
    EXPECT_EQ(1, AddMorEngPath9x(m_strEngDir.c_str()));
    std::vector<std::string> msgs = harness::LastRunMessages();
    const std::string expected[] = {
        "Orvane: AddMorEngPath9x - start\n",
        "Orvane: AddMorEngPath9x - the short path [;" + m_strShort + "]\n",
        "Orvane: The original path is [PATH C:\\WIN\n]\n",
        "Orvane: AddMorEngPath9x - the new path [PATH C:\\WIN;" + m_strShort + "\n]\n",
        "Orvane: AddMorEngPath9x - end\n",
    };
    ASSERT_EQ(std::size(expected), msgs.size());
    for (size_t i = 0; i < msgs.size(); i++)
        EXPECT_EQ(expected[i], msgs[i]) << i;
}

TEST_F(Autoexec, AddPathLeavesAPathLineThatNoLongerFitsUnchanged)
{
    std::string strEntry = ";" + m_strShort;
    // The piece holds 2047 characters: the line, the entry and the line end must fit in them.
    size_t cchFits = 2047 - 1 - strEntry.size();
    std::string strFits = "PATH=" + std::string(cchFits - 5, 'a');
    std::string strTooLong = strFits + "b";
    std::string strLonger = "PATH=" + std::string(3000, 'c');
    const EditCase cases[] = {
        {"just fits", strFits + "\r\nECHO\r\n", strFits + strEntry + "\r\nECHO\r\n"},
        {"one character more", strTooLong + "\r\nECHO\r\n", strTooLong + "\r\nECHO\r\n"},
        {"longer than the piece", strLonger + "\r\nECHO\r\n", strLonger + "\r\nECHO\r\n"},
        {"longer than the piece, last line", strLonger, strLonger},
    };
    for (const EditCase& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        g_nLogState = -1;
        WriteBatch(c.strBefore);
        EXPECT_EQ(1, AddMorEngPath9x(m_strEngDir.c_str()));
        EXPECT_EQ(c.strAfter, ReadBatch());
        bool bTooLong = c.strAfter == c.strBefore;
        EXPECT_EQ(bTooLong, harness::HasMessage(harness::LastRunMessages(),
                                                "Orvane: AddMorEngPath9x - the path line is too "
                                                "long, leave it unchanged\n"));
    }
}

TEST_F(Autoexec, AddPathCreatesAMissingBatchFile)
{
    DeleteFileA(s_szBatch);
    EXPECT_EQ(0, AddMorEngPath9x(m_strEngDir.c_str()));
    EXPECT_EQ("PATH=" + m_strShort + "\r\n", ReadBatch());
    std::vector<std::string> msgs = harness::LastRunMessages();
    EXPECT_TRUE(
        harness::HasMessage(msgs, "Orvane: AddMorEngPath9x - open file C:\\AUTOEXEC.BAT fail\n"));
    EXPECT_TRUE(harness::HasMessage(
        msgs, "Orvane: AddMorEngPath9x - missing file C:\\AUTOEXEC.BAT, create a new one here\n"));
    EXPECT_TRUE(harness::HasMessage(
        msgs, "Orvane: AddMorEngPath9x - add new path [PATH=" + m_strShort + "\n]\n"));
    EXPECT_FALSE(harness::FileExists(s_szWork));
}

DWORD WINAPI FailShortPath(LPCSTR, LPSTR, DWORD)
{
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
}

TEST_F(Autoexec, AddPathWithoutAShortPathChangesNothing)
{
    SeamOverrideGetShortPathNameA(FailShortPath);
    WriteBatch("PATH C:\\WIN\r\n");
    EXPECT_EQ(1, AddMorEngPath9x(m_strEngDir.c_str()));
    EXPECT_EQ("PATH C:\\WIN\r\n", ReadBatch());
    EXPECT_FALSE(harness::FileExists(s_szWork));
    EXPECT_TRUE(harness::HasMessage(harness::LastRunMessages(),
                                    "Orvane: AddMorEngPath9x - fail to get short path name from [" +
                                        m_strEngDir + "]\n"));

    // A missing file is still created, but without a PATH line.
    DeleteFileA(s_szBatch);
    EXPECT_EQ(0, AddMorEngPath9x(m_strEngDir.c_str()));
    bool bExists = false;
    EXPECT_EQ("", ReadBatch(&bExists));
    EXPECT_TRUE(bExists);
}

TEST_F(Autoexec, AddPathWorksFromTheLiveFileNotALeftoverWorkFile)
{
    ASSERT_TRUE(harness::WriteFileBytes(s_szWork, "ECHO STALE\r\n"));
    WriteBatch("PATH C:\\LIVE\r\n");
    EXPECT_EQ(1, AddMorEngPath9x(m_strEngDir.c_str()));
    EXPECT_EQ("PATH C:\\LIVE;" + m_strShort + "\r\n", ReadBatch());
    EXPECT_FALSE(harness::FileExists(s_szWork));
}

TEST_F(Autoexec, AddPathOnAReadOnlyBatchFileKeepsItsContent)
{
    WriteBatch("PATH C:\\WIN\r\n");
    ASSERT_TRUE(SetFileAttributesA(s_szBatch, FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(1, AddMorEngPath9x(m_strEngDir.c_str()));
    EXPECT_EQ("PATH C:\\WIN\r\n", ReadBatch());
}

// ---------------------------------------------------------------------------------------------
// SetAutoexecLines9x: the whole branch, with the probe answered without COM (Morvelin, or
// another product with explicit arguments and no companion component registered).

TEST_F(Autoexec, BranchRewritesTheFileByteForByte)
{
    const std::string s = m_strShort;
    const std::string strSet = "SET AVENGINE=" + s + "\r\n";
    const std::string strScan = s + "\\PROBIT.EXE\r\n";
    const std::string strPathLine = "PATH=" + s + "\r\n";
    const struct
    {
        const char* pszName;
        const char* pszProduct;
        std::string strBefore;
        std::string strAfter;
        // After a second run: the appended PATH line has its line end and stands before the
        // new lines. "" when the second run leaves the file as the first left it.
        std::string strAgain;
    } cases[] = {
        {"old lines replaced, scanner for Morvelin", "MORVELIN",
         "@ECHO OFF\r\nSET AVENGINE=C:\\OLD\r\nC:\\OLD\\PROBIT.EXE\r\nPATH C:\\WINDOWS\r\n",
         "@ECHO OFF\r\nPATH C:\\WINDOWS;" + s + "\r\n" + strSet + strScan, ""},
        {"old lines replaced, no scanner when the probe says no", "OTHER",
         "@ECHO OFF\r\nSET AVENGINE=C:\\OLD\r\nC:\\OLD\\PROBIT.EXE\r\nPATH C:\\WINDOWS\r\n",
         "@ECHO OFF\r\nPATH C:\\WINDOWS;" + s + "\r\n" + strSet, ""},
        {"remark removed, small letters kept", "MORVELIN",
         "REM SET AVENGINE=C:\\X\r\nset avengine=C:\\Y\r\n",
         "set avengine=C:\\Y\r\n" + strSet + strScan + "PATH=" + s,
         "set avengine=C:\\Y\r\n" + strPathLine + strSet + strScan},
        {"no PATH line", "MORVELIN", "ECHO 1\r\n", "ECHO 1\r\n" + strSet + strScan + "PATH=" + s,
         "ECHO 1\r\n" + strPathLine + strSet + strScan},
        {"empty file", "MORVELIN", "", strSet + strScan + "PATH=" + s,
         strPathLine + strSet + strScan},
        {"empty file, probe says no", "OTHER", "", strSet + "PATH=" + s, strPathLine + strSet},
        // The open last line is closed before the new lines, which would otherwise run into it.
        {"last line without line end", "MORVELIN", "ECHO 1",
         "ECHO 1\r\n" + strSet + strScan + "PATH=" + s,
         "ECHO 1\r\n" + strPathLine + strSet + strScan},
        {"PATH last without line end", "MORVELIN", "PATH C:\\WIN",
         "PATH C:\\WIN;" + s + "\r\n" + strSet + strScan, ""},
        {"PATH already holding the short path", "MORVELIN",
         "PATH " + s + ";C:\\WIN\r\nSET AVENGINE=" + s + "\r\n",
         "PATH " + s + ";C:\\WIN\r\n" + strSet + strScan, ""},
        // The new lines go in front of the Ctrl-Z; it and every byte after it stay.
        {"Ctrl-Z", "MORVELIN",
         "ECHO 1\r\nSET AVENGINE=C:\\OLD\r\n" + Bytes("\x1A\0SET AVENGINE=C:\\Y\r\n"),
         "ECHO 1\r\n" + strSet + strScan + "PATH=" + s + Bytes("\x1A\0SET AVENGINE=C:\\Y\r\n"),
         "ECHO 1\r\n" + strPathLine + strSet + strScan + Bytes("\x1A\0SET AVENGINE=C:\\Y\r\n")},
        {"scanner text deep in a long line", "MORVELIN",
         "REM " + std::string(300, 'x') + " C:\\OLD\\PROBIT.EXE " + std::string(300, 'y') +
             "\r\nPATH C:\\W\r\n",
         "PATH C:\\W;" + s + "\r\n" + strSet + strScan, ""},
        {"bare LF and NUL", "OTHER", Bytes("ECHO \0 1\nPATH C:\\W\n"),
         Bytes("ECHO \0 1\nPATH C:\\W;") + s + "\n" + strSet, ""},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        WriteBatch(c.strBefore);
        SetAutoexecLines9x(m_strEngDir.c_str(), c.pszProduct);
        EXPECT_EQ(c.strAfter, ReadBatch());
        EXPECT_FALSE(harness::FileExists(s_szWork));
        // Later runs find their own lines: nothing is doubled and nothing runs together.
        const std::string strAgain = c.strAgain.empty() ? c.strAfter : c.strAgain;
        SetAutoexecLines9x(m_strEngDir.c_str(), c.pszProduct);
        EXPECT_EQ(strAgain, ReadBatch());
        SetAutoexecLines9x(m_strEngDir.c_str(), c.pszProduct);
        EXPECT_EQ(strAgain, ReadBatch());
    }
}

TEST_F(Autoexec, BranchCreatesAMissingFileWithTheScannerLineUnasked)
{
    DeleteFileA(s_szBatch);
    // Another product with explicit arguments: the probe would say no.
    SetAutoexecLines9x(m_strEngDir.c_str(), "OTHER");
    const std::string s = m_strShort;
    EXPECT_EQ("SET AVENGINE=" + s + "\r\n" + s + "\\PROBIT.EXE\r\nPATH=" + s, ReadBatch());
    std::vector<std::string> msgs = harness::LastRunMessages();
    const std::string expected[] = {
        "Orvane: Set AVENGINE - W9X\n",
        "Orvane: Missing autoexec.bat, create a new one \n",
        "Orvane: set AVENGINE to [SET AVENGINE=" + s + "\n]\n",
        "Orvane: Add probit [" + s + "\\PROBIT.EXE\n]\n",
        "Orvane: AddMorEngPath9x - start\n",
        "Orvane: AddMorEngPath9x - the short path [;" + s + "]\n",
        "Orvane: AddMorEngPath9x - end\n",
    };
    ASSERT_EQ(std::size(expected), msgs.size());
    for (size_t i = 0; i < msgs.size(); i++)
        EXPECT_EQ(expected[i], msgs[i]) << i;
}

TEST_F(Autoexec, BranchLogsTheLinesItAppends)
{
    WriteBatch("PATH C:\\WIN\r\n");
    SetAutoexecLines9x(m_strEngDir.c_str(), "Morvelin");
    std::vector<std::string> msgs = harness::LastRunMessages();
    const std::string s = m_strShort;
    int nSet = harness::FindMessage(msgs, "Orvane: set AVENGINE to [SET AVENGINE=" + s + "\n]\n");
    int nScan = harness::FindMessage(msgs, "Orvane: set PROBIT to [" + s + "\\PROBIT.EXE\n]\n");
    int nPath = harness::FindMessage(msgs, "Orvane: AddMorEngPath9x - start\n");
    EXPECT_EQ(0, harness::FindMessage(msgs, "Orvane: Set AVENGINE - W9X\n"));
    EXPECT_GT(nSet, 0);
    EXPECT_EQ(nSet + 1, nScan);
    EXPECT_EQ(nScan + 1, nPath);
}

TEST_F(Autoexec, BranchWithoutAShortPathOnlyRemovesTheOldLines)
{
    SeamOverrideGetShortPathNameA(FailShortPath);
    WriteBatch("SET AVENGINE=C:\\OLD\r\nPATH C:\\WIN\r\n");
    SetAutoexecLines9x(m_strEngDir.c_str(), "MORVELIN");
    EXPECT_EQ("PATH C:\\WIN\r\n", ReadBatch());
    EXPECT_TRUE(harness::HasMessage(harness::LastRunMessages(),
                                    "Orvane: AddMorEngPath9x - fail to get short path name from [" +
                                        m_strEngDir + "]\n"));

    // A missing file is still created, empty.
    DeleteFileA(s_szBatch);
    SetAutoexecLines9x(m_strEngDir.c_str(), "MORVELIN");
    bool bExists = false;
    EXPECT_EQ("", ReadBatch(&bExists));
    EXPECT_TRUE(bExists);
}

TEST_F(Autoexec, BranchIgnoresALeftoverWorkFile)
{
    ASSERT_TRUE(harness::WriteFileBytes(s_szWork, "ECHO STALE\r\nPATH C:\\OLD\r\n"));
    WriteBatch("ECHO LIVE\r\nPATH C:\\NEW\r\n");
    SetAutoexecLines9x(m_strEngDir.c_str(), "OTHER");
    EXPECT_EQ("ECHO LIVE\r\nPATH C:\\NEW;" + m_strShort + "\r\nSET AVENGINE=" + m_strShort + "\r\n",
              ReadBatch());
    EXPECT_FALSE(harness::FileExists(s_szWork));
}

TEST_F(Autoexec, BranchOnAFileInUseAddsNothing)
{
    const std::string strBefore = "SET AVENGINE=C:\\OLD\r\nPATH C:\\WIN\r\n";
    WriteBatch(strBefore);
    HANDLE hFile = CreateFileA(s_szBatch, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFile) << GetLastError();
    SetAutoexecLines9x(m_strEngDir.c_str(), "MORVELIN");
    CloseHandle(hFile);
    EXPECT_EQ(strBefore, ReadBatch());
    std::vector<std::string> msgs = harness::LastRunMessages();
    EXPECT_EQ(-1, harness::FindPrefix(msgs, "Orvane: set AVENGINE to ["));
    EXPECT_GE(harness::FindMessage(msgs, "Orvane: AddMorEngPath9x - start\n"), 0);
}

// ---------------------------------------------------------------------------------------------
// A run stopped part-way, and replacements that fail.

// The states a run stopped at any point can leave: with the batch file present a work file is an
// unfinished rewrite (StripNeverWritesBackAWorkFileLeftByAnEarlierRun); without it, the finished
// rewrite of a run stopped between deleting the batch file and renaming the work file, which
// every entry point puts in place instead of creating a new file.
TEST_F(Autoexec, ALeftoverWorkFileWithoutTheBatchFileIsPutInPlace)
{
    const std::string s = m_strShort;
    const std::string strWork = "ECHO USER\r\nSET AVENGINE=C:\\OLD\r\nPATH C:\\W\r\n";
    const std::string strRecovered =
        "Orvane: C:\\AUTOEXEC.BAT missing, put C:\\AUTOEXEC.$$$ left by an earlier run in its "
        "place\n";
    enum
    {
        Strip,
        AddPath,
        Branch
    };
    const struct
    {
        const char* pszName;
        int nRoutine;
        bool bReadOnly;
        int nResult;
        std::string strAfter;
    } cases[] = {
        {"strip", Strip, false, 1, "ECHO USER\r\nPATH C:\\W\r\n"},
        {"add path", AddPath, false, 1,
         "ECHO USER\r\nSET AVENGINE=C:\\OLD\r\nPATH C:\\W;" + s + "\r\n"},
        {"branch", Branch, false, -1,
         "ECHO USER\r\nPATH C:\\W;" + s + "\r\nSET AVENGINE=" + s + "\r\n"},
        // A read-only leftover (an older version's copy of a read-only batch file) comes back
        // read-only, and a read-only batch file is not changed.
        {"strip, read-only", Strip, true, 0, strWork},
        {"add path, read-only", AddPath, true, 1, strWork},
        {"branch, read-only", Branch, true, -1, strWork},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        g_nLogState = -1;
        SetFileAttributesA(s_szBatch, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(s_szBatch);
        ASSERT_TRUE(harness::WriteFileBytes(s_szWork, strWork));
        if (c.bReadOnly)
        {
            ASSERT_TRUE(SetFileAttributesA(s_szWork, FILE_ATTRIBUTE_READONLY));
        }
        switch (c.nRoutine)
        {
        case Strip:
            EXPECT_EQ(c.nResult, StripAutoexecLines9x());
            break;
        case AddPath:
            EXPECT_EQ(c.nResult, AddMorEngPath9x(m_strEngDir.c_str()));
            break;
        default:
            SetAutoexecLines9x(m_strEngDir.c_str(), "OTHER");
            break;
        }
        EXPECT_EQ(c.strAfter, ReadBatch());
        EXPECT_FALSE(harness::FileExists(s_szWork));
        EXPECT_EQ(c.bReadOnly, (GetFileAttributesA(s_szBatch) & FILE_ATTRIBUTE_READONLY) != 0);
        std::vector<std::string> msgs = harness::LastRunMessages();
        EXPECT_TRUE(harness::HasMessage(msgs, strRecovered));
        EXPECT_FALSE(
            harness::HasMessage(msgs, "Orvane: Missing autoexec.bat, create a new one \n"));
        EXPECT_EQ(-1, harness::FindPrefix(msgs, "Orvane: AddMorEngPath9x - missing file"));
    }

    // A leftover that cannot be moved (another program holds it) is the only copy of the user's
    // file: nothing is created over it, and the next run puts it in place.
    SetFileAttributesA(s_szBatch, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(s_szBatch);
    ASSERT_TRUE(harness::WriteFileBytes(s_szWork, strWork));
    HANDLE hWork = CreateFileA(s_szWork, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, hWork) << GetLastError();
    g_nLogState = -1;
    SetAutoexecLines9x(m_strEngDir.c_str(), "OTHER");
    CloseHandle(hWork);
    EXPECT_FALSE(harness::FileExists(s_szBatch));
    EXPECT_EQ(strWork, harness::ReadFileBytes(s_szWork));
    std::vector<std::string> msgs = harness::LastRunMessages();
    EXPECT_GE(harness::FindPrefix(msgs, "Orvane: C:\\AUTOEXEC.BAT missing, fail to put "
                                        "C:\\AUTOEXEC.$$$ left by an earlier run in its place "
                                        "error ["),
              0);
    EXPECT_FALSE(harness::HasMessage(msgs, "Orvane: Missing autoexec.bat, create a new one \n"));
    EXPECT_EQ(-1, harness::FindPrefix(msgs, "Orvane: AddMorEngPath9x - missing file"));

    g_nLogState = -1;
    SetAutoexecLines9x(m_strEngDir.c_str(), "OTHER");
    EXPECT_EQ("ECHO USER\r\nPATH C:\\W;" + s + "\r\nSET AVENGINE=" + s + "\r\n", ReadBatch());
    EXPECT_FALSE(harness::FileExists(s_szWork));
}

BOOL WINAPI MissingMoveFileExA(LPCSTR, LPCSTR, DWORD)
{
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

BOOL WINAPI RefusingMoveFileExA(LPCSTR, LPCSTR, DWORD)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

TEST_F(Autoexec, ReplacementNeverLeavesTheMachineWithoutItsBatchFile)
{
    const std::string s = m_strShort;
    const std::string strBefore = "ECHO 1\r\nSET AVENGINE=C:\\OLD\r\nPATH C:\\W\r\n";
    const std::string strAfter = "ECHO 1\r\nPATH C:\\W;" + s + "\r\nSET AVENGINE=" + s + "\r\n";

    // Windows 95/98 have no MoveFileEx: the batch file is deleted, then the work file renamed.
    {
        SCOPED_TRACE("without MoveFileEx");
        SeamOverrideMoveFileExA(MissingMoveFileExA);
        WriteBatch(strBefore);
        SetAutoexecLines9x(m_strEngDir.c_str(), "OTHER");
        EXPECT_EQ(strAfter, ReadBatch());
        EXPECT_FALSE(harness::FileExists(s_szWork));
        SeamOverrideMoveFileExA(NULL);
    }

    // Any other refusal is not worked around: the batch file stays as it was, the work file goes.
    {
        SCOPED_TRACE("MoveFileEx refused");
        SeamOverrideMoveFileExA(RefusingMoveFileExA);
        WriteBatch(strBefore);
        g_nLogState = -1;
        EXPECT_EQ(0, StripAutoexecLines9x());
        EXPECT_EQ(1, AddMorEngPath9x(m_strEngDir.c_str()));
        EXPECT_EQ(strBefore, ReadBatch());
        EXPECT_FALSE(harness::FileExists(s_szWork));
        std::vector<std::string> msgs = harness::LastRunMessages();
        EXPECT_TRUE(harness::HasMessage(
            msgs, "Orvane: fail to replace C:\\AUTOEXEC.BAT by C:\\AUTOEXEC.$$$ error [5]\n"));
        EXPECT_EQ("Orvane: AddMorEngPath9x - end\n", msgs.back());
        SeamOverrideMoveFileExA(NULL);
    }

    // A hidden batch file stays hidden.
    {
        SCOPED_TRACE("hidden");
        WriteBatch(strBefore);
        ASSERT_TRUE(SetFileAttributesA(s_szBatch, FILE_ATTRIBUTE_HIDDEN));
        SetAutoexecLines9x(m_strEngDir.c_str(), "OTHER");
        EXPECT_EQ(strAfter, ReadBatch());
        EXPECT_TRUE(GetFileAttributesA(s_szBatch) & FILE_ATTRIBUTE_HIDDEN);
    }

    // A file too large to be a batch file is left alone, with a log line.
    {
        SCOPED_TRACE("too large");
        std::string strHuge = strBefore + std::string(4 * 1024 * 1024, 'x');
        WriteBatch(strHuge);
        g_nLogState = -1;
        EXPECT_EQ(0, StripAutoexecLines9x());
        EXPECT_EQ(0, AddMorEngPath9x(m_strEngDir.c_str()));
        EXPECT_TRUE(strHuge == ReadBatch());
        EXPECT_FALSE(harness::FileExists(s_szWork));
        EXPECT_TRUE(harness::HasMessage(harness::LastRunMessages(),
                                        "Orvane: C:\\AUTOEXEC.BAT is larger than 4194304 bytes, "
                                        "leave it unchanged\n"));
    }

    // A file that would not change is not rewritten.
    {
        SCOPED_TRACE("nothing to change");
        SeamOverrideMoveFileExA(RefusingMoveFileExA);
        WriteBatch(strAfter);
        g_nLogState = -1;
        SetAutoexecLines9x(m_strEngDir.c_str(), "OTHER");
        EXPECT_EQ(strAfter, ReadBatch());
        EXPECT_EQ(-1, harness::FindPrefix(harness::LastRunMessages(), "Orvane: fail to replace"));
        SeamOverrideMoveFileExA(NULL);
    }
}

// The rewrites of the batch file, counted at the one rename that puts a rewrite in place.
int g_nReplacements = 0;

BOOL WINAPI CountingMoveFileExA(LPCSTR pszFrom, LPCSTR pszTo, DWORD dwFlags)
{
    g_nReplacements++;
    return MoveFileExA(pszFrom, pszTo, dwFlags);
}

// An install rewrites the file once, its lines and the PATH entry together; a missing file is
// created whole, with no rewrite after it.
TEST_F(Autoexec, BranchWritesTheFileOnce)
{
    const std::string s = m_strShort;
    const struct
    {
        const char* pszName;
        bool bExists;
        std::string strBefore;
        std::string strAfter;
        int nReplacements;
    } cases[] = {
        {"old lines and a PATH line without the entry", true,
         "SET AVENGINE=C:\\OLD\r\nPATH C:\\WIN\r\n",
         "PATH C:\\WIN;" + s + "\r\nSET AVENGINE=" + s + "\r\n", 1},
        {"only the PATH entry missing", true, "PATH C:\\WIN\r\nSET AVENGINE=" + s + "\r\n",
         "PATH C:\\WIN;" + s + "\r\nSET AVENGINE=" + s + "\r\n", 1},
        {"nothing to change", true, "PATH C:\\WIN;" + s + "\r\nSET AVENGINE=" + s + "\r\n",
         "PATH C:\\WIN;" + s + "\r\nSET AVENGINE=" + s + "\r\n", 0},
        {"missing file", false, "", "SET AVENGINE=" + s + "\r\n" + s + "\\PROBIT.EXE\r\nPATH=" + s,
         0},
    };
    SeamOverrideMoveFileExA(CountingMoveFileExA);
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        if (c.bExists)
            WriteBatch(c.strBefore);
        else
            DeleteFileA(s_szBatch);
        g_nReplacements = 0;
        SetAutoexecLines9x(m_strEngDir.c_str(), "OTHER");
        EXPECT_EQ(c.strAfter, ReadBatch());
        EXPECT_EQ(c.nReplacements, g_nReplacements);
    }
    SeamOverrideMoveFileExA(NULL);
}

// ---------------------------------------------------------------------------------------------
// RemoveAutoexecLines9x

// The removal takes this directory's lines as the install writes them and its entry; a line of
// the user's that merely holds an engine text or names the directory stays.
TEST_F(Autoexec, RemoveTakesOnlyTheLinesAndTheEntryAsWritten)
{
    const std::string s = m_strShort;
    const EditCase cases[] = {
        {"the lines and the entry",
         "@ECHO OFF\r\nPATH C:\\WIN;" + s + "\r\nSET AVENGINE=" + s + "\r\n" + s +
             "\\PROBIT.EXE\r\n",
         "@ECHO OFF\r\nPATH C:\\WIN\r\n"},
        {"the appended PATH line", "ECHO 1\r\nSET AVENGINE=" + s + "\r\nPATH=" + s, "ECHO 1\r\n"},
        {"lines that mention the directory",
         "REM " + s + "\\PROBIT.EXE is the scanner\r\nECHO " + s +
             "\r\nSET AVENGINE=C:\\OTHER\r\n" + s + "\\PROBIT.EXE /S\r\n",
         "REM " + s + "\\PROBIT.EXE is the scanner\r\nECHO " + s +
             "\r\nSET AVENGINE=C:\\OTHER\r\n" + s + "\\PROBIT.EXE /S\r\n"},
        {"a longer entry that begins with it", "PATH C:\\W;" + s + "\\BIN\r\n",
         "PATH C:\\W;" + s + "\\BIN\r\n"},
        // The install adds the entry to a PATH line that holds NUL bytes; it comes out again.
        {"NUL in the PATH line", Bytes("PATH C:\\W\0X;") + s + "\n", Bytes("PATH C:\\W\0X\n")},
        {"behind a Ctrl-Z", "ECHO 1\r\n\x1ASET AVENGINE=" + s + "\r\n",
         "ECHO 1\r\n\x1ASET AVENGINE=" + s + "\r\n"},
    };
    for (const EditCase& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        WriteBatch(c.strBefore);
        EXPECT_EQ(1, RemoveAutoexecLines9x(m_strEngDir.c_str()));
        EXPECT_EQ(c.strAfter, ReadBatch());
        EXPECT_FALSE(harness::FileExists(s_szWork));
    }
}

} // namespace
