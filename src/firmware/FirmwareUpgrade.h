#pragma once

#include "BootloaderDialogue.h"
#include "KernelFile.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

namespace tarvo {

class CommandLink;
class FirmwareFile;
class Operator;
class PortSelection;

// "Upgrade Firmware": the questions and switch prompts, the programming kernel, the two passes of the
// bootloader dialogue and the factory defaults afterwards, with the progress the page shows.
class FirmwareUpgrade : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        // The loaded firmware file, if any.
        std::function<const FirmwareFile*()> firmware;
        // The kernel's path as "Tarvo.ini" keeps it (section "Programing", key "Prog41FilePath"), and
        // storing a newly chosen one.
        std::function<QString()> storedKernelPath;
        std::function<void(const QString&)> storeKernelPath;
        std::function<void(bool)> setPageControlEnabled;
        // Asks the operator to fit or remove the programming switch and returns when that is done;
        // unset, it is a message that waits for OK.
        std::function<void(const QString&)> switchPrompt;
    };

    static constexpr const char* kNotLoaded = "Software NOT loaded... Drop *.qmf file on Tarvo window";
    static constexpr const char* kDownloadQuestion = "Do you want to download firmware: ";
    static constexpr const char* kCancelled = "Programing cancled!";
    static constexpr const char* kSolderSwitch =
        "Now solder prog. switch on MXR... then RESET MXR! and press OK";
    static constexpr const char* kUnsolderSwitch =
        "Now un-solder prog. switch on MXR... then RESET MXR! and press OK";
    static constexpr const char* kInProgress = "Programing in progress...";
    static constexpr const char* kKernelNotPossible = "Unable to open Prog41.a20...Programing NOT possible!";
    static constexpr const char* kKernelNotHex = "Unable to open Prog41.a20...maybe not a HEX file";
    static constexpr const char* kKernelErrorCaption = "Kernel error";
    static constexpr const char* kDefaultsLoaded = "Programing Done.... and defaults loaded!";
    static constexpr const char* kDefaultsNotLoaded = "Communication eror - Default not loaded!";
    static constexpr int kProgressRefreshMs = 300;

    static constexpr const char* kCloseDeferred =
        "The window closes when the firmware upgrade has ended; stopping it now would leave the device "
        "without firmware.";

    // How the last upgrade ended, beyond the pass's state. Interrupted: stopped at the operator's request
    // (lastPass() tells how far it got).
    enum class Outcome { NotStarted, PassFailed, DefaultsNotLoaded, DefaultsLoaded, Interrupted };

    FirmwareUpgrade(CommandLink& link, PortSelection& ports, Operator& op, Hooks hooks,
                    QObject* parent = nullptr);

    void upgradeFirmwareClicked();
    bool isRunning() const { return running_; }
    // Stops a running upgrade at its next safe point: before the first byte, before the erase, or after
    // the current record with the end record sent. Nothing happens when none runs.
    void requestStop();

    // "MXR Testfixture": the fixture switches the device into boot mode; no switch prompts.
    bool testFixture() const { return testFixture_; }
    void setTestFixture(bool on);

    // The programming state of the last pass (0 done, 1 no response, 2 erase error, 3 programming
    // error); a search that found nothing sets 3.
    int state() const { return state_; }
    void setState(int state) { state_ = state; }
    Outcome outcome() const { return outcome_; }
    // The last pass that ran (the kernel's or the firmware's), with how far it got.
    const BootloaderDialogue::Result& lastPass() const { return lastPass_; }
    // The last pass that ran was the firmware's (not the kernel's).
    bool lastPassWasFirmware() const { return lastPassWasFirmware_; }
    // Across both passes of the last upgrade: a byte reached the boot monitor, and it erased the flash.
    bool anythingSent() const { return anythingSent_; }
    bool deviceErased() const { return deviceErased_; }

    // How the switch prompts reach the operator (the command-line tool waits for Enter).
    void setSwitchPrompt(std::function<void(const QString&)> prompt) {
        hooks_.switchPrompt = std::move(prompt);
    }
    // The kernel file to use instead of the stored path (the command-line tool's --kernel); never stored.
    void setKernelPathOverride(const QString& path) { kernelOverride_ = path; }
    // The default place of the kernel before one was chosen: the root of drive C on Windows, the home
    // folder elsewhere.
    static QString defaultKernelPath();

    // Progress of the running pass, as the 300 ms timer last showed it.
    int progressCurrent() const { return shownCurrent_; }
    qint64 progressTotal() const { return shownTotal_; }
    // Stops the progress timer (the command panel's "Show CMD" does); the bars keep what they show.
    void stopProgressTimer() { progressTimer_.stop(); }
    bool progressTimerActive() const { return progressTimer_.isActive(); }

    const BootloaderDialogue& dialogue() const { return dialogue_; }

signals:
    void runningChanged(bool running);
    void testFixtureChanged(bool on);
    // The progress timer's tick: what the progress bars show.
    void progressShown(int current, qint64 total);

private:
    // The kernel from the stored path, else from a file the operator chooses; false when there is none.
    bool readKernel();
    void runPass(QByteArrayView image, bool secondPass);
    // The firmware file that may be programmed, or nullptr after telling the operator why none may.
    const FirmwareFile* programmableFirmware();
    bool loadDefaults();
    void showProgress();
    void prompt(const QString& text);
    void inform(const QString& text, bool dialog = false);

    CommandLink& link_;
    PortSelection& ports_;
    Operator& op_;
    Hooks hooks_;
    BootloaderDialogue dialogue_;
    KernelFile kernel_;
    QTimer progressTimer_;
    QString kernelOverride_;
    bool running_ = false;
    bool testFixture_ = false;
    int state_ = 0;
    Outcome outcome_ = Outcome::NotStarted;
    BootloaderDialogue::Result lastPass_;
    bool lastPassWasFirmware_ = false;
    bool anythingSent_ = false;
    bool deviceErased_ = false;
    QString portLost_; // why the port went away during the run, or empty
    int shownCurrent_ = 0;
    qint64 shownTotal_ = 0;
};

} // namespace tarvo
