#include <QAbstractItemModel>
#include <QDateTimeAxis>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStringListModel>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QValueAxis>

#include "app/ui/TrendChart.h"
#include "app/ui/frmMain.h"
#include "app/ui/frmSplash.h"
#include "common/Clock.h"
#include "core/DeviceLink.h"
#include "core/Polling.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "core/StatusGrid.h"
#include "core/StatusList.h"
#include "db/ErrorLog.h"
#include "db/ServerDatabase.h"
#include "support/FernlogFixtures.h"

TEST(SplashTest, ShowsTheVersionAndClosesOnAClick) {
    frmSplash splash;
    splash.show();
    EXPECT_EQ(splash.lblVersion->text(), "Version " + Startup::VersionText());
    EXPECT_EQ(splash.lblProductName->text(), "Fernlog");
    QSignalSpy closed(&splash, &frmSplash::Closed);
    QTest::mouseClick(&splash, Qt::LeftButton);
    EXPECT_EQ(closed.count(), 1);
    EXPECT_FALSE(splash.isVisible());
}
