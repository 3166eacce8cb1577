#pragma once

#include <QString>

#include "core/Settings.h"

// The rules of the settings dialogs (frmConfiguration, frmAdvancedEmail)
// without their widgets: what the controls show when a dialog opens, the
// key filter of the numeric boxes, and the checks and steps that store the
// entries in ConfigParameters and the settings file, with their messages.
namespace ConfigurationRules {

// The controls a rule points the user at, by their names.
enum class Field {
    None,
    txtTCPTimeOut,
    txtCommunicationRetry,
    txtHost,
    txtFromAddress,
    txtServerFailureEmailAddress,
    txtUpdateRate,
    txtUN,
    txtPW,
    txtSMTPPort,
    txtServerTimeOut,
    txtUserName,
    txtPassword,
};

// What a rule asks of the dialog it runs for.
class FormView {
  public:
    virtual ~FormView() = default;
    // Brings the tab holding the field to the front and gives it the focus.
    virtual void FocusField(Field field) = 0;
    virtual void SetFieldText(Field field, const QString& text) = 0;
    // Marks a field the user has to correct (yellow).
    virtual void MarkField(Field field) = 0;
    // The hourglass while the file is written or a mail is sent.
    virtual void SetBusy(bool busy) = 0;
};

// The entries of frmConfiguration as plain values.
struct ConfigurationForm {
    QString TCPTimeOut;
    QString CommunicationRetry;
    QString Host;
    QString FromAddress;
    QString ServerFailureEmailAddress;
    bool SystemOKEmail = false;
    bool RecoveryNotices = false;  // kept beside the settings file, not in it
    QString OrgName;
    QString OrgAddress;
    QString OrgPhoneNumber;
    bool EnableTrending = false;
    QString UpdateRate;
    QString UN;
    QString PW;
    QString PWConfirm;
    QString AutoPrintReport;  // "Yes" or "No"
    QString TimeToPrint;
    QString AMPM;          // "AM" or "PM"
    QString PrinterName;   // the caption of lblPrinter
    int PrinterIndex = 0;  // position (from 1) of the printer chosen; 0 none
};

// lblPrinter's caption while no printer is chosen.
QString NoPrinterText();  // "No Printer Selected"
// "Current Log File Location: " + the current log directory.
QString LogDirCaption();

// The dialog's entries from ConfigParameters.
ConfigurationForm LoadForm();

// A key typed into a numeric box is kept only when it is a digit or
// Backspace (character 8). `text` is the key's text; keys without text
// (arrows, Delete) are not typing and always pass.
bool AcceptNumericKey(const QString& text);

// Why a secret cannot be stored in the settings file (longer than its
// enciphered field holds, or characters outside the file's code page); empty
// when it can. `name` names the field in the message.
QString SecretProblem(const QString& name, const QString& value);

enum class ApplyResult { Saved, Stopped, SaveFailed };

// The Apply button: checks the entries, copies them into ConfigParameters
// and stores the record, telling the user the outcome. Values copied before
// a later check stops Apply stay in memory; only a save writes the file.
ApplyResult Apply(const ConfigurationForm& form, FormView& view);
// What a window's Save changed in the settings (from `before` to the
// settings now), one row of the audit trail per field, from the window.
void RecordChanges(const ConfigRecord& before);

// The test e-mail to the administrator address typed in the dialog, through
// the SMTP host and sender typed there and the stored advanced settings.
bool TestEmail(const ConfigurationForm& form, FormView& view);

// The question when the dialog closes with unsaved typing; true to discard.
bool ConfirmDiscard();

}  // namespace ConfigurationRules
