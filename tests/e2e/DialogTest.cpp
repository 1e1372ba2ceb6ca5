// The usage dialog and the result message box of the real process, on the virtual display.
#include "Harness.h"

#include <string>
#include <vector>

namespace
{

const std::string s_strEnd = "------------------- End -----------------------\n\n";

class Dialog : public harness::PelmoraTest
{
  protected:
    void Start(const std::string& strText, bool bWithManifest)
    {
        harness::RunOptions opts;
        opts.strCurDir = harness::MakePackageDir("pkg", bWithManifest);
        ASSERT_TRUE(harness::StartPelmora(strText, opts, &m_pi));
    }
    void TearDown() override
    {
        if (m_pi.hProcess)
        {
            TerminateProcess(m_pi.hProcess, 0xDEAD);
            harness::WaitForExit(&m_pi, 5000);
        }
        harness::PelmoraTest::TearDown();
    }
    PROCESS_INFORMATION m_pi = {};
};

const char* const s_apszTexts[] = {
    "OK",
    "Installs the Morvelin and/or Brin Antivirus Engines.\n\nTo install into the default "
    "directory, specify no command line arguments:\nPELMORA",
    "/I\t\t\t-  Install the Morvelin Antivirus Engine\n/V\t\t\t-  Install the Brin Antivirus "
    "Engine\n/B\t\t\t-  Installs both Antivirus Engines\n<ProductName>\t\t-  Name of product "
    "install the common engine\n<Destination Path>\t-  The destination directory for the AV "
    "Engines",
    "NOTE: If already installed, will take the path from Registry an update with both engines.  "
    "Otherwise, will install both engines to the default directory of 'Program "
    "Files\\QM\\SharedComponents\\ScanEngine'.",
    "To install a particular engine:\nPELMORA [[/I] [/V] [/B] [/NR] /PROD:<ProductName> "
    "[/PATH:<DestinationPath>]]\n\nTo install from a configuration file:\nPELMORA [/CFG [/NR] "
    "/PROD:<ProductName> /PATH:<Path><ConfigurationFile>]",
    "/CFG\t\t\t-  Use configuration file\n<Path>\t\t\t-  Specifies the path to the configuration "
    "file\n<ConfigurationFile>\t-  Specifies the name of the configuration file\n\t\t\t   NOTE: "
    "File must end in an INI extension",
    "/NR\t\t\t-  Not to increment reference count\n/NS\t\t\t-  Non silent mode.",
};

TEST_F(Dialog, UsageDialogTextsAndCentringEvenWhenSilent)
{
    REQUIRE_WINE();
    Start("/?", false);
    HWND hDlg = harness::WaitForWindow(m_pi.dwProcessId, "Pelmora", 20000);
    ASSERT_TRUE(hDlg != NULL) << "no usage dialog";

    std::vector<harness::ControlInfo> controls = harness::ReadControls(hDlg);
    ASSERT_EQ(7u, controls.size());
    for (size_t i = 0; i < controls.size(); i++)
    {
        SCOPED_TRACE(i);
        EXPECT_EQ(s_apszTexts[i], controls[i].strText);
        EXPECT_EQ(i == 0 ? 1 : -1, controls[i].nId);
        EXPECT_STRCASEEQ(i == 0 ? "Button" : "Static", controls[i].strClass.c_str());
    }
    EXPECT_TRUE(controls[0].lStyle & BS_DEFPUSHBUTTON);

    // Centred on the screen by the rule: (screen - window) / 2, kept on the display.
    RECT rc;
    GetWindowRect(hDlg, &rc);
    int w = rc.right - rc.left, h = rc.bottom - rc.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    EXPECT_EQ(x < 0 ? 0 : x, rc.left);
    EXPECT_EQ(y < 0 ? 0 : y, rc.top);
    // 380 by 261 dialog units are larger than a pixel each way.
    EXPECT_GT(w, 380);
    EXPECT_GT(h, 261);

    std::string strShot = harness::Screenshot("usage-dialog");
    EXPECT_FALSE(strShot.empty()) << "no screenshot taken";

    harness::CloseDialog(hDlg, harness::CloseWithOk);
    EXPECT_EQ(5u, harness::WaitForExit(&m_pi, 20000));
    std::vector<std::string> msgs = harness::LastRunMessages();
    EXPECT_EQ((std::vector<std::string>{"Orvane: START!!\n", "Orvane: The arg: [/?]\n",
                                        "Orvane: Silent Mode\n", "Orvane: Display usage only\n",
                                        s_strEnd}),
              msgs);
}

TEST_F(Dialog, ClosedByEnterEscapeAndTheCloseBox)
{
    REQUIRE_WINE();
    for (harness::CloseMethod method :
         {harness::CloseWithEnter, harness::CloseWithEscape, harness::CloseWithCloseBox})
    {
        SCOPED_TRACE(method);
        harness::ResetState();
        Start("/? /NS", false);
        HWND hDlg = harness::WaitForWindow(m_pi.dwProcessId, "Pelmora", 20000);
        ASSERT_TRUE(hDlg != NULL);
        harness::CloseDialog(hDlg, method);
        EXPECT_EQ(5u, harness::WaitForExit(&m_pi, 20000));
        std::vector<std::string> msgs = harness::LastRunMessages();
        EXPECT_TRUE(harness::HasMessage(msgs, "Orvane: Non Silent Mode\n"));
        EXPECT_FALSE(
            harness::HasMessage(msgs, "Orvane: Invalid argument, Please check the usage \n"));
    }
}

TEST_F(Dialog, BadArgumentsWhenNotSilentShowTheUsageDialog)
{
    REQUIRE_WINE();
    Start("/NS /1", true);
    HWND hDlg = harness::WaitForWindow(m_pi.dwProcessId, "Pelmora", 20000);
    ASSERT_TRUE(hDlg != NULL);
    EXPECT_EQ(7u, harness::ReadControls(hDlg).size());
    harness::CloseDialog(hDlg, harness::CloseWithOk);
    EXPECT_EQ(5u, harness::WaitForExit(&m_pi, 20000));
    std::vector<std::string> msgs = harness::LastRunMessages();
    ASSERT_GE(msgs.size(), 3u);
    EXPECT_EQ("Orvane: Display usage only\n", msgs[msgs.size() - 3]);
    EXPECT_EQ("Orvane: Invalid argument, Please check the usage \n", msgs[msgs.size() - 2]);
    EXPECT_EQ(s_strEnd, msgs.back());
}

TEST_F(Dialog, MissingManifestShowsMessage7OnlyWhenNotSilent)
{
    REQUIRE_WINE();
    Start("/PROD:A /ns", false);
    HWND hBox = harness::WaitForWindow(m_pi.dwProcessId, "Pelmora", 20000);
    ASSERT_TRUE(hBox != NULL) << "no message box";
    bool bText = false;
    int nButtons = 0;
    for (const harness::ControlInfo& c : harness::ReadControls(hBox))
    {
        if (c.strText == "Missing filelist.ini file, Pelmora can't process.")
            bText = true;
        if (c.strClass == "Button")
            nButtons++;
    }
    EXPECT_TRUE(bText);
    EXPECT_EQ(1, nButtons);
    harness::Screenshot("message-7");
    // The box comes before the End banner.
    std::vector<std::string> msgs = harness::LastRunMessages();
    ASSERT_FALSE(msgs.empty());
    EXPECT_EQ(0u, msgs.back().find("Orvane: Missing Filelist at ["));
    harness::CloseDialog(hBox, harness::CloseWithOk);
    EXPECT_EQ(4u, harness::WaitForExit(&m_pi, 20000));
    EXPECT_EQ(s_strEnd, harness::LastRunMessages().back());

    // Silent: the run ends without any window of its own.
    harness::ResetState();
    Start("/PROD:A", false);
    bool bWindow = false;
    while (WaitForSingleObject(m_pi.hProcess, 20) == WAIT_TIMEOUT)
        bWindow = bWindow || harness::FindProcessWindow(m_pi.dwProcessId, "Pelmora") != NULL;
    EXPECT_FALSE(bWindow);
    EXPECT_EQ(4u, harness::WaitForExit(&m_pi, 20000));
}

} // namespace

