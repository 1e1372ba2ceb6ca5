// The package check: what a setup author's package would do on users' machines, told before it
// ships. Every finding comes from the routines the runs themselves use (the section walk and its
// name and path tests, the freshness test's probe and version query, the fixed names of the
// passes), so the check cannot judge an entry otherwise than a run does. It changes nothing: it
// reads the manifest and the packaged files and writes the log and, when the caller redirected
// it, standard output.
#include "install.h"
#include "../deploy/deploy.h"
#include "../support/support.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

// Entries remembered across the sections, for the findings that look at more than one entry.
#define MAX_CHECKED_ENTRIES 1024

struct CHECKED_ENTRY
{
    int nSection;
    char szKey[MAX_PATH];
    char szName[MAX_PATH];
    BOOL bDeployed; // a run copies it (it may still fail to, see the findings)
};

struct CHECK_STATE
{
    HANDLE hOut; // standard output as the caller gave it, or NULL
    char szEngPath[MAX_PATH];
    int nSection;
    int nErrors;
    int nWarnings;
    int anDeployed[3];
    int nEntries;
    CHECKED_ENTRY aEntries[MAX_CHECKED_ENTRIES];
};

static const char s_szError[] = "error";
static const char s_szWarning[] = "warning";

// One line to the log, and to standard output with the line end of the platform's text files.
static void Report(CHECK_STATE* pCheck, const char* pszFormat, ...)
{
    char szLine[2048];
    va_list args;
    va_start(args, pszFormat);
    int n = _vsnprintf(szLine, sizeof(szLine) - 2, pszFormat, args);
    va_end(args);
    if (n < 0 || n >= (int)sizeof(szLine) - 2)
        szLine[sizeof(szLine) - 3] = '\0';
    WriteLog("Orvane: %s\n", szLine);
    if (pCheck->hOut)
    {
        lstrcatA(szLine, "\r\n");
        DWORD cbWritten;
        WriteFile(pCheck->hOut, szLine, (DWORD)strlen(szLine), &cbWritten, NULL);
    }
}

static void Finding(CHECK_STATE* pCheck, const char* pszSeverity, const char* pszKey,
                    const char* pszName, const char* pszWhat)
{
    if (pszSeverity == s_szError)
        pCheck->nErrors++;
    else
        pCheck->nWarnings++;
    Report(pCheck, "%s: [%s] %s=%s: %s", pszSeverity, GetSectionName(pCheck->nSection), pszKey,
           pszName, pszWhat);
}

// The earlier entry of the manifest that lists the same file (the file system knows no case),
// or NULL.
static const CHECKED_ENTRY* FindListed(const CHECK_STATE* pCheck, const char* pszName, int nUpTo)
{
    for (int i = 0; i < nUpTo; i++)
        if (pCheck->aEntries[i].bDeployed && lstrcmpiA(pCheck->aEntries[i].szName, pszName) == 0)
            return &pCheck->aEntries[i];
    return NULL;
}

static BOOL IsProgramOrDll(const char* pszName)
{
    size_t cch = strlen(pszName);
    return cch > 4 &&
           (lstrcmpiA(pszName + cch - 4, ".dll") == 0 || lstrcmpiA(pszName + cch - 4, ".exe") == 0);
}

