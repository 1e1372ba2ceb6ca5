// Multibyte helpers over the ANSI code page. Every search, comparison and upper-casing that must
// not mistake a trail byte for a character of its own goes through these.
#include "mbcs.h"

#include <string.h>

BOOL MbsIsTrailByte(const char* pszStr, size_t nIndex)
{
    // Walk from the start: a byte after a lead byte can itself look like a lead byte.
    size_t i = 0;
    while (i < nIndex && pszStr[i])
    {
        if (IsDBCSLeadByte((BYTE)pszStr[i]) && pszStr[i + 1])
        {
            if (i + 1 == nIndex)
                return TRUE;
            i += 2;
        }
        else
        {
            i++;
        }
    }
    return FALSE;
}

const char* MbsNext(const char* psz)
{
    return psz + ((IsDBCSLeadByte((BYTE)*psz) && psz[1]) ? 2 : 1);
}

char* MbsStr(const char* pszStr, const char* pszFind)
{
    size_t cchFind = strlen(pszFind);
    for (const char* p = pszStr; *p;)
    {
        if (strncmp(p, pszFind, cchFind) == 0)
            return (char*)p;
        p = MbsNext(p);
    }
    return cchFind == 0 ? (char*)pszStr : NULL;
}

char* MbsChr(const char* pszStr, char ch)
{
    for (const char* p = pszStr; *p;)
    {
        if (*p == ch)
            return (char*)p;
        p = MbsNext(p);
    }
    return NULL;
}

char* MbsRChr(const char* pszStr, char ch)
{
    const char* pLast = NULL;
    for (const char* p = pszStr; *p;)
    {
        if (*p == ch)
            pLast = p;
        p = MbsNext(p);
    }
    return (char*)pLast;
}

void MbsUpper(char* pszStr)
{
    for (char* p = pszStr; *p;)
    {
        if (IsDBCSLeadByte((BYTE)*p) && p[1])
        {
            p += 2;
            continue;
        }
        if (*p >= 'a' && *p <= 'z')
        {
            *p = (char)(*p - 'a' + 'A');
        }
        else if ((BYTE)*p >= 0x80)
        {
            // Accented letters of single-byte code pages; one byte in, one byte out.
            CharUpperBuffA(p, 1);
        }
        p++;
    }
}

BOOL MbsCopy(char* pszDest, size_t cchDest, const char* pszSrc)
{
    if (cchDest == 0)
        return FALSE;
    size_t i = 0;
    while (pszSrc[i])
    {
        size_t cch = (size_t)(MbsNext(pszSrc + i) - (pszSrc + i));
        if (i + cch > cchDest - 1)
        {
            pszDest[i] = '\0';
            return FALSE;
        }
        memcpy(pszDest + i, pszSrc + i, cch);
        i += cch;
    }
    pszDest[i] = '\0';
    return TRUE;
}
