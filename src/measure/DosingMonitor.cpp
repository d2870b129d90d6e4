#include "DosingMonitor.h"

#include "DataFiles.h"
#include "base/NumberText.h"
#include "base/TimeScale.h"
#include "link/CommandLink.h"
#include "link/SerialPort.h"

namespace tarvo {

namespace {
bool isSentinel(const QString& text) {
    static const QString kSentinels[] = {QStringLiteral("+88888"), QStringLiteral("+99999"),
                                         QStringLiteral("88888"), QStringLiteral("99999")};
    for (const QString& s : kSentinels)
        if (text == s)
            return true;
    return false;
}
} // namespace

DosingMonitor::DosingMonitor(CommandLink& comm, DataFiles& files, QObject* parent)
    : QObject(parent), link_(comm), files_(files) {
    guard_.setSingleShot(true);
    connect(&guard_, &QTimer::timeout, this, [this] { link_.runWhenIdle([this] { restoreAndResume(); }); });
}

void DosingMonitor::beginOneShot(const QByteArray& start) {
    PacketMatcher& stream = link_.streamMatcher();
    remembered_ = stream.startString();
    stream.setStartString(start);
    stream.setEnabled(true);
    if (!stream.isArmed())
        stream.arm();
    // The one-shot start string stays until its reply is framed or this limit passes; restoring it
    // right after the request would frame the reply as a stream line and lose it.
    guard_.start(TimeScale::ms(kReplyLimitMs));
}

void DosingMonitor::readAverage() {
    link_.runWhenIdle([this] {
        PacketMatcher& stream = link_.streamMatcher();
        stream.setEnabled(false);
        stream.disarm();
        beginOneShot("A+");
        // The reply reaches valueDisplayPacket through streamMatcher and the stream dispatcher.
        link_.sendAndReceive(link_.port().portNumber(), "GA\r", 100, Framing::startingWith("A+"));
    });
}

void DosingMonitor::readDosedValue() {
    link_.runWhenIdle([this] {
        link_.streamMatcher().setEnabled(false);
        beginOneShot("D+");
        link_.writeRaw("GD\r");
    });
}

void DosingMonitor::resumeStream() {
    const QByteArray& start = link_.streamMatcher().startString();
    if (start == "P")
        link_.writeRaw("GP-1\r");
    else if (start == "G")
        link_.writeRaw("SG\r");
    else if (start == "N")
        link_.writeRaw("SN\r");
}

void DosingMonitor::restoreAndResume() {
    guard_.stop();
    PacketMatcher& stream = link_.streamMatcher();
    stream.setEnabled(false);
    if (!remembered_.isEmpty())
        stream.setStartString(remembered_);
    resumeStream();
    stream.setEnabled(true);
    if (!stream.isArmed())
        stream.arm();
}

void DosingMonitor::valueDisplayPacket(QByteArrayView startString, QByteArrayView text) {
    // The start string is the matcher's own, which step 2 may change: keep the sign it carries now.
    const char startSign = startString.size() > 1 && (startString.back() == '+' || startString.back() == '-')
                               ? startString.back()
                               : 0;
    // 1. On the serial link a packet that starts like the expected stream is not a one-shot reply.
    const QByteArray& start = link_.streamMatcher().startString();
    if (link_.linkKind() != Link::Can && !text.isEmpty() && !start.isEmpty() && text.front() == start.front())
        return;
    // 2.
    if (!averageAcquisitionRunning || !averageAcquisitionRunning())
        restoreAndResume();
    // 3.
    display_.clear();
    emit valueDisplayChanged(display_);
    // 4.
    QByteArray value(text.data(), text.size());
    deleteFirst(value, ".");
    if (!parseDecimal(value))
        return;
    // 5.
    display_ = QString::fromLatin1(value);
    emit valueDisplayChanged(display_);
    emit bigDisplayText(display_);
    // 6.
    if (isSentinel(display_))
        return;
    // 7. The log keeps the value as the device sent it, sign and decimal point included: the sign of an
    // "A+" or "D+" line went with the start string.
    QByteArray received;
    if (startSign && !text.isEmpty() && text.front() != '+' && text.front() != '-')
        received += startSign;
    received += text;
    files_.appendAverageLine(QString::fromLatin1(received));
    // 8. and 9.
    keepValue(display_);
}

void DosingMonitor::keepValue(const QString& value) {
    ring_[static_cast<std::size_t>(writePos_ - 1)] = value;
    writePos_ = writePos_ == kRingSize ? 1 : writePos_ + 1;
    emit dataListChanged();
}

QStringList DosingMonitor::dataLines() const {
    QStringList lines;
    lines.reserve(kRingSize);
    int pos = writePos_;
    for (int k = 1; k <= kRingSize; ++k) {
        pos = pos == 1 ? kRingSize : pos - 1;
        lines << QString::number(k) + QStringLiteral(": ") + entry(pos);
    }
    return lines;
}

QString DosingMonitor::valueDisplayHint() const {
    QString hint;
    int pos = writePos_;
    for (int k = 1; k <= kHintEntries; ++k) {
        pos = pos == 1 ? kRingSize : pos - 1;
        hint += QString::number(k) + u':' + entry(pos) + u' ';
    }
    return hint;
}

void DosingMonitor::setShowLastAverage(bool on) {
    if (showLastAverage_ == on)
        return;
    showLastAverage_ = on;
    emit showLastAverageChanged(on);
}

} // namespace tarvo
