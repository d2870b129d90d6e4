#include "AverageAcquisition.h"

#include "AverageEntryChecks.h"
#include "base/EventWait.h"
#include "base/NumberText.h"
#include "base/Operator.h"
#include "base/ReplacingFile.h"
#include "base/TimeScale.h"
#include "config/CheckWeigherParameters.h"
#include "link/CommandLink.h"
#include "link/SerialPort.h"
#include "measure/DataFiles.h"
#include "measure/DosingMonitor.h"
#include "measure/LiveReadout.h"
#include "measure/StreamDispatcher.h"

namespace tarvo {

namespace {
constexpr int kSettleMs = 200;
constexpr int kRawCommandLimitMs = 500;

QString text(const char* latin1) {
    return QString::fromLatin1(latin1);
}

std::optional<long long> fieldValue(const ParameterFields& fields, const char* name) {
    const int index = fields.indexOf(QString::fromLatin1(name));
    return index < 0 ? std::nullopt : parseInteger(fields.text(index).toLatin1());
}
} // namespace

AverageAcquisition::AverageAcquisition(CommandLink& link, CheckWeigherParameters& checkWeigher,
                                       DataFiles& files, DosingMonitor& monitor, LiveReadout& readout,
                                       StreamDispatcher& dispatcher, Operator& op, AveragingHooks hooks,
                                       QObject* parent)
    : QObject(parent), link_(link), checkWeigher_(checkWeigher), files_(files), monitor_(monitor),
      readout_(readout), dispatcher_(dispatcher), op_(op), hooks_(std::move(hooks)) {
    connect(&poll_, &QTimer::timeout, this, &AverageAcquisition::averagePollTick);
}

QString AverageAcquisition::caption(FamilyPage page) const {
    const bool running =
        page == FamilyPage::Mxr41 ? mxr41Running_ : page == FamilyPage::Tcw43 && tcw43Running_;
    return text(running ? kStopCaption : kStartCaption);
}

void AverageAcquisition::pageControl(bool on) {
    if (hooks_.setPageControlEnabled)
        hooks_.setPageControlEnabled(on);
}

QByteArray AverageAcquisition::ask(const QByteArray& line, const QByteArray& start, int timeLimitMs) {
    return link_.sendAndReceive(link_.port().portNumber(), line, timeLimitMs, Framing::startingWith(start));
}

bool AverageAcquisition::acknowledged(const QByteArray& line, int timeLimitMs) {
    return ask(line, "O", timeLimitMs) == "K";
}

bool AverageAcquisition::openLog(LogKind kind) {
    const QString path = op_.askSaveFileName(text(DataFiles::kCsvSuffix), text(DataFiles::kCsvFilter));
    if (path.isEmpty())
        return false;
    const QString separator = files_.separator();
    // The 43xx log has always been written with a semicolon, whatever the separator option says.
    const QString header = kind == LogKind::Tcw43 ? QStringLiteral("AverageData;TimeStamp")
                           : kind == LogKind::Raw ? "Raw AverageData" + separator + "TimeStamp"
                                                  : "AverageData" + separator + "TimeStamp";
    QString reason;
    if (files_.openAverageLogAt(path, header, &reason))
        return true;
    op_.showMessage(text(kFileInUse));
    op_.showMessage(cannotWriteText(DataFiles::kCannotWrite, path, reason));
    files_.setLogAverageData(0, false);
    files_.setLogAverageData(1, false);
    return false;
}

void AverageAcquisition::mxr41AverageClicked() {
    ParameterFields& fields = checkWeigher_.mxr41();
    checkWeigher_.readMxr41Clicked();
    monitor_.resetWritePosition();
    op_.showInfoLine(Page::Mxr41, QString());
    waitMs(kSettleMs);
    // A run stops whatever the fields read back: a value the device holds out of the page's range must
    // not keep its averages coming for good.
    if (mxr41Running_) {
        stopMxr41();
        pageControl(true);
        return;
    }
    if (const QString problem = AverageEntryChecks::firstProblem(fields, AverageEntryChecks::mxr41());
        !problem.isEmpty()) {
        op_.showInfoLine(Page::Mxr41, problem);
        return;
    }
    pageControl(false);
    const QByteArray zero = ask("GN\r", "N", 200);
    if (zero == kTimeOutErr) {
        op_.showInfoLine(Page::Mxr41, text(kCommunicationError));
        pageControl(true);
        return;
    }
    // Both in counts: the present net value without its decimal point against the trigger level. A
    // value that is no number (over range) is no zero either.
    QByteArray counts = zero;
    deleteFirst(counts, ".");
    const std::optional<double> present = parseDecimal(counts);
    const std::optional<long long> trigger = fieldValue(fields, "TriggerLevel");
    if (!present || !trigger || *present > double(*trigger)) {
        op_.showMessage(text(kZeroAboveTrigger) + QString::fromLatin1(zero) + ')');
        pageControl(true);
        return;
    }
    checkWeigher_.writeMxr41Clicked();
    if (!checkWeigher_.saved()) {
        pageControl(true);
        return;
    }
    if (files_.logAverageData(0) || files_.logAverageData(1))
        openLog(LogKind::Mxr41);
    if (!acknowledged("SA\r", 100)) {
        op_.showInfoMessage(text(kSendAverageFailed));
        files_.closeAverageLog(); // no averages will come for it
    } else {
        PacketMatcher& stream = link_.streamMatcher();
        stream.setEnabled(false);
        stream.disarm();
        keptStart_ = stream.startString();
        frameStream("A+");
        mxr41Running_ = true;
        emit changed();
    }
    pageControl(true);
}

void AverageAcquisition::stopMxr41() {
    mxr41Running_ = false;
    emit changed();
    ask("GG\r", "G", 200); // the device stops sending averages
    if (!keptStart_.isEmpty())
        link_.streamMatcher().setStartString(keptStart_);
    files_.closeAverageLog();
}

void AverageAcquisition::tcw43AverageClicked() {
    ParameterFields& fields = checkWeigher_.tcw43();
    op_.showInfoLine(Page::Tcw43, QString());
    waitMs(kSettleMs);
    if (const QString problem = AverageEntryChecks::firstProblem(fields, AverageEntryChecks::tcw43());
        !problem.isEmpty()) {
        op_.showInfoLine(Page::Tcw43, problem);
        return;
    }
    if (tcw43Running_) {
        stopTcw43();
        pageControl(true);
        return;
    }
    if (files_.logAverageData(0) || files_.logAverageData(1))
        openLog(LogKind::Tcw43);
    pageControl(false);
    if (ask("GN\r", "N", 100) == kTimeOutErr) {
        op_.showInfoLine(Page::Tcw43, text(kCommunicationError));
        files_.closeAverageLog();
        pageControl(true);
        return;
    }
    fields.setText(fields.indexOf(QStringLiteral("TriggerLevel")), text(kTcw43TriggerLevel));
    checkWeigher_.writeTcw43Clicked();
    if (!checkWeigher_.saved()) {
        files_.closeAverageLog();
        pageControl(true);
        return;
    }
    PacketMatcher& stream = link_.streamMatcher();
    stream.setStartString("A+");
    // The poll takes each average itself: the stream matcher framing the same reply would hand it to the
    // value display a second time, and the log would hold it twice.
    stream.setEnabled(false);
    stream.disarm();
    fields.setEnabled(false);
    tcw43Running_ = true;
    previousPoll_.clear();
    const long long interval = fieldValue(fields, "StartDelay").value_or(0) +
                               fieldValue(fields, "MeasureTime").value_or(0) + kPollMarginMs;
    poll_.start(TimeScale::ms(int(interval)));
    emit changed();
    pageControl(true);
}

void AverageAcquisition::stopTcw43() {
    tcw43Running_ = false;
    poll_.stop();
    frameStream("G");
    checkWeigher_.tcw43().setEnabled(true);
    files_.closeAverageLog();
    emit changed();
}

void AverageAcquisition::averagePollTick() {
    // A tick that comes while the last one still waits for its turn adds nothing.
    if (pollQueued_)
        return;
    pollQueued_ = true;
    link_.runWhenIdle([this] {
        pollQueued_ = false;
        if (!tcw43Running_)
            return;
        const QByteArray reply = ask("GA\r", "A", 100);
        if (reply == kTimeOutErr) {
            stopTcw43();
            op_.showInfoLine(Page::Tcw43, text(kCommunicationError));
            previousPoll_.clear();
            return;
        }
        // The device says "+99999" until a new average is ready: each one is taken once, on the change.
        QByteArray value = reply;
        deleteFirst(value, ".");
        if (value != kNotReady && value != kRejected && previousPoll_ == kNotReady)
            takeAverage(reply);
        previousPoll_ = value;
    });
}

void AverageAcquisition::takeAverage(const QByteArray& reply) {
    lastAverage_ = QString::fromLatin1(reply);
    checkWeigherDisplay_ = lastAverage_;
    emit changed();
    emit checkWeigherDisplayChanged(checkWeigherDisplay_);
    files_.appendAverageLine(lastAverage_);
    monitor_.keepValue(lastAverage_);
}

void AverageAcquisition::setRawRecording(bool on) {
    rawRecording_ = on;
    if (on)
        dispatcher_.setRawValueSink([this](QByteArrayView line) { rawValueReceived(line); });
    else
        dispatcher_.setRawValueSink({});
    emit changed();
}

void AverageAcquisition::startRecordingRawClicked() {
    setRawRecording(true);
    link_.streamMatcher().setEnabled(false);
    waitMs(kSettleMs, false);
    if (!acknowledged("TG1\r", kRawCommandLimitMs)) {
        op_.showMessage(text(kRawFailed));
        op_.showInfoLine(Page::Mxr41, text(kRawFailed));
        setRawRecording(false);
        return;
    }
    if (ask("DX\r", "X:", kRawCommandLimitMs) != "001" && op_.askYesNo(text(kFullDuplexQuestion))) {
        if (!acknowledged("DX1\r", kRawCommandLimitMs)) {
            op_.showInfoMessage(text(kFullDuplexFailed));
            op_.showMessage(text(kFullDuplexFailed), QString(), MessageIcon::Information);
            setRawRecording(false);
            return;
        }
        acknowledged("WP\r", kRawCommandLimitMs);
    }
    if (!rawRecording_ || !openLog(LogKind::Raw))
        return;
    frameStream(readout_.streamStart());
    link_.writeRaw(readout_.streamCommand());
}

void AverageAcquisition::frameStream(const QByteArray& start) {
    PacketMatcher& stream = link_.streamMatcher();
    stream.disarm();
    stream.setStartCondition(PacketMatcher::StartCondition::String);
    stream.setStartString(start);
    stream.setEndString("\r");
    stream.setEndConditions(PacketMatcher::EndString);
    stream.setIncludeStrings(false);
    stream.arm();
    stream.setEnabled(true);
    stream.setAutoEnable(true);
}

void AverageAcquisition::stopRecordingRawClicked() {
    setRawRecording(false);
    files_.closeAverageLog();
}

void AverageAcquisition::rawValueReceived(QByteArrayView line) {
    if (!rawRecording_ || !files_.averageLogOpen())
        return;
    checkWeigherDisplay_ = QString::fromLatin1(line);
    emit checkWeigherDisplayChanged(checkWeigherDisplay_);
    QByteArray value = line.toByteArray();
    deleteFirst(value, ".");
    files_.appendAverageLine(QString::fromLatin1(value));
}

void AverageAcquisition::showLastAverageClicked(bool on) {
    monitor_.setShowLastAverage(on);
    emit bigDisplayText(readout_.text());
}

void AverageAcquisition::resultDisplayClicked() {
    emit bigDisplayText(lastAverage_);
}

void AverageAcquisition::pageHidden(FamilyPage page) {
    if (page == FamilyPage::Mxr41) {
        if (mxr41Running_ && !keptStart_.isEmpty())
            link_.streamMatcher().setStartString(keptStart_);
        mxr41Running_ = false;
        if (rawRecording_)
            setRawRecording(false);
        files_.closeAverageLog();
        emit changed();
    } else if (page == FamilyPage::Tcw43 && tcw43Running_) {
        stopTcw43();
    } else if (page == FamilyPage::Tcw43) {
        files_.closeAverageLog();
    }
}

void AverageAcquisition::shutdown() {
    poll_.stop();
    tcw43Running_ = false;
    mxr41Running_ = false;
    dispatcher_.setRawValueSink({});
    files_.closeAverageLog();
}

} // namespace tarvo
