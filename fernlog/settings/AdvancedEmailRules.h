#pragma once

#include <QString>
#include <QStringList>

#include "settings/ConfigurationRules.h"

// The rules of frmAdvancedEmail, the SMTP connection settings, without its
// widgets.
namespace AdvancedEmailRules {

// The entries of the window as plain values.
struct AdvancedEmailForm {
    QString SMTPPort;
    QString ServerTimeOut;
    bool SSL = false;
    bool Authentication = false;
    QString AuthenticationMethod;
    QString UserName;
    QString Password;
    QString LoginDomain;
};

// The mail component's names of the login methods, in the list's order.
QStringList Methods();  // LOGIN, PLAIN, CRAM-MD5, NTLM, NONE

// Reads the settings file again (so that values applied but not saved are
// replaced by the stored ones) and gives the window's entries.
AdvancedEmailForm LoadAdvancedForm();

enum class OkResult { Stay, Close };

// The OK button: refuses a blank or invalid number or a secret the file
// cannot hold (Stay); otherwise stores the entries and saves the record,
// telling the user when the save fails, and the window closes (Close).
OkResult ApplyAdvanced(const AdvancedEmailForm& form, ConfigurationRules::FormView& view);

}  // namespace AdvancedEmailRules
