#include "Line.h"

#include <base/TimeScale.h>

#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>

namespace devsim {

namespace {

constexpr int overlongSize = 5000;
constexpr qsizetype sentLimit = 1 << 20;

struct FaultName {
    const char* name;
    Line::Fault fault;
};
constexpr std::array<FaultName, 9> faultNames{{
    {"none", Line::Fault::None},
    {"silent", Line::Fault::Silent},
    {"late", Line::Fault::Late},
    {"err", Line::Fault::Err},
    {"garbage", Line::Fault::Garbage},
    {"overlong", Line::Fault::Overlong},
    {"overrange", Line::Fault::Overrange},
    {"underrange", Line::Fault::Underrange},
    {"noisy", Line::Fault::Noisy},
}};

} // namespace

Line::Line(QObject* parent) : QObject(parent) {
    clock_.start();
    deliveryTimer_.setSingleShot(true);
    deliveryTimer_.setTimerType(Qt::PreciseTimer);
    connect(&deliveryTimer_, &QTimer::timeout, this, &Line::deliverDue);
    // A timer of whole milliseconds would hold every byte of a byte-by-byte dialogue up to a millisecond
    // past its time, and at 9600 baud a byte takes 1.04 ms: the wire would look a third slower than it
    // is. A timerfd wakes within microseconds of the byte's time.
    deliveryFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (deliveryFd_ >= 0) {
        deliveryNotifier_ = std::make_unique<QSocketNotifier>(deliveryFd_, QSocketNotifier::Read);
        connect(deliveryNotifier_.get(), &QSocketNotifier::activated, this, [this] {
            quint64 expirations = 0;
            if (::read(deliveryFd_, &expirations, sizeof expirations) == sizeof expirations)
                deliverDue();
        });
    }
}

Line::~Line() {
    deliveryNotifier_.reset();
    if (deliveryFd_ >= 0)
        ::close(deliveryFd_);
}

Device* Line::addDevice(const DeviceConfig& config) {
    devices_.push_back(std::make_unique<Device>(config));
    Device* device = devices_.back().get();
    connect(device, &Device::output, this,
            [this, device](const QByteArray& bytes, bool reply) { deviceOutput(device, bytes, reply); });
    applyFaultToDevices();
    return device;
}

QList<Device*> Line::devices() const {
    QList<Device*> list;
    for (const auto& d : devices_)
        list.append(d.get());
    return list;
}

Device* Line::device(int address) const {
    for (const auto& d : devices_)
        if (d->address() == address)
            return d.get();
    return nullptr;
}

int Line::hostBaud() const {
    return hostBaudSource_ ? hostBaudSource_() : hostBaud_;
}

void Line::hostWrite(const QByteArray& bytes, int hostBaud) {
    hostBaud_ = hostBaud;
    if (bytes.isEmpty())
        return;
    received_.append({bytes, hostBaud});
    if (fault_ == Fault::Silent)
        return;
    if (wireTime_) {
        qint64 due = std::max(clock_.nsecsElapsed(), inboundBusyNs_);
        for (const char c : bytes) {
            due += byteNs(hostBaud);
            inbound_.push_back({due, c, hostBaud});
        }
        inboundBusyNs_ = due;
        scheduleNext();
        return;
    }
    // A device at another rate hears only noise, which it drops.
    for (const auto& d : devices_)
        if (d->activeBaud() == hostBaud)
            d->receive(bytes);
}

qint64 Line::byteNs(int baud) {
    return baud > 0 ? 10'000'000'000LL / baud : 0;
}

void Line::deliverInbound(qint64 now) {
    while (!inbound_.empty() && inbound_.front().dueNs <= now) {
        const Inbound in = inbound_.front();
        inbound_.pop_front();
        if (fault_ == Fault::Silent)
            continue;
        // Replies start when this byte was in, not when the timer came round to it.
        wireNowNs_ = in.dueNs;
        const QByteArray byte(1, in.byte);
        for (const auto& d : devices_)
            if (d->activeBaud() == in.baud)
                d->receive(byte);
    }
    wireNowNs_ = -1;
}

void Line::setResetMs(int deviceMs) {
    for (const auto& d : devices_)
        d->setResetMs(deviceMs);
}

bool Line::parseFault(const QString& name, Fault* fault) {
    for (const auto& entry : faultNames)
        if (name == QLatin1String(entry.name)) {
            *fault = entry.fault;
            return true;
        }
    return false;
}

void Line::setFault(Fault fault, int lateMs) {
    fault_ = fault;
    lateMs_ = std::max(0, lateMs);
    applyFaultToDevices();
}

void Line::applyFaultToDevices() {
    for (const auto& d : devices_) {
        d->setRefuseAll(fault_ == Fault::Err);
        d->setRange(fault_ == Fault::Overrange    ? Device::Range::Over
                    : fault_ == Fault::Underrange ? Device::Range::Under
                                                  : Device::Range::Normal);
    }
}

QByteArray Line::garbage(qsizetype size) {
    QByteArray bytes(size, '\0');
    for (char& c : bytes) {
        do
            c = char(random_.bounded(256));
        while (c == '\r');
    }
    return bytes;
}

QByteArray Line::wrongRateNoise(qsizetype size) {
    // What a UART makes of a frame at the wrong rate: mostly zero bits and framing junk, never "\r".
    QByteArray bytes(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = (i % 2) ? char(0xF8) : char(0x00);
    return bytes;
}

void Line::deviceOutput(Device* device, const QByteArray& bytes, bool reply) {
    if (!reply) {
        QByteArray out = bytes;
        // A carriage return lost on the wire: the streamed line runs into the next one.
        if (fault_ == Fault::Noisy && out.contains('\r')) {
            out.remove(out.indexOf('\r'), 1);
            fault_ = Fault::None;
        }
        enqueue(0, out, device->activeBaud());
        return;
    }
    QByteArray out = bytes;
    if (fault_ == Fault::Garbage) {
        out = garbage(bytes.size());
    } else if (fault_ == Fault::Overlong) {
        const QByteArray text = bytes.endsWith('\r') ? bytes.chopped(1) : bytes;
        QByteArray line;
        line.reserve(overlongSize + 1);
        while (line.size() < overlongSize)
            line.append(text.isEmpty() ? QByteArray("X") : text);
        line.truncate(overlongSize);
        out = line + '\r';
        fault_ = Fault::None; // only the next reply
    }
    // A boot monitor answers at once; the firmware takes its time.
    const int delay = device->inBootMode() ? 0 : latencyMs_ + (fault_ == Fault::Late ? lateMs_ : 0);
    enqueue(delay > 0 ? tarvo::TimeScale::ms(delay) : 0, out, device->activeBaud());
}

void Line::enqueue(qint64 delayMs, const QByteArray& bytes, int deviceBaud) {
    if (!wireTime_) {
        enqueueAt(clock_.nsecsElapsed() + delayMs * 1'000'000, bytes, deviceBaud);
        return;
    }
    const qint64 start = (wireNowNs_ >= 0 ? wireNowNs_ : clock_.nsecsElapsed()) + delayMs * 1'000'000;
    const qint64 due = std::max(start, outboundBusyNs_) + bytes.size() * byteNs(deviceBaud);
    outboundBusyNs_ = due;
    enqueueAt(due, bytes, deviceBaud);
}

void Line::enqueueAt(qint64 dueNs, const QByteArray& bytes, int deviceBaud) {
    const auto at = std::upper_bound(pending_.begin(), pending_.end(), dueNs,
                                     [](qint64 t, const Pending& p) { return t < p.dueNs; });
    pending_.insert(at, Pending{dueNs, bytes, deviceBaud});
    scheduleNext();
}

void Line::scheduleNext() {
    qint64 next = -1;
    if (!pending_.empty())
        next = pending_.front().dueNs;
    if (!inbound_.empty() && (next < 0 || inbound_.front().dueNs < next))
        next = inbound_.front().dueNs;
    if (deliveryFd_ >= 0) {
        // Relative, at least a nanosecond: a zero time would disarm the timer. None disarms it.
        itimerspec when{};
        if (next >= 0) {
            const qint64 wait = std::max<qint64>(1, next - clock_.nsecsElapsed());
            when.it_value.tv_sec = wait / 1'000'000'000;
            when.it_value.tv_nsec = wait % 1'000'000'000;
        }
        if (timerfd_settime(deliveryFd_, 0, &when, nullptr) == 0)
            return;
    }
    if (next < 0) {
        deliveryTimer_.stop();
        return;
    }
    // Timers count whole milliseconds: round up, so nothing is delivered before its time.
    const qint64 wait = std::max<qint64>(0, next - clock_.nsecsElapsed());
    deliveryTimer_.start(int((wait + 999'999) / 1'000'000));
}

void Line::deliverDue() {
    qint64 now = clock_.nsecsElapsed();
    if (!inbound_.empty()) {
        deliverInbound(now);
        now = clock_.nsecsElapsed();
    }
    QByteArray out;
    const int host = hostBaud();
    while (!pending_.empty() && pending_.front().dueNs <= now) {
        Pending p = std::move(pending_.front());
        pending_.pop_front();
        if (fault_ == Fault::Silent)
            continue;
        out += p.deviceBaud == host ? p.bytes : wrongRateNoise(p.bytes.size());
    }
    scheduleNext();
    if (!out.isEmpty()) {
        sent_ += out;
        if (sent_.size() > sentLimit) // a long-running stream must not grow the record without end
            sent_.remove(0, sent_.size() - sentLimit / 2);
        emit toHost(out);
    }
}

QList<Line::Received> Line::receivedLines() const {
    QList<Received> lines;
    Received current;
    for (const Received& chunk : received_) {
        for (const char c : chunk.bytes) {
            current.bytes.append(c);
            current.baud = chunk.baud;
            if (c == '\r') {
                lines.append(current);
                current = {};
            }
        }
    }
    if (!current.bytes.isEmpty())
        lines.append(current);
    return lines;
}

QList<QByteArray> Line::receivedTexts() const {
    QList<QByteArray> texts;
    for (const Received& r : receivedLines())
        texts.append(r.bytes);
    return texts;
}

} // namespace devsim
