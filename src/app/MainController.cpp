#include "MainController.h"

#include "base/EventWait.h"
#include "base/ReplacingFile.h"
#include "base/TimeScale.h"
#include "link/BusModule.h"
#include "link/PortAccess.h"
#include "link/SerialPort.h"
#include "protocol/CommandTable.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>
#include <SimpleIni.h>
#include <algorithm>
#include <pwd.h>
#include <unistd.h>

namespace tarvo {

namespace {
// The maker's update server has no fixed address: "Tarvo.ini" names it (section Updates, key Location).
constexpr int kLatestVersionTimeLimitMs = 5000;
} // namespace

class MainController::ClosingOperator final : public Operator {
public:
    explicit ClosingOperator(Operator& op) : op_(op) {}
    void close() { closed_ = true; }

    void showInfoMessage(const QString& text) override {
        if (!closed_)
            op_.showInfoMessage(text);
    }
    void showInfoLine(Page page, const QString& text) override {
        if (!closed_)
            op_.showInfoLine(page, text);
    }
    void showMessage(const QString& text, const QString& caption, MessageIcon icon) override {
        if (!closed_)
            op_.showMessage(text, caption, icon);
    }
    bool askYesNo(const QString& text, const QString& caption) override {
        return !closed_ && op_.askYesNo(text, caption);
    }
    bool askOkCancel(const QString& text, const QString& caption) override {
        return !closed_ && op_.askOkCancel(text, caption);
    }
    QString askOpenFileName(const QString& caption, const QString& filter) override {
        return closed_ ? QString() : op_.askOpenFileName(caption, filter);
    }
    QString askSaveFileName(const QString& defaultSuffix, const QString& filter) override {
        return closed_ ? QString() : op_.askSaveFileName(defaultSuffix, filter);
    }
    std::optional<Rgb> askColour(Rgb current) override {
        return closed_ ? std::nullopt : op_.askColour(current);
    }
    QString askValue(const QString& caption, const QString& range, const QString& units) override {
        return closed_ ? QString() : op_.askValue(caption, range, units);
    }

private:
    Operator& op_;
    bool closed_ = false;
};

class MainController::ClosingPort final : public SerialPort {
public:
    explicit ClosingPort(std::unique_ptr<SerialPort> port) : port_(std::move(port)) {
        connect(port_.get(), &SerialPort::readyRead, this, &SerialPort::readyRead);
        connect(port_.get(), &SerialPort::lost, this, &SerialPort::lost);
    }
    // The port is closed for good: it opens no more and sends nothing.
    void seal() {
        sealed_ = true;
        port_->close();
    }

