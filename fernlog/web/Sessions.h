#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QString>
#include <optional>

// Who is signed in to the web pages: sessions kept in memory (a restart
// signs everyone out), each named by a random cookie and carrying its own
// anti-forgery token; and the brake on failed sign-ins, per client address.
namespace Web::Sessions {

// The cookie's name, and how long a session lasts from its sign-in.
constexpr char kCookie[] = "fernlog_session";
constexpr qint64 kLifetimeSeconds = 8 * 3600;
// Sessions and braked clients kept at most: the oldest go first.
constexpr int kMaxSessions = 64;
constexpr int kMaxBrakedClients = 1024;

struct Session {
    QByteArray id;    // the cookie's value
    QByteArray csrf;  // the anti-forgery token of its forms
    QString user;
    QDateTime expires;
};

// Whether the settings hold an administrator login to sign in with.
bool LoginSet();
// Checks the entries against the administrator login (as typed, against
// the stored trimmed texts); true opens a session.
std::optional<Session> SignIn(const QString& user, const QString& password);
// The session the request's Cookie header names, if it is open.
std::optional<Session> Find(const QByteArray& cookieHeader);
void SignOut(const QByteArray& id);
// The Set-Cookie values that open and end a session.
QByteArray OpenCookie(const Session& session);
QByteArray EndCookie();

// Failed sign-ins from one client lock it out for a while that doubles
// with each failure (1 s, 2 s, ... at most kMaxLockSeconds); 0 when it may
// try now, else the seconds it must wait.
constexpr qint64 kMaxLockSeconds = 300;
qint64 LockedFor(const QHostAddress& client);
void Failed(const QHostAddress& client);
void Succeeded(const QHostAddress& client);

// Compared in a time that depends neither on where the texts differ nor on
// their lengths.
bool SameSecret(const QByteArray& a, const QByteArray& b);

// Nobody signed in, no client braked.
void Reset();

}  // namespace Web::Sessions
