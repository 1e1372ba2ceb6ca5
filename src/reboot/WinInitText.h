// The [Rename] line of WININIT.INI placed into the file's content: pure byte work over a buffer
// the caller owns (the heap buffer in WinInit.cpp), kept apart so that it also builds natively
// for the sanitizer run in tests/host/.
#pragma once

#include "../support/mbcs.h"

// The section header as the system's own reader expects it: this letter case, CR and LF.
#define WININIT_RENAME_HEADER "[Rename]\r\n"
#define WININIT_RENAME_HEADER_LEN (sizeof(WININIT_RENAME_HEADER) - 1)

// Inserts the cchLine bytes at pLine into the content pView[0, cbOld): directly under the first
// "[Rename]\r\n" header, so the line added last is carried out first, or after a header appended
// at the end when the content has none. The search is bounded by cbOld, so a NUL byte inside the
// content cannot end it early. pView must have room for cbOld + cchLine +
// WININIT_RENAME_HEADER_LEN bytes; what lies beyond the returned size is left as it was.
// Returns the size of the new content.
DWORD InsertWinInitLine(BYTE* pView, DWORD cbOld, const char* pLine, DWORD cchLine);

// Inserts the cchLine bytes at pLine as the last line of the first [Rename] section of the content
// pView[0, cbOld): in front of the next section header ("[" in a line's first column) or at the
// end of the content, after closing an open last line with CR LF; after a header appended at the
// end when the content has none. pView must have room for cbOld + cchLine +
// WININIT_RENAME_HEADER_LEN + 2 bytes. Returns the size of the new content.
DWORD AppendWinInitLine(BYTE* pView, DWORD cbOld, const char* pLine, DWORD cchLine);
