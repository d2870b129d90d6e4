#pragma once

#include <QEvent>
#include <QObject>
#include <QWidget>
#include <QWindow>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace tarvo::ui {

// For measuring the start: with TARVO_STARTUP_MARK set in the environment, the moment the window is
// first exposed (on screen) goes to standard error as "exposed <steady clock in ns>", once.
inline void markFirstExposure(QWidget& window) {
    if (!std::getenv("TARVO_STARTUP_MARK"))
        return;
    struct Mark : QObject {
        using QObject::QObject;
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::Expose && static_cast<QWindow*>(watched)->isExposed()) {
                const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                    std::chrono::steady_clock::now().time_since_epoch())
                                    .count();
                std::fprintf(stderr, "exposed %lld\n", static_cast<long long>(ns));
                std::fflush(stderr);
                watched->removeEventFilter(this);
                deleteLater();
            }
            return false;
        }
    };
    // The native window exists once the widget has one; made here so the filter can sit on it.
    window.winId();
    window.windowHandle()->installEventFilter(new Mark(&window));
}

} // namespace tarvo::ui
