#include "cli/FollowRecording.h"

#include "base/NumberText.h"
#include "base/TerminationSignals.h"
#include "base/TimeScale.h"
#include "cli/CliSession.h"
#include "cli/Subcommands.h"
#include "link/CanBridge.h"
#include "link/ComPortMap.h"
#include "link/SerialPort.h"
#include "measure/DataFiles.h"
#include "measure/LiveReadout.h"
#include "measure/SampleStreamWriter.h"
#include "measure/StreamDispatcher.h"
#include "protocol/CommandTable.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarvo::cli {

namespace {

// Twenty days: a timer counts milliseconds in an int. Longer runs follow without --seconds.
constexpr int kMaxFollowSeconds = 20 * 86400;

constexpr int kSilenceMs = 3000;   // no sample for this long: the device is gone (device time)
constexpr int kFirstRetryMs = 500; // back-off of the search for a lost device, doubled each time
constexpr int kLongestRetryMs = 8000;
constexpr qsizetype kShownLineBytes = 40; // of an unreadable line, in its event

int followUsageError(const QString& text) {
    std::fprintf(stderr, "tarvo-cli record: %s\n", text.toLocal8Bit().constData());
    return ExitUsage;
}

bool sendsStatusPackets(int identity) {
    return identity == 4113 || identity == 4114 || identity == 5113 || identity == 5114 || identity == 5115;
}

bool isDosing(int identity) {
    return identity == 4114 || identity == 5114 || identity == 4314 || identity == 5115;
}

// The separator of the data files: the chosen one, unless it is the locale's decimal point.
QByteArray fileSeparator(const DataFiles& files) {
    const QByteArray chosen = files.separator().toLocal8Bit();
    const char point = DataFiles::localeDecimalPoint();
    if (chosen.size() != 1 || chosen.front() != point)
        return chosen;
    return point == ';' ? "," : ";";
}

// "--rotate": a size ("500k", "10M", "1G", plain bytes) or a time in hours ("2h", "0.5h").
struct RotateLimit {
    qint64 bytes = 0;
    qint64 ms = 0;
};

std::optional<RotateLimit> parseRotate(QString text) {
    RotateLimit limit;
    bool ok = false;
    if (text.endsWith('h', Qt::CaseInsensitive)) {
        text.chop(1);
        const std::optional<double> hours = parseTypedNumber(text);
        if (!hours || !(*hours > 0) || *hours > 1e6)
            return std::nullopt;
        limit.ms = static_cast<qint64>(*hours * 3600000.0);
        return limit.ms > 0 ? std::optional(limit) : std::nullopt;
    }
    qint64 unit = 1;
    if (text.endsWith('k', Qt::CaseInsensitive))
        unit = 1024;
    else if (text.endsWith('M'))
        unit = 1024 * 1024;
    else if (text.endsWith('G'))
        unit = 1024LL * 1024 * 1024;
    if (unit != 1)
        text.chop(1);
    limit.bytes = text.toLongLong(&ok) * unit;
    return ok && limit.bytes > 0 ? std::optional(limit) : std::nullopt;
}

// The files of a rotated recording: FILE's name with each file's start time (UTC) and a running number
// put in before its suffix, so that the names sort in recording order.
class RotatingFiles {
public:
    RotatingFiles(const QString& path, RotateLimit limit) : info_(path), limit_(limit) {}