    void setPortNumber(int number) override { port_->setPortNumber(number); }
    int portNumber() const override { return port_->portNumber(); }
    void setBaudRate(qint32 baud) override {
        if (!sealed_)
            port_->setBaudRate(baud);
    }
    qint32 baudRate() const override { return port_->baudRate(); }
    void setDataBits(int bits) override { port_->setDataBits(bits); }
    void setParity(int parity) override { port_->setParity(parity); }
    bool open(QString* error) override {
        if (!sealed_)
            return port_->open(error);
        if (error)
            *error = QStringLiteral("the program is closing");
        return false;
    }
    void close() override { port_->close(); }
    bool isOpen() const override { return !sealed_ && port_->isOpen(); }
    void clearInput() override { port_->clearInput(); }
    void clearOutput() override { port_->clearOutput(); }
    bool write(const QByteArray& bytes) override { return !sealed_ && port_->write(bytes); }
    qint64 bytesAvailable() const override { return port_->bytesAvailable(); }
    QByteArray readAll() override { return port_->readAll(); }
    bool readByte(char* byte) override { return port_->readByte(byte); }
    bool drainOutput(int timeLimitMs) override { return !sealed_ && port_->drainOutput(timeLimitMs); }
    bool waitForReadyRead(int ms) override { return !sealed_ && port_->waitForReadyRead(ms); }
    void setDtr(bool on) override {
        if (!sealed_)
            port_->setDtr(on);
    }

private:
    std::unique_ptr<SerialPort> port_;
    bool sealed_ = false;
};

MainController::MainController(Operator& op, std::unique_ptr<SerialPort> port, QString settingsPath,
                               QObject* parent)
    : QObject(parent), closingOp_(std::make_unique<ClosingOperator>(op)), op_(*closingOp_),
      closingPort_(new ClosingPort(std::move(port))), settingsPath_(std::move(settingsPath)),
      link_(std::make_unique<CommandLink>(std::unique_ptr<SerialPort>(closingPort_), op_)),
      ports_(std::make_unique<PortSelection>(*link_)), readout_(std::make_unique<LiveReadout>()),
      discovery_(std::make_unique<Discovery>(*link_, *ports_, op_)),
      deviceSetup_(std::make_unique<DeviceSetup>(*link_, *ports_, *discovery_, op_)) {
    discovery_->setStreamCommand([this] { return readout_->streamCommand(); });
    connect(discovery_.get(), &Discovery::familyTabRequested, this, &MainController::setFamilyTabVisible);
    connect(discovery_.get(), &Discovery::deviceFound, this, [this](bool streamStarted) {
        // The device is back (after an unplug, or found anew): the lamp leaves its error state and the
        // readout follows the stream that the search started.
        acquisition_->deviceFound();
        if (streamStarted && !acquisition_->runDown() && !acquisition_->triggerDown())
            link_->streamMatcher().setStartString(readout_->streamStart());
        if (readout_->text() == QLatin1String(LiveReadout::kNoInput))
            readout_->setText(QString());
    });
    connect(deviceSetup_.get(), &DeviceSetup::pageControlEnabledRequested, this,
            &MainController::setPageControlEnabled);
    createCanBridge();
    createMeasuring();
    createConsole();
    createConfiguration();
    createCalibrationAndAveraging();
    createFirmware();
    connect(link_.get(), &CommandLink::portLost, this, [this](int number, const QString& reason) {
        // An unplugged adapter: say so plainly. The port stays closed but keeps its place in the search,
        // so Find Device opens it again once the adapter is back.
        inform(QStringLiteral("COM%1 not available: %2").arg(number).arg(reason));
        acquisition_->linkLost();
    });
}

MainController::~MainController() {
    link_->setCanExchange(nullptr);
}

void MainController::createCanBridge() {
    // The one bridge of the program: its adapter is the plugin and interface "Tarvo.ini" names.
    canAdapter_ = std::make_unique<CanAdapter>(CanAdapterPlace::fromSettings(settingsPath_));
    canBridge_ = std::make_unique<CanBridge>(*canAdapter_, op_);
    link_->setCanExchange(canBridge_.get());
    // The selector's device address reaches the bridge when it changes; in between "OP" lines may set
    // another one.
    connect(ports_.get(), &PortSelection::changed, this, [this, chosenAddress = 0]() mutable {
        if (!canBridge_)
            return;
        canBridge_->setNodeId(ports_->canNodePosition() + 1);
        canBridge_->setSpeedPosition(ports_->canSpeedPosition());
        if (ports_->canDeviceAddress() != chosenAddress) {
            chosenAddress = ports_->canDeviceAddress();
            canBridge_->setDeviceAddress(chosenAddress);
        }
    });
    connect(ports_.get(), &PortSelection::canSpeedChanged, this, [this](int position) {
        if (canBridge_)
            canBridge_->speedChosen(position);
    });
    connect(ports_.get(), &PortSelection::canErrorReportingChanged, this, [this](bool on) {
        if (canBridge_)
            canBridge_->setErrorReporting(on);
    });
    // A recording over the bus ends as one over a lost serial port does (the bridge has said why).
    connect(canBridge_.get(), &CanBridge::adapterLost, this, [this] {
        if (acquisition_ && ports_->canChosen())
            acquisition_->linkLost();
    });
}

void MainController::canLineReceived(QByteArrayView line) {
    if (!line.endsWith('\r'))
        return;
    // The decoders take a P packet's seven bytes without its "P" and "\r", as the serial matcher frames
    // them, and take a value line only while a value stream is expected.
    const bool packetExpected = link_->streamMatcher().startString() == "P";
    const bool packet = line.size() == 9 && line.front() == 'P';
    if (canStreamSink_) {
        if (packet)
            canStreamSink_(line.sliced(1, 7));
        else if (line.size() > 2 && line.front() >= 'A' && line.front() <= 'Z')
            canStreamSink_(line.sliced(1, line.size() - 2));
        return;
    }
    // Every framed line tells the silence watch, as the serial stream's packets do.
    if (packetExpected && packet) {
        silenceWatch_->packetArrived();
        streamDispatcher_->dispatch(line.sliced(1, 7));
    } else if (!packetExpected && !packet) {
        silenceWatch_->packetArrived();
        streamDispatcher_->dispatch(line);
    }
}

void MainController::createMeasuring() {
    recordings_ = std::make_unique<RecordingMemory>();
    graph_ = std::make_unique<GraphModel>();
    dataFiles_ = std::make_unique<DataFiles>(op_, *recordings_);
    MeasureHooks hooks;
    hooks.openTriggerLogs = [this] { dataFiles_->openTriggerLogs(); };
    hooks.closeAverageLog = [this] { dataFiles_->closeAverageLog(); };
    hooks.findDevice = [this] { discovery_->findDevice(); };
    hooks.deviceIdentity = [this] { return discovery_->deviceIdentity(); };
    hooks.setPageControlEnabled = [this](bool on) { setPageControlEnabled(on); };
    // The process channel opens the CAN interface, so it starts only while the CAN bus is the link.
    hooks.canProcessChannel = [this](bool on) {
        if (!canBridge_)
            return;
        // A page switched while another exchange waits still starts or stops the channel, just later.
        if (!on)
            link_->runExclusive([this] { canBridge_->stopProcessChannel(); }, CommandLink::WhenBusy::Queue);
        else if (ports_->canChosen())
            link_->runExclusive([this] { canBridge_->startProcessChannel(); }, CommandLink::WhenBusy::Queue);
    };
    // The no-port rule is the start-up probe's: a port lost later (an adapter pulled out) is reported
    // where it happens and the program stays, so the adapter can be plugged in again.
    hooks.anySerialPort = [this] {
        // A PC that reaches its device over the CAN bus needs no serial port.
        return ports_->canChosen() || std::find(probed_.begin(), probed_.end(), true) != probed_.end();
    };
    hooks.noSerialPort = [this] {
        inform(noComPortsText(), true);
        emit closeRequested();
    };
    acquisition_ = std::make_unique<Acquisition>(*link_, op_, *readout_, *recordings_, *graph_, hooks);
    displayStream_ = std::make_unique<DisplayStream>(*link_, op_, *readout_, *acquisition_, hooks);
    streamDispatcher_ = std::make_unique<StreamDispatcher>(*link_, op_, *readout_, *recordings_, *graph_,
                                                           *acquisition_, hooks.deviceIdentity);
    silenceWatch_ = std::make_unique<SilenceWatch>(*link_, op_, *acquisition_);
    link_->setStreamSink([this](QByteArrayView packet) {
        silenceWatch_->packetArrived();
        streamDispatcher_->dispatch(packet);
    });
    dosingMonitor_ = std::make_unique<DosingMonitor>(*link_, *dataFiles_);
    connect(streamDispatcher_.get(), &StreamDispatcher::valueDisplayPacket, dosingMonitor_.get(),
            &DosingMonitor::valueDisplayPacket);
    connect(acquisition_.get(), &Acquisition::averageReadDue, dosingMonitor_.get(),
            &DosingMonitor::readAverage);
    connect(acquisition_.get(), &Acquisition::dosedReadDue, dosingMonitor_.get(),
            &DosingMonitor::readDosedValue);
    scopeControls_ = std::make_unique<ScopeControls>(*graph_, *recordings_, *acquisition_, op_);
    // The data files carry the graph name the scope shows; the operator's graph options and separator go
    // to the settings as they are changed.
    connect(scopeControls_.get(), &ScopeControls::changed, this, [this] {
        dataFiles_->setGraphName(scopeControls_->graphName());
        pageSettings_.graphName = scopeControls_->graphName();
        pageSettings_.units = scopeControls_->units();
    });
    connect(dataFiles_.get(), &DataFiles::changed, this,
            [this] { pageSettings_.setFileSeparator(dataFiles_->separator()); });
}

void MainController::createConsole() {
    commandLog_ = std::make_unique<CommandLog>();
    terminal_ = std::make_unique<Terminal>(*link_, *discovery_, op_);
    connect(terminal_.get(), &Terminal::pageControlEnabledRequested, this,
            &MainController::setPageControlEnabled);
    multiCommandSender_ = std::make_unique<MultiCommandSender>(*link_, *commandLog_);
    CommandPanel::Hooks hooks;
    hooks.setPageControlEnabled = [this](bool on) { setPageControlEnabled(on); };
    hooks.stopSending = [this] { multiCommandSender_->stopLoop(); };
    hooks.senderBusy = [this] { return multiCommandSender_->isSending(); };
    hooks.stopProgressTimer = [this] { firmwareUpgrade_->stopProgressTimer(); };
    hooks.commandFile = [this] { return commandFilePath(settingsPath_); };
    commandPanel_ = std::make_unique<CommandPanel>(*link_, *discovery_, op_, *commandLog_, hooks);
}

QString MainController::dataFolder() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + '/' +
                           QString::fromUtf8(TARVO_DATADIR_FROM_BINDIR));
}

