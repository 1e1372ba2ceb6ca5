// The registry class hierarchy over advapi32 (and mpr for the remote IPC share).
#include "RegClass.h"
#include "../support/support.h"

#include <stdio.h>
#include <string.h>

// Rights of the three kinds of access the class makes. The program always works in the registry
// view of a 32-bit process, so the view flag goes into every open and create.
static const REGSAM s_samRead = KEY_READ | PELMORA_KEY_VIEW;
static const REGSAM s_samWrite = KEY_READ | KEY_WRITE | PELMORA_KEY_VIEW;
static const REGSAM s_samAll = KEY_ALL_ACCESS | PELMORA_KEY_VIEW;

// Deletes a key without subkeys in the program's registry view. RegDeleteKeyA of a 64-bit
// process would reach the 64-bit view; RegDeleteKeyExA does not exist before Windows XP x64, so
// the 32-bit program keeps the old call, which works in its own view.
static LONG DeleteOneKey(HKEY hParent, const char* pszPath)
{
#ifdef _WIN64
    return RegDeleteKeyExA(hParent, pszPath, KEY_WOW64_32KEY, 0);
#else
    return RegDeleteKeyA(hParent, pszPath);
#endif
}

RegClass::RegClass(HKEY hRootKey)
{
    m_szMachine[0] = '\0';
    m_hKey = hRootKey;
}

RegClass::~RegClass()
{
    Close();
}

LONG RegClass::BuildKeyPath(const char* pszKey, char* pszOut, DWORD cbOut)
{
    if (!pszKey || !pszOut || cbOut == 0)
        return ERROR_INVALID_PARAMETER;
    size_t cch = strlen(pszKey);
    if (cch >= cbOut)
        return ERROR_INSUFFICIENT_BUFFER;
    memcpy(pszOut, pszKey, cch + 1);
    return ERROR_SUCCESS;
}

LONG RegClass::FormFullPath(const char* pszKey, const char* pszSubKey, char* szPath)
{
    LONG lResult = BuildKeyPath(pszKey, szPath, REG_KEYPATH_SIZE);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    if (pszSubKey && *pszSubKey)
    {
        size_t cch = strlen(szPath);
        size_t cchSub = strlen(pszSubKey);
        // The separator, the subkey and the NUL must all fit behind the key.
        if (cch + 1 + cchSub + 1 > REG_KEYPATH_SIZE)
            return ERROR_INSUFFICIENT_BUFFER;
        szPath[cch] = '\\';
        memcpy(szPath + cch + 1, pszSubKey, cchSub + 1);
    }
    return ERROR_SUCCESS;
}

LONG RegClass::OpenForRead(const char* pszKey, const char* pszSubKey, HKEY* phKey)
{
    char szPath[REG_KEYPATH_SIZE];
    LONG lResult = FormFullPath(pszKey, pszSubKey, szPath);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    return RegOpenKeyExA(m_hKey, szPath, 0, s_samRead, phKey);
}

BOOL RegClass::ValueExists(const char* pszKey, const char* pszValueName, DWORD* pdwResult)
{
    char szPath[REG_KEYPATH_SIZE];
    LONG lResult = BuildKeyPath(pszKey, szPath, sizeof(szPath));
    if (lResult == ERROR_SUCCESS)
    {
        HKEY hKey;
        lResult = RegOpenKeyExA(m_hKey, szPath, 0, s_samRead, &hKey);
        if (lResult == ERROR_SUCCESS)
        {
            lResult = RegQueryValueExA(hKey, pszValueName, NULL, NULL, NULL, NULL);
            RegCloseKey(hKey);
        }
    }
    if (pdwResult)
        *pdwResult = (DWORD)lResult;
    return lResult == ERROR_SUCCESS;
}

