// A replacement at restart is two operations: delete the target, then rename the staged copy to
// the target's name. The rename is asked for without permission to replace, so it can only take
// effect once the target is gone; and a deletion carried out without its rename would leave the
// machine without the file. Both routes therefore record the rename or nothing.
#include "reboot.h"

#include "support/support.h"

static const char s_szSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
static const WCHAR s_wszPendingValue[] = L"PendingFileRenameOperations";

// TRUE when an entry of the pending list names the same file as wszTarget. The system stores
// each path behind the "\??\" prefix of its object names.
static BOOL IsSamePendingPath(const WCHAR* pwszEntry, const WCHAR* pwszTarget)
{
    if (pwszEntry[0] == L'\\' && pwszEntry[1] == L'?' && pwszEntry[2] == L'?' &&
        pwszEntry[3] == L'\\')
        pwszEntry += 4;
    return lstrcmpiW(pwszEntry, pwszTarget) == 0;
}

// Takes the last recorded deletion of pszTarget (the pair: target, empty name) out of
// PendingFileRenameOperations. The value is read and written in its stored UTF-16 form, so the
// entries of other programs are written back unchanged even where they hold characters that the
// ANSI code page lacks. Returns TRUE when the deletion is no longer recorded.
static BOOL WithdrawPendingDeletion(const char* pszTarget)
{
    WCHAR wszTarget[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, pszTarget, -1, wszTarget, MAX_PATH))
        return FALSE;

    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, s_szSessionManagerKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                      &hKey) != ERROR_SUCCESS)
        return FALSE;

    BOOL bWithdrawn = FALSE;
    DWORD dwType = 0;
    DWORD cb = 0;
    WCHAR* pwszList = NULL;
    if (RegQueryValueExW(hKey, s_wszPendingValue, NULL, &dwType, NULL, &cb) == ERROR_SUCCESS &&
        dwType == REG_MULTI_SZ)
    {
        // Two spare characters keep the walk terminated even when the stored list is not.
        pwszList = (WCHAR*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, cb + 2 * sizeof(WCHAR));
    }
    if (pwszList && RegQueryValueExW(hKey, s_wszPendingValue, NULL, NULL, (BYTE*)pwszList, &cb) ==
                        ERROR_SUCCESS)
    {
        DWORD cch = cb / sizeof(WCHAR);
        DWORD iPairStart = 0, iPairEnd = 0;
        BOOL bFound = FALSE;
        // Pairs of source and destination; an empty destination is a deletion.
        for (DWORD i = 0; i < cch && pwszList[i];)
        {
            DWORD iSource = i;
            i += lstrlenW(pwszList + i) + 1;
            if (i >= cch)
                break;
            DWORD iDest = i;
            i += lstrlenW(pwszList + i) + 1;
            if (pwszList[iDest] == L'\0' && IsSamePendingPath(pwszList + iSource, wszTarget))
            {
                iPairStart = iSource;
                iPairEnd = i;
                bFound = TRUE;
            }
        }
        if (bFound)
        {
            MoveMemory(pwszList + iPairStart, pwszList + iPairEnd,
                       (cch - iPairEnd) * sizeof(WCHAR));
            DWORD cchLeft = cch - (iPairEnd - iPairStart);
            // Nothing but the list's terminator left: the value goes, as before the request.
            if (cchLeft == 0 || pwszList[0] == L'\0')
                bWithdrawn = RegDeleteValueW(hKey, s_wszPendingValue) == ERROR_SUCCESS;
            else
                bWithdrawn =
                    RegSetValueExW(hKey, s_wszPendingValue, 0, REG_MULTI_SZ, (const BYTE*)pwszList,
                                   cchLeft * sizeof(WCHAR)) == ERROR_SUCCESS;
        }
    }
    if (pwszList)
        HeapFree(GetProcessHeap(), 0, pwszList);
    RegCloseKey(hKey);
    return bWithdrawn;
}

BOOL RemoveFileOnReboot(const char* pszExisting, const char* pszTarget)
{
    WriteLog("RemoveFileOnReboot: from pszExisting [%s] to [%s] \n", pszExisting, pszTarget);

    if (g_pfnMoveFileExA(pszTarget, NULL, MOVEFILE_DELAY_UNTIL_REBOOT))
    {
        BOOL bResult = g_pfnMoveFileExA(pszExisting, pszTarget, MOVEFILE_DELAY_UNTIL_REBOOT);
        if (bResult)
        {
            WriteLog("RemoveFileOnReboot: MoveFileEx\n");
            return bResult;
        }
        if (WithdrawPendingDeletion(pszTarget))
            WriteLog("RemoveFileOnReboot: deletion of [%s] withdrawn\n", pszTarget);
        else
            WriteLog("RemoveFileOnReboot: can't withdraw deletion of [%s]\n", pszTarget);
    }

    WriteLog("RemoveFileOnReboot: Win9x\n");
    // The rename line first: the deletion line goes in only once its rename is there, and,
    // inserted under the header after it, still stands above it.
    if (!AddWinInitRename(pszExisting, pszTarget))
        return FALSE;
    return AddWinInitRename(pszTarget, NULL);
}
