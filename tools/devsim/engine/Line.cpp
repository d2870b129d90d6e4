#include "Line.h"

#include <base/TimeScale.h>

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
constexpr std::array<FaultName, 8> faultNames{{
    {"none", Line::Fault::None},
    {"silent", Line::Fault::Silent},
    {"late", Line::Fault::Late},
    {"err", Line::Fault::Err},
    {"garbage", Line::Fault::Garbage},
    {"overlong", Line::Fault::Overlong},
    {"overrange", Line::Fault::Overrange},
    {"underrange", Line::Fault::Underrange},
}};

} // namespace

Line::Line(QObject* parent) : QObject(parent) {
    clock_.start();
    deliveryTimer_.setSingleShot(true);
    deliveryTimer_.setTimerType(Qt::PreciseTimer);
    connect(&deliveryTimer_, &QTimer::timeout, this, &Line::deliverDue);
}

Line::~Line() = default;

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
    // A device at another rate hears only noise, which it drops.
    for (const auto& d : devices_)
        if (d->activeBaud() == hostBaud)
            d->receive(bytes);
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
        enqueue(0, bytes, device->activeBaud());
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
    const int delay = latencyMs_ + (fault_ == Fault::Late ? lateMs_ : 0);
    enqueue(tarvo::TimeScale::ms(delay), out, device->activeBaud());
}

void Line::enqueue(qint64 delayMs, const QByteArray& bytes, int deviceBaud) {
    const qint64 due = clock_.elapsed() + delayMs;
    const auto at = std::upper_bound(pending_.begin(), pending_.end(), due,
                                     [](qint64 t, const Pending& p) { return t < p.dueMs; });
    pending_.insert(at, Pending{due, bytes, deviceBaud});
    scheduleNext();
}

void Line::scheduleNext() {
    if (pending_.empty()) {
        deliveryTimer_.stop();
        return;
    }
    const qint64 wait = std::max<qint64>(0, pending_.front().dueMs - clock_.elapsed());
    deliveryTimer_.start(int(wait));
}

void Line::deliverDue() {
    const qint64 now = clock_.elapsed();
    QByteArray out;
    const int host = hostBaud();
    while (!pending_.empty() && pending_.front().dueMs <= now) {
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
