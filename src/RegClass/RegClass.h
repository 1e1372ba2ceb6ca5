// The registry class hierarchy: every registry access the program makes through an object.
//
// RegClass wraps a root key (a predefined key of this machine, or of another machine reached with
// Connect). RegBaseKeyClass binds it to a base key path, so callers name only a value and at most
// a key and a subkey below that base. Every operation resolves its path, opens or creates the key,
// acts and closes the key before it returns; only the root handle outlives a call.
//
// Key addressing: the full path below the root is BuildKeyPath(key), then "\" and subKey when
// subKey is given and not empty, formed in a buffer of REG_KEYPATH_SIZE bytes. A path that does
// not fit is refused with 122 and the registry is not touched.
//
// Results are Win32 error numbers (0 for success). The class produces 87 for a bad argument, 122
// for a path or name that does not fit and 1804 for a value of another type; every other number
// comes from the platform. Nothing is logged here: callers log.
#pragma once

#include <windows.h>

// Size of every key path buffer of the class: a full key path holds at most 255 characters.
#define REG_KEYPATH_SIZE 256
// m_szMachine: "\\" and a machine name of at most 28 characters.
#define REG_MACHINE_SIZE 31
// Class name given to every key the class creates.
#define REG_KEY_CLASS "QmRegData"

class RegClass
{
  public:
    explicit RegClass(HKEY hRootKey);
    // Releases a remote binding; a predefined root is never closed.
    virtual ~RegClass();

    // Forms the path for key into pszOut (cbOut bytes). 87 for a null key or output, 122 when the
    // key does not fit with its NUL.
    virtual LONG BuildKeyPath(const char* pszKey, char* pszOut, DWORD cbOut);

    // 1 when the value exists below BuildKeyPath(key), else 0; the lookup's error number (0 when
    // it exists) is stored through pdwResult when it is given.
    virtual BOOL ValueExists(const char* pszKey, const char* pszValueName, DWORD* pdwResult);

    virtual LONG SetDWORD(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                          DWORD dwValue);

    // Reads a REG_SZ value into pszBuf (cbBuf bytes). On any failure, including a string that does
    // not fit with its NUL (234), the whole buffer is zero-filled and the default (may be null) is
    // copied over it, cut to the buffer. On success the buffer is always NUL-terminated.
    virtual LONG GetString(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                           const char* pszDefault, char* pszBuf, DWORD cbBuf);
    // Writes a REG_SZ value with its NUL; a null string is written as "" (1 byte).
    virtual LONG SetString(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                           const char* pszValue);

    // Reads the value as stored, whatever its type, with no default and no termination: the
    // type through pdwType, the bytes into pBuf. *pcbBuf is the buffer's size on entry and the
    // stored size on return, also with 234 when the bytes do not fit (the buffer's content is
    // then not to be used). 87 for a null type, buffer or size; a missing key or value is 2.
    virtual LONG QueryValue(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                            DWORD* pdwType, BYTE* pBuf, DWORD* pcbBuf);

    // Reads a REG_DWORD into *pdwValue, which is left as it was on any failure: 0, 2 for a
    // missing key or value, 1804 for a value of another type, 87 for a null output.
    virtual LONG ReadDWORD(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                           DWORD* pdwValue);

    // Reads a REG_SZ or REG_EXPAND_SZ value into pszBuf (cbBuf bytes), its type through pdwType
    // when given (REG_NONE when the query failed). The buffer always ends with a NUL: it holds ""
    // after any failure, including 234 for a string that does not fit with its NUL and 1804 for
    // another type.
    virtual LONG ReadText(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                          char* pszBuf, DWORD cbBuf, DWORD* pdwType);

    // Reads the value as stored, whatever its size, into a buffer of the process heap that
    // *ppData receives: the stored bytes (*pcbData of them) and then four zero bytes, so that
    // narrow and UTF-16 text always ends however it was stored. The caller frees the buffer
    // with FreeValue. On failure *ppData is NULL and *pcbData 0; a missing key or value is 2.
    // The W form reads through the UTF-16 calls: string types come back as UTF-16.
    virtual LONG ReadValueAlloc(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                                DWORD* pdwType, BYTE** ppData, DWORD* pcbData);
    virtual LONG ReadValueAllocW(const char* pszKey, const char* pszSubKey,
                                 const char* pszValueName, DWORD* pdwType, BYTE** ppData,
                                 DWORD* pcbData);
    static void FreeValue(BYTE* pData);
    // SetValue through the UTF-16 calls: string data is UTF-16.
    virtual LONG SetValueW(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                           DWORD dwType, const BYTE* pData, DWORD cbData);

