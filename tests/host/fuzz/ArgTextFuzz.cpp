// ParseCmdLine and GetArgumentText on arbitrary argument texts under code page 932 or 1252.
// Input: a mode byte (bit 0 the code page, bit 1 default mode, bit 2 configuration mode, bits
// 3-4 the program name in front for GetArgumentText, bit 5 a tab and a control byte after it),
// then the text up to its first NUL. The checks are those of the stress tests.
#include "FuzzCheck.h"
#include "StressCases.h"

#include <string.h>

static const char* const s_apszNames[] = {"\"C:\\Program Files\\Q M\\Pelmora.exe\"", "Pelmora.exe",
                                          "\"unclosed name", ""};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbData)
{
    if (cbData < 1)
        return 0;
    const BYTE bMode = pData[0];
    HostSetCodePage((bMode & 1) ? 932 : 1252);
    g_bSilent = 1;
    g_dwEngIDs = BOTH_OSKA_BRIN;
    g_bDefaultArgs = (bMode >> 1) & 1;
    g_bCfgMode = (bMode >> 2) & 1;

    const char* pszText = (const char*)pData + 1;
    const std::string strText(pszText, strnlen(pszText, cbData - 1));
    bool bAccepted;
    HostLogClear();
    FuzzCheck(stress::ArgumentFault(strText, &bAccepted));

    std::string strLine = s_apszNames[(bMode >> 3) & 3];
    strLine += (bMode & 0x20) ? "\t\x01" : " ";
    FuzzCheck(stress::ArgumentTextFault(strLine + strText));
    return 0;
}
