// AppendUniquePathEntry on arbitrary PATH texts under code page 932 or 1252. Input: a mode byte
// (bit 0 the code page, bits 1-2 the engine directory), a room byte (the buffer: exactly
// enough, one byte short, the largest value, or the text with some room), then the PATH text up
// to its first NUL. The checks are those of the stress tests.
#include "FuzzCheck.h"
#include "StressCases.h"

#include <string.h>

static const char* const s_apszDirs[] = {"C:\\PROGRA~1\\QM\\SHARED~1\\SCANEN~1",
                                         "C:\\PROGRA~1\\\x95\x5C\\SCANEN~1", "C:\\QM\\\x83\x5C",
                                         "C:\\\x83\x41\x83\x5C\\B"};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbData)
{
    if (cbData < 2)
        return 0;
    const BYTE bMode = pData[0];
    const BYTE bRoom = pData[1];
    HostSetCodePage((bMode & 1) ? 932 : 1252);
    const std::string strDir = s_apszDirs[(bMode >> 1) & 3];

    const char* pszText = (const char*)pData + 2;
    size_t cchText = strnlen(pszText, cbData - 2);
    if (cchText > 32767)
        cchText = 32767;
    const std::string strBefore(pszText, cchText);
    const std::string strExpected = stress::ExpectedPathText(strBefore, strDir);

    DWORD cbBuffer;
    switch (bRoom & 3)
    {
    case 0:
        cbBuffer = (DWORD)strExpected.size() + 1;
        break;
    case 1:
        cbBuffer = (DWORD)strExpected.size();
        break;
    case 2:
        cbBuffer = 32768;
        break;
    default:
        cbBuffer = (DWORD)strBefore.size() + 1 + (bRoom >> 2);
        break;
    }
    if (cbBuffer < strBefore.size() + 1)
        cbBuffer = (DWORD)strBefore.size() + 1;

    HostLogClear();
    FuzzCheck(stress::PathEntryFault(strBefore, strDir, cbBuffer));
    const bool bNoRoom = strExpected.size() + 1 > cbBuffer;
    if (bNoRoom != (strstr(HostLogText(), "has no room") != NULL))
        FuzzCheck(std::string("log [") + HostLogText() + "] for a value " +
                  (bNoRoom ? "without" : "with") + " room");
    return 0;
}
