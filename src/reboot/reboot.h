// Replacement at restart: having a staged copy (the target's name with "000" appended) put in
// its target's place at the next restart, and finding out whether a target already waits for
// one. Paths are narrow strings in the ANSI code page, short (8.3) and upper-cased by the caller.
#pragma once

#include <windows.h>

// Length of one WININIT.INI entry, "%s=%s\r\n": two full paths with room to spare.
#define WININIT_ENTRY_SIZE 1024

// ---------------------------------------------------------------------------------------------
// Scheduling (RemoveOnReboot.cpp, WinInit.cpp).

// Asks for the target pszTarget to be deleted and the staged file pszExisting renamed to it at
// the next restart: through the platform's delayed move where it works (NT family), otherwise
// through two lines in WININIT.INI. A deletion is never left recorded without its rename: when
// the delayed rename fails after the delayed deletion was recorded, the deletion is withdrawn
// from PendingFileRenameOperations before the WININIT.INI route is tried, and there the deletion
// line is written only after the rename line. Returns the delayed rename's result when both
// delayed moves succeed, else 1 when both WININIT.INI lines were written and 0 when not.
BOOL RemoveFileOnReboot(const char* pszExisting, const char* pszTarget);

// Inserts the line "<dest>=<source>\r\n" directly under the "[Rename]\r\n" header of
// WININIT.INI in the Windows directory ("NUL" for a null pszDest: delete pszSource), creating
// the file or appending the header when there is none. Returns 1 when the line was written and
// 0 when not (file held open elsewhere, no mapping, or a line that does not fit
// WININIT_ENTRY_SIZE); on 0 the file keeps its old content. Writes nothing to the log.
BOOL AddWinInitRename(const char* pszSource, const char* pszDest);
