#include "EventWait.h"

#include "TimeScale.h"

#include <QEventLoop>
#include <QTimer>

namespace tarvo {

void waitMs(int deviceMs, bool userInput) {
    const int ms = TimeScale::ms(deviceMs);
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(ms);
    loop.exec(userInput ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
}

} // namespace tarvo