    std::FILE* open() {
        const QString suffix = info_.suffix().isEmpty() ? QString() : "." + info_.suffix();
        const QString stem =
            info_.suffix().isEmpty() ? info_.fileName() : info_.fileName().chopped(suffix.size());
        const QString time =
            QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss.zzz'Z'"));
        const QString name =
            QStringLiteral("%1-%2-%3%4").arg(stem, time).arg(++count_, 6, 10, QChar('0')).arg(suffix);
        current_ = info_.dir().filePath(name);
        opened_.start();
        return std::fopen(current_.toLocal8Bit().constData(), "w");
    }
    bool due(qint64 bytesWritten) const {
        return (limit_.bytes > 0 && bytesWritten >= limit_.bytes) ||
               (limit_.ms > 0 && opened_.elapsed() >= limit_.ms);
    }
    const QString& current() const { return current_; }

private:
    QFileInfo info_;
    RotateLimit limit_;
    QString current_;
    QElapsedTimer opened_;
    int count_ = 0;
};

class Follower {
public:
    Follower(MainController& c, SampleStreamWriter& writer) : c_(c), writer_(writer) {
        silence_.setInterval(TimeScale::ms(250));
        QObject::connect(&silence_, &QTimer::timeout, [this] {
            if (running_ && sinceSample_.elapsed() > TimeScale::ms(kSilenceMs))
                lost(QStringLiteral("no data for %1 ms").arg(kSilenceMs));
        });
        resultRead_.setSingleShot(true);
        QObject::connect(&resultRead_, &QTimer::timeout, [this] { readResult(); });
        resultGuard_.setSingleShot(true);
        QObject::connect(&resultGuard_, &QTimer::timeout, [this] { resultAnswered(QByteArrayView()); });
        retry_.setSingleShot(true);
        QObject::connect(&retry_, &QTimer::timeout, [this] { searchAgain(); });
        // Tied to a member, so that a port lost while the session shuts down reaches no follower gone.
        QObject::connect(&c_.link(), &CommandLink::portLost, &silence_, [this](int, const QString& reason) {
            lost(reason.isEmpty() ? QStringLiteral("port lost") : reason);
        });
        c_.link().setStreamSink([this](QByteArrayView packet) { packetArrived(packet); });
        // Over the bus the bridge builds the lines; they come framed as the serial port's.
        if (c_.ports().canChosen()) {
            c_.setCanStreamSink([this](QByteArrayView packet) { packetArrived(packet); });
            if (CanBridge* bridge = c_.canBridge())
                QObject::connect(bridge, &CanBridge::adapterLost, &silence_, [this](const QString& reason) {
                    lost(reason.isEmpty() ? QStringLiteral("CAN adapter lost") : reason);
                });
        }
    }
    ~Follower() {
        c_.link().setStreamSink({});
        c_.setCanStreamSink({});
    }
    Follower(const Follower&) = delete;
    Follower& operator=(const Follower&) = delete;

    void start() {
        clock_.start();
        startStream();
        silence_.start();
    }
    void stop() {
        running_ = false;
        silence_.stop();
        retry_.stop();
        resultRead_.stop();
        resultGuard_.stop();
        c_.link().streamMatcher().setEnabled(false);
    }
    void setOnWriteFailure(std::function<void()> fn) { onWriteFailure_ = std::move(fn); }
    // "--events": each finished cycle's result read from the device, as the window reads it.
    void setEvents(bool on) { events_ = on; }
    // Runs after every sample written (the rotation's cut); false ends the recording as a failed write.
    void setAfterSample(std::function<bool()> fn) { afterSample_ = std::move(fn); }

private:
    SampleStreamWriter::Source source() const {
        SampleStreamWriter::Source s;
        s.identity = c_.discovery().deviceIdentity();
        s.address = c_.discovery().deviceAddress();
        s.port = c_.ports().canChosen() ? QStringLiteral("CAN_ADDR_%1").arg(c_.ports().canNodePosition() + 1)
                                        : QStringLiteral("COM%1").arg(c_.link().port().portNumber());
        return s;
    }

