#pragma once

#include <QObject>
#include <QTimer>

namespace tarvo {

class Acquisition;
class CommandLink;
class Operator;

// Tells the operator when the device's stream stops during a recording: "no data from COM1 for 2 s",
// once per silence, then "data from COM1 again after 4.1 s" when it comes back. The recording goes on.
class SilenceWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int kSilenceMs = 2000; // device time

    SilenceWatch(CommandLink& link, Operator& op, Acquisition& acquisition, QObject* parent = nullptr);

    // Every stream line; costs one clock read.
    void packetArrived();
    bool silenceReported() const { return reported_; }
    static QString noticeText(const QString& source);
    // "data from COM1 again after 4.1 s": said once when data comes back after a reported silence.
    static QString resumedText(const QString& source, qint64 silentMs);

private:
    void recordingChanged();
    void checkTick();
    QString source() const;

    CommandLink& link_;
    Operator& op_;
    Acquisition& acquisition_;
    QTimer check_;
    qint64 lastPacketMs_ = 0;
    bool reported_ = false;
};

} // namespace tarvo
