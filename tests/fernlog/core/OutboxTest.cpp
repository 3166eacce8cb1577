#include "core/Outbox.h"

#include "support/FernlogFixtures.h"

using OutboxTest = FernlogTest;

// The file keeps every field exactly, line breaks and non-ASCII text too,
// and an entry it cannot use is left out and counted, not guessed at.
TEST_F(OutboxTest, FileKeepsMessagesAndLeavesOutWhatItCannotUse) {
    Outbox::Entry e;
    e.reportFile = "Alarm Email Log.xml";
    e.receipt = Outbox::Receipt::Alarm;
    e.rowId = 9007199254740993;  // beyond a double's exact integers
    e.recipients = {{"", "chef@corvane.test"}, {"IT \"Support\"", "it@corvane.test"}};
    e.subject = "Sensor: Kühlraum has generated an alarm!";
    e.fromName = "Corvane Vantor";
    e.fromAddress = "monitor@corvane.test";
    e.body = "line one\rline two\r\n\ttab";
    Outbox::Entry f = e;
    f.receipt = Outbox::Receipt::None;
    f.errorFunction = "SendTextEmail";
    std::vector<Outbox::Entry> back;
    QString error;
    ASSERT_TRUE(Outbox::Decode(Outbox::Encode({e, f}), back, &error));
    EXPECT_TRUE(error.isEmpty());
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].rowId, e.rowId);
    EXPECT_EQ(back[0].receipt, Outbox::Receipt::Alarm);
    EXPECT_EQ(back[0].recipients[1].name, "IT \"Support\"");
    EXPECT_EQ(back[0].subject, e.subject);
    EXPECT_EQ(back[0].body, e.body);
    EXPECT_EQ(back[1].errorFunction, "SendTextEmail");

    // A report name that leaves the program directory, a receipt not known,
    // no recipient: left out.
    Outbox::Entry escape = e;
    escape.reportFile = "../../etc/passwd";
    Outbox::Entry noOne = e;
    noOne.recipients.clear();
    QByteArray bytes = Outbox::Encode({escape, e, noOne});
    ASSERT_TRUE(Outbox::Decode(bytes, back, &error));
    EXPECT_EQ(back.size(), 1u);
    EXPECT_EQ(error, "FernlogOutbox.dat: 2 message(s) not understood, left out");
    bytes = Outbox::Encode({e});
    bytes.replace("\"alarm\"", "\"pager\"");
    ASSERT_TRUE(Outbox::Decode(bytes, back, &error));
    EXPECT_TRUE(back.empty());

    // A file cut short is not an outbox.
    EXPECT_FALSE(Outbox::Decode(Outbox::Encode({e}).left(40), back, &error));
    EXPECT_TRUE(error.startsWith("FernlogOutbox.dat is not an outbox")) << error.toStdString();
}
