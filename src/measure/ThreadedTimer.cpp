#include "ThreadedTimer.h"

#include <QPointer>
#include <chrono>

namespace tarvo {

ThreadedTimer::ThreadedTimer(QObject* parent) : QObject(parent) {
    worker_ = QThread::create([this] { workerLoop(); });
    worker_->start(priority_);
}

ThreadedTimer::~ThreadedTimer() {
    {
        std::lock_guard lock(mutex_);
        terminated_ = true;
        event_ = true;
        parked_ = false;
    }
    // Also ends a worker that waits for a handed-over tick: that tick is dropped with this object.
    wake_.notify_all();
    worker_->wait();
    delete worker_;
}

void ThreadedTimer::setEnabled(bool on) {
    enabled_ = on;
    {
        std::lock_guard lock(mutex_);
        if (on) {
            event_ = true;
            parked_ = interval_ == 0;
        } else {
            parked_ = true;
        }
    }
    wake_.notify_all();
}

void ThreadedTimer::setInterval(int ms) {
    const bool was = enabled_;
    setEnabled(false);
    {
        std::lock_guard lock(mutex_);
        interval_ = ms < 0 ? 0 : ms;
    }
    setEnabled(was);
}

void ThreadedTimer::setThreadPriority(QThread::Priority priority) {
    priority_ = priority;
    worker_->setPriority(priority);
}

void ThreadedTimer::workerLoop() {
    std::unique_lock lock(mutex_);
    while (!terminated_) {
        if (parked_) {
            wake_.wait(lock, [this] { return terminated_ || !parked_; });
            continue;
        }
        const auto interval = std::chrono::milliseconds(interval_);
        if (wake_.wait_for(lock, interval, [this] { return terminated_ || parked_ || event_; })) {
            event_ = false; // auto-reset: a signalled wait restarts timing without a tick
            continue;
        }
        tickPending_ = true;
        // Queued on this object: if the object dies first, Qt drops the call with it.
        QMetaObject::invokeMethod(this, &ThreadedTimer::deliverTick, Qt::QueuedConnection);
        wake_.wait(lock, [this] { return terminated_ || !tickPending_; });
    }
}

void ThreadedTimer::deliverTick() {
    if (enabled_ && onTick) {
        // The handler may destroy this timer; the destructor has then ended the worker already.
        const QPointer<ThreadedTimer> self(this);
        onTick();
        if (!self)
            return;
    }
    {
        std::lock_guard lock(mutex_);
        tickPending_ = false;
    }
    wake_.notify_all();
}

} // namespace tarvo
