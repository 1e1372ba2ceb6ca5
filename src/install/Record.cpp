// The shared-engine record: what the suite's products share about the one engine directory.
// Reads fall back to defaults and the 9999 sentinels; the results of writes are not looked at,
// as a refused write leaves the old value and the run goes on.
#include "install.h"
#include "ProductList.h"
#include "../support/support.h"

#include <stdio.h>
#include <string.h>

static const char s_szEmpty[] = "";

BOOL IsProductInList(const char* szProductName, BOOL* pbHaveProductList)
{
    RegBaseKeyClass reg(HKEY_LOCAL_MACHINE);
    LIST_VALUE value;
    const char* pszList;
    ReadListValue(&reg, LIST_PRODUCTLIST, &value);
    ListValueBoundText(&value, &pszList);
    WriteLog("Orvane: Check Name[%s] in [%s]\n", szProductName, pszList);
    if (pszList[0] == '\0')
    {
        WriteLog("Orvane: No ProductList in reg\n");
        *pbHaveProductList = 0;
    }
    else
    {
        *pbHaveProductList = 1;
        if (FindListEntry(pszList, szProductName))
            return 1;
    }

    // A product that ProductList had no room for holds its reference all the same; it is
    // recorded in a value of our own, which other products never read.
    const char* pszUnlisted;
    ReadListValue(&reg, LIST_UNLISTED, &value);
    ListValueBoundText(&value, &pszUnlisted);
    if (pszUnlisted[0] == '\0')
        return 0;
    WriteLog("Orvane: Check Name[%s] in UnlistedProducts[%s]\n", szProductName, pszUnlisted);
    return FindListEntry(pszUnlisted, szProductName);
}

void DetectFormerInstall(RUN_STATE* pRun)
{
    // The Path key marks an earlier installation; one we may not fully open counts as none.
    if (!IsRecordPresent())
    {
        WriteLog("Orvane: bFormerInstalled [%s!]\n", "FALSE");
        return;
    }
    pRun->bFormerInstalled = 1;

    pRun->pReg->SetBasePath(REG_SCANENGINE);
    pRun->pReg->GetString(s_szEmpty, s_szEmpty, "version", s_szEmpty, pRun->szVersion,
                          sizeof(pRun->szVersion));
    WriteLog("Retrieved ScanEngine version %s\n", pRun->szVersion);
    if (pRun->szVersion[0] != '\0')
    {
        WriteLog("Pelmora is installing on top of Norvale Vigil r80\n");
        pRun->bInstalledOnR80 = 1;
    }
    WriteLog("Orvane: bFormerInstalled [%s!]\n", "TRUE");
}

void ReadFormerRecord(RUN_STATE* pRun)
{
    RegBaseKeyClass* pReg = pRun->pReg;
    pReg->SetBasePath(REG_SCANENGINE);
    // An update never drops an engine that is already installed.
    DWORD dwFormer = 0;
    pReg->ReadDWORD(s_szEmpty, s_szEmpty, "dwEngIDs", &dwFormer);
    WriteLog("Orvane: Former EngID [%d]\n", (int)dwFormer);
    g_dwEngIDs |= dwFormer;
    WriteLog("Orvane: dwEngID [%d]\n", (int)g_dwEngIDs);

    // Read as the membership test reads it, whatever string type it was stored as.
    LIST_VALUE value;
    const char* pszList;
    ReadListValue(pReg, LIST_PRODUCTLIST, &value);
    ListValueBoundText(&value, &pszList);
    lstrcpynA(pRun->szProductList, pszList, sizeof(pRun->szProductList));
    if (pRun->szProductList[0] != '\0')
        WriteLog("Orvane: Product list from reg [%s]\n", pRun->szProductList);
    else
        WriteLog("Orvane: No Product list from reg\n");
}

void WriteEngineValue(RUN_STATE* pRun)
{
    pRun->pReg->SetBasePath(REG_SCANENGINE_PATH);
    pRun->pReg->SetString(s_szEmpty, s_szEmpty, "Engine", pRun->szEngPath);
}

void WriteDirectoryValue(RUN_STATE* pRun, const char* pszValueName, const char* pszDir)
{
    pRun->pReg->SetBasePath(REG_SCANENGINE_PATH);
    pRun->pReg->SetString(s_szEmpty, s_szEmpty, pszValueName, pszDir);
}