namespace
{

TEST_F(Dialog, RefusedEngineDirectoryShowsMessage6BeforeTheEndBanner)
{
    REQUIRE_WINE();
    harness::RunOptions opts;
    opts.strCurDir = harness::BuildDir() + "\\sample";
    ASSERT_TRUE(harness::StartPelmora("/NS /PROD:A /PATH:relative\\eng", opts, &m_pi));
    HWND hBox = harness::WaitForWindow(m_pi.dwProcessId, "Pelmora", 20000);
    ASSERT_TRUE(hBox != NULL) << "no message box";
    bool bText = false;
    for (const harness::ControlInfo& c : harness::ReadControls(hBox))
        bText = bText || c.strText == "Invalid ScanEngine path, Pelmora can't process.";
    EXPECT_TRUE(bText);
    std::vector<std::string> msgs = harness::LastRunMessages();
    ASSERT_FALSE(msgs.empty());
    EXPECT_EQ("Orvane: Invalid Scan Engine path [relative\\eng], please try again!!\n",
              msgs.back());
    harness::CloseDialog(hBox, harness::CloseWithOk);
    EXPECT_EQ(3u, harness::WaitForExit(&m_pi, 20000));
    msgs = harness::LastRunMessages();
    ASSERT_GE(msgs.size(), 2u);
    EXPECT_EQ("Orvane: Invalid ScanEngine Path\n", msgs[msgs.size() - 2]);
    EXPECT_EQ(s_strEnd, msgs.back());
}

} // namespace