// What a run does with the file once the walk hands it on: the findings on the file itself.
static void CheckWalkedEntry(CHECK_STATE* pCheck, const MANIFEST_EXAMINED* pEx)
{
    const MANIFEST_ENTRY* pEntry = &pEx->entry;
    char szWhat[1024];
    const CHECKED_ENTRY* pEarlier = FindListed(pCheck, pEntry->szName, pCheck->nEntries - 1);
    if (pEarlier)
    {
        _snprintf(szWhat, sizeof(szWhat),
                  "the same file as [%s] %s=%s: a run copies it twice, and a staged copy of the "
                  "first is overwritten by the second",
                  GetSectionName(pEarlier->nSection), pEarlier->szKey, pEarlier->szName);
        szWhat[sizeof(szWhat) - 1] = '\0';
        Finding(pCheck, s_szWarning, pEx->szKey, pEntry->szName, szWhat);
    }

    if (!IsPlainFileName(pEntry->szName))
    {
        Finding(pCheck, s_szError, pEx->szKey, pEntry->szName,
                "not a plain file name inside the engine directory: the copy fails on every run, "
                "and an update answers 2 (restart needed)");
        return;
    }
    if (!IsPackagedFilePresent(pEntry->szSource))
    {
        if (pCheck->nSection == SECTION_FILES)
            _snprintf(szWhat, sizeof(szWhat),
                      "listed file missing from the package: a run never deploys it");
        else
            _snprintf(szWhat, sizeof(szWhat),
                      "listed file missing from the package: every run that deploys the %s "
                      "section (a first install, an update bringing a newer engine) fails to "
                      "copy it, and the update answers 2 (restart needed), again after every "
                      "restart",
                      GetSectionName(pCheck->nSection));
        szWhat[sizeof(szWhat) - 1] = '\0';
        Finding(pCheck, s_szError, pEx->szKey, pEntry->szName, szWhat);
        return;
    }
    pCheck->anDeployed[pCheck->nSection]++;

    DWORD dwMS, dwLS;
    if (IsProgramOrDll(pEntry->szName) && !QueryFileVersion(pEntry->szSource, &dwMS, &dwLS))
        Finding(pCheck, s_szWarning, pEx->szKey, pEntry->szName,
                "DLL or program without a version resource: the freshness test falls back to "
                "the last-write times, so a rebuilt older version with a later date replaces a "
                "newer one");

    const char* pszFixed = GetFixedNameInOtherCase(pEntry->szName);
    if (pszFixed)
    {
        _snprintf(szWhat, sizeof(szWhat),
                  "differs only in letter case from %s: a run compares that name with case and "
                  "does not treat this file as %s",
                  pszFixed, pszFixed);
        szWhat[sizeof(szWhat) - 1] = '\0';
        Finding(pCheck, s_szWarning, pEx->szKey, pEntry->szName, szWhat);
    }
}

static BOOL CheckEntry(const MANIFEST_EXAMINED* pEx, void* pContext)
{
    CHECK_STATE* pCheck = (CHECK_STATE*)pContext;
    const char* pszName = pEx->entry.szName;
    char szWhat[1024];

    if (pEx->bCutName)
    {
        // The whole name is reported as past the key list next; the piece only matters when it
        // names an entry of its own.
        if (pEx->nVerdict == ENTRY_WALKED)
            Finding(pCheck, s_szWarning, pEx->szKey, pszName,
                    "the 260-character key list cuts the next key name to this one: a run reads "
                    "this entry once more and copies its file again");
        return TRUE;
    }

    CHECKED_ENTRY* pChecked = NULL;
    if (pCheck->nEntries < MAX_CHECKED_ENTRIES)
    {
        pChecked = &pCheck->aEntries[pCheck->nEntries++];
        pChecked->nSection = pCheck->nSection;
        lstrcpynA(pChecked->szKey, pEx->szKey, sizeof(pChecked->szKey));
        lstrcpynA(pChecked->szName, pszName, sizeof(pChecked->szName));
        pChecked->bDeployed = FALSE;
    }

    if (pEx->nVerdict == ENTRY_PAST_KEY_LIST)
    {
        Finding(pCheck, s_szError, pEx->szKey, pszName,
                "past the 260-character key list of the section: a run never reads this entry, "
                "the file is never deployed");
        return TRUE;
    }
    if (pEx->nRepeat > 0)
    {
        Finding(pCheck, s_szError, pEx->szKey, pszName,
                "repeated key name: a run reads only the first entry of that name, this file is "
                "never deployed");
        return TRUE;
    }
    switch (pEx->nVerdict)
    {
    case ENTRY_NO_FILE:
        Finding(pCheck, s_szWarning, pEx->szKey, pszName, "names no file: a run skips it");
        return TRUE;
    case ENTRY_NOT_CONTAINED:
        Finding(pCheck, s_szError, pEx->szKey, pszName,
                "not a plain file name inside the engine directory: a run refuses it, the file "
                "is never deployed");
        return TRUE;
    case ENTRY_PATH_TOO_LONG:
    {
        char szStaged[MAX_PATH];
        const char* pszSeverity = s_szError;
        if (JoinEntryPath(szStaged, pCheck->szEngPath, pszName, "000"))
            pszSeverity = s_szWarning;
        if (pszSeverity == s_szWarning)
            // Only the packaged file's own path is too long: here, not on users' machines.
            _snprintf(szWhat, sizeof(szWhat),
                      "in this package directory the path does not fit in 259 characters: a run "
                      "from here skips it");
        else
            _snprintf(szWhat, sizeof(szWhat),
                      "under the default engine directory %s, with 000 appended for staging, the "
                      "path does not fit in 259 characters: a run skips it, the file is never "
                      "deployed",
                      pCheck->szEngPath);
        szWhat[sizeof(szWhat) - 1] = '\0';
        Finding(pCheck, pszSeverity, pEx->szKey, pszName, szWhat);
        return TRUE;
    }
    }
    if (pChecked)
        pChecked->bDeployed = TRUE;
    CheckWalkedEntry(pCheck, pEx);
    return TRUE;
}

