#pragma once

#include "link/PortSelection.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

namespace tarvo {

class CheckWeigherParameters;
class CommandLink;
class DataFiles;
class DosingMonitor;
class LiveReadout;
class Operator;
class StreamDispatcher;

// What the averaging needs from the rest of the program; the controller fills these in.
struct AveragingHooks {
    std::function<void(bool)> setPageControlEnabled;
};

// Check-weigher averaging: "Start Get Average" on the MXR 41xx page (the device sends each average, the
// stream matcher frames it) and on the TCW 43xx page (the program polls "GA"); the averaging log with its
// header forms; "Record raw Average-data" on the 41xx page; "Show Last Average". A page's button caption
// is the record of whether its averaging runs.
class AverageAcquisition : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kStartCaption = "Start Get Average";
    static constexpr const char* kStopCaption = "Stop Get Average";
    static constexpr const char* kCommunicationError = "Check-Weigher - Communikation error!";
    static constexpr const char* kSendAverageFailed = "Fail to execute \"Send Average\" command";
    static constexpr const char* kZeroAboveTrigger = "TriggerLevel must be greater than zero value (";
    static constexpr const char* kRawFailed = "Communication Error";
    static constexpr const char* kFullDuplexQuestion =
        "Device is not setup for full-duplex... Want to setup full-duplex?";
    static constexpr const char* kFullDuplexFailed = "Full-duplex setup NOT complete - Communikation error!";
    static constexpr const char* kFileInUse = "File can be in use by another program";
    // What "GA" answers while no new average is ready, and for a measurement the device rejected.
    static constexpr const char* kNotReady = "+99999";
    static constexpr const char* kRejected = "+88888";
    // The 43xx poll comes this long after an item's start delay and measuring time.
    static constexpr int kPollMarginMs = 20;
    static constexpr const char* kTcw43TriggerLevel = "30";

    AverageAcquisition(CommandLink& link, CheckWeigherParameters& checkWeigher, DataFiles& files,
                       DosingMonitor& monitor, LiveReadout& readout, StreamDispatcher& dispatcher,
                       Operator& op, AveragingHooks hooks, QObject* parent = nullptr);

    // "Start Get Average" / "Stop Get Average" of the 41xx and of the 43xx page.
    void mxr41AverageClicked();
    void tcw43AverageClicked();
    // Each tick of the 43xx poll.
    void averagePollTick();
    // "Record raw Average-data": "Start recording" and "Stop recording".
    void startRecordingRawClicked();
    void stopRecordingRawClicked();
    // "Show Last Average" on a family page.
    void showLastAverageClicked(bool on);
    // A click on the 43xx page's result display.
    void resultDisplayClicked();
    // Leaving a family page, and the end of the program.
    void pageHidden(FamilyPage page);
    void shutdown();
    // A value line while raw recording runs (from the stream dispatcher).
    void rawValueReceived(QByteArrayView text);

    bool mxr41Running() const { return mxr41Running_; }
    bool tcw43Running() const { return tcw43Running_; }
    bool running() const { return mxr41Running_ || tcw43Running_; }
    QString caption(FamilyPage page) const;
    bool rawRecording() const { return rawRecording_; }
    // The last accepted average (both pages' average displays) and the check-weigher display's text.
    const QString& lastAverage() const { return lastAverage_; }
    const QString& checkWeigherDisplay() const { return checkWeigherDisplay_; }
    const QByteArray& previousPollValue() const { return previousPoll_; }
    const QTimer& pollTimer() const { return poll_; }

signals:
    void changed();
    // The big display window shows this text.
    void bigDisplayText(const QString& text);
    // The 41xx page's check-weigher display shows a polled average or a raw value.
    void checkWeigherDisplayChanged(const QString& text);

private:
    enum class LogKind { Mxr41, Tcw43, Raw };
    void pageControl(bool on);
    QByteArray ask(const QByteArray& line, const QByteArray& start, int timeLimitMs);
    bool acknowledged(const QByteArray& line, int timeLimitMs);
    // The save dialog and the log with its header; the "Log Average Data" boxes go off when it cannot
    // be created.
    bool openLog(LogKind kind);
    void stopMxr41();
    void stopTcw43();
    void takeAverage(const QByteArray& reply);
    void setRawRecording(bool on);
    // The stream matcher framing stream lines with the given start string, armed and enabled.
    void frameStream(const QByteArray& start);

    CommandLink& link_;
    CheckWeigherParameters& checkWeigher_;
    DataFiles& files_;
    DosingMonitor& monitor_;
    LiveReadout& readout_;
    StreamDispatcher& dispatcher_;
    Operator& op_;
    AveragingHooks hooks_;
    bool mxr41Running_ = false;
    bool tcw43Running_ = false;
    bool rawRecording_ = false;
    bool pollQueued_ = false;
    // The stream matcher's start string and state before averaging took it.
    QByteArray keptStart_;
    bool keptStreamEnabled_ = false;
    QString lastAverage_;
    QString checkWeigherDisplay_;
    QByteArray previousPoll_;
    QTimer poll_;
};

} // namespace tarvo
