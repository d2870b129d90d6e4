#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <optional>
#include <vector>

namespace tarvo {

class CommandLink;
class Operator;

// One setting of a transmitter's weight filter: mode (0 IIR, 1 FIR) and cut-off level 0..8, or, on the
// models without a mode choice, the level or filter index alone (mode -1).
struct FilterChoice {
    int mode = -1;
    int level = 0;
    QString name() const;
    bool operator==(const FilterChoice&) const = default;
};

// What one filter setting gave: the noise of the settled weight and how long a new load took to settle.
struct FilterTrial {
    FilterChoice setting;
    qint64 samples = 0;
    double sigmaCounts = 0;
    double peakToPeakCounts = 0;
    double sigma = 0; // in the weight's units
    double peakToPeak = 0;
    // The noise came from stretches where the weight held still; else the weight had not settled long
    // enough between load changes, and the figures hold some of its movement.
    bool stillNoise = false;
    // Nothing when no load change was seen, or the weight had not settled when the recording ended.
    std::optional<double> settlingMs;
    bool meetsNoise = false;
    bool meetsSettling = false;
    bool meetsBoth() const { return meetsNoise && meetsSettling; }
};

// Measures every filter setting the connected transmitter offers while its weight streams, and names
// the fastest one whose noise and settling time meet the operator's targets. Each setting is written
// with the live transaction, read back, given time to take, and recorded; the load change is either the
// operator's (asked for) or the device's own. The device's filter as it was is put back at the end, on
// Cancel and on any failure, unless the operator applies the recommendation.
class FilterAdvisor : public QObject {
    Q_OBJECT
public:
    struct Targets {
        double noise = 0;    // the largest standard deviation, in the weight's units
        double settleMs = 0; // the longest settling time
    };
    struct Options {
        // The operator takes the load off and puts it on when asked; else the load changes by itself.
        bool operatorSteps = false;
        int takeMs = 300;           // after a setting is confirmed, before recording
        int windowMs = 4000;        // one recording per setting
        double bandFraction = 0.01; // settled: within this fraction of the load change
    };
    enum class Outcome { Finished, Cancelled, Failed };

    // streamStart and streamCommand: the value stream the readout uses ("N" and "SN\r", ...).
    FilterAdvisor(CommandLink& link, Operator& op, int identity, QByteArray streamStart,
                  QByteArray streamCommand, QObject* parent = nullptr);
    ~FilterAdvisor() override;

    // Models whose filter the advisor knows how to set.
    static bool hasFilterSettings(int identity);
    static QList<FilterChoice> settingsOf(int identity);

    // Runs the whole search; every wait is limited. The original filter is restored before it returns,
    // whatever the outcome (restoreConfirmed tells whether the device confirmed it).
    Outcome run(const Targets& targets, const Options& options);
    // Takes effect at the next step of a running search.
    void cancel() { cancelled_ = true; }
    bool running() const { return running_; }

    const QList<FilterTrial>& trials() const { return trials_; }
    std::optional<FilterChoice> original() const { return original_; }
    // Index into trials() of the fastest setting that meets both targets.
    std::optional<int> recommended() const { return recommended_; }
    const QString& error() const { return error_; }
    bool restoreConfirmed() const { return restoreConfirmed_; }
    int decimals() const { return decimals_; }
    const Targets& targets() const { return targets_; }

    // Writes the recommended setting, stores it with "WP" as the page's own selection does and reads it
    // back. False, with error() saying why, unless the device confirmed it.
    bool applyRecommendation();
    bool applied() const { return applied_; }

    // The run as a CSV report: targets, one row per setting, the recommendation and what the device
    // holds now. Through a replacing file: a failed write leaves any earlier report whole.
    bool writeReport(const QString& path, QString* error) const;
    QByteArray reportText() const;

    // Measures one recording into trial: the noise where the weight held still, and with withStep the
    // settling of the best-framed load change (within bandFraction of it). times in device ms.
    static void measureWindow(const std::vector<double>& times, const std::vector<double>& values,
                              int decimals, double bandFraction, bool withStep, FilterTrial* trial);

signals:
    void progress(const QString& text, int done, int total);
    void trialFinished(int index);

private:
    bool hasMode() const;
    // Writes and reads back; false (error() set) unless the device holds the setting afterwards.
    bool writeSetting(const FilterChoice& choice, bool store);
    std::optional<int> query(const QByteArray& command, char prefix);
    std::optional<FilterChoice> readSetting();
    bool stopped();
    // Waits device time in short slices; false when cancelled or the port is gone.
    bool pause(int ms);
    bool record(int ms, std::vector<double>* times, std::vector<double>* values);
    void restore();
    // What the device holds as far as is known: one setting, or two when the port was lost mid-write.
    QString leftWith() const;
    void fail(const QString& text);
    void startStream();
    void stopStream();

    CommandLink& link_;
    Operator& op_;
    int identity_;
    QByteArray streamStart_;
    QByteArray streamCommand_;
    Targets targets_;
    Options options_;
    QList<FilterTrial> trials_;
    std::optional<FilterChoice> original_;
    std::optional<FilterChoice> held_;    // the last setting the device confirmed holding
    std::optional<FilterChoice> written_; // the last setting sent to it
    std::optional<int> recommended_;
    QString error_;
    int decimals_ = 0;
    bool cancelled_ = false;
    bool portLost_ = false;
    bool running_ = false;
    bool restoreConfirmed_ = false;
    bool applied_ = false;
    bool collecting_ = false;
    std::vector<double> times_;
    std::vector<double> values_;
    qint64 startMs_ = 0;
};

} // namespace tarvo
