// The names of the manifest's entries: whether a name keeps a path inside the directory it is
// joined to, and the joining itself. Pure text work, kept apart from the manifest walk so that it
// also builds natively for the sanitizer run and the fuzzers in tests/host/.
#include "EntryName.h"

#include <string.h>

// The platform opens a device for a path whose last component is a device name, whatever
// directory stands before it and with any extension ("C:\Eng\nul.dll" is the null device, "lpt1.x"
// the printer port): such a copy would write outside the engine directory, or read a port. Checked
// for every component, as no directory of such a name can be made either.
static BOOL IsDeviceComponent(const char* pComp, size_t cchComp)
{
    static const char* const s_apszDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    size_t cchBase = 0;
    while (cchBase < cchComp && pComp[cchBase] != '.')
        cchBase++;
    while (cchBase > 0 && pComp[cchBase - 1] == ' ')
        cchBase--;
    char szBase[8];
    if (cchBase == 0 || cchBase >= sizeof(szBase))
        return FALSE;
    for (size_t i = 0; i < cchBase; i++)
    {
        char ch = pComp[i];
        szBase[i] = (ch >= 'a' && ch <= 'z') ? (char)(ch - 'a' + 'A') : ch;
    }
    szBase[cchBase] = '\0';
    for (const char* pszDevice : s_apszDevices)
        if (strcmp(szBase, pszDevice) == 0)
            return TRUE;
    return cchBase == 4 && (strncmp(szBase, "COM", 3) == 0 || strncmp(szBase, "LPT", 3) == 0) &&
           szBase[3] >= '1' && szBase[3] <= '9';
}

BOOL IsContainedFileName(const char* pszName)
{
    if (pszName[0] == '\\' || pszName[0] == '/')
        return FALSE;
    if (MbsChr(pszName, ':') != NULL)
        return FALSE;
    // The platform drops trailing dots and blanks of a component, so ".. " climbs like "..".
    const char* p = pszName;
    while (*p)
    {
        const char* pEnd = p;
        BOOL bOnlyDots = TRUE;
        BOOL bDot = FALSE;
        while (*pEnd && *pEnd != '\\' && *pEnd != '/')
        {
            if (*pEnd == '.')
                bDot = TRUE;
            else if (*pEnd != ' ')
                bOnlyDots = FALSE;
            pEnd = MbsNext(pEnd);
        }
        if (bDot && bOnlyDots)
            return FALSE;
        if (IsDeviceComponent(p, (size_t)(pEnd - p)))
            return FALSE;
        p = *pEnd ? pEnd + 1 : pEnd;
    }
    return TRUE;
}

BOOL JoinEntryPath(char* szOut, const char* pszDir, const char* pszName, const char* pszSuffix)
{
    size_t cchDir = strlen(pszDir);
    // A drive root ("D:\") already ends in its separator; a trail byte of 0x5C does not.
    BOOL bSep = cchDir == 0 || pszDir[cchDir - 1] != '\\' || MbsIsTrailByte(pszDir, cchDir - 1);
    size_t cchName = strlen(pszName);
    size_t cchSuffix = pszSuffix ? strlen(pszSuffix) : 0;
    if (cchDir + (bSep ? 1 : 0) + cchName + cchSuffix >= MAX_PATH)
    {
        szOut[0] = '\0';
        return FALSE;
    }
    char* p = szOut;
    memcpy(p, pszDir, cchDir);
    p += cchDir;
    if (bSep)
        *p++ = '\\';
    memcpy(p, pszName, cchName);
    p += cchName;
    if (cchSuffix)
        memcpy(p, pszSuffix, cchSuffix);
    p[cchSuffix] = '\0';
    return TRUE;
}

BOOL IsPlainFileName(const char* pszName)
{
    if (!pszName[0] || !IsContainedFileName(pszName))
        return FALSE;
    for (const char* p = pszName; *p; p = MbsNext(p))
        if ((unsigned char)*p < ' ' || strchr("\\/<>\"|?*", *p) != NULL)
            return FALSE;
    return TRUE;
}