    // REG_BINARY and REG_MULTI_SZ reads with the same default fill as GetString (the default is
    // cbDefault bytes and may be null).
    virtual LONG GetBinary(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                           const BYTE* pDefault, DWORD cbDefault, BYTE* pBuf, DWORD cbBuf);
    virtual LONG SetBinary(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                           const BYTE* pData, DWORD cbData);
    virtual LONG GetMultiString(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                                const BYTE* pDefault, DWORD cbDefault, BYTE* pBuf, DWORD cbBuf);
    virtual LONG SetMultiString(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                                const BYTE* pData, DWORD cbData);

    // Deletes pszName below BuildKeyPath(key) with all its subkeys: 0 when the tree is gone, else
    // the error number of the step that failed (a subkey that cannot go keeps its parents).
    virtual LONG DeleteKeyTree(const char* pszKey, const char* pszName);

    // Deletes a value of the key BuildKeyPath(key); a missing key or value is 2.
    virtual LONG DeleteValue(const char* pszKey, const char* pszValueName);

    // Opens the key of key and subKey with the rights samWanted (the registry view is added) and
    // closes it again: 0 when the key is there and grants them, else the error number.
    virtual LONG CheckKey(const char* pszKey, const char* pszSubKey, REGSAM samWanted);

    // RegQueryInfoKeyA on the key; the outputs are passed through in its order.
    virtual LONG QueryKeyInfo(const char* pszKey, const char* pszSubKey, char* pszClass,
                              DWORD* pcchClass, DWORD* pcSubKeys, DWORD* pcchMaxSubKey,
                              DWORD* pcchMaxClass, DWORD* pcValues, DWORD* pcchMaxValueName,
                              DWORD* pcbMaxValueData, DWORD* pcbSecurityDescriptor,
                              FILETIME* pftLastWrite);

    // RegEnumKeyExA on the key for dwIndex; 259 past the last subkey.
    virtual LONG EnumSubKey(const char* pszKey, const char* pszSubKey, DWORD dwIndex, char* pszName,
                            DWORD* pcchName, char* pszClass, DWORD* pcchClass,
                            FILETIME* pftLastWrite);

    // The longest value data of the key in bytes, stored through pcbMaxLen only on success.
    virtual LONG GetMaxValueLen(const char* pszKey, const char* pszSubKey, DWORD dwUnused,
                                DWORD* pcbMaxLen);

    // Creates missing keys on the path (class "QmRegData") and writes the value.
    virtual LONG SetValue(const char* pszKey, const char* pszSubKey, const char* pszValueName,
                          DWORD dwType, const BYTE* pData, DWORD cbData);

    // Binds the object to hRootKey of the named machine, or of this machine when the name is null
    // or empty. The name may carry zero, one or two leading backslashes; it is stored with two.
    // 122 for a name that does not fit m_szMachine, else 0 or the platform's error.
    LONG Connect(HKEY hRootKey, const char* pszMachine);
    // Ends a remote binding: 0 when there was none, else the result of closing the root.
    LONG Close();

    const char* GetMachine() const
    {
        return m_szMachine;
    }
    HKEY GetRootKey() const
    {
        return m_hKey;
    }

  protected:
    // The full key path of key and subKey into szPath (REG_KEYPATH_SIZE bytes).
    LONG FormFullPath(const char* pszKey, const char* pszSubKey, char* szPath);
    // Opens the key of key and subKey for reading into *phKey, which the caller closes; the
    // result of the path or of the open.
    LONG OpenForRead(const char* pszKey, const char* pszSubKey, HKEY* phKey);
    // ReadValueAlloc and ReadValueAllocW: the value through the narrow or the UTF-16 calls.
    LONG ReadAlloc(const char* pszKey, const char* pszSubKey, const char* pszValueName, BOOL bWide,
                   DWORD* pdwType, BYTE** ppData, DWORD* pcbData);
    // Common body of the typed reads (see GetString for the default fill).
    LONG GetTypedValue(DWORD dwType, const char* pszKey, const char* pszSubKey,
                       const char* pszValueName, const BYTE* pDefault, DWORD cbDefault, BYTE* pBuf,
                       DWORD* pcbBuf);
    // Deletes pszPath (relative to hParent) and its subtree; results as DeleteKeyTree.
    LONG DeleteSubTree(HKEY hParent, const char* pszPath);

    char m_szMachine[REG_MACHINE_SIZE];
    HKEY m_hKey;
};

class RegBaseKeyClass : public RegClass
{
  public:
    explicit RegBaseKeyClass(HKEY hRootKey);
    ~RegBaseKeyClass() override;

    // m_szBasePath, then "\" and key when key is not empty: an empty key is the base key itself.
    // 87 for a null key or output or a zero size, 122 when the result does not fit.
    LONG BuildKeyPath(const char* pszKey, char* pszOut, DWORD cbOut) override;

    // Keeps at most 255 characters of pszPath; a longer path is cut. A null path clears it.
    void SetBasePath(const char* pszPath);
    const char* GetBasePath() const
    {
        return m_szBasePath;
    }

  protected:
    char m_szBasePath[REG_KEYPATH_SIZE];
};
