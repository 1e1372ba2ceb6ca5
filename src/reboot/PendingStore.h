// The two stores of pending requests as the routines of this folder share them: one reader each,
// and the question every withdrawal asks of what it read. Not for other folders.
#pragma once

#include <windows.h>

// PendingFileRenameOperations in its stored UTF-16 form, in a heap buffer of *pcch characters
// with two spare NULs, which the caller frees; NULL when there is no such list.
WCHAR* ReadPendingRenames(DWORD* pcch);

// WININIT.INI's content in a heap buffer of *pcb bytes, which the caller frees; NULL when there is
// no such file or nothing in it.
char* ReadWinInitText(DWORD* pcb);

// TRUE when the last request of the list, or of the content, that names pszName (short, upper
// case) is its deletion: what WithdrawLastPendingDeletion and WithdrawWinInitDeletion take out.
BOOL IsPendingDeletionLast(const WCHAR* pwszList, DWORD cch, const char* pszName);
BOOL IsWinInitDeletionLast(const char* pb, DWORD cb, const char* pszName);

// TRUE when pszName is a valid 8.3 name as it stands: one to eight bytes, and optionally a dot
// and one to three more, none of them a blank, a control character or one that short names
// refuse. Such a name is its own short name.
BOOL IsShortFormName(const char* pszName);