LONG RegClass::GetTypedValue(DWORD dwType, const char* pszKey, const char* pszSubKey,
                             const char* pszValueName, const BYTE* pDefault, DWORD cbDefault,
                             BYTE* pBuf, DWORD* pcbBuf)
{
    DWORD cbGiven = *pcbBuf;
    HKEY hKey;
    LONG lResult = OpenForRead(pszKey, pszSubKey, &hKey);
    if (lResult == ERROR_SUCCESS)
    {
        DWORD dwStored = REG_NONE;
        lResult = RegQueryValueExA(hKey, pszValueName, NULL, &dwStored, pBuf, pcbBuf);
        RegCloseKey(hKey);
        if (lResult == ERROR_SUCCESS && dwStored != dwType)
            lResult = ERROR_INVALID_DATATYPE;
    }
    if (lResult == ERROR_SUCCESS)
        return ERROR_SUCCESS;

    if (pBuf && cbGiven)
    {
        ZeroMemory(pBuf, cbGiven);
        if (pDefault)
            memcpy(pBuf, pDefault, cbDefault < cbGiven ? cbDefault : cbGiven);
    }
    *pcbBuf = cbGiven;
    return lResult;
}

LONG RegClass::QueryValue(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                          DWORD* pdwType, BYTE* pBuf, DWORD* pcbBuf)
{
    if (!pdwType || !pBuf || !pcbBuf)
        return ERROR_INVALID_PARAMETER;
    HKEY hKey;
    LONG lResult = OpenForRead(pszKey, pszSubKey, &hKey);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    *pdwType = REG_NONE;
    lResult = RegQueryValueExA(hKey, pszValueName, NULL, pdwType, pBuf, pcbBuf);
    RegCloseKey(hKey);
    return lResult;
}

LONG RegClass::ReadDWORD(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                         DWORD* pdwValue)
{
    if (!pdwValue)
        return ERROR_INVALID_PARAMETER;
    HKEY hKey;
    LONG lResult = OpenForRead(pszKey, pszSubKey, &hKey);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    DWORD dwType = REG_NONE;
    DWORD dwValue = 0;
    DWORD cb = sizeof(dwValue);
    lResult = RegQueryValueExA(hKey, pszValueName, NULL, &dwType, (BYTE*)&dwValue, &cb);
    RegCloseKey(hKey);
    // A shorter REG_DWORD reads as its low bytes, as the value was always read.
    if ((lResult == ERROR_SUCCESS || lResult == ERROR_MORE_DATA) && dwType != REG_DWORD)
        lResult = ERROR_INVALID_DATATYPE;
    if (lResult == ERROR_SUCCESS)
        *pdwValue = dwValue;
    return lResult;
}

LONG RegClass::ReadText(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                        char* pszBuf, DWORD cbBuf, DWORD* pdwType)
{
    if (!pszBuf || cbBuf == 0)
        return ERROR_INVALID_PARAMETER;
    DWORD dwType = REG_NONE;
    DWORD cb = cbBuf;
    LONG lResult = QueryValue(pszKey, pszSubKey, pszValueName, &dwType, (BYTE*)pszBuf, &cb);
    if (pdwType)
        *pdwType = dwType;
    if ((lResult == ERROR_SUCCESS || lResult == ERROR_MORE_DATA) && dwType != REG_SZ &&
        dwType != REG_EXPAND_SZ)
        lResult = ERROR_INVALID_DATATYPE;
    // A string may be stored without its NUL; one that fills the buffer then has no room for it.
    if (lResult == ERROR_SUCCESS && cb >= cbBuf && pszBuf[cbBuf - 1] != '\0')
        lResult = ERROR_MORE_DATA;
    if (lResult != ERROR_SUCCESS)
    {
        pszBuf[0] = '\0';
        return lResult;
    }
    pszBuf[cb < cbBuf ? cb : cbBuf - 1] = '\0';
    return ERROR_SUCCESS;
}

