#pragma once

#include <engine/Line.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <functional>

namespace devsim::test {

// Runs the event loop until the condition holds or ms pass (real time).
inline bool waitUntil(const std::function<bool()>& condition, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() >= ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QEventLoop loop;
        QTimer::singleShot(1, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// Collects what a line sends to the host.
class HostSide {
public:
    explicit HostSide(Line& line) : line_(line) {
        QObject::connect(&line, &Line::toHost, &context_,
                         [this](const QByteArray& bytes) { bytes_ += bytes; });
    }

    QByteArray& bytes() { return bytes_; }
    void clear() { bytes_.clear(); }

    // Writes the command at the given rate and returns the first reply line (with its "\r"), or what
    // arrived when no "\r" came within ms.
    QByteArray ask(const QByteArray& command, int baud, int ms = 1000) {
        clear();
        line_.hostWrite(command, baud);
        waitUntil([this] { return bytes_.contains('\r'); }, ms);
        const qsizetype end = bytes_.indexOf('\r');
        return end < 0 ? bytes_ : bytes_.left(end + 1);
    }

    // Waits until n lines ("\r"-terminated) have arrived.
    bool waitLines(int n, int ms) {
        return waitUntil([&] { return bytes_.count('\r') >= n; }, ms);
    }

private:
    Line& line_;
    QObject context_;
    QByteArray bytes_;
};

// Restores the time scale when a test that speeds up device time ends.
class ScopedTimeScale {
public:
    explicit ScopedTimeScale(double factor);
    ~ScopedTimeScale();
    ScopedTimeScale(const ScopedTimeScale&) = delete;
    ScopedTimeScale& operator=(const ScopedTimeScale&) = delete;

private:
    double previous_;
};

} // namespace devsim::test
