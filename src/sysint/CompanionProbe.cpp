// Asks the companion product, through its two in-process components, whether it is installed:
// its boot-time scan needs the scanner line in C:\AUTOEXEC.BAT as ours does.
#include "sysint.h"

#include "companion.h"
#include "support/runmode.h"
#include "support/support.h"

#include <string.h>

int ShouldAddBootScan(const char* pszProductName)
{
    char szName[MAX_PATH];
    if (MbsCopy(szName, sizeof(szName), pszProductName))
    {
        MbsUpper(szName);
        if (strcmp(szName, "MORVELIN") == 0)
            return 1;
    }
    if (g_bDefaultArgs)
        return 1;
    if (ProbeCompanionA())
        return 1;
    return ProbeCompanionB();
}

static DWORD CountElements(const SAFEARRAY* psa)
{
    if (psa->cDims == 0)
        return 0;
    DWORD dwCount = 1;
    for (USHORT i = 0; i < psa->cDims; i++)
        dwCount *= psa->rgsabound[i].cElements;
    return dwCount;
}

// A list is reported only by an array that holds data. The type tag is looked at first: any
// other VARIANT would have its value taken for an array descriptor. A zero-element array still
// has a data block, so the element count decides, not the data pointer alone.
static int ListHasData(VARIANT* pvarList)
{
    if (!(V_VT(pvarList) & VT_ARRAY) || (V_VT(pvarList) & VT_BYREF) || !V_ARRAY(pvarList))
        return 0;
    SAFEARRAY* psa = V_ARRAY(pvarList);
    void* pvData = NULL;
    if (FAILED(SafeArrayAccessData(psa, &pvData)))
        return 0;
    int nAnswer = (pvData != NULL && CountElements(psa) > 0) ? 1 : 0;
    SafeArrayUnaccessData(psa);
    return nAnswer;
}

int ProbeCompanionA()
{
    int nAnswer = 0;
    // The creation is tried even when COM was already set up otherwise on this thread; only an
    // initialisation of our own is undone.
    HRESULT hrInit = CoInitialize(NULL);
    IUnknown* pUnknown = NULL;
    if (SUCCEEDED(CoCreateInstance(CLSID_CompanionA, NULL, CLSCTX_INPROC_SERVER, __uuidof(IUnknown),
                                   (void**)&pUnknown)))
    {
        ICompanionA* pCompanion = NULL;
        if (SUCCEEDED(pUnknown->QueryInterface(IID_ICompanionA, (void**)&pCompanion)))
        {
            VARIANT varList;
            memset(&varList, 0, sizeof(varList));
            if (SUCCEEDED(pCompanion->GetProductList(&varList)))
            {
                nAnswer = ListHasData(&varList);
                VariantClear(&varList);
            }
            pCompanion->Release();
        }
        pUnknown->Release();
    }
    if (SUCCEEDED(hrInit))
        CoUninitialize();
    return nAnswer;
}

int ProbeCompanionB()
{
    if (FAILED(CoInitialize(NULL)))
        return 0;
    int nAnswer = 0;
    IUnknown* pUnknown = NULL;
    if (SUCCEEDED(CoCreateInstance(CLSID_CompanionB, NULL, CLSCTX_INPROC_SERVER, __uuidof(IUnknown),
                                   (void**)&pUnknown)))
    {
        ICompanionB* pCompanion = NULL;
        if (SUCCEEDED(pUnknown->QueryInterface(IID_ICompanionB, (void**)&pCompanion)))
        {
            // The component expects a zero-filled area; what it writes there is not ours to use.
            COMPANION_RECORD record;
            memset(&record, 0, sizeof(record));
            nAnswer = SUCCEEDED(pCompanion->QueryRecord(&record)) ? 1 : 0;
            pCompanion->Release();
        }
        pUnknown->Release();
    }
    CoUninitialize();
    return nAnswer;
}
