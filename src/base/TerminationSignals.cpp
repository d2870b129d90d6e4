#include "TerminationSignals.h"

#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace tarvo {

namespace {
// What the handler may touch: plain values and a pipe (only async-signal-safe calls there).
int wakePipe[2] = {-1, -1};
volatile std::sig_atomic_t signalCount = 0;
volatile std::sig_atomic_t secondSignalStatus = 130;

void onSignal(int signalNumber) {
    signalCount = signalCount + 1;
    if (signalCount > 1)
        _exit(secondSignalStatus);
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(wakePipe[1], &byte, 1);
}

void handleWith(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // The terminal that started the program was closed: a close like any other, settings saved.
    sigaction(SIGHUP, &action, nullptr);
}
} // namespace

TerminationSignals::TerminationSignals(int exitStatus, QObject* parent) : QObject(parent) {
    secondSignalStatus = exitStatus;
    signalCount = 0;
    if (wakePipe[0] < 0 && ::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // without the pipe the signals keep their default effect
    notifier_ = std::make_unique<QSocketNotifier>(wakePipe[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &TerminationSignals::pipeReadable);
    handleWith(onSignal);
}

TerminationSignals::~TerminationSignals() {
    if (notifier_)
        handleWith(SIG_DFL);
}

bool TerminationSignals::pending() {
    return signalCount > 0;
}

void TerminationSignals::pipeReadable() {
    unsigned char byte = 0;
    while (::read(wakePipe[0], &byte, 1) == 1)
        emit received(byte);
}

} // namespace tarvo
