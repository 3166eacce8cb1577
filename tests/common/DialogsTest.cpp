#include <gtest/gtest.h>

#include "common/Dialogs.h"

using namespace Dialogs;

// Without a handler nobody can answer: a service must never be stopped or
// changed by a question nobody sees.
TEST(DialogsTest, ConsoleTakesTheSafeDefault) {
    SetHandler({});
    EXPECT_EQ(Message(QStringLiteral("Close?"), Buttons::YesNo), Answer::No);
    EXPECT_EQ(Message(QStringLiteral("Save?"), Buttons::YesNoCancel), Answer::No);
    EXPECT_EQ(Message(QStringLiteral("Note")), Answer::Ok);
    EXPECT_EQ(Message(QStringLiteral("Retry?"), Buttons::RetryCancel), Answer::Cancel);
    EXPECT_EQ(Input(QStringLiteral("Address?")), std::nullopt);
}

TEST(DialogsTest, HandlerSeesTheRequestWithTheDefaultTitle) {
    SetDefaultTitle(QStringLiteral("Program"));
    std::vector<Request> seen;
    SetHandler([&seen](const Request& request) {
        seen.push_back(request);
        return Reply{Answer::Ok, QStringLiteral("10.0.0.1")};
    });
    EXPECT_EQ(Input(QStringLiteral("Address?"), QString(), QStringLiteral("1.2.3.4")),
              QStringLiteral("10.0.0.1"));
    EXPECT_EQ(Message(QStringLiteral("Saved"), Buttons::Ok, Icon::Information,
                      QStringLiteral("Own title")),
              Answer::Ok);
    SetHandler({});
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].kind, Request::Kind::Input);
    EXPECT_EQ(seen[0].title, QStringLiteral("Program"));
    EXPECT_EQ(seen[0].initial, QStringLiteral("1.2.3.4"));
    EXPECT_EQ(seen[1].title, QStringLiteral("Own title"));
}
