#include "base/NumberText.h"
#include "base/ReplacingFile.h"
#include "base/TerminationSignals.h"
#include "cli/CliSession.h"
#include "cli/Subcommands.h"
#include "link/ComPortMap.h"
#include "measure/FilterAdvisor.h"
#include "measure/LiveReadout.h"
#include "protocol/Discovery.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

namespace tarvo::cli {

namespace {

int tuneUsageError(const QString& text) {
    std::fprintf(stderr, "tarvo-cli tune: %s\n", text.toLocal8Bit().constData());
    return ExitUsage;
}

void say(const QString& text) {
    std::fprintf(stderr, "tarvo-cli tune: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

QJsonValue choiceJson(const std::optional<FilterChoice>& c) {
    if (!c)
        return QJsonValue::Null;
    QJsonObject o{{"name", c->name()}, {"level", c->level}};
    o.insert("mode", c->mode >= 0 ? QJsonValue(c->mode) : QJsonValue::Null);
    return o;
}

QJsonObject resultJson(const FilterAdvisor& a, const QString& outcome) {
    QJsonArray settings;
    for (int i = 0; i < a.trials().size(); ++i) {
        const FilterTrial& t = a.trials()[i];
        QJsonObject o{{"setting", choiceJson(t.setting)},
                      {"samples", t.samples},
                      {"sigma", t.sigma},
                      {"peakToPeak", t.peakToPeak},
                      {"sigmaCounts", t.sigmaCounts},
                      {"peakToPeakCounts", t.peakToPeakCounts},
                      {"stillNoise", t.stillNoise},
                      {"meetsNoise", t.meetsNoise},
                      {"meetsSettling", t.meetsSettling},
                      {"recommended", a.recommended() == i}};
        o.insert("settlingMs", t.settlingMs ? QJsonValue(*t.settlingMs) : QJsonValue::Null);
        settings.append(o);
    }
    const std::optional<FilterChoice> recommended =
        a.recommended() ? std::optional(a.trials()[*a.recommended()].setting) : std::nullopt;
    QJsonObject out{{"outcome", outcome},
                    {"decimals", a.decimals()},
                    {"noiseTarget", a.targets().noise},
                    {"settleTargetMs", a.targets().settleMs},
                    {"original", choiceJson(a.original())},
                    {"settings", settings},
                    {"recommended", choiceJson(recommended)},
                    {"restored", a.restoreConfirmed()},
                    {"applied", a.applied()}};
    out.insert("error", a.error().isEmpty() ? QJsonValue::Null : QJsonValue(a.error()));
    return out;
}

} // namespace

int runTune(const QStringList& args) {
    QCommandLineParser parser;
    parser.addOption({"noise", "the largest standard deviation of the settled weight, in its units", "X"});
    parser.addOption({"settle", "the longest settling time after a load change, in ms", "MS"});
    parser.addOption({"apply", "write and store the recommended filter (else the original is restored)"});
    parser.addOption({"report", "save the whole run as a CSV report", "FILE"});
    parser.addOption({"json", "print one JSON object instead of lines of text"});
    parser.addOption({"window", "how long each setting is recorded, ms (default 4000)", "MS", "4000"});
    parser.addOption({"take", "the pause after a setting is confirmed, ms (default 300)", "MS", "300"});
    parser.addOption({"band", "settled: within this % of the load change (default 1)", "PCT", "1"});
    addHelpOption(parser);
    if (!parser.parse(QStringList{"tarvo-cli tune"} + args))
        return tuneUsageError(parser.errorText());
    if (printHelpIfAsked("tune", parser))
        return ExitOk;
    if (!parser.positionalArguments().isEmpty())
        return tuneUsageError("takes no arguments besides its options");
    FilterAdvisor::Targets targets;
    const std::optional<double> noise = parseTypedNumber(parser.value("noise"));
    targets.noise = noise.value_or(-1);
    if (!parser.isSet("noise") || !noise || !(targets.noise >= 0) || !std::isfinite(targets.noise))
        return tuneUsageError("--noise needs the largest standard deviation, a number 0 or more");
    const std::optional<qint64> settle = parseMilliseconds(parser.value("settle"), 3600000);
    if (!parser.isSet("settle") || !settle)
        return tuneUsageError("--settle needs a time in ms, 1..3600000");
    targets.settleMs = double(*settle);
    FilterAdvisor::Options options;
    const std::optional<qint64> window = parseMilliseconds(parser.value("window"), 600000);
    if (!window || *window < 200)
        return tuneUsageError("--window needs a time in ms, 200..600000");
    options.windowMs = int(*window);
    const std::optional<qint64> take = parseMilliseconds(parser.value("take"), 600000);
    if (!take)
        return tuneUsageError("--take needs a time in ms, 1..600000");
    options.takeMs = int(*take);
    const double band = parseTypedNumber(parser.value("band")).value_or(0);
    if (!(band > 0) || band > 50)
        return tuneUsageError("--band needs a percentage above 0 and at most 50");
    options.bandFraction = band / 100;
    const QString report = parser.value("report");
    if (parser.isSet("report")) {
        if (report.isEmpty())
            return tuneUsageError("--report needs a file name");
        if (const QString reason = ReplacingFile::checkTarget(report); !reason.isEmpty()) {
            std::fprintf(stderr, "tarvo-cli tune: %s: %s; nothing was changed\n",
                         report.toLocal8Bit().constData(), reason.toLocal8Bit().constData());
            return ExitFailed;
        }
    }

    // Ctrl+C or TERM ends the search as Cancel does: the original filter goes back first.
    TerminationSignals interrupt(ExitInterrupted);
    CliSession session;
    MainController& c = session.controller();
    if (!session.linkAvailable())
        return ExitFailed;
    // Its filter changes go to the serial port whatever the link: over the bus they would reach another
    // device, or none.
    if (c.ports().canChosen()) {
        say(QStringLiteral("the filter search works over a serial port, and Tarvo.ini chooses the CAN bus; "
                           "nothing was sent"));
        return ExitFailed;
    }
    c.discovery().findDeviceClicked();
    if (TerminationSignals::pending())
        return ExitInterrupted;
    if (!c.discovery().found())
        return ExitFailed;
    const int identity = c.discovery().deviceIdentity();
    if (!FilterAdvisor::hasFilterSettings(identity)) {
        say(QStringLiteral("the device (%1) has no filter settings to try").arg(identity));
        return ExitFailed;
    }

    FilterAdvisor advisor(c.link(), session.op(), identity, c.readout().streamStart(),
                          c.readout().streamCommand());
    QObject::connect(&interrupt, &TerminationSignals::received, &advisor, [&advisor] { advisor.cancel(); });
    QObject::connect(&advisor, &FilterAdvisor::progress, [](const QString& text, int, int) { say(text); });
    if (TerminationSignals::pending())
        advisor.cancel();
    const FilterAdvisor::Outcome outcome = advisor.run(targets, options);
    bool applied = false;
    if (outcome == FilterAdvisor::Outcome::Finished && parser.isSet("apply")) {
        if (!advisor.recommended())
            say("no setting meets both targets; the original filter stays");
        else if ((applied = advisor.applyRecommendation()))
            say("applied and stored: " + advisor.trials()[*advisor.recommended()].setting.name());
        else
            say(advisor.error());
    }
    bool reportWritten = true;
    if (parser.isSet("report")) {
        QString why;
        reportWritten = advisor.writeReport(report, &why);
        if (!reportWritten)
            say(report + ": " + why + "; the report was not saved");
    }

    const QString outcomeText = outcome == FilterAdvisor::Outcome::Finished    ? QStringLiteral("finished")
                                : outcome == FilterAdvisor::Outcome::Cancelled ? QStringLiteral("cancelled")
                                                                               : QStringLiteral("failed");
    if (parser.isSet("json")) {
        std::printf(
            "%s\n",
            QJsonDocument(resultJson(advisor, outcomeText)).toJson(QJsonDocument::Compact).constData());
    } else {
        const int d = advisor.decimals();
        for (int i = 0; i < advisor.trials().size(); ++i) {
            const FilterTrial& t = advisor.trials()[i];
            std::printf(
                "%-14s sigma %s (%s counts)%s  p-p %s  settling %s%s%s\n",
                t.setting.name().toLocal8Bit().constData(),
                QString::number(t.sigma, 'f', d + 2).toLocal8Bit().constData(),
                QString::number(t.sigmaCounts, 'f', 2).toLocal8Bit().constData(),
                t.stillNoise ? "" : " while moving",
                QString::number(t.peakToPeak, 'f', d).toLocal8Bit().constData(),
                t.settlingMs ? (QString::number(*t.settlingMs, 'f', 0) + " ms").toLocal8Bit().constData()
                             : "not settled",
                t.meetsBoth() ? "  meets both" : "", advisor.recommended() == i ? "  RECOMMENDED" : "");
        }
        if (advisor.recommended())
            std::printf("recommended: %s\n",
                        advisor.trials()[*advisor.recommended()].setting.name().toLocal8Bit().constData());
        else if (outcome == FilterAdvisor::Outcome::Finished)
            std::printf("recommended: none (no setting meets both targets)\n");
        if (!advisor.error().isEmpty())
            say(advisor.error());
    }
    std::fflush(stdout);
    if (outcome == FilterAdvisor::Outcome::Cancelled)
        return ExitInterrupted;
    if (outcome != FilterAdvisor::Outcome::Finished || !reportWritten)
        return ExitFailed;
    if (parser.isSet("apply"))
        return applied ? ExitOk : ExitFailed;
    return advisor.restoreConfirmed() ? ExitOk : ExitFailed;
}

} // namespace tarvo::cli
