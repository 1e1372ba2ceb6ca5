// The stand-in companion components as tests drive them: registered with regsvr32 and given
// their answers through their data keys (CompanionData.h).
#pragma once

#include <windows.h>

#include <string>

namespace harness
{

// Runs the regsvr32 of the DLL's own bitness silently on strDll (a full path) and returns its
// exit code: a 64-bit test process finds the 32-bit regsvr32 in the WOW64 system directory, so
// a 32-bit component is registered in the 32-bit view.
DWORD RunRegsvr32(const std::string& strDll, bool bUnregister);

// Stores one value under a component's data key (HKEY_CURRENT_USER), creating the key.
void SetCompanionValue(const char* pszKey, const char* pszName, DWORD dwType, const void* pData,
                       DWORD cbData);

// Objects the component with data key pszKey has created since the key was last deleted.
DWORD CompanionInstances(const char* pszKey);

// Removes the data keys of both components.
void ClearCompanionData();

} // namespace harness