// The list after adding this product: the stored text with the name and one bar appended, or a
// fresh |NAME| when there is none. FALSE, with the reason logged, when the result would not fit
// what every product reads back (259 characters; cutting it would drop other products' entries),
// or when a stored list is there but too long to have been read, or stored as an expandable or
// multi-string text, which the update leaves as it is (a fresh list over it would lose the
// products it names; a REG_SZ in its place would change what its writer reads back).
static BOOL FormNewProductList(RUN_STATE* pRun, char* szNewList)
{
    LIST_VALUE value;
    const char* pszStored;
    ReadListValue(pRun->pReg, LIST_PRODUCTLIST, &value);
    if (ListValueBoundText(&value, &pszStored) == ERROR_MORE_DATA)
    {
        WriteLog("Orvane: ProductList in reg is longer than %d characters, left as it is\n",
                 MAX_PATH - 1);
        return FALSE;
    }
    // A number names no product and is replaced.
    if (value.lRead == ERROR_SUCCESS &&
        (value.dwType == REG_EXPAND_SZ || value.dwType == REG_MULTI_SZ))
    {
        WriteLog("Orvane: ProductList in reg is not a string, left as it is\n");
        return FALSE;
    }
    if (!AppendListEntry(szNewList, pRun->bHaveProductList ? pRun->szProductList : s_szEmpty,
                         pRun->szProductName))
    {
        WriteLog("Orvane: ProductList would grow past %d characters, ProdName[%s] not added\n",
                 MAX_PATH - 1, pRun->szProductName);
        return FALSE;
    }
    return TRUE;
}

// Where a product that is not yet recorded goes: ProductList, or, when that cannot take it,
// UnlistedProducts. A product recorded nowhere must not raise the count, or every later run of
// it would raise it again.
enum
{
    RECORD_IN_LIST,
    RECORD_UNLISTED,
    RECORD_NOWHERE,
};

struct NEW_RECORD
{
    int nPlace;
    char szText[MAX_PATH];     // the new ProductList or UnlistedProducts text
    char szUnlisted[MAX_PATH]; // UnlistedProducts as stored, for the log
};

static void FormNewRecord(RUN_STATE* pRun, NEW_RECORD* pNew)
{
    pNew->nPlace = RECORD_IN_LIST;
    pNew->szUnlisted[0] = '\0';
    if (FormNewProductList(pRun, pNew->szText))
        return;

    pNew->nPlace = RECORD_NOWHERE;
    LIST_VALUE value;
    const char* pszUnlisted;
    ReadListValue(pRun->pReg, LIST_UNLISTED, &value);
    LONG lResult = ListValueBoundText(&value, &pszUnlisted);
    // Our own value is written as REG_SZ only.
    if (lResult == ERROR_SUCCESS && value.dwType != REG_SZ)
        lResult = ERROR_INVALID_DATATYPE;
    lstrcpynA(pNew->szUnlisted, pszUnlisted, sizeof(pNew->szUnlisted));
    if (lResult != ERROR_SUCCESS && lResult != ERROR_FILE_NOT_FOUND)
    {
        // Not written by us as it stands; a fresh value over it could drop counted products.
        WriteLog("Orvane: UnlistedProducts in reg can't be read [%d], ProdName[%s] not added\n",
                 (int)lResult, pRun->szProductName);
        pNew->szUnlisted[0] = '\0';
        return;
    }
    if (!AppendListEntry(pNew->szText, pNew->szUnlisted, pRun->szProductName))
    {
        WriteLog("Orvane: UnlistedProducts would grow past %d characters, ProdName[%s] not "
                 "added\n",
                 MAX_PATH - 1, pRun->szProductName);
        return;
    }
    pNew->nPlace = RECORD_UNLISTED;
}

// Writes the new record text to the value FormNewRecord chose.
static void WriteNewRecord(RUN_STATE* pRun, const NEW_RECORD* pNew)
{
    if (pNew->nPlace == RECORD_IN_LIST)
        pRun->pReg->SetString(s_szEmpty, s_szEmpty, LIST_PRODUCTLIST, pNew->szText);
    else if (pNew->nPlace == RECORD_UNLISTED)
        pRun->pReg->SetString(s_szEmpty, s_szEmpty, LIST_UNLISTED, pNew->szText);
}

// Raises ReferenceCount by one over the count found at the start of the update.
static void AddReference(RUN_STATE* pRun)
{
    RegBaseKeyClass* pReg = pRun->pReg;
    DWORD dwNew = pRun->dwRefCount + 1;
    DWORD dwStored = RECORD_SENTINEL;
    pReg->ReadDWORD(s_szEmpty, s_szEmpty, "ReferenceCount", &dwStored);
    WriteLog("Orvane: the current reference count in the registry is [%d] and going to be [%d]\n",
             (int)dwStored, (int)dwNew);
    pReg->SetDWORD(s_szEmpty, s_szEmpty, "ReferenceCount", dwNew);
    WriteLog("Orvane: set ref count to [%d]\n", (int)dwNew);
}

void WriteFirstInstallRecord(RUN_STATE* pRun)
{
    RegBaseKeyClass* pReg = pRun->pReg;
    pReg->SetBasePath(REG_SCANENGINE);
    // A first install holds the only reference, whatever /NR said.
    pReg->SetDWORD(s_szEmpty, s_szEmpty, "ReferenceCount", 1);
    pReg->SetDWORD(s_szEmpty, s_szEmpty, "dwEngIDs", g_dwEngIDs);
    char szList[MAX_PATH];
    if (!AppendListEntry(szList, s_szEmpty, pRun->szProductName))
    {
        WriteLog("Orvane: ProductList would grow past %d characters, ProdName[%s] not added\n",
                 MAX_PATH - 1, pRun->szProductName);
    }
    else
    {
        MbsUpper(szList);
        pReg->SetString(s_szEmpty, s_szEmpty, LIST_PRODUCTLIST, szList);
    }
    // The count starts again at 1: products recorded beside an earlier list hold no reference
    // in it, and left there they would never be counted again.
    if (pReg->ValueExists(s_szEmpty, LIST_UNLISTED, NULL))
    {
        pReg->DeleteValue(s_szEmpty, LIST_UNLISTED);
        WriteLog("Orvane: UnlistedProducts of an earlier installation removed\n");
    }
    pReg->SetDWORD(s_szEmpty, s_szEmpty, "Timeout", RECORD_TIMEOUT);
    WriteLog("Orvane: Set Timeout to 60\n");
}

