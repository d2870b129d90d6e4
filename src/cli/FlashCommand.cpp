#include "base/TerminationSignals.h"
#include "cli/CliSession.h"
#include "cli/Subcommands.h"
#include "link/SerialPort.h"

#include <QCommandLineParser>
#include <cstdio>
#include <poll.h>
#include <unistd.h>

namespace tarvo::cli {

namespace {

// Beyond the pass's own states 0..3.
constexpr int kNothingSent = 4;
constexpr int kDefaultsNotLoaded = 5;

int flashUsageError(const QString& text) {
    std::fprintf(stderr, "tarvo-cli flash: %s\n", text.toLocal8Bit().constData());
    return kNothingSent;
}

// The switch is fitted or removed by hand: the prompt waits for Enter (or the end of the input), or
// for Ctrl+C, which the upgrade then takes as its stop.
void waitForEnter(const QString& text) {
    std::fprintf(stderr, "%s\n(press Enter when done)\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
    while (!TerminationSignals::pending()) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = ::poll(&input, 1, 100);
        if (ready < 0 || (ready > 0 && input.revents != 0))
            break;
    }
    if (TerminationSignals::pending())
        return;
    char line[256];
    if (!std::fgets(line, sizeof line, stdin))
        std::clearerr(stdin);
}

// What an interrupted upgrade left on the device, for the operator at the terminal.
QString interruptedState(const FirmwareUpgrade& upgrade) {
    const BootloaderDialogue::Result& pass = upgrade.lastPass();
    if (!upgrade.anythingSent())
        return QStringLiteral("nothing was sent; the device is as it was.");
    if (!upgrade.deviceErased())
        return QStringLiteral("stopped before the erase: the device still holds its firmware. Remove the "
                              "programming switch and reset it, or run flash again.");
    if (upgrade.lastPassWasFirmware() && pass.state == BootloaderDialogue::State::Done)
        return QStringLiteral("the firmware was programmed (%1 of %1 records) but the factory defaults were "
                              "not loaded. Remove the programming switch, reset the device and load its "
                              "defaults before using it.")
            .arg(pass.recordsToSend);
    // Erased by the kernel's pass, and the firmware's records not begun.
    if (!upgrade.lastPassWasFirmware() || !pass.erased)
        return QStringLiteral("the device was erased and holds no firmware (the end record was sent). Run "
                              "flash again before using the device.");
    return QStringLiteral("the device was erased and %1 of %2 records were programmed (the end record was "
                          "sent): it is partly programmed. Run flash again before using the device.")
        .arg(pass.recordsDone)
        .arg(pass.recordsToSend);
}

} // namespace

int runFlash(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Programs a transmitter through its boot monitor, as \"Upgrade Firmware\" does, at 9600 baud on the "
        "port of Tarvo.ini; progress (records sent of records to send) and messages go to standard error. "
        "Ctrl+C or SIGTERM stops after the current record and sends the end record, then says what state "
        "the device is in; a second one ends at once. Exit status: 0 programmed and defaults loaded, 1 no "
        "response, 2 erase error, 3 programming error, 4 nothing sent (bad arguments, firmware or kernel "
        "file unusable, or cancelled), 5 programmed but the defaults not loaded, 130 interrupted (the "
        "device may be erased or partly programmed: run flash again before using it).");
    parser.addPositionalArgument("FIRMWARE", "the firmware file (*.qmf, S-records or Intel hex)");
    parser.addOption(
        {"kernel", "the programming kernel (default: Programing/Prog41FilePath of Tarvo.ini)", "FILE"});
    parser.addOption(
        {"fixture", "the device sits in the test fixture: no prompts to fit and remove the switch"});
    addHelpOption(parser);
    if (!parser.parse(QStringList{"tarvo-cli flash"} + args))
        return flashUsageError(parser.errorText());
    if (printHelpIfAsked("flash", parser))
        return ExitOk;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1 || positional.first().isEmpty())
        return flashUsageError("needs exactly one firmware file");
    if (parser.isSet("kernel") && parser.value("kernel").isEmpty())
        return flashUsageError("--kernel needs a file");

    // Asking for the flash is the operator's OK to the download question.
    CliSession session(true);
    MainController& c = session.controller();
    FirmwareFile& firmware = c.firmwareLoader();
    firmware.load(positional.first());
    if (!firmware.loadSucceeded()) {
        std::fprintf(stderr, "tarvo-cli flash: %s: %s; nothing was sent\n",
                     positional.first().toLocal8Bit().constData(),
                     firmware.status().text().toLocal8Bit().constData());
        return kNothingSent;
    }
    // The bootloader speaks over the serial port only: said before anything else, not left to be guessed
    // from a port complaint.
    if (c.ports().canChosen())
        std::fprintf(stderr, "tarvo-cli flash: the firmware goes over serial port COM%d, not the CAN bus\n",
                     c.link().port().portNumber());
    FirmwareUpgrade& upgrade = c.firmwareUpgrade();
    upgrade.setTestFixture(parser.isSet("fixture"));
    upgrade.setSwitchPrompt([&upgrade](const QString& text) {
        waitForEnter(text);
        // Ctrl+C at the prompt: the signal's event has not been delivered yet.
        if (TerminationSignals::pending())
            upgrade.requestStop();
    });
    if (parser.isSet("kernel"))
        upgrade.setKernelPathOverride(parser.value("kernel"));
    QObject::connect(&upgrade, &FirmwareUpgrade::progressShown, [](int current, qint64 total) {
        std::fprintf(stderr, "progress: %d/%lld\n", current, static_cast<long long>(total));
        std::fflush(stderr);
    });
    // The first Ctrl+C or SIGTERM stops at the next safe point (never between a record and the end
    // record); a second one ends the process at once.
    TerminationSignals interrupt(ExitInterrupted);
    QObject::connect(&interrupt, &TerminationSignals::received, &upgrade, [&upgrade] {
        std::fprintf(stderr, "tarvo-cli flash: interrupted; finishing the current record and sending the "
                             "end record (interrupt again to end at once)\n");
        std::fflush(stderr);
        upgrade.requestStop();
    });
    upgrade.upgradeFirmwareClicked();

    if (upgrade.outcome() == FirmwareUpgrade::Outcome::Interrupted) {
        std::fprintf(stderr, "tarvo-cli flash: interrupted: %s\n",
                     interruptedState(upgrade).toLocal8Bit().constData());
        return ExitInterrupted;
    }
    switch (upgrade.outcome()) {
    case FirmwareUpgrade::Outcome::NotStarted:
        return kNothingSent;
    case FirmwareUpgrade::Outcome::PassFailed:
        return upgrade.state();
    case FirmwareUpgrade::Outcome::DefaultsNotLoaded:
        return kDefaultsNotLoaded;
    case FirmwareUpgrade::Outcome::DefaultsLoaded:
    case FirmwareUpgrade::Outcome::Interrupted:
        break;
    }
    return ExitOk;
}

} // namespace tarvo::cli
