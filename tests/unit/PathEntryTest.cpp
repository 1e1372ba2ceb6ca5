// AppendUniquePathEntry over PATH texts: the engine entry stands once, as the last entry, and
// nothing else of the administrator's PATH is lost.
#include "UnitFixture.h"

#include "sysint/sysint.h"

#include <string>
#include <vector>

namespace
{

class PathEntry : public UnitTest
{
};

const char s_szEntry[] = ";C:\\PROGRA~1\\QM\\SHARED~1\\SCANEN~1";

struct PathCase
{
    const char* pszName;
    std::string strBefore;
    std::string strAfter;
};

// Runs the edit in a buffer of cbBuffer bytes and checks the text and the returned length.
void ExpectEdit(const std::string& strBefore, DWORD cbBuffer, const std::string& strAfter)
{
    ASSERT_LT(strBefore.size(), cbBuffer);
    std::vector<char> buf(cbBuffer, '\x7f');
    memcpy(buf.data(), strBefore.c_str(), strBefore.size() + 1);
    DWORD cch = AppendUniquePathEntry(buf.data(), cbBuffer, s_szEntry);
    EXPECT_EQ(strAfter, std::string(buf.data()));
    EXPECT_EQ(strAfter.size(), cch);
}

TEST_F(PathEntry, EngineEntryStandsOnceAtTheEnd)
{
    const std::string e = s_szEntry;
    const PathCase cases[] = {
        {"existing entry at the end stays single", "C:\\WINDOWS;C:\\WINDOWS\\SYSTEM32" + e,
         "C:\\WINDOWS;C:\\WINDOWS\\SYSTEM32" + e},
        {"two entries in the middle collapse to one at the end",
         "C:\\WINDOWS" + e + ";C:\\TOOLS" + e + ";C:\\BIN", "C:\\WINDOWS;C:\\TOOLS;C:\\BIN" + e},
        {"adjacent twins", "C:\\A" + e + e + ";C:\\B", "C:\\A;C:\\B" + e},
        {"first entry without a separator is not matched", e.substr(1) + ";C:\\WINDOWS",
         e.substr(1) + ";C:\\WINDOWS" + e},
        {"other letter case is not matched", "C:\\WINDOWS;c:\\progra~1\\qm\\shared~1\\scanen~1",
         "C:\\WINDOWS;c:\\progra~1\\qm\\shared~1\\scanen~1" + e},
        {"empty PATH gives the entry alone", "", e},
        {"unexpanded references are kept", "%SystemRoot%\\system32;%SystemRoot%" + e + ";%PATHEXT%",
         "%SystemRoot%\\system32;%SystemRoot%;%PATHEXT%" + e},
        // A subdirectory of the engine directory is an entry of its own and stays whole.
        {"subdirectory kept whole", "C:\\WINDOWS" + e + "\\BIN;C:\\TOOLS",
         "C:\\WINDOWS" + e + "\\BIN;C:\\TOOLS" + e},
        {"longer name kept whole", "C:\\A" + e + "2", "C:\\A" + e + "2" + e},
        {"subdirectory and the entry itself", "C:\\A" + e + "\\BIN" + e + ";C:\\B",
         "C:\\A" + e + "\\BIN;C:\\B" + e},
        {"trailing separator", "C:\\A" + e + ";", "C:\\A;" + e},
    };
    for (const PathCase& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        ExpectEdit(c.strBefore, 4096, c.strAfter);
    }
}

TEST_F(PathEntry, RemovalThatJoinsANewOccurrenceRemovesThatToo)
{
    // Taking ";X;Y" out of "A;X" ";X;Y" ";Y" leaves "A;X;Y",
    // whose ";X;Y" is a whole entry again and must go as well.
    std::vector<char> buf(64);
    strcpy(buf.data(), "A;X;X;Y;Y");
    EXPECT_EQ(5u, AppendUniquePathEntry(buf.data(), (DWORD)buf.size(), ";X;Y"));
    EXPECT_STREQ("A;X;Y", buf.data());
}

TEST_F(PathEntry, LongPathIsNeverCutNorReplacedByTheEntry)
{
    const std::string e = s_szEntry;
    // Directories of 100 characters each, 60 of them: far beyond 4096 bytes.
    std::string strLong;
    for (int i = 0; i < 60; i++)
        strLong += (i ? ";C:\\" : "C:\\") + std::string(96, (char)('A' + i % 26));
    ASSERT_GT(strLong.size(), 4096u);

    const struct
    {
        const char* pszName;
        std::string strBefore;
        DWORD cbBuffer;
        std::string strAfter;
    } cases[] = {
        {"longer than 4096 in a buffer large enough", strLong, 8192, strLong + e},
        {"longer than 4096 with the entry inside",
         strLong.substr(0, 2999) + e + strLong.substr(2999), 8192, strLong + e},
        {"just fits with its NUL", std::string(4095 - e.size(), 'p'), 4096,
         std::string(4095 - e.size(), 'p') + e},
        {"pushed past the buffer", std::string(4096 - e.size(), 'p'), 4096,
         std::string(4096 - e.size(), 'p')},
        {"full buffer", std::string(4095, 'p'), 4096, std::string(4095, 'p')},
        // A removal makes room: an entry in the middle of a full buffer still moves to the end.
        {"full buffer holding the entry",
         std::string(2000, 'p') + e + ";" + std::string(4095 - 2001 - e.size(), 'q'), 4096,
         std::string(2000, 'p') + ";" + std::string(4095 - 2001 - e.size(), 'q') + e},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        DeleteFileA(harness::LogPath().c_str());
        g_nLogState = -1;
        ExpectEdit(c.strBefore, c.cbBuffer, c.strAfter);
        bool bUnchanged = c.strAfter == c.strBefore;
        EXPECT_EQ(bUnchanged,
                  harness::FindPrefix(harness::LastRunMessages(), "Orvane: PATH of [") >= 0);
        if (bUnchanged)
        {
            EXPECT_TRUE(harness::HasMessage(
                harness::LastRunMessages(),
                "Orvane: PATH of [" + std::to_string(c.strBefore.size()) +
                    "] bytes has no room for [" + e + "], leave it unchanged\n"));
        }
    }
}

} // namespace
