// The argument text: the program name taken off the command line, then the switches read out
// of the rest. Every search follows the multibyte rules, so a trail byte never starts a switch.
#include "ArgText.h"

#include <string.h>

const char* GetArgumentText(const char* pszCommandLine)
{
    const char* p = pszCommandLine;
    if (*p == '"')
    {
        // A quoted program name runs to the next quote and may hold blanks.
        p++;
        while (*p && *p != '"')
            p = MbsNext(p);
        if (*p == '"')
            p++;
    }
    // The rest of the name (also after a closing quote) up to the first blank or control.
    while ((BYTE)*p > ' ')
        p = MbsNext(p);
    while (*p && (BYTE)*p <= ' ')
        p++;
    return p;
}

static const char* const s_apszNoSilent[] = {"/NS", "/Ns", "/nS", "/ns"};
static const char* const s_apszNoRef[] = {"/NR", "/Nr", "/nR", "/nr"};
#define NO_SILENT_LEN 3

struct ENGINE_SWITCH
{
    const char* apszForms[3];
    DWORD dwEngIDs;
    const char* pszIDsLog;
    const char* pszTextLog;
};

// Later groups override earlier ones: "/1 /2" selects the second engine only.
static const ENGINE_SWITCH s_aEngineSwitches[] = {
    {{"/1", "/I", "/i"},
     OSKA_ONLY,
     "Orvane: OSKA_ONLY -  g_dwEngIDs[%d]\n",
     "Orvane: OSKA_ONLY -  pszTempCmdLine[%s]\n"},
    {{"/2", "/V", "/v"},
     BRIN_ONLY,
     "Orvane: BRIN_ONLY -  g_dwEngIDs[%d]\n",
     "Orvane: BRIN_ONLY -  pszTempCmdLine[%s]\n"},
    {{"/3", "/B", "/b"},
     BOTH_OSKA_BRIN,
     "Orvane: BOTH_OSKA_BRIN -  g_dwEngIDs[%d]\n",
     "Orvane: BOTH_OSKA_BRIN -  pszTempCmdLine[%s]\n"},
};

// The first of the forms (in the order given, not by position) that occurs in pszText.
static char* FindFirstForm(char* pszText, const char* const* apszForms, size_t nForms,
                           size_t* pcchForm)
{
    for (size_t i = 0; i < nForms; i++)
    {
        char* p = MbsStr(pszText, apszForms[i]);
        if (p)
        {
            *pcchForm = strlen(apszForms[i]);
            return p;
        }
    }
    return NULL;
}

// Closes the text up over a removed switch; the blanks around it stay.
static void RemoveChars(char* p, size_t cch)
{
    memmove(p, p + cch, strlen(p + cch) + 1);
}

static char* SkipBlanks(char* p)
{
    while (*p == ' ')
        p++;
    return p;
}

const char* FindNoSilentSwitch(const char* pszText)
{
    for (const char* pszForm : s_apszNoSilent)
    {
        const char* p = MbsStr(pszText, pszForm);
        if (p)
            return p;
    }
    return NULL;
}

static void TrimTrailingBlanks(char* psz)
{
    size_t cch = strlen(psz);
    while (cch > 0 && psz[cch - 1] == ' ')
        psz[--cch] = '\0';
}

// Takes the product name from the rest of the text. Returns 0 or -1.
static int ParseProductName(const char* pszRest, char* szProductName)
{
    char szUpper[MAX_PATH];
    MbsCopy(szUpper, sizeof(szUpper), pszRest);
    MbsUpper(szUpper);
    char* pProd = MbsStr(szUpper, "/PROD:");
    if (!pProd)
    {
        WriteLog("Orvane: missing product name\n");
        return -1;
    }

    char szName[MAX_PATH];
    MbsCopy(szName, sizeof(szName), SkipBlanks(pProd + 6));
    char* pEnd = MbsChr(szName, ' ');
    if (pEnd)
        *pEnd = '\0';
    // A name written directly against the path switch.
    pEnd = MbsStr(szName, "/PATH:");
    if (pEnd)
        *pEnd = '\0';
    TrimTrailingBlanks(szName);

    if (szName[0] == '\0')
    {
        WriteLog("Orvane: missing product name\n");
        return -1;
    }
    if (MbsChr(szName, '/') || MbsChr(szName, ':') || MbsChr(szName, '\\'))
    {
        WriteLog("Orvane: invalid product name [%s]\n", szName);
        return -1;
    }
    WriteLog("Orvane: product name [%s]\n", szName);
    MbsCopy(szProductName, MAX_PATH, szName);
    return 0;
}

// Removes cch leading bytes from both copies; the upper-cased copy has the same length.
static void DropLeading(char* pszText, char* pszUpper, size_t cch)
{
    RemoveChars(pszText, cch);
    RemoveChars(pszUpper, cch);
}

static void TrimBoth(char* pszText, char* pszUpper)
{
    DropLeading(pszText, pszUpper, (size_t)(SkipBlanks(pszText) - pszText));
    TrimTrailingBlanks(pszText);
    pszUpper[strlen(pszText)] = '\0';
}

