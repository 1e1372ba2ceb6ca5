// One copy pass over a manifest section: newer files copied over the installed ones, files in use
// staged as "<name>000" and scheduled to replace their targets at the next restart.
#include "deploy.h"
#include "decrypt.h"
#include "../reboot/reboot.h"
#include "../support/support.h"

#include <stdio.h>
#include <string.h>

// The four signature data files. An engine DLL is only usable with its own pair, so a staged DLL
// drags its pair into staging, and once anything of the section is staged the installed pairs
// are left alone.
static const char* const s_apszSignatureFiles[] = {"Osksig.da0", "Osksig.dat", "Brin.da1",
                                                   "Brin.dat"};
static const char* const s_apszOskaPair[] = {"Osksig.da0", "Osksig.dat"};
static const char* const s_apszBrinPair[] = {"Brin.da1", "Brin.dat"};
static const char* const s_apszOskaDlls[] = {"Osk32dll.dll", "Osk64dll.dll"};
static const char* const s_apszBrinDlls[] = {"Brine.dll", "Brine64.dll"};
// The boot-time scanner that 95/98 make of Morcmd.exe.
static const char s_szBootScanner[] = "Probit.exe";

// Files that only Windows 95/98 use, removed from the engine directory everywhere else.
static const char* const s_apszNot9xFiles[] = {"Morcmd.exe",  "Morcmd.dat",   "MorSig.vxd",
                                               "MorSigV.vxd", "Tarn_dyn.vxd", "salvor.exe"};

struct COPY_PASS
{
    const char* pszEngPath;
    char szPackage[MAX_PATH];
    int nSection;
    BOOL bStagedCopies; // ZeroSuffix answer of a section copied entire
    BOOL bStaged;       // a file of this engine section was staged in this pass
    BOOL* pbNeedReboot;
    REG_BUF regBuf;
    PENDING_VIEW view; // the removal's deletions in the engine directory
};

BOOL IsSignatureFile(const char* pszName)
{
    for (const char* psz : s_apszSignatureFiles)
        if (strcmp(pszName, psz) == 0)
            return TRUE;
    return FALSE;
}

const char* const* GetSignaturePair(const char* pszName)
{
    for (const char* psz : s_apszOskaDlls)
        if (strcmp(pszName, psz) == 0)
            return s_apszOskaPair;
    for (const char* psz : s_apszBrinDlls)
        if (strcmp(pszName, psz) == 0)
            return s_apszBrinPair;
    return NULL;
}

const char* GetFixedNameInOtherCase(const char* pszName)
{
    const char* const* const apLists[] = {s_apszNot9xFiles, s_apszSignatureFiles, s_apszOskaDlls,
                                          s_apszBrinDlls};
    const size_t acLists[] = {ARRAYSIZE(s_apszNot9xFiles), ARRAYSIZE(s_apszSignatureFiles),
                              ARRAYSIZE(s_apszOskaDlls), ARRAYSIZE(s_apszBrinDlls)};
    for (size_t iList = 0; iList < ARRAYSIZE(apLists); iList++)
        for (size_t i = 0; i < acLists[iList]; i++)
            if (lstrcmpiA(pszName, apLists[iList][i]) == 0 &&
                strcmp(pszName, apLists[iList][i]) != 0)
                return apLists[iList][i];
    if (lstrcmpiA(pszName, s_szBootScanner) == 0 && strcmp(pszName, s_szBootScanner) != 0)
        return s_szBootScanner;
    return NULL;
}

// TRUE when both files of the pair have a staged copy in the engine directory.
static BOOL IsPairStaged(const COPY_PASS* pPass, const char* const* apszPair)
{
    char szStaged[MAX_PATH];
    for (int i = 0; i < 2; i++)
        if (!JoinEntryPath(szStaged, pPass->pszEngPath, apszPair[i], "000") ||
            !PathExists(szStaged))
            return FALSE;
    return TRUE;
}