// Common body of the heap reads: asks for the size, then reads, again while the value grows
// between the two questions.
static LONG ReadAllocFromKey(HKEY hKey, const char* pszValueName, BOOL bWide, DWORD* pdwType,
                             BYTE** ppData, DWORD* pcbData)
{
    WCHAR wszName[REG_KEYPATH_SIZE];
    if (bWide && pszValueName &&
        !MultiByteToWideChar(CP_ACP, 0, pszValueName, -1, wszName, REG_KEYPATH_SIZE))
        return ERROR_INSUFFICIENT_BUFFER;
    const WCHAR* pwszName = pszValueName ? wszName : NULL;
    LONG lResult;
    DWORD cb = 0;
    for (int nTry = 0; nTry < 4; nTry++)
    {
        DWORD dwType = REG_NONE;
        lResult = bWide ? RegQueryValueExW(hKey, pwszName, NULL, &dwType, NULL, &cb)
                        : RegQueryValueExA(hKey, pszValueName, NULL, &dwType, NULL, &cb);
        if (lResult != ERROR_SUCCESS)
            return lResult;
        if (cb > 0x7FFFFFF0)
            return ERROR_NOT_ENOUGH_MEMORY;
        BYTE* pData = (BYTE*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (SIZE_T)cb + 4);
        if (!pData)
            return ERROR_NOT_ENOUGH_MEMORY;
        DWORD cbRead = cb;
        lResult = bWide ? RegQueryValueExW(hKey, pwszName, NULL, &dwType, pData, &cbRead)
                        : RegQueryValueExA(hKey, pszValueName, NULL, &dwType, pData, &cbRead);
        if (lResult == ERROR_SUCCESS)
        {
            // The zero bytes behind the value were set by the allocation.
            *pdwType = dwType;
            *ppData = pData;
            *pcbData = cbRead;
            return ERROR_SUCCESS;
        }
        HeapFree(GetProcessHeap(), 0, pData);
        if (lResult != ERROR_MORE_DATA)
            return lResult;
        cb = cbRead;
    }
    return lResult;
}

LONG RegClass::ReadAlloc(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                         BOOL bWide, DWORD* pdwType, BYTE** ppData, DWORD* pcbData)
{
    if (!pdwType || !ppData || !pcbData)
        return ERROR_INVALID_PARAMETER;
    *ppData = NULL;
    *pcbData = 0;
    HKEY hKey;
    LONG lResult = OpenForRead(pszKey, pszSubKey, &hKey);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    lResult = ReadAllocFromKey(hKey, pszValueName, bWide, pdwType, ppData, pcbData);
    RegCloseKey(hKey);
    return lResult;
}

LONG RegClass::ReadValueAlloc(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                              DWORD* pdwType, BYTE** ppData, DWORD* pcbData)
{
    return ReadAlloc(pszKey, pszSubKey, pszValueName, FALSE, pdwType, ppData, pcbData);
}

LONG RegClass::ReadValueAllocW(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                               DWORD* pdwType, BYTE** ppData, DWORD* pcbData)
{
    return ReadAlloc(pszKey, pszSubKey, pszValueName, TRUE, pdwType, ppData, pcbData);
}

void RegClass::FreeValue(BYTE* pData)
{
    if (pData)
        HeapFree(GetProcessHeap(), 0, pData);
}

LONG RegClass::SetDWORD(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                        DWORD dwValue)
{
    return SetValue(pszKey, pszSubKey, pszValueName, REG_DWORD, (const BYTE*)&dwValue,
                    sizeof(dwValue));
}

LONG RegClass::GetString(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                         const char* pszDefault, char* pszBuf, DWORD cbBuf)
{
    if (!pszBuf || cbBuf == 0)
        return ERROR_INVALID_PARAMETER;
    DWORD cbDefault = pszDefault ? (DWORD)strlen(pszDefault) : 0;
    DWORD cb = cbBuf;
    LONG lResult = GetTypedValue(REG_SZ, pszKey, pszSubKey, pszValueName, (const BYTE*)pszDefault,
                                 cbDefault, (BYTE*)pszBuf, &cb);
    if (lResult == ERROR_SUCCESS)
    {
        // A REG_SZ may be stored without its NUL. When it exactly fills the buffer there is no
        // room to end it: the caller would read past the buffer, so it counts as too long.
        if (cb < cbBuf)
        {
            pszBuf[cb] = '\0';
        }
        else if (pszBuf[cbBuf - 1] != '\0')
        {
            ZeroMemory(pszBuf, cbBuf);
            if (pszDefault)
                memcpy(pszBuf, pszDefault, cbDefault < cbBuf ? cbDefault : cbBuf);
            lResult = ERROR_MORE_DATA;
        }
    }
    // A default as long as the buffer leaves no room for the zero fill to end it.
    pszBuf[cbBuf - 1] = '\0';
    return lResult;
}

