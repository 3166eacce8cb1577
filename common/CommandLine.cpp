#include "common/CommandLine.h"

#include <QTextStream>

namespace CommandLine {

QStringList Arguments(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

bool HasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

int Fail(const QString& program, const QString& message) {
    QTextStream(stderr) << program << ": " << message << Qt::endl;
    return 2;
}

std::optional<int> Parse(QCommandLineParser& parser, const QStringList& arguments,
                         const QString& program, const QString& version, int maxPositional) {
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help and ends."));
    const QCommandLineOption versionOption({QStringLiteral("v"), QStringLiteral("version")},
                                           QStringLiteral("Shows the version and ends."));
    parser.addOption(help);
    parser.addOption(versionOption);
    if (!parser.parse(arguments)) {
        return Fail(program, parser.errorText() + QStringLiteral(" (see --help)"));
    }
    if (parser.isSet(help)) {
        // Parsed before any application object exists, Qt cannot know the
        // program's name and writes a placeholder in the usage line.
        QTextStream(stdout) << parser.helpText().replace(QStringLiteral("<executable_name>"),
                                                         program);
        return 0;
    }
    if (parser.isSet(versionOption)) {
        QTextStream(stdout) << program << ' ' << version << Qt::endl;
        return 0;
    }
    if (parser.positionalArguments().size() > maxPositional) {
        return Fail(program, QStringLiteral("unexpected argument '%1' (see --help)")
                                 .arg(parser.positionalArguments().value(maxPositional)));
    }
    return std::nullopt;
}

}  // namespace CommandLine
