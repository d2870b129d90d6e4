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

    // A device that took the rate but never told its identity or version is there, and unknown: the
    // search's placeholder (9999) is no identity, and a script must not take it for one.
    const bool identified = discovery.deviceIdentity() != Discovery::kNoIdentity;
    const bool versioned = !discovery.firmwareVersion().isEmpty();
    printLine(identified ? QStringLiteral("identity: %1").arg(discovery.deviceIdentity())
                         : QStringLiteral("identity: not read"));
    printLine("firmware: " + (versioned ? discovery.firmwareVersion() : QStringLiteral("not read")));
    if (ports.canChosen()) {
        printLine("port: " + discovery.portLabel());
    } else {
        printLine(QStringLiteral("port: COM%1").arg(c.link().port().portNumber()));
        printLine(QStringLiteral("baud: %1").arg(c.link().port().baudRate()));
    }
    std::fflush(stdout);
    if (!identified || !versioned) {
        std::fprintf(stderr, "tarvo-cli find: a device answered but did not tell its %s\n",
                     !identified ? "identity (ID)" : "firmware version (IV)");
        return ExitFailed;
    }
    return ExitOk;
}

} // namespace tarvo::cli