QString MainController::commandFilePath(const QString& settingsPath) {
    const QString own = QFileInfo(settingsPath).absolutePath() + "/Tarvocommand.ini";
    // The operator's own, a link to a share not mounted now included: its read then says why it failed,
    // rather than the installed sample's commands being sent in its place.
    if (QFileInfo::exists(own) || QFileInfo(own).isSymLink())
        return own;
    return dataFolder() + "/Tarvocommand.ini";
}

void MainController::createConfiguration() {
    ConfigHooks hooks;
    hooks.deviceIdentity = [this] { return discovery_->deviceIdentity(); };
    hooks.firmwareVersion = [this] { return discovery_->firmwareVersion(); };
    hooks.setPageControlEnabled = [this](bool on) { setPageControlEnabled(on); };
    hooks.portBaud = [this] { return int(link_->port().baudRate()); };
    hooks.comNumber = [this] { return link_->port().portNumber(); };
    mxr41Filter_ = std::make_unique<FilterSettings>(Page::Mxr41, *link_, op_, hooks);
    tcw43Filter_ = std::make_unique<FilterSettings>(Page::Tcw43, *link_, op_, hooks);
    trackBarFilter_ = std::make_unique<TrackBarFilter>(*link_, op_, hooks);
    checkWeigher_ = std::make_unique<CheckWeigherParameters>(*link_, op_, hooks);
    dosingParameters_ = std::make_unique<DosingParameters>(*link_, op_, hooks);
    setupTransfer_ = std::make_unique<SetupTransfer>(*checkWeigher_, *dosingParameters_, op_, hooks);
    familyPages_ = std::make_unique<FamilyPages>(*link_, *ports_, op_, *mxr41Filter_, *tcw43Filter_,
                                                 *trackBarFilter_, *checkWeigher_, hooks);
}

