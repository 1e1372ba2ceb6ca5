// pelmora_launch.exe: starts Pelmora.exe with an exact argument text, which a Unix command line
// cannot carry through Wine's own quoting. The text comes from PELMORA_ARGTEXT, the program from
// the first argument; the current directory is inherited. Prints and returns the exit code.
#include <windows.h>

#include <stdio.h>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        fprintf(stderr, "usage: pelmora_launch.exe PROGRAM (argument text in PELMORA_ARGTEXT)\n");
        return 2;
    }
    std::string strText;
    DWORD cch = GetEnvironmentVariableA("PELMORA_ARGTEXT", NULL, 0);
    if (cch > 0)
    {
        std::vector<char> buf(cch);
        GetEnvironmentVariableA("PELMORA_ARGTEXT", buf.data(), cch);
        strText = buf.data();
    }
    char szFull[MAX_PATH];
    if (!GetFullPathNameA(argv[1], sizeof(szFull), szFull, NULL))
        return 2;
    std::string strCmd = std::string("\"") + szFull + "\" " + strText;
    std::vector<char> cmd(strCmd.begin(), strCmd.end());
    cmd.push_back('\0');
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(szFull, cmd.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
    {
        fprintf(stderr, "cannot start %s: error %lu\n", szFull, GetLastError());
        return 2;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD dwExit = 0;
    GetExitCodeProcess(pi.hProcess, &dwExit);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    printf("exit code: %lu\n", dwExit);
    return (int)dwExit;
}
