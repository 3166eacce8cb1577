#include <gtest/gtest.h>

#include "core/Timings.h"

TEST(TimingsTest, TestVariableIsTakenExactlyOrRefusedWhole) {
    Timings t;
    ASSERT_TRUE(Waits::Parse(QStringLiteral("connect=200, answer=150,tick=50,stop=900"), t));
    EXPECT_EQ(t.connectMs, 200);
    EXPECT_EQ(t.answerMs, 150);
    EXPECT_EQ(t.tickMs, 50);
    EXPECT_EQ(t.stopMs, 900);
    // What is not given keeps the program's own wait.
    ASSERT_TRUE(Waits::Parse(QStringLiteral("tick=40"), t));
    EXPECT_EQ(t.connectMs, Timings().connectMs);
    EXPECT_EQ(t.answerMs, 0);
    EXPECT_EQ(t.tickMs, 40);

    const Timings before = t;
    for (const char* text : {"", "connect", "connect=", "connect=0", "connect=2s", "tick=-5",
                             "answer=600001", "wait=100", "tick=50,tick=60", "tick=50;answer=9"}) {
        QString error;
        EXPECT_FALSE(Waits::Parse(QString::fromLatin1(text), t, &error)) << text;
        EXPECT_FALSE(error.isEmpty()) << text;
        EXPECT_EQ(t.tickMs, before.tickMs) << text;
    }
    QString error;
    Waits::Parse(QStringLiteral("connect=fast"), t, &error);
    EXPECT_EQ(error, QStringLiteral("connect must be 1-600000 milliseconds, not 'fast'"));
}
