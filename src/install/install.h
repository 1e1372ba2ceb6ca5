// Install driver: the entry point's run, the command line and configuration file, the usage
// dialog and the result messages.
#pragma once

#include <windows.h>

// Engine sets, the flags the parser sets, GetArgumentText and ParseCmdLine.
#include "ArgText.h"

// Resource ids.
#include "../../res/resource.h"

#include "../RegClass/RegClass.h"
#include "../deploy/deploy.h"   // g_szFileList
#include "../support/support.h" // g_dwOSType

// Process-wide flags and values. The platform id and the manifest path belong to the floors
// that read them (support/ and deploy/); the mode flags of the argument text to support/runmode.h.
extern BOOL g_bUsageOnly;  // /? : show the usage dialog only
extern BOOL g_bRemoveMode; // /REMOVE : release the product's reference

// Gives every process-wide flag its initial value (a run starts from these).
void ResetGlobals();

// Longest argument text the program takes: the command line limit of the platform.
#define MAX_ARGTEXT 32768

// The run state of one run, from the first log line to the way out.
struct RUN_STATE
{
    HINSTANCE hInstance;
    char lpCmdLine[MAX_ARGTEXT]; // the argument text; after the parse only the path argument
    char szProductName[MAX_PATH];
    char szEngPath[MAX_PATH];
    BOOL bAddRefCount;
    BOOL bHaveProductList;
    BOOL bNeedReboot;
    BOOL bFormerInstalled;
    BOOL bInstalledOnR80;
    char szVersion[64];
    RegBaseKeyClass* pReg;        // the run's registry object on HKEY_LOCAL_MACHINE
    DWORD dwRefCount;             // ReferenceCount as the update found it (0 for invalid)
    char szProductList[MAX_PATH]; // ProductList as stored when the update started
    // The non-silent switch in lpCmdLine as the run found it (NULL: none), until the parse puts
    // the path argument in the text's place.
    const char* pszNoSilent;
    BOOL bNoEndBanner; // the way out writes no End banner (the r80 ending of an update)
};

// The exit codes of a run: its answer to the setup that started it.
enum
{
    EXIT_OK = 0,               // done (a first install also when files wait for the restart)
    EXIT_NEED_REBOOT = 2,      // update or removal done; files wait for the next restart
    EXIT_INVALID_PATH = 3,     // the engine directory was refused
    EXIT_MISSING_FILELIST = 4, // no FileList.ini in the current directory
    EXIT_BAD_ARGUMENTS = 5,    // the argument text was refused, or /?
    // First install: too little free space, CheckFreeDiskSpace's answer. A free-space query that
    // failed gives its system error number instead, passed on as it is.
    EXIT_LOW_DISK_SPACE = 6,
    EXIT_R80_INSTALLATION = 8, // update over r80: product registered, nothing copied
};

// Runs the program on the argument text and returns the exit code. Every way out passes one
// place, which writes the End banner and gives back the lock and the manifest cache.
int PelmoraMain(HINSTANCE hInstance, const char* pszArgText);

// The modes' switches: the first characters of the argument text, in any mix of case.
#define USAGE_SWITCH "/?"
#define CFG_SWITCH "/CFG"
#define CFG_SWITCH_LEN 4
#define CHECK_SWITCH "/CHECK"
#define REMOVE_SWITCH "/REMOVE"
#define REMOVE_SWITCH_LEN 7

// Configuration mode on the text after "/CFG". On success szPath receives the engine directory
// named by the configuration file and the result is 0; -1 takes the bad-argument way out.
int RunConfigMode(const char* pszCfgText, char* szProductName, BOOL* pbAddRefCount, char* szPath);

// The modes' argument readers. Each reads pRun->lpCmdLine, with the non-silent switch that the run
// found in it, and returns 0 with the path argument (or nothing) in the text's place, or -1 for
// the bad-argument way out.

// Configuration mode on the argument text: RunConfigMode on the text after "/CFG".
int ParseConfigArguments(RUN_STATE* pRun);

// Removal mode on the argument text: sets g_bRemoveMode and parses the text after "/REMOVE" as
// an install's (/PROD: required, /NS and /NR as there). An engine switch or /PATH: is refused.
// Returns 0 with the product name set and an empty argument text, or -1 for the bad-argument way
// out.
int ParseRemoveArguments(RUN_STATE* pRun);

// /CHECK takes no argument but the non-silent switch: the text is emptied.
int ParseCheckArguments(RUN_STATE* pRun);

