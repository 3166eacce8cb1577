#include "common/Async.h"

#include <QCoreApplication>
#include <QThreadPool>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace Async {
namespace {

// A pool of its own: the global one has as many threads as cores, and a
// mail server that does not answer would hold one of two for half a minute.
// As a child of the application it is joined when the application ends.
QThreadPool* Pool() {
    static QPointer<QThreadPool> pool;
    if (!pool) {
        pool = new QThreadPool(QCoreApplication::instance());
        pool->setMaxThreadCount(16);
    }
    return pool;
}

// Queued to the application object, which outlives every worker; the
// context is looked at only there, on the main thread.
void Queue(std::function<void()> call) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(call), Qt::QueuedConnection);
}

}  // namespace

void Start(std::function<void()> work) {
    if (!QCoreApplication::instance()) {
        work();  // no event loop to come back to: a plain call
        return;
    }
    Pool()->start(std::move(work));
}

void Post(const QPointer<QObject>& context, std::function<void()> call) {
    if (!QCoreApplication::instance()) return;
    Queue([context, call = std::move(call)] {
        if (context) call();
    });
}

bool Ask(const QPointer<QObject>& context, std::function<void()> call, int limitMs) {
    if (!QCoreApplication::instance()) return false;
    struct Answer {
        std::mutex mutex;
        std::condition_variable changed;
        bool over = false;
        bool ran = false;
    };
    auto answer = std::make_shared<Answer>();
    Queue([context, call = std::move(call), answer] {
        const bool alive = !context.isNull();
        if (alive) call();
        std::lock_guard lock(answer->mutex);
        answer->over = true;
        answer->ran = alive;
        answer->changed.notify_all();
    });
    std::unique_lock lock(answer->mutex);
    answer->changed.wait_for(lock, std::chrono::milliseconds(limitMs),
                             [&answer] { return answer->over; });
    return answer->ran;
}

bool Settle(int limitMs) {
    return !QCoreApplication::instance() || Pool()->waitForDone(limitMs);
}

}  // namespace Async
