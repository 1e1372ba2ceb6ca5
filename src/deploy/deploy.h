// Engine file deployment: the freshness test, the manifest walk and section decision, the free
// space of the target volume and directory creation.
#pragma once

#include <windows.h>

#include "EntryName.h"

// ---------------------------------------------------------------------------------------------
// Freshness test.

// Returns 1 when the file at pszSource counts as newer than the one at pszDest (the caller is to
// copy it over), else 0. A higher version always wins; a version that is not higher, or one that
// cannot be read on either side, leaves the decision to the last-write times. An absent source
// is never newer; an absent destination is always replaced. While g_bGuardEngineFiles is set,
// every present source counts as newer. Changes nothing on disk; logs.
int IsSourceNewer(const char* pszDest, const char* pszSource);

// TRUE when the packaged file pszSource is there, as the freshness test's probe finds it.
BOOL IsPackagedFilePresent(const char* pszSource);

// Reads the fixed file version of pszPath. Returns 1 and sets *pdwMS (major:minor) and *pdwLS
// (build:revision), or returns 0, logs why and leaves both untouched.
int QueryFileVersion(const char* pszPath, DWORD* pdwMS, DWORD* pdwLS);

// ---------------------------------------------------------------------------------------------
// Target volume and directory preparation.

// Free-space thresholds in bytes by platform group.
#define FREESPACE_9X 7460100u
#define FREESPACE_ME 6605650u
#define FREESPACE_OTHER 7032900u

// Checks the free space of the volume of pszEngPath (a full path) against the threshold of
// g_dwOSType. Returns 0 when there is enough, 6 when there is too little, or the system error
// number of a failed query. Logs one or two lines.
DWORD CheckFreeDiskSpace(const char* pszEngPath);

// Creates pszPath (absolute: "X:\..." or "\\server\share\...") and every missing directory
// above it, from the top down. Returns non-zero when the directory itself was created by this
// call; 0 otherwise, also when it already existed or the path does not fit in MAX_PATH. On the
// NT family a directory whose parent would pass on to it rights of anyone but the trusted
// accounts is created with the protected list (support.h) instead, and a line logged.
BOOL Create_Dir(const char* pszPath);

// ---------------------------------------------------------------------------------------------
// The manifest (FileList.ini, at g_szFileList) and the section decision.

// Full path of the manifest: the package directory (the current directory) and "FileList.ini",
// formed once by the entry point; every walk reads the manifest through it.
extern char g_szFileList[MAX_PATH];

// Section codes (nSection).
enum
{
    SECTION_FILES = 0,
    SECTION_OSKA = 1,
    SECTION_BRIN = 2,
};

// The section name in the manifest and the label of log lines; NULL for another code.
const char* GetSectionName(int nSection);
const char* GetSectionLabel(int nSection);

// One entry of a section as a walk hands it on: its file name and the three paths it stands
// for, each known to fit in MAX_PATH.
struct MANIFEST_ENTRY
{
    char szName[MAX_PATH];   // the value: the file name in both directories
    char szSource[MAX_PATH]; // package directory \ name
    char szTarget[MAX_PATH]; // engine directory \ name
    char szStaged[MAX_PATH]; // target with "000" appended
};

// Called for each entry in manifest order; returning FALSE ends the walk.
typedef BOOL (*PFN_MANIFEST_ENTRY)(const MANIFEST_ENTRY* pEntry, void* pContext);

// The entry names: IsContainedFileName, JoinEntryPath and IsPlainFileName (EntryName.h).

// Walks the section nSection of the manifest: reads the package directory (the current
// directory) and the key list, and calls pfn for every entry whose name is a contained file
// name and whose paths fit. Entries that are skipped or refused are logged. Returns FALSE when
// pfn ended the walk, TRUE when it ran to the end of the list.
// The key list and values are read anew on every walk, unless KeepManifestSections is on.
BOOL WalkManifestSection(const char* pszEngPath, int nSection, PFN_MANIFEST_ENTRY pfn,
                         void* pContext);

// What a walk makes of a key of a section.
enum
{
    ENTRY_WALKED = 0,        // handed on to the pass
    ENTRY_NO_FILE = 1,       // no value: skipped
    ENTRY_NOT_CONTAINED = 2, // the name would leave its directory: refused
    ENTRY_PATH_TOO_LONG = 3, // a path of the entry does not fit in MAX_PATH: skipped
    ENTRY_PAST_KEY_LIST = 4, // the name did not arrive whole in the key list: never read
};

// One key of a section as ExamineManifestSection finds it.
struct MANIFEST_EXAMINED
{
    char szKey[MAX_PATH];
    int nVerdict;         // ENTRY_*
    int nRepeat;          // how many earlier keys of the section have this name (any case)
    BOOL bCutName;        // a piece of the next name, cut at the bound, that the walk reads
    MANIFEST_ENTRY entry; // szName: the value of this very line; the paths when walked
};

// Called for every key of a section; returning FALSE ends the examination.
typedef BOOL (*PFN_MANIFEST_EXAMINE)(const MANIFEST_EXAMINED* pExamined, void* pContext);

// Calls pfn for every key that the section holds, also those beyond the bound of the key list
// that a walk reads, each with the verdict of the walk's own tests: the entries a walk with
// pszEngPath hands on are those with ENTRY_WALKED, in the same order. A repeated name's value is
// that of its own line, which a walk never reads (the profile reader answers the first). Where
// the bound cuts a name in two, the piece comes first (bCutName), then the whole name.
// Logs nothing; FALSE when the package directory cannot be read.
BOOL ExamineManifestSection(const char* pszEngPath, int nSection, PFN_MANIFEST_EXAMINE pfn,
                            void* pContext);