    // As RUN starts it: status packets from the devices that send them, else the selected value stream.
    // After a result read the packets were followed throughout (`followed`); otherwise the stream starts
    // mid-cycle, which has not been seen to start: its end is not a result.
    void startStream(bool followed = false) {
        identity_ = c_.discovery().deviceIdentity();
        devicePort_ = c_.link().port().portNumber();
        source_ = source();
        writer_.setSource(source_);
        if (!followed)
            lastState_ = 0;
        PacketMatcher& stream = c_.link().streamMatcher();
        stream.setEnabled(false);
        stream.setStartCondition(PacketMatcher::StartCondition::String);
        packets_ = sendsStatusPackets(identity_);
        if (packets_) {
            stream.setStartString("P");
            c_.link().writeRaw("GP-1\r");
        } else {
            stream.setStartString(c_.readout().streamStart());
            c_.link().writeRaw(c_.readout().streamCommand());
        }
        stream.disarm();
        stream.setEndString("\r");
        stream.setEndConditions(PacketMatcher::EndString);
        stream.setIncludeStrings(false);
        stream.setAutoEnable(true);
        stream.setEnabled(true);
        stream.arm();
        sinceSample_.start();
        running_ = true;
    }

    void packetArrived(QByteArrayView packet) {
        if (!running_)
            return;
        // Any line says the device is there, a sample or not.
        sinceSample_.start();
        // Several ports may share the writer.
        writer_.setSource(source_);
        if (awaitingResult_) {
            // Whole lines while the answer is awaited: the status packets that keep coming are recorded,
            // and no packet's bytes can pass for the answer, a signed number ("D+0012.5").
            const char letter = resultKind_ == ResultKind::Dosed ? 'D' : 'A';
            if (packet.size() == StatusPacket::kSize + 1 && packet.front() == 'P') {
                packet = packet.sliced(1);
            } else {
                const QByteArrayView text = packet.isEmpty() ? packet : packet.sliced(1);
                double value = 0;
                int decimals = 0;
                if (packet.startsWith(letter) && (text.startsWith('+') || text.startsWith('-')) &&
                    SampleStreamWriter::parseValueText(text, &value, &decimals))
                    resultAnswered(text);
                return;
            }
        }
        const qint64 elapsed = clock_.elapsed();
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        bool written = false;
        if (packets_) {
            const std::optional<StatusPacket> p = StatusPacket::decode(packet);
            if (!p)
                return unreadable(packet, now);
            written =
                writer_.writePacket(*p, c_.readout().grossSelected(), isDosing(identity_), elapsed, now);
            cycleStep(p->state);
        } else {
            // Over- and under-range lines carry no value: the gap they leave is an event, once, and so
            // is its end.
            const bool over = packet == QByteArrayView(StreamDispatcher::kOverRangeText);
            const bool under = packet == QByteArrayView(StreamDispatcher::kUnderRangeText);
            if (over || under) {
                const char* event = over ? "over range" : "under range";
                if (rangeEvent_ != event) {
                    rangeEvent_ = event;
                    if (!writer_.writeEvent(event, QString(), now) && onWriteFailure_)
                        onWriteFailure_();
                }
                return;
            }
            double value = 0;
            int decimals = 0;
            if (!SampleStreamWriter::parseValueText(packet, &value, &decimals))
                return unreadable(packet, now);
            if (rangeEvent_) {
                rangeEvent_ = nullptr;
                if (!writer_.writeEvent("in range", QString(), now) && onWriteFailure_) {
                    onWriteFailure_();
                    return;
                }
            }
            written = writer_.writeValue(packet, elapsed, now);
        }
        if (written && afterSample_)
            written = afterSample_();
        if (!written && onWriteFailure_)
            onWriteFailure_();
    }

    // A dosing cycle ends when the state returns to 0 (the dosed value is read 2 s later); a check-weigher
    // cycle when it returns to 0 from measuring (the average is read 100 ms later).
    void cycleStep(int state) {
        const int previous = lastState_;
        lastState_ = state;
        if (!events_ || state != 0 || previous == 0 || resultRead_.isActive() || awaitingResult_)
            return;
        if (isDosing(identity_)) {
            resultKind_ = ResultKind::Dosed;
            resultRead_.start(TimeScale::ms(2000));
        } else if (previous == 3 || previous == 4) {
            resultKind_ = ResultKind::Average;
            resultRead_.start(TimeScale::ms(100));
        }
    }

