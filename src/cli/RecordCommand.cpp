#include "base/ReplacingFile.h"
#include "base/TerminationSignals.h"
#include "cli/CliSession.h"
#include "cli/FollowRecording.h"
#include "cli/Subcommands.h"
#include "link/ComPortMap.h"
#include "measure/Acquisition.h"
#include "measure/DataFiles.h"
#include "measure/GraphModel.h"
#include "measure/RecordingMemory.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>

namespace tarvo::cli {

namespace {

// One day: far beyond what the recording memory holds at any rate, and well inside a timer's range.
constexpr int kMaxRecordSeconds = 86400;

int recordUsageError(const QString& text) {
    std::fprintf(stderr, "tarvo-cli record: %s\n", text.toLocal8Bit().constData());
    return ExitUsage;
}

} // namespace

int runRecord(const QStringList& args) {
    QCommandLineParser parser;
    parser.addOption(
        {"seconds",
         QStringLiteral("how long to record, whole or decimal seconds up to %1 (with --trigger: the "
                        "whole attempt)")
             .arg(kMaxRecordSeconds),
         "N"});
    parser.addOption({"csv", "the graph data file to write", "FILE"});
    parser.addOption({"slot", "graph slot 1..5 (default 1)", "K", "1"});
    parser.addOption({"trigger", "record with TRIGGER instead of RUN"});
    parser.addOption({"yes", "answer Yes to the program's questions (default: No)"});
    parser.addOption({"markers", "print the status markers the recording drew, one a line"});
    addFollowOptions(parser);
    addHelpOption(parser);
    if (!parser.parse(QStringList{"tarvo-cli record"} + args))
        return recordUsageError(parser.errorText());
    if (printHelpIfAsked("record", parser))
        return ExitOk;
    if (parser.isSet("follow"))
        return runFollowRecording(parser);
    for (const char* option : {"format", "rotate", "address", "port", "events"})
        if (parser.isSet(option))
            return recordUsageError(QStringLiteral("--%1 goes with --follow").arg(QLatin1String(option)));
    if (!parser.positionalArguments().isEmpty())
        return recordUsageError("takes no arguments besides its options");
    bool ok = false;
    const std::optional<qint64> durationMs =
        parser.isSet("seconds") ? parseSeconds(parser.value("seconds"), kMaxRecordSeconds) : std::nullopt;
    if (!durationMs)
        return recordUsageError(
            QStringLiteral("--seconds needs a number of seconds from 0.001 to %1, whole or "
                           "decimal (e.g. 2 or 0.5)")
                .arg(kMaxRecordSeconds));
    const QString csv = parser.value("csv");
    if (csv.isEmpty())
        return recordUsageError("--csv needs a file name");
    const int slot = parser.value("slot").toInt(&ok);
    if (!ok || slot < 1 || slot > kGraphSlots)
        return recordUsageError("--slot needs a number 1..5");
    const bool trigger = parser.isSet("trigger");
    // A recording that could not be kept is not started: a missing folder, a folder, a read-only disk or
    // a device named as the file is said now, with the system's reason.
    if (const QString reason = ReplacingFile::checkTarget(csv); !reason.isEmpty()) {
        std::fprintf(stderr, "tarvo-cli record: %s: %s; nothing was recorded\n",
                     csv.toLocal8Bit().constData(), reason.toLocal8Bit().constData());
        return ExitFailed;
    }

    // Ctrl+C or a TERM signal ends the recording as STOP would and still writes what was captured; a
    // second one ends at once.
    TerminationSignals interrupt(ExitInterrupted);
    CliSession session(parser.isSet("yes"));
    MainController& c = session.controller();
    bool anyPort = c.ports().canChosen();
    for (int com = 1; com <= ComPortMap::kCount; ++com)
        anyPort = anyPort || c.ports().portAvailable(com);
    if (!anyPort) {
        std::fprintf(stderr, "%s\n", c.noComPortsText().toLocal8Bit().constData());
        return ExitFailed;
    }
    c.discovery().findDeviceClicked();
    if (TerminationSignals::pending())
        return ExitInterrupted;
    if (!c.discovery().found())
        return ExitFailed;

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
    bool portLost = false;
    QObject::connect(&c.link(), &CommandLink::portLost, &loop, [&] {
        portLost = true;
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
    end.start(std::chrono::milliseconds(*durationMs));
    if ((!trigger ? a.runDown() : a.triggerDown()) && !TerminationSignals::pending())
        loop.exec();
    progress.stop();
    // A lost port has stopped the recording already; the slot keeps what it took.
    const GraphSlot& taken = c.recordings().slot(slot);
    std::fprintf(stderr, "samples: %d\n", std::max(samples(), taken.recorded ? taken.count : 0));
    if (trigger)
        a.triggerClicked(false);
    else
        a.stopClicked();

    const int recorded = c.recordings().slot(slot).recorded ? c.recordings().slot(slot).count : 0;
    if (recorded < 1) {
        std::fprintf(stderr, "tarvo-cli record: nothing was recorded\n");
        return TerminationSignals::pending() ? ExitInterrupted : ExitFailed;
    }
    session.op().setSaveFileName(csv);
    // What "Save graph as *.csv file" writes.
    DataFiles& files = c.dataFiles();
    const bool written = files.logDosingData() ? files.saveDosingData(slot)
                                               : files.saveGraphData(slot, c.readout().grossSelected());
    if (!written)
        return ExitFailed;
    std::printf("%s: %d samples\n", csv.toLocal8Bit().constData(), recorded);
    if (parser.isSet("markers")) {
        // The device states of a status-packet recording, as the scope labels them.
        for (const GraphMarker& marker : c.graph().markers())
            std::printf("marker at %lld ms: %s\n", static_cast<long long>(marker.time),
                        marker.text.toLocal8Bit().constData());
    }
    std::fflush(stdout);
    if (TerminationSignals::pending())
        return ExitInterrupted;
    return portLost ? ExitFailed : ExitOk;
}

} // namespace tarvo::cli
