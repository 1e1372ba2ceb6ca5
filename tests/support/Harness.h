// The test harness shared by the in-process and the end-to-end tests: the state that every test
// starts from, the launcher of Pelmora.exe, the log reader, the dialog helper and screenshots.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace harness
{

// True when running under Wine (ntdll exports wine_get_version).
bool IsWine();

// Directory of the running test executable, which is where Pelmora.exe is built too.
std::string ModuleDir();
// The directory of the program under test and its stand-ins (Unseal.dll, the companion
// components): PELMORA_PROGRAM_DIR when set, else ModuleDir().
std::string ProgramDir();
std::string PelmoraExePath();
// True when the program under test is a 64-bit executable.
bool ProgramIs64Bit();
// The build directory (parent of bin).
std::string BuildDir();
// Where tests keep their folders, screenshots and the golden runs' output: PELMORA_WORK_DIR when
// set (a run of the same test executable beside the main suite's), else BuildDir().
std::string WorkDir();

std::string TempDir(); // as the platform reports it, with its final backslash
std::string LogPath(); // MorSetup.log in TempDir()

// Whole-file helpers. ReadFileBytes returns "" and *pbExists = false for a missing file.
std::string ReadFileBytes(const std::string& strPath, bool* pbExists = nullptr);
bool WriteFileBytes(const std::string& strPath, const std::string& strData);
// Gives the directory a list that grants Everyone full control (under Wine: a Unix mode that lets
// others write). False when the list could not be set.
bool OpenDirToEveryone(const std::string& strDir);
// The rights the list of a directory grants Everyone, as SDDL ("0x1301ff"); "" when it names
// Everyone not.
std::string EveryoneRights(const std::string& strDir);
bool FileExists(const std::string& strPath);
void DeleteTree(const std::string& strPath);

// A fresh, empty folder for the running test under WorkDir()\testdirs.
std::string TestDir();
// A package directory under TestDir() with a FileList.ini when bWithManifest.
std::string MakePackageDir(const char* pszName, bool bWithManifest);

// Wine's per-program Windows version (win95, win98, winme, nt351, nt40, win2k, winxp, win7,
// win10); an empty name removes the setting so that the prefix default applies.
void SetWindowsVersion(const char* pszExe, const char* pszVersion);
// The key whose presence marks Windows ME among the 9x versions.
void SetMeEnvironmentKey(bool bPresent);

// A time limit for waiting on a child process, multiplied by PELMORA_TIMEOUT_FACTOR when set: an
// emulated 32-bit program takes seconds to start. WaitForExit and WaitForWindow apply it.
DWORD Patience(DWORD dwMs);

struct RunOptions
{
    std::string strWindows; // Wine version name, "" for the prefix default
    std::string strCurDir;  // current directory of the child; "" for TestDir()
    DWORD dwTimeoutMs = 60000;
    std::string strStdOut; // a file that receives the child's standard output; "" for none
};

// Starts Pelmora.exe with exactly strArgText after its quoted full path.
bool StartPelmora(const std::string& strArgText, const RunOptions& opts, PROCESS_INFORMATION* pPi);
// Waits for the child and returns its exit code; kills it and fails the test on time-out.
DWORD WaitForExit(PROCESS_INFORMATION* pPi, DWORD dwTimeoutMs);
// Start and wait: the exit code of the run.
DWORD RunPelmora(const std::string& strArgText, const RunOptions& opts = RunOptions());
// Starts exactly strCmd (a quoted program path first) in pszCurDir (NULL: this process's); fails
// the test when it cannot.
bool StartCommandLine(const std::string& strCmd, const char* pszCurDir, PROCESS_INFORMATION* pPi);
// Starts it and waits as WaitForExit does: the exit code, 0xFFFFFFFF when it could not start.
DWORD RunCommandLine(const std::string& strCmd, const char* pszCurDir = NULL,
                     DWORD dwTimeoutMs = 120000);

// The log as written, and the messages of its last run (after the last Start banner): each
// message without its time prefix, line ends as "\n".
std::string ReadLog();
std::vector<std::string> LastRunMessages();
bool HasMessage(const std::vector<std::string>& msgs, const std::string& strMsg);
// Index of strMsg in msgs, or -1.
int FindMessage(const std::vector<std::string>& msgs, const std::string& strMsg);
// Index of the first message that begins with strPrefix, or -1.
int FindPrefix(const std::vector<std::string>& msgs, const std::string& strPrefix);

// Dialogs and message boxes of a child process.
HWND WaitForWindow(DWORD dwPid, const char* pszCaption, DWORD dwTimeoutMs);
// A window of the process with that caption, right now (no wait), or NULL.
HWND FindProcessWindow(DWORD dwPid, const char* pszCaption);
struct ControlInfo
{
    std::string strClass;
    int nId;
    std::string strText;
    RECT rc; // screen coordinates
    LONG lStyle;
};
std::vector<ControlInfo> ReadControls(HWND hWnd);
enum CloseMethod
{
    CloseWithOk,
    CloseWithEnter,
    CloseWithEscape,
    CloseWithCloseBox,
};
void CloseDialog(HWND hWnd, CloseMethod method);
// Takes a screenshot of the whole display into WorkDir()\screenshots\<name>.png; returns the
// file's path or "" when no screenshot could be taken.
std::string Screenshot(const std::string& strName);

// Values under HKEY_LOCAL_MACHINE in the 32-bit view, where the program works. Keys are created
// as needed; ReadMachineValue returns false for a missing value.
void SetMachineValue(const char* pszKey, const char* pszName, DWORD dwType, const void* pData,
                     DWORD cbData);
void SetMachineString(const char* pszKey, const char* pszName, const std::string& strValue);
void DeleteMachineValue(const char* pszKey, const char* pszName);
bool ReadMachineValue(const char* pszKey, const char* pszName, DWORD* pdwType,
                      std::string* pstrData, REGSAM samView = KEY_WOW64_32KEY);

// The QM folder below the program-files directory of the 32-bit view: where a run without a
// path argument puts the engine.
std::string DefaultEngineRoot();

// The small volume that scripts/test mounts as drive X: ("X:\\"), or "" when there is none (the
// machine refused the mount); its contents are removed by the reset.
std::string SmallDrive();

// Brings the machine to the state every test starts from.
void ResetState();

// Base fixture: every test starts from a reset machine and leaves it reset.
class PelmoraTest : public ::testing::Test
{
  protected:
    void SetUp() override;
    void TearDown() override;
};

} // namespace harness

// Skips the running test unless it runs under Wine.
#define REQUIRE_WINE()                                                                             \
    do                                                                                             \
    {                                                                                              \
        if (!harness::IsWine())                                                                    \
            GTEST_SKIP() << "needs Wine";                                                          \
    } while (0)
