// What the end-to-end tests of the install and update flows share: the sample package copied
// into the test's folder, files held open as a running engine would hold them, the registry
// record and the system environment as the real process left them, the message box of a run and
// the small drive.
#pragma once

#include "Harness.h"
#include "Restart.h"

#include <string>
#include <vector>

namespace flow
{

extern const char s_szKey[];      // SOFTWARE\Quillmark\ScanEngine
extern const char s_szPathKey[];  // SOFTWARE\Quillmark\ScanEngine\Path
extern const char s_szNtEnvKey[]; // SYSTEM\CurrentControlSet\Control\Session Manager\Environment
extern const char s_szMeEnvKey[]; // SYSTEM\CurrentControlSet\Control\SessionManager\Environment
extern const char s_szEnd[];      // the End banner

// The files of the sample package's sections, as FileList.ini lists them.
extern const std::vector<std::string> s_filesSection;
extern const std::vector<std::string> s_oskaSection;
extern const std::vector<std::string> s_brinSection;
// The files that only Windows 95/98 use; the NT family removes them from the engine directory.
extern const std::vector<std::string> s_not9xFiles;

// A copy of the bundled sample package (build\sample: FileList.ini and the packaged files) in
// TestDir()\pszName; returns its path.
std::string SamplePackage(const char* pszName);
// The same package with Osk32dll.dll replaced by the 3.1.0.0 sample DLL, newer than the one of
// the sample package by version and by time: an update deploys the OSKA section again.
std::string NewerOskaPackage(const char* pszName);
// Gives the package's Osksig.da0 and Osksig.dat content of their own ("signatures of <tag>") and
// a last-write time of now plus llSeconds; Osksig.da0 grows by cbPad bytes, so that copying it
// takes a while.
void OskaSignatures(const std::string& strPackage, const char* pszTag, LONGLONG llSeconds,
                    size_t cbPad = 0);
// A sample DLL of build\sample\versions ("1.0.0.0" ...).
std::string VersionDll(const char* pszVersion);

// The engine files a first install of the sample package leaves, for the sections of an engine
// set (1, 2 or anything else for both) on the NT family (9x-only files removed) or on 95/98
// (with Probit.exe) or ME. Names in lower case, sorted, as DirNames gives them.
enum PlatformGroup
{
    GroupNt,
    Group9x,
    GroupMe,
};
std::vector<std::string> ExpectedEngineFiles(DWORD dwEngIDs, PlatformGroup group);
// The names in a directory, in lower case, sorted, without "." and "..".
std::vector<std::string> DirNames(const std::string& strDir);
bool SameContent(const std::string& strA, const std::string& strB);

// A file opened with share mode 0, as a running engine holds its DLL: copies over it fail.
class HeldFile
{
  public:
    explicit HeldFile(const std::string& strPath);
    ~HeldFile();
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;
    bool IsHeld() const
    {
        return m_hFile != INVALID_HANDLE_VALUE;
    }
    void Release();

  private:
    HANDLE m_hFile;
};

// The registry view the record is read from: the 32-bit view, where the program works; for a
// 64-bit build of the program run as Windows 95, 98 or ME the 64-bit view, since Wine ignores
// the view flags of a 9x process. pszWindows is the Wine version name of the run.
void SetRecordView(const char* pszWindows);
// Values of the record, in that view. Strings without their terminating NUL.
bool RecordString(const char* pszKey, const char* pszName, std::string* pstr);
bool RecordDword(const char* pszName, DWORD* pdw);
// The record's values as the tests compare them: "" for a missing string, 0xFFFFFFFF for a
// missing number.
std::string RecStr(const char* pszKey, const char* pszName);
DWORD RecDword(const char* pszName);
bool KeyExists(const char* pszKey);
// Writes a record as an earlier installation left it (the Path key with Engine when not empty).
void PlantRecord(const std::string& strEngine, DWORD dwEngIDs, DWORD dwRefCount,
                 const std::string& strProductList);

// A value of an environment key of the real system registry; false when missing.
bool EnvValue(const char* pszKey, const char* pszName, std::string* pstr, DWORD* pdwType = nullptr);
std::string EnvStr(const char* pszKey, const char* pszName);

// The lines in msgs in this order (each a prefix of a message, later ones after earlier ones).
void ExpectInOrder(const std::vector<std::string>& msgs, const std::vector<std::string>& prefixes);
// The number of messages that begin with strPrefix, from index nFrom on.
int CountPrefix(const std::vector<std::string>& msgs, const std::string& strPrefix, int nFrom = 0);

// Waits for the result message box of a non-silent run, keeps a screenshot, reads its text and
// closes it with OK. Returns the text of the box ("" when none came); *pstrLastLine receives the
// last log message written while the box was up.
std::string ReadResultMessage(const PROCESS_INFORMATION& pi, const char* pszShot,
                              std::string* pstrLastLine = nullptr);
// Runs until the process ends and tells whether it ever showed a window titled "Pelmora".
bool ShowedAWindow(PROCESS_INFORMATION* pi, DWORD* pdwExit);

// Wine refuses a delayed move when the stored PendingFileRenameOperations is not REG_MULTI_SZ:
// stores it as REG_SZ, so that the call fails for real, as it does on 95, 98 and ME.
void RefuseDelayedMoves();

// The drive letter ("X:") of a small volume that scripts/test prepared (a tmpfs of a few MiB
// behind a drive letter of the prefix), or "" when there is none.
std::string SmallDrive();

// Base fixture of the flow tests: a reset machine, and the system PATH as the test found it.
class FlowTest : public harness::PelmoraTest
{
  protected:
    void SetUp() override;
    std::string m_strPathBefore;
};

} // namespace flow