    void readResult() {
        if (!running_)
            return;
        const bool dosed = resultKind_ == ResultKind::Dosed;
        PacketMatcher& stream = c_.link().streamMatcher();
        stream.setEnabled(false);
        stream.setStartCondition(PacketMatcher::StartCondition::AnyData);
        stream.disarm();
        awaitingResult_ = true;
        c_.link().writeRaw(dosed ? "GD\r" : "GA\r");
        stream.arm();
        stream.setEnabled(true);
        resultGuard_.start(TimeScale::ms(500));
    }

    // The read's answer (empty: none came); the status packets come again after it.
    void resultAnswered(QByteArrayView text) {
        if (!awaitingResult_)
            return;
        awaitingResult_ = false;
        resultGuard_.stop();
        const char* kind = resultKind_ == ResultKind::Dosed ? "dosed" : "average";
        if (text.isEmpty()) {
            std::fprintf(stderr, "tarvo-cli record: no %s value from the device\n", kind);
            if (!writer_.writeEvent("no result", QString::fromLatin1(kind),
                                    QDateTime::currentMSecsSinceEpoch()) &&
                onWriteFailure_)
                onWriteFailure_();
        } else if (!writer_.writeResult(kind, text, QDateTime::currentMSecsSinceEpoch()) &&
                   writer_.failed() && onWriteFailure_) {
            onWriteFailure_();
        }
        if (running_)
            startStream(true);
    }

    // A line that is no sample (a carriage return lost on a noisy line runs two together, a byte came
    // garbled): its sample is lost, and a reader of the recording must be able to tell.
    void unreadable(QByteArrayView packet, qint64 now) {
        QString text;
        for (const char ch : packet.first(std::min<qsizetype>(packet.size(), kShownLineBytes)))
            text += ch >= 0x20 && ch < 0x7F ? QChar::fromLatin1(ch) : QChar(u'?');
        std::fprintf(stderr, "tarvo-cli record: unreadable line \"%s\"; its sample is lost\n",
                     text.toLocal8Bit().constData());
        if (!writer_.writeEvent("unreadable", text, now) && onWriteFailure_)
            onWriteFailure_();
    }

    void lost(const QString& reason) {
        if (!running_)
            return;
        running_ = false;
        c_.link().streamMatcher().setEnabled(false);
        std::fprintf(stderr, "tarvo-cli record: link lost (%s); waiting for the device\n",
                     reason.toLocal8Bit().constData());
        writer_.setSource(source_);
        if (!writer_.writeEvent("link lost", reason, QDateTime::currentMSecsSinceEpoch()) && onWriteFailure_)
            onWriteFailure_();
        retryMs_ = kFirstRetryMs;
        retry_.start(TimeScale::ms(retryMs_));
    }

    void searchAgain() {
        // An adapter plugged in again comes back where it was: a search that found its port missing has
        // marked it unavailable, and the next one must try it first again.
        if (!c_.ports().canChosen() && devicePort_ > 0)
            c_.ports().comClicked(devicePort_);
        c_.discovery().findDevice();
        if (TerminationSignals::pending())
            return;
        if (!c_.discovery().found()) {
            retryMs_ = std::min(retryMs_ * 2, kLongestRetryMs);
            retry_.start(TimeScale::ms(retryMs_));
            return;
        }
        std::fprintf(stderr, "tarvo-cli record: link restored\n");
        writer_.setSource(source());
        if (!writer_.writeEvent("link restored", c_.discovery().portLabel(),
                                QDateTime::currentMSecsSinceEpoch()) &&
            onWriteFailure_)
            onWriteFailure_();
        startStream();
    }

