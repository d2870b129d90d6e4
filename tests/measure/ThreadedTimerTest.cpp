#include "measure/ThreadedTimer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

using namespace tarvo;

namespace {

void pump(int realMs) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < realMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

} // namespace

TEST(ThreadedTimerTest, TicksRunOnTheOwningThreadOnlyWhileEnabled) {
    ThreadedTimer timer;
    EXPECT_FALSE(timer.isEnabled());
    EXPECT_EQ(timer.interval(), 1000);
    int ticks = 0;
    bool onOwnThread = true;
    timer.onTick = [&] {
        ++ticks;
        onOwnThread = onOwnThread && QThread::currentThread() == QCoreApplication::instance()->thread();
    };
    timer.setInterval(5);
    EXPECT_FALSE(timer.isEnabled()); // changing the interval keeps the timer off
    pump(50);
    EXPECT_EQ(ticks, 0);

    timer.setEnabled(true);
    pump(100);
    EXPECT_GT(ticks, 2);
    EXPECT_TRUE(onOwnThread);

    timer.setInterval(10);
    EXPECT_TRUE(timer.isEnabled()); // ... and keeps it on
    EXPECT_EQ(timer.interval(), 10);

    timer.setEnabled(false);
    pump(20); // a tick handed over before the switch finds the timer off
    const int stopped = ticks;
    pump(60);
    EXPECT_EQ(ticks, stopped);
}

TEST(ThreadedTimerTest, IntervalZeroNeverTicksAndEnablingRestartsTiming) {
    ThreadedTimer timer;
    int ticks = 0;
    timer.onTick = [&] { ++ticks; };
    timer.setInterval(0);
    timer.setEnabled(true);
    pump(50);
    EXPECT_EQ(ticks, 0);

    // Re-enabling ends the running wait without a tick: kept re-enabled faster than the interval, the
    // timer never fires.
    timer.setInterval(80);
    for (int i = 0; i < 8; ++i) {
        timer.setEnabled(true);
        pump(20);
    }
    EXPECT_EQ(ticks, 0);
    pump(150);
    EXPECT_GE(ticks, 1);
}

TEST(ThreadedTimerTest, DestructionWhileATickIsHandedOverNeitherHangsNorRunsIt) {
    int ticks = 0;
    {
        ThreadedTimer timer;
        timer.onTick = [&] { ++ticks; };
        timer.setInterval(1);
        timer.setEnabled(true);
        // No event processing: the worker has handed a tick over and waits for it to run.
        QThread::msleep(30);
    }
    pump(20);
    EXPECT_EQ(ticks, 0);

    // A timer destroyed from inside its own tick.
    auto* timer = new ThreadedTimer;
    timer->setInterval(1);
    timer->onTick = [&] {
        // Everything captured is used before the handler's own storage goes away.
        ++ticks;
        ThreadedTimer* self = timer;
        timer = nullptr;
        delete self;
    };
    timer->setEnabled(true);
    pump(50);
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(timer, nullptr);
}
