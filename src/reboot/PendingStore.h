// The two stores of pending requests as the routines of this folder share them: one reader each,
// the walk over the list's pairs, the scans that every question asks of what was read, and the
// one routine that gives a file the name its requests carry. Not for other folders.
#pragma once

#include "reboot.h"

// ---------------------------------------------------------------------------------------------
// PendingFileRenameOperations (Pending.cpp, RemoveOnReboot.cpp).

// Reads the value once, in its stored UTF-16 form, through the registry class; pList->pwszList is
// set only when it is a REG_MULTI_SZ. Pair with FreePendingList.
void ReadPendingList(PENDING_LIST* pList);
void FreePendingList(PENDING_LIST* pList);

// Stores the cch characters at pwszList as the list, through the UTF-16 calls, so that the entries
// of other programs are written back unchanged even where they hold characters the ANSI code page
// lacks; the value goes when nothing but the list's terminator is left, as before the first
// request. TRUE when stored.
BOOL StorePendingList(const WCHAR* pwszList, DWORD cch);

// One pair of the list: a source and its destination, empty for a deletion, with a leading "!"
// when the move may replace its target.
struct PENDING_PAIR
{
    const WCHAR* pwszSource;
    const WCHAR* pwszDest; // NULL for a source that has no destination left in the value
    DWORD iStart;          // the source's first character
    DWORD iEnd;            // the character after the destination's NUL
};

// Steps from *pi over the next pair; FALSE at the list's end (an empty string where a source
// would start, or no characters left). A source without its destination ends the list: it is
// given with a NULL destination, and the next step returns FALSE.
BOOL NextPendingPair(const PENDING_LIST* pList, DWORD* pi, PENDING_PAIR* pPair);

// The path of an entry of the list: the system stores each path behind the "\??\" prefix of its
// object names.
const WCHAR* PendingPathOf(const WCHAR* pwszEntry);

// What the list asks for one file.
struct PENDING_FOR
{
    BOOL bDeletion;     // a deletion of it (the pair: the file, an empty name)
    BOOL bRename;       // a rename to it
    BOOL bDeletedLast;  // the last pair that names it, as source or destination, is its deletion
    DWORD iDeletion;    // the last deletion pair, from here
    DWORD iDeletionEnd; // up to here
};

// Scans the list for pszName (short, upper case); FALSE when the list holds no pairs or the name
// has no UTF-16 form that fits MAX_PATH.
BOOL ScanPendingFor(const PENDING_LIST* pList, const char* pszName, PENDING_FOR* pFor);

// NT family: WithdrawLastPendingDeletion, also handing back the list as it was stored (nothing
// read when the value went) so that a pass's view need not read it again. *pLeft is emptied
// first and left empty when nothing was taken out.
BOOL WithdrawLastPendingDeletionInto(const char* pszTarget, PENDING_LIST* pLeft);

// ---------------------------------------------------------------------------------------------
// WININIT.INI (WinInit.cpp).

// The file's content in a heap buffer of *pcb bytes, which the caller frees; NULL when there is no
// such file or nothing in it. Opened beside other readers, and with bBesideWriters beside writers
// too (the lookup reads as a line reader of the C runtime would). *pbMissing, when given, is TRUE
// when the file is not there at all (or the Windows directory gives no path for it).
char* ReadWinInitText(DWORD* pcb, BOOL bBesideWriters, BOOL* pbMissing);

// What the first cb bytes of the content ask for the file pszName (short path) names.
struct WININIT_FOR
{
    BOOL bDeletion;    // a deletion line of it, "NUL=<file>"
    BOOL bRename;      // a rename line of it, "<file>=<staged copy>"
    BOOL bDeletedLast; // its last deletion line follows every rename line of it
    size_t iDeletion;  // that last deletion line, from here
    size_t cbDeletion; // and this long
};
void ScanWinInitFor(const char* pb, size_t cb, const char* pszName, WININIT_FOR* pFor);

// ---------------------------------------------------------------------------------------------
// Names (Schedule.cpp).

// The name requests carry for pszPath: its short form, upper case, into szName (MAX_PATH); the
// short form as the platform gives it, before the upper-casing, into szGiven (MAX_PATH) when
// given. On failure both are empty and *pdwError holds the reason (122 for a short form that does
// not fit, or a failure that names none); the thread's last error is that of the platform's call.
BOOL GetRequestName(const char* pszPath, char* szName, char* szGiven, DWORD* pdwError);

// The name requests carry for the 8.3 name pszLeaf (its own short name) in a directory: the cchDir
// bytes of pszDirShort, the directory's short path without a final separator, then "\" and the
// leaf, upper case, into szName (MAX_PATH); as joined, before the upper-casing, into szGiven
// (MAX_PATH) when given. FALSE, both empty, when the join does not fit.
BOOL JoinRequestName(const char* pszDirShort, size_t cchDir, const char* pszLeaf, char* szName,
                     char* szGiven);

// TRUE when pszName is a valid 8.3 name as it stands: one to eight bytes, and optionally a dot
// and one to three more, none of them a blank, a control character or one that short names
// refuse. Such a name is its own short name.
BOOL IsShortFormName(const char* pszName);