void MainController::createCalibrationAndAveraging() {
    CalibrationHooks calibration;
    calibration.setPageControlEnabled = [this](bool on) { setPageControlEnabled(on); };
    calibration.unitsText = [this] { return scopeControls_->units(); };
    calibrationWizard_ = std::make_unique<CalibrationWizard>(*link_, *discovery_, op_, calibration);
    AveragingHooks averaging;
    averaging.setPageControlEnabled = [this](bool on) { setPageControlEnabled(on); };
    averaging_ = std::make_unique<AverageAcquisition>(*link_, *checkWeigher_, *dataFiles_, *dosingMonitor_,
                                                      *readout_, *streamDispatcher_, op_, averaging);
    dosingMonitor_->averageAcquisitionRunning = [this] { return averaging_->running(); };
}

void MainController::createFirmware() {
    FirmwareUpgrade::Hooks hooks;
    hooks.firmware = [this]() -> const FirmwareFile* { return firmware_.get(); };
    hooks.storedKernelPath = [this] {
        return SettingsStore::readKernelPath(settingsPath_, FirmwareUpgrade::defaultKernelPath());
    };
    hooks.storeKernelPath = [this](const QString& path) {
        if (!settingsWritable_ || settingsUnreadable_)
            return;
        if (const QString reason = SettingsStore::writeKernelPath(settingsPath_, path); !reason.isEmpty())
            reportSettingsNotSaved(reason);
    };
    hooks.setPageControlEnabled = [this](bool on) { setPageControlEnabled(on); };
    firmwareUpgrade_ = std::make_unique<FirmwareUpgrade>(*link_, *ports_, op_, hooks);
    connect(discovery_.get(), &Discovery::firmwareProgrammingStateChanged, firmwareUpgrade_.get(),
            &FirmwareUpgrade::setState);
    settingsImages_ = std::make_unique<SettingsImageTransfer>(*link_, op_);
    connect(streamDispatcher_.get(), &StreamDispatcher::settingsImageLine, settingsImages_.get(),
            &SettingsImageTransfer::imageLine);
}

