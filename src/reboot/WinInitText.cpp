// The WININIT.INI content edit: one line under the [Rename] header, every other byte kept.
#include "WinInitText.h"

#include <string.h>

static const char s_szRenameHeader[] = WININIT_RENAME_HEADER;

static BYTE* FindRenameHeader(BYTE* pView, DWORD cbContent)
{
    for (DWORD i = 0;
         cbContent >= WININIT_RENAME_HEADER_LEN && i <= cbContent - WININIT_RENAME_HEADER_LEN; i++)
    {
        if (memcmp(pView + i, s_szRenameHeader, WININIT_RENAME_HEADER_LEN) == 0)
            return pView + i;
    }
    return NULL;
}

DWORD InsertWinInitLine(BYTE* pView, DWORD cbOld, const char* pLine, DWORD cchLine)
{
    DWORD dwEnd = cbOld;
    BYTE* pInsert;
    BYTE* pHeader = FindRenameHeader(pView, cbOld);
    if (pHeader)
    {
        pInsert = pHeader + WININIT_RENAME_HEADER_LEN;
        memmove(pInsert + cchLine, pInsert, cbOld - (DWORD)(pInsert - pView));
    }
    else
    {
        memcpy(pView + dwEnd, s_szRenameHeader, WININIT_RENAME_HEADER_LEN);
        dwEnd += (DWORD)WININIT_RENAME_HEADER_LEN;
        pInsert = pView + dwEnd;
    }
    memcpy(pInsert, pLine, cchLine);
    return dwEnd + cchLine;
}

DWORD AppendWinInitLine(BYTE* pView, DWORD cbOld, const char* pLine, DWORD cchLine)
{
    BYTE* pHeader = FindRenameHeader(pView, cbOld);
    if (!pHeader)
        return InsertWinInitLine(pView, cbOld, pLine, cchLine);

    // The section runs to the next line that opens with "[", or to the end of the content.
    DWORD iEnd = (DWORD)(pHeader - pView) + (DWORD)WININIT_RENAME_HEADER_LEN;
    while (iEnd < cbOld && pView[iEnd] != '[')
    {
        while (iEnd < cbOld && pView[iEnd] != '\n')
            iEnd++;
        if (iEnd < cbOld)
            iEnd++;
    }
    // A last line without its line end would run into ours.
    DWORD cbClose = (iEnd == cbOld && cbOld > 0 && pView[cbOld - 1] != '\n') ? 2 : 0;
    memmove(pView + iEnd + cbClose + cchLine, pView + iEnd, cbOld - iEnd);
    if (cbClose)
        memcpy(pView + iEnd, "\r\n", 2);
    memcpy(pView + iEnd + cbClose, pLine, cchLine);
    return cbOld + cbClose + cchLine;
}
