// What the tests of replacement at restart watch: the pending-rename value as Wine stores it,
// WININIT.INI, and the restart itself.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace harness
{

// The Windows directory's WININIT.INI.
std::string WinInitPath();

// PendingFileRenameOperations as stored (UTF-16), each string converted to the ANSI code page,
// the list's final empty string left out. *pdwType receives the type, REG_NONE when missing.
std::vector<std::string> ReadPendingRenames(DWORD* pdwType = nullptr);
// Replaces the value with these strings as REG_MULTI_SZ (UTF-16); an empty list deletes it.
void WritePendingRenames(const std::vector<std::wstring>& strings);
// The value's raw bytes as stored (UTF-16 for the string types); "" when missing.
std::string ReadPendingRaw(bool* pbExists = nullptr);

// Carries out what a restart carries out: runs "wineboot.exe -r" and waits for it. Returns false
// (with a test failure) when it could not be run.
bool Restart();

// The short form of a path as the platform gives it, and upper-cased as the copy pass passes it.
std::string ShortName(const std::string& strPath);
std::string ShortUpper(const std::string& strPath);

} // namespace harness
