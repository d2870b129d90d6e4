#pragma once

#include <QObject>
#include <QThread>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace tarvo {

// A timer whose ticks are timed by a worker thread and run on the thread that owns the object (the UI
// thread). The worker waits on an auto-reset event for at most Interval ms; when the wait times out it
// hands one tick over and waits until that tick has run. A QThread cannot be suspended, so a disabled
// timer parks its worker on the same wait instead.
class ThreadedTimer : public QObject {
    Q_OBJECT
public:
    explicit ThreadedTimer(QObject* parent = nullptr);
    ~ThreadedTimer() override;

    bool isEnabled() const { return enabled_; }
    // True signals the event (a running wait ends without a tick and timing restarts) and wakes the
    // worker when Interval is not 0; false parks the worker.
    void setEnabled(bool on);
    int interval() const { return interval_; }
    // Disables the timer, stores the interval and restores the previous Enabled state.
    void setInterval(int ms);
    QThread::Priority threadPriority() const { return priority_; }
    void setThreadPriority(QThread::Priority priority);

    // Called on the owning thread for every tick that finds the timer still enabled.
    std::function<void()> onTick;

private:
    void workerLoop();
    void deliverTick();

    QThread* worker_ = nullptr;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool event_ = false;
    bool parked_ = true;
    bool terminated_ = false;
    bool tickPending_ = false;
    int interval_ = 1000;
    bool enabled_ = false;
    QThread::Priority priority_ = QThread::NormalPriority;
};

} // namespace tarvo
