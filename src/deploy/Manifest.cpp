// The manifest walk and the whole-section decision. FileList.ini is read only through the
// platform's profile reader, which gives it its meaning (letter case, blanks, comments, repeated
// keys, the bound of the key list). Outside a run every walk reads it anew; during a run the
// reader's answers for a section are kept from its first walk, since an update walks each
// section up to four times and every answer of the reader costs an open of the file.
#include "deploy.h"

#include "support/support.h"

#include <string.h>

char g_szFileList[MAX_PATH] = "";

static const char* const s_apszSectionNames[] = {"FILES", "OSKA", "BRIN"};
static const char* const s_apszSectionLabels[] = {"Common Section", "OSKA", "BRIN"};

// A default that no manifest value can be: tells a key that is not in the section (a name the
// key-list limit cut in two) from a key whose value is empty.
static const char s_szNoKey[] = "\x01";

const char* GetSectionName(int nSection)
{
    return (nSection >= 0 && nSection <= 2) ? s_apszSectionNames[nSection] : NULL;
}

const char* GetSectionLabel(int nSection)
{
    return (nSection >= 0 && nSection <= 2) ? s_apszSectionLabels[nSection] : NULL;
}

BOOL Is9xOnlyFile(const char* pszName)
{
    static const char* const s_apszNames[] = {"Morcmd.exe", "Morcmd.dat", "MorSig.vxd",
                                              "MorSigV.vxd", "Tarn_dyn.vxd"};
    for (const char* pszOnly : s_apszNames)
        if (strcmp(pszName, pszOnly) == 0)
            return TRUE;
    return FALSE;
}

// A section can list at most this many names: each takes a character and its NUL within the
// list of MAX_PATH, which ends with an empty name.
#define MAX_SECTION_KEYS ((MAX_PATH - 2) / 2 + 1)

// The reader's answers for one section, as the first walk of the run received them.
struct KEPT_SECTION
{
    BOOL bKeys;
    char szKeys[MAX_PATH];
    BOOL abValue[MAX_SECTION_KEYS];
    DWORD acchValue[MAX_SECTION_KEYS];
    char aszValue[MAX_SECTION_KEYS][MAX_PATH];
};

static BOOL s_bKeepSections = FALSE;
DWORD g_dwManifestValueReads = 0;
static KEPT_SECTION s_aKept[3];

void KeepManifestSections(BOOL bKeep)
{
    s_bKeepSections = bKeep;
    for (KEPT_SECTION& kept : s_aKept)
    {
        kept.bKeys = FALSE;
        ZeroMemory(kept.abValue, sizeof(kept.abValue));
    }
}

// The platform's section reader lists a section's entries as "name=value" in one call. The
// value the profile-string reader gives for a name can be told from that list where nothing in
// the section asks for a finer rule of the format: then it is the value of the first entry whose
// name is the same but for the letter case of ASCII letters. A section with any entry that is
// not plain (blanks or control characters around or in a name, a name that is not ASCII, a
// comment, a line without "=", an empty name, a value that begins with a quote, has blanks at
// either end or would not fit the value buffer) is read name by name, as the reader answers
// for such entries by rules of its own.
// The largest buffer the section reader takes on Windows 95.
static const DWORD s_cbSectionRead = 32767;

static BOOL IsPlainName(const char* pName, size_t cchName)
{
    if (cchName == 0 || pName[0] == ';')
        return FALSE;
    for (size_t i = 0; i < cchName; i++)
        if ((unsigned char)pName[i] <= ' ' || (unsigned char)pName[i] >= 0x7F)
            return FALSE;
    return TRUE;
}

static BOOL IsPlainValue(const char* pszValue)
{
    size_t cch = strlen(pszValue);
    if (cch >= MAX_PATH - 1)
        return FALSE;
    if (cch > 0 && (pszValue[0] == '"' || pszValue[0] == '\'' || pszValue[0] == ' ' ||
                    pszValue[cch - 1] == ' '))
        return FALSE;
    for (size_t i = 0; i < cch; i++)
        if ((unsigned char)pszValue[i] < ' ' || (unsigned char)pszValue[i] == 0x7F)
            return FALSE;
    return TRUE;
}

static BOOL SameNameIgnoringAsciiCase(const char* pA, size_t cchA, const char* pszB)
{
    size_t i = 0;
    for (; i < cchA && pszB[i]; i++)
    {
        char a = pA[i], b = pszB[i];
        if (a >= 'a' && a <= 'z')
            a = (char)(a - 'a' + 'A');
        if (b >= 'a' && b <= 'z')
            b = (char)(b - 'a' + 'A');
        if (a != b)
            return FALSE;
    }
    return i == cchA && pszB[i] == '\0';
}

