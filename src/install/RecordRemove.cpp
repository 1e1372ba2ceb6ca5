// The shared-engine record when a product releases the engine: its entry taken out of the list
// that holds it, its reference given back, and, after the last one, the record itself deleted.
// No write of the registry is a transaction, so every step is ordered so that a removal stopped
// between any two of them is finished exactly by the next run, whichever product starts it.
#include "install.h"
#include "ProductList.h"
#include "../support/support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char s_szEmpty[] = "";
// Pelmora's own value, present only while a release is under way: the product being released
// and, after a colon (never part of a name), the count it leaves; no colon when the count stays.
static const char s_szReleasing[] = "ReleasingProduct";
static const char* const s_apszLists[] = {LIST_PRODUCTLIST, LIST_UNLISTED};

// Reads a list value as stored, whatever its type. FALSE, logged, when it is there but cannot be
// read, too long to edit among other reasons: it is then left as it is.
static BOOL ReadListForRelease(RUN_STATE* pRun, const char* pszName, LIST_VALUE* pValue)
{
    LONG lResult = ReadListValue(pRun->pReg, pszName, pValue);
    if (lResult == ERROR_SUCCESS || lResult == ERROR_FILE_NOT_FOUND)
        return TRUE;
    WriteLog("Orvane: %s in reg can't be read [%d], left as it is\n", pszName, (int)lResult);
    return FALSE;
}

// TRUE when either list holds szProductName as a whole entry, in any case, whatever the value's
// string type.
static BOOL IsProductListed(RUN_STATE* pRun, const char* szProductName)
{
    for (const char* pszList : s_apszLists)
    {
        static LIST_VALUE s_Value;
        ReadListForRelease(pRun, pszList, &s_Value);
        const char* pszText = ListValueText(&s_Value);
        WriteLog("Orvane: Check Name[%s] in %s[%s]\n", szProductName, pszList, pszText);
        if (FindListEntry(pszText, szProductName))
            return TRUE;
    }
    return FALSE;
}

// Takes the product out of both lists, each written only when it changed.
static BOOL TakeOutOfLists(RUN_STATE* pRun, const char* szProductName)
{
    BOOL bTaken = FALSE;
    for (const char* pszList : s_apszLists)
    {
        static LIST_VALUE s_Value;
        if (ReadListForRelease(pRun, pszList, &s_Value) &&
            TakeListEntryOut(&s_Value, szProductName))
        {
            WriteListValue(pRun->pReg, pszList, &s_Value);
            WriteLog("Orvane: Remove ProdName[%s] from %s\n", szProductName, pszList);
            bTaken = TRUE;
        }
    }
    return bTaken;
}

BOOL IsRecordPresent()
{
    // The Path key marks an installation; one we may not fully open counts as none.
    RegClass regRoot(HKEY_LOCAL_MACHINE);
    return regRoot.CheckKey(REG_SCANENGINE_PATH, s_szEmpty, KEY_ALL_ACCESS) == ERROR_SUCCESS;
}

void FinishStoppedRelease(RUN_STATE* pRun)
{
    RegBaseKeyClass* pReg = pRun->pReg;
    pReg->SetBasePath(REG_SCANENGINE);
    char szMark[MAX_PATH];
    if (pReg->GetString(s_szEmpty, s_szEmpty, s_szReleasing, s_szEmpty, szMark, sizeof(szMark)) !=
            ERROR_SUCCESS ||
        szMark[0] == '\0')
        return;
    WriteLog("Orvane: finish the release of [%s] stopped before\n", szMark);
    char* pszColon = strrchr(szMark, ':');
    if (pszColon)
    {
        *pszColon = '\0';
        DWORD dwCount = (DWORD)strtoul(pszColon + 1, NULL, 10);
        pReg->SetDWORD(s_szEmpty, s_szEmpty, "ReferenceCount", dwCount);
        WriteLog("Orvane: set ref count to [%d]\n", (int)dwCount);
    }
    TakeOutOfLists(pRun, szMark);
    pReg->SetBasePath(REG_SCANENGINE);
    pReg->DeleteValue(s_szEmpty, s_szReleasing);
}

