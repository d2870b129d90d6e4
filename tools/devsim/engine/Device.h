#pragma once

#include "BootMonitor.h"
#include "Calibration.h"
#include "DeviceConfig.h"
#include "DeviceImage.h"
#include "WeighCycle.h"
#include "WeightProfile.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTimer>
#include <optional>
#include <utility>

namespace devsim {

// One simulated transmitter: parses the command lines it hears, answers them, and autotransmits.
// It knows nothing of baud rates on the wire or of faults on the line; its Line decides what it hears
// and what of its output reaches the host.
class Device : public QObject {
    Q_OBJECT
public:
    enum class Stream { None, Gross, Net, Average, Packets, ImageRecords };
    enum class Range { Normal, Over, Under };

    explicit Device(const DeviceConfig& config, QObject* parent = nullptr);

    const DeviceConfig& config() const { return config_; }
    int identity() const { return config_.identity; }
    // The address "OP" and "CL" name it by, and the control channel too; 0 for a device without one.
    int address() const { return config_.address.value_or(0); }
    int activeBaud() const { return bootMode_ ? BootMonitor::kBaud : activeBaud_; }
    int storedBaud() const { return storedBaud_; }
    bool fullDuplex() const { return config_.fullDuplex; }
    bool isSelected() const { return selected_; }
    void setSelected(bool selected) { selected_ = selected; }
    bool isResetting() const { return resetting_; }
    bool isUnlocked() const { return calibration_.unlocked(); }
    Stream stream() const { return stream_; }

    void setIdentity(int identity);
    void setFirmware(const QString& firmware) { config_.firmware = firmware; }
    // Gross weight in display units; the no-motion bit clears until the weight has settled.
    void setWeight(double weight);
    void setTare(double tare);
    // What the load does on top of the weight; starts the profile from its beginning.
    void setProfile(const WeightProfile::Settings& settings);
    const WeightProfile& profile() const { return activeProfile(); }
    void setRange(Range range) { range_ = range; }
    Range range() const { return range_; }
    // Every command is refused with "ERR" (the line's err fault).
    void setRefuseAll(bool refuse) { refuseAll_ = refuse; }
    void setResetMs(int deviceMs) { config_.resetMs = deviceMs; }
    void setUpdateMs(int deviceMs);
    void setPacketUpdateMs(int deviceMs);
    // How long after a weight change the no-motion bit comes back; negative: it never does.
    void setSettleMs(int deviceMs) { config_.settleMs = deviceMs; }
    // Commands answered "ERR" whatever they carry ("CZ", "SA", ...): one refusal injected at a time.
    void setRefused(const QList<QByteArray>& mnemonics) { refused_ = mnemonics; }
    // The next "GA" answers, in order ("+99999", "+012.34", ...), before the device's own again.
    void queueAverageReplies(const QList<QByteArray>& values) { averageReplies_ += values; }
    // A faulty device: "GI" starts an endless run of image records that never reaches the end record.
    void setEndlessImage(bool on) { endlessImage_ = on; }

    // A parameter as the device uses it now ("FL", "PD3", "S1", ...); 0 when never set.
    qint64 parameter(const QByteArray& key) const { return params_.value(key); }
    // The value the device comes back with after a reset: what "WP", "SS", "SD" or "SL" last stored.
    qint64 storedParameter(const QByteArray& key) const { return stored_.value(key); }
    // Sets a parameter in use and stored, past the device's own checks (a device that holds a value
    // its commands would refuse).
    void setParameter(const QByteArray& key, qint64 value);
    // The values a parameter write accepts, by the device's model; nothing for a parameter the model
    // does not have.
    std::optional<std::pair<qint64, qint64>> parameterRange(const QByteArray& key) const;
    // The five-digit code that "CE" hands out now; a new one once it has been tried.
    int unlockCode() const { return calibration_.code(); }
    qint64 grossCounts() const;
    qint64 netCounts() const { return grossCounts() - tare_; }
    bool noMotion() const;
    // What a CAN process frame carries besides the weights.
    qint64 tareCounts() const { return tare_; }
    qint64 averageCounts() const;
    int cycleState() const { return cycle_.kind() != WeighCycle::Kind::Steady ? cycle_.state() : 0; }

    // The programming switch, with a reset: on, the boot monitor hears everything at its own rate; off
    // (or when the host talks to the firmware after a pass), the firmware starts, at 9600 baud once it
    // has been programmed.
    void setBootMode(bool on);
    bool inBootMode() const { return bootMode_; }
    BootMonitor& bootMonitor() { return boot_; }
    const BootMonitor& bootMonitor() const { return boot_; }