// A removal asks for the deletion at the restart of a file it finds in use. A pass that installs
// the file again takes that deletion back, or the restart would delete the file it installs: before
// the file is copied or staged, and once more after a copy for a file that was not there. The
// pass's view answers at no cost while nothing is pending in the engine directory.
static BOOL KeepFromRemoval(PENDING_VIEW* pView, const char* pszPath)
{
    if (!WithdrawDeletionInView(pView, pszPath))
        return FALSE;
    // Removals stopped and run again, or a setup's own requests, may have asked more than once;
    // each deletion that still comes last for the name goes, so none is left for the restart.
    while (WithdrawDeletionInView(pView, pszPath))
        ;
    WriteLog("Orvane: deletion of [%s] at the restart withdrawn, it is installed again\n", pszPath);
    return TRUE;
}

static void KeepFileFromRemoval(COPY_PASS* pPass, const char* pszPath)
{
    if (!KeepFromRemoval(&pPass->view, pszPath))
        return;
    // The pass's snapshot of the pending list still shows the deletion; the view holds the list
    // as the withdrawal left it.
    ReleaseRegBuf(&pPass->regBuf);
    TakeRegBufOfView(&pPass->regBuf, &pPass->view);
}

// Stages one file of a signature pair: no existence or freshness test, no attribute reset, and a
// failed copy is passed over in silence. With bCopy FALSE the staged copy already there is only
// scheduled.
static void StagePairFile(COPY_PASS* pPass, const char* pszName, BOOL bCopy)
{
    char szSource[MAX_PATH], szTarget[MAX_PATH], szStaged[MAX_PATH];
    if (!JoinEntryPath(szSource, pPass->szPackage, pszName, NULL) ||
        !JoinEntryPath(szTarget, pPass->pszEngPath, pszName, NULL) ||
        !JoinEntryPath(szStaged, pPass->pszEngPath, pszName, "000"))
        return;
    if (bCopy)
    {
        if (!CopyOverSafely(szSource, szStaged))
            return;
        DecryptCopiedFile(szStaged);
    }
    // Staged ahead of its own entry, which would take a removal's deletion back only once its
    // replacement was already passed over as pending.
    KeepFileFromRemoval(pPass, szTarget);
    ScheduleReplacement(szStaged, szTarget, pPass->regBuf.pszRegBuf);
}

// After a successful copy: an older staged copy from an earlier run would otherwise replace the
// new file at the next restart.
static void RefreshStagedCopy(const MANIFEST_ENTRY* pEntry)
{
    if (!PathExists(pEntry->szStaged))
        return;
    WriteLog("Orvane: ZeroSuffix file %s exists\n", pEntry->szStaged);
    if (IsSourceNewer(pEntry->szStaged, pEntry->szTarget))
    {
        WriteLog("Orvane: Should overwrite ZeroSuffix file %s\n", pEntry->szStaged);
        SetFileAttributesA(pEntry->szStaged, FILE_ATTRIBUTE_NORMAL);
        if (CopyOverSafely(pEntry->szTarget, pEntry->szStaged))
            WriteLog("Orvane: Update ZeroSuffix file successfully\n");
        else
            WriteLog("Orvane: Update ZeroSuffix file fails due to %d\n", (int)GetLastError());
    }
    else
    {
        WriteLog("Orvane: Shouldn't overwrite exsiting %s\n", pEntry->szStaged);
    }
}

static BOOL ShouldStage(const char* pszName)
{
    if (Is9xFamilyPlatform())
        return TRUE;
    // The boot-time scanner files serve only 9x; they are removed at the end of the pass.
    return IsNtFamilyPlatform() && lstrcmpiA(pszName, "Morcmd.exe") != 0 &&
           lstrcmpiA(pszName, "Morcmd.dat") != 0;
}

