// Engine file deployment: the freshness test, the manifest walk and section decision, the free
// space of the target volume and directory creation.
#pragma once

#include <windows.h>

// ---------------------------------------------------------------------------------------------
// Freshness test.

// Returns 1 when the file at pszSource counts as newer than the one at pszDest (the caller is to
// copy it over), else 0. A higher version always wins; a version that is not higher, or one that
// cannot be read on either side, leaves the decision to the last-write times. An absent source
// is never newer; an absent destination is always replaced. Changes nothing on disk; logs.
int IsSourceNewer(const char* pszDest, const char* pszSource);

// Reads the fixed file version of pszPath. Returns 1 and sets *pdwMS (major:minor) and *pdwLS
// (build:revision), or returns 0, logs why and leaves both untouched.
int QueryFileVersion(const char* pszPath, DWORD* pdwMS, DWORD* pdwLS);