// Fills the kept values of the names of pKept->szKeys from one read of the whole section, when
// the section is plain; a name that no entry answers is left to the reader.
static void ReadPlainSection(int nSection, KEPT_SECTION* pKept)
{
    char* pBuf = (char*)HeapAlloc(GetProcessHeap(), 0, s_cbSectionRead);
    if (!pBuf)
        return;
    DWORD cch =
        GetPrivateProfileSectionA(GetSectionName(nSection), pBuf, s_cbSectionRead, g_szFileList);
    // A list that filled the buffer was cut.
    BOOL bPlain = cch + 2 < s_cbSectionRead;
    for (const char* p = pBuf; bPlain && *p; p += strlen(p) + 1)
    {
        const char* pEq = strchr(p, '=');
        bPlain = pEq && IsPlainName(p, (size_t)(pEq - p)) && IsPlainValue(pEq + 1);
    }
    if (bPlain)
    {
        int iKey = 0;
        for (const char* pszKey = pKept->szKeys; *pszKey && iKey < MAX_SECTION_KEYS;
             pszKey += strlen(pszKey) + 1, iKey++)
        {
            for (const char* p = pBuf; *p; p += strlen(p) + 1)
            {
                const char* pEq = strchr(p, '=');
                if (!SameNameIgnoringAsciiCase(p, (size_t)(pEq - p), pszKey))
                    continue;
                lstrcpynA(pKept->aszValue[iKey], pEq + 1, MAX_PATH);
                pKept->acchValue[iKey] = (DWORD)strlen(pKept->aszValue[iKey]);
                pKept->abValue[iKey] = TRUE;
                break;
            }
        }
    }
    HeapFree(GetProcessHeap(), 0, pBuf);
}

// The key list of the section into szKeys (MAX_PATH), always ending in an empty name.
static void ReadKeyList(int nSection, char* szKeys)
{
    KEPT_SECTION* pKept = s_bKeepSections ? &s_aKept[nSection] : NULL;
    if (pKept && pKept->bKeys)
    {
        memcpy(szKeys, pKept->szKeys, MAX_PATH);
        return;
    }
    // One call, one list of MAX_PATH: a section beyond it is walked as far as its names arrived.
    DWORD cchKeys = GetPrivateProfileStringA(GetSectionName(nSection), NULL, "", szKeys, MAX_PATH,
                                             g_szFileList);
    // A cut list ends in a single NUL on some platforms: the walk stops at an empty name, so
    // one is put after the last name, within the buffer.
    if (cchKeys > MAX_PATH - 2)
        cchKeys = MAX_PATH - 2;
    szKeys[cchKeys] = '\0';
    szKeys[cchKeys + 1] = '\0';
    if (pKept)
    {
        memcpy(pKept->szKeys, szKeys, MAX_PATH);
        pKept->bKeys = TRUE;
        if (szKeys[0])
            ReadPlainSection(nSection, pKept);
    }
}

// The value of the iKey-th name of the list, pszKey, into szValue (MAX_PATH), with pszDefault
// for a key the section does not hold; returns its length as the reader does.
static DWORD ReadValue(int nSection, int iKey, const char* pszKey, const char* pszDefault,
                       char* szValue)
{
    KEPT_SECTION* pKept = s_bKeepSections && iKey < MAX_SECTION_KEYS ? &s_aKept[nSection] : NULL;
    if (pKept && pKept->abValue[iKey])
    {
        memcpy(szValue, pKept->aszValue[iKey], MAX_PATH);
        return pKept->acchValue[iKey];
    }
    DWORD cchValue = GetPrivateProfileStringA(GetSectionName(nSection), pszKey, pszDefault, szValue,
                                              MAX_PATH, g_szFileList);
    g_dwManifestValueReads++;
    if (pKept)
    {
        memcpy(pKept->aszValue[iKey], szValue, MAX_PATH);
        pKept->acchValue[iKey] = cchValue;
        pKept->abValue[iKey] = TRUE;
    }
    return cchValue;
}