BOOL ReleaseProduct(RUN_STATE* pRun)
{
    RegBaseKeyClass* pReg = pRun->pReg;
    pReg->SetBasePath(REG_SCANENGINE);
    // An absent count, one that is not a number, and the sentinel itself are unknown, not 0.
    pRun->dwRefCount = RECORD_SENTINEL;
    pReg->ReadDWORD(s_szEmpty, s_szEmpty, "ReferenceCount", &pRun->dwRefCount);
    if (pRun->dwRefCount == RECORD_SENTINEL)
        WriteLog("Orvane: Invalid reference count [%d], keep it\n", RECORD_SENTINEL);
    else
        WriteLog("Orvane: Current ReferenceCount is [(%d)]\n", (int)pRun->dwRefCount);

    if (!IsProductListed(pRun, pRun->szProductName))
    {
        WriteLog("Orvane: ProdName[%s] not registered, nothing to release\n", pRun->szProductName);
        return FALSE;
    }

    DWORD dwNew = pRun->dwRefCount;
    BOOL bLower = pRun->bAddRefCount && dwNew != RECORD_SENTINEL && dwNew > 0;
    if (!pRun->bAddRefCount)
        WriteLog("Orvane: Don't change reference count because of /nr switch\n");
    if (bLower)
        dwNew--;

    // The intent first: a run stopped after it is finished by the next run, which writes the same
    // count and list again and neither counts the product twice nor loses its reference.
    char szMark[MAX_PATH + 16];
    if (bLower)
        _snprintf(szMark, sizeof(szMark), "%s:%lu", pRun->szProductName, (unsigned long)dwNew);
    else
        _snprintf(szMark, sizeof(szMark), "%s", pRun->szProductName);
    szMark[sizeof(szMark) - 1] = '\0';
    pReg->SetString(s_szEmpty, s_szEmpty, s_szReleasing, szMark);
    if (bLower)
    {
        WriteLog("Orvane: the current reference count in the registry is [%d] and going to be "
                 "[%d]\n",
                 (int)pRun->dwRefCount, (int)dwNew);
        pReg->SetDWORD(s_szEmpty, s_szEmpty, "ReferenceCount", dwNew);
        WriteLog("Orvane: set ref count to [%d]\n", (int)dwNew);
        pRun->dwRefCount = dwNew;
    }
    TakeOutOfLists(pRun, pRun->szProductName);
    pReg->SetBasePath(REG_SCANENGINE);
    pReg->DeleteValue(s_szEmpty, s_szReleasing);
    return TRUE;
}

BOOL IsLastReferenceGone(RUN_STATE* pRun)
{
    if (pRun->dwRefCount != 0)
        return FALSE;
    for (const char* pszList : s_apszLists)
    {
        static LIST_VALUE s_Value;
        if (!ReadListForRelease(pRun, pszList, &s_Value) ||
            ListNamesProduct(ListValueText(&s_Value)))
            return FALSE;
    }
    return TRUE;
}