LONG RegClass::SetString(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                         const char* pszValue)
{
    if (!pszValue)
        pszValue = "";
    return SetValue(pszKey, pszSubKey, pszValueName, REG_SZ, (const BYTE*)pszValue,
                    (DWORD)strlen(pszValue) + 1);
}

LONG RegClass::GetBinary(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                         const BYTE* pDefault, DWORD cbDefault, BYTE* pBuf, DWORD cbBuf)
{
    return GetTypedValue(REG_BINARY, pszKey, pszSubKey, pszValueName, pDefault, cbDefault, pBuf,
                         &cbBuf);
}

LONG RegClass::SetBinary(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                         const BYTE* pData, DWORD cbData)
{
    return SetValue(pszKey, pszSubKey, pszValueName, REG_BINARY, pData, cbData);
}

LONG RegClass::GetMultiString(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                              const BYTE* pDefault, DWORD cbDefault, BYTE* pBuf, DWORD cbBuf)
{
    return GetTypedValue(REG_MULTI_SZ, pszKey, pszSubKey, pszValueName, pDefault, cbDefault, pBuf,
                         &cbBuf);
}

LONG RegClass::SetMultiString(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                              const BYTE* pData, DWORD cbData)
{
    return SetValue(pszKey, pszSubKey, pszValueName, REG_MULTI_SZ, pData, cbData);
}

LONG RegClass::SetValue(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                        DWORD dwType, const BYTE* pData, DWORD cbData)
{
    char szPath[REG_KEYPATH_SIZE];
    LONG lResult = FormFullPath(pszKey, pszSubKey, szPath);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    char szClass[] = REG_KEY_CLASS;
    HKEY hKey;
    DWORD dwDisposition;
    lResult = RegCreateKeyExA(m_hKey, szPath, 0, szClass, REG_OPTION_NON_VOLATILE, s_samWrite, NULL,
                              &hKey, &dwDisposition);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    lResult = RegSetValueExA(hKey, pszValueName, 0, dwType, pData, cbData);
    RegCloseKey(hKey);
    return lResult;
}

LONG RegClass::SetValueW(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                         DWORD dwType, const BYTE* pData, DWORD cbData)
{
    char szPath[REG_KEYPATH_SIZE];
    LONG lResult = FormFullPath(pszKey, pszSubKey, szPath);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    WCHAR wszName[REG_KEYPATH_SIZE];
    if (pszValueName &&
        !MultiByteToWideChar(CP_ACP, 0, pszValueName, -1, wszName, REG_KEYPATH_SIZE))
        return ERROR_INSUFFICIENT_BUFFER;
    char szClass[] = REG_KEY_CLASS;
    HKEY hKey;
    DWORD dwDisposition;
    lResult = RegCreateKeyExA(m_hKey, szPath, 0, szClass, REG_OPTION_NON_VOLATILE, s_samWrite, NULL,
                              &hKey, &dwDisposition);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    lResult = RegSetValueExW(hKey, pszValueName ? wszName : NULL, 0, dwType, pData, cbData);
    RegCloseKey(hKey);
    return lResult;
}

LONG RegClass::DeleteKeyTree(const char* pszKey, const char* pszName)
{
    char szPath[REG_KEYPATH_SIZE];
    LONG lResult = BuildKeyPath(pszKey, szPath, sizeof(szPath));
    if (lResult != ERROR_SUCCESS)
        return lResult;
    if (!pszName)
        return ERROR_INVALID_PARAMETER;
    HKEY hParent;
    lResult = RegOpenKeyExA(m_hKey, szPath, 0, s_samAll, &hParent);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    lResult = DeleteSubTree(hParent, pszName);
    RegCloseKey(hParent);
    return lResult;
}

