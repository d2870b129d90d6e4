#include "FilterAdvisor.h"

#include "base/EventWait.h"
#include "base/Operator.h"
#include "base/ReplacingFile.h"
#include "base/TimeScale.h"
#include "link/CommandLink.h"
#include "link/SerialPort.h"
#include "measure/SampleStreamWriter.h"
#include "measure/SpanStatistics.h"
#include "measure/StreamDispatcher.h"

#include <QElapsedTimer>
#include <algorithm>
#include <cmath>

namespace tarvo {

namespace {

constexpr int kSetLimitMs = 1000;
constexpr int kSliceMs = 20;
constexpr int kLevels = 9;

// The track-bar models' highest filter index; -1 for the others.
int highestIndex(int identity) {
    switch (identity) {
    case 3710:
    case 2110:
    case 2113:
    case 2114:
        return 7;
    case 2310:
        return 17;
    case 4110:
        return 23;
    default:
        return -1;
    }
}

bool hasModeAndLevel(int identity) {
    switch (identity) {
    case 4113:
    case 5113:
    case 4114:
    case 5114:
    case 4115:
    case 5115:
    case 3010:
    case 4310:
    case 4313:
    case 4314:
        return true;
    default:
        return false;
    }
}

QString fixed(double value, int decimals) {
    return QString::number(value, 'f', std::max(0, decimals));
}

} // namespace

QString FilterChoice::name() const {
    if (mode == 0)
        return QStringLiteral("IIR level %1").arg(level);
    if (mode == 1)
        return QStringLiteral("FIR level %1").arg(level);
    return QStringLiteral("filter %1").arg(level);
}

FilterAdvisor::FilterAdvisor(CommandLink& link, Operator& op, int identity, QByteArray streamStart,
                             QByteArray streamCommand, QObject* parent)
    : QObject(parent), link_(link), op_(op), identity_(identity), streamStart_(std::move(streamStart)),
      streamCommand_(std::move(streamCommand)) {
    connect(&link_, &CommandLink::portLost, this, [this](int, const QString& reason) {
        portLost_ = true;
        fail(QStringLiteral("The port was lost (%1); the filter search ended.")
                 .arg(reason.isEmpty() ? QStringLiteral("adapter gone") : reason));
    });
}

FilterAdvisor::~FilterAdvisor() = default;

bool FilterAdvisor::hasFilterSettings(int identity) {
    return !settingsOf(identity).isEmpty();
}

QList<FilterChoice> FilterAdvisor::settingsOf(int identity) {
    QList<FilterChoice> list;
    if (const int highest = highestIndex(identity); highest >= 0) {
        for (int i = 0; i <= highest; ++i)
            list.append({-1, i});
    } else if (identity == 6110) {
        // No mode choice: it filters as IIR.
        for (int level = 0; level < kLevels; ++level)
            list.append({-1, level});
    } else if (hasModeAndLevel(identity)) {
        for (int mode = 0; mode <= 1; ++mode)
            for (int level = 0; level < kLevels; ++level)
                list.append({mode, level});
    }
    return list;
}

bool FilterAdvisor::hasMode() const {
    return hasModeAndLevel(identity_);
}

void FilterAdvisor::fail(const QString& text) {
    if (error_.isEmpty())
        error_ = text;
}

bool FilterAdvisor::stopped() {
    return cancelled_ || portLost_;
}

bool FilterAdvisor::pause(int ms) {
    QElapsedTimer clock;
    clock.start();
    const qint64 limit = TimeScale::ms(ms);
    while (!stopped() && clock.elapsed() < limit)
        waitMs(int(std::min<qint64>(kSliceMs, std::max<qint64>(1, limit - clock.elapsed()))));
    return !stopped();
}

std::optional<int> FilterAdvisor::query(const QByteArray& command, char prefix) {
    const QByteArray reply = link_.sendAndReceiveLive(link_.port().portNumber(), command, kSetLimitMs);
    if (reply.size() < 2 || reply.front() != prefix)
        return std::nullopt;
    bool ok = false;
    const int value = reply.mid(1).toInt(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

std::optional<FilterChoice> FilterAdvisor::readSetting() {
    FilterChoice c;
    if (hasMode()) {
        const std::optional<int> mode = query("FM", 'M');
        if (!mode || (*mode != 0 && *mode != 1))
            return std::nullopt;
        c.mode = *mode;
    }
    const std::optional<int> level = query("FL", 'F');
    if (!level)
        return std::nullopt;
    c.level = *level;
    return c;
}

bool FilterAdvisor::writeSetting(const FilterChoice& choice, bool store) {
    const int port = link_.port().portNumber();
    auto send = [&](const QByteArray& command) {
        const QByteArray reply = link_.sendAndReceiveLive(port, command, kSetLimitMs);
        if (reply == "OK")
            return true;
        fail(QStringLiteral("The device answered \"%1\" to \"%2\"; the filter was not changed.")
                 .arg(QString::fromLatin1(reply), QString::fromLatin1(command)));
        return false;
    };
    written_ = choice; // from here on the device may hold it, whatever comes of the write
    if (choice.mode >= 0 && !send("FM " + QByteArray::number(choice.mode)))
        return false;
    // The track-bar models take the index without a blank, as their pages send it.
    const QByteArray level = highestIndex(identity_) >= 0 ? "FL" + QByteArray::number(choice.level)
                                                          : "FL " + QByteArray::number(choice.level);
    if (!send(level))
        return false;
    if (store && !send("WP"))
        return false;
    const std::optional<FilterChoice> back = readSetting();
    if (!back) {
        fail(
            QStringLiteral("The filter setting could not be read back after writing %1.").arg(choice.name()));
        return false;
    }
    held_ = back;
    if (!(*back == choice)) {
        fail(QStringLiteral("The device holds %1 after %2 was written.").arg(back->name(), choice.name()));
        return false;
    }
    return true;
}

QString FilterAdvisor::leftWith() const {
    if (!held_)
        return QStringLiteral("an unknown setting");
    if (!written_ || *written_ == *held_)
        return held_->name();
    // Lost while a setting was being written: it may or may not have taken.
    return QStringLiteral("%1 or %2").arg(held_->name(), written_->name());
}

void FilterAdvisor::startStream() {
    PacketMatcher& stream = link_.streamMatcher();
    stream.setEnabled(false);
    stream.disarm();
    stream.setStartString(streamStart_);
    stream.setEndString("\r");
    stream.setEndConditions(PacketMatcher::EndString);
    stream.setIncludeStrings(false);
    link_.writeRaw(streamCommand_);
    stream.setAutoEnable(true);
    stream.setEnabled(true);
    stream.arm();
}

void FilterAdvisor::stopStream() {
    PacketMatcher& stream = link_.streamMatcher();
    stream.setEnabled(false);
    stream.disarm();
}

bool FilterAdvisor::record(int ms, std::vector<double>* times, std::vector<double>* values) {
    times_.clear();
    values_.clear();
    collecting_ = true;
    const bool whole = pause(ms);
    collecting_ = false;
    *times = std::move(times_);
    *values = std::move(values_);
    return whole;
}

void FilterAdvisor::measureWindow(const std::vector<double>& t, const std::vector<double>& v, int decimals,
                                  double bandFraction, bool withStep, FilterTrial* trial) {
    const double scale = std::pow(10.0, decimals);
    const qsizetype n = qsizetype(v.size());
    trial->samples = n;
    std::vector<double> residuals;
    auto addRegion = [&](double fromMs, double toMs) {
        std::vector<double> part;
        for (qsizetype i = 0; i < n; ++i)
            if (t[size_t(i)] >= fromMs && t[size_t(i)] < toMs)
                part.push_back(v[size_t(i)]);
        if (part.size() < 3)
            return;
        const SpanStatistics s = SpanStatistics::of(part.data(), qint64(part.size()));
        for (double x : part)
            residuals.push_back(x - s.mean);
    };

    if (withStep && n >= 20) {
        // The load changes where the weight crosses the middle between its extremes (with a margin, so
        // noise near the middle makes no change of its own).
        const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
        const double mid = (*lo + *hi) / 2;
        const double margin = (*hi - *lo) * 0.1;
        std::vector<qsizetype> edges;
        int side = v.front() > mid ? 1 : -1;
        for (qsizetype i = 1; i < n; ++i) {
            const double x = v[size_t(i)];
            if (side < 0 && x > mid + margin) {
                side = 1;
                edges.push_back(i);
            } else if (side > 0 && x < mid - margin) {
                side = -1;
                edges.push_back(i);
            }
        }
        // The levels either side, and where the weight last held its old level before each change.
        std::vector<double> low, high;
        for (double x : v)
            (x < mid ? low : high).push_back(x);
        auto median = [](std::vector<double>& xs) {
            std::nth_element(xs.begin(), xs.begin() + qsizetype(xs.size() / 2), xs.end());
            return xs[xs.size() / 2];
        };
        const double lowLevel = low.empty() ? *lo : median(low);
        const double highLevel = high.empty() ? *hi : median(high);
        const double near = (highLevel - lowLevel) * 0.03;
        auto leaves = [&](size_t k) {
            const bool up = v[size_t(edges[k])] > mid;
            for (qsizetype i = edges[k] - 1; i >= 0; --i)
                if (up ? v[size_t(i)] <= lowLevel + near : v[size_t(i)] >= highLevel - near)
                    return i;
            return edges[k];
        };
        // Where the stretch that held the old level before a change begins. The recording may start in
        // the middle of a change, so its first sample is no level of its own.
        auto heldFrom = [&](size_t k) {
            const double old = v[size_t(edges[k])] > mid ? lowLevel : highLevel;
            const qsizetype floor = k == 0 ? 0 : edges[k - 1];
            qsizetype i = leaves(k);
            while (i > floor && std::abs(v[size_t(i - 1)] - old) <= near)
                --i;
            return i;
        };
        auto endOf = [&](size_t j) {
            return j + 1 < edges.size() ? edges[j] + (edges[j + 1] - edges[j]) * 3 / 4 : n;
        };
        // The edges whose old level held still for at least the tenth of their stretch that the step
        // takes as its start, longest time after them first; a glitch can make an edge of its own, so
        // the next one is tried when one shows no step.
        std::vector<size_t> candidates;
        for (size_t j = 0; j < edges.size(); ++j) {
            const qsizetype begin = heldFrom(j);
            const qsizetype held = leaves(j) - begin + 1;
            if (held >= 2 && held * 10 >= endOf(j) - begin)
                candidates.push_back(j);
        }
        auto afterOf = [&](size_t j) { return (j + 1 < edges.size() ? edges[j + 1] : n) - edges[j]; };
        std::stable_sort(candidates.begin(), candidates.end(),
                         [&](size_t a, size_t b) { return afterOf(a) > afterOf(b); });
        std::optional<StepResponse> step;
        for (size_t j : candidates) {
            const qsizetype begin = heldFrom(j);
            const qsizetype end = endOf(j);
            const std::vector<double> st(t.begin() + begin, t.begin() + end);
            const std::vector<double> sv(v.begin() + begin, v.begin() + end);
            const std::optional<StepResponse> found = StepResponse::of(st, sv, bandFraction);
            if (!found)
                continue;
            // Settled only when the weight stayed in the band for the last tenth at least.
            const double lastTenthMs = st.back() - (st.back() - st.front()) / 10;
            const bool settled = found->startMs + found->settlingMs <= lastTenthMs;
            if (!step || settled)
                step = found;
            if (settled) {
                trial->settlingMs = found->settlingMs;
                break;
            }
        }
        {
            if (step) {
                // The still stretches: from well after each change's settling (the tail of a response
                // within the band can still be far larger than the noise) to where the next change leaves
                // its level.
                const double settle = trial->settlingMs.value_or(t.back() - t.front());
                for (double after : {2.5, 1.0}) {
                    for (size_t k = 0; k < edges.size(); ++k) {
                        const double from = t[size_t(leaves(k))] + after * settle;
                        // A change starts to show a rise time before it leaves its level's band; one that
                        // the recording ends in has no edge of its own.
                        double to = k + 1 < edges.size() ? t[size_t(leaves(k + 1))] : t.back() + 1;
                        const double level = v[size_t(edges[k])] > mid ? highLevel : lowLevel;
                        for (qsizetype i = edges[k]; i < n && t[size_t(i)] < to; ++i)
                            if (t[size_t(i)] >= from && std::abs(v[size_t(i)] - level) > near) {
                                to = t[size_t(i)];
                                break;
                            }
                        addRegion(from, to - step->riseMs);
                    }
                    if (!residuals.empty()) {
                        trial->stillNoise = after > 2;
                        break;
                    }
                }
            }
        }
        if (edges.empty()) {
            addRegion(t.front(), t.back() + 1);
            trial->stillNoise = !residuals.empty();
        }
    } else if (n > 0) {
        addRegion(t.front(), t.back() + 1);
        trial->stillNoise = !residuals.empty();
    }
    if (residuals.size() >= 3) {
        const SpanStatistics s = SpanStatistics::of(residuals.data(), qint64(residuals.size()));
        trial->sigma = s.standardDeviation;
        trial->peakToPeak = s.peakToPeak();
    } else {
        // Nothing held still: the noise is all that moved.
        const SpanStatistics s = SpanStatistics::of(v.data(), qint64(v.size()));
        trial->sigma = s.standardDeviation;
        trial->peakToPeak = s.peakToPeak();
    }
    trial->sigmaCounts = trial->sigma * scale;
    trial->peakToPeakCounts = trial->peakToPeak * scale;
}

FilterAdvisor::Outcome FilterAdvisor::run(const Targets& targets, const Options& options) {
    targets_ = targets;
    options_ = options;
    trials_.clear();
    recommended_.reset();
    original_.reset();
    error_.clear();
    cancelled_ = false;
    restoreConfirmed_ = false;
    applied_ = false;
    running_ = true;
    const QList<FilterChoice> settings = settingsOf(identity_);
    const int total = int(settings.size());
    if (settings.isEmpty()) {
        fail(QStringLiteral("The device (%1) has no filter settings to try.").arg(identity_));
        running_ = false;
        return Outcome::Failed;
    }
    if (link_.isBusy()) {
        fail(QStringLiteral("The line is busy; try again."));
        running_ = false;
        return Outcome::Failed;
    }
    // The search owns the device until its setting is back: other device work asked for meanwhile (a
    // set-up, the defaults, a search for the device) waits for its end instead of running between trials.
    struct HeldLink {
        CommandLink& link;
        explicit HeldLink(CommandLink& l) : link(l) { link.setHeld(true); }
        ~HeldLink() { link.setHeld(false); }
        HeldLink(const HeldLink&) = delete;
        HeldLink& operator=(const HeldLink&) = delete;
    } held(link_);

    const auto previousSink = link_.streamSink();
    QElapsedTimer clock;
    clock.start();
    link_.setStreamSink([this, &clock](QByteArrayView packet) {
        if (!collecting_)
            return;
        if (packet == QByteArrayView(StreamDispatcher::kOverRangeText) ||
            packet == QByteArrayView(StreamDispatcher::kUnderRangeText))
            return;
        double value = 0;
        int decimals = 0;
        if (!SampleStreamWriter::parseValueText(packet, &value, &decimals))
            return;
        decimals_ = std::max(decimals_, decimals);
        // Device time, as the transmitter's filter runs in it.
        times_.push_back(double(clock.elapsed()) / TimeScale::factor());
        values_.push_back(value);
    });

    emit progress(QStringLiteral("Reading the filter setting"), 0, total);
    original_ = readSetting();
    held_ = original_;
    written_.reset();
    if (!original_) {
        fail(QStringLiteral("The device's filter setting could not be read; nothing was changed."));
        link_.setStreamSink(previousSink);
        running_ = false;
        return Outcome::Failed;
    }
    startStream();

    for (int i = 0; i < total && !stopped() && error_.isEmpty(); ++i) {
        const FilterChoice& choice = settings[i];
        emit progress(QStringLiteral("%1 of %2: %3, writing").arg(i + 1).arg(total).arg(choice.name()), i,
                      total);
        if (!writeSetting(choice, false))
            break;
        if (!pause(options_.takeMs))
            break;
        FilterTrial trial;
        trial.setting = choice;
        std::vector<double> times, values;
        if (options_.operatorSteps) {
            if (!op_.askOkCancel(
                    QStringLiteral("Filter %1: take the load off the scale and press OK.").arg(choice.name()),
                    QStringLiteral("Filter advisor"))) {
                cancelled_ = true;
                break;
            }
            emit progress(
                QStringLiteral("%1 of %2: %3, measuring the noise").arg(i + 1).arg(total).arg(choice.name()),
                i, total);
            if (!record(options_.windowMs / 2, &times, &values))
                break;
            measureWindow(times, values, decimals_, options_.bandFraction, false, &trial);
            if (!op_.askOkCancel(
                    QStringLiteral("Filter %1: press OK, then put the load on the scale at once.")
                        .arg(choice.name()),
                    QStringLiteral("Filter advisor"))) {
                cancelled_ = true;
                break;
            }
            emit progress(
                QStringLiteral("%1 of %2: %3, waiting for the load").arg(i + 1).arg(total).arg(choice.name()),
                i, total);
            if (!record(options_.windowMs, &times, &values))
                break;
            FilterTrial step;
            measureWindow(times, values, decimals_, options_.bandFraction, true, &step);
            trial.settlingMs = step.settlingMs;
        } else {
            emit progress(QStringLiteral("%1 of %2: %3, recording").arg(i + 1).arg(total).arg(choice.name()),
                          i, total);
            if (!record(options_.windowMs, &times, &values))
                break;
            measureWindow(times, values, decimals_, options_.bandFraction, true, &trial);
        }
        if (trial.samples == 0) {
            fail(QStringLiteral("No weight came from the device while %1 was set.").arg(choice.name()));
            break;
        }
        trial.meetsNoise = trial.sigma <= targets_.noise;
        trial.meetsSettling = trial.settlingMs && *trial.settlingMs <= targets_.settleMs;
        trials_.append(trial);
        emit trialFinished(int(trials_.size()) - 1);
    }

    const bool complete = trials_.size() == total && error_.isEmpty() && !stopped();
    if (complete) {
        for (int i = 0; i < trials_.size(); ++i)
            if (trials_[i].meetsBoth() &&
                (!recommended_ || *trials_[i].settlingMs < *trials_[*recommended_].settlingMs))
                recommended_ = i;
    }
    restore();
    stopStream();
    link_.setStreamSink(previousSink);
    running_ = false;
    if (cancelled_ && error_.isEmpty()) {
        emit progress(
            restoreConfirmed_
                ? QStringLiteral("Cancelled; the original setting (%1) is back.").arg(original_->name())
                : QStringLiteral("Cancelled; the original setting could not be restored."),
            int(trials_.size()), total);
        return Outcome::Cancelled;
    }
    if (!complete || !restoreConfirmed_) {
        emit progress(error_, int(trials_.size()), total);
        return Outcome::Failed;
    }
    emit progress(recommended_
                      ? QStringLiteral("Done; recommended: %1.").arg(trials_[*recommended_].setting.name())
                      : QStringLiteral("Done; no setting meets both targets."),
                  total, total);
    return Outcome::Finished;
}

void FilterAdvisor::restore() {
    restoreConfirmed_ = false;
    if (!original_)
        return;
    if (portLost_) {
        // Nothing can be put back: the operator has to know what the device was left with.
        if (held_ != original_ || (written_ && written_ != original_))
            error_ += QStringLiteral(" The device was left with %1 instead of its own %2: set it again once "
                                     "the device is back.")
                          .arg(leftWith(), original_->name());
        else
            error_ += QStringLiteral(" The device holds its own %1.").arg(original_->name());
        return;
    }
    emit progress(QStringLiteral("Restoring %1").arg(original_->name()), int(trials_.size()),
                  int(settingsOf(identity_).size()));
    const QString earlier = error_;
    error_.clear();
    restoreConfirmed_ = writeSetting(*original_, false);
    if (!restoreConfirmed_)
        error_ = (earlier.isEmpty() ? QString() : earlier + ' ') +
                 QStringLiteral("The original setting (%1) could not be restored: %2")
                     .arg(original_->name(), error_);
    else
        error_ = earlier;
}

bool FilterAdvisor::applyRecommendation() {
    if (running_ || !recommended_) {
        error_ = QStringLiteral("There is no recommendation to apply.");
        return false;
    }
    if (portLost_) {
        error_ = QStringLiteral("The port was lost; nothing was applied.");
        return false;
    }
    error_.clear();
    const FilterChoice& choice = trials_[*recommended_].setting;
    applied_ = writeSetting(choice, true);
    if (!applied_)
        error_ = QStringLiteral("The recommended filter %1 was not applied: %2").arg(choice.name(), error_);
    return applied_;
}

QByteArray FilterAdvisor::reportText() const {
    const int d = decimals_;
    QStringList lines;
    lines << QStringLiteral("Filter advisor;device %1").arg(identity_);
    lines << QStringLiteral("Noise target (standard deviation);%1").arg(fixed(targets_.noise, d + 2));
    lines << QStringLiteral("Settling target (ms);%1").arg(fixed(targets_.settleMs, 0));
    lines << QStringLiteral("Settling band (%);%1").arg(QString::number(options_.bandFraction * 100));
    lines << QStringLiteral("Original;%1").arg(original_ ? original_->name() : QStringLiteral("unknown"));
    lines << QStringLiteral(
        "Setting;Samples;Sigma (counts);Peak-to-peak (counts);Sigma;Peak-to-peak;Noise held still;"
        "Settling (ms);Meets noise;Meets settling;Recommended");
    for (int i = 0; i < trials_.size(); ++i) {
        const FilterTrial& t = trials_[i];
        lines << QStringList{t.setting.name(),
                             QString::number(t.samples),
                             fixed(t.sigmaCounts, 2),
                             fixed(t.peakToPeakCounts, 0),
                             fixed(t.sigma, d + 2),
                             fixed(t.peakToPeak, d),
                             t.stillNoise ? QStringLiteral("yes") : QStringLiteral("no"),
                             t.settlingMs ? fixed(*t.settlingMs, 0) : QStringLiteral("not settled"),
                             t.meetsNoise ? QStringLiteral("yes") : QStringLiteral("no"),
                             t.meetsSettling ? QStringLiteral("yes") : QStringLiteral("no"),
                             recommended_ == i ? QStringLiteral("yes") : QString()}
                     .join(';');
    }
    lines << QStringLiteral("Recommended;%1")
                 .arg(recommended_ ? trials_[*recommended_].setting.name() : QStringLiteral("none"));
    QString now = QStringLiteral("unknown");
    if (portLost_ && held_)
        now = leftWith() + QStringLiteral(" (the port was lost)");
    if (applied_)
        now = trials_[*recommended_].setting.name() + QStringLiteral(" (applied and stored)");
    else if (restoreConfirmed_)
        now = original_->name() + QStringLiteral(" (restored)");
    lines << QStringLiteral("Device holds;%1").arg(now);
    if (!error_.isEmpty())
        lines << QStringLiteral("Error;%1").arg(error_);
    return (lines.join('\n') + '\n').toUtf8();
}

bool FilterAdvisor::writeReport(const QString& path, QString* error) const {
    ReplacingFile file(path);
    if (!file.open()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    file.write(reportText());
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace tarvo
