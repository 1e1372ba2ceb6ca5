// The in-process server plumbing that both stand-in components share: the module's lock count,
// a class factory, self-registration under HKEY_CLASSES_ROOT and their data key.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <olectl.h>

#include <new>
#include <stdio.h>
#include <string.h>

#include "CompanionData.h"

// Objects alive plus server locks: the DLL may be unloaded only at zero.
inline LONG g_cServerLocks = 0;
inline HMODULE g_hServerModule = NULL;

inline BOOL ReadDataDword(const char* pszKey, const char* pszValue, DWORD* pdwData)
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, pszKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return FALSE;
    DWORD dwType = REG_NONE;
    DWORD cb = sizeof(*pdwData);
    LONG lResult = RegQueryValueExA(hKey, pszValue, NULL, &dwType, (BYTE*)pdwData, &cb);
    RegCloseKey(hKey);
    return lResult == ERROR_SUCCESS && dwType == REG_DWORD && cb == sizeof(*pdwData);
}

// Counts a created object in the data key; the key is created when the test has not made it.
inline void CountInstance(const char* pszKey)
{
    HKEY hKey;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, pszKey, 0, NULL, 0, KEY_READ | KEY_WRITE, NULL, &hKey,
                        NULL) != ERROR_SUCCESS)
        return;
    DWORD dwCount = 0;
    DWORD cb = sizeof(dwCount);
    if (RegQueryValueExA(hKey, COMPANION_VALUE_INSTANCES, NULL, NULL, (BYTE*)&dwCount, &cb) !=
        ERROR_SUCCESS)
        dwCount = 0;
    dwCount++;
    RegSetValueExA(hKey, COMPANION_VALUE_INSTANCES, 0, REG_DWORD, (const BYTE*)&dwCount,
                   sizeof(dwCount));
    RegCloseKey(hKey);
}

// T is the component's class: default-constructible with a reference count of 1.
template <class T> class CompanionFactory : public IClassFactory
{
  public:
    CompanionFactory(const char* pszDataKey) : m_cRef(1), m_pszDataKey(pszDataKey)
    {
        InterlockedIncrement(&g_cServerLocks);
    }
    virtual ~CompanionFactory()
    {
        InterlockedDecrement(&g_cServerLocks);
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == __uuidof(IUnknown) || riid == __uuidof(IClassFactory))
        {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        return (ULONG)InterlockedIncrement(&m_cRef);
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG cRef = InterlockedDecrement(&m_cRef);
        if (cRef == 0)
            delete this;
        return (ULONG)cRef;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = NULL;
        if (pOuter)
            return CLASS_E_NOAGGREGATION;
        T* pObject = new (std::nothrow) T();
        if (!pObject)
            return E_OUTOFMEMORY;
        CountInstance(m_pszDataKey);
        HRESULT hr = pObject->QueryInterface(riid, ppv);
        pObject->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL bLock) override
    {
        if (bLock)
            InterlockedIncrement(&g_cServerLocks);
        else
            InterlockedDecrement(&g_cServerLocks);
        return S_OK;
    }

  private:
    LONG m_cRef;
    const char* m_pszDataKey;
};

template <class T>
HRESULT GetCompanionClassObject(REFCLSID rclsidWanted, const char* pszDataKey, REFCLSID rclsid,
                                REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = NULL;
    if (rclsid != rclsidWanted)
        return CLASS_E_CLASSNOTAVAILABLE;
    CompanionFactory<T>* pFactory = new (std::nothrow) CompanionFactory<T>(pszDataKey);
    if (!pFactory)
        return E_OUTOFMEMORY;
    HRESULT hr = pFactory->QueryInterface(riid, ppv);
    pFactory->Release();
    return hr;
}

inline void FormatClsidKey(REFCLSID rclsid, char* szKey, size_t cchKey)
{
    _snprintf(szKey, cchKey, "CLSID\\{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
              (unsigned long)rclsid.Data1, rclsid.Data2, rclsid.Data3, rclsid.Data4[0],
              rclsid.Data4[1], rclsid.Data4[2], rclsid.Data4[3], rclsid.Data4[4], rclsid.Data4[5],
              rclsid.Data4[6], rclsid.Data4[7]);
    szKey[cchKey - 1] = '\0';
}

// CLSID\{...} with the description, and InprocServer32 with this DLL's path. The objects keep no
// state but their reference count, so any apartment may create them directly ("Both").
inline HRESULT RegisterCompanion(REFCLSID rclsid, const char* pszDescription)
{
    char szModule[MAX_PATH];
    DWORD cch = GetModuleFileNameA(g_hServerModule, szModule, sizeof(szModule));
    if (cch == 0 || cch >= sizeof(szModule))
        return SELFREG_E_CLASS;
    char szKey[128];
    FormatClsidKey(rclsid, szKey, sizeof(szKey));
    HKEY hClass;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, szKey, 0, NULL, 0, KEY_WRITE, NULL, &hClass, NULL) !=
        ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    HKEY hServer;
    LONG lResult = RegSetValueExA(hClass, NULL, 0, REG_SZ, (const BYTE*)pszDescription,
                                  (DWORD)strlen(pszDescription) + 1);
    if (lResult == ERROR_SUCCESS)
        lResult =
            RegCreateKeyExA(hClass, "InprocServer32", 0, NULL, 0, KEY_WRITE, NULL, &hServer, NULL);
    if (lResult == ERROR_SUCCESS)
    {
        static const char s_szModel[] = "Both";
        lResult = RegSetValueExA(hServer, NULL, 0, REG_SZ, (const BYTE*)szModule, cch + 1);
        if (lResult == ERROR_SUCCESS)
            lResult = RegSetValueExA(hServer, "ThreadingModel", 0, REG_SZ, (const BYTE*)s_szModel,
                                     sizeof(s_szModel));
        RegCloseKey(hServer);
    }
    RegCloseKey(hClass);
    return lResult == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

inline HRESULT UnregisterCompanion(REFCLSID rclsid)
{
    char szKey[128];
    FormatClsidKey(rclsid, szKey, sizeof(szKey));
    HKEY hClass;
    LONG lResult = RegOpenKeyExA(HKEY_CLASSES_ROOT, szKey, 0, KEY_WRITE, &hClass);
    if (lResult == ERROR_FILE_NOT_FOUND)
        return S_OK;
    if (lResult != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    RegDeleteKeyA(hClass, "InprocServer32");
    RegCloseKey(hClass);
    return RegDeleteKeyA(HKEY_CLASSES_ROOT, szKey) == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}
