#include "cli/CliSession.h"
#include "cli/Subcommands.h"
#include "link/ComPortMap.h"
#include "link/SerialPort.h"
#include "protocol/CommandTable.h"

#include <QCommandLineParser>
#include <cstdio>

namespace tarvo::cli {

namespace {

int findUsageError(const QString& text) {
    std::fprintf(stderr, "tarvo-cli find: %s\n", text.toLocal8Bit().constData());
    return ExitUsage;
}

void printLine(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fprintf(stdout, "%s\n", bytes.constData());
}

} // namespace

int runFind(const QStringList& args) {
    QCommandLineParser parser;
    addHelpOption(parser);
    if (!parser.parse(QStringList{"tarvo-cli find"} + args))
        return findUsageError(parser.errorText());
    if (printHelpIfAsked("find", parser))
        return ExitOk;
    if (!parser.positionalArguments().isEmpty())
        return findUsageError("takes no arguments; the port, rate and search options come from Tarvo.ini");

    CliSession session;
    MainController& c = session.controller();
    PortSelection& ports = c.ports();
    if (!session.linkAvailable())
        return ExitUsage;

    Discovery& discovery = c.discovery();
    discovery.findDeviceClicked();
    if (!discovery.found())
        return ExitFailed;

    printLine(QStringLiteral("identity: %1").arg(discovery.deviceIdentity()));
    printLine("firmware: " + discovery.firmwareVersion());
    if (ports.canChosen()) {
        printLine("port: " + discovery.portLabel());
    } else {
        printLine(QStringLiteral("port: COM%1").arg(c.link().port().portNumber()));
        printLine(QStringLiteral("baud: %1").arg(c.link().port().baudRate()));
    }
    std::fflush(stdout);
    return ExitOk;
}

} // namespace tarvo::cli