// Takes the path text from the rest of the text. Returns 0 or -1.
static int ParsePath(const char* pszRest, char* szPath)
{
    char szUpper[MAX_PATH];
    MbsCopy(szUpper, sizeof(szUpper), pszRest);
    MbsUpper(szUpper);
    char* pPath = MbsStr(szUpper, "/PATH:");
    if (!pPath)
    {
        if (g_bCfgMode)
        {
            WriteLog("Orvane: missing Ini file name[%s]\n", pszRest);
            return -1;
        }
        WriteLog("Orvane: no argument for /PATH[%s]\n", pszRest);
        return 0;
    }

    // The path keeps its own case; the upper-cased copy beside it serves the searches.
    size_t nOffset = (size_t)(pPath - szUpper) + 6;
    char szText[MAX_PATH];
    char szTextUpper[MAX_PATH];
    MbsCopy(szText, sizeof(szText), pszRest + nOffset);
    MbsCopy(szTextUpper, sizeof(szTextUpper), szUpper + nOffset);
    if (szText[0] == '\0')
    {
        WriteLog("Orvane: missing path/ini file\n");
        return -1;
    }
    TrimBoth(szText, szTextUpper);

    // The product switch written after the path.
    char* pProd = MbsStr(szTextUpper, "/PROD:");
    if (pProd)
    {
        size_t nCut = (size_t)(pProd - szTextUpper);
        szText[nCut] = '\0';
        szTextUpper[nCut] = '\0';
        TrimBoth(szText, szTextUpper);
    }
    if (szText[0] == '\0')
    {
        WriteLog("Orvane: missing path/ini file\n");
        return -1;
    }

    char* pFirst = MbsChr(szText, '"');
    char* pLast = MbsRChr(szText, '"');
    if (pFirst && pFirst == pLast)
    {
        WriteLog("Orvane: missing one quotation\n");
        if (pFirst == szText)
            RemoveChars(szText, 1);
        else if (pFirst[1] == '\0')
            *pFirst = '\0';
        else
        {
            WriteLog("Orvane: invalie path/ini file [%s]\n", szText);
            return -1;
        }
    }
    else if (pFirst)
    {
        *pLast = '\0';
        RemoveChars(szText, (size_t)(pFirst - szText) + 1);
    }

    RemoveChars(szText, (size_t)(SkipBlanks(szText) - szText));
    TrimTrailingBlanks(szText);
    if (szText[0] == '\0')
    {
        WriteLog("Orvane: missing path/ini file\n");
        return -1;
    }
    WriteLog("Orvane: the path/ini file [%s]\n", szText);
    MbsCopy(szPath, MAX_PATH, szText);
    return 0;
}

int ParseCmdLine(const char* pszCmdLine, char* szProductName, BOOL* pbAddRefCount, char* szPath)
{
    return ParseSwitchText(pszCmdLine, FindNoSilentSwitch(pszCmdLine), szProductName, pbAddRefCount,
                           szPath);
}

int ParseSwitchText(const char* pszCmdLine, const char* pszNoSilent, char* szProductName,
                    BOOL* pbAddRefCount, char* szPath)
{
    char pszTempCmdLine[MAX_PATH];
    size_t cchForm;

    *pbAddRefCount = 1;
    szProductName[0] = '\0';
    szPath[0] = '\0';
    if (pszCmdLine[0] == '\0' && g_bDefaultArgs)
    {
        WriteLog("Orvane: No arg. set defalt\n");
        return 0;
    }

    // The working copy holds 259 characters; a longer text would be parsed cut, so with a path
    // or product other than the caller meant. Refuse it instead.
    size_t cchCmdLine = strlen(pszCmdLine);
    if (cchCmdLine >= sizeof(pszTempCmdLine))
    {
        WriteLog("Orvane: argument text too long [%d characters], at most %d are accepted\n",
                 (int)cchCmdLine, (int)sizeof(pszTempCmdLine) - 1);
        return -1;
    }
    MbsCopy(pszTempCmdLine, sizeof(pszTempCmdLine), pszCmdLine);
    char* pScan = SkipBlanks(pszTempCmdLine);

    // The working copy holds the text byte for byte, so the switch sits at the same offset.
    char* p = pszNoSilent ? pszTempCmdLine + (pszNoSilent - pszCmdLine) : NULL;
    if (p)
    {
        g_bSilent = 0;
        RemoveChars(p, NO_SILENT_LEN);
        WriteLog("Orvane: /NS -  pszTempCmdLine[%s]\n", pScan);
        pScan = SkipBlanks(pScan);
        if (*pScan == '\0')
        {
            g_dwEngIDs = BOTH_OSKA_BRIN;
            g_bDefaultArgs = 1;
            WriteLog("Orvane: /NS - only param, set default\n");
            return 0;
        }
    }
    else
    {
        WriteLog("Orvane: no /NS value, running silently\n");
    }

    if (!g_bCfgMode)
    {
        for (const ENGINE_SWITCH& sw : s_aEngineSwitches)
        {
            p = FindFirstForm(pScan, sw.apszForms, 3, &cchForm);
            if (!p)
                continue;
            g_dwEngIDs = sw.dwEngIDs;
            WriteLog(sw.pszIDsLog, (int)sw.dwEngIDs);
            RemoveChars(p, cchForm);
            WriteLog(sw.pszTextLog, pScan);
        }
    }

    p = FindFirstForm(pScan, s_apszNoRef, 4, &cchForm);
    if (p)
    {
        *pbAddRefCount = 0;
        RemoveChars(p, cchForm);
        WriteLog("Orvane: /NR -  pszTempCmdLine[%s]\n", pScan);
    }
    else
    {
        WriteLog("Orvane: no /NR value\n");
    }

    pScan = SkipBlanks(pScan);
    if (*pScan == '\0')
        return -1;

    if (ParseProductName(pScan, szProductName) != 0)
        return -1;
    return ParsePath(pScan, szPath);
}
