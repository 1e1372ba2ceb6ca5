// The two in-process components of the companion product, as that product publishes them: their
// class and interface identifiers and the layout of the interfaces the probe calls.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

// {BBD03DC8-05C2-4F01-883F-B7259EA0DE1C}
inline const CLSID CLSID_CompanionA = {
    0xbbd03dc8, 0x05c2, 0x4f01, {0x88, 0x3f, 0xb7, 0x25, 0x9e, 0xa0, 0xde, 0x1c}};
// {D0BB747F-314E-4CAC-B5F1-10A1D16B7EC8}
inline const IID IID_ICompanionA = {
    0xd0bb747f, 0x314e, 0x4cac, {0xb5, 0xf1, 0x10, 0xa1, 0xd1, 0x6b, 0x7e, 0xc8}};
// {779E7B36-1D40-4575-B4E8-FFCB38B15484}
inline const CLSID CLSID_CompanionB = {
    0x779e7b36, 0x1d40, 0x4575, {0xb4, 0xe8, 0xff, 0xcb, 0x38, 0xb1, 0x54, 0x84}};
// {107F2776-B41C-48EB-B0DA-254C28A7C579}
inline const IID IID_ICompanionB = {
    0x107f2776, 0xb41c, 0x48eb, {0xb0, 0xda, 0x25, 0x4c, 0x28, 0xa7, 0xc5, 0x79}};

// Component A. The probe calls only GetProductList, the eighth entry of the method table: on
// success the VARIANT carries a SAFEARRAY of the product's list, or stays empty when the product
// is not installed.
struct ICompanionA : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE GetVersion(DWORD* pdwVersion) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInstallDir(BSTR* pbstrDir) = 0;
    virtual HRESULT STDMETHODCALLTYPE Refresh() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetState(DWORD* pdwState) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProductList(VARIANT* pvarList) = 0;
};

// The caller-owned area that component B fills: 260 bytes and 2364 bytes, 2624 in all.
struct COMPANION_RECORD
{
    char szPath[260];
    BYTE abDetails[2364];
};
static_assert(sizeof(COMPANION_RECORD) == 2624, "the record's size is part of the interface");

// Component B. QueryRecord, the fourth entry, succeeds when the product is present; it expects
// the area zero-filled.
struct ICompanionB : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE QueryRecord(COMPANION_RECORD* pRecord) = 0;
};
