#include "support.h"

BOOL PathExists(const char* pszPath)
{
    return g_pfnGetFileAttributesA(pszPath) != INVALID_FILE_ATTRIBUTES;
}
