/* The custom action of the Windows Installer sample: runs Pelmora.exe and turns its exit code
 * into what Windows Installer understands.
 *
 * Windows Installer runs a program as a custom action (types 2, 18, 34, 50) and takes any exit
 * code but 0 for a failure, or, with Return="ignore", none; it cannot tell 2 (done, restart
 * needed) from a failure, and a program cannot schedule the installation's restart. So this DLL
 * starts Pelmora itself, deferred and as the system account, and answers:
 *   0      success
 *   2      success, and the restart at the end of the installation (MsiSetMode
 *          MSIRUNMODE_REBOOTATEND): msiexec then ends with 3010 (ERROR_SUCCESS_REBOOT_REQUIRED)
 *          and sets no restart itself when REBOOT=ReallySuppress
 *   other  an error message naming the code, its meaning and Pelmora's log (shown, or only
 *          logged by a silent installation), and failure: the installation is rolled back
 *
 * CustomActionData: "<package folder>|<argument text>", the folder with its final backslash,
 * for example "C:\Program Files\Quillmark\Morvelin\|/PROD:Morvelin". The folder becomes
 * Pelmora's current directory and holds Pelmora.exe and FileList.ini.
 *
 * Built as a 32-bit DLL exporting RunPelmora undecorated (-Wl,--kill-at), linked with msi. */
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

static const char* PelmoraMeaning(DWORD dwCode)
{
    switch (dwCode)
    {
    case 3:
        return "the engine directory is invalid";
    case 4:
        return "no FileList.ini in the package folder (Pelmora's current directory)";
    case 5:
        return "invalid arguments";
    case 6:
        return "too little free space on the engine's drive";
    case 8:
        return "an old engine release (r80) is installed: the product was registered, no file "
               "was copied";
    default:
        return "a Windows error number";
    }
}

/* One line to the installation's log (msiexec /l*v), or an error message when bError. */
static void Report(MSIHANDLE hInstall, BOOL bError, const char* pszText)
{
    MSIHANDLE hRec = MsiCreateRecord(1);
    if (!hRec)
        return;
    MsiRecordSetStringA(hRec, 0, "[1]");
    MsiRecordSetStringA(hRec, 1, pszText);
    MsiProcessMessage(hInstall,
                      bError ? (INSTALLMESSAGE)(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR)
                             : INSTALLMESSAGE_INFO,
                      hRec);
    MsiCloseHandle(hRec);
}

UINT __stdcall RunPelmora(MSIHANDLE hInstall)
{
    char szData[1024];
    char szCmd[1200];
    char szTemp[MAX_PATH];
    char szLine[1600];
    DWORD cch = sizeof(szData);
    char* pszArgs;
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    DWORD dwCode = 0;

    if (MsiGetPropertyA(hInstall, "CustomActionData", szData, &cch) != ERROR_SUCCESS ||
        (pszArgs = strchr(szData, '|')) == NULL)
    {
        Report(hInstall, TRUE, "RunPelmora: CustomActionData is not \"<folder>|<arguments>\"");
        return ERROR_INSTALL_FAILURE;
    }
    *pszArgs++ = '\0';

    /* The program's path quoted: the folder may hold blanks. */
    wsprintfA(szCmd, "\"%.600sPelmora.exe\" %.500s", szData, pszArgs);
    ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    if (!CreateProcessA(NULL, szCmd, NULL, NULL, FALSE, 0, NULL, szData, &si, &pi))
    {
        wsprintfA(szLine, "Pelmora could not be started (Windows error %lu): %.1200s",
                  GetLastError(), szCmd);
        Report(hInstall, TRUE, szLine);
        return ERROR_INSTALL_FAILURE;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, &dwCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    wsprintfA(szLine, "Pelmora: %.1200s in %.300s ended with code %lu", szCmd, szData, dwCode);
    Report(hInstall, FALSE, szLine);
    if (dwCode == 0)
        return ERROR_SUCCESS;
    if (dwCode == 2)
    {
        MsiSetMode(hInstall, MSIRUNMODE_REBOOTATEND, TRUE);
        return ERROR_SUCCESS;
    }

    /* Pelmora, started from here, logs into this process's temporary folder: as the system
     * account, the system's one. */
    if (!GetTempPathA(sizeof(szTemp), szTemp))
        lstrcpyA(szTemp, "%TEMP%\\");
    wsprintfA(szLine,
              "The scan engine could not be set up. Pelmora stopped with code %lu: %s. Its log "
              "is %.260sMorSetup.log",
              dwCode, PelmoraMeaning(dwCode), szTemp);
    Report(hInstall, TRUE, szLine);
    return ERROR_INSTALL_FAILURE;
}
