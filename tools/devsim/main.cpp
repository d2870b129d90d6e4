// tarvo-devsim: simulated transmitters on pseudo-terminals, for the demo and for tests of the real
// programs. Control commands arrive on standard input.

#include "base/Version.h"
#include "engine/CanNode.h"
#include "engine/ControlChannel.h"
#include "engine/Device.h"
#include "engine/DeviceConfig.h"
#include "engine/Line.h"
#include "engine/PtyLine.h"
#include "engine/WeightProfile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

bool installSignalHandlers() {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGINT, &action, nullptr) == 0;
}

void say(const QString& text) {
    std::fputs(qPrintable(text + u'\n'), stdout);
    std::fflush(stdout);
}

int fail(const QString& text) {
    std::fputs(qPrintable(QStringLiteral("tarvo-devsim: ") + text + u'\n'), stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvo-devsim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral(
            "Simulated load-cell transmitters on pseudo-terminals.\n"
            "Prints one line \"line N: /dev/pts/X\" per line at start, then takes control commands.\n\n"
            "Device keys for --device (all optional): line=N (default 1), id=IDENTITY (4110), "
            "fw=TEXT (1.00), addr=0..63 (none), baud=9600|19200|38400|57600|115200 (115200), duplex=0|1 (1), "
            "decimals=0..5 (1), weight=VALUE (0), tare=VALUE (0), update=MS (value lines, 100; 0: as fast as "
            "the line carries them), "
            "pupdate=MS (status packets, 20), nomotion=MS|never (the no-motion bit comes back MS after a "
            "weight change, 300, or never), stream=SG|SN|SA|GP|none (what it sends from power-on without "
            "being asked, as a transmitter with autotransmit on; none), counter=0..99999 (value lines sent "
            "without being asked carry this count in counts and one more each line, instead of the weight), "
            "profile=NAME (constant) with load=, "
            "amplitude=, period=, "
            "settle=, seed= (below), filter=on|off (off; on: the filter setting \"FM\", \"FL\", \"UR\" "
            "decides the profile's settling time and how much of its noise amplitude gets through, as a "
            "second-order low pass of the setting's cut-off).\n"
            "A device with an address answers only after \"OP\" + its address, heard at its rate, and until "
            "\"CL\" + its address or \"OP\" + another one; control commands name a device without an address "
            "0.\n"
            "Calibration: \"CE\" hands out a code and \"CE\" + that code opens the device for one protected "
            "command (\"CZ\", \"CG\" + load, \"CS\", \"FD\"); the code changes once it has been tried. "
            "\"CZ\" "
            "and \"CG\" are refused while the signal moves; \"CS\" stores zero, gain and decimal point "
            "(\"AZ\", \"AG\", \"DP\"), which \"WP\" does not.\n"
            "Averages: with a weighing profile \"SA\" sends each new result once and \"GA\" answers "
            "\"+99999\" "
            "(as the decimal point places it) until an item has been weighed and while the next one "
            "is.\n\n") +
        devsim::WeightProfile::help() + u'\n' + devsim::ControlChannel::help());
    parser.addHelpOption();
    const QCommandLineOption versionOption(QStringLiteral("version"),
                                           QStringLiteral("Print the version of Tarvo and exit."));
    const QCommandLineOption linesOption(QStringLiteral("lines"),
                                         QStringLiteral("Number of serial lines (default 1)."),
                                         QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption deviceOption(
        QStringLiteral("device"),
        QStringLiteral("Add a device, e.g. \"line=1,id=4114,fw=2.10,addr=5,baud=38400,duplex=1,decimals=1,"
                       "weight=123.4,update=100\" or \"id=4114,profile=filling,load=250\". Repeatable. "
                       "Without it: one device id 4110 at 115200 on line 1."),
        QStringLiteral("DEVICE"));
    const QCommandLineOption linkOption(
        QStringLiteral("link"),
        QStringLiteral("Make a symbolic link PATH to line LINE's terminal. Repeatable."),
        QStringLiteral("LINE=PATH"));
    const QCommandLineOption resetOption(
        QStringLiteral("reset-ms"),
        QStringLiteral("How long a device stays silent after \"SR\" (default 1500)."), QStringLiteral("MS"));
    const QCommandLineOption latencyOption(QStringLiteral("latency-ms"),
                                           QStringLiteral("Time from a command to its reply (default 5)."),
                                           QStringLiteral("MS"));
    const QCommandLineOption canOption(
        QStringLiteral("can"),
        QStringLiteral("Also put line 1's devices on a CAN bus as one node, e.g. \"virtualcan:can0\" or "
                       "\"socketcan:can0\" (Qt CAN plugin and interface; the virtual bus also takes "
                       "\"virtualcan:tcp://127.0.0.1:PORT/can0\" for a bus of its own). Qt's virtual bus is "
                       "served by the first program that joins it: start the simulator before the program "
                       "under test. Control commands for the node: \"can delay MS\" answers parameter "
                       "requests MS late, \"can short N\" cuts every answer to N bytes (8 whole)."),
        QStringLiteral("PLUGIN:INTERFACE"));
    const QCommandLineOption canNodeOption(QStringLiteral("can-node"),
                                           QStringLiteral("The CAN node id 1..126 (default 1)."),
                                           QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption bootOption(
        QStringLiteral("boot"),
        QStringLiteral(
            "Start every device with its programming switch on: its boot monitor answers the "
            "firmware upgrade's byte dialogue at 9600 baud (sync, \"U\", the kernel echoed, erase, "
            "records acknowledged with 0x06 or refused with 0x15 on a bad checksum). A host that "
            "talks to the firmware after a pass finds it running at 9600 baud. Implies --wire-time."));
    const QCommandLineOption wireTimeOption(
        QStringLiteral("wire-time"),
        QStringLiteral("Every byte takes its wire time at its rate (ten bit times), both ways."));
    parser.addOptions({versionOption, linesOption, deviceOption, linkOption, resetOption, latencyOption,
                       canOption, canNodeOption, bootOption, wireTimeOption});
    parser.process(app);
    if (parser.isSet(versionOption)) {
        say(QStringLiteral(TARVO_CAPTION));
        return 0;
    }

    bool ok = false;
    const int lineCount = parser.value(linesOption).toInt(&ok);
    if (!ok || lineCount < 1 || lineCount > 64)
        return fail(QStringLiteral("--lines must be 1..64"));
    auto optionalMs = [&](const QCommandLineOption& option, int* ms) {
        if (!parser.isSet(option))
            return true;
        *ms = parser.value(option).toInt(&ok);
        return ok && *ms >= 0;
    };
    int resetMs = -1;
    int latencyMs = -1;
    if (!optionalMs(resetOption, &resetMs))
        return fail(QStringLiteral("--reset-ms must be a number of milliseconds"));
    if (!optionalMs(latencyOption, &latencyMs))
        return fail(QStringLiteral("--latency-ms must be a number of milliseconds"));

    std::vector<std::unique_ptr<devsim::Line>> lines;
    QList<devsim::Line*> linePointers;
    for (int i = 0; i < lineCount; ++i) {
        lines.push_back(std::make_unique<devsim::Line>());
        linePointers.append(lines.back().get());
        if (latencyMs >= 0)
            lines.back()->setLatencyMs(latencyMs);
    }

    QStringList deviceTexts = parser.values(deviceOption);
    if (deviceTexts.isEmpty())
        deviceTexts.append(QStringLiteral("line=1,id=4110,baud=115200"));
    for (const QString& deviceText : std::as_const(deviceTexts)) {
        devsim::DeviceConfig config;
        int lineNumber = 1;
        QString error;
        if (!devsim::DeviceConfig::fromText(deviceText, &config, &lineNumber, &error))
            return fail(QStringLiteral("--device %1: %2").arg(deviceText, error));
        if (lineNumber > lineCount)
            return fail(QStringLiteral("--device %1: there is no line %2").arg(deviceText).arg(lineNumber));
        if (resetMs >= 0)
            config.resetMs = resetMs;
        devsim::Line* line = lines[size_t(lineNumber - 1)].get();
        const int address = config.address.value_or(0);
        if (line->device(address))
            return fail(QStringLiteral("--device %1: address %2 is taken on line %3")
                            .arg(deviceText)
                            .arg(address)
                            .arg(lineNumber));
        devsim::Device* device = line->addDevice(config);
        if (parser.isSet(bootOption))
            device->setBootMode(true);
    }
    for (const auto& line : lines)
        line->setWireTime(parser.isSet(bootOption) || parser.isSet(wireTimeOption));

    std::vector<std::unique_ptr<devsim::PtyLine>> ptys;
    for (const auto& line : lines) {
        ptys.push_back(std::make_unique<devsim::PtyLine>(line.get()));
        QString error;
        if (!ptys.back()->open(&error))
            return fail(error);
    }
    for (const QString& link : parser.values(linkOption)) {
        const qsizetype eq = link.indexOf(u'=');
        const int lineNumber = eq > 0 ? link.left(eq).toInt(&ok) : 0;
        if (eq <= 0 || !ok || lineNumber < 1 || lineNumber > lineCount || eq + 1 >= link.size())
            return fail(
                QStringLiteral("--link %1: expected LINE=PATH with LINE 1..%2").arg(link).arg(lineCount));
        QString error;
        if (!ptys[size_t(lineNumber - 1)]->makeLink(link.mid(eq + 1), &error))
            return fail(error);
    }

    std::unique_ptr<devsim::CanNode> canNode;
    if (parser.isSet(canOption)) {
        // The interface may hold colons itself (the virtual bus's "tcp://127.0.0.1:PORT/can0").
        const QString canPlace = parser.value(canOption);
        const qsizetype colon = canPlace.indexOf(u':');
        const QStringList place =
            colon < 0 ? QStringList{canPlace} : QStringList{canPlace.left(colon), canPlace.mid(colon + 1)};
        const int node = parser.value(canNodeOption).toInt(&ok);
        if (place.size() != 2 || place[0].isEmpty() || place[1].isEmpty())
            return fail(QStringLiteral("--can needs PLUGIN:INTERFACE, e.g. virtualcan:can0"));
        if (!ok || node < 1 || node > 126)
            return fail(QStringLiteral("--can-node must be 1..126"));
        canNode = std::make_unique<devsim::CanNode>(*lines.front(), node);
        QString error;
        if (!canNode->open(place[0], place[1], &error))
            return fail(error);
    }

    if (!installSignalHandlers())
        return fail(QStringLiteral("cannot install signal handlers"));
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
        QCoreApplication::quit();
    });

    devsim::ControlChannel control(linePointers);
    QObject::connect(&control, &devsim::ControlChannel::quitRequested, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    QByteArray input;
    QSocketNotifier stdinNotifier(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&stdinNotifier, &QSocketNotifier::activated, &app, [&] {
        char buffer[1024];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (n <= 0) {
            // End of input: the simulator keeps running (the demo starts it in the background).
            stdinNotifier.setEnabled(false);
            return;
        }
        input.append(buffer, qsizetype(n));
        qsizetype end = 0;
        while ((end = input.indexOf('\n')) >= 0) {
            const QString command = QString::fromUtf8(input.left(end)).trimmed();
            input.remove(0, end + 1);
            if (command.startsWith(QLatin1String("can ")) && canNode)
                say(canNode->control(command.mid(4)));
            else if (!command.isEmpty())
                say(control.execute(command));
        }
    });

    if (canNode)
        say(QStringLiteral("can: %1 node %2").arg(parser.value(canOption)).arg(canNode->nodeId()));
    for (size_t i = 0; i < ptys.size(); ++i)
        say(QStringLiteral("line %1: %2").arg(i + 1).arg(ptys[i]->slavePath()));

    const int rc = QCoreApplication::exec();
    canNode.reset();
    ptys.clear(); // removes the links
    return rc;
}
