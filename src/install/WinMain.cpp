// The process entry point: everything else lives in the program library.
#include "install.h"
#include "../support/support.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow)
{
    (void)hPrevInstance;
    (void)lpCmdLine;
    (void)nCmdShow;
    // Before anything is loaded: no library from the folders a user may have written to.
    RestrictLibrarySearch();
    // The runtime's own split of the command line does not know double-byte program names.
    // One open of the log for the whole run instead of one per message.
    KeepLogFileOpen(TRUE);
    int nExit = PelmoraMain(hInstance, GetArgumentText(GetCommandLineA()));
    KeepLogFileOpen(FALSE);
    return nExit;
}
