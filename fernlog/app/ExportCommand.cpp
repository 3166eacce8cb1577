#include "app/ExportCommand.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>
#include <cstdio>
#include <cstring>
#include <tuple>

#include "common/CommandLine.h"
#include "common/ProgramDir.h"
#include "core/HistoryExport.h"
#include "core/Startup.h"

namespace ExportCommand {
namespace {
const QString kProgram = QStringLiteral("fernlog export");

void Warn(const QStringList& warnings) {
    QTextStream err(stderr);
    for (const QString& w : warnings) err << kProgram << ": warning: " << w << Qt::endl;
}

int Failed(const QString& message) {
    CommandLine::Fail(kProgram, message);
    return 1;
}

bool ToStandardOutput(const QByteArray& bytes) {
    return std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout) ==
           static_cast<size_t>(bytes.size());
}
}  // namespace

QString Summary() {
    return QStringLiteral("export    the readings of the data logs as CSV");
}

bool Wanted(int argc, char** argv) {
    return argc > 1 && std::strcmp(argv[1], "export") == 0;
}

int Run(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes the readings of the monthly data logs as CSV: time, device, sensor, value, "
        "unit, status (OK, ALARM during an alarm record of the sensor in zolo.mdb, or what a "
        "special value means); sensor by sensor, each in time order."));
    const QCommandLineOption dir(
        QStringLiteral("dir"),
        QStringLiteral("Program directory whose data logs are read, with the log directory of "
                       "its settings file (default: $FERNLOG_DIR, else the executable's "
                       "directory)."),
        QStringLiteral("DIR"));
    const QCommandLineOption sensor(QStringLiteral("sensor"),
                                    QStringLiteral("Only the sensor with this ID."),
                                    QStringLiteral("ID"));
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("Only the sensors of the device of this name."),
                                    QStringLiteral("NAME"));
    const QCommandLineOption from(
        QStringLiteral("from"),
        QStringLiteral("Readings from this time: yyyy-MM-dd or yyyy-MM-dd HH:mm[:ss]."),
        QStringLiteral("DATE"));
    const QCommandLineOption to(QStringLiteral("to"),
                                QStringLiteral("Readings up to this time; a bare date means the "
                                               "end of that day."),
                                QStringLiteral("DATE"));
    const QCommandLineOption out(
        QStringLiteral("out"),
        QStringLiteral("Write to this file (replaced only when the export succeeds) instead of "
                       "standard output."),
        QStringLiteral("FILE"));
    parser.addOptions({dir, sensor, device, from, to, out});
    // Parsed without the word "export" and before the application object
    // exists, so that --help shows "fernlog export" as the program.
    QStringList arguments = CommandLine::Arguments(argc, argv);
    arguments.removeAt(1);
    if (const auto status =
            CommandLine::Parse(parser, arguments, kProgram, Startup::VersionText())) {
        return *status;
    }
    // Needs no display; it gives the executable's directory, the default
    // program directory.
    QCoreApplication app(argc, argv);

    HistoryExport::Filter filter;
    if (parser.isSet(sensor)) {
        bool ok = false;
        const qint64 id = parser.value(sensor).trimmed().toLongLong(&ok);
        if (!ok || id <= 0) {
            return CommandLine::Fail(kProgram, QStringLiteral("--sensor takes a sensor ID, a "
                                                              "whole number above 0, not '%1'")
                                                   .arg(parser.value(sensor)));
        }
        filter.sensorId = id;
    }
    if (parser.isSet(device)) {
        if (filter.sensorId) {
            return CommandLine::Fail(kProgram,
                                     QStringLiteral("--sensor and --device cannot be combined"));
        }
        if (parser.value(device).trimmed().isEmpty()) {
            return CommandLine::Fail(kProgram, QStringLiteral("--device takes a device name"));
        }
        filter.device = parser.value(device);
    }
    for (const auto& [option, endOfDay, target] :
         {std::tuple{&from, false, &filter.from}, std::tuple{&to, true, &filter.to}}) {
        if (!parser.isSet(*option)) continue;
        const auto when = HistoryExport::ParseTime(parser.value(*option), endOfDay);
        if (!when) {
            return CommandLine::Fail(
                kProgram, QStringLiteral("--%1 takes yyyy-MM-dd or yyyy-MM-dd HH:mm[:ss], not '%2'")
                              .arg(option->names().constFirst(), parser.value(*option)));
        }
        *target = *when;
    }
    if (filter.from.isValid() && filter.to.isValid() && filter.from > filter.to) {
        return CommandLine::Fail(kProgram, QStringLiteral("the date range is empty: --from %1 is "
                                                          "after --to %2")
                                               .arg(parser.value(from), parser.value(to)));
    }
    if (parser.isSet(out) && parser.value(out).isEmpty()) {
        return CommandLine::Fail(kProgram, QStringLiteral("--out takes a file name"));
    }

    const QString directory = ProgramDir::Configure(parser.value(dir));
    if (!QFileInfo(directory).isDir()) {
        return CommandLine::Fail(kProgram, QStringLiteral("the folder %1 does not exist")
                                               .arg(QDir::toNativeSeparators(directory)));
    }
    QStringList warnings;
    const QStringList directories = HistoryExport::LogDirectories(directory, &warnings);
    Warn(warnings);

    warnings.clear();
    const HistoryExport::AlarmPeriods alarms = HistoryExport::ReadAlarmPeriods(&warnings);
    Warn(warnings);

    HistoryExport::Summary summary;
    QString error;
    bool ok = false;
    if (parser.isSet(out)) {
        ok = HistoryExport::ExportToFile(directories, filter, parser.value(out), summary, &error,
                                         alarms);
    } else {
        ok = HistoryExport::Export(directories, filter, ToStandardOutput, summary, &error, alarms);
        if (ok && std::fflush(stdout) != 0) {
            ok = false;
            error = QStringLiteral("standard output could not be written");
        }
    }
    Warn(summary.warnings);
    if (!ok) return Failed(error);
    if (parser.isSet(out)) {
        QTextStream(stderr) << kProgram << ": " << summary.rows
                            << (summary.rows == 1 ? " reading of " : " readings of ")
                            << summary.sensors << (summary.sensors == 1 ? " sensor" : " sensors")
                            << " written to " << QDir::toNativeSeparators(parser.value(out))
                            << Qt::endl;
    }
    return 0;
}

}  // namespace ExportCommand
