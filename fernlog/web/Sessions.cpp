#include "web/Sessions.h"

#include <QCryptographicHash>
#include <QHash>
#include <QRandomGenerator>

#include "common/Clock.h"
#include "core/Settings.h"

namespace Web::Sessions {
namespace {
QHash<QByteArray, Session> sessions;

struct Brake {
    int failures = 0;
    QDateTime until;
    QDateTime last;
};
QHash<QHostAddress, Brake> brakes;

// 256 bits from the system's generator, as hex.
QByteArray RandomToken() {
    quint32 words[8];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex();
}

template <typename Map, typename When>
void DropOldest(Map& map, When when) {
    auto oldest = map.begin();
    for (auto it = map.begin(); it != map.end(); ++it) {
        if (when(it.value()) < when(oldest.value())) oldest = it;
    }
    if (oldest != map.end()) map.erase(oldest);
}
}  // namespace

bool SameSecret(const QByteArray& a, const QByteArray& b) {
    const QByteArray x = QCryptographicHash::hash(a, QCryptographicHash::Sha256);
    const QByteArray y = QCryptographicHash::hash(b, QCryptographicHash::Sha256);
    unsigned char diff = 0;
    for (qsizetype i = 0; i < x.size(); ++i) diff |= static_cast<unsigned char>(x[i] ^ y[i]);
    return diff == 0;
}

bool LoginSet() {
    return !ConfigParameters.AdminUserName.Text().isEmpty() &&
           !ConfigParameters.AdminPassword.Text().isEmpty();
}

std::optional<Session> SignIn(const QString& user, const QString& password) {
    if (!LoginSet()) return std::nullopt;
    // Both compared, so that the time does not tell which one was wrong.
    const bool userOk = SameSecret(user.toUtf8(), ConfigParameters.AdminUserName.Text().toUtf8());
    const bool passwordOk =
        SameSecret(password.toUtf8(), ConfigParameters.AdminPassword.Text().toUtf8());
    if (!userOk || !passwordOk) return std::nullopt;
    const QDateTime now = Clock::Now();
    for (auto it = sessions.begin(); it != sessions.end();) {
        it = it->expires <= now ? sessions.erase(it) : std::next(it);
    }
    if (sessions.size() >= kMaxSessions) {
        DropOldest(sessions, [](const Session& s) { return s.expires; });
    }
    Session session{RandomToken(), RandomToken(), ConfigParameters.AdminUserName.Text(),
                    now.addSecs(kLifetimeSeconds)};
    sessions.insert(session.id, session);
    return session;
}

std::optional<Session> Find(const QByteArray& cookieHeader) {
    const QByteArray prefix = QByteArray(kCookie) + '=';
    for (const QByteArray& part : cookieHeader.split(';')) {
        const QByteArray pair = part.trimmed();
        if (!pair.startsWith(prefix)) continue;
        const auto it = sessions.constFind(pair.mid(prefix.size()));
        if (it == sessions.constEnd()) continue;
        // A login changed or removed since ends its sessions.
        if (it->expires <= Clock::Now() || !LoginSet() ||
            it->user != ConfigParameters.AdminUserName.Text()) {
            sessions.remove(it.key());
            return std::nullopt;
        }
        return *it;
    }
    return std::nullopt;
}

void SignOut(const QByteArray& id) {
    sessions.remove(id);
}

QByteArray OpenCookie(const Session& session) {
    return QByteArray(kCookie) + '=' + session.id +
           "; Path=/; Max-Age=" + QByteArray::number(kLifetimeSeconds) +
           "; HttpOnly; SameSite=Strict";
}

QByteArray EndCookie() {
    return QByteArray(kCookie) + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict";
}

qint64 LockedFor(const QHostAddress& client) {
    const auto it = brakes.constFind(client);
    if (it == brakes.constEnd()) return 0;
    const qint64 left = Clock::Now().secsTo(it->until);
    return left > 0 ? left : 0;
}

void Failed(const QHostAddress& client) {
    const QDateTime now = Clock::Now();
    if (!brakes.contains(client) && brakes.size() >= kMaxBrakedClients) {
        DropOldest(brakes, [](const Brake& b) { return b.last; });
    }
    Brake& brake = brakes[client];
    brake.failures = qMin(brake.failures + 1, 30);
    brake.last = now;
    brake.until = now.addSecs(qMin<qint64>(qint64(1) << (brake.failures - 1), kMaxLockSeconds));
}

void Succeeded(const QHostAddress& client) {
    brakes.remove(client);
}

void Reset() {
    sessions.clear();
    brakes.clear();
}

}  // namespace Web::Sessions
