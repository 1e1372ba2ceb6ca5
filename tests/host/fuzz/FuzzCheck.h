// What every fuzz target does with a fault of its checks: print it and abort, so libFuzzer keeps
// the input as a crash.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <string>

inline void FuzzCheck(const std::string& strFault)
{
    if (strFault.empty())
        return;
    fprintf(stderr, "fault: %s\n", strFault.c_str());
    abort();
}
