// The fix-up of a freshly copied file: file-system encryption removed on the NT family.
#pragma once

#include <windows.h>

// On every platform id but 95, 98 and ME, when pszPath carries the encrypted attribute: clears
// its attributes (to 0), has Unseal.dll's RemoveEncryption decrypt it, and puts back the
// creation, last-access and last-write times it had before. A missing Unseal.dll or export
// leaves the file encrypted and changes nothing else. Logs nothing, returns nothing.
void DecryptCopiedFile(const char* pszPath);