// From KeepManifestSections(TRUE) to KeepManifestSections(FALSE) every walk of a section gets the
// profile reader's answers that the section's first walk in that time received: a run reads the
// manifest once, however often it walks it. The manifest must not be replaced in that time (the
// run owns its package directory). Either call forgets what was kept.
// Where a section is plain (every entry a name of printable ASCII without blanks, "=", and a value
// without quotes or blanks at its ends that fits the value buffer), the first walk reads it in
// one call of the section reader instead of once per name.
void KeepManifestSections(BOOL bKeep);

// How many values the walks have asked the profile reader for one by one in this process; the
// values of plain sections read at once are not counted.
extern DWORD g_dwManifestValueReads;

// TRUE for the files that only Windows 95, 98 and ME use (exact, case-sensitive names).
BOOL Is9xOnlyFile(const char* pszName);

// Decides whether the engine section nSection is to be deployed as a whole: 1 as soon as one
// counting file is newer in the package than in pszEngPath (bZeroSuffix FALSE) or than its
// staged copy (bZeroSuffix TRUE; an entry without a staged copy ends the walk), else 0. On
// NT-family platforms the 9x-only files do not count. Changes nothing on disk; logs.
int ShouldCopyEntireSection(const char* pszEngPath, int nSection, BOOL bZeroSuffix);

// ---------------------------------------------------------------------------------------------
// Copy and refresh passes.

// TRUE for the four signature data files of the engine sections (exact names).
BOOL IsSignatureFile(const char* pszName);

// Deploys section nSection from the package directory (the current directory) into pszEngPath:
// the common section file by file when newer, an engine section whole when anything in it is
// newer. A file that cannot be replaced sets *pbNeedReboot and, where the platform allows, is
// staged as "<target>000" and scheduled to replace its target at the next restart. Ends by
// fitting the engine directory to the platform. Logs every step.
// A file that a removal asked to be deleted at the restart is kept when the pass puts it in place
// or, for a section found whole and left as it is, finds it there.
void CopySectionFiles(const char* pszEngPath, int nSection, BOOL* pbNeedReboot);

// Takes back a removal's deletions at the restart of the engine directory's "Logs" and "Incoming"
// and of pszEngPath itself, which the run keeps; logs each. Costs one read of the pending requests
// when none is pending there.
void KeepEngineDirectoriesFromRemoval(const char* pszEngPath);

// Deletes the marker that a copy of engine section nSection stopped half way left in pszEngPath.
void RemoveSectionMarker(const char* pszEngPath, int nSection);

// Brings staged copies left by earlier runs up to date from the package: in the common section
// those whose packaged file is newer, in an engine section (when it counts as updated against
// its staged copies) every one, each followed by a fresh staged copy of the section's signature
// pair. Never touches an installed file and schedules nothing.
void UpdateZeroSuffixFiles(const char* pszEngPath, int nSection);

// The signature pair that staging draws in with the engine DLL pszName (exact name): two names,
// or NULL when pszName is not an engine DLL.
const char* const* GetSignaturePair(const char* pszName);

// The fixed name of the deployment passes (the 9x-only files, the engine DLLs and their
// signature files, Probit.exe) that pszName spells in other letter case, or NULL when it spells
// none so, or one exactly. The passes compare these names with case.
const char* GetFixedNameInOtherCase(const char* pszName);

// Copies pszSource over pszTarget as CopyFileA does (overwriting, FALSE with the last error set
// on failure), but never leaves pszTarget cut short: the copy is written to a work file beside
// the target and then renamed over it. A copy that runs out of room, or a run that is stopped
// half way, leaves the target as it was. When the rename is refused (the target in use, or a
// target the rename cannot replace) the plain copy is tried, whose failure the caller handles.
// When g_bGuardEngineFiles is set, a target that is a link (a reparse point, or a file with more
// than one name) is first removed as the link, never written through; a link that cannot be
// removed fails the copy (ERROR_ACCESS_DENIED), so that the caller stages it.
BOOL CopyOverSafely(const char* pszSource, const char* pszTarget);

// Set for the run when the engine directory was found open to others (they may have planted
// links in it, or changed its files): every file the copies write is then looked at first, and
// the freshness test takes every packaged file as newer than the one installed or staged.
// Otherwise no one else could have put anything there, and the copies cost nothing more per file.
extern BOOL g_bGuardEngineFiles;

// Removes the work file of CopyOverSafely that a stopped run may have left in pszDir.
void RemoveCopyWorkFile(const char* pszDir);

// ---------------------------------------------------------------------------------------------
// Removal of the engine files (the last reference released).

// Deletes pszPath when it is a file (read-only or not). A file that cannot be deleted (as a rule
// one in use) sets *pbNeedReboot and is deleted at the next restart, after any replacement that
// is pending for it. A missing file is no failure; a directory is never deleted. Logs. Returns
// FALSE when the file is neither deleted nor recorded for deletion.
BOOL RemoveEngineFile(const char* pszPath, BOOL* pbNeedReboot);

// Deletes from pszEngPath every file that section nSection of the manifest names, and its staged
// "000" copy. Only plain file names (IsPlainFileName) are taken; any other value is skipped with
// a log line, so the manifest never reaches outside the engine directory. Also deletes Probit.exe
// when the section names Morcmd.exe (95/98 runs make it from that), and the copy pass's work
// file. Whatever dwEngIDs says, a caller walks all three sections.
void RemoveSectionFiles(const char* pszEngPath, int nSection, BOOL* pbNeedReboot);

// Removes the directory pszPath when it is empty (a missing one counts as removed); one that still
// holds anything stays. Logs. TRUE when it is gone.
BOOL RemoveEmptyDir(const char* pszPath);
