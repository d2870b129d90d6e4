#include "SlotRecording.h"

#include "base/TerminationSignals.h"
#include "cli/CliSession.h"
#include "cli/Subcommands.h"
#include "link/CanBridge.h"
#include "link/ComPortMap.h"
#include "measure/Acquisition.h"
#include "measure/RecordingMemory.h"

#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>

namespace tarvo::cli {

SlotRecording recordIntoSlot(CliSession& session, TerminationSignals& interrupt, const char* name, int slot,
                             qint64 durationMs, bool trigger, int comPort) {
    SlotRecording result;
    MainController& c = session.controller();
    if (!session.linkAvailable()) {
        result.exitStatus = ExitFailed;
        return result;
    }
    if (comPort > 0) {
        c.ports().setSearchOnlySelected(true);
        c.ports().comClicked(comPort);
    }
    c.discovery().findDeviceClicked();
    if (TerminationSignals::pending()) {
        result.exitStatus = ExitInterrupted;
        return result;
    }
    if (!c.discovery().found()) {
        result.exitStatus = ExitFailed;
        return result;
    }

    Acquisition& a = c.acquisition();
    a.setSelectedSlot(slot);
    auto samples = [&] { return trigger ? std::max(a.captureCount(), a.sampleIndex()) : a.sampleIndex(); };
    QEventLoop loop;
    QTimer progress;
    QObject::connect(&progress, &QTimer::timeout, [&] {
        std::fprintf(stderr, "samples: %d\n", samples());
        std::fflush(stderr);
    });
    QTimer end;
    end.setSingleShot(true);
    QObject::connect(&end, &QTimer::timeout, &loop, &QEventLoop::quit);
    // An unplugged adapter ends the recording at once (its text is on stderr already); so does a signal.
    QObject::connect(&c.link(), &CommandLink::portLost, &loop, [&] {
        result.portLost = true;
        loop.quit();
    });
    if (CanBridge* bridge = c.canBridge())
        QObject::connect(bridge, &CanBridge::adapterLost, &loop, [&] {
            result.portLost = true;
            loop.quit();
        });
    QObject::connect(&interrupt, &TerminationSignals::received, &loop, &QEventLoop::quit);
    if (trigger) {
        // A finished capture (or the wait-for-trigger time-out) releases TRIGGER.
        QObject::connect(&a, &Acquisition::changed, &loop, [&] {
            if (!a.triggerDown())
                loop.quit();
        });
        a.triggerClicked(true);
    } else {
        a.runClicked();
    }
    progress.start(1000);
    end.start(std::chrono::milliseconds(durationMs));
    if ((!trigger ? a.runDown() : a.triggerDown()) && !TerminationSignals::pending())
        loop.exec();
    progress.stop();
    // A lost port has stopped the recording already; the slot keeps what it took.
    const GraphSlot& taken = c.recordings().slot(slot);
    std::fprintf(stderr, "samples: %d\n", std::max(samples(), taken.recorded ? taken.count : 0));
    // A lost link has stopped it already, and a stop now would open the bus again to say so.
    if (trigger)
        a.triggerClicked(false);
    else if (!result.portLost)
        a.stopClicked();

    result.count = taken.recorded ? taken.count : 0;
    if (result.count < 1) {
        std::fprintf(stderr, "tarvo-cli %s: nothing was recorded\n", name);
        result.exitStatus = TerminationSignals::pending() ? ExitInterrupted : ExitFailed;
    }
    return result;
}

} // namespace tarvo::cli
