// Replacement at restart: having a staged copy (the target's name with "000" appended) put in
// its target's place at the next restart, and finding out whether a target already waits for
// one. Paths are narrow strings in the ANSI code page, short (8.3) and upper-cased by the caller.
#pragma once

#include <windows.h>

// Length of one WININIT.INI entry, "%s=%s\r\n": two full paths with room to spare.
#define WININIT_ENTRY_SIZE 1024

// Size of the snapshot buffer that a copy pass owns; larger values go to the heap.
#define REGBUF_SIZE 1280

// What stands between two names of the snapshot, in place of the NUL that ends each: a
// character that no path holds, so that the end of every name stays visible.
#define REGBUF_SEPARATOR '|'

// ---------------------------------------------------------------------------------------------
// Scheduling (RemoveOnReboot.cpp, WinInit.cpp).

// Asks for the target pszTarget to be deleted and the staged file pszExisting renamed to it at
// the next restart: through the platform's delayed move where it works (NT family), otherwise
// through two lines in WININIT.INI. A deletion is never left recorded without its rename: when
// the delayed rename fails after the delayed deletion was recorded, the deletion is withdrawn
// from PendingFileRenameOperations before the WININIT.INI route is tried, and there the deletion
// line is written only after the rename line. A request identical to one already recorded in
// PendingFileRenameOperations (a second request of the same pass, which its snapshot cannot
// show) is not recorded again. Returns the delayed rename's result when both
// delayed moves succeed or the request was already recorded, else 1 when both WININIT.INI lines
// were written and 0 when not.
BOOL RemoveFileOnReboot(const char* pszExisting, const char* pszTarget);

// NT family: when the pending list holds the deletion of pszTarget but no rename to it (a run
// stopped between the two delayed moves), adds the rename of pszExisting to it. Short names, as
// for RemoveFileOnReboot. Returns TRUE when the rename was added.
BOOL CompleteLoneDeletion(const char* pszExisting, const char* pszTarget);

// Inserts the line "<dest>=<source>\r\n" directly under the "[Rename]\r\n" header of
// WININIT.INI in the Windows directory ("NUL" for a null pszDest: delete pszSource), creating
// the file or appending the header when there is none. Returns 1 when the line was written and
// 0 when not (file held open elsewhere, no memory or a failed read or write, or a line that does
// not fit WININIT_ENTRY_SIZE); on 0 the file keeps its old content. Writes nothing to the log.
BOOL AddWinInitRename(const char* pszSource, const char* pszDest);

// 95, 98 and ME: when WININIT.INI holds a rename line for pszTarget (short name) but not its
// deletion line (a run stopped between the two), adds the deletion line, which lands above the
// rename. Returns TRUE when the line was added.
BOOL CompleteLoneRenameLine(const char* pszTarget);

// Deletes pszPath (a full path; named by its short, upper-case form) at the next restart, after
// every replacement that is already pending for it, so the restart ends with the file gone and
// never with a staged copy moved back in: a delayed move to nothing where it works (NT family,
// appended to the list), otherwise a line "NUL=<short name>" at the end of the [Rename] section of
// WININIT.INI (95, 98 and ME). A deletion that already comes last for the file is not asked for
// again. Logs; returns TRUE when the deletion is recorded.
BOOL DeleteFileOnReboot(const char* pszPath);

// Adds "NUL=<pszShortPath>\r\n" as the last line of the [Rename] section of WININIT.INI (after
// the lines already there, so after any replacement of the file), unless a deletion line for the
// file already follows every line that renames to it. Written in one piece under share mode 0
// as AddWinInitRename is. Returns 1 when the deletion is recorded, 0 when not. Does not log.
BOOL AddWinInitDeletion(const char* pszShortPath);

// A removal takes back the replacements of the files it removes, and asks for the deletion at the
// restart of a file it finds in use; a later run that installs the file again takes that deletion
// back (RemoveOnReboot.cpp, WinInit.cpp). Names are short and upper case; none of these logs.

// NT family: takes the deletion of pszTarget out of the pending list when it is the last pair
// naming the file. TRUE when it was taken out.
BOOL WithdrawLastPendingDeletion(const char* pszTarget);

// NT family: takes the first rename of the staged copy pszStaged out of the pending list, with the
// deletion of its target just before it. TRUE when it was taken out.
BOOL WithdrawPendingReplacement(const char* pszStaged);

// 95, 98 and ME: takes the last line "NUL=<pszShortPath>" out of WININIT.INI when no line renames
// to the file after it. Every other byte is kept; written under share mode 0. TRUE when taken out.
BOOL WithdrawWinInitDeletion(const char* pszShortPath);

// 95, 98 and ME: takes the first line "<target>=<pszStaged>" out of WININIT.INI, with the last
// deletion line of that target above it, as WithdrawWinInitDeletion writes. TRUE when taken out.
BOOL WithdrawWinInitReplacement(const char* pszStaged);

