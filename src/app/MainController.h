#pragma once

#include "SettingsStore.h"
#include "averaging/AverageAcquisition.h"
#include "base/Operator.h"
#include "base/Version.h"
#include "calibration/CalibrationWizard.h"
#include "config/CheckWeigherParameters.h"
#include "config/DeviceSetup.h"
#include "config/DosingParameters.h"
#include "config/FamilyPages.h"
#include "config/FilterSettings.h"
#include "config/SetupTransfer.h"
#include "config/TrackBarFilter.h"
#include "console/CommandLog.h"
#include "console/CommandPanel.h"
#include "console/MultiCommandSender.h"
#include "console/Terminal.h"
#include "firmware/FirmwareFile.h"
#include "firmware/FirmwareUpgrade.h"
#include "firmware/SettingsImageTransfer.h"
#include "link/CanAdapter.h"
#include "link/CanBridge.h"
#include "link/ComPortMap.h"
#include "link/CommandLink.h"
#include "link/PortSelection.h"
#include "measure/Acquisition.h"
#include "measure/DataFiles.h"
#include "measure/DisplayStream.h"
#include "measure/DosingMonitor.h"
#include "measure/GraphModel.h"
#include "measure/LiveReadout.h"
#include "measure/RecordingMemory.h"
#include "measure/ScopeControls.h"
#include "measure/SilenceWatch.h"
#include "measure/StreamDispatcher.h"
#include "protocol/Discovery.h"

#include <QObject>
#include <QStringList>
#include <array>
#include <memory>

namespace tarvo {

class SerialPort;

// What the main window does, without the window: the start-up and shutdown sequences, the page
// control and page states, and the helpers every device function uses. Owns every subsystem.
class MainController : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kApplicationTitle = "Tarvo program";
    static constexpr const char* kMainCaption = TARVO_CAPTION;
    static constexpr const char* kNoComPorts = "No COM ports available... Tarvo program will terminate!";
    static constexpr int kCommandButtonSlots = 2000;

    // settingsPath: where "Tarvo.ini" lives (read at start, written at the end).
    MainController(Operator& op, std::unique_ptr<SerialPort> port, QString settingsPath,
                   QObject* parent = nullptr);
    ~MainController() override;

    // The program's default place for "Tarvo.ini": <generic config folder>/Tarvo/Tarvo.ini.
    static QString defaultSettingsPath();
    // The COM-number map for a settings file and the ports the system reports.
    static ComPortMap resolveComPorts(const QString& settingsPath);
    // The device path each COM choice stands for, shown as the choice's tool tip.
    void setComPortMap(const ComPortMap& map) { comPortMap_ = map; }
    QString comPortPath(int com) const { return comPortMap_.path(com); }
    // Whether the start-up probe could open the port; the port's buttons stay disabled otherwise.
    // "No COM ports available... Tarvo program will terminate!", and each port the start-up probe found
    // held by another program, one a line.
    QString noComPortsText() const;
    bool portProbed(int com) const { return com >= 1 && com <= ComPortMap::kCount && probed_[com - 1]; }

