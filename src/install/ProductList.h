// The product lists of the shared-engine record, under SOFTWARE\Quillmark\ScanEngine:
// ProductList, which every product of the suite reads, and UnlistedProducts, Pelmora's own, for
// the products that ProductList had no room for. Both hold the names in upper case, each followed
// by a bar, the whole list opened by a bar: |A|B|. Another product's setup or an administrator
// may have stored a list as REG_EXPAND_SZ or REG_MULTI_SZ; every run reads it as the text it
// holds, so the update and the removal always agree on who is listed.
//
// Every routine that touches the registry goes through the caller's registry object and sets its
// base path to SOFTWARE\Quillmark\ScanEngine. Nothing is logged here: callers log.
#pragma once

#include <windows.h>

#include "../RegClass/RegClass.h"

#define LIST_PRODUCTLIST "ProductList"
#define LIST_UNLISTED "UnlistedProducts"

// The longest list value read; ProductList itself is bound to 259 characters by every reader.
#define LIST_VALUE_SIZE 1024

// A list value as stored.
struct LIST_VALUE
{
    LONG lRead;                   // the read's result: 0, 2 for an absent value, or its error
    DWORD dwType;                 // the stored type (REG_NONE when not read)
    DWORD cb;                     // the stored bytes (0 when not read)
    BYTE ab[LIST_VALUE_SIZE + 2]; // room for two NULs after them, so the text always ends
};

// Reads the list pszName as stored: its type and its bytes, up to LIST_VALUE_SIZE. Returns
// pValue->lRead: 0; 2 when the key or the value is absent; 234 when it is longer; or the
// registry's error. Whatever the result, pValue is filled (cb 0 and all NULs on failure).
LONG ReadListValue(RegBaseKeyClass* pReg, const char* pszName, LIST_VALUE* pValue);

// Writes pValue back to the list pszName with the type and bytes it holds. Returns the
// registry's error number.
LONG WriteListValue(RegBaseKeyClass* pReg, const char* pszName, const LIST_VALUE* pValue);

// The text a value holds: up to its first NUL for REG_SZ and REG_EXPAND_SZ, the first string of
// a REG_MULTI_SZ. "" for any other type (a number or binary data names no product), an absent
// value or one that could not be read. Never null.
const char* ListValueText(const LIST_VALUE* pValue);

// The text as a reader of MAX_PATH characters takes it, as the update reads the lists. Returns 0
// with *ppszText the text of any string type; else *ppszText is "" and the result is 2 for an
// absent value, 234 when the stored bytes do not fit MAX_PATH with their NUL, 1804 for a value
// that is not a string, or the read's error.
LONG ListValueBoundText(const LIST_VALUE* pValue, const char** ppszText);

// TRUE when szProductName is a whole entry of pszText (at most LIST_VALUE_SIZE characters are
// looked at): "|NAME|" anywhere in it, both sides upper-cased by the multibyte rules.
BOOL FindListEntry(const char* pszText, const char* szProductName);

// TRUE when pszText names a product: it holds anything but bars.
BOOL ListNamesProduct(const char* pszText);

// Forms into szOut (MAX_PATH bytes) pszStored with the name and one bar appended, or a fresh
// |NAME| when pszStored is empty; no case is changed. FALSE, szOut undefined, when the result
// would pass the 259 characters every reader takes.
BOOL AppendListEntry(char* szOut, const char* pszStored, const char* szProductName);

// Takes every whole entry of szProductName (the name and the bar that closes it, any case) out
// of the value's text, every other byte and the type kept; a text left with nothing but bars is
// made empty. Returns TRUE when something was taken out (the value is then to be written back).
BOOL TakeListEntryOut(LIST_VALUE* pValue, const char* szProductName);
