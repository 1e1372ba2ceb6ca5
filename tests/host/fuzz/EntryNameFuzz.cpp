// The manifest's entry names joined to the engine directory, under code page 932 or 1252. Input:
// a mode byte (bit 0 the code page, bits 1-2 the directory, bit 3 the "000" suffix), then the
// name up to its first NUL. The checks are those of the native stress test.
#include "EntryNameCases.h"
#include "FuzzCheck.h"

#include <string.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbData)
{
    if (cbData < 1)
        return 0;
    const BYTE bMode = pData[0];
    HostSetCodePage((bMode & 1) ? 932 : 1252);
    const char* pszName = (const char*)pData + 1;
    const std::string strName(pszName, strnlen(pszName, cbData - 1));
    FuzzCheck(
        stress::EntryNameFault(stress::EntryDir(bMode >> 1), strName, (bMode & 8) ? "000" : NULL));
    return 0;
}
