// The stress cases as GoogleTest checks, for the Wine unit tests and the native sanitizer tests
// alike: each draws one case from StressCases.h and fails the test with the case's fault.
#pragma once

#include <gtest/gtest.h>

#include "StressCases.h"

namespace stress
{

// One random PATH text around strDir, edited and checked against the model.
inline void CheckPathCase(Rng& rng, const std::string& strDir, bool bDoubleByte)
{
    std::string strBefore;
    DWORD cbBuffer;
    RandomPathCase(rng, strDir, bDoubleByte, &strBefore, &cbBuffer);
    std::string strFault = PathEntryFault(strBefore, strDir, cbBuffer);
    ASSERT_TRUE(strFault.empty()) << strFault;
}

// One random argument text, parsed and checked, then the same text behind a program name as a
// whole command line. *pnAccepted counts the texts the parser took, so a run can show it reached
// that branch. The caller resets the process-wide flags before each case.
inline void CheckArgumentCase(Rng& rng, bool bDoubleByte, int* pnAccepted)
{
    std::string strText = RandomArgumentText(rng, bDoubleByte);
    g_bDefaultArgs = (int)rng.Below(2);
    bool bAccepted = false;
    std::string strFault = ArgumentFault(strText, &bAccepted);
    ASSERT_TRUE(strFault.empty()) << strFault;
    if (bAccepted)
        (*pnAccepted)++;

    strFault = ArgumentTextFault(RandomCommandLine(rng, strText));
    ASSERT_TRUE(strFault.empty()) << strFault;
}

} // namespace stress