    MainController& c_;
    SampleStreamWriter& writer_;
    QElapsedTimer clock_;
    QElapsedTimer sinceSample_;
    QTimer silence_;
    QTimer retry_;
    std::function<void()> onWriteFailure_;
    std::function<bool()> afterSample_;
    int identity_ = 0;
    int devicePort_ = 0;
    enum class ResultKind { Dosed, Average };
    ResultKind resultKind_ = ResultKind::Dosed;
    QTimer resultRead_;
    QTimer resultGuard_;
    int lastState_ = 0;
    bool events_ = false;
    bool awaitingResult_ = false;
    SampleStreamWriter::Source source_;
    const char* rangeEvent_ = nullptr; // the range event in force, if any
    int retryMs_ = kFirstRetryMs;
    bool packets_ = false;
    bool running_ = false;
};

// "--address": addressed devices on one line cannot all stream, so each is opened ("OP" + its address)
// and asked for its value in turn, as fast as the line answers. A device that stops answering is an
// event, and so is its return; the others go on meanwhile.
class Poller {
public:
    Poller(MainController& c, SampleStreamWriter& writer, QList<int> addresses)
        : c_(c), writer_(writer), addresses_(std::move(addresses)), answering_(addresses_.size(), true) {
        identity_.fill(0, addresses_.size());
        tick_.setSingleShot(true);
        QObject::connect(&tick_, &QTimer::timeout, [this] { pollNext(); });
    }
    void start() {
        clock_.start();
        tick_.start(0);
    }
    void stop() { tick_.stop(); }
    void setOnWriteFailure(std::function<void()> fn) { onWriteFailure_ = std::move(fn); }

private:
    void pollNext() {
        const qsizetype i = next_;
        next_ = (next_ + 1) % addresses_.size();
        const QString address = QStringLiteral("%1").arg(addresses_[i], 2, 10, QChar('0'));
        CommandLink& link = c_.link();
        if (!link.port().isOpen())
            link.tryOpen();
        const int port = link.port().portNumber();
        const bool gross = c_.readout().grossSelected();
        QByteArray value = kTimeOutErr;
        if (link.sendAndReceive(port, addressLine("OP", address), 100, Framing::startingWith("O")) == "K") {
            if (identity_[i] == 0) {
                const QByteArray id = link.sendAndReceive(port, "ID\r", 200, Framing::startingWith("D:"));
                identity_[i] = id == kTimeOutErr ? 0 : id.toInt();
            }
            value = link.sendAndReceive(port, gross ? "GG\r" : "GN\r", 200,
                                        Framing::startingWith(gross ? "G" : "N"));
        }
        SampleStreamWriter::Source source;
        source.identity = identity_[i];
        source.address = address;
        source.port = QStringLiteral("COM%1").arg(port);
        writer_.setSource(source);
        bool written = true;
        double parsed = 0;
        int decimals = 0;
        if (value == kTimeOutErr || !SampleStreamWriter::parseValueText(value, &parsed, &decimals)) {
            if (answering_[i]) {
                answering_[i] = false;
                std::fprintf(stderr, "tarvo-cli record: device %s does not answer\n",
                             address.toLocal8Bit().constData());
                written = writer_.writeEvent("no answer", address, QDateTime::currentMSecsSinceEpoch());
            }
        } else {
            if (!answering_[i]) {
                answering_[i] = true;
                written = writer_.writeEvent("answering", address, QDateTime::currentMSecsSinceEpoch());
            }
            written =
                written && writer_.writeValue(value, clock_.elapsed(), QDateTime::currentMSecsSinceEpoch());
        }
        if (!written && onWriteFailure_) {
            onWriteFailure_();
            return;
        }
        // A line where nobody answers is not polled flat out.
        const bool anyAnswering = std::find(answering_.begin(), answering_.end(), true) != answering_.end();
        tick_.start(anyAnswering ? 0 : TimeScale::ms(kFirstRetryMs));
    }