    Operator& op() { return op_; }
    CommandLink& link() { return *link_; }
    // The CAN bridge; shutdown closes it for good.
    CanBridge* canBridge() { return canBridge_.get(); }
    // Takes the bridge's stream in place of the window's decoders, framed as the serial stream matcher
    // frames it (a status packet's seven bytes; a value line without its letter and carriage return);
    // an empty function gives it back.
    void setCanStreamSink(std::function<void(QByteArrayView)> sink) { canStreamSink_ = std::move(sink); }
    CanAdapter& canAdapter() { return *canAdapter_; }
    PortSelection& ports() { return *ports_; }
    LiveReadout& readout() { return *readout_; }
    RecordingMemory& recordings() { return *recordings_; }
    GraphModel& graph() { return *graph_; }
    Acquisition& acquisition() { return *acquisition_; }
    DisplayStream& displayStream() { return *displayStream_; }
    StreamDispatcher& streamDispatcher() { return *streamDispatcher_; }
    DataFiles& dataFiles() { return *dataFiles_; }
    SilenceWatch& silenceWatch() { return *silenceWatch_; }
    DosingMonitor& dosingMonitor() { return *dosingMonitor_; }
    ScopeControls& scopeControls() { return *scopeControls_; }
    Discovery& discovery() { return *discovery_; }
    DeviceSetup& deviceSetup() { return *deviceSetup_; }
    Terminal& terminal() { return *terminal_; }
    CommandLog& commandLog() { return *commandLog_; }
    CommandPanel& commandPanel() { return *commandPanel_; }
    MultiCommandSender& multiCommandSender() { return *multiCommandSender_; }
    // "Tarvocommand.ini" beside "Tarvo.ini" when it is there, else the one installed with the program.
    static QString commandFilePath(const QString& settingsPath);
    // The installed data folder, found from the program's own folder, so that a build tree and any
    // install prefix work alike.
    static QString dataFolder();
    // The device-family pages' configuration groups.
    FilterSettings& filterSettings(FamilyPage page) {
        return page == FamilyPage::Tcw43 ? *tcw43Filter_ : *mxr41Filter_;
    }
    TrackBarFilter& trackBarFilter() { return *trackBarFilter_; }
    CheckWeigherParameters& checkWeigher() { return *checkWeigher_; }
    DosingParameters& dosingParameters() { return *dosingParameters_; }
    SetupTransfer& setupTransfer() { return *setupTransfer_; }
    FamilyPages& familyPages() { return *familyPages_; }
    CalibrationWizard& calibrationWizard() { return *calibrationWizard_; }
    AverageAcquisition& averaging() { return *averaging_; }
    // Page settings restored from "Tarvo.ini" that their subsystems take over.
    PageSettings& pageSettings() { return pageSettings_; }
    // The firmware programming state; 3 after a search that found nothing.
    int firmwareProgrammingState() const { return firmwareUpgrade_->state(); }
    // "Upgrade Firmware" and its progress; "Get Image" and "Put Image".
    FirmwareUpgrade& firmwareUpgrade() { return *firmwareUpgrade_; }
    SettingsImageTransfer& settingsImages() { return *settingsImages_; }
    const QString& settingsPath() const { return settingsPath_; }

    // The start, all of it: startWithoutPorts, then startPorts.
    void start();
    // All of the start but the ports: what the window shows when it first appears.
    void startWithoutPorts();
    // The start's port work: COM1 opened at initialisation, COM8..COM1 tried, the port and CAN choices of
    // the settings applied. Once; the window does it when it is on screen.
    void startPorts();
    void shutdown();
    // Display page shown (the first device contact when the window first appears).
    void displayPageShown();
    // Display page left: the recording stops.
    void displayPageHidden();
    // Options page shown.
    void optionsPageShown();
    // A device-family page shown or left.
    void familyPageShown(FamilyPage page);
    void familyPageHidden(FamilyPage page);
    // Files dropped on the main window, in the order the shell reports them.
    void filesDropped(const QStringList& paths);
    // "Load Firmware (*.qmf)": the open dialog, then the loader.
    void loadFirmwareClicked();
    FirmwareFile& firmwareLoader() { return *firmware_; }
    // "Latest version??": reads LatestVersion/Version of the update location ("Tarvo.ini", section Updates,
    // key Location); "Not available" when it cannot be read within the time limit, kNoUpdateLocation when
    // no location is set.
    static constexpr const char* kNoUpdateLocation = "No update location set";
    void latestVersionClicked();
    const QString& latestVersionCaption() const { return latestVersionCaption_; }
    static QString readLatestVersion(const QString& location, int timeLimitMs);

    // Helpers shared by the device functions.
    void pause(int ms);
    QByteArray queryValue(const QByteArray& name, const QByteArray& start);
    QByteArray queryAnyValue(const QByteArray& name);
    void inform(const QString& text, bool showDialog = false);
    // One transaction on the serial port's current number, reply framed from start to "\r".
    QByteArray transact(const QByteArray& line, const QByteArray& start, int timeLimitMs);

    // Page control: disabled while a handler talks to the device.
    bool pageControlEnabled() const { return pageControlEnabled_; }
    void setPageControlEnabled(bool on);
    Page activePage() const { return activePage_; }
    void setActivePage(Page page) { activePage_ = page; }
    // The four device-family tabs, shown by device identification.
    bool familyTabVisible(FamilyPage page) const { return familyTabs_[static_cast<int>(page)]; }
    void setFamilyTabVisible(FamilyPage page, bool visible);
    int selectedGraphSlot() const { return acquisition_->selectedSlot(); }
    // Not while a firmware upgrade runs: the page would then show another file than the one programmed.
    bool acceptsDroppedFiles() const {
        return acceptDrops_ && !(firmwareUpgrade_ && firmwareUpgrade_->isRunning());
    }

    // "tarvo-cli" reads the settings but never writes them.
    void setSettingsWritable(bool on) { settingsWritable_ = on; }

