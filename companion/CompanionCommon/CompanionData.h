// Where the stand-in components keep the data that drives their answers, below
// HKEY_CURRENT_USER. Tests write it to make the companion product present, absent, empty or
// failing; each component also counts the objects it creates, so a test can tell whether it was
// asked at all.
#pragma once

#define COMPANION_A_DATA_KEY "Software\\Quillmark Companion\\Component A"
#define COMPANION_B_DATA_KEY "Software\\Quillmark Companion\\Component B"

// Component A: the product list (REG_MULTI_SZ; absent when the product is not installed, empty
// for an installed product without entries; a REG_SZ is reported as a single string, not as an
// array). Component B: the record's path (REG_SZ).
#define COMPANION_VALUE_PRODUCTS "Products"
#define COMPANION_VALUE_PATH "Path"
// The HRESULT the component's method returns (REG_DWORD). Component A returns S_OK without it;
// component B, whose product is not installed without it, returns E_FAIL.
#define COMPANION_VALUE_RESULT "Result"
// Objects created so far (REG_DWORD), written by the component.
#define COMPANION_VALUE_INSTANCES "Instances"
