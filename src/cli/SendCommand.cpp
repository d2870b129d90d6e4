#include "cli/CliSession.h"
#include "cli/Subcommands.h"
#include "link/CanBridge.h"
#include "link/SerialPort.h"
#include "protocol/CommandTable.h"

#include <QCommandLineParser>
#include <cstdio>

namespace tarvo::cli {

namespace {

// The device's answer to a command it does not accept.
constexpr char kRefused[] = "ERR";

int usageError(const QString& text) {
    std::fprintf(stderr, "tarvo-cli send: %s\n", text.toLocal8Bit().constData());
    return ExitUsage;
}

} // namespace

int runSend(const QStringList& args) {
    QCommandLineParser parser;
    parser.addPositionalArgument("CMD", "command without the carriage return, e.g. ID");
    parser.addOption({"start", "reply start string (default: any data)", "S"});
    parser.addOption({"timeout",
                      "time limit in ms, 1..3600000 (default 500); over the CAN bus it bounds the whole "
                      "exchange when given, else the bridge's own limits apply",
                      "MS", "500"});
    parser.addOption({"address", "select device NN (00..63) with OPNN first", "NN"});
    parser.addOption({"com", "COM number 1..8 (default: from Tarvo.ini)", "N"});
    parser.addOption({"baud", "baud rate (default: from Tarvo.ini)", "R"});
    addHelpOption(parser);
    if (!parser.parse(QStringList{"tarvo-cli send"} + args))
        return usageError(parser.errorText());
    if (printHelpIfAsked("send", parser))
        return ExitOk;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1 || positional.first().isEmpty())
        return usageError("exactly one command is needed, e.g. tarvo-cli send ID --start D:");

    bool ok = true;
    // An hour at most: a longer wait is no reply to wait for, and the timer's range is never reached.
    const std::optional<qint64> timeLimit = parseMilliseconds(parser.value("timeout"), 3600000);
    if (!timeLimit)
        return usageError("--timeout needs a whole number of milliseconds from 1 to 3600000");
    const int timeout = static_cast<int>(*timeLimit);
    QString address;
    if (parser.isSet("address")) {
        address = parser.value("address");
        const int a = address.toInt(&ok);
        if (!ok || address.size() != 2 || a < 0 || a > 63)
            return usageError("--address needs two digits 00..63");
    }
    int com = 0;
    if (parser.isSet("com")) {
        com = parser.value("com").toInt(&ok);
        if (!ok || com < 1 || com > 8)
            return usageError("--com needs a number 1..8");
    }
    int baud = 0;
    if (parser.isSet("baud")) {
        baud = parser.value("baud").toInt(&ok);
        if (!ok || baud <= 0)
            return usageError("--baud needs a positive rate");
    }

    CliSession session;
    MainController& c = session.controller();
    CommandLink& comm = c.link();
    if (com != 0) {
        comm.port().close();
        comm.port().setPortNumber(com);
    }
    if (baud != 0)
        comm.port().setBaudRate(baud);
    // With "CANbus=1" the command goes over the CAN bridge unless a COM port is named.
    const bool overCan = c.ports().canChosen() && com == 0;
    QString reason;
    if (!overCan && !comm.port().isOpen() && !comm.port().open(&reason)) {
        // The command line was sound; the port is what failed.
        std::fprintf(stderr, "tarvo-cli send: COM%d not available: %s\n", comm.port().portNumber(),
                     reason.toLocal8Bit().constData());
        return ExitFailed;
    }
    comm.setLinkKind(overCan ? Link::Can : Link::Com);
    if (overCan && parser.isSet("timeout") && c.canBridge())
        c.canBridge()->setTimeLimit(timeout);
    const int port = comm.port().portNumber();
    if (!address.isEmpty())
        comm.sendAndReceive(port, addressLine("OP", address), 100, Framing::startingWith("O"));

    Framing framing =
        parser.isSet("start") ? Framing::startingWith(parser.value("start").toLatin1()) : Framing::anyData();
    const QByteArray reply =
        comm.sendAndReceive(port, positional.first().toLatin1() + '\r', timeout, framing);
    std::fwrite(reply.constData(), 1, static_cast<size_t>(reply.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    // Over the bus a stream start is only sent; the device's answer to the start's own read is the sign
    // that one heard it.
    if (overCan && reply == "OK" && c.canBridge() &&
        CanBridge::startsProcessChannel(positional.first().toLatin1()) &&
        !c.canBridge()->deviceHeardStart()) {
        std::fprintf(stderr, "tarvo-cli send: no device answered on the CAN bus; the stream start was sent, "
                             "not confirmed\n");
        return ExitFailed;
    }
    // A script must be able to tell a refusal from an answer by the status alone.
    return reply == kTimeOutErr || reply == kRefused ? ExitFailed : ExitOk;
}

} // namespace tarvo::cli