    MainController& c_;
    SampleStreamWriter& writer_;
    QList<int> addresses_;
    QList<bool> answering_;
    QList<int> identity_;
    QElapsedTimer clock_;
    QTimer tick_;
    qsizetype next_ = 0;
    std::function<void()> onWriteFailure_;
};

// "5" or "1-8", addresses 0..63.
std::optional<QList<int>> parseAddresses(const QString& text) {
    const QStringList ends = text.split('-');
    bool ok1 = false, ok2 = false;
    const int first = ends.value(0).toInt(&ok1);
    const int last = ends.size() == 2 ? ends[1].toInt(&ok2) : first;
    if (ends.size() > 2 || !ok1 || (ends.size() == 2 && !ok2) || first < 0 || last > 63 || first > last)
        return std::nullopt;
    QList<int> list;
    for (int a = first; a <= last; ++a)
        list.append(a);
    return list;
}

} // namespace

void addFollowOptions(QCommandLineParser& parser) {
    parser.addOption({"follow", "write every sample as it arrives to FILE (\"-\": standard output), without "
                                "the recording memory's limit, until --seconds or Ctrl+C"});
    parser.addOption({"format", "with --follow: csv (as the graph data file) or jsonl (one object a sample)",
                      "FORMAT", "csv"});
    parser.addOption({"rotate",
                      "with --follow: start a new file (FILE's name with its start time) after SIZE bytes "
                      "(k, M, G: binary multiples) or HOURS (\"2h\")",
                      "SIZE|HOURS"});
    parser.addOption({"address",
                      "with --follow: poll the addressed devices N or N-M (0..63) on the line in turn, "
                      "each sample carrying its address",
                      "N|N-M"});
    parser.addOption(
        {"port",
         "with --follow: follow the device on COM port N (1..8); repeat it for several ports, each "
         "sample carrying its port",
         "N"});
    parser.addOption({"events",
                      "with --follow and jsonl: on dosing and check-weighing devices, each finished cycle's "
                      "dosed value or average as one record"});
    parser.addPositionalArgument("FILE", "with --follow: where the samples go (\"-\": standard output)");
}

