// The process entry point: everything else lives in the program library.
#include "install.h"
#include "../support/support.h"

// No library from the folders a user may have written to, from the very start: the runtime's
// start-up code runs before WinMain and already loads libraries (the stack protector draws its
// guard from the system's random source, whose provider loads others in turn). Constructors of
// the highest priority run before the runtime's own.
static void __attribute__((constructor(101))) RestrictLibrarySearchAtStart()
{
    RestrictLibrarySearch();
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow)
{
    (void)hPrevInstance;
    (void)lpCmdLine;
    (void)nCmdShow;
    // The runtime's own split of the command line does not know double-byte program names.
    // One open of the log for the whole run instead of one per message.
    KeepLogFileOpen(TRUE);
    int nExit = PelmoraMain(hInstance, GetArgumentText(GetCommandLineA()));
    KeepLogFileOpen(FALSE);
    return nExit;
}