// The replacement's withdrawal for the platform of the run (g_dwOSType), Schedule.cpp, given the
// full path of an existing staged copy (FALSE when it has no short name). A deletion's withdrawal
// goes through a pass's view (WithdrawDeletionInView).
BOOL WithdrawReplacement(const char* pszStaged);

// ---------------------------------------------------------------------------------------------
// A pass's view of the removal's deletions in one engine directory (PendingView.cpp).

// PendingFileRenameOperations as one read gives it, through the UTF-16 calls: every question
// about the list is answered from such a read. Only a REG_MULTI_SZ holds pairs; a value of any
// other type is still there for the copy pass's snapshot, which searches whatever it holds.
struct PENDING_LIST
{
    BYTE* pData;           // the value as stored and four zero bytes, NULL when it was not read
    DWORD cbData;          // its bytes
    DWORD dwType;          // its type
    const WCHAR* pwszList; // pData when the value is a REG_MULTI_SZ, else NULL
    DWORD cchList;         // the list's characters (two spare NULs follow them)
};

// The platform's store of pending requests (PendingFileRenameOperations on the NT family,
// WININIT.INI on 95, 98 and ME) as read once for a pass, and what it holds for the directory.
struct PENDING_VIEW
{
    PENDING_LIST list; // the pending list (nothing read when not this platform's store)
    char* pbWinInit;   // WININIT.INI's content, NULL when none
    DWORD cbWinInit;   // its bytes
    BOOL bPending;     // a pending name is the directory or a file in it
    BOOL bMadeUpNames; // one of those names may be a short name the system made up, or a long one
    BOOL bHaveDir;     // szDir was asked for
    char szLongDir[MAX_PATH]; // the directory as the pass names it
    char szDir[MAX_PATH];     // its short, upper-case path, "" when it has none
};

// Reads the store for the directory pszDir. The directory's short name is asked for only when the
// store holds anything. Pair with ClosePendingView.
void OpenPendingView(PENDING_VIEW* pView, const char* pszDir);
void ClosePendingView(PENDING_VIEW* pView);

// pView->bPending: takes back the deletion at the restart of pszPath (the directory, or a file or
// directory directly in it) when it is the last request naming it, as WithdrawLastPendingDeletion
// and WithdrawWinInitDeletion do, and then holds the store as left: the pending list as the
// withdrawal stored it, WININIT.INI read anew. FALSE at once when nothing is pending for the
// directory. Does not log.
BOOL WithdrawDeletionInView(PENDING_VIEW* pView, const char* pszPath);

// ---------------------------------------------------------------------------------------------
// Pending-replacement lookup (Pending.cpp).

// The snapshot of PendingFileRenameOperations that one copy pass takes on the NT family. Its
// text (pszRegBuf) is the value's list with every inner NUL replaced by REGBUF_SEPARATOR, so it
// reads as one string. pszRegBuf is NULL where there is no snapshot, and "" when the value could
// not be read.
struct REG_BUF
{
    char* pszRegBuf; // the snapshot text, or NULL
    char* pHeap;     // heap buffer when the value did not fit szBuf, freed by the release
    char szBuf[REGBUF_SIZE + 1]; // one byte more than the value may fill: always terminated
};

// Takes the snapshot when g_dwOSType is an NT-family id; leaves pszRegBuf NULL on every other
// id. Logs "increase RegBuf length" when the value needs the heap. Pair with ReleaseRegBuf.
void TakeRegBuf(REG_BUF* pRegBuf);
// The same snapshot made from the list a pass's view holds, without reading the value again: the
// view is current from its opening, and after every request it takes out.
void TakeRegBufOfView(REG_BUF* pRegBuf, const PENDING_VIEW* pView);

// Frees the heap buffer, if any (logging "free RegBuf"), and leaves pszRegBuf NULL.
void ReleaseRegBuf(REG_BUF* pRegBuf);

// 1 when pszTarget already waits for a replacement: on 95/98/ME when a line of WININIT.INI, read
// anew, names it before its "=" or at its end; elsewhere when a name of the snapshot ends with it
// (whatever prefix it carries). The match is multibyte-aware, letter case included (callers
// upper-case both sides); a longer name that merely begins with the target does not count.
BOOL CanYouFindMe(const char* pszTarget, const char* pszRegBuf);

// ---------------------------------------------------------------------------------------------
// The scheduling step of a copy pass (Schedule.cpp).

// Has the staged copy pszStaged replace pszTarget at the next restart, unless the target is
// already pending: takes the short names of both (logging each), upper-cases them and the
// snapshot pszRegBuf (which may be NULL), asks CanYouFindMe and calls RemoveFileOnReboot. When
// either short name cannot be obtained the failure is logged and nothing is scheduled, unless
// the target does not exist yet: it is then named by its long name on the NT family, and on
// 95/98/ME by the directory's short path and its name when that is a valid 8.3 name; failing
// both, the staged copy is moved to the target at once.
void ScheduleReplacement(const char* pszStaged, const char* pszTarget, char* pszRegBuf);