// What a walk makes of the key pszKey, the iKey-th name of the section's list: the entry's name
// and paths in *pEntry, and whether the walk hands it on.
static int JudgeEntry(int nSection, int iKey, const char* pszKey, const char* pszPackage,
                      const char* pszEngPath, MANIFEST_ENTRY* pEntry)
{
    DWORD cchValue = ReadValue(nSection, iKey, pszKey, s_szNoKey, pEntry->szName);
    if (cchValue == 0 || strcmp(pEntry->szName, s_szNoKey) == 0)
    {
        pEntry->szName[0] = '\0';
        return ENTRY_NO_FILE;
    }
    if (!IsContainedFileName(pEntry->szName))
        return ENTRY_NOT_CONTAINED;
    // The staged name is the longest of the three paths the passes use.
    if (!JoinEntryPath(pEntry->szSource, pszPackage, pEntry->szName, NULL) ||
        !JoinEntryPath(pEntry->szTarget, pszEngPath, pEntry->szName, NULL) ||
        !JoinEntryPath(pEntry->szStaged, pszEngPath, pEntry->szName, "000"))
        return ENTRY_PATH_TOO_LONG;
    return ENTRY_WALKED;
}

BOOL WalkManifestSection(const char* pszEngPath, int nSection, PFN_MANIFEST_ENTRY pfn,
                         void* pContext)
{
    const char* pszSection = GetSectionName(nSection);
    const char* pszLabel = GetSectionLabel(nSection);
    if (pszSection == NULL)
        return TRUE;

    char szCurDir[MAX_PATH];
    DWORD cchCurDir = GetCurrentDirectoryA(MAX_PATH, szCurDir);
    if (cchCurDir == 0 || cchCurDir >= MAX_PATH)
    {
        WriteLog("Orvane: can't get the package directory, %s section skipped\n", pszLabel);
        return TRUE;
    }

    char szKeys[MAX_PATH];
    ReadKeyList(nSection, szKeys);

    MANIFEST_ENTRY entry;
    int iKey = 0;
    for (const char* pszKey = szKeys; *pszKey; pszKey += strlen(pszKey) + 1, iKey++)
    {
        char szKey[MAX_PATH];
        MbsCopy(szKey, sizeof(szKey), pszKey);
        switch (JudgeEntry(nSection, iKey, szKey, szCurDir, pszEngPath, &entry))
        {
        case ENTRY_NO_FILE:
            WriteLog("Orvane: key [%s] in %s section names no file, skipped\n", szKey, pszLabel);
            continue;
        case ENTRY_NOT_CONTAINED:
            WriteLog("Orvane: file [%s] in %s section would leave its directory, refused\n",
                     entry.szName, pszLabel);
            continue;
        case ENTRY_PATH_TOO_LONG:
            WriteLog("Orvane: file [%s] in %s section makes a path too long, skipped\n",
                     entry.szName, pszLabel);
            continue;
        }
        if (!pfn(&entry, pContext))
            return FALSE;
    }
    return TRUE;
}

struct SECTION_DECISION
{
    int nSection;
    BOOL bZeroSuffix;
    int nResult;
};

static BOOL DecideEntry(const MANIFEST_ENTRY* pEntry, void* pContext)
{
    SECTION_DECISION* pDecision = (SECTION_DECISION*)pContext;
    const char* pszAgainst = pEntry->szTarget;
    if (pDecision->bZeroSuffix)
    {
        // The staged copies are refreshed in manifest order: past the first one that is
        // missing, none was written by the last run.
        if (!PathExists(pEntry->szStaged))
            return FALSE;
        pszAgainst = pEntry->szStaged;
    }
    if (!IsSourceNewer(pszAgainst, pEntry->szSource))
        return TRUE;
    if (IsNtFamilyPlatform() && Is9xOnlyFile(pEntry->szName))
        return TRUE;
    WriteLog("Orvane: source file %s is the latest, copy the entire %s section \n",
             pEntry->szSource, GetSectionLabel(pDecision->nSection));
    pDecision->nResult = 1;
    return FALSE;
}

int ShouldCopyEntireSection(const char* pszEngPath, int nSection, BOOL bZeroSuffix)
{
    WriteLog("Orvane: ShouldCopyEntireSection? [%s]\n", bZeroSuffix ? "ZeroSuffix files" : "FILE");
    SECTION_DECISION decision = {nSection, bZeroSuffix, 0};
    WalkManifestSection(pszEngPath, nSection, DecideEntry, &decision);
    if (decision.nResult)
        return 1;
    WriteLog("Orvane: no files updated in %s section, should not copy files over\n",
             GetSectionLabel(nSection));
    return 0;
}

