// A request to a receiver that misbehaves costs a bounded time and memory.
#include <gtest/gtest.h>

#include <QTest>

#include "core/WebRequest.h"
#include "support/WebReceiver.h"

TEST(WebRequestTest, RedirectsAwayOrInALoopAreNotFollowedAndAHugeAnswerIsCut) {
    WebReceiver elsewhere;
    WebReceiver away({302});
    away.headers =
        "Location: " + elsewhere.Url().replace("127.0.0.1", "localhost").toUtf8() + "\r\n";
    WebReceiver loop({307});
    loop.headers = "Location: " + loop.Url().toUtf8() + "\r\n";
    WebReceiver huge({200});
    huge.body = QByteArray(1 << 20, 'x');

    const auto send = [](const WebReceiver& to) {
        WebRequest::Request r;
        r.url = QUrl(to.Url());
        r.timeoutMs = 10000;
        return WebRequest::SendAndWait(r);
    };
    const WebRequest::Answer redirected = send(away);
    EXPECT_FALSE(redirected.Success());
    EXPECT_TRUE(elsewhere.Requests().empty());
    const WebRequest::Answer looped = send(loop);
    EXPECT_FALSE(looped.Success());
    EXPECT_FALSE(looped.error.isEmpty());
    EXPECT_LT(loop.Requests().size(), size_t(4 * WebRequest::kMaxRedirects));
    const WebRequest::Answer cut = send(huge);
    EXPECT_EQ(cut.status, 200);
    EXPECT_TRUE(cut.cut);
    EXPECT_EQ(cut.text.size(), WebRequest::kKeptAnswerBytes);
    EXPECT_EQ(WebRequest::Running(), 0);
}
