#pragma once

#include <QObject>
#include <QTimer>

namespace tarvo {

class Acquisition;
class CommandLink;
class Operator;

// Tells the operator when the device's stream stops during a recording: "no data from COM1 for 2 s",
// once per silence, and ready to say it again as soon as data comes back. The recording goes on.
class SilenceWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int kSilenceMs = 2000; // device time

    SilenceWatch(CommandLink& link, Operator& op, Acquisition& acquisition, QObject* parent = nullptr);

    // Every stream line; costs one clock read.
    void packetArrived();
    bool silenceReported() const { return reported_; }
    static QString noticeText(const QString& source);

private:
    void recordingChanged();
    void checkTick();

    CommandLink& link_;
    Operator& op_;
    Acquisition& acquisition_;
    QTimer check_;
    qint64 lastPacketMs_ = 0;
    bool reported_ = false;
};

} // namespace tarvo
