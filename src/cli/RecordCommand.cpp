#include "base/ReplacingFile.h"
#include "base/TerminationSignals.h"
#include "cli/CliSession.h"
#include "cli/FollowRecording.h"
#include "cli/SlotRecording.h"
#include "cli/Subcommands.h"
#include "measure/DataFiles.h"
#include "measure/GraphModel.h"

#include <QCommandLineParser>
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
    const SlotRecording taken = recordIntoSlot(session, interrupt, "record", slot, *durationMs, trigger);
    if (taken.exitStatus != ExitOk)
        return taken.exitStatus;
    const int recorded = taken.count;
    const bool portLost = taken.portLost;
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