// The extension test of the path argument: -1 for an ".INI" path outside configuration mode.
int CheckPathExtension(const char* pszPath);

// Usage dialog and result messages.
INT_PTR CALLBACK UsageDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
void CenterWindow(HWND hWnd, HWND hParent);
void ShowUsageDialog(HINSTANCE hInstance);
void ShowResultMessage(HINSTANCE hInstance, UINT uStringID);
// The same with the string as a format for the arguments (the text bounded by its 1024 bytes).
void ShowResultMessageFormat(HINSTANCE hInstance, UINT uStringID, ...);

// ---------------------------------------------------------------------------------------------
// The shared-engine record under HKEY_LOCAL_MACHINE, in the registry view of a 32-bit process.

#define REG_QUILLMARK "SOFTWARE\\Quillmark"
#define REG_SCANENGINE "SOFTWARE\\Quillmark\\ScanEngine"
#define REG_SCANENGINE_PATH "SOFTWARE\\Quillmark\\ScanEngine\\Path"

// Marks an invalid or missing ReferenceCount and a missing Timeout.
#define RECORD_SENTINEL 9999
#define RECORD_TIMEOUT 60

// 1 when szProductName is an entry of the stored ProductList (between two bars, any case), or of
// UnlistedProducts, where an update records a product that ProductList has no room for; else 0.
// Writes *pbHaveProductList: 1 when a ProductList is stored, 0 when it is absent or empty. Uses a
// registry object of its own.
BOOL IsProductInList(const char* szProductName, BOOL* pbHaveProductList);

// Step 7 of the run: the earlier-installation test. Sets bFormerInstalled and, from the version
// value, szVersion and bInstalledOnR80.
void DetectFormerInstall(RUN_STATE* pRun);

// Step 8 on an update: merges the stored engine set into g_dwEngIDs and reads ProductList into
// pRun->szProductList.
void ReadFormerRecord(RUN_STATE* pRun);

// The Engine value of the Path key: the engine directory.
void WriteEngineValue(RUN_STATE* pRun);
// A directory value of the Path key (Logs or Incoming), written before the directory is made.
void WriteDirectoryValue(RUN_STATE* pRun, const char* pszValueName, const char* pszDir);

// First install: ReferenceCount 1 whatever /NR said, dwEngIDs, ProductList |NAME| in upper
// case (replacing any earlier list; an earlier UnlistedProducts is removed) and Timeout 60.
void WriteFirstInstallRecord(RUN_STATE* pRun);

// Update start: reads ReferenceCount into pRun->dwRefCount (an invalid count is taken as 0) and
// writes Timeout 60 only when none is stored.
void ReadUpdateStart(RUN_STATE* pRun);

// The update's reference and product-list rules (bAddRefCount honoured). A product that
// ProductList cannot take (no room, or a stored list that is left as it is) goes to
// UnlistedProducts, in the same format and bound; one that fits neither raises no count.
void RegisterProductOnUpdate(RUN_STATE* pRun);
// The same on an r80 installation: a new product always adds a reference.
void RegisterProductOnR80(RUN_STATE* pRun);

// End of a completed update: dwEngIDs = the merged g_dwEngIDs.
void WriteEngineSet(RUN_STATE* pRun);

// ---------------------------------------------------------------------------------------------
// The record on removal (RecordRemove.cpp). Steps are ordered so that a removal stopped between
// any two of them is finished by the next run, whichever product starts it.

// TRUE when SOFTWARE\Quillmark\ScanEngine\Path exists and can be opened with full access.
BOOL IsRecordPresent();

// Finishes a release that a stopped run recorded in ReleasingProduct but may not have made: the
// count it left, the product out of both lists, the mark deleted. Does nothing without a mark.
void FinishStoppedRelease(RUN_STATE* pRun);

// Reads ReferenceCount into pRun->dwRefCount (RECORD_SENTINEL when absent, not a DWORD or the
// sentinel: unknown, never written). When the product is a whole entry of ProductList or
// UnlistedProducts (any case, any string type), takes it out of them, every other byte kept, and
// lowers a known count by one unless /NR was given (never below 0). Returns TRUE when released.
BOOL ReleaseProduct(RUN_STATE* pRun);

// TRUE when the count is 0 and neither list names a product.
BOOL IsLastReferenceGone(RUN_STATE* pRun);

