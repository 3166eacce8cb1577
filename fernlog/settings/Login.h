#pragma once

#include <QString>

// The administrator login of the Setup entries: the check of frmLogin and
// logging out. Whether a login is needed and what the Setup entries show
// follow Startup::LoginRequired and Startup::ApplyLoginState.
namespace Login {

enum class Result { Succeeded, InvalidPassword, InvalidUsername };

// Compares the typed entries, exactly as typed, with the stored trimmed
// user name and password. On success the administrator is logged in;
// otherwise the user is told which entry is wrong (the password first).
Result CheckLogin(const QString& userName, const QString& password);

// Cancel in the login window: logged out.
void CancelLogin();

// "Log Out": logged out, and the Setup entries locked again.
void LogOut();

}  // namespace Login