void ReadUpdateStart(RUN_STATE* pRun)
{
    RegBaseKeyClass* pReg = pRun->pReg;
    pReg->SetBasePath(REG_SCANENGINE);
    DWORD dwCount = RECORD_SENTINEL;
    pReg->ReadDWORD(s_szEmpty, s_szEmpty, "ReferenceCount", &dwCount);
    if (dwCount == RECORD_SENTINEL)
    {
        WriteLog("Orvane: Invalid reference count [%d], but still continue, set the ref count "
                 "to 0\n",
                 RECORD_SENTINEL);
        dwCount = 0;
    }
    pRun->dwRefCount = dwCount;
    WriteLog("Orvane: Current ReferenceCount is [(%d)]\n", (int)dwCount);

    // Only a missing time-out is written; any stored value, 0 included, is the suite's own.
    DWORD dwTimeout = RECORD_SENTINEL;
    pReg->ReadDWORD(s_szEmpty, s_szEmpty, "Timeout", &dwTimeout);
    WriteLog("Orvane: Timeout in reg is [(%d)]\n", (int)dwTimeout);
    if (dwTimeout == RECORD_SENTINEL)
        pReg->SetDWORD(s_szEmpty, s_szEmpty, "Timeout", RECORD_TIMEOUT);
}

void RegisterProductOnUpdate(RUN_STATE* pRun)
{
    pRun->pReg->SetBasePath(REG_SCANENGINE);
    BOOL bInList = IsProductInList(pRun->szProductName, &pRun->bHaveProductList);
    NEW_RECORD rec;
    if (!bInList)
        FormNewRecord(pRun, &rec);

    if (pRun->bAddRefCount)
    {
        WriteLog("Orvane: Add ref count!!\n");
        if (bInList)
        {
            WriteLog("Orvane: ProductName[%s] found, keep ref count as [%d]\n", pRun->szProductName,
                     (int)pRun->dwRefCount);
            return;
        }
        if (rec.nPlace == RECORD_NOWHERE)
        {
            WriteLog("Orvane: ProdName[%s] can be recorded nowhere, keep ref count as [%d]\n",
                     pRun->szProductName, (int)pRun->dwRefCount);
            return;
        }
        // The count first: a run stopped in between leaves it one too high, never too low.
        AddReference(pRun);
        WriteNewRecord(pRun, &rec);
        if (rec.nPlace == RECORD_IN_LIST)
            WriteLog("Orvane: Add ProdName[%s] to ProductList[%s]\n", pRun->szProductName,
                     pRun->szProductList);
        else
            WriteLog("Orvane: Add ProdName[%s] to UnlistedProducts[%s]\n", pRun->szProductName,
                     rec.szUnlisted);
        return;
    }

    WriteLog("Orvane: Don't change reference count because of /nr switch\n");
    if (bInList || rec.nPlace == RECORD_NOWHERE)
        return;
    WriteNewRecord(pRun, &rec);
    if (rec.nPlace == RECORD_IN_LIST)
        WriteLog("Orvane: Only add ProdName[%s] to ProductList [%s]\n", pRun->szProductName,
                 pRun->szProductList);
    else
        WriteLog("Orvane: Only add ProdName[%s] to UnlistedProducts [%s]\n", pRun->szProductName,
                 rec.szUnlisted);
}

void RegisterProductOnR80(RUN_STATE* pRun)
{
    // An r80 installation counts every product that registers, /NR or not.
    pRun->pReg->SetBasePath(REG_SCANENGINE);
    BOOL bInList = IsProductInList(pRun->szProductName, &pRun->bHaveProductList);
    if (bInList)
        return;
    NEW_RECORD rec;
    FormNewRecord(pRun, &rec);
    if (rec.nPlace == RECORD_NOWHERE)
    {
        WriteLog("Orvane: ProdName[%s] can be recorded nowhere, keep ref count as [%d]\n",
                 pRun->szProductName, (int)pRun->dwRefCount);
        return;
    }
    AddReference(pRun);
    WriteNewRecord(pRun, &rec);
    if (rec.nPlace == RECORD_UNLISTED)
        WriteLog("Orvane: Add ProdName[%s] to UnlistedProducts[%s]\n", pRun->szProductName,
                 rec.szUnlisted);
}

void WriteEngineSet(RUN_STATE* pRun)
{
    pRun->pReg->SetBasePath(REG_SCANENGINE);
    pRun->pReg->SetDWORD(s_szEmpty, s_szEmpty, "dwEngIDs", g_dwEngIDs);
}
