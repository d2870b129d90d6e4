#include "SettingsImageTransfer.h"

#include "SettingsImageFile.h"
#include "base/EventWait.h"
#include "base/Operator.h"
#include "base/TimeScale.h"
#include "link/CommandLink.h"
#include "link/PortAccess.h"
#include "link/SerialPort.h"

#include "base/ReplacingFile.h"

#include <QBuffer>
#include <QFile>
#include <QScopeGuard>

namespace tarvo {

namespace {

constexpr int kLinePauseMs = 100;
constexpr int kRecordPauseMs = 200;
constexpr int kCharacterPauseMs = 10;
constexpr int kSelectLimitMs = 100;
constexpr int kOpenLimitMs = 1000;
constexpr int kLastCharacterLimitMs = 1000;
constexpr int kDrainLimitMs = 1000;
constexpr int kGrossRestartLimitMs = 1;

} // namespace

SettingsImageTransfer::SettingsImageTransfer(CommandLink& link, Operator& op, QObject* parent)
    : QObject(parent), link_(link), op_(op) {
    captureTimer_.setSingleShot(true);
    connect(&captureTimer_, &QTimer::timeout, this, &SettingsImageTransfer::captureExpired);
    // No record comes over a port that went away: the capture ends now, with the real reason, rather
    // than after its time limit with the device blamed.
    connect(&link_, &CommandLink::portLost, this, [this](int number, const QString& reason) {
        abandonCapture(QStringLiteral("Get Image: COM%1 not available: %2; %3 was not written.")
                           .arg(number)
                           .arg(reason, path_));
    });
}

SettingsImageTransfer::~SettingsImageTransfer() {
    // A capture still running at the end leaves no half file behind: nothing is written before the
    // end record.
}

const QStringList& SettingsImageTransfer::addressChoices() {
    static const QStringList choices = [] {
        QStringList list{QStringLiteral("None")};
        for (int address = 0; address <= 63; ++address)
            list << QStringLiteral("%1").arg(address, 2, 10, QLatin1Char('0'));
        return list;
    }();
    return choices;
}

void SettingsImageTransfer::setFromAddress(const QString& choice) {
    if (choice == from_ || !addressChoices().contains(choice))
        return;
    from_ = choice;
    emit addressesChanged();
}

void SettingsImageTransfer::setToAddress(const QString& choice) {
    if (choice == to_ || !addressChoices().contains(choice))
        return;
    to_ = choice;
    emit addressesChanged();
}

int SettingsImageTransfer::addressNumber(const QString& choice) {
    return choice == QLatin1String("None") ? 0 : choice.toInt();
}

void SettingsImageTransfer::setProgress(int value, int maximum) {
    progress_ = value;
    progressMaximum_ = maximum;
    emit progressChanged(value, maximum);
}

void SettingsImageTransfer::getImageClicked() {
    if (isBusy())
        return;
    const QString path = op_.askSaveFileName(QStringLiteral(".qmi"), QString::fromLatin1(kFilter));
    if (path.isEmpty())
        return;
    path_ = path;
    saved_ = false;
    // Kept in memory and written in one checked save once the end record came, so a capture that fails
    // never replaces an image that was there. The place is tried first: a device asked for an image
    // that cannot be kept would be asked for nothing.
    if (const QString reason = ReplacingFile::checkTarget(path); !reason.isEmpty()) {
        op_.showMessage(QString::fromLatin1(kInUse));
        op_.showMessage(cannotWriteText(kCannotWrite, path, reason), QString(), MessageIcon::Error);
        return;
    }
    captured_ = std::make_unique<QBuffer>();
    captured_->open(QIODevice::WriteOnly);
    capture_.start(captured_.get());
    emit activityChanged(true);

    PacketMatcher& stream = link_.streamMatcher();
    stream.setEnabled(false);
    stream.setStartString(":");
    stream.setEndString("\r");
    stream.setEndConditions(PacketMatcher::EndString);
    stream.setIncludeStrings(false);
    stream.setAutoEnable(true);
    if (!stream.isArmed())
        stream.arm();
    stream.setEnabled(true);
    captureTimer_.start(TimeScale::ms(kCaptureLimitMs));
    // A port already gone (or never opened) takes no request: said now, not as a silent device in 10 s.
    if (!link_.writeRaw("GI\r") && link_.linkKind() == Link::Com)
        abandonCapture(QStringLiteral("Get Image: %1; %2 was not written.")
                           .arg(PortAccess::notAvailableText(link_.port().portNumber(), QString()), path_));
}

void SettingsImageTransfer::imageLine(QByteArrayView text) {
    if (!capture_.active()) {
        op_.showInfoMessage(QString::fromLatin1(kNotCapturing));
        restartGrossStream();
        return;
    }
    captureTimer_.start(TimeScale::ms(kCaptureLimitMs));
    const ImageCapture::Outcome outcome = capture_.line(text);
    if (outcome == ImageCapture::Outcome::Continue)
        return;
    captureTimer_.stop();
    // Records that follow in the same chunk are no longer framed; the rest waits for the event loop, out
    // of the matcher's hands.
    link_.streamMatcher().setEnabled(false);
    link_.streamMatcher().setStartString("G");
    QTimer::singleShot(0, this, [this, outcome] { captureEnded(outcome); });
}

void SettingsImageTransfer::captureEnded(ImageCapture::Outcome outcome) {
    const std::unique_ptr<QBuffer> captured = std::move(captured_);
    QString reason;
    if (outcome == ImageCapture::Outcome::Complete && captured) {
        ReplacingFile file(path_);
        if (file.open()) {
            file.write(captured->data());
            saved_ = file.commit();
        }
        reason = file.errorString();
    }
    if (saved_) {
        op_.showInfoMessage(QString::fromLatin1(kSaved));
    } else {
        op_.showMessage(outcome == ImageCapture::Outcome::TooLarge
                            ? QStringLiteral("The device sent more than a settings image holds; %1 was not "
                                             "written.")
                                  .arg(path_)
                        : reason.isEmpty() ? QString::fromLatin1(kCannotWrite)
                                           : cannotWriteText(kCannotWrite, path_, reason),
                        QString(), MessageIcon::Error);
    }
    restartGrossStream();
    emit activityChanged(isBusy());
}

void SettingsImageTransfer::captureExpired() {
    abandonCapture(QStringLiteral("Get Image: the device sent no end record within %1 s; %2 was not written.")
                       .arg(kCaptureLimitMs / 1000)
                       .arg(path_));
}

void SettingsImageTransfer::abandonCapture(const QString& why) {
    if (!capture_.active())
        return;
    capture_.stop();
    captureTimer_.stop();
    captured_.reset();
    op_.showMessage(why, QString(), MessageIcon::Warning);
    restartGrossStream();
    emit activityChanged(isBusy());
}

void SettingsImageTransfer::restartGrossStream() {
    PacketMatcher& stream = link_.streamMatcher();
    stream.setEnabled(false);
    stream.setStartString("G");
    // Never from inside another transaction's wait: the matcher it borrows is that one's.
    link_.runWhenIdle([this] {
        link_.sendAndReceiveLive(link_.port().portNumber(), "SG", kGrossRestartLimitMs);
        link_.streamMatcher().setEnabled(true);
    });
}

void SettingsImageTransfer::putImageClicked() {
    if (isBusy())
        return;
    const QString path = op_.askOpenFileName(QStringLiteral("Put Image"), QString::fromLatin1(kFilter));
    if (path.isEmpty())
        return;
    path_ = path;
    // The real reason (a missing file, a folder) after the program's own words; a pipe is not waited on.
    QString reason;
    const std::optional<QByteArray> bytes = readRegularFile(path, SettingsImageFile::kSizeLimit + 1, &reason);
    if (!bytes) {
        op_.showMessage(QString::fromLatin1(kInUse) + QLatin1Char('\n') + path + QStringLiteral(": ") +
                        reason);
        return;
    }
    const SettingsImageFile::Text image = SettingsImageFile::join(*bytes);
    if (!image.problem.isEmpty()) {
        op_.showMessage(
            QStringLiteral("%1 is not a settings image: %2. Nothing was sent.").arg(path, image.problem),
            QString(), MessageIcon::Warning);
        return;
    }

    putting_ = true;
    emit activityChanged(true);
    // From the first byte to the last nothing else may reach the devices: they store what they hear.
    link_.setHeld(true);
    const auto done = qScopeGuard([this] {
        link_.setHeld(false);
        setProgress(0, progressMaximum_);
        putting_ = false;
        emit activityChanged(isBusy());
    });
    for (int line = 0; line < image.lines; ++line)
        waitMs(kLinePauseMs);

    log_.clear();
    status_.clear();
    emit logChanged(log_);
    const int from = addressNumber(from_);
    const int to = addressNumber(to_);
    for (int address = from; address <= to; ++address) {
        const bool ok = putToAddress(address, to != 0, image.text);
        status_ += QStringLiteral("Adr:%1 %2 -").arg(address).arg(ok ? "OK" : "Err");
        log_ << QStringLiteral("Adr:%1 %2").arg(address).arg(ok ? "Done" : "Error");
        emit logChanged(log_);
        op_.showInfoMessage(status_);
        // A lost port ends the run at the first address it failed: every address after it would only wait
        // out its time limits. (Lost just after an address was done, the next one is tried, fails at once
        // and says so, rather than the run ending on "Done".)
        if (!ok && !link_.port().isOpen())
            break;
    }
}

bool SettingsImageTransfer::putToAddress(int address, bool select, const QByteArray& text) {
    const int port = link_.port().portNumber();
    // The bar counts the characters to one device; each address starts it anew.
    setProgress(0, int(text.size()));
    if (select) {
        link_.sendAndReceive(port, "\r", kSelectLimitMs, Framing::startingWith("O"));
        link_.sendAndReceive(port, "OP" + QByteArray::number(address) + '\r', kOpenLimitMs,
                             Framing::startingWith("O"));
    }
    if (!link_.port().isOpen())
        return false;
    link_.writeRaw("PI\r");
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (!link_.port().isOpen())
            return false;
        if (text[i] == ':')
            waitMs(kRecordPauseMs);
        waitMs(kCharacterPauseMs);
        link_.writeRaw(QByteArray(1, text[i]));
        setProgress(int(i + 1), int(text.size()));
    }
    waitMs(kCharacterPauseMs);
    // The transaction empties the port before it sends: what went before must be out first.
    link_.drainOutput(kDrainLimitMs);
    const QByteArray reply =
        link_.sendAndReceive(port, text.right(1), kLastCharacterLimitMs, Framing::startingWith("O"));
    setProgress(int(text.size()), int(text.size()));
    return reply == "K";
}

} // namespace tarvo
