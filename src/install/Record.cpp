// The shared-engine record: what the suite's products share about the one engine directory.
// Reads fall back to defaults and the 9999 sentinels; the results of writes are not looked at,
// as a refused write leaves the old value and the run goes on.
#include "install.h"
#include "../support/support.h"

#include <stdio.h>
#include <string.h>

static const char s_szEmpty[] = "";
// The products that hold a reference but did not fit ProductList, in its bar format and bound.
static const char s_szUnlisted[] = "UnlistedProducts";

// TRUE when szProductName is a whole entry of pszList: the name between two bars, whatever case
// the list was stored in.
static BOOL IsListEntry(const char* pszList, const char* szProductName)
{
    char szList[MAX_PATH];
    char szPattern[MAX_PATH + 2];
    int n = _snprintf(szPattern, sizeof(szPattern), "|%s|", szProductName);
    if (n < 0 || n >= (int)sizeof(szPattern))
        return FALSE; // longer than any list we can read
    lstrcpynA(szList, pszList, sizeof(szList));
    MbsUpper(szList);
    MbsUpper(szPattern);
    return MbsStr(szList, szPattern) != NULL;
}

BOOL IsProductInList(const char* szProductName, BOOL* pbHaveProductList)
{
    RegBaseKeyClass reg(HKEY_LOCAL_MACHINE);
    reg.SetBasePath(REG_SCANENGINE);
    char szList[MAX_PATH];
    reg.GetString(s_szEmpty, s_szEmpty, "ProductList", s_szEmpty, szList, sizeof(szList));
    WriteLog("Orvane: Check Name[%s] in [%s]\n", szProductName, szList);
    if (szList[0] == '\0')
    {
        WriteLog("Orvane: No ProductList in reg\n");
        *pbHaveProductList = 0;
    }
    else
    {
        *pbHaveProductList = 1;
        if (IsListEntry(szList, szProductName))
            return 1;
    }

    // A product that ProductList had no room for holds its reference all the same; it is
    // recorded in a value of our own, which other products never read.
    char szUnlisted[MAX_PATH];
    reg.GetString(s_szEmpty, s_szEmpty, s_szUnlisted, s_szEmpty, szUnlisted, sizeof(szUnlisted));
    if (szUnlisted[0] == '\0')
        return 0;
    WriteLog("Orvane: Check Name[%s] in UnlistedProducts[%s]\n", szProductName, szUnlisted);
    return IsListEntry(szUnlisted, szProductName);
}

void DetectFormerInstall(RUN_STATE* pRun)
{
    // The Path key marks an earlier installation; one we may not fully open counts as none.
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, REG_SCANENGINE_PATH, 0, KEY_ALL_ACCESS | PELMORA_KEY_VIEW,
                      &hKey) != ERROR_SUCCESS)
    {
        WriteLog("Orvane: bFormerInstalled [%s!]\n", "FALSE");
        return;
    }
    RegCloseKey(hKey);
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
    DWORD dwFormer = pReg->GetDWORD(s_szEmpty, s_szEmpty, "dwEngIDs", 0);
    WriteLog("Orvane: Former EngID [%d]\n", (int)dwFormer);
    g_dwEngIDs |= dwFormer;
    WriteLog("Orvane: dwEngID [%d]\n", (int)g_dwEngIDs);

    pReg->GetString(s_szEmpty, s_szEmpty, "ProductList", s_szEmpty, pRun->szProductList,
                    sizeof(pRun->szProductList));
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

// pszStored with the name and one bar appended, or a fresh |NAME| when it is empty, into szOut
// (MAX_PATH). FALSE when the result would pass the 259 characters every reader takes.
static BOOL AppendListEntry(char* szOut, const char* pszStored, const char* szProductName)
{
    int n = pszStored[0] != '\0' ? _snprintf(szOut, MAX_PATH, "%s%s|", pszStored, szProductName)
                                 : _snprintf(szOut, MAX_PATH, "|%s|", szProductName);
    if (n < 0 || n >= MAX_PATH)
        return FALSE;
    szOut[n] = '\0';
    return TRUE;
}