LONG RegClass::DeleteSubTree(HKEY hParent, const char* pszPath)
{
    HKEY hKey;
    LONG lResult = RegOpenKeyExA(hParent, pszPath, 0, s_samRead, &hKey);
    if (lResult != ERROR_SUCCESS)
        return lResult;

    char szClass[128];
    DWORD cchClass = sizeof(szClass);
    DWORD cSubKeys = 0;
    DWORD cchMaxSubKey = 0;
    lResult = RegQueryInfoKeyA(hKey, szClass, &cchClass, NULL, &cSubKeys, &cchMaxSubKey, NULL, NULL,
                               NULL, NULL, NULL, NULL);
    if (lResult != ERROR_SUCCESS)
    {
        RegCloseKey(hKey);
        return lResult;
    }
    if (cSubKeys == 0)
    {
        RegCloseKey(hKey);
        return DeleteOneKey(hParent, pszPath);
    }

    size_t cchPath = strlen(pszPath);
    DWORD cchName = cchMaxSubKey + 1;
    size_t cchChild = cchPath + cchMaxSubKey + 4;
    char* pszName = (char*)HeapAlloc(GetProcessHeap(), 0, cchName);
    char* pszChild = (char*)HeapAlloc(GetProcessHeap(), 0, cchChild);
    if (!pszName || !pszChild)
    {
        if (pszName)
            HeapFree(GetProcessHeap(), 0, pszName);
        if (pszChild)
            HeapFree(GetProcessHeap(), 0, pszChild);
        RegCloseKey(hKey);
        return ERROR_NOT_ENOUGH_MEMORY;
    }

    // From the highest index down, so deleting a child does not shift the ones still to come.
    for (DWORD i = cSubKeys; i-- > 0;)
    {
        lResult = RegEnumKeyA(hKey, i, pszName, cchName);
        if (lResult == ERROR_NO_MORE_ITEMS)
            continue;
        if (lResult == ERROR_SUCCESS)
        {
            if (cchPath)
                _snprintf(pszChild, cchChild, "%s\\%s", pszPath, pszName);
            else
                _snprintf(pszChild, cchChild, "%s", pszName);
            pszChild[cchChild - 1] = '\0';
            lResult = DeleteSubTree(hParent, pszChild);
            if (lResult == ERROR_SUCCESS)
                continue;
            // A child key that could not be deleted: its parent cannot be either.
        }
        RegCloseKey(hKey);
        HeapFree(GetProcessHeap(), 0, pszName);
        HeapFree(GetProcessHeap(), 0, pszChild);
        return lResult;
    }

    RegCloseKey(hKey);
    lResult = DeleteOneKey(hParent, pszPath);
    HeapFree(GetProcessHeap(), 0, pszName);
    HeapFree(GetProcessHeap(), 0, pszChild);
    return lResult;
}

LONG RegClass::DeleteValue(const char* pszKey, const char* pszValueName)
{
    char szPath[REG_KEYPATH_SIZE];
    LONG lResult = BuildKeyPath(pszKey, szPath, sizeof(szPath));
    if (lResult != ERROR_SUCCESS)
        return lResult;
    HKEY hKey;
    lResult = RegOpenKeyExA(m_hKey, szPath, 0, s_samAll, &hKey);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    lResult = RegDeleteValueA(hKey, pszValueName);
    RegCloseKey(hKey);
    return lResult;
}

LONG RegClass::CheckKey(const char* pszKey, const char* pszSubKey, REGSAM samWanted)
{
    char szPath[REG_KEYPATH_SIZE];
    LONG lResult = FormFullPath(pszKey, pszSubKey, szPath);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    HKEY hKey;
    lResult = RegOpenKeyExA(m_hKey, szPath, 0, samWanted | PELMORA_KEY_VIEW, &hKey);
    if (lResult == ERROR_SUCCESS)
        RegCloseKey(hKey);
    return lResult;
}

LONG RegClass::QueryKeyInfo(const char* pszKey, const char* pszSubKey, char* pszClass,
                            DWORD* pcchClass, DWORD* pcSubKeys, DWORD* pcchMaxSubKey,
                            DWORD* pcchMaxClass, DWORD* pcValues, DWORD* pcchMaxValueName,
                            DWORD* pcbMaxValueData, DWORD* pcbSecurityDescriptor,
                            FILETIME* pftLastWrite)
{
    HKEY hKey;
    LONG lResult = OpenForRead(pszKey, pszSubKey, &hKey);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    lResult = RegQueryInfoKeyA(hKey, pszClass, pcchClass, NULL, pcSubKeys, pcchMaxSubKey,
                               pcchMaxClass, pcValues, pcchMaxValueName, pcbMaxValueData,
                               pcbSecurityDescriptor, pftLastWrite);
    RegCloseKey(hKey);
    return lResult;
}

