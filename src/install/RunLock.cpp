// Runs of different products' setups may start together. The decision between first install and
// update, and the reference count, must see the record as the previous run left it, so runs are
// serialised from the earlier-installation test to the way out.
#include "install.h"
#include "../support/support.h"

// A hung run must not block every later setup for ever; after this long a run goes on alone.
#define RUN_LOCK_TIMEOUT_MS (10 * 60 * 1000)

HANDLE AcquireRunLock()
{
    // The global namespace reaches runs in other sessions where the platform has one; older
    // platforms refuse the prefix and get the plain name.
    HANDLE hMutex = CreateMutexA(NULL, FALSE, "Global\\" PELMORA_RUN_LOCK_NAME);
    if (!hMutex)
        hMutex = CreateMutexA(NULL, FALSE, PELMORA_RUN_LOCK_NAME);
    if (!hMutex)
        return NULL;
    // An abandoned lock belonged to a run that was killed: this run now owns it.
    DWORD dwWait = WaitForSingleObject(hMutex, RUN_LOCK_TIMEOUT_MS);
    if (dwWait == WAIT_OBJECT_0 || dwWait == WAIT_ABANDONED)
        return hMutex;
    WriteLog("Orvane: another run holds the setup lock for too long, going on alone\n");
    CloseHandle(hMutex);
    return NULL;
}

void ReleaseRunLock(HANDLE hLock)
{
    if (hLock)
    {
        ReleaseMutex(hLock);
        CloseHandle(hLock);
    }
}