// TRUE when ProductList is stored as an expandable or multi-string text instead of REG_SZ.
static BOOL IsListStoredAsOtherText()
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, REG_SCANENGINE, 0, KEY_QUERY_VALUE | PELMORA_KEY_VIEW,
                      &hKey) != ERROR_SUCCESS)
        return FALSE;
    DWORD dwType = REG_NONE;
    LONG lResult = RegQueryValueExA(hKey, "ProductList", NULL, &dwType, NULL, NULL);
    RegCloseKey(hKey);
    return lResult == ERROR_SUCCESS && (dwType == REG_EXPAND_SZ || dwType == REG_MULTI_SZ);
}

// The list after adding this product: the stored text with the name and one bar appended, or a
// fresh |NAME| when there is none. FALSE, with the reason logged, when the result would not fit
// what every product reads back (259 characters; cutting it would drop other products' entries),
// or when a stored list is there but too long to have been read or not a string (a fresh list
// over it would lose the products it names).
static BOOL FormNewProductList(RUN_STATE* pRun, char* szNewList)
{
    if (!pRun->bHaveProductList)
    {
        char szProbe[MAX_PATH];
        LONG lProbe = pRun->pReg->GetString(s_szEmpty, s_szEmpty, "ProductList", s_szEmpty, szProbe,
                                            sizeof(szProbe));
        if (lProbe == ERROR_MORE_DATA)
        {
            WriteLog("Orvane: ProductList in reg is longer than %d characters, left as it is\n",
                     MAX_PATH - 1);
            return FALSE;
        }
        // A number names no product and is replaced.
        if (lProbe == ERROR_INVALID_DATATYPE && IsListStoredAsOtherText())
        {
            WriteLog("Orvane: ProductList in reg is not a string, left as it is\n");
            return FALSE;
        }
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
    LONG lResult = pRun->pReg->GetString(s_szEmpty, s_szEmpty, s_szUnlisted, s_szEmpty,
                                         pNew->szUnlisted, sizeof(pNew->szUnlisted));
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
        pRun->pReg->SetString(s_szEmpty, s_szEmpty, "ProductList", pNew->szText);
    else if (pNew->nPlace == RECORD_UNLISTED)
        pRun->pReg->SetString(s_szEmpty, s_szEmpty, s_szUnlisted, pNew->szText);
}

// Raises ReferenceCount by one over the count found at the start of the update.
static void AddReference(RUN_STATE* pRun)
{
    RegBaseKeyClass* pReg = pRun->pReg;
    DWORD dwNew = pRun->dwRefCount + 1;
    DWORD dwStored = pReg->GetDWORD(s_szEmpty, s_szEmpty, "ReferenceCount", RECORD_SENTINEL);
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
        pReg->SetString(s_szEmpty, s_szEmpty, "ProductList", szList);
    }
    // The count starts again at 1: products recorded beside an earlier list hold no reference
    // in it, and left there they would never be counted again.
    if (pReg->ValueExists(s_szEmpty, s_szUnlisted, NULL))
    {
        pReg->DeleteValue(REG_SCANENGINE, s_szUnlisted);
        WriteLog("Orvane: UnlistedProducts of an earlier installation removed\n");
    }
    pReg->SetDWORD(s_szEmpty, s_szEmpty, "Timeout", RECORD_TIMEOUT);
    WriteLog("Orvane: Set Timeout to 60\n");
}

void ReadUpdateStart(RUN_STATE* pRun)
{
    RegBaseKeyClass* pReg = pRun->pReg;
    pReg->SetBasePath(REG_SCANENGINE);
    DWORD dwCount = pReg->GetDWORD(s_szEmpty, s_szEmpty, "ReferenceCount", RECORD_SENTINEL);
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
    DWORD dwTimeout = pReg->GetDWORD(s_szEmpty, s_szEmpty, "Timeout", RECORD_SENTINEL);
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