QString MainController::defaultSettingsPath() {
    // Without HOME and XDG_CONFIG_HOME (a service, "env -i") the usual place would be "/.config" at the
    // file system's root: the user's home from the password database stands in.
    if (qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME") && qEnvironmentVariableIsEmpty("HOME")) {
        if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir && *user->pw_dir)
            return QFile::decodeName(user->pw_dir) + "/.config/Tarvo/Tarvo.ini";
    }
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/Tarvo/Tarvo.ini";
}

ComPortMap MainController::resolveComPorts(const QString& settingsPath) {
    return ComPortMap::resolve(ComPortMap::readConfigured(settingsPath), ComPortMap::systemPorts());
}

void MainController::start() {
    startWithoutPorts();
    startPorts();
}

void MainController::startWithoutPorts() {
    step("bind CAN bridge stream to the stream decoder");
    canBridge_->setLineCallback([this](QByteArrayView line) { canLineReceived(line); });
    step("fill CAN address and speed lists");
    ports_->setCanNodePosition(0);
    ports_->setCanSpeedPosition(kDefaultCanBitRate);
    step("CAN device address 0");
    ports_->setCanDeviceAddress(0);
    canBridge_->setDeviceAddress(0);
    step("Display page active");
    activePage_ = Page::Display;
    step("firmware loader created");
    if (!firmware_)
        firmware_ = std::make_unique<FirmwareFile>(op_);
    step("accept dropped files");
    acceptDrops_ = true;
    step("graph slot 1, command buttons cleared");
    acquisition_->setSelectedSlot(1);
    commandButtons_.assign(kCommandButtonSlots, QString());
    step("readSettings");
    readSettings();
    step("scope unit label");
    graph_->setUnitLabel(pageSettings_.units);
    step("graph lines and recorded flags");
    for (int slot = 1; slot <= kGraphSlots; ++slot)
        graph_->clearSeries(slot);
    recordings_->clearRecordedFlags();
    step("scope caption");
    graph_->setCaption(pageSettings_.graphName);
    step("status lamp on");
    step("hide family tabs");
    for (int i = 0; i < kFamilyPages; ++i)
        setFamilyTabVisible(static_cast<FamilyPage>(i), false);
    step("page control enabled");
    setPageControlEnabled(true);
}

void MainController::startPorts() {
    // A second call, or one after the end (a window closed before it was on screen), has nothing to do.
    if (portsStarted_ || destroyed_)
        return;
    portsStarted_ = true;
    step("initialise");
    link_->initialise();
    step("DTR off");
    link_->port().setDtr(false);
    step("probe COM8..COM1");
    probeComPorts();
    step("port settings applied");
    SettingsStore::applyPortSettings(portSettings_, {*link_, *ports_, *readout_, *discovery_, pageSettings_});
}

void MainController::probeComPorts() {
    portsInUse_.clear();
    for (int com = ComPortMap::kCount; com >= 1; --com) {
        link_->port().setPortNumber(com);
        if (link_->port().isOpen())
            link_->port().close();
        QString reason;
        probed_[com - 1] = link_->port().open(&reason);
        ports_->setPortAvailable(com, probed_[com - 1]);
        // Said with the no-port message: a port another program holds is there, only taken.
        if (!probed_[com - 1] && reason.startsWith(QLatin1String(PortAccess::kInUse)))
            portsInUse_.prepend(QStringLiteral("COM%1: %2").arg(com).arg(reason));
    }
}

QString MainController::noComPortsText() const {
    QString text = QString::fromLatin1(kNoComPorts);
    for (const QString& inUse : portsInUse_)
        text += QLatin1Char('\n') + inUse;
    return text;
}

