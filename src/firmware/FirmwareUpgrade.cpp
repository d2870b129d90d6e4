#include "FirmwareUpgrade.h"

#include "FirmwareFile.h"
#include "base/Operator.h"
#include "link/CommandLink.h"
#include "link/PortSelection.h"
#include "link/SerialPort.h"

#include <QDir>
#include <QScopeGuard>
#include <algorithm>

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

void FirmwareUpgrade::upgradeFirmwareClicked() {
    if (running_)
        return;
    running_ = true;
    outcome_ = Outcome::NotStarted;
    emit runningChanged(true);
    progressTimer_.start();
    bool pagesDisabled = false;
    const auto finish = qScopeGuard([&] {
        progressTimer_.stop();
        showProgress();
        if (pagesDisabled && hooks_.setPageControlEnabled)
            hooks_.setPageControlEnabled(true);
        running_ = false;
        emit runningChanged(false);
    });

    ports_.baudClicked(kBootBaud);
    const FirmwareFile* firmware = hooks_.firmware ? hooks_.firmware() : nullptr;
    // A file that did not load whole leaves a partial image (or the untouched all-0xFF one) behind:
    // programming that would erase the device and leave it without working firmware.
    if (!firmware || firmware->softwareVersion() == 0 || !firmware->loadSucceeded()) {
        inform(QString::fromLatin1(kNotLoaded), true);
        return;
    }
    if (!op_.askOkCancel(QString::fromLatin1(kDownloadQuestion) +
                         QString::number(firmware->softwareVersion()))) {
        inform(QString::fromLatin1(kCancelled));
        return;
    }
    if (!testFixture_)
        prompt(QString::fromLatin1(kSolderSwitch));
    if (hooks_.setPageControlEnabled)
        hooks_.setPageControlEnabled(false);
    pagesDisabled = true;
    if (!readKernel())
        return;

    const LineHold hold(link_);
    // A kernel file with broken records is not programmed; its data still serve as the kernel.
    if (kernel_.state() == KernelFile::State::Ok)
        dialogue_.runPass(kernel_.kernel(), kernel_.buffer(), false, KernelFile::kBufferSize);
    inform(QString::fromLatin1(kInProgress));
    const qint64 total = std::max(0, int(firmware->memEnd()) - int(firmware->memStart()));
    const BootloaderDialogue::Result result = dialogue_.runPass(
        kernel_.kernel(), firmware->image().first(BootloaderDialogue::kImageSize), true, total);
    state_ = int(result.state);
    inform(result.text);
    if (result.state != BootloaderDialogue::State::Done) {
        outcome_ = Outcome::PassFailed;
        return;
    }
    if (!testFixture_)
        prompt(QString::fromLatin1(kUnsolderSwitch));
    const bool loaded = loadDefaults();
    outcome_ = loaded ? Outcome::DefaultsLoaded : Outcome::DefaultsNotLoaded;
    inform(QString::fromLatin1(loaded ? kDefaultsLoaded : kDefaultsNotLoaded));
}

bool FirmwareUpgrade::readKernel() {
    const QString stored = hooks_.storedKernelPath ? hooks_.storedKernelPath() : defaultKernelPath();
    kernel_.read(kernelOverride_.isEmpty() ? stored : kernelOverride_);
    while (!kernel_.usable()) {
        if (kernel_.state() != KernelFile::State::OpenFailed)
            op_.showMessage(QString::fromLatin1(kKernelNotHex), QString::fromLatin1(kKernelErrorCaption),
                            MessageIcon::Error);
        const QString chosen = op_.askOpenFileName(
            QStringLiteral("Prog41.a20"), QStringLiteral("Programming kernel (*.a20)|*.a20|All files (*)|*"));
        if (chosen.isEmpty()) {
            op_.showMessage(QString::fromLatin1(kKernelNotPossible), QString::fromLatin1(kKernelErrorCaption),
                            MessageIcon::Error);
            return false;
        }
        kernel_.read(chosen);
        // Only a kernel that reads replaces the stored path; an override is this run's alone.
        if (kernel_.usable() && kernelOverride_.isEmpty() && hooks_.storeKernelPath)
            hooks_.storeKernelPath(chosen);
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
