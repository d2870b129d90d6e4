#include "FirmwareUpgrade.h"

#include "FirmwareFile.h"
#include "base/Operator.h"
#include "link/CommandLink.h"
#include "link/PortSelection.h"
#include "link/SerialPort.h"

#include <QDir>
#include <QScopeGuard>

namespace tarvo {

namespace {

constexpr int kBootBaud = 9600;
constexpr int kDefaultsLimitMs = 1000;

// What the upgrade changes on the link for its duration, put back on every way out: the line is held,
// the boot monitor's bytes stay in the port for the dialogue (no matcher takes them), and the dialogue
// runs on the serial port whatever link is chosen.
class LineHold {
public:
    explicit LineHold(CommandLink& link)
        : link_(link), kind_(link.linkKind()), terminal_(link.terminalMode()),
          streamArmed_(link.streamMatcher().isArmed()), streamEnabled_(link.streamMatcher().isEnabled()) {
        link_.setHeld(true);
        if (terminal_)
            link_.setTerminalMode(false);
        link_.streamMatcher().disarm();
        link_.streamMatcher().setEnabled(false);
        link_.setLinkKind(Link::Com);
    }
    ~LineHold() {
        link_.setLinkKind(kind_);
        link_.streamMatcher().setEnabled(streamEnabled_);
        if (streamArmed_)
            link_.streamMatcher().arm();
        if (terminal_)
            link_.setTerminalMode(true);
        link_.setHeld(false);
    }
    LineHold(const LineHold&) = delete;
    LineHold& operator=(const LineHold&) = delete;

private:
    CommandLink& link_;
    Link kind_;
    bool terminal_;
    bool streamArmed_;
    bool streamEnabled_;
};

} // namespace

FirmwareUpgrade::FirmwareUpgrade(CommandLink& link, PortSelection& ports, Operator& op, Hooks hooks,
                                 QObject* parent)
    : QObject(parent), link_(link), ports_(ports), op_(op), hooks_(std::move(hooks)), dialogue_(link) {
    progressTimer_.setInterval(kProgressRefreshMs);
    connect(&progressTimer_, &QTimer::timeout, this, &FirmwareUpgrade::showProgress);
}

QString FirmwareUpgrade::defaultKernelPath() {
#ifdef Q_OS_WIN
    return QStringLiteral("c:\\");
#else
    return QDir::homePath();
#endif
}

void FirmwareUpgrade::setTestFixture(bool on) {
    if (testFixture_ == on)
        return;
    testFixture_ = on;
    emit testFixtureChanged(on);
}

void FirmwareUpgrade::showProgress() {
    shownCurrent_ = dialogue_.progressCurrent();
    shownTotal_ = dialogue_.progressTotal();
    emit progressShown(shownCurrent_, shownTotal_);
}

void FirmwareUpgrade::inform(const QString& text, bool dialog) {
    op_.showInfoMessage(text);
    if (dialog)
        op_.showMessage(text, QString(), MessageIcon::Information);
}

void FirmwareUpgrade::prompt(const QString& text) {
    if (hooks_.switchPrompt)
        hooks_.switchPrompt(text);
    else
        inform(text, true);
}

void FirmwareUpgrade::requestStop() {
    if (running_)
        dialogue_.requestStop();
}

const FirmwareFile* FirmwareUpgrade::programmableFirmware() {
    const FirmwareFile* firmware = hooks_.firmware ? hooks_.firmware() : nullptr;
    // A file that did not load whole, holds nothing, or holds data the pass cannot program would erase
    // the device and leave it without working firmware.
    if (firmware && firmware->softwareVersion() != 0 && firmware->loadSucceeded())
        return firmware;
    inform(QString::fromLatin1(kNotLoaded), true);
    if (firmware && firmware->status().code != FirmwareStatus::Code::NothingLoaded)
        op_.showMessage(
            QStringLiteral("%1: %2. Nothing was sent.").arg(firmware->path(), firmware->status().text()),
            QStringLiteral("Firmware File Error"), MessageIcon::Error);
    return nullptr;
}

void FirmwareUpgrade::upgradeFirmwareClicked() {
    if (running_)
        return;
    running_ = true;
    dialogue_.clearStop();
    outcome_ = Outcome::NotStarted;
    lastPass_ = {};
    lastPassWasFirmware_ = false;
    anythingSent_ = false;
    deviceErased_ = false;
    portLost_.clear();
    emit runningChanged(true);
    progressTimer_.start();
    bool pagesDisabled = false;
    // The link's own report of a lost port is overwritten by the pass's result: keep the cause.
    const QMetaObject::Connection lost =
        connect(&link_, &CommandLink::portLost, this, [this](int number, const QString& reason) {
            portLost_ = QStringLiteral("COM%1 not available: %2").arg(number).arg(reason);
        });
    const auto finish = qScopeGuard([&] {
        disconnect(lost);
        progressTimer_.stop();
        showProgress();
        if (pagesDisabled && hooks_.setPageControlEnabled)
            hooks_.setPageControlEnabled(true);
        dialogue_.clearStop();
        running_ = false;
        emit runningChanged(false);
    });

    const FirmwareFile* firmware = programmableFirmware();
    if (!firmware)
        return;
    // Without an open serial port nothing can reach the boot monitor, and the pass would blame the device
    // ("No response from MXR"): the port's own reason is said and nothing is asked or sent.
    if (!link_.port().isOpen() && !link_.openPort(true))
        return;
    if (!op_.askOkCancel(QString::fromLatin1(kDownloadQuestion) +
                         QString::number(firmware->softwareVersion()))) {
        inform(QString::fromLatin1(kCancelled));
        return;
    }
    // The version the operator said yes to is the one programmed, whatever is loaded while the passes run.
    const QByteArray image = firmware->image().first(BootloaderDialogue::kImageSize).toByteArray();
    // Only now: a refused or cancelled upgrade sends nothing and must leave the link at the rate the
    // running firmware talks at, or every later command goes unanswered.
    ports_.baudClicked(kBootBaud);
    if (!testFixture_)
        prompt(QString::fromLatin1(kSolderSwitch));
    if (hooks_.setPageControlEnabled)
        hooks_.setPageControlEnabled(false);
    pagesDisabled = true;
    if (dialogue_.stopRequested()) {
        outcome_ = Outcome::Interrupted;
        return;
    }
    if (!readKernel())
        return;

    const LineHold hold(link_);
    // Only a whole, clean kernel gets here; its pass's result is not shown.
    runPass(kernel_.buffer(), false);
    if (lastPass_.state == BootloaderDialogue::State::Interrupted) {
        outcome_ = Outcome::Interrupted;
        return;
    }
    inform(QString::fromLatin1(kInProgress));
    runPass(image, true);
    lastPassWasFirmware_ = true;
    state_ = int(lastPass_.state);
    if (lastPass_.state == BootloaderDialogue::State::Interrupted) {
        outcome_ = Outcome::Interrupted;
        return;
    }
    inform(portLost_.isEmpty() ? lastPass_.text : portLost_ + QStringLiteral(" - ") + lastPass_.text);
    if (lastPass_.state != BootloaderDialogue::State::Done) {
        outcome_ = Outcome::PassFailed;
        return;
    }
    // A stop asked for during the last record or at the prompt: the factory defaults reset every
    // setting of the device, and are not loaded against the operator's word.
    if (!dialogue_.stopRequested() && !testFixture_)
        prompt(QString::fromLatin1(kUnsolderSwitch));
    if (dialogue_.stopRequested()) {
        outcome_ = Outcome::Interrupted;
        return;
    }
    const bool loaded = loadDefaults();
    outcome_ = loaded ? Outcome::DefaultsLoaded : Outcome::DefaultsNotLoaded;
    inform(QString::fromLatin1(loaded ? kDefaultsLoaded : kDefaultsNotLoaded));
}

void FirmwareUpgrade::runPass(QByteArrayView image, bool secondPass) {
    lastPass_ = dialogue_.runPass(kernel_.kernel(), image, secondPass);
    anythingSent_ = anythingSent_ || lastPass_.sent;
    deviceErased_ = deviceErased_ || lastPass_.erased;
}

bool FirmwareUpgrade::readKernel() {
    const QString stored = hooks_.storedKernelPath ? hooks_.storedKernelPath() : defaultKernelPath();
    QString path = kernelOverride_.isEmpty() ? stored : kernelOverride_;
    kernel_.read(path);
    while (!kernel_.usable()) {
        // A file that opens but is no whole, clean kernel: say which file and why before asking again.
        if (kernel_.state() != KernelFile::State::OpenFailed)
            op_.showMessage(QString::fromLatin1(kKernelNotHex) +
                                QStringLiteral("\n%1: %2. Nothing was sent.").arg(path, kernel_.problem()),
                            QString::fromLatin1(kKernelErrorCaption), MessageIcon::Error);
        path = op_.askOpenFileName(QStringLiteral("Prog41.a20"),
                                   QStringLiteral("Programming kernel (*.a20)|*.a20|All files (*)|*"));
        if (path.isEmpty()) {
            op_.showMessage(QString::fromLatin1(kKernelNotPossible), QString::fromLatin1(kKernelErrorCaption),
                            MessageIcon::Error);
            return false;
        }
        kernel_.read(path);
        // Only a kernel that reads replaces the stored path; an override is this run's alone.
        if (kernel_.usable() && kernelOverride_.isEmpty() && hooks_.storeKernelPath)
            hooks_.storeKernelPath(path);
    }
    return true;
}

bool FirmwareUpgrade::loadDefaults() {
    const int port = link_.port().portNumber();
    const QByteArray code = link_.sendAndReceive(port, "CE\r", kDefaultsLimitMs, Framing::startingWith("E+"));
    if (code == kTimeOutErr)
        return false;
    if (link_.sendAndReceive(port, "CE" + code + '\r', kDefaultsLimitMs, Framing::startingWith("O")) != "K")
        return false;
    return link_.sendAndReceive(port, "FD\r", kDefaultsLimitMs, Framing::startingWith("O")) == "K";
}

} // namespace tarvo
