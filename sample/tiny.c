// The smallest DLL that carries a version resource: the freshness tests need real files whose
// version the platform reads back, not fakes.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pReserved)
{
    (void)hInstance;
    (void)dwReason;
    (void)pReserved;
    return TRUE;
}

__declspec(dllexport) int SampleVersionProbe(void)
{
    return 1;
}
