#include <gtest/gtest.h>

#include "core/Polling.h"

TEST(PollingRulesTest, TicksAndAttempts) {
    EXPECT_EQ(Polling::TicksFor(5), 1);
    EXPECT_EQ(Polling::TicksFor(7), 1);
    EXPECT_EQ(Polling::TicksFor(12), 2);
    EXPECT_EQ(Polling::TicksFor(13), 3);
    EXPECT_EQ(Polling::TicksFor(60), 12);
    EXPECT_EQ(Polling::TicksFor(63), 13);
    EXPECT_EQ(Polling::AttemptsFor(0), 3);
    EXPECT_EQ(Polling::AttemptsFor(6), 3);
    EXPECT_EQ(Polling::AttemptsFor(1), 1);
    EXPECT_EQ(Polling::AttemptsFor(5), 5);
}
