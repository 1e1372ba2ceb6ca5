// Fixture of the in-process tests: a reset machine, the program's flags at their initial values,
// a fresh log banner and every seam entry at its real function.
#pragma once

#include "Harness.h"

#include "install/install.h"
#include "support/support.h"

// Restores every seam entry when it goes out of scope, so a failing test cannot leak a fake.
class SeamGuard
{
  public:
    SeamGuard() = default;
    SeamGuard(const SeamGuard&) = delete;
    SeamGuard& operator=(const SeamGuard&) = delete;
    ~SeamGuard()
    {
        SeamRestoreAll();
    }
};

class UnitTest : public harness::PelmoraTest
{
  protected:
    void SetUp() override
    {
        harness::PelmoraTest::SetUp();
        SeamRestoreAll();
        ResetGlobals();
        g_nLogState = -1;
    }
    void TearDown() override
    {
        SeamRestoreAll();
        harness::PelmoraTest::TearDown();
    }
    SeamGuard m_seam;
};