int runFollowRecording(const QCommandLineParser& parser) {
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1 || positional.front().isEmpty())
        return followUsageError("--follow needs one FILE (\"-\" for standard output)");
    const QString format = parser.value("format");
    if (format != QLatin1String("csv") && format != QLatin1String("jsonl"))
        return followUsageError("--format is csv or jsonl");
    // Without --seconds it follows until it is told to stop.
    std::optional<qint64> durationMs;
    if (parser.isSet("seconds")) {
        durationMs = parseSeconds(parser.value("seconds"), kMaxFollowSeconds);
        if (!durationMs)
            return followUsageError(QStringLiteral("--seconds needs a number of seconds from 0.001 to %1, "
                                                   "whole or decimal (without it: until Ctrl+C)")
                                        .arg(kMaxFollowSeconds));
    }
    std::optional<RotateLimit> rotate;
    if (parser.isSet("rotate")) {
        rotate = parseRotate(parser.value("rotate"));
        if (!rotate)
            return followUsageError("--rotate needs a size (500k, 10M) or hours (2h)");
        if (positional.front() == QLatin1String("-"))
            return followUsageError("--rotate needs a FILE, not standard output");
    }
    std::optional<QList<int>> addresses;
    if (parser.isSet("address")) {
        addresses = parseAddresses(parser.value("address"));
        if (!addresses)
            return followUsageError("--address needs N or N-M, addresses 0..63");
    }
    QList<int> comPorts;
    for (const QString& text : parser.values("port")) {
        bool ok = false;
        const int n = text.toInt(&ok);
        if (!ok || n < 1 || n > ComPortMap::kCount || comPorts.contains(n))
            return followUsageError("--port needs a COM number 1..8, each once");
        comPorts.append(n);
    }
    if (addresses && comPorts.size() > 1)
        return followUsageError("--address follows one port");
    if (addresses && rotate)
        return followUsageError("--rotate does not go with --address yet");
    if (parser.isSet("csv") || parser.isSet("trigger") || parser.isSet("markers"))
        return followUsageError("--follow takes none of --csv, --trigger and --markers");

    // A reader that goes away (a closed pipe) is a write error here, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    TerminationSignals interrupt(ExitInterrupted);
    // One session (controller, port, search) for every port followed.
    std::vector<std::unique_ptr<CliSession>> sessions;
    for (qsizetype i = 0; i < std::max<qsizetype>(comPorts.size(), 1); ++i)
        sessions.push_back(std::make_unique<CliSession>(parser.isSet("yes")));
    MainController& c = sessions.front()->controller();
    if (!sessions.front()->linkAvailable())
        return ExitFailed;
    // The addressed devices are polled on a serial line; the bus would be left for a port nobody chose.
    if (addresses && c.ports().canChosen() && comPorts.isEmpty())
        return followUsageError("--address polls over a serial port, and Tarvo.ini chooses the CAN bus: name "
                                "the port with --port");

    const QString path = positional.front();
    const bool toStdout = path == QLatin1String("-");
    std::optional<RotatingFiles> files;
    if (rotate)
        files.emplace(path, *rotate);
    // A pipe is a fair place for a live recording (another program reads it as it comes); a disk's device
    // node is not, and would be written over.
    struct stat existing {};
    if (!toStdout && !files && ::stat(QFile::encodeName(path).constData(), &existing) == 0 &&
        S_ISBLK(existing.st_mode)) {
        std::fprintf(stderr, "tarvo-cli record: %s:%s (a block device, not a file)\n",
                     path.toLocal8Bit().constData(), DataFiles::kCannotWrite);
        return ExitFailed;
    }
    // FILE is opened now, so that a place that cannot be written is told before the search, but emptied
    // only once a device is there: a search that finds none (or Ctrl+C) leaves an earlier recording whole.
    // A pipe must have its reader already; waiting for one would hold the port and the signals.
    int fd = -1;
    bool created = false;
    if (!toStdout && !files) {
        const QByteArray name = QFile::encodeName(path);
        created = ::stat(name.constData(), &existing) != 0;
        fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
        if (fd < 0) {
            const int error = errno;
            std::fprintf(stderr, "tarvo-cli record: %s:%s (%s)\n", path.toLocal8Bit().constData(),
                         DataFiles::kCannotWrite,
                         error == ENXIO ? "a pipe that no program reads" : std::strerror(error));
            return ExitFailed;
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    // Gives FILE up when no recording begins: as it was, or not there when it was not.
    auto giveUp = [&](int status) {
        if (fd >= 0) {
            ::close(fd);
            if (created)
                ::unlink(QFile::encodeName(path).constData());
        }
        return status;
    };

    if (addresses) {
        // The addressed devices are asked one by one; none of them is searched for first.
        QString reason;
        if (!c.link().port().isOpen() && !c.link().port().open(&reason)) {
            std::fprintf(stderr, "tarvo-cli record: COM%d not available: %s\n", c.link().port().portNumber(),
                         reason.toLocal8Bit().constData());
            return giveUp(ExitFailed);
        }
        c.link().setLinkKind(Link::Com);
        if (!comPorts.isEmpty())
            c.ports().comClicked(comPorts.front());
    } else {
        for (qsizetype i = 0; i < qsizetype(sessions.size()); ++i) {
            MainController& each = sessions[i]->controller();
            if (!comPorts.isEmpty()) {
                // Each session searches its own port only: another's device must not be taken for its own.
                each.ports().setSearchOnlySelected(true);
                each.ports().comClicked(comPorts[i]);
            }
            each.discovery().findDeviceClicked();
            if (TerminationSignals::pending() || !each.discovery().found())
                return giveUp(TerminationSignals::pending() ? ExitInterrupted : ExitFailed);
        }
    }

    errno = 0;
    std::FILE* out = nullptr;
    if (toStdout) {
        out = stdout;
    } else if (files) {
        out = files->open();
    } else {
        struct stat opened {};
        const bool emptied = ::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || ::ftruncate(fd, 0) == 0;
        out = emptied ? ::fdopen(fd, "w") : nullptr;
        if (out)
            fd = -1; // the stream owns it now
    }
    if (!out) {
        const int error = errno;
        std::fprintf(stderr, "tarvo-cli record: %s:%s%s%s%s\n",
                     (files ? files->current() : path).toLocal8Bit().constData(), DataFiles::kCannotWrite,
                     error ? " (" : "", error ? std::strerror(error) : "", error ? ")" : "");
        return giveUp(ExitFailed);
    }
    // A file that cannot be closed has lost its last lines.
    auto closeOut = [&] { return toStdout || std::fclose(out) == 0; };

    SampleStreamWriter writer(out,
                              format == QLatin1String("csv") ? SampleStreamWriter::Format::Csv
                                                             : SampleStreamWriter::Format::Jsonl,
                              {});
    writer.writeHeader(c.dataFiles().graphName(), fileSeparator(c.dataFiles()));
    QEventLoop loop;
    std::vector<std::unique_ptr<Follower>> followers;
    std::optional<Poller> poller;
    if (addresses) {
        poller.emplace(c, writer, *addresses);
        poller->setOnWriteFailure([&] { loop.quit(); });
    } else {
        for (const auto& session : sessions) {
            followers.push_back(std::make_unique<Follower>(session->controller(), writer));
            followers.back()->setOnWriteFailure([&] { loop.quit(); });
            followers.back()->setEvents(parser.isSet("events"));
        }
    }
    bool cutFailed = false;
    if (files) {
        // The cut falls between two samples: the last one is in the old file, the next in the new one.
        auto cut = [&] {
            if (!files->due(writer.bytesWritten()))
                return true;
            std::FILE* next = files->open();
            if (!next) {
                std::fprintf(stderr, "tarvo-cli record: %s:%s\n", files->current().toLocal8Bit().constData(),
                             DataFiles::kCannotWrite);
                cutFailed = true;
                return false;
            }
            const bool closed = std::fclose(out) == 0;
            out = next;
            if (!closed)
                cutFailed = true;
            return writer.switchTo(out) && closed;
        };
        for (const auto& follower : followers)
            follower->setAfterSample(cut);
    }
    QTimer end;
    end.setSingleShot(true);
    QObject::connect(&end, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&interrupt, &TerminationSignals::received, &loop, &QEventLoop::quit);
    if (!writer.failed()) {
        if (poller)
            poller->start();
        for (const auto& follower : followers)
            follower->start();
        if (durationMs)
            end.start(std::chrono::milliseconds(*durationMs));
        if (!TerminationSignals::pending())
            loop.exec();
    }
    if (poller)
        poller->stop();
    for (qsizetype i = 0; i < qsizetype(followers.size()); ++i) {
        followers[i]->stop();
        // The device goes back to what STOP leaves it doing.
        sessions[i]->controller().acquisition().stopClicked();
    }
    const bool closed = closeOut();
    std::fprintf(stderr, "samples: %lld\n", static_cast<long long>(writer.sequence()));
    if (writer.failed() || !closed || cutFailed) {
        std::fprintf(stderr, "tarvo-cli record: writing %s failed after %lld samples\n",
                     toStdout ? "to standard output" : path.toLocal8Bit().constData(),
                     static_cast<long long>(writer.sequence()));
        return ExitFailed;
    }
    // Ctrl+C or TERM is how an endless recording ends: every sample taken is written.
    return ExitOk;
}

} // namespace tarvo::cli