void MainController::readSettings() {
    QStringList cut;
    const QString unreadable = SettingsStore::readSettings(
        settingsPath_, {*link_, *ports_, *readout_, *discovery_, pageSettings_}, portSettings_, &cut);
    if (!cut.isEmpty())
        op_.showMessage(
            QStringLiteral("Settings: %1 longer than %2 characters in %3; only the first %2 are used")
                .arg(cut.join(QStringLiteral(", ")))
                .arg(SettingsStore::kMaxTextLength)
                .arg(QDir::toNativeSeparators(settingsPath_)),
            QString(), MessageIcon::Information);
    if (!unreadable.isEmpty()) {
        // Writing the defaults at the end would destroy what the file holds.
        settingsUnreadable_ = true;
        op_.showMessage(QStringLiteral("Settings could not be read: %1: %2; they will not be saved")
                            .arg(QDir::toNativeSeparators(settingsPath_), unreadable),
                        QString(), MessageIcon::Warning);
    }
    // The sample options and the scope's range live in their subsystems from here on.
    const PageSettings& p = pageSettings_;
    acquisition_->options().restoreSampleOptions(p.triggerLevel, p.sampleTime);
    const qsizetype wait = SampleOptions::waitForTriggerTexts().indexOf(p.waitForTrigger);
    acquisition_->options().setWaitForTrigger(wait >= 0 ? static_cast<int>(wait) : 0);
    const qsizetype every = SampleOptions::useEveryTexts().indexOf(p.useEverySample);
    acquisition_->options().setUseEvery(every >= 0 ? static_cast<int>(every) : 1);
    acquisition_->options().setLongTermSampleEnable(p.longTermSampleEnable);
    acquisition_->options().setUseStatusInformation(p.useStatusInformation);
    graph_->setValueWindow(p.worldBottom, p.worldTop);
    scopeControls_->restore(p.graphName, p.units, p.worldTop, p.worldBottom);
    dataFiles_->restoreSeparator(p.fileSeparator);
    multiCommandSender_->setLine(p.multiCommandString);
    multiCommandSender_->setLoopDelay(p.loopTime);
}

void MainController::collectPageSettings() {
    PageSettings& p = pageSettings_;
    p.triggerLevel = acquisition_->options().triggerLevelText();
    p.sampleTime = acquisition_->options().sampleTimeText();
    p.waitForTrigger = SampleOptions::waitForTriggerTexts().value(acquisition_->options().waitForTrigger());
    p.useEverySample = SampleOptions::useEveryTexts().value(acquisition_->options().useEvery());
    p.longTermSampleEnable = acquisition_->options().longTermSampleEnable();
    p.useStatusInformation = acquisition_->options().useStatusInformation();
    p.worldTop = graph_->top();
    p.worldBottom = graph_->bottom();
    p.multiCommandString = multiCommandSender_->line();
    p.loopTime = multiCommandSender_->loopDelay();
}

void MainController::writeSettings() {
    collectPageSettings();
    const QString reason = SettingsStore::writeSettings(
        settingsPath_, {*link_, *ports_, *readout_, *discovery_, pageSettings_}, portsStarted_);
    // Closing goes on: the old file is untouched, and the operator knows the changes are lost.
    if (!reason.isEmpty())
        reportSettingsNotSaved(reason);
}

void MainController::reportSettingsNotSaved(const QString& reason) {
    op_.showMessage(
        QStringLiteral("Settings not saved: %1: %2").arg(QDir::toNativeSeparators(settingsPath_), reason),
        QString(), MessageIcon::Error);
}

void MainController::shutdown() {
    if (destroyed_)
        return;
    destroyed_ = true;
    // A recording ends as STOP ends it: the device goes back to its gross stream.
    if (acquisition_->runDown() || acquisition_->triggerDown())
        acquisition_->stopClicked();
    step("free CAN bridge");
    link_->setCanExchange(nullptr);
    canBridge_->close();
    step("writeSettings");
    if (settingsWritable_ && !settingsUnreadable_)
        writeSettings();
    step("stream matcher disarmed, terminal disabled");
    link_->streamMatcher().disarm();
    link_->streamMatcher().setAutoEnable(false);
    multiCommandSender_->stopLoop();
    terminal_->terminalPageHidden();
    step("serial port freed");
    link_->port().close();
    step("scope cleared: no scope");
    step("averaging log closed");
    averaging_->shutdown();
    // Whatever still waits on the operator (a question open when the close came) ends without a box, a
    // question or a byte to the device.
    closingPort_->seal();
    closingOp_->close();
}

void MainController::displayPageShown() {
    displayStream_->displayPageShown();
}