// The value of the nOccurrence-th entry (0 for the first) named pszKey in the section, as the
// section reader lists the entries; the profile-string reader only ever answers the first.
static BOOL ReadRepeatedValue(int nSection, const char* pszKey, int nOccurrence, char* szValue)
{
    szValue[0] = '\0';
    char* pBuf = (char*)HeapAlloc(GetProcessHeap(), 0, s_cbSectionRead);
    if (!pBuf)
        return FALSE;
    BOOL bFound = FALSE;
    DWORD cch =
        GetPrivateProfileSectionA(GetSectionName(nSection), pBuf, s_cbSectionRead, g_szFileList);
    pBuf[cch < s_cbSectionRead - 1 ? cch : s_cbSectionRead - 2] = '\0';
    pBuf[s_cbSectionRead - 1] = '\0';
    for (char* p = pBuf; *p && !bFound; p += strlen(p) + 1)
    {
        char* pEq = strchr(p, '=');
        if (!pEq)
            continue;
        *pEq = '\0';
        if (lstrcmpiA(p, pszKey) == 0 && nOccurrence-- == 0)
        {
            lstrcpynA(szValue, pEq + 1, MAX_PATH);
            bFound = TRUE;
        }
        *pEq = '=';
    }
    HeapFree(GetProcessHeap(), 0, pBuf);
    return bFound;
}

BOOL ExamineManifestSection(const char* pszEngPath, int nSection, PFN_MANIFEST_EXAMINE pfn,
                            void* pContext)
{
    const char* pszSection = GetSectionName(nSection);
    char szCurDir[MAX_PATH];
    DWORD cchCurDir = GetCurrentDirectoryA(MAX_PATH, szCurDir);
    if (pszSection == NULL || cchCurDir == 0 || cchCurDir >= MAX_PATH)
        return FALSE;
    char* pAll = (char*)HeapAlloc(GetProcessHeap(), 0, s_cbSectionRead);
    MANIFEST_EXAMINED* pEx = (MANIFEST_EXAMINED*)HeapAlloc(GetProcessHeap(), 0, sizeof(*pEx));
    if (!pAll || !pEx)
    {
        HeapFree(GetProcessHeap(), 0, pAll);
        HeapFree(GetProcessHeap(), 0, pEx);
        return FALSE;
    }

    // The list a walk gets, and the whole list with room to spare: a name of the whole list that
    // the walk's list does not hold as it is (missing, or cut in two at the bound) is never read.
    char szKeys[MAX_PATH];
    ReadKeyList(nSection, szKeys);
    DWORD cchAll =
        GetPrivateProfileStringA(pszSection, NULL, "", pAll, s_cbSectionRead, g_szFileList);
    if (cchAll > s_cbSectionRead - 2)
        cchAll = s_cbSectionRead - 2;
    pAll[cchAll] = '\0';
    pAll[cchAll + 1] = '\0';

    const char* pszRun = szKeys;
    int iKey = 0;
    for (const char* pszKey = pAll; *pszKey; pszKey += strlen(pszKey) + 1)
    {
        if (*pszRun && strcmp(pszRun, pszKey) != 0)
        {
            // The bound cut this name: the walk reads the piece that arrived as a name of its
            // own, and may find an entry of that name.
            ZeroMemory(pEx, sizeof(*pEx));
            MbsCopy(pEx->szKey, sizeof(pEx->szKey), pszRun);
            pEx->bCutName = TRUE;
            pEx->nVerdict =
                JudgeEntry(nSection, iKey, pEx->szKey, szCurDir, pszEngPath, &pEx->entry);
            pszRun += strlen(pszRun) + 1;
            iKey++;
            if (!pfn(pEx, pContext))
                break;
        }
        ZeroMemory(pEx, sizeof(*pEx));
        MbsCopy(pEx->szKey, sizeof(pEx->szKey), pszKey);
        for (const char* pszEarlier = pAll; pszEarlier < pszKey;
             pszEarlier += strlen(pszEarlier) + 1)
            if (lstrcmpiA(pszEarlier, pszKey) == 0)
                pEx->nRepeat++;
        BOOL bInRunList = *pszRun && strcmp(pszRun, pszKey) == 0;
        if (bInRunList)
            pEx->nVerdict =
                JudgeEntry(nSection, iKey, pEx->szKey, szCurDir, pszEngPath, &pEx->entry);
        else
            pEx->nVerdict = ENTRY_PAST_KEY_LIST;
        if (pEx->nRepeat > 0 || !bInRunList)
            ReadRepeatedValue(nSection, pEx->szKey, pEx->nRepeat, pEx->entry.szName);
        if (*pszRun)
        {
            pszRun += strlen(pszRun) + 1;
            iKey++;
        }
        if (!pfn(pEx, pContext))
            break;
    }
    HeapFree(GetProcessHeap(), 0, pAll);
    HeapFree(GetProcessHeap(), 0, pEx);
    return TRUE;
}
