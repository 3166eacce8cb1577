#include "settings/About.h"

#include "core/Startup.h"

namespace About {

QString Caption() {
    return QStringLiteral("About ") + Startup::ProgramTitle();
}

QString Title() {
    return Startup::ProgramTitle();
}

QString VersionLine() {
    return QStringLiteral("Version ") + Startup::VersionText();
}

QString SupportAddress() {
    return QStringLiteral("support@corvane.example");
}

QString Description() {
    return QStringLiteral(
               "Fernlog collects the readings of Corvane monitoring devices, keeps "
               "their alarms and sends e-mail notices.  Copyright Corvane.") +
           QStringLiteral("\n") + QStringLiteral("For technical support email:") +
           QStringLiteral("\n") + SupportAddress();
}

}  // namespace About
