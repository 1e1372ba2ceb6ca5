// Stand-in for the companion product's component B: answers its query from its data key and
// writes the product's path into the caller's record.
#include "CompanionServer.h"

#include "sysint/companion.h"

namespace
{

BOOL IsZeroFilled(const COMPANION_RECORD* pRecord)
{
    const BYTE* pb = (const BYTE*)pRecord;
    for (size_t i = 0; i < sizeof(*pRecord); i++)
        if (pb[i] != 0)
            return FALSE;
    return TRUE;
}

void ReadRecordPath(COMPANION_RECORD* pRecord)
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, COMPANION_B_DATA_KEY, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return;
    DWORD dwType = REG_NONE;
    DWORD cb = sizeof(pRecord->szPath) - 1;
    if (RegQueryValueExA(hKey, COMPANION_VALUE_PATH, NULL, &dwType, (BYTE*)pRecord->szPath, &cb) !=
            ERROR_SUCCESS ||
        dwType != REG_SZ)
        cb = 0;
    pRecord->szPath[cb < sizeof(pRecord->szPath) ? cb : sizeof(pRecord->szPath) - 1] = '\0';
    RegCloseKey(hKey);
}

class CompanionB : public ICompanionB
{
  public:
    CompanionB() : m_cRef(1)
    {
        InterlockedIncrement(&g_cServerLocks);
    }
    virtual ~CompanionB()
    {
        InterlockedDecrement(&g_cServerLocks);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == __uuidof(IUnknown) || riid == IID_ICompanionB)
        {
            *ppv = static_cast<ICompanionB*>(this);
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

    HRESULT STDMETHODCALLTYPE QueryRecord(COMPANION_RECORD* pRecord) override
    {
        if (!pRecord)
            return E_POINTER;
        // The product fills the record field by field and relies on a clean area.
        if (!IsZeroFilled(pRecord))
            return E_INVALIDARG;
        DWORD dwResult;
        if (!ReadDataDword(COMPANION_B_DATA_KEY, COMPANION_VALUE_RESULT, &dwResult))
            return E_FAIL;
        if (SUCCEEDED((HRESULT)dwResult))
            ReadRecordPath(pRecord);
        return (HRESULT)dwResult;
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
    return GetCompanionClassObject<CompanionB>(CLSID_CompanionB, COMPANION_B_DATA_KEY, rclsid, riid,
                                               ppv);
}

STDAPI DllCanUnloadNow()
{
    return g_cServerLocks == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer()
{
    return RegisterCompanion(CLSID_CompanionB, "Quillmark Companion Component B");
}

STDAPI DllUnregisterServer()
{
    return UnregisterCompanion(CLSID_CompanionB);
}
