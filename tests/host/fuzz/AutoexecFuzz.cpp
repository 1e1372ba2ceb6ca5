// The C:\AUTOEXEC.BAT content edits on arbitrary contents under code page 932 or 1252. Input: a
// mode byte (bit 0 the code page, bits 1-2 the engine directory, bit 3 the scanner line), then the
// content (any bytes, NUL and Ctrl-Z included). The checks are those of the native stress test:
// the install keeps the user's lines, the removal takes only this directory's, and the removal
// after the install gives the user's lines back.
#include "AutoexecCases.h"
#include "FuzzCheck.h"

static const char* const s_apszShorts[] = {"C:\\PROGRA~1\\QM\\SHARED~1\\SCANEN~1", "C:\\ENGINE",
                                           "C:\\QM\\\x83\x5C", "C:\\\x83\x41\x83\x5C\\B"};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbData)
{
    if (cbData < 1)
        return 0;
    const BYTE bMode = pData[0];
    HostSetCodePage((bMode & 1) ? 932 : 1252);
    const std::string strShort = s_apszShorts[(bMode >> 1) & 3];
    const std::string strBefore((const char*)pData + 1, cbData - 1);
    HostLogClear();
    FuzzCheck(stress::AutoexecFault(strBefore, strShort, (bMode & 8) != 0));
    return 0;
}
