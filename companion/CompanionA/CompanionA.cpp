// Stand-in for the companion product's component A: reports the product's list as a SAFEARRAY of
// strings, read from its data key.
#include "CompanionServer.h"

#include "sysint/companion.h"

#include <oleauto.h>

#include <vector>

namespace
{

// The list as stored: a REG_MULTI_SZ of product names, or one name as REG_SZ.
HRESULT ReadProductList(VARIANT* pvarList)
{
    HKEY hKey;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"" COMPANION_A_DATA_KEY, 0, KEY_READ, &hKey) !=
        ERROR_SUCCESS)
        return S_OK;
    DWORD dwType = REG_NONE;
    DWORD cb = 0;
    LONG lResult = RegQueryValueExW(hKey, L"" COMPANION_VALUE_PRODUCTS, NULL, &dwType, NULL, &cb);
    std::vector<WCHAR> data(cb / sizeof(WCHAR) + 2, L'\0');
    if (lResult == ERROR_SUCCESS)
        lResult = RegQueryValueExW(hKey, L"" COMPANION_VALUE_PRODUCTS, NULL, &dwType,
                                   (BYTE*)data.data(), &cb);
    RegCloseKey(hKey);
    // Not installed: the VARIANT stays as the caller gave it.
    if (lResult != ERROR_SUCCESS)
        return S_OK;

    if (dwType == REG_SZ)
    {
        V_BSTR(pvarList) = SysAllocString(data.data());
        if (!V_BSTR(pvarList))
            return E_OUTOFMEMORY;
        V_VT(pvarList) = VT_BSTR;
        return S_OK;
    }
    if (dwType != REG_MULTI_SZ)
        return E_UNEXPECTED;

    std::vector<const WCHAR*> names;
    for (const WCHAR* p = data.data(); *p; p += lstrlenW(p) + 1)
        names.push_back(p);
    SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, 0, (ULONG)names.size());
    if (!psa)
        return E_OUTOFMEMORY;
    for (LONG i = 0; i < (LONG)names.size(); i++)
    {
        BSTR bstr = SysAllocString(names[i]);
        HRESULT hr = bstr ? SafeArrayPutElement(psa, &i, bstr) : E_OUTOFMEMORY;
        SysFreeString(bstr);
        if (FAILED(hr))
        {
            SafeArrayDestroy(psa);
            return hr;
        }
    }
    V_VT(pvarList) = VT_ARRAY | VT_BSTR;
    V_ARRAY(pvarList) = psa;
    return S_OK;
}

class CompanionA : public ICompanionA
{
  public:
    CompanionA() : m_cRef(1)
    {
        InterlockedIncrement(&g_cServerLocks);
    }
    virtual ~CompanionA()
    {
        InterlockedDecrement(&g_cServerLocks);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == __uuidof(IUnknown) || riid == IID_ICompanionA)
        {
            *ppv = static_cast<ICompanionA*>(this);
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

    // The product's other services are not part of what this stand-in provides.
    HRESULT STDMETHODCALLTYPE GetVersion(DWORD*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetInstallDir(BSTR*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Refresh() override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetState(DWORD*) override
    {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE GetProductList(VARIANT* pvarList) override
    {
        if (!pvarList)
            return E_POINTER;
        DWORD dwResult;
        BOOL bForced = ReadDataDword(COMPANION_A_DATA_KEY, COMPANION_VALUE_RESULT, &dwResult);
        // A failing product fills nothing.
        if (bForced && FAILED((HRESULT)dwResult))
            return (HRESULT)dwResult;
        HRESULT hr = ReadProductList(pvarList);
        if (FAILED(hr))
            return hr;
        return bForced ? (HRESULT)dwResult : S_OK;
    }

  private:
    LONG m_cRef;
};

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID)
{
    if (dwReason == DLL_PROCESS_ATTACH)
    {
        g_hServerModule = hInstance;
        DisableThreadLibraryCalls(hInstance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    return GetCompanionClassObject<CompanionA>(CLSID_CompanionA, COMPANION_A_DATA_KEY, rclsid, riid,
                                               ppv);
}

STDAPI DllCanUnloadNow()
{
    return g_cServerLocks == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer()
{
    return RegisterCompanion(CLSID_CompanionA, "Quillmark Companion Component A");
}

STDAPI DllUnregisterServer()
{
    return UnregisterCompanion(CLSID_CompanionA);
}