static void StageEntry(COPY_PASS* pPass, const MANIFEST_ENTRY* pEntry)
{
    // A staged copy that is up to date stands, but it still needs its request: a run stopped
    // between the copy and the request left it without one, and the restart would then never
    // put it in place. The request is not made twice (ScheduleReplacement looks first).
    BOOL bStands = FALSE;
    if (PathExists(pEntry->szStaged))
    {
        WriteLog("Orvane: ZeroSuffix file %s exists\n", pEntry->szStaged);
        bStands = !pPass->bStagedCopies && !IsSourceNewer(pEntry->szStaged, pEntry->szSource);
    }
    // A staged engine DLL waits with the pair it was staged with, and the restart puts the three
    // in place together: one that stands keeps its pair, and only a DLL staged anew brings this
    // package's pair. A DLL that a stopped run left without its pair has none to keep, so it is
    // staged anew with this package's pair, and the three come from one package again.
    const char* const* apszPair =
        pPass->nSection == SECTION_FILES ? NULL : GetSignaturePair(pEntry->szName);
    if (bStands && apszPair && !IsPairStaged(pPass, apszPair))
        bStands = FALSE;
    if (!bStands)
    {
        SetFileAttributesA(pEntry->szStaged, FILE_ATTRIBUTE_NORMAL);
        if (!CopyOverSafely(pEntry->szSource, pEntry->szStaged))
        {
            WriteLog("Orvane: Can't CopyFile to temp location from [%s] to [%s] with error [%d]\n",
                     pEntry->szSource, pEntry->szStaged, (int)GetLastError());
            return;
        }
        DecryptCopiedFile(pEntry->szStaged);
    }
    ScheduleReplacement(pEntry->szStaged, pEntry->szTarget, pPass->regBuf.pszRegBuf);

    if (pPass->nSection == SECTION_FILES)
        return;
    pPass->bStaged = TRUE;
    if (apszPair)
        for (int i = 0; i < 2; i++)
            StagePairFile(pPass, apszPair[i], !bStands);
}

// A file of a section left as it is, which the run finds in place.
static BOOL KeepFoundFromRemoval(const MANIFEST_ENTRY* pEntry, void* pContext)
{
    if (PathExists(pEntry->szTarget))
        KeepFromRemoval((PENDING_VIEW*)pContext, pEntry->szTarget);
    return TRUE;
}

static BOOL CopyEntry(const MANIFEST_ENTRY* pEntry, void* pContext)
{
    COPY_PASS* pPass = (COPY_PASS*)pContext;
    KeepFileFromRemoval(pPass, pEntry->szTarget);
    if (pPass->nSection == SECTION_FILES)
    {
        if (!IsSourceNewer(pEntry->szTarget, pEntry->szSource))
        {
            WriteLog("Orvane: File [%s] is the latest one\n", pEntry->szTarget);
            return TRUE;
        }
    }
    else if (pPass->bStaged && IsSignatureFile(pEntry->szName))
    {
        WriteLog("Orvane: File [%s] is copied.\n", pEntry->szName);
        return TRUE;
    }

    SetFileAttributesA(pEntry->szTarget, FILE_ATTRIBUTE_NORMAL);
    if (CopyOverSafely(pEntry->szSource, pEntry->szTarget))
    {
        WriteLog("Orvane: File Copy from [%s] to [%s] Successfully\n", pEntry->szSource,
                 pEntry->szTarget);
        DecryptCopiedFile(pEntry->szTarget);
        KeepFileFromRemoval(pPass, pEntry->szTarget);
        RefreshStagedCopy(pEntry);
        return TRUE;
    }

    *pPass->pbNeedReboot = TRUE;
    WriteLog("Orvane: Can't do CopyFile from [%s] to [%s] with error [%d], reboot needed\n",
             pEntry->szSource, pEntry->szTarget, (int)GetLastError());
    if (ShouldStage(pEntry->szName))
        StageEntry(pPass, pEntry);
    return TRUE;
}

// Fits the engine directory to the platform: the boot-time scanner on 95/98, and no 9x-only
// files where they cannot run.
static void FitEngineDirectory(const char* pszEngPath, PENDING_VIEW* pView)
{
    char szPath[MAX_PATH], szOther[MAX_PATH];
    if (!Is9xFamilyPlatform())
    {
        for (const char* psz : s_apszNot9xFiles)
            if (JoinEntryPath(szPath, pszEngPath, psz, NULL))
                DeleteFileA(szPath);
        return;
    }
    // ME starts no boot-time scanner.
    if (g_dwOSType == OSID_WME)
        return;
    if (JoinEntryPath(szPath, pszEngPath, "Morcmd.exe", NULL) &&
        JoinEntryPath(szOther, pszEngPath, s_szBootScanner, NULL))
    {
        CopyOverSafely(szPath, szOther);
        // Made here, not by the manifest: a removal's deletion of it is taken back here too.
        KeepFromRemoval(pView, szOther);
    }
}

