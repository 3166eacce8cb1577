#include "settings/Login.h"

#include "common/Dialogs.h"
#include "core/Settings.h"
#include "core/Startup.h"

namespace Login {

Result CheckLogin(const QString& userName, const QString& password) {
    const QString title = QStringLiteral("Login");
    if (password != ConfigParameters.AdminPassword.Text()) {
        Dialogs::Message(QStringLiteral("Invalid Password, try again!"), Dialogs::Buttons::Ok,
                         Dialogs::Icon::Warning, title);
        return Result::InvalidPassword;
    }
    if (userName != ConfigParameters.AdminUserName.Text()) {
        Dialogs::Message(QStringLiteral("Invalid Username, try again!"), Dialogs::Buttons::Ok,
                         Dialogs::Icon::Warning, title);
        return Result::InvalidUsername;
    }
    Startup::LoginSucceeded = true;
    return Result::Succeeded;
}

void CancelLogin() {
    Startup::LoginSucceeded = false;
}

void LogOut() {
    Startup::LoginSucceeded = false;
    Startup::ApplyLoginState();
}

}  // namespace Login
