// USER32, GDI32, ole32 and OLEAUT32, bound on first call instead of at load time. They are
// libraries the loader knows, but what they import in turn is resolved with the program's search
// as it stands when they load: at load time that search begins with the program's folder (Wine's
// USER32, for one, imports VERSION). Bound on first call, they load after the entry point has
// narrowed the search (RestrictLibrarySearch), from the system directory by full path.
//
// Each call of the program goes through the import slot the compiler reads for a declared
// import (__imp_<name>). This file defines those slots itself: each holds a binder that loads the
// library, looks the function up, puts it in the slot and forwards the call, so every later call
// goes straight to the system's function. The libraries' import stubs are then never linked in.
#include "support.h"

#include <objbase.h>
#include <oleauto.h>

// The linker names of the import slots: stdcall decorated on 32 bits, plain on 64.
#ifdef _WIN64
#define IMPORT_SLOT(name, bytes) "__imp_" #name
#else
#define IMPORT_SLOT(name, bytes) "__imp__" #name "@" #bytes
#endif

// The function of that library; a system library that cannot be had ends the process, as the
// loader would have refused to start it.
static FARPROC BindSystemCall(HMODULE* phLib, const char* pszLib, const char* pszName)
{
    if (!*phLib)
        *phLib = LoadSystemLibrary(pszLib);
    FARPROC pfn = *phLib ? GetProcAddress(*phLib, pszName) : NULL;
    if (!pfn)
        ExitProcess(ERROR_PROC_NOT_FOUND);
    return pfn;
}

static HMODULE s_hUser32, s_hGdi32, s_hOle32, s_hOleAut32;

#define LATE_BOUND(lib, ret, name, bytes, params, args)                                            \
    static ret WINAPI Bind_##name params;                                                          \
    extern "C" ret(WINAPI* g_pfnLate_##name) params __asm__(IMPORT_SLOT(name, bytes));             \
    ret(WINAPI* g_pfnLate_##name) params = Bind_##name;                                            \
    static ret WINAPI Bind_##name params                                                           \
    {                                                                                              \
        g_pfnLate_##name =                                                                         \
            (ret(WINAPI*) params)(void*)BindSystemCall(&s_h##lib, #lib ".dll", #name);             \
        return g_pfnLate_##name args;                                                              \
    }

LATE_BOUND(User32, LPSTR, CharToOemA, 8, (LPCSTR a, LPSTR b), (a, b))
LATE_BOUND(User32, BOOL, CharToOemBuffA, 12, (LPCSTR a, LPSTR b, DWORD c), (a, b, c))
LATE_BOUND(User32, DWORD, CharUpperBuffA, 8, (LPSTR a, DWORD b), (a, b))
LATE_BOUND(User32, INT_PTR, DialogBoxParamA, 20,
           (HINSTANCE a, LPCSTR b, HWND c, DLGPROC d, LPARAM e), (a, b, c, d, e))
LATE_BOUND(User32, BOOL, EndDialog, 8, (HWND a, INT_PTR b), (a, b))
LATE_BOUND(User32, HDC, GetDC, 4, (HWND a), (a))
LATE_BOUND(User32, int, GetSystemMetrics, 4, (int a), (a))
LATE_BOUND(User32, BOOL, GetWindowRect, 8, (HWND a, LPRECT b), (a, b))
LATE_BOUND(User32, int, LoadStringA, 16, (HINSTANCE a, UINT b, LPSTR c, int d), (a, b, c, d))
LATE_BOUND(User32, int, MessageBoxA, 16, (HWND a, LPCSTR b, LPCSTR c, UINT d), (a, b, c, d))
LATE_BOUND(User32, int, ReleaseDC, 8, (HWND a, HDC b), (a, b))
LATE_BOUND(User32, BOOL, SetWindowPos, 28, (HWND a, HWND b, int c, int d, int e, int f, UINT g),
           (a, b, c, d, e, f, g))
LATE_BOUND(Gdi32, int, GetDeviceCaps, 8, (HDC a, int b), (a, b))
LATE_BOUND(Ole32, HRESULT, CoCreateInstance, 20,
           (REFCLSID a, LPUNKNOWN b, DWORD c, REFIID d, LPVOID* e), (a, b, c, d, e))
LATE_BOUND(Ole32, HRESULT, CoInitialize, 4, (LPVOID a), (a))
LATE_BOUND(Ole32, void, CoUninitialize, 0, (), ())
LATE_BOUND(OleAut32, HRESULT, SafeArrayAccessData, 8, (SAFEARRAY * a, void** b), (a, b))
LATE_BOUND(OleAut32, HRESULT, SafeArrayUnaccessData, 4, (SAFEARRAY * a), (a))
LATE_BOUND(OleAut32, HRESULT, VariantClear, 4, (VARIANTARG * a), (a))
