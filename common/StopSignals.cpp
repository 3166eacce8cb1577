#include "common/StopSignals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>

namespace StopSignals {
namespace {
int pipeFds[2] = {-1, -1};

void Handler(int signal) {
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(pipeFds[0], &byte, 1);
}
}  // namespace

void Install(std::function<void(int)> onSignal) {
    if (pipeFds[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, pipeFds) != 0) return;
    // Lives for the run: the application deletes it at the end.
    auto* notifier =
        new QSocketNotifier(pipeFds[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [onSignal = std::move(onSignal)] {
        char byte = 0;
        if (::read(pipeFds[1], &byte, 1) == 1) onSignal(byte);
    });
    struct sigaction action {};
    action.sa_handler = Handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace StopSignals