LONG RegClass::EnumSubKey(const char* pszKey, const char* pszSubKey, DWORD dwIndex, char* pszName,
                          DWORD* pcchName, char* pszClass, DWORD* pcchClass, FILETIME* pftLastWrite)
{
    HKEY hKey;
    LONG lResult = OpenForRead(pszKey, pszSubKey, &hKey);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    lResult =
        RegEnumKeyExA(hKey, dwIndex, pszName, pcchName, NULL, pszClass, pcchClass, pftLastWrite);
    RegCloseKey(hKey);
    return lResult;
}

LONG RegClass::GetMaxValueLen(const char* pszKey, const char* pszSubKey, DWORD dwUnused,
                              DWORD* pcbMaxLen)
{
    (void)dwUnused;
    HKEY hKey;
    LONG lResult = OpenForRead(pszKey, pszSubKey, &hKey);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    DWORD cbMax = 0;
    lResult =
        RegQueryInfoKeyA(hKey, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, &cbMax, NULL, NULL);
    RegCloseKey(hKey);
    if (lResult == ERROR_SUCCESS && pcbMaxLen)
        *pcbMaxLen = cbMax;
    return lResult;
}

LONG RegClass::Connect(HKEY hRootKey, const char* pszMachine)
{
    Close();
    if (!pszMachine || !*pszMachine)
    {
        m_hKey = hRootKey;
        m_szMachine[0] = '\0';
        return ERROR_SUCCESS;
    }

    // The network name always carries exactly two leading backslashes, however many of the two
    // the caller wrote.
    char szName[REG_MACHINE_SIZE];
    size_t n = 0;
    if (pszMachine[0] != '\\')
        szName[n++] = '\\';
    if (pszMachine[1] != '\\')
        szName[n++] = '\\';
    size_t cch = strlen(pszMachine);
    if (n + cch + 1 > sizeof(szName))
        return ERROR_INSUFFICIENT_BUFFER;
    memcpy(szName + n, pszMachine, cch + 1);

    HKEY hRemote = NULL;
    LONG lResult = RegConnectRegistryA(szName, hRootKey, &hRemote);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    m_hKey = hRemote;
    memcpy(m_szMachine, szName, n + cch + 1);
    return ERROR_SUCCESS;
}

LONG RegClass::Close()
{
    if (m_szMachine[0] == '\0' || m_hKey == NULL)
        return ERROR_SUCCESS;
    LONG lResult = RegCloseKey(m_hKey);
    m_hKey = NULL;
    // The connection RegConnectRegistryA made to the machine's IPC share would outlive us.
    char szIpc[REG_MACHINE_SIZE + 5];
    _snprintf(szIpc, sizeof(szIpc), "%s\\ipc$", m_szMachine);
    szIpc[sizeof(szIpc) - 1] = '\0';
    SysWNetCancelConnection2A(szIpc, 0, FALSE);
    return lResult;
}

RegBaseKeyClass::RegBaseKeyClass(HKEY hRootKey) : RegClass(hRootKey)
{
    m_szBasePath[0] = '\0';
}

RegBaseKeyClass::~RegBaseKeyClass() {}

LONG RegBaseKeyClass::BuildKeyPath(const char* pszKey, char* pszOut, DWORD cbOut)
{
    if (!pszKey || !pszOut || cbOut == 0)
        return ERROR_INVALID_PARAMETER;
    int n;
    if (*pszKey)
        n = _snprintf(pszOut, cbOut, "%s\\%s", m_szBasePath, pszKey);
    else
        n = _snprintf(pszOut, cbOut, "%s", m_szBasePath);
    if (n < 0 || (DWORD)n >= cbOut)
    {
        pszOut[0] = '\0';
        return ERROR_INSUFFICIENT_BUFFER;
    }
    return ERROR_SUCCESS;
}

void RegBaseKeyClass::SetBasePath(const char* pszPath)
{
    MbsCopy(m_szBasePath, sizeof(m_szBasePath), pszPath ? pszPath : "");
}
