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

void SilenceWatch::packetArrived() {
    lastPacketMs_ = monotonicMs();
    // Data again: the next silence is worth a word of its own.
    reported_ = false;
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
    }
}

void SilenceWatch::checkTick() {
    if (reported_ || (link_.linkKind() != Link::Can && !link_.port().isOpen()))
        return; // a lost port has said so already
    if (monotonicMs() - lastPacketMs_ < TimeScale::ms(kSilenceMs))
        return;
    reported_ = true;
    const QString source = link_.linkKind() == Link::Can
                               ? QStringLiteral("CAN-bus")
                               : QStringLiteral("COM%1").arg(link_.port().portNumber());
    op_.showInfoMessage(noticeText(source));
}

} // namespace tarvo
