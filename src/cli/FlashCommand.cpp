#include "cli/CliSession.h"
#include "cli/Subcommands.h"
#include "link/SerialPort.h"

#include <QCommandLineParser>
#include <cstdio>

namespace tarvo::cli {

namespace {

// Beyond the pass's own states 0..3.
constexpr int kNothingSent = 4;
constexpr int kDefaultsNotLoaded = 5;

int flashUsageError(const QString& text) {
    std::fprintf(stderr, "tarvo-cli flash: %s\n", text.toLocal8Bit().constData());
    return kNothingSent;
}

// The switch is fitted or removed by hand: the prompt waits for Enter (or the end of the input).
void waitForEnter(const QString& text) {
    std::fprintf(stderr, "%s\n(press Enter when done)\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
    char line[256];
    if (!std::fgets(line, sizeof line, stdin))
        std::clearerr(stdin);
}

} // namespace

int runFlash(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Programs a transmitter through its boot monitor, as \"Upgrade Firmware\" does, at 9600 baud on the "
        "port of Tarvo.ini; progress and messages go to standard error. Exit status: 0 programmed and "
        "defaults loaded, 1 no response, 2 erase error, 3 programming error, 4 nothing sent (bad arguments, "
        "firmware or kernel file unusable), 5 programmed but the defaults not loaded.");
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
    upgrade.setSwitchPrompt(waitForEnter);
    if (parser.isSet("kernel"))
        upgrade.setKernelPathOverride(parser.value("kernel"));
    QObject::connect(&upgrade, &FirmwareUpgrade::progressShown, [](int current, qint64 total) {
        std::fprintf(stderr, "progress: %d/%lld\n", current, static_cast<long long>(total));
        std::fflush(stderr);
    });
    upgrade.upgradeFirmwareClicked();

    switch (upgrade.outcome()) {
    case FirmwareUpgrade::Outcome::NotStarted:
        return kNothingSent;
    case FirmwareUpgrade::Outcome::PassFailed:
        return upgrade.state();
    case FirmwareUpgrade::Outcome::DefaultsNotLoaded:
        return kDefaultsNotLoaded;
    case FirmwareUpgrade::Outcome::DefaultsLoaded:
        break;
    }
    return ExitOk;
}

} // namespace tarvo::cli
