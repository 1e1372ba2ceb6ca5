// A first install onto a volume too small for the engine, and the update that copies all the
// same. The volume is a 4 MB tmpfs that scripts/test mounts as drive X:.
#include "Harness.h"

#include <string>
#include <vector>

namespace
{

class SmallDrive : public harness::PelmoraTest
{
  protected:
    void SetUp() override
    {
        harness::PelmoraTest::SetUp();
        if (harness::SmallDrive().empty())
            GTEST_SKIP() << "no small volume as drive X: (the machine refused the tmpfs mount)";
        m_opts.strCurDir = harness::BuildDir() + "\\sample";
    }
    harness::RunOptions m_opts;
};

TEST_F(SmallDrive, FirstInstallEndsWithCode6AndWritesNothing)
{
    EXPECT_EQ(6u, harness::RunPelmora("/PROD:Small /PATH:X:\\eng", m_opts));
    std::vector<std::string> msgs = harness::LastRunMessages();
    ASSERT_GE(msgs.size(), 3u);
    EXPECT_EQ(0u, msgs[msgs.size() - 3].find("Orvane: have "));
    EXPECT_EQ(0u, msgs[msgs.size() - 2].find("Orvane: only have "));
    EXPECT_NE(
        std::string::npos,
        msgs[msgs.size() - 2].find(
            " free disk space left on drive X:\\. Not enough space to copy ScanEngine files\n"));
    EXPECT_EQ("------------------- End -----------------------\n\n", msgs.back());
    // A first install that ends early leaves neither record nor files.
    std::string strData;
    DWORD dwType;
    EXPECT_FALSE(harness::ReadMachineValue("SOFTWARE\\Quillmark\\ScanEngine\\Path", "Engine",
                                           &dwType, &strData));
    EXPECT_FALSE(harness::FileExists("X:\\eng"));
}

TEST_F(SmallDrive, UpdateShortOfSpaceStillCopies)
{
    harness::SetMachineString("SOFTWARE\\Quillmark\\ScanEngine\\Path", "Engine", "X:\\eng");
    DWORD dwExit = harness::RunPelmora("/PROD:Small", m_opts);
    EXPECT_TRUE(dwExit == 0 || dwExit == 2) << dwExit;
    std::vector<std::string> msgs = harness::LastRunMessages();
    EXPECT_NE(-1, harness::FindPrefix(msgs, "Orvane: only have "));
    EXPECT_NE(-1, harness::FindPrefix(msgs, "Orvane: File Copy from ["));
    EXPECT_TRUE(harness::FileExists("X:\\eng\\Logs"));
}

} // namespace
