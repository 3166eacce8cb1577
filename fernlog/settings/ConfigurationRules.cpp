#include "settings/ConfigurationRules.h"

#include <QDir>
#include <tuple>

#include "common/Ansi.h"
#include "common/Dialogs.h"
#include "common/ProgramDir.h"
#include "core/AlarmHandling.h"
#include "core/Crypt.h"
#include "core/EmailNotification.h"
#include "core/Options.h"
#include "core/ServerData.h"
#include "core/Settings.h"
#include "core/StatusList.h"
#include "db/ErrorLog.h"

namespace ConfigurationRules {
namespace {

const QString kBlank = QStringLiteral("Please do not leave any option blank");

void Tell(const QString& text, Dialogs::Icon icon = Dialogs::Icon::Information) {
    Dialogs::Message(text, Dialogs::Buttons::Ok, icon);
}

// A number box's value. Keys let only digits in, but a paste can bring
// anything: such a value is refused with a message naming the box rather
// than cut or wrapped into the 16-bit field.
enum class NumberState { Ok, Blank, Invalid };
NumberState ParseNumber(const QString& text, qint16& value) {
    const QString t = text.trimmed();
    if (t.isEmpty()) return NumberState::Blank;
    for (const QChar c : t) {
        if (c < u'0' || c > u'9') return NumberState::Invalid;
    }
    bool ok = false;
    const int number = t.toInt(&ok);
    if (!ok || number > 32767) return NumberState::Invalid;
    value = static_cast<qint16>(number);
    return NumberState::Ok;
}

QString InvalidNumber(const QString& name) {
    return name + QStringLiteral(" must be a whole number from 0 to 32767.");
}

// Refuses a number that is blank or not a number; true when `value` is set.
bool TakeNumber(const QString& text, Field field, const QString& name, FormView& view,
                qint16& value) {
    switch (ParseNumber(text, value)) {
        case NumberState::Ok:
            return true;
        case NumberState::Blank:
            Tell(kBlank);
            break;
        case NumberState::Invalid:
            view.FocusField(field);
            Tell(InvalidNumber(name), Dialogs::Icon::Warning);
            break;
    }
    return false;
}

}  // namespace

QString NoPrinterText() {
    return QStringLiteral("No Printer Selected");
}

QString LogDirCaption() {
    // No folder of its own: the logs go to the program's folder, named so.
    const QString dir = ServerData::LogDirInUse.trimmed();
    return QStringLiteral("Current Log File Location: ") +
           (dir.isEmpty() ? QDir::toNativeSeparators(ProgramDir::Path()) : ServerData::LogDirInUse);
}

ConfigurationForm LoadForm() {
    const ConfigRecord& c = ConfigParameters;
    ConfigurationForm f;
    f.RecoveryNotices = Options::Load().recoveryNotices;
    f.UN = c.AdminUserName.Text();
    f.PW = c.AdminPassword.Text();
    f.PWConfirm = f.PW;
    f.OrgName = c.OrgName.Text();
    f.OrgAddress = c.OrgAddress.Text();
    f.OrgPhoneNumber = c.OrgPhoneNumber.Text();
    f.TimeToPrint = c.TimeToPrint.Text();
    f.Host = c.Host.Text();
    f.ServerFailureEmailAddress = c.ServerFailureEmailAddress.Text();
    f.FromAddress = c.FromAddress.Text();
    f.CommunicationRetry = QString::number(c.CommunicationRetry);
    f.UpdateRate = QString::number(c.UpdateRate);
    f.TCPTimeOut = QString::number(c.TCPTimeOut);
    f.AutoPrintReport = c.AutoPrintReport.Text().contains(QLatin1String("Yes"))
                            ? QStringLiteral("Yes")
                            : QStringLiteral("No");
    f.AMPM =
        c.AMPM.Text().contains(QLatin1String("AM")) ? QStringLiteral("AM") : QStringLiteral("PM");
    f.SystemOKEmail = c.SystemOKEmail == 1;
    f.EnableTrending = c.EnableTrending == 1;
    // The stored printer is shown, so that applying other changes keeps it.
    f.PrinterName = c.PrinterName.IsEmpty() ? NoPrinterText() : c.PrinterName.Text();
    f.PrinterIndex = c.PrinterIndex;
    return f;
}

bool AcceptNumericKey(const QString& text) {
    if (text.isEmpty()) return true;
    if (text.size() != 1) return false;
    const QChar c = text.at(0);
    // Backspace (8) and Delete, which X11 and Wayland send as the text 0x7F,
    // edit rather than type.
    return (c >= u'0' && c <= u'9') || c == QChar(8) || c == QChar(0x7f);
}

QString SecretProblem(const QString& name, const QString& value) {
    const QString plain = value.trimmed();
    for (qsizetype i = 0; i < plain.size(); ++i) {
        const QChar c = plain.at(i);
        // A character the code page lacks would be stored as '?' and the
        // secret would silently differ after the next start.
        const bool pair =
            c.isHighSurrogate() && i + 1 < plain.size() && plain.at(i + 1).isLowSurrogate();
        const QString one = pair ? plain.mid(i, 2) : QString(c);
        if (pair || Ansi::Decode(Ansi::Encode(one)) != one) {
            return QStringLiteral("The ") + name + QStringLiteral(" contains the character \"") +
                   one +
                   QStringLiteral(
                       "\", which the settings file cannot store.  Please use "
                       "letters, digits and common punctuation only.");
        }
        if (pair) ++i;
    }
    if (Ansi::Encode(plain).size() > Crypt::kMaxPlainLength) {
        return QStringLiteral("The ") + name + QStringLiteral(" is longer than ") +
               QString::number(Crypt::kMaxPlainLength) +
               QStringLiteral(
                   " characters, which is the most the settings file can store.  "
                   "Please enter a shorter one.");
    }
    return QString();
}

ApplyResult Apply(const ConfigurationForm& f, FormView& view) {
    ConfigRecord& c = ConfigParameters;

    if (!f.UN.isEmpty() && f.PW != f.PWConfirm) {
        Tell(QStringLiteral("The passwords do not match."));
        return ApplyResult::Stopped;
    }
    // Checked before anything is copied: a secret the file cannot hold would
    // otherwise fail the save with a misleading message, or change silently.
    for (const auto& [field, name, value] :
         {std::tuple{Field::txtUN, QStringLiteral("administrator User Name"), f.UN},
          std::tuple{Field::txtPW, QStringLiteral("administrator Password"), f.PW}}) {
        const QString problem = SecretProblem(name, value);
        if (!problem.isEmpty()) {
            view.FocusField(field);
            Tell(problem, Dialogs::Icon::Warning);
            return ApplyResult::Stopped;
        }
    }

    c.LogDir = ServerData::LogDirInUse;
    c.AdminUserName = f.UN;
    c.AdminPassword = f.PW;

    qint16 updateRate = 0;
    if (!TakeNumber(f.UpdateRate, Field::txtUpdateRate, QStringLiteral("The update rate"), view,
                    updateRate)) {
        return ApplyResult::Stopped;
    }
    if (updateRate < 5) {
        view.SetFieldText(Field::txtUpdateRate, QStringLiteral("5"));
        view.MarkField(Field::txtUpdateRate);
        view.FocusField(Field::txtUpdateRate);
        Tell(
            QStringLiteral("The minimum update rate is 5 seconds.  Please adjust the update rate."),
            Dialogs::Icon::Warning);
        return ApplyResult::Stopped;
    }
    // All three numbers are read before any is stored.
    qint16 retry = 0;
    qint16 timeOut = 0;
    if (!TakeNumber(f.CommunicationRetry, Field::txtCommunicationRetry,
                    QStringLiteral("The number of times to try to communicate"), view, retry) ||
        !TakeNumber(f.TCPTimeOut, Field::txtTCPTimeOut,
                    QStringLiteral("The network communication time out"), view, timeOut)) {
        return ApplyResult::Stopped;
    }
    c.UpdateRate = updateRate;
    c.CommunicationRetry = retry;
    c.TCPTimeOut = timeOut;
    c.OrgName = f.OrgName;
    c.OrgAddress = f.OrgAddress;
    c.OrgPhoneNumber = f.OrgPhoneNumber;
    c.AutoPrintReport = f.AutoPrintReport;
    c.AMPM = f.AMPM;
    c.TimeToPrint = f.TimeToPrint;
    c.PrinterName = f.PrinterName;
    c.PrinterIndex = static_cast<qint16>(f.PrinterIndex);
    c.Host = f.Host;
    c.FromAddress = f.FromAddress;
    c.SystemOKEmail = f.SystemOKEmail ? 1 : 0;
    c.EnableTrending = f.EnableTrending ? 1 : 0;

    const QString& address = f.ServerFailureEmailAddress;
    if (address.isEmpty()) {
        c.ServerFailureEmailAddress = QString();
    } else {
        if (!address.contains(u'.') || !address.contains(u'@')) {
            view.FocusField(Field::txtServerFailureEmailAddress);
            if (Dialogs::Message(
                    QStringLiteral("Is ") + address + QStringLiteral(" a valid email address?"),
                    Dialogs::Buttons::YesNo, Dialogs::Icon::Question) != Dialogs::Answer::Yes) {
                return ApplyResult::Stopped;
            }
        }
        c.ServerFailureEmailAddress = address;
    }

    view.SetBusy(true);
    const bool saved = Settings::SaveConfigFile();
    // The options file is written only for a change, so that one its owner
    // protected does not fail every Apply.
    QString optionsError;
    bool optionsSaved = true;
    Options::Values options = Options::Load();
    if (saved && options.recoveryNotices != f.RecoveryNotices) {
        options.recoveryNotices = f.RecoveryNotices;
        optionsSaved = Options::Save(options, &optionsError);
    }
    view.SetBusy(false);
    if (!saved) {
        Tell(QStringLiteral("Error saving configuration file.  Please verify that hard drive is "
                            "not write protected."),
             Dialogs::Icon::Critical);
        return ApplyResult::SaveFailed;
    }
    if (!optionsSaved) {
        Tell(QStringLiteral("Configuration parameters have been saved, but the choice of e-mails "
                            "when an alarm is over could not be stored in ") +
                 Options::FileName() + QStringLiteral(": ") + optionsError,
             Dialogs::Icon::Critical);
        return ApplyResult::SaveFailed;
    }
    Tell(QStringLiteral("Configuration parameters have been saved"));
    StatusList::Clear();
    return ApplyResult::Saved;
}

bool TestEmail(const ConfigurationForm& f, FormView& view) {
    const QString host = f.Host.trimmed();
    if (host.isEmpty()) {
        Tell(QStringLiteral("Please enter a valid SMTP host address"));
        view.FocusField(Field::txtHost);
        return false;
    }
    const QString from = f.FromAddress.trimmed();
    if (from.isEmpty()) {
        Tell(QStringLiteral("Please enter a from address"));
        view.FocusField(Field::txtFromAddress);
        return false;
    }
    // The applied settings with the typed host, for this e-mail only: the
    // program's mailer and the outbox keep what was applied.
    Mail::MailerSettings settings = EmailNotification::AppliedMailerSettings();
    settings.host = host;
    const QString address = f.ServerFailureEmailAddress.trimmed();

    view.SetBusy(true);
    QString error;
    const bool sent = EmailNotification::SendTestEmail(address, error, from, settings);
    view.SetBusy(false);
    if (sent) {
        Tell(QStringLiteral("A test email has been successfully sent to ") + address +
             QStringLiteral(" using mail server ") + host);
    } else {
        Tell(QStringLiteral("Failed to send email to '") + address +
                 QStringLiteral("'. The error is: ") + error,
             Dialogs::Icon::Critical);
    }
    return sent;
}

bool ConfirmDiscard() {
    // The question's line breaks are carriage returns; a message box wants LF.
    const QString cr = QStringLiteral("\n");
    return Dialogs::Message(
               QStringLiteral("You have made changes to the settings without saving them.  Do "
                              "you wish to discard your changes?") +
                   cr + cr + QStringLiteral("Click Yes to discard changes.") + cr +
                   QStringLiteral("To save changes, click No and then click Apply before closing "
                                  "this window"),
               Dialogs::Buttons::YesNo, Dialogs::Icon::Critical,
               QStringLiteral("Settings have changed")) == Dialogs::Answer::Yes;
}

void RecordChanges(const ConfigRecord& before) {
    const QString user = AlarmHandling::SystemUser();
    for (const QString& change : Settings::Differences(before, ConfigParameters)) {
        const qsizetype colon = change.indexOf(QLatin1String(": "));
        const qsizetype arrow = change.indexOf(QLatin1String(" -> "), colon);
        const QString name = change.left(colon);
        QString error;
        if (!AlarmHandling::Record({user, user, AlarmHandling::Origin::Window},
                                   QStringLiteral("settings"), 0, QString(),
                                   name + u'=' + change.mid(colon + 2, arrow - colon - 2),
                                   name + u'=' + change.mid(arrow + 4), &error)) {
            ErrorLog::RecordError(QStringLiteral("Settings"), error);
            return;
        }
    }
}

}  // namespace ConfigurationRules
