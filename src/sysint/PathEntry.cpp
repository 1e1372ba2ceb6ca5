// The engine directory's entry in the system PATH of NT-family systems and Windows ME.
#include "PathEntry.h"

#include <string.h>

// An occurrence of the entry is the engine directory only when the next entry or the end of the
// text follows it; otherwise it is the start of a longer directory name and belongs to that.
static BOOL IsWholeEntry(const char* pszAt, size_t cchEntry)
{
    return pszAt[cchEntry] == '\0' || pszAt[cchEntry] == ';';
}

DWORD AppendUniquePathEntry(char* pszValue, DWORD cbValue, const char* pszEntry)
{
    size_t cchEntry = strlen(pszEntry);
    if (cchEntry == 0)
        return (DWORD)strlen(pszValue);
    // Occurrences elsewhere are taken out first, so that the entry stands once, and last.
    size_t cchValue = RemovePathEntry(pszValue, pszEntry);

    // With nothing removed, a value near the end of its buffer has no room for the entry. Cutting
    // it, or writing the entry alone, would take directories out of the administrator's PATH.
    if (cchValue + cchEntry + 1 > cbValue)
    {
        WriteLog("Orvane: PATH of [%d] bytes has no room for [%s], leave it unchanged\n",
                 (int)cchValue, pszEntry);
        return (DWORD)cchValue;
    }
    memcpy(pszValue + cchValue, pszEntry, cchEntry + 1);
    return (DWORD)(cchValue + cchEntry);
}

DWORD RemovePathEntry(char* pszValue, const char* pszEntry)
{
    size_t cchEntry = strlen(pszEntry);
    if (cchEntry == 0)
        return (DWORD)strlen(pszValue);
    // Every removal can join text into a new occurrence before it, so the search restarts from
    // the beginning; occurrences that are not whole entries are stepped over. The append uses the
    // same recognition, so exactly what it added is taken out.
    char* pszFrom = pszValue;
    char* pszAt;
    while ((pszAt = MbsStr(pszFrom, pszEntry)) != NULL)
    {
        if (IsWholeEntry(pszAt, cchEntry))
        {
            memmove(pszAt, pszAt + cchEntry, strlen(pszAt + cchEntry) + 1);
            pszFrom = pszValue;
        }
        else
        {
            pszFrom = MbsNext(pszAt);
        }
    }
    return (DWORD)strlen(pszValue);
}