// Deletes the record, the count last: ReleasingProduct, ProductList, UnlistedProducts, dwEngIDs,
// Timeout, then Engine, Logs, Incoming and the Path key, then ReferenceCount; each key only when
// nothing else is left in it, SOFTWARE\Quillmark too.
void DeleteRecord(RUN_STATE* pRun);

// Without a Path key: finishes a record deletion stopped after it (a ScanEngine key with count 0,
// no list and no version; an empty SOFTWARE\Quillmark). Anything else is left alone.
void FinishRecordTail(RUN_STATE* pRun);

// ---------------------------------------------------------------------------------------------
// The engine directory. Each routine leaves a valid pRun->szEngPath and returns 0, or refuses the
// directory (reason line, message 6 when not silent, "Invalid ScanEngine Path") and returns
// EXIT_INVALID_PATH, the exit code of the run.

// 1 when the path is plain single-byte text (the same in the ANSI and OEM code pages, no lead
// byte), 0 when it is refused as localized.
BOOL IsSingleBytePath(const char* pszPath);

// The default directory as a run without a stored or given directory takes it, into szEngPath
// (MAX_PATH); FALSE when a run would refuse it.
BOOL GetDefaultEngineDir(RUN_STATE* pRun, char* szEngPath);

// First install: from the path argument, else the default directory (which also settles the
// default product name).
int ResolveFirstInstallEngineDir(RUN_STATE* pRun);

// Update: the stored Engine value, else the path argument, else the default directory.
// *pbFromRecord tells whether the directory came from the stored value.
int ResolveUpdateEngineDir(RUN_STATE* pRun, BOOL* pbFromRecord);

// The product a run registers when the argument text names none and the run stands for the
// suite's default request.
#define DEFAULT_PRODUCT_NAME "Morvelin"

// pszEngPath\pszName into szOut (MAX_PATH): Logs and Incoming. An accepted engine directory
// leaves room for "\Incoming", so these fit.
void FormSubDir(char* szOut, const char* pszEngPath, const char* pszName);

// On the NT family, before anything is written to or deleted from the engine directory: refuses
// it (EXIT_INVALID_PATH) when it, a directory above it, Logs or Incoming is a reparse point, or
// when it, Logs or Incoming is owned by an account other than the system account, Administrators,
// TrustedInstaller or the running account; gives the protected list to those that others may
// change (then g_bGuardEngineFiles is set). A directory that does not exist yet is left to
// Create_Dir. Nothing on 95, 98 and ME.
int CheckEngineDirSafety(RUN_STATE* pRun);

// ---------------------------------------------------------------------------------------------
// The flows. Each returns the exit code after its last log lines and message; the way out of the
// run adds the End banner (not after the r80 ending of an update, which sets bNoEndBanner).

// Install or update mode: the earlier-installation test chooses between the two flows.
int RunInstall(RUN_STATE* pRun);
int RunFirstInstall(RUN_STATE* pRun);
// The update, from the stored record on: a release left by a stopped removal is finished first.
int RunUpdate(RUN_STATE* pRun);
// The removal: release the product, and remove the engine with its last reference. Returns
// EXIT_OK, or EXIT_NEED_REBOOT when files in use are deleted at the next restart.
int RunRemove(RUN_STATE* pRun);

// ---------------------------------------------------------------------------------------------
// The package check (/CHECK).

// The exit code of a check that found errors. Bit 29 marks a code as the application's own: no
// system error number has it (so it is never a free-space query's failure passed on), nor has
// an exception code (0xC...). Its low byte, 10, is what a Unix shell sees of a Wine process and
// what 9x batch files see as ERRORLEVEL: none of the program's own codes either.
#define EXIT_CHECK_ERRORS 0x2000000A

// Checks the package in the current directory as a run would deploy it into the default engine
// directory, and changes nothing: each finding one line in the log and, when the caller
// redirected it, on standard output, then a summary. Returns EXIT_OK when no error was found,
// EXIT_CHECK_ERRORS otherwise.
int RunPackageCheck(RUN_STATE* pRun);

// ---------------------------------------------------------------------------------------------
// Serialisation of concurrent runs.

#define PELMORA_RUN_LOCK_NAME "QuillmarkScanEngineSetup"

// Waits until no other run is between its earlier-installation test and its way out, then holds
// the lock. Returns the lock, or NULL when none could be had (the run then goes on unserialised).
HANDLE AcquireRunLock();
void ReleaseRunLock(HANDLE hLock);
