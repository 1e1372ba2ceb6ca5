// The PATH entry edit on its own: pure text work over a caller's buffer, kept apart from the
// registry side of the engine environment so that it also builds natively for the sanitizer run
// in tests/host/. Other folders reach it through sysint.h.
#pragma once

#include "../support/mbcs.h"

// Takes every earlier occurrence of pszEntry (";" and the short path) out of the PATH text in
// pszValue and appends pszEntry once at the end. An occurrence counts only when it is a whole
// entry, followed by ";" or the end of the text: an entry that merely begins with the same text
// (a subdirectory of the engine directory) is kept whole. The search follows the multibyte rules
// of the ANSI code page and is case-sensitive. cbValue is the size of the buffer; when the edited
// text with its NUL would not fit, the value is left unchanged and a line is logged. Returns the
// length of the value in bytes, without the NUL.
DWORD AppendUniquePathEntry(char* pszValue, DWORD cbValue, const char* pszEntry);

// Takes every occurrence of pszEntry (";" and the short path) that AppendUniquePathEntry would
// recognise as a whole entry out of the PATH text in pszValue; every other byte stays, in order.
// Returns the new length in bytes, without the NUL.
DWORD RemovePathEntry(char* pszValue, const char* pszEntry);
