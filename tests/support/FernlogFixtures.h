#pragma once

#include "support/FernlogState.h"
#include "support/Fixtures.h"

// A fernlog test: its own program directory, and every module's program-wide
// state as at a fresh start (settings record, link flags, decoded readings,
// polling and start-up flags, status list and grid), before and after the test.
class FernlogTest : public ProgramDirTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Settings that validate as they are, stored in the directory, so that
    // start-up shows only the lines a test is about.
    void WriteValidSettings(int updateRate);
};
