// The names of the manifest's entries on their own: what keeps a hostile manifest inside the
// engine directory, as pure text work, kept apart from the manifest walk so that it also builds
// natively for the sanitizer run in tests/host/. Other folders reach it through deploy.h.
#pragma once

#include "../support/mbcs.h"

// TRUE when pszName stays inside the directory it is joined to: no drive or colon, no leading
// separator, no component made of dots (and blanks) only, no device name (CON, NUL, COM1 ...,
// with or without an extension) as a component.
BOOL IsContainedFileName(const char* pszName);

// Joins pszDir, a backslash (unless pszDir already ends in one) and pszName, then pszSuffix
// (may be NULL), into szOut (MAX_PATH). Returns FALSE, with szOut empty, when it does not fit.
BOOL JoinEntryPath(char* szOut, const char* pszDir, const char* pszName, const char* pszSuffix);

// TRUE when pszName is a plain file name: contained (IsContainedFileName), without a directory
// part, and without characters that no file name may hold (control characters, < > " | ? *).
BOOL IsPlainFileName(const char* pszName);
