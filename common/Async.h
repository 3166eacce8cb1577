#pragma once

#include <QEventLoop>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

// Blocking work (an SMTP exchange in libcurl, a request that may hang) runs
// off the main thread through this one helper, on a pool of worker threads
// that belongs to the application and is joined when it ends, so no thread
// outlives the program. The work gets copies of what it needs and writes
// no file: its result comes back to the main thread, which writes.
//
// Start every work from the main thread.
namespace Async {

// Runs `work` on a worker thread; nothing waits for it.
void Start(std::function<void()> work);

// From any thread: runs `call` on the main thread, unless `context` has been
// destroyed by then (checked on the main thread, where the object lives).
void Post(const QPointer<QObject>& context, std::function<void()> call);

// From a worker: runs `call` on the main thread as Post does and waits for
// it at most `limitMs`; false when it has not run by then or `context` is
// gone.
bool Ask(const QPointer<QObject>& context, std::function<void()> call, int limitMs);

// Waits (serving no events) at most `limitMs` for every work started here
// to end; true when none is left running.
bool Settle(int limitMs);

// Runs `work` on a worker thread; `done(result)` runs on the main thread
// when the work has ended, unless `context` has been destroyed by then.
template <typename Work, typename Done>
void Run(QObject* context, Work work, Done done) {
    using Result = std::invoke_result_t<Work&>;
    const QPointer<QObject> guard(context);
    Start([guard, work = std::move(work), done = std::move(done)]() mutable {
        auto result = std::make_shared<Result>(work());
        Post(guard, [done, result]() mutable { done(std::move(*result)); });
    });
}

// Runs `work` on a worker thread and waits for its result in a local event
// loop, so the program keeps serving its events. After `limitMs` the wait
// ends without a result; the work then runs to its end by itself.
template <typename Work>
std::optional<std::invoke_result_t<Work&>> RunAndWait(Work work, int limitMs) {
    using Result = std::invoke_result_t<Work&>;
    std::optional<Result> result;
    QEventLoop loop;
    // The result is taken only while this frame, and so the loop, exists.
    Run(&loop, std::move(work), [&result, &loop](Result r) {
        result = std::move(r);
        loop.quit();
    });
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    loop.exec();
    return result;
}

}  // namespace Async
