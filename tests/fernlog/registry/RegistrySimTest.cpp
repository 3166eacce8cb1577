// Device exchanges of the registry against simulated devices on port 10001:
// clock and log, name page, factory reset, and devices that misbehave.
#include "common/Clock.h"
#include "core/Decoding.h"
#include "core/Settings.h"
#include "protocol/Commands.h"
#include "registry/Ds1337.h"
#include "registry/Registry.h"
#include "support/FernlogFixtures.h"
#include "support/FixedPorts.h"
#include "support/SimDevices.h"

class RegistrySimTest : public FernlogTest {
  protected:
    void SetUp() override {
        FernlogTest::SetUp();
        SKIP_IF_PORTS_HELD(LoopbackTcp10001());
        ProvisionDatabase();
        ConfigParameters.TCPTimeOut = 2;
    }
    void TearDown() override {
        devices.clear();
        Clock::SetForTest(QDateTime());
        FernlogTest::TearDown();
    }
    devsim::Device* Start(devsim::Model model, std::optional<quint16> build = {}) {
        devsim::DeviceConfig config;
        config.address = QHostAddress(QStringLiteral("127.0.0.2"));
        config.model = model;
        config.build = build;
        config.name = QStringLiteral("Walk-in");
        return device = &devices.Start(config);
    }
    const QString ip = QStringLiteral("127.0.0.2");
    SimDevices devices;
    devsim::Device* device = nullptr;
};

TEST_F(RegistrySimTest, ClockStoredAndReadBack) {
    Start(devsim::Model::Zolo605);
    Clock::SetForTest({QDate(2009, 3, 7), QTime(16, 5, 0)});
    QByteArray result;
    ASSERT_TRUE(Ds1337::StoreDateTime(ip, 15, result));
    EXPECT_EQ(device->lastRequest().mid(4, 8).toHex(' '), "00 05 64 07 07 03 09 0f");
    EXPECT_EQ(device->logRate(), 15);
    EXPECT_EQ(device->clock().date(), QDate(2009, 3, 7));
    QString text;
    EXPECT_TRUE(Ds1337::DecodeClockText(result, Ds1337::ClockLayout::kMinutes, text));
    EXPECT_TRUE(text.startsWith("3/7/2009 4:05:0")) << text.toStdString();

    // Midnight is read back as the chip keeps it, 12 AM.
    Clock::SetForTest({QDate(2026, 2, 1), QTime(0, 30, 0)});
    ASSERT_TRUE(Ds1337::StoreDateTime(ip, 5, result));
    QString date;
    int rate = 0;
    qint32 size = -1;
    ASSERT_TRUE(Ds1337::ReadLogParameters(ip, date, rate, size));
    EXPECT_TRUE(date.startsWith("2/1/2026 12:30:0")) << date.toStdString();
    EXPECT_TRUE(date.endsWith(" AM"));
    EXPECT_EQ(rate, 5);
    EXPECT_EQ(size, 0);
}

TEST_F(RegistrySimTest, LogDownloadedWithAndWithoutReset) {
    Start(devsim::Model::QX700_5, 23);
    for (int i = 0; i < 3; ++i) device->appendLogRecord();
    QString date;
    int rate = 0;
    qint32 size = 0;
    Ds1337::ReadLogParameters(ip, date, rate, size);
    ASSERT_EQ(size, 3 * 23);

    QByteArray data;
    ASSERT_TRUE(Ds1337::DownloadLog(ip, data, 0, size));
    EXPECT_EQ(data, device->log());
    EXPECT_EQ(device->lastRequest().at(4), char(0));
    EXPECT_EQ(device->logSize(), size);
    Ds1337::LogGrid grid;
    ASSERT_TRUE(Ds1337::DecodeLog(data, {5, 5, 23}, grid));
    EXPECT_EQ(grid.rows.size(), 3);

    ASSERT_TRUE(Ds1337::DownloadLog(ip, data, 1, size));
    EXPECT_EQ(device->lastRequest().at(4), char(1));
    EXPECT_EQ(device->logSize(), 0);
}

TEST_F(RegistrySimTest, FailedClockAndLogExchanges) {
    Start(devsim::Model::Zolo605);
    device->setFault(devsim::Fault::Busy);
    QByteArray result;
    EXPECT_FALSE(Ds1337::StoreDateTime(ip, 5, result));
    EXPECT_EQ(result, "Upload failed");
    QString date;
    int rate = 7;
    qint32 size = 9;
    EXPECT_TRUE(Ds1337::ReadLogParameters(ip, date, rate, size));
    EXPECT_EQ(date, "Failed to read date and time from 127.0.0.2");
    EXPECT_EQ(rate, 7);
    EXPECT_EQ(size, 9);

    device->setFault(devsim::Fault::CloseMidAnswer);
    device->appendLogRecord();
    QByteArray data;
    EXPECT_FALSE(Ds1337::DownloadLog(ip, data, 0, 11));
    EXPECT_EQ(data, "Fail");
}

TEST_F(RegistrySimTest, NamePageWrittenAndEchoed) {
    Start(devsim::Model::QX700_8);
    Protocol::Identification id;
    ASSERT_TRUE(Registry::Identify(ip, id));
    EXPECT_EQ(id.family, 5);
    EXPECT_EQ(id.model, 8);
    EXPECT_EQ(Decoding::DeviceModel, 8);
    QByteArray page;
    ASSERT_EQ(Registry::ReadNamePage(ip, id.family, page), Registry::Outcome::Ok);
    EXPECT_EQ(Registry::PageName(page), "Walk-in");
    const QByteArray before = device->page(2);
    const QByteArray image = Registry::ComposeNamePage(page, "Server room", 'C', ip);
    EXPECT_EQ(Registry::StoreNamePage(ip, image), Registry::Outcome::Ok);
    const QByteArray after = device->page(2);
    EXPECT_EQ(after.mid(8, 41), image.mid(8, 41));
    EXPECT_EQ(after.mid(4, 4), before.mid(4, 4));
    EXPECT_EQ(after.mid(49), before.mid(49));
    EXPECT_EQ(device->unit(), 'C');

    device->setFault(devsim::Fault::WrongEcho);
    EXPECT_EQ(Registry::StoreNamePage(ip, image), Registry::Outcome::Failed);
    device->setFault(devsim::Fault::Busy);
    EXPECT_EQ(Registry::ReadNamePage(ip, 5, page), Registry::Outcome::Busy);
}

TEST_F(RegistrySimTest, FactoryResetOutcomes) {
    Start(devsim::Model::QX700_5);
    device->setUnit('C');
    EXPECT_EQ(Registry::RestoreFactoryDefaults(ip), Registry::Outcome::Ok);
    EXPECT_EQ(device->unit(), 'F');
    EXPECT_EQ(device->requestCount(devsim::cmd::FactoryReset), 1);
    device->setFault(devsim::Fault::Busy);
    EXPECT_EQ(Registry::RestoreFactoryDefaults(ip), Registry::Outcome::Busy);
    device->setFault(devsim::Fault::Garbage);
    EXPECT_EQ(Registry::RestoreFactoryDefaults(ip), Registry::Outcome::Failed);
    device->setFault(devsim::Fault::Refuse);
    EXPECT_EQ(Registry::RestoreFactoryDefaults(ip), Registry::Outcome::Failed);
}