// An engine section is judged as a whole but copied file by file. A run stopped half way would
// leave files of two packages side by side, and where the files still to come are not newer than
// the installed ones (signature files rebuilt earlier than those installed, beside a DLL newer by
// version) no later run would find anything newer and finish the copy. So a marker file in the
// engine directory stands for a section copy from before its first file to after its last, and
// a pass that finds one copies that section whole. A stray marker costs one whole-section copy.
static BOOL FormSectionMarker(char* szMarker, const char* pszEngPath, int nSection)
{
    char szName[16];
    int n = _snprintf(szName, sizeof(szName), "~PM%s.TMP", GetSectionName(nSection));
    if (n < 0 || n >= (int)sizeof(szName) || !JoinEntryPath(szMarker, pszEngPath, szName, NULL))
    {
        szMarker[0] = '\0';
        return FALSE;
    }
    return TRUE;
}

static BOOL IsSectionMarked(const char* pszMarker)
{
    DWORD dwAttr = GetFileAttributesA(pszMarker);
    return dwAttr != INVALID_FILE_ATTRIBUTES && !(dwAttr & FILE_ATTRIBUTE_DIRECTORY);
}

static void MarkSection(const char* pszMarker)
{
    HANDLE hFile =
        CreateFileA(pszMarker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile != INVALID_HANDLE_VALUE)
        CloseHandle(hFile);
}

