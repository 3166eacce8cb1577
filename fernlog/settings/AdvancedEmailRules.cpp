#include "settings/AdvancedEmailRules.h"

#include <optional>
#include <tuple>

#include "common/Dialogs.h"
#include "core/Settings.h"

namespace AdvancedEmailRules {

using ConfigurationRules::Field;

namespace {
void Warn(const QString& text) {
    Dialogs::Message(text, Dialogs::Buttons::Ok, Dialogs::Icon::Warning);
}

// A digits-only number up to `maximum`; nullopt otherwise.
std::optional<int> Number(const QString& text, int maximum) {
    const QString t = text.trimmed();
    if (t.isEmpty()) return std::nullopt;
    for (const QChar c : t) {
        if (c < u'0' || c > u'9') return std::nullopt;
    }
    bool ok = false;
    const int value = t.toInt(&ok);
    if (!ok || value > maximum) return std::nullopt;
    return value;
}

// Marks the field, gives it the focus and tells the user.
void Refuse(ConfigurationRules::FormView& view, Field field, const QString& text) {
    view.MarkField(field);
    view.FocusField(field);
    Warn(text);
}
}  // namespace

QStringList Methods() {
    return {QStringLiteral("LOGIN"), QStringLiteral("PLAIN"), QStringLiteral("CRAM-MD5"),
            QStringLiteral("NTLM"), QStringLiteral("NONE")};
}

AdvancedEmailForm LoadAdvancedForm() {
    Settings::ReadConfigFile();
    const ConfigRecord& c = ConfigParameters;
    AdvancedEmailForm f;
    // The field is signed 16-bit; ports above 32767 are stored wrapped.
    f.SMTPPort = QString::number(static_cast<quint16>(c.SMTPPort));
    f.ServerTimeOut = QString::number(c.ServerTimeOut);
    f.SSL = c.SSL == 1;
    f.Authentication = c.Authentication == 1;
    // A field never stored (zero bytes) or blank shows the first method.
    const QString method = c.AuthenticationMethod.Text();
    f.AuthenticationMethod = method.isEmpty() ? Methods().first() : method;
    f.UserName = c.UserName.Text();
    f.Password = c.Password.Text();
    f.LoginDomain = c.LoginDomain.Text();
    return f;
}

OkResult ApplyAdvanced(const AdvancedEmailForm& f, ConfigurationRules::FormView& view) {
    if (f.SMTPPort.trimmed().isEmpty()) {
        Refuse(view, Field::txtSMTPPort,
               QStringLiteral(
                   "The SMTP Port can not be left blank.  Please enter the SMTP port number."));
        return OkResult::Stay;
    }
    if (f.ServerTimeOut.trimmed().isEmpty()) {
        Refuse(view, Field::txtServerTimeOut,
               QStringLiteral("The server timeout can not be left blank.  Please enter a time in "
                              "seconds."));
        return OkResult::Stay;
    }
    const std::optional<int> port = Number(f.SMTPPort, 65535);
    if (!port) {
        Refuse(view, Field::txtSMTPPort,
               QStringLiteral("The SMTP Port must be a whole number from 0 to 65535."));
        return OkResult::Stay;
    }
    const std::optional<int> timeOut = Number(f.ServerTimeOut, 32767);
    if (!timeOut) {
        Refuse(view, Field::txtServerTimeOut,
               QStringLiteral("The server timeout must be a whole number of seconds from 0 to "
                              "32767."));
        return OkResult::Stay;
    }
    for (const auto& [field, name, value] :
         {std::tuple{Field::txtUserName, QStringLiteral("SMTP User Name"), f.UserName},
          std::tuple{Field::txtPassword, QStringLiteral("SMTP Password"), f.Password}}) {
        const QString problem = ConfigurationRules::SecretProblem(name, value);
        if (!problem.isEmpty()) {
            view.FocusField(field);
            Warn(problem);
            return OkResult::Stay;
        }
    }

    ConfigRecord& c = ConfigParameters;
    // Kept as the same 16 bits: the program reads the field back unsigned.
    c.SMTPPort = static_cast<qint16>(static_cast<quint16>(*port));
    c.ServerTimeOut = static_cast<qint16>(*timeOut);
    c.SSL = f.SSL ? 1 : 0;
    c.Authentication = f.Authentication ? 1 : 0;
    c.AuthenticationMethod = f.AuthenticationMethod;
    c.UserName = f.UserName;
    c.Password = f.Password;
    c.LoginDomain = f.LoginDomain;
    if (!Settings::SaveConfigFile()) {
        Dialogs::Message(QStringLiteral("Error saving SMTP advanced settings."),
                         Dialogs::Buttons::Ok, Dialogs::Icon::Critical);
    }
    return OkResult::Close;
}

}  // namespace AdvancedEmailRules
