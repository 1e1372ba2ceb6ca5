// The [Rename] line placed into arbitrary WININIT.INI contents. Input: a length byte n, then n
// bytes of the line, then the content (any bytes, NUL included). The checks are those of the
// stress tests.
#include "FuzzCheck.h"
#include "StressCases.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbData)
{
    if (cbData < 1)
        return 0;
    size_t cchLine = pData[0];
    if (cchLine > cbData - 1)
        cchLine = cbData - 1;
    const std::string strLine((const char*)pData + 1, cchLine);
    const std::string strBefore((const char*)pData + 1 + cchLine, cbData - 1 - cchLine);
    FuzzCheck(stress::WinInitFault(strBefore, strLine));
    return 0;
}
