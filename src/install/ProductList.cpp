// The product lists: reading them as stored, finding, adding and taking out a whole entry.
#include "ProductList.h"
#include "install.h"
#include "../support/support.h"

#include <stdio.h>
#include <string.h>

static const char s_szEmpty[] = "";

LONG ReadListValue(RegBaseKeyClass* pReg, const char* pszName, LIST_VALUE* pValue)
{
    ZeroMemory(pValue, sizeof(*pValue));
    pReg->SetBasePath(REG_SCANENGINE);
    DWORD cb = LIST_VALUE_SIZE;
    pValue->lRead =
        pReg->QueryValue(s_szEmpty, s_szEmpty, pszName, &pValue->dwType, pValue->ab, &cb);
    if (pValue->lRead == ERROR_SUCCESS)
        pValue->cb = cb;
    else
        ZeroMemory(pValue->ab, sizeof(pValue->ab));
    return pValue->lRead;
}

LONG WriteListValue(RegBaseKeyClass* pReg, const char* pszName, const LIST_VALUE* pValue)
{
    pReg->SetBasePath(REG_SCANENGINE);
    return pReg->SetValue(s_szEmpty, s_szEmpty, pszName, pValue->dwType, pValue->ab, pValue->cb);
}

static BOOL IsStringType(DWORD dwType)
{
    return dwType == REG_SZ || dwType == REG_EXPAND_SZ || dwType == REG_MULTI_SZ;
}

const char* ListValueText(const LIST_VALUE* pValue)
{
    if (pValue->lRead != ERROR_SUCCESS || !IsStringType(pValue->dwType))
        return s_szEmpty;
    return (const char*)pValue->ab;
}

LONG ListValueBoundText(const LIST_VALUE* pValue, const char** ppszText)
{
    *ppszText = s_szEmpty;
    if (pValue->lRead != ERROR_SUCCESS)
        return pValue->lRead;
    // The bytes of a reader's buffer: a value stored without its NUL needs one more.
    if (pValue->cb > MAX_PATH || (pValue->cb == MAX_PATH && pValue->ab[MAX_PATH - 1] != '\0'))
        return ERROR_MORE_DATA;
    if (!IsStringType(pValue->dwType))
        return ERROR_INVALID_DATATYPE;
    *ppszText = (const char*)pValue->ab;
    return ERROR_SUCCESS;
}

// "|NAME|" upper-cased into szPattern (MAX_PATH + 2 bytes); its length, or -1 when the name is
// longer than any list.
static int FormEntryPattern(char* szPattern, const char* szProductName)
{
    int n = _snprintf(szPattern, MAX_PATH + 2, "|%s|", szProductName);
    if (n < 0 || n >= MAX_PATH + 2)
        return -1;
    MbsUpper(szPattern);
    return n;
}

BOOL FindListEntry(const char* pszText, const char* szProductName)
{
    char szPattern[MAX_PATH + 2];
    if (FormEntryPattern(szPattern, szProductName) < 0)
        return FALSE;
    char szUpper[LIST_VALUE_SIZE + 1];
    lstrcpynA(szUpper, pszText, sizeof(szUpper));
    MbsUpper(szUpper);
    return MbsStr(szUpper, szPattern) != NULL;
}

BOOL ListNamesProduct(const char* pszText)
{
    for (; *pszText; pszText++)
    {
        if (*pszText != '|')
            return TRUE;
    }
    return FALSE;
}

BOOL AppendListEntry(char* szOut, const char* pszStored, const char* szProductName)
{
    int n = pszStored[0] != '\0' ? _snprintf(szOut, MAX_PATH, "%s%s|", pszStored, szProductName)
                                 : _snprintf(szOut, MAX_PATH, "|%s|", szProductName);
    if (n < 0 || n >= MAX_PATH)
        return FALSE;
    szOut[n] = '\0';
    return TRUE;
}

BOOL TakeListEntryOut(LIST_VALUE* pValue, const char* szProductName)
{
    if (ListValueText(pValue) == s_szEmpty)
        return FALSE;
    char szPattern[MAX_PATH + 2];
    int n = FormEntryPattern(szPattern, szProductName);
    if (n < 0)
        return FALSE;
    char* pszText = (char*)pValue->ab;
    BOOL bTaken = FALSE;
    for (;;)
    {
        char szUpper[LIST_VALUE_SIZE + 1];
        lstrcpynA(szUpper, pszText, sizeof(szUpper));
        MbsUpper(szUpper);
        const char* pszAt = MbsStr(szUpper, szPattern);
        if (!pszAt)
            break;
        // Upper-casing keeps every length, so the place is the same in the stored text. The
        // leading bar stays: it closes the entry before.
        char* pszCut = pszText + (pszAt - szUpper) + 1;
        size_t cchCut = (size_t)n - 1;
        size_t cbTail = pValue->cb - (size_t)(pszCut + cchCut - pszText);
        memmove(pszCut, pszCut + cchCut, cbTail);
        pValue->cb -= (DWORD)cchCut;
        ZeroMemory(pValue->ab + pValue->cb, sizeof(pValue->ab) - pValue->cb);
        bTaken = TRUE;
    }
    // Nothing but bars left: the list holds no product and is written empty.
    if (bTaken && !ListNamesProduct(pszText) && strlen(pszText) + 1 >= pValue->cb)
    {
        pValue->ab[0] = '\0';
        pValue->cb = pValue->dwType == REG_MULTI_SZ ? 2 : 1;
        pValue->ab[1] = '\0';
    }
    return bTaken;
}
