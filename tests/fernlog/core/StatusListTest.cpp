#include <QFile>

#include "common/Clock.h"
#include "core/StatusList.h"
#include "db/ErrorLog.h"
#include "support/FernlogFixtures.h"

using StatusListTest = FernlogTest;
using StatusList::ShowStatus;

TEST_F(StatusListTest, SameKeyReplacesLineInPlace) {
    ShowStatus("First ", "a");
    ShowStatus("Connection ", "opened");
    ShowStatus("Last ", "b");
    ShowStatus("Connection ", "closed");
    EXPECT_EQ(StatusList::Lines(), (QStringList{"First a", "Connection closed", "Last b"}));
}

TEST_F(StatusListTest, DeleteInAnyCaseRemovesLineAndMissingKeyChangesNothing) {
    ShowStatus("Connection ", "opened");
    ShowStatus("Other ", "x");
    ShowStatus("Connection ", "DELETE");
    EXPECT_EQ(StatusList::Lines(), QStringList{"Other x"});
    ShowStatus("Other ", "Delete");
    EXPECT_TRUE(StatusList::Lines().isEmpty());
    ShowStatus("Nothing here", "delete");
    EXPECT_TRUE(StatusList::Lines().isEmpty());
}

// Keys are found by substring: the first line from the top that contains the
// key is the one replaced, even when it was written under another key.
TEST_F(StatusListTest, FirstLineContainingKeyIsTheOneReplaced) {
    ShowStatus("Communication with server Door at IP address 127.0.0.2", ": OK");
    ShowStatus("Door", " moved");
    EXPECT_EQ(StatusList::Lines(), QStringList{"Door moved"});
    ShowStatus("Communication Error", "");
    ShowStatus("Error", " x");
    EXPECT_EQ(StatusList::Lines(), (QStringList{"Door moved", "Error x"}));
}

TEST_F(StatusListTest, ListenerSeesAddedAndChangedLinesOnly) {
    QStringList seen;
    StatusList::SetListener([&](const QString& line) { seen << line; });
    ShowStatus("Update Rate ", "60 seconds");
    ShowStatus("Update Rate ", "60 seconds");
    ShowStatus("Update Rate ", "30 seconds");
    ShowStatus("Update Rate ", "delete");
    StatusList::SetListener({});
    EXPECT_EQ(seen, (QStringList{"Update Rate 60 seconds", "Update Rate 30 seconds"}));
}

// Text is stored exactly as passed, quotes included.
