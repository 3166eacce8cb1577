#include "support/Fixtures.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimer>

#include "common/Clock.h"
#include "common/ProgramDir.h"
#include "db/Provision.h"

void ProgramDirTest::SetUp() {
    dir_ = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(dir_->isValid());
    path_ = dir_->path();
    ProgramDir::Set(path_);
    Clock::SetForTest(QDateTime());
}

void ProgramDirTest::TearDown() {
    Clock::SetForTest(QDateTime());
    Dialogs::SetHandler({});
    dir_.reset();
}

void ProgramDirTest::ProvisionDatabase() {
    QString error;
    ASSERT_TRUE(Provision::CreateDatabase(path_, &error)) << error.toStdString();
}

void ProgramDirTest::MoveProgramDir(const QString& dir) {
    for (const QString& name : QDir(path_).entryList(QDir::Files)) {
        ASSERT_TRUE(QFile::copy(QDir(path_).filePath(name), QDir(dir).filePath(name)))
            << name.toStdString();
    }
    path_ = dir;
    ProgramDir::Set(path_);
}

QString ProgramDirTest::FilePath(const QString& name) const {
    return QDir(path_).filePath(name);
}

QStringList ProgramDirTest::Rows(const QString& sql) const {
    QStringList rows;
    const QString name = QStringLiteral("test-rows");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(FilePath(QStringLiteral("zolo.mdb")));
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(sql)) {
                while (query.next()) {
                    QStringList columns;
                    for (int i = 0; i < query.record().count(); ++i) {
                        columns << (query.value(i).isNull() ? QStringLiteral("<null>")
                                                            : query.value(i).toString());
                    }
                    rows << columns.join(QLatin1Char('|'));
                }
            } else {
                ADD_FAILURE() << "query failed: " << sql.toStdString();
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}

DialogScript::DialogScript() {
    Dialogs::SetHandler([this](const Dialogs::Request& request) {
        shown_.push_back(request);
        if (replies_.empty()) {
            const bool yesNo = request.buttons == Dialogs::Buttons::YesNo ||
                               request.buttons == Dialogs::Buttons::YesNoCancel;
            return Dialogs::Reply{yesNo ? Dialogs::Answer::Yes : Dialogs::Answer::Ok, {}};
        }
        Dialogs::Reply reply = replies_.front();
        replies_.pop_front();
        return reply;
    });
}

DialogScript::~DialogScript() {
    Dialogs::SetHandler({});
}

void DialogScript::Answer(Dialogs::Answer answer, const QString& text) {
    replies_.push_back({answer, text});
}

QStringList DialogScript::Texts() const {
    QStringList texts;
    for (const auto& request : shown_) texts << request.text;
    return texts;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

ProgramRun RunProgram(const QString& program, const QStringList& args, const QByteArray& input,
                      int timeoutMs) {
    QProcess process;
    process.start(program, args);
    ProgramRun ran;
    if (!process.waitForStarted(10000)) return ran;
    process.write(input);
    process.closeWriteChannel();
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (process.state() != QProcess::NotRunning) loop.exec();
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
        return ran;
    }
    if (process.exitStatus() == QProcess::NormalExit) ran.status = process.exitCode();
    ran.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    ran.err = QString::fromLocal8Bit(process.readAllStandardError());
    return ran;
}

QByteArray ReadAllOrMissing(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}