void MainController::displayPageHidden() {
    displayStream_->displayPageHidden();
}

void MainController::optionsPageShown() {
    setPageControlEnabled(false);
    inform(QString());
    link_->port().write("ID\r"); // straight to the serial port, whichever link is chosen
    waitMs(500, false);
    setPageControlEnabled(true);
}

void MainController::familyPageShown(FamilyPage page) {
    familyPages_->pageShown(page);
}

void MainController::familyPageHidden(FamilyPage page) {
    familyPages_->pageHidden(page);
    averaging_->pageHidden(page);
}

void MainController::loadFirmwareClicked() {
    const QString path = op_.askOpenFileName(QStringLiteral("Load Firmware (*.qmf)"),
                                             QStringLiteral("Firmware file (*.qmf)|*.qmf|All files (*)|*"));
    if (path.isEmpty() || !firmware_)
        return;
    firmware_->load(path);
    emit firmwareLoaded();
}

void MainController::filesDropped(const QStringList& paths) {
    if (firmwareUpgrade_ && firmwareUpgrade_->isRunning()) {
        // A box here would hold the boot monitor's dialogue until it is closed.
        for (const QString& path : paths)
            op_.showInfoMessage(QStringLiteral("%1 was not loaded: a firmware upgrade is running").arg(path));
        return;
    }
    for (const QString& path : paths) {
        emit firmwareFileDropped(path);
        if (firmware_) {
            firmware_->load(path);
            emit firmwareLoaded();
        }
    }
}

QString MainController::readLatestVersion(const QString& location, int timeLimitMs) {
    const QString notAvailable = QStringLiteral("Not available");
    BusModule* bus = BusModule::load(nullptr);
    const QByteArray body = bus ? bus->fetch(location, timeLimitMs) : QByteArray();
    if (body.isEmpty())
        return notAvailable;
    CSimpleIniA ini;
    if (ini.LoadData(body.constData(), static_cast<size_t>(body.size())) < 0)
        return notAvailable;
    return QString::fromUtf8(ini.GetValue("LatestVersion", "Version", "Not available"));
}

void MainController::latestVersionClicked() {
    QString location;
    CSimpleIniA ini;
    const std::optional<QByteArray> text = readRegularFile(settingsPath_, kMaxSettingsFileBytes, nullptr);
    if (text && ini.LoadData(text->constData(), static_cast<size_t>(text->size())) >= 0) {
        const char* configured = ini.GetValue("Updates", "Location", nullptr);
        if (configured && *configured)
            location = QString::fromUtf8(configured);
    }
    // Without a location there is nothing to ask: saying so tells the user what to set, where "Not
    // available" would blame a server that was never named.
    latestVersionCaption_ = location.isEmpty() ? QString::fromLatin1(kNoUpdateLocation)
                                               : readLatestVersion(location, kLatestVersionTimeLimitMs);
    emit latestVersionChanged(latestVersionCaption_);
}

void MainController::pause(int ms) {
    waitMs(ms);
}

QByteArray MainController::transact(const QByteArray& line, const QByteArray& start, int timeLimitMs) {
    return link_->sendAndReceive(link_->port().portNumber(), line, timeLimitMs, Framing::startingWith(start));
}

QByteArray MainController::queryValue(const QByteArray& name, const QByteArray& start) {
    const QByteArray reply = transact(name + '\r', start, 100);
    return reply == kTimeOutErr ? QByteArray("N/A") : reply;
}

QByteArray MainController::queryAnyValue(const QByteArray& name) {
    const QByteArray reply =
        link_->sendAndReceive(link_->port().portNumber(), name + '\r', 100, Framing::anyData());
    return reply == kTimeOutErr ? QByteArray("N/A") : reply;
}

void MainController::inform(const QString& text, bool showDialog) {
    op_.showInfoMessage(text);
    if (showDialog)
        op_.showMessage(text, QString(), MessageIcon::Information);
}

void MainController::setPageControlEnabled(bool on) {
    if (pageControlEnabled_ == on)
        return;
    pageControlEnabled_ = on;
    emit pageControlEnabledChanged(on);
}

void MainController::setFamilyTabVisible(FamilyPage page, bool visible) {
    bool& tab = familyTabs_[static_cast<int>(page)];
    if (tab == visible)
        return;
    tab = visible;
    emit familyTabsChanged();
}

} // namespace tarvo