// Counts the values and subkeys of a key; FALSE when it cannot be opened.
static BOOL CountKeyContent(const char* pszKey, DWORD* pcValues, DWORD* pcSubKeys)
{
    *pcValues = 0;
    *pcSubKeys = 0;
    RegClass regRoot(HKEY_LOCAL_MACHINE);
    return regRoot.QueryKeyInfo(pszKey, s_szEmpty, NULL, NULL, pcSubKeys, NULL, NULL, pcValues,
                                NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
}

// Deletes the key pszName below pszParent when it holds no more than cKeep values and no
// subkey (the caller knows which value that is); a key with anything else in it stays.
static void DeleteKeyIfEmpty(RUN_STATE* pRun, const char* pszParent, const char* pszName,
                             DWORD cKeep)
{
    char szKey[MAX_PATH];
    _snprintf(szKey, sizeof(szKey), "%s\\%s", pszParent, pszName);
    szKey[sizeof(szKey) - 1] = '\0';
    DWORD cValues, cSubKeys;
    if (!CountKeyContent(szKey, &cValues, &cSubKeys))
        return;
    if (cValues > cKeep || cSubKeys != 0)
    {
        WriteLog("Orvane: [%s] holds other data, kept\n", szKey);
        return;
    }
    pRun->pReg->SetBasePath(pszParent);
    if (pRun->pReg->DeleteKeyTree(s_szEmpty, pszName) == ERROR_SUCCESS)
        WriteLog("Orvane: Remove key [%s]\n", szKey);
}

// The end of a record deletion: ReferenceCount, the key that holds it and SOFTWARE\Quillmark.
// The count goes with its key in one deletion where nothing else is left, so no state is ever
// left in which the key is there without the count that marks it as ours.
static void DeleteRecordTail(RUN_STATE* pRun)
{
    RegClass regRoot(HKEY_LOCAL_MACHINE);
    DWORD cValues, cSubKeys;
    if (CountKeyContent(REG_SCANENGINE, &cValues, &cSubKeys))
    {
        if (cValues <= 1 && cSubKeys == 0)
            DeleteKeyIfEmpty(pRun, REG_QUILLMARK, "ScanEngine", 1);
        else if (regRoot.DeleteValue(REG_SCANENGINE, "ReferenceCount") == ERROR_SUCCESS)
            WriteLog("Orvane: Remove ReferenceCount\n");
    }
    DeleteKeyIfEmpty(pRun, "SOFTWARE", "Quillmark", 0);
}

void DeleteRecord(RUN_STATE* pRun)
{
    RegClass regRoot(HKEY_LOCAL_MACHINE);
    // The count stays to the end: with the Path key still there, a record of count 0 and no
    // products is what tells the next run to finish this removal.
    static const char* const s_apszValues[] = {"ReleasingProduct", "ProductList",
                                               "UnlistedProducts", "dwEngIDs", "Timeout"};
    for (const char* pszValue : s_apszValues)
    {
        if (regRoot.DeleteValue(REG_SCANENGINE, pszValue) == ERROR_SUCCESS)
            WriteLog("Orvane: Remove %s\n", pszValue);
    }
    static const char* const s_apszPathValues[] = {"Engine", "Logs", "Incoming"};
    for (const char* pszValue : s_apszPathValues)
    {
        if (regRoot.DeleteValue(REG_SCANENGINE_PATH, pszValue) == ERROR_SUCCESS)
            WriteLog("Orvane: Remove %s\n", pszValue);
    }
    DeleteKeyIfEmpty(pRun, REG_SCANENGINE, "Path", 0);
    DeleteRecordTail(pRun);
}

void FinishRecordTail(RUN_STATE* pRun)
{
    // What a removal stopped after the Path key leaves: the count of 0 with no product and no
    // r80 version, or an empty SOFTWARE\Quillmark. Any other content is not ours to touch.
    DWORD cValues, cSubKeys;
    if (CountKeyContent(REG_SCANENGINE, &cValues, &cSubKeys))
    {
        RegBaseKeyClass* pReg = pRun->pReg;
        pReg->SetBasePath(REG_SCANENGINE);
        char szVersion[64];
        pReg->GetString(s_szEmpty, s_szEmpty, "version", s_szEmpty, szVersion, sizeof(szVersion));
        DWORD dwCount = RECORD_SENTINEL;
        pReg->ReadDWORD(s_szEmpty, s_szEmpty, "ReferenceCount", &dwCount);
        if (dwCount != 0 || szVersion[0] != '\0' ||
            pReg->ValueExists(s_szEmpty, "ProductList", NULL) ||
            pReg->ValueExists(s_szEmpty, "UnlistedProducts", NULL))
            return;
        WriteLog("Orvane: finish the removal of the record stopped before\n");
    }
    DeleteRecordTail(pRun);
}
