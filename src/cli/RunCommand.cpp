#include "cli/CliSession.h"
#include "cli/Subcommands.h"
#include "link/CanBridge.h"
#include "link/SerialPort.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QTimer>
#include <csignal>
#include <cstdio>

namespace tarvo::cli {

namespace {

volatile std::sig_atomic_t interrupted = 0;

void interrupt(int) {
    interrupted = 1;
}

int runUsageError(const QString& text) {
    std::fprintf(stderr, "tarvo-cli run: %s\n", text.toLocal8Bit().constData());
    return ExitUsage;
}

// "5" or "05" as the address selector's "05"; empty when it is no address 0..63.
QString addressChoice(const QString& text) {
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || text.size() > 2 || text.startsWith(u'+') || text.startsWith(u'-') || n < 0 || n > 63)
        return {};
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

void printLine(const QString& line) {
    const QByteArray bytes = line.toLocal8Bit();
    std::fprintf(stdout, "%s\n", bytes.constData());
    std::fflush(stdout);
}

} // namespace

int runRun(const QStringList& args) {
    QCommandLineParser parser;
    parser.addPositionalArgument("LINE", "commands, e.g. \"ID+IV+\" (+ ends a command, / pauses 500 ms, "
                                         "< is the digits of the last answer)");
    parser.addOption({"from", "first device address 0..63 (sends OP + address before the line)", "N"});
    parser.addOption({"to", "last device address 0..63", "M"});
    parser.addOption({"loop", "send the line again this many ms after it has gone out (1..200000)", "MS"});
    parser.addOption(
        {"count", "with --loop: send the line this many times in all (default: until interrupted)", "K"});
    parser.addOption({"com", "COM number 1..8 (default: from Tarvo.ini)", "N"});
    parser.addOption({"baud", "baud rate (default: from Tarvo.ini)", "R"});
    addHelpOption(parser);
    if (!parser.parse(QStringList{"tarvo-cli run"} + args))
        return runUsageError(parser.errorText());
    if (printHelpIfAsked("run", parser))
        return ExitOk;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1 || positional.first().isEmpty())
        return runUsageError("exactly one command line is needed, e.g. tarvo-cli run \"ID+IV+\"");

    bool ok = true;
    if (parser.isSet("from") != parser.isSet("to"))
        return runUsageError("--from and --to go together");
    QString from = QStringLiteral("None");
    QString to = QStringLiteral("None");
    if (parser.isSet("from")) {
        from = addressChoice(parser.value("from"));
        to = addressChoice(parser.value("to"));
        if (from.isEmpty() || to.isEmpty())
            return runUsageError("--from and --to need addresses 0..63");
        if (to.toInt() < from.toInt())
            return runUsageError("--to must not be below --from");
    }
    if (parser.isSet("count") && !parser.isSet("loop"))
        return runUsageError("--count needs --loop");
    if (parser.isSet("loop") && !parseMilliseconds(parser.value("loop"), MultiCommandSender::kMaxLoopDelayMs))
        return runUsageError(QStringLiteral("--loop needs a whole number of milliseconds from 1 to %1")
                                 .arg(MultiCommandSender::kMaxLoopDelayMs));
    int count = 0;
    if (parser.isSet("count")) {
        count = parser.value("count").toInt(&ok);
        if (!ok || count < 1)
            return runUsageError("--count needs a positive number");
    }
    int com = 0;
    if (parser.isSet("com")) {
        com = parser.value("com").toInt(&ok);
        if (!ok || com < 1 || com > 8)
            return runUsageError("--com needs a number 1..8");
    }
    int baud = 0;
    if (parser.isSet("baud")) {
        baud = parser.value("baud").toInt(&ok);
        if (!ok || baud <= 0)
            return runUsageError("--baud needs a positive rate");
    }

    CliSession session;
    MainController& c = session.controller();
    CommandLink& link = c.link();
    if (com != 0) {
        link.port().close();
        link.port().setPortNumber(com);
    }
    if (baud != 0)
        link.port().setBaudRate(baud);
    // With "CANbus=1" the line goes over the CAN bridge unless a COM port is named, as for send.
    const bool overCan = c.ports().canChosen() && com == 0;
    QString reason;
    if (!overCan && !link.port().isOpen() && !link.port().open(&reason)) {
        std::fprintf(stderr, "tarvo-cli run: COM%d not available: %s\n", link.port().portNumber(),
                     reason.toLocal8Bit().constData());
        return ExitFailed;
    }
    link.setLinkKind(overCan ? Link::Can : Link::Com);

    MultiCommandSender& sender = c.multiCommandSender();
    // The log's lines as they come; the help text the window's log starts with is not printed.
    QObject::connect(&c.commandLog(), &CommandLog::lineAdded, printLine);
    int failures = 0;
    CanBridge* bridge = overCan ? c.canBridge() : nullptr;
    QObject::connect(&sender, &MultiCommandSender::commandAnswered,
                     [&failures, bridge](const QByteArray& command, const QByteArray& answer) {
                         if (answer == kTimeOutErr || answer == "ERR")
                             ++failures;
                         // A stream start over the bus that no device heard (see send).
                         else if (bridge && CanBridge::startsProcessChannel(command) &&
                                  !bridge->deviceHeardStart()) {
                             std::fprintf(stderr, "tarvo-cli run: %s: no device answered on the CAN bus\n",
                                          command.trimmed().constData());
                             ++failures;
                         }
                     });
    sender.setFromAddress(from);
    sender.setToAddress(to);
    sender.setLine(positional.first());
    sender.setClearAfterEnter(false);

    QEventLoop loop;
    int sent = 0;
    bool stopping = false;
    // An unplugged adapter ends the run (its text is on stderr already): the commands after it were
    // never sent, and a loop would wait for a line that never goes out again.
    bool portLost = false;
    QObject::connect(&link, &CommandLink::portLost, &loop, [&] {
        portLost = true;
        if (!sender.isSending())
            loop.quit();
    });
    QObject::connect(&sender, &MultiCommandSender::lineSent, &loop, [&] {
        ++sent;
        if (!parser.isSet("loop") || (count > 0 && sent >= count) || stopping || portLost) {
            sender.stopLoop();
            loop.quit();
        }
    });
    // Ctrl+C ends a loop once the line on its way has gone out.
    std::signal(SIGINT, interrupt);
    std::signal(SIGTERM, interrupt);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
        if (!interrupted || stopping)
            return;
        stopping = true;
        sender.stopLoop();
        if (!sender.isSending())
            loop.quit();
    });
    watch.start(50);

    if (parser.isSet("loop")) {
        sender.setLoopDelay(parser.value("loop"));
        sender.sendInLoopToggled(true);
    }
    QTimer::singleShot(0, &sender, [&sender] { sender.enterClicked(); });
    loop.exec();
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    // A script tells from the status whether every command was sent, answered and taken.
    return failures > 0 || portLost ? ExitFailed : ExitOk;
}

} // namespace tarvo::cli