    // The start-up and shutdown steps in the order they ran; a step whose subsystem is not present says so.
    const QStringList& stepLog() const { return stepLog_; }

signals:
    // The program must end (no COM port at all).
    void closeRequested();
    void pageControlEnabledChanged(bool enabled);
    void familyTabsChanged();
    void latestVersionChanged(const QString& caption);
    void firmwareFileDropped(const QString& path);
    // A firmware file was loaded (or refused); the programming page shows the loader's summary.
    void firmwareLoaded();

private:
    void step(const QString& name) { stepLog_ << name; }
    void createCanBridge();
    // A line the CAN bridge built from process frames, handed to the stream decoder as the serial
    // stream matcher would frame it.
    void canLineReceived(QByteArrayView line);
    std::function<void(QByteArrayView)> canStreamSink_;
    void probeComPorts();
    void createMeasuring();
    void createConsole();
    void createConfiguration();
    void createCalibrationAndAveraging();
    void createFirmware();
    void readSettings();
    void writeSettings();
    void reportSettingsNotSaved(const QString& reason);
    // The page settings as their subsystems hold them now, for writing.
    void collectPageSettings();

    // After shutdown's last command nothing reaches the device and no one is asked anything: a dialogue
    // that was waiting on the operator when the close came runs to its end without a word or a byte.
    class ClosingOperator;
    class ClosingPort;
    std::unique_ptr<ClosingOperator> closingOp_;
    Operator& op_;
    ClosingPort* closingPort_ = nullptr;
    QString settingsPath_;
    std::unique_ptr<CommandLink> link_;
    std::unique_ptr<CanAdapter> canAdapter_;
    std::unique_ptr<CanBridge> canBridge_;
    std::unique_ptr<PortSelection> ports_;
    std::unique_ptr<LiveReadout> readout_;
    std::unique_ptr<Discovery> discovery_;
    std::unique_ptr<DeviceSetup> deviceSetup_;
    PageSettings pageSettings_;
    // Read at start, applied by startPorts.
    PortSettings portSettings_;
    bool portsStarted_ = false;
    bool pageControlEnabled_ = false;
    Page activePage_ = Page::Display;
    std::array<bool, kFamilyPages> familyTabs_{true, true, true, true};
    std::vector<QString> commandButtons_;
    bool acceptDrops_ = false;
    bool settingsWritable_ = true;
    // "Tarvo.ini" is there but could not be read at start: it is never written.
    bool settingsUnreadable_ = false;
    bool destroyed_ = false;
    QString latestVersionCaption_ = QStringLiteral("Latest version??");
    QStringList stepLog_;
    std::unique_ptr<FirmwareFile> firmware_;
    std::unique_ptr<FirmwareUpgrade> firmwareUpgrade_;
    std::unique_ptr<SettingsImageTransfer> settingsImages_;
    // Recording memory is reserved once, here, for the program's life.
    std::unique_ptr<RecordingMemory> recordings_;
    std::unique_ptr<GraphModel> graph_;
    std::unique_ptr<Acquisition> acquisition_;
    std::unique_ptr<DisplayStream> displayStream_;
    std::unique_ptr<StreamDispatcher> streamDispatcher_;
    std::unique_ptr<SilenceWatch> silenceWatch_;
    std::unique_ptr<DataFiles> dataFiles_;
    std::unique_ptr<DosingMonitor> dosingMonitor_;
    std::unique_ptr<ScopeControls> scopeControls_;
    std::unique_ptr<CommandLog> commandLog_;
    std::unique_ptr<Terminal> terminal_;
    std::unique_ptr<MultiCommandSender> multiCommandSender_;
    std::unique_ptr<CommandPanel> commandPanel_;
    std::unique_ptr<FilterSettings> mxr41Filter_;
    std::unique_ptr<FilterSettings> tcw43Filter_;
    std::unique_ptr<TrackBarFilter> trackBarFilter_;
    std::unique_ptr<CheckWeigherParameters> checkWeigher_;
    std::unique_ptr<DosingParameters> dosingParameters_;
    std::unique_ptr<SetupTransfer> setupTransfer_;
    std::unique_ptr<FamilyPages> familyPages_;
    std::unique_ptr<CalibrationWizard> calibrationWizard_;
    std::unique_ptr<AverageAcquisition> averaging_;
    ComPortMap comPortMap_;
    std::array<bool, ComPortMap::kCount> probed_{};
    QStringList portsInUse_;
};

} // namespace tarvo