// Staging brings an engine DLL's signature pair along from the package whether or not the
// manifest lists it; a plain copy brings only what is listed, in the DLL's section or the common
// one.
static void CheckSignaturePairs(CHECK_STATE* pCheck, int nFirst)
{
    for (int i = nFirst; i < pCheck->nEntries; i++)
    {
        const CHECKED_ENTRY* pDll = &pCheck->aEntries[i];
        const char* const* apszPair = GetSignaturePair(pDll->szName);
        if (!pDll->bDeployed || !apszPair)
            continue;
        char szMissing[MAX_PATH] = "";
        for (int iPair = 0; iPair < 2; iPair++)
        {
            BOOL bListed = FALSE;
            for (int j = 0; j < pCheck->nEntries && !bListed; j++)
            {
                const CHECKED_ENTRY* p = &pCheck->aEntries[j];
                bListed = p->bDeployed &&
                          (p->nSection == pDll->nSection || p->nSection == SECTION_FILES) &&
                          lstrcmpiA(p->szName, apszPair[iPair]) == 0;
            }
            if (!bListed)
            {
                if (szMissing[0])
                    lstrcatA(szMissing, " and ");
                lstrcatA(szMissing, apszPair[iPair]);
            }
        }
        if (!szMissing[0])
            continue;
        char szWhat[1024];
        _snprintf(szWhat, sizeof(szWhat),
                  "engine DLL without its signature pair (%s not listed): a run deploys the DLL "
                  "without it, while staging, when the DLL is in use, brings the pair along",
                  szMissing);
        szWhat[sizeof(szWhat) - 1] = '\0';
        Finding(pCheck, s_szError, pDll->szKey, pDll->szName, szWhat);
    }
}

// Standard output when the caller gave the process one (a GUI program has none otherwise).
static HANDLE GetReportOutput()
{
    HANDLE hOut = GetStdHandle(STD_OUTPUT_HANDLE);
    if (hOut == NULL || hOut == INVALID_HANDLE_VALUE)
        return NULL;
    return hOut;
}

int ParseCheckArguments(RUN_STATE* pRun)
{
    // Nothing else of the argument text counts but the non-silent switch.
    WriteLog("Orvane: Agr: CHECK\n");
    pRun->lpCmdLine[0] = '\0';
    return 0;
}

int RunPackageCheck(RUN_STATE* pRun)
{
    // Large (the remembered entries): off the stack.
    static CHECK_STATE s_Check;
    CHECK_STATE* pCheck = &s_Check;
    ZeroMemory(pCheck, sizeof(*pCheck));
    pCheck->hOut = GetReportOutput();

    char szPackage[MAX_PATH];
    DWORD cch = GetCurrentDirectoryA(sizeof(szPackage), szPackage);
    if (cch == 0 || cch >= sizeof(szPackage))
        szPackage[0] = '\0';
    if (!GetDefaultEngineDir(pRun, pCheck->szEngPath))
        lstrcpynA(pCheck->szEngPath, "C:\\Program Files\\QM\\SharedComponents\\ScanEngine",
                  sizeof(pCheck->szEngPath));
    Report(pCheck, "Package check of [%s] for the engine directory [%s]", szPackage,
           pCheck->szEngPath);

    for (int nSection = SECTION_FILES; nSection <= SECTION_BRIN; nSection++)
    {
        pCheck->nSection = nSection;
        int nFirst = pCheck->nEntries;
        ExamineManifestSection(pCheck->szEngPath, nSection, CheckEntry, pCheck);
        CheckSignaturePairs(pCheck, nFirst);
    }

    Report(pCheck,
           "Summary: %d error(s), %d warning(s); a run deploys %d entries of FILES, %d of "
           "OSKA, %d of BRIN",
           pCheck->nErrors, pCheck->nWarnings, pCheck->anDeployed[SECTION_FILES],
           pCheck->anDeployed[SECTION_OSKA], pCheck->anDeployed[SECTION_BRIN]);

    char szLog[MAX_PATH];
    if (!GetLogFilePath(szLog))
        szLog[0] = '\0';
    if (pCheck->nErrors)
        ShowResultMessageFormat(pRun->hInstance, IDS_CHECK_ERRORS, pCheck->nErrors,
                                pCheck->nWarnings, szLog);
    else
        ShowResultMessageFormat(pRun->hInstance, IDS_CHECK_CLEAN, pCheck->nWarnings, szLog);
    return pCheck->nErrors ? EXIT_CHECK_ERRORS : EXIT_OK;
}
