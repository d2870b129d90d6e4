#include "CanNode.h"

#include "Device.h"
#include "Line.h"

#include <protocol/CommandTable.h>

#include <QCanBus>
#include <QCanBusDevice>
#include <QEventLoop>
#include <QTimer>
#include <QVariant>
#include <cmath>
#include <cstring>

namespace devsim {

namespace {
constexpr quint8 kReadAnswer = 0x43;
constexpr quint8 kWriteAnswer = 0x60;
constexpr quint8 kRefused = 0x80;
constexpr quint32 kNoSuchObject = 0x06020000;
constexpr quint32 kRefusedValue = 0x06090030;
constexpr int kTareEvery = 10;

void putInt(QByteArray& bytes, int at, quint32 v) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char((v >> (8 * i)) & 0xFF);
}

quint32 floatBits(float f) {
    quint32 bits = 0;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

bool isAddressed(quint16 index) {
    return index >= 0x2100 && index <= 0x3FFF;
}

// The value of a reply line as the object carries it: status fields take their first three digits,
// identity and version their last four digits as hex digit pairs, the rest sign and digits.
// Where a reply's value starts: after its prefix ("F", "S1:", "IN", "B ").
qsizetype valueStart(const QByteArray& reply) {
    const qsizetype colon = reply.indexOf(':');
    qsizetype i = colon >= 0 ? colon + 1 : 0;
    while (i < reply.size() && !(reply[i] == '+' || reply[i] == '-' || (reply[i] >= '0' && reply[i] <= '9')))
        ++i;
    return i;
}

std::optional<qint32> integerFrom(const QByteArray& reply, int format) {
    qsizetype i = valueStart(reply);
    if (i >= reply.size())
        return std::nullopt;
    QByteArray digits;
    bool negative = false;
    if (reply[i] == '+' || reply[i] == '-')
        negative = reply[i++] == '-';
    for (; i < reply.size(); ++i) {
        if (reply[i] >= '0' && reply[i] <= '9')
            digits.append(reply[i]);
        else if (reply[i] != '.' || format != 7)
            break;
    }
    if (digits.isEmpty())
        return std::nullopt;
    bool ok = false;
    if (format == 7) {
        // "4113" travels as the bytes 0x41, 0x13 in this order.
        const quint32 pairs = digits.right(4).rightJustified(4, '0').toUInt(&ok, 16);
        return qint32(((pairs >> 8) & 0xFF) | ((pairs & 0xFF) << 8));
    }
    if (format == 2)
        digits = digits.left(3);
    const qint64 v = digits.toLongLong(&ok);
    return ok ? std::optional<qint32>(qint32(negative ? -v : v)) : std::nullopt;
}
} // namespace

CanNode::CanNode(Line& line, int nodeId, QObject* parent) : QObject(parent), line_(line), nodeId_(nodeId) {
    answerTimer_.setSingleShot(true);
    answerTimer_.setTimerType(Qt::PreciseTimer);
    connect(&answerTimer_, &QTimer::timeout, this, &CanNode::sendDueAnswers);
    for (Device* device : line_.devices())
        connect(device, &Device::output, this, [this, device](const QByteArray& bytes, bool reply) {
            if (capturing_ && reply)
                captured_ += bytes;
            else if (!reply)
                deviceOutput(device, reply);
        });
}

CanNode::~CanNode() {
    close();
}

bool CanNode::open(const QString& plugin, const QString& interface, QString* error) {
    close();
    QString why;
    QCanBusDevice* bus = QCanBus::instance()->createDevice(plugin, interface, &why);
    if (!bus) {
        *error = QStringLiteral("cannot open CAN interface %1:%2: %3").arg(plugin, interface, why);
        return false;
    }
    bus->setParent(this);
    if (plugin != QLatin1String("socketcan"))
        bus->setConfigurationParameter(QCanBusDevice::BitRateKey, 500000);
    if (bus->connectDevice() && bus->state() == QCanBusDevice::ConnectingState) {
        QEventLoop loop;
        QTimer::singleShot(3000, &loop, &QEventLoop::quit);
        connect(bus, &QCanBusDevice::stateChanged, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (bus->state() != QCanBusDevice::ConnectedState) {
        *error =
            QStringLiteral("cannot open CAN interface %1:%2: %3").arg(plugin, interface, bus->errorString());
        delete bus;
        return false;
    }
    bus_ = bus;
    connect(bus_, &QCanBusDevice::framesReceived, this, &CanNode::framesReceived);
    return true;
}

void CanNode::close() {
    if (!bus_)
        return;
    bus_->disconnectDevice();
    delete bus_;
    bus_ = nullptr;
    operational_ = false;
}

void CanNode::framesReceived() {
    if (!bus_)
        return;
    for (const QCanBusFrame& frame : bus_->readAllFrames())
        if (frame.isValid() && frame.frameType() == QCanBusFrame::DataFrame)
            handle(frame);
}

void CanNode::handle(const QCanBusFrame& frame) {
    heard_.append(frame);
    const quint32 id = frame.frameId();
    const QByteArray data = frame.payload();
    if (id == 0 && !data.isEmpty()) {
        if (data[0] == 0x01)
            operational_ = true;
        else if (data[0] == 0x02)
            operational_ = false;
    } else if (id == 0x600u + quint32(nodeId_) && data.size() == 8) {
        parameterRequest(data);
    } else if ((id == 0x200u + quint32(nodeId_) || id == 0x300u + quint32(nodeId_)) && data.size() >= 2) {
        processCommand(id < 0x300 ? 1 : 2, data);
    }
}

CanNode::Target CanNode::targetFor(quint16 index, quint8 sub, qint32 value, bool write) const {
    for (Device* device : line_.devices()) {
        const quint16 base = isAddressed(index) ? quint16(index - device->address()) : index;
        Target t;
        t.device = device;
        if ((base == 0x2600 || base == 0x2700 || base == 0x2800) && sub >= 1 && sub <= 4) {
            t.mnemonic = QByteArray(1, base == 0x2600   ? 'S'
                                       : base == 0x2700 ? 'H'
                                                        : 'A') +
                         QByteArray::number(sub - 1);
            t.kind = 2;
            return t;
        }
        for (const tarvo::CommandEntry& row : tarvo::kCommandTable) {
            if (row.objectIndex != base || row.subIndex != sub || row.isSetpointRow() || row.kind == 2 ||
                row.kind > 5)
                continue;
            // A save or cycle action names its device by the value it writes.
            if (row.kind == 5 && write && value != device->address())
                break;
            t.mnemonic = QByteArray(1, row.mnemonic1) + row.mnemonic2;
            t.kind = row.kind;
            t.format = row.format;
            return t;
        }
    }
    return {};
}

QByteArray CanNode::ask(Device* device, const QByteArray& line) {
    device->setSelected(true); // there is no "OP" on the bus: the object index names the device
    capturing_ = true;
    captured_.clear();
    device->receive(line + '\r');
    capturing_ = false;
    return captured_.trimmed();
}

void CanNode::parameterRequest(const QByteArray& data) {
    if (line_.fault() == Line::Fault::Silent)
        return;
    const quint8 command = quint8(data[0]);
    const quint16 index = quint16(quint8(data[1]) | (quint8(data[2]) << 8));
    const quint8 sub = quint8(data[3]);
    qint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = qint32((quint32(value) << 8) | quint8(data[4 + i]));
    const bool write = command == 0x23;
    QByteArray answer(8, '\0');
    answer[1] = data[1];
    answer[2] = data[2];
    answer[3] = data[3];
    const Target t = targetFor(index, sub, value, write);
    // The answer as this node gives it: perhaps late, perhaps cut short.
    // A node answers its requests in the order they came: an answer held back holds back those after it.
    auto answerWith = [this](QByteArray bytes) {
        bytes.truncate(answerLength_);
        const quint32 id = 0x580u + quint32(nodeId_);
        if (answerDelayMs_ <= 0 && answers_.isEmpty())
            return send(id, bytes);
        if (!answerClock_.isValid())
            answerClock_.start();
        answers_.append({answerClock_.elapsed() + answerDelayMs_, id, bytes});
        if (!answerTimer_.isActive())
            sendDueAnswers();
    };
    auto refuse = [&](quint32 code) {
        answer[0] = char(kRefused);
        putInt(answer, 4, code);
        answerWith(answer);
    };
    if (!t.device || (!write && command != 0x40))
        return refuse(kNoSuchObject);
    if (write) {
        QByteArray line = t.mnemonic;
        if (t.kind == 1 || t.kind == 2)
            line += ' ' + QByteArray::number(value);
        if (t.kind == 3 || ask(t.device, line) != "OK")
            return refuse(kRefusedValue);
        answer[0] = char(kWriteAnswer);
        return answerWith(answer);
    }
    if (t.kind == 0 || t.kind == 5)
        return refuse(kNoSuchObject);
    const QByteArray reply = ask(t.device, t.mnemonic);
    if (t.kind == 3) {
        const qsizetype i = valueStart(reply);
        bool ok = false;
        const double v = reply.mid(i).toDouble(&ok);
        if (!ok)
            return refuse(kRefusedValue); // over or under range
        putInt(answer, 4, floatBits(float(v)));
    } else {
        const std::optional<qint32> v = integerFrom(reply, t.format);
        if (!v || reply == "ERR")
            return refuse(kRefusedValue);
        putInt(answer, 4, quint32(*v));
    }
    answer[0] = char(kReadAnswer);
    answerWith(answer);
}

void CanNode::sendDueAnswers() {
    while (!answers_.isEmpty() && answers_.front().due <= answerClock_.elapsed()) {
        const HeldAnswer a = answers_.takeFirst();
        send(a.id, a.bytes);
    }
    if (!answers_.isEmpty())
        answerTimer_.start(int(std::max<qint64>(0, answers_.front().due - answerClock_.elapsed())));
}

QString CanNode::control(const QString& command) {
    const QStringList words = command.split(u' ', Qt::SkipEmptyParts);
    bool ok = false;
    const int n = words.size() == 2 ? words[1].toInt(&ok) : 0;
    if (ok && words[0] == QLatin1String("delay") && n >= 0 && n <= 60000) {
        answerDelayMs_ = n;
        return QStringLiteral("ok");
    }
    if (ok && words[0] == QLatin1String("short") && n >= 0 && n <= 8) {
        answerLength_ = n;
        return QStringLiteral("ok");
    }
    return QStringLiteral("error: can delay MS (0..60000) or can short N (0..8)");
}

void CanNode::processCommand(int channel, const QByteArray& data) {
    Device* device = line_.device(quint8(data[0]));
    if (!device)
        return;
    const quint8 mask = quint8(data[1]);
    QByteArray line;
    if (channel == 1) {
        switch (mask) {
        case 0x80:
            line = "GP-1";
            break; // net values, with the weighing cycle's states
        case 0x40:
            line = "SG";
            break;
        case 0x08:
            line = "ST";
            break;
        case 0x04:
            line = "RT";
            break;
        case 0x02:
            line = "SZ";
            break;
        case 0x01:
            line = "RZ";
            break;
        default:
            return;
        }
    } else {
        if (mask == 0x02)
            line = "SA";
        else if (mask == 0x80)
            line = "TR";
        else
            return;
    }
    ask(device, line);
    framesSinceTare_ = kTareEvery; // a new stream carries the tare first
}

void CanNode::deviceOutput(Device* device, bool) {
    if (operational_ && bus_)
        sendProcessFrames(device);
}

void CanNode::sendProcessFrames(Device* device) {
    const int decimals = device->config().decimals;
    const double scale = std::pow(10.0, decimals);
    QByteArray frame(8, '\0');
    if (framesSinceTare_++ >= kTareEvery) {
        framesSinceTare_ = 1;
        putInt(frame, 0, floatBits(float(double(device->tareCounts()) / scale)));
        send(0x380u + quint32(nodeId_), frame.left(4));
        frame.fill('\0');
    }
    const Device::Stream stream = device->stream();
    if (stream == Device::Stream::Average) {
        putInt(frame, 0, floatBits(float(double(device->averageCounts()) / scale)));
        send(0x280u + quint32(nodeId_), frame);
        return;
    }
    if (stream == Device::Stream::None)
        return;
    const qint64 counts = stream == Device::Stream::Gross ? device->grossCounts() : device->netCounts();
    putInt(frame, 0, floatBits(float(double(counts) / scale)));
    quint8 flags = device->noMotion() ? 0x10 : 0;
    if (device->range() == Device::Range::Over)
        flags |= 0x02;
    if (device->range() == Device::Range::Under)
        flags |= 0x01;
    frame[5] = char(flags);
    frame[7] = char(((decimals & 0x07) << 4) | (device->cycleState() & 0x0F));
    send(0x180u + quint32(nodeId_), frame);
}

void CanNode::send(quint32 id, const QByteArray& payload) {
    if (bus_)
        bus_->writeFrame(QCanBusFrame(id, payload));
}

} // namespace devsim
