#include "SilenceWatch.h"

#include "Acquisition.h"
#include "base/Operator.h"
#include "base/TimeScale.h"
#include "link/CommandLink.h"
#include "link/SerialPort.h"

namespace tarvo {

namespace {
// How often the silence is looked for: well inside the two seconds it must be noticed in.
constexpr int kCheckMs = 250;
} // namespace

SilenceWatch::SilenceWatch(CommandLink& link, Operator& op, Acquisition& acquisition, QObject* parent)
    : QObject(parent), link_(link), op_(op), acquisition_(acquisition) {
    connect(&check_, &QTimer::timeout, this, &SilenceWatch::checkTick);
    connect(&acquisition_, &Acquisition::changed, this, &SilenceWatch::recordingChanged);
}

QString SilenceWatch::noticeText(const QString& source) {
    return QStringLiteral("no data from %1 for %2 s").arg(source).arg(kSilenceMs / 1000);
}

QString SilenceWatch::resumedText(const QString& source, qint64 silentMs) {
    return QStringLiteral("data from %1 again after %2 s")
        .arg(source)
        .arg(double(silentMs) / 1000.0, 0, 'f', 1);
}

QString SilenceWatch::source() const {
    return link_.linkKind() == Link::Can ? QStringLiteral("CAN-bus")
                                         : QStringLiteral("COM%1").arg(link_.port().portNumber());
}

void SilenceWatch::packetArrived() {
    const qint64 now = monotonicMs();
    if (reported_) {
        // Data again: the notice that it stopped must not stand while the readout moves, and the next
        // silence is worth a word of its own. The time is the device's, as the notice's 2 s is.
        reported_ = false;
        const double scale = TimeScale::factor() > 0 ? TimeScale::factor() : 1.0;
        op_.showInfoMessage(resumedText(source(), qint64(double(now - lastPacketMs_) / scale)));
    }
    lastPacketMs_ = now;
}

void SilenceWatch::recordingChanged() {
    const bool recording = acquisition_.runDown() || acquisition_.triggerDown();
    if (recording == check_.isActive())
        return;
    if (recording) {
        lastPacketMs_ = monotonicMs();
        reported_ = false;
        check_.start(TimeScale::ms(kCheckMs));
    } else {
        check_.stop();
        reported_ = false;
    }
}

void SilenceWatch::checkTick() {
    if (reported_ || (link_.linkKind() != Link::Can && !link_.port().isOpen()))
        return; // a lost port has said so already
    if (monotonicMs() - lastPacketMs_ < TimeScale::ms(kSilenceMs))
        return;
    reported_ = true;
    op_.showInfoMessage(noticeText(source()));
}

} // namespace tarvo
