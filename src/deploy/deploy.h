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
// call; 0 otherwise, also when it already existed or the path does not fit in MAX_PATH.
BOOL Create_Dir(const char* pszPath);