static void UnmarkSection(const char* pszMarker)
{
    if (!IsSectionMarked(pszMarker))
        return;
    SetFileAttributesA(pszMarker, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(pszMarker);
}

void RemoveSectionMarker(const char* pszEngPath, int nSection)
{
    char szMarker[MAX_PATH];
    if (nSection != SECTION_FILES && FormSectionMarker(szMarker, pszEngPath, nSection))
        UnmarkSection(szMarker);
}

void CopySectionFiles(const char* pszEngPath, int nSection, BOOL* pbNeedReboot)
{
    if (!pszEngPath || !pszEngPath[0])
    {
        WriteLog("Orvane: missing scan engine path\n");
        return;
    }
    COPY_PASS pass;
    ZeroMemory(&pass, sizeof(pass));
    pass.pszEngPath = pszEngPath;
    pass.nSection = nSection;
    pass.pbNeedReboot = pbNeedReboot;
    DWORD cch = GetCurrentDirectoryA(sizeof(pass.szPackage), pass.szPackage);
    if (cch == 0 || cch >= sizeof(pass.szPackage))
        pass.szPackage[0] = '\0';

    if (!PathExists(pszEngPath))
    {
        WriteLog("Orvane: Create_Dir[%s]\n", pszEngPath);
        if (!Create_Dir(pszEngPath))
        {
            WriteLog("Orvane: Can't Create_Dir[%s]\n", pszEngPath);
            return;
        }
    }

    RemoveCopyWorkFile(pszEngPath);
    OpenPendingView(&pass.view, pszEngPath);

    char szMarker[MAX_PATH];
    szMarker[0] = '\0';
    if (nSection != SECTION_FILES)
    {
        if (FormSectionMarker(szMarker, pszEngPath, nSection) && IsSectionMarked(szMarker))
            WriteLog("Orvane: copy of the %s section was begun and not finished, copy the entire "
                     "%s section\n",
                     GetSectionLabel(nSection), GetSectionLabel(nSection));
        else if (!ShouldCopyEntireSection(pszEngPath, nSection, FALSE))
        {
            // Found whole, the section stays as it is, and so must stay after the restart.
            if (pass.view.bPending)
                WalkManifestSection(pszEngPath, nSection, KeepFoundFromRemoval, &pass.view);
            ClosePendingView(&pass.view);
            return;
        }
        pass.bStagedCopies = ShouldCopyEntireSection(pszEngPath, nSection, TRUE);
        if (szMarker[0])
            MarkSection(szMarker);
    }

    // Nothing has changed the list since the view read it: the snapshot is made from that read.
    TakeRegBufOfView(&pass.regBuf, &pass.view);
    WalkManifestSection(pszEngPath, nSection, CopyEntry, &pass);
    if (szMarker[0])
        UnmarkSection(szMarker);
    FitEngineDirectory(pszEngPath, &pass.view);
    ReleaseRegBuf(&pass.regBuf);
    ClosePendingView(&pass.view);
}

void KeepEngineDirectoriesFromRemoval(const char* pszEngPath)
{
    PENDING_VIEW view;
    OpenPendingView(&view, pszEngPath);
    if (view.bPending)
    {
        char szDir[MAX_PATH];
        static const char* const s_apszSubDirs[] = {"Logs", "Incoming"};
        for (const char* pszSub : s_apszSubDirs)
            if (JoinEntryPath(szDir, pszEngPath, pszSub, NULL) && PathExists(szDir))
                KeepFromRemoval(&view, szDir);
        // The directory last: the removal asked for it after everything in it.
        KeepFromRemoval(&view, pszEngPath);
    }
    ClosePendingView(&view);
}

// The refresh of staged copies left by earlier runs.
struct REFRESH_PASS
{
    char szPackage[MAX_PATH];
    const char* pszEngPath;
    int nSection;
};

static void CopyPairToStaged(const REFRESH_PASS* pPass)
{
    const char* const* apszPair = pPass->nSection == SECTION_OSKA ? s_apszOskaPair : s_apszBrinPair;
    char szSource[MAX_PATH], szStaged[MAX_PATH];
    for (int i = 0; i < 2; i++)
    {
        if (JoinEntryPath(szSource, pPass->szPackage, apszPair[i], NULL) &&
            JoinEntryPath(szStaged, pPass->pszEngPath, apszPair[i], "000"))
            CopyOverSafely(szSource, szStaged);
    }
}

static BOOL RefreshEntry(const MANIFEST_ENTRY* pEntry, void* pContext)
{
    REFRESH_PASS* pPass = (REFRESH_PASS*)pContext;
    if (!PathExists(pEntry->szStaged))
    {
        WriteLog("Orvane: Zero Suffix File [%s] not found\n", pEntry->szStaged);
        return TRUE;
    }
    if (IsSignatureFile(pEntry->szName))
    {
        WriteLog("Orvane: File [%s] is copied\n", pEntry->szName);
        return TRUE;
    }
    if (pPass->nSection == SECTION_FILES && !IsSourceNewer(pEntry->szStaged, pEntry->szSource))
        return TRUE;

    SetFileAttributesA(pEntry->szStaged, FILE_ATTRIBUTE_NORMAL);
    if (CopyOverSafely(pEntry->szSource, pEntry->szStaged))
        WriteLog("Orvane: Update ZeroSuffix file successfully\n");
    else
        WriteLog("Orvane: Update ZeroSuffix file fails due to %d\n", (int)GetLastError());
    if (pPass->nSection != SECTION_FILES)
        CopyPairToStaged(pPass);
    return TRUE;
}

void UpdateZeroSuffixFiles(const char* pszEngPath, int nSection)
{
    if (!pszEngPath || !pszEngPath[0])
    {
        WriteLog("Orvane: missing scan engine path\n");
        return;
    }
    REFRESH_PASS pass;
    pass.pszEngPath = pszEngPath;
    pass.nSection = nSection;
    DWORD cch = GetCurrentDirectoryA(sizeof(pass.szPackage), pass.szPackage);
    if (cch == 0 || cch >= sizeof(pass.szPackage))
        pass.szPackage[0] = '\0';
    if (nSection != SECTION_FILES && !ShouldCopyEntireSection(pszEngPath, nSection, TRUE))
        return;
    WalkManifestSection(pszEngPath, nSection, RefreshEntry, &pass);
}