    // Bytes the device heard at its own rate.
    void receive(const QByteArray& bytes);
    // The command lines the device heard since the last call, without their "\r", oldest first.
    QList<QByteArray> takeHeardLines();
    // Power-on state: the stored rate becomes active, streams stop, protected commands lock again.
    void powerOn();

signals:
    // Bytes for the host; reply is false for autotransmitted lines.
    void output(const QByteArray& bytes, bool reply);

private:
    struct Command {
        QByteArray mnemonic;
        int index = -1;
        bool hasValue = false;
        qint64 value = 0;
    };
    static bool parse(const QByteArray& line, Command* command);
    void handleLine(const QByteArray& line);
    QByteArray execute(const Command& c);
    QByteArray parameterCommand(const Command& c, bool* known);
    void startStream(Stream stream);
    void startAutotransmit();
    void streamTick();
    void startReset();
    void loadDefaults();
    QByteArray weightText(char letter, qint64 counts, Range range) const;
    // "G", "N", "T", "A" or "D" and the value it names, as GG, GN, GT, GA, GD and the streams send it.
    QByteArray valueLine(char letter) const;
    // The next line of the gross or net stream, with its "\r".
    QByteArray valueStreamLine() const;
    // How many lines of this size the wire has carried since the last call ("update=0").
    int linesTheWireCarries(qsizetype lineBytes);
    bool profileActive() const { return profile_.kind() != WeightProfile::Kind::Constant; }
    // Device time since the profile started.
    qint64 profileMs() const;
    // The line's injected range fault, else what the gross weight itself is.
    Range rangeOf(qint64 gross) const;
    bool settledAfterSetWeight() const;
    bool profileStillAt(qint64 profileMs) const;
    QByteArray currentPacket() const;
    int statusBits() const;
    qint64 toCounts(double value) const;
    void updateCycleTarget();
    // The reading before zero and gain, and as they show it.
    qint64 rawCounts() const;
    qint64 shown(qint64 raw) const;
    // "CZ", "CG" + load and "CS": each only right after its own "CE" handshake.
    QByteArray calibrate(const Command& c);
    // "GA": a queued answer, else the last result, or "+99999" while a new one is being measured.
    QByteArray averageReply();
    bool cyclesResults() const;

    DeviceConfig config_;
    int activeBaud_;
    int storedBaud_;
    bool selected_; // a device with an address waits for "OP"
    bool resetting_ = false;
    Calibration calibration_;
    QList<QByteArray> refused_;
    QList<QByteArray> averageReplies_;
    qint64 averagesSent_ = 0;
    bool refuseAll_ = false;
    Range range_ = Range::Normal;
    qint64 gross_ = 0;
    qint64 tare_ = 0;
    qint64 weightChangedAt_ = -1000000;
    QByteArray lineBuffer_;
    bool lineOverflow_ = false;
    QList<QByteArray> heard_; // bounded: a test that never asks must not grow it for ever
    Stream stream_ = Stream::None;
    bool endlessImage_ = false;
    int imageRecordsSent_ = 0;
    qint64 countedLinesSent_ = 0;
    QTimer streamTimer_;
    // A value stream at the line's rate ("update=0"): the wire time since the last tick, in bytes.
    QElapsedTimer lineRateClock_;
    double lineRateCredit_ = 0;
    QByteArray linesAtLineRate();
    // A value stream at an update interval: its samples since the stream began, and while a line is
    // made, its sample's time on the profile's clock.
    QElapsedTimer sampleClock_;
    qint64 samplesSent_ = 0;
    std::optional<qint64> sampleProfileMs_;
    void restartSampleClock();
    QByteArray linesOfDueSamples();
    QTimer resetTimer_;
    WeighCycle cycle_;
    WeightProfile profile_;
    qint64 profileStartMs_ = 0;
    // The profile as the device's filter setting shapes it (the filter model), rebuilt when it changes.
    const WeightProfile& activeProfile() const;
    mutable WeightProfile filtered_;
    mutable qint64 filteredFor_ = -1;
    // Which parameters each store command keeps over a reset.
    void store(const QByteArray& command);
    QHash<QByteArray, qint64> params_;
    QHash<QByteArray, qint64> stored_;
    // Bytes heard in boot mode; returns how many the boot monitor took.
    qsizetype bootReceive(const QByteArray& bytes);
    // Bytes heard while a settings image comes in; returns how many it took.
    qsizetype imageReceive(const QByteArray& bytes);
    BootMonitor boot_;
    bool bootMode_ = false;
    DeviceImage image_;
};

} // namespace devsim
